#include "Db.h"

#include <sqlite3.h>

namespace lf::dev {

Db::~Db() {
    close();
}

bool Db::open(const QString &path, QString *error) {
    close();
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(path, QString::fromUtf8(sqlite3_errstr(rc)));
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // WAL keeps readers of another process (a second look with sqlite3) from blocking writes.
    script("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    return true;
}

void Db::close() {
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool Db::exec(const char *sql, std::initializer_list<QVariant> binds) {
    return run(sql, binds, nullptr);
}

QVector<Db::Row> Db::query(const char *sql, std::initializer_list<QVariant> binds) {
    QVector<Row> rows;
    if (!run(sql, binds, &rows))
        rows.clear();
    return rows;
}

QVariant Db::scalar(const char *sql, std::initializer_list<QVariant> binds) {
    const QVector<Row> rows = query(sql, binds);
    if (rows.isEmpty() || rows.first().isEmpty())
        return {};
    return rows.first().first();
}

bool Db::script(const char *sql) {
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        m_lastError = QString::fromUtf8(message ? message : "unknown error");
        sqlite3_free(message);
        return false;
    }
    return true;
}

qint64 Db::lastInsertId() const {
    return sqlite3_last_insert_rowid(m_db);
}

int Db::changes() const {
    return sqlite3_changes(m_db);
}

bool Db::run(const char *sql, std::initializer_list<QVariant> binds, QVector<Row> *rows) {
    if (!m_db) {
        m_lastError = QStringLiteral("database is not open");
        return false;
    }
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        m_lastError = QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    int index = 1;
    for (const QVariant &value : binds) {
        switch (value.typeId()) {
        case QMetaType::UnknownType:
            sqlite3_bind_null(stmt, index);
            break;
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            sqlite3_bind_int64(stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
            sqlite3_bind_double(stmt, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            sqlite3_bind_blob64(
                stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            sqlite3_bind_text64(
                stmt, index, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        }
        }
        ++index;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        if (!rows)
            continue;
        Row row;
        const int columns = sqlite3_column_count(stmt);
        row.reserve(columns);
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_INTEGER:
                row.append(QVariant::fromValue<qint64>(sqlite3_column_int64(stmt, c)));
                break;
            case SQLITE_FLOAT:
                row.append(sqlite3_column_double(stmt, c));
                break;
            case SQLITE_TEXT:
                row.append(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)),
                    sqlite3_column_bytes(stmt, c)));
                break;
            case SQLITE_BLOB:
                row.append(QByteArray(
                    static_cast<const char *>(sqlite3_column_blob(stmt, c)), sqlite3_column_bytes(stmt, c)));
                break;
            default:
                row.append(QVariant());
                break;
            }
        }
        rows->append(row);
    }
    const bool ok = rc == SQLITE_DONE;
    if (!ok)
        m_lastError = QString::fromUtf8(sqlite3_errmsg(m_db));
    sqlite3_finalize(stmt);
    return ok;
}

Transaction::Transaction(Db &db)
    : m_db(db) {
    m_db.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!m_done)
        m_db.exec("ROLLBACK");
}

bool Transaction::commit() {
    m_done = true;
    return m_db.exec("COMMIT");
}

} // namespace lf::dev
