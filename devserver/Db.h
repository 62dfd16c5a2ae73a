#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

#include <initializer_list>

struct sqlite3;

namespace lf::dev {

// A thin layer over one SQLite connection. Values travel as QVariant: integers as qint64, reals
// as double, text as QString, blobs as QByteArray, NULL as an invalid QVariant. Not thread-safe:
// the owner serialises access.
class Db {
public:
    using Row = QVector<QVariant>;

    Db() = default;
    ~Db();
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;

    bool open(const QString &path, QString *error);
    void close();

    // Runs one statement; false (and the message in lastError) when it fails.
    bool exec(const char *sql, std::initializer_list<QVariant> binds = {});
    // Runs one statement and returns its rows (empty on failure).
    QVector<Row> query(const char *sql, std::initializer_list<QVariant> binds = {});
    // The first column of the first row, or an invalid QVariant.
    QVariant scalar(const char *sql, std::initializer_list<QVariant> binds = {});
    // Several statements without parameters, e.g. a schema.
    bool script(const char *sql);

    qint64 lastInsertId() const;
    int changes() const;
    QString lastError() const { return m_lastError; }

private:
    bool run(const char *sql, std::initializer_list<QVariant> binds, QVector<Row> *rows);

    sqlite3 *m_db = nullptr;
    QString m_lastError;
};

// BEGIN on creation, ROLLBACK on destruction unless committed.
class Transaction {
public:
    explicit Transaction(Db &db);
    ~Transaction();
    bool commit();

private:
    Db &m_db;
    bool m_done = false;
};

} // namespace lf::dev
