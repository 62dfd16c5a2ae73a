#include "share/PhotoBytes.h"

#include <QFile>

namespace lf {

PhotoBytes::PhotoBytes(QByteArray bytes)
    : m_bytes(std::move(bytes)) {
    if (!m_bytes.isNull()) {
        m_data = m_bytes.constData();
        m_size = m_bytes.size();
    }
}

PhotoBytes PhotoBytes::mapFile(const QString &path, QString *error) {
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        if (error)
            *error = file->errorString();
        return {};
    }
    const qint64 size = file->size();
    if (size <= 0) {
        if (error)
            *error = QStringLiteral("empty file");
        return {};
    }
    uchar *map = file->map(0, size);
    if (!map) {
        if (error)
            *error = file->errorString();
        return {};
    }
    PhotoBytes result;
    result.m_file = std::move(file);
    result.m_data = reinterpret_cast<const char *>(map);
    result.m_size = size;
    return result;
}

} // namespace lf
