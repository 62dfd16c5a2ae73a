#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QFile;

namespace lf {

// The bytes of a photo: either a memory-mapped file (sent as it is, never copied or decoded)
// or bytes made in memory (an encoded JPEG). Cheap to copy; a mapping stays valid as long as
// any copy lives. Null means no bytes.
class PhotoBytes {
public:
    PhotoBytes() = default;
    explicit PhotoBytes(QByteArray bytes);

    // Maps the whole file read-only. Null (and `error`) when it cannot be opened or is empty.
    static PhotoBytes mapFile(const QString &path, QString *error = nullptr);

    bool isNull() const { return m_data == nullptr; }
    bool isMapped() const { return bool(m_file); }
    const char *constData() const { return m_data; }
    qint64 size() const { return m_size; }
    QByteArrayView view() const { return {m_data, qsizetype(m_size)}; }
    // Refers to the bytes without copying; valid while this object (or a copy) lives.
    QByteArray rawData() const { return QByteArray::fromRawData(m_data, qsizetype(m_size)); }
    // A copy that owns its bytes.
    QByteArray toByteArray() const { return QByteArray(m_data, qsizetype(m_size)); }

private:
    std::shared_ptr<QFile> m_file;
    QByteArray m_bytes;
    const char *m_data = nullptr;
    qint64 m_size = 0;
};

} // namespace lf
