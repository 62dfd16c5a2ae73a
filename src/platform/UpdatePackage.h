#pragma once

#include <QByteArray>
#include <QString>

namespace lf {

// The update package: a gzip-compressed tar holding one folder. Read with our own reader rather
// than a tar tool, so nothing in the package decides where a byte lands: every entry is checked
// before the first one is written.
class UpdatePackage {
public:
    // Unpacked sizes of all files together; bigger packages are refused before unpacking.
    static constexpr qint64 kMaxTotalBytes = qint64(1) << 30;
    static constexpr int kMaxEntries = 100000;

    explicit UpdatePackage(QString path);

    // Whether `signature` (raw 64 bytes) is the Ed25519 signature of the whole file under
    // `publicKey` (raw 32 bytes).
    bool verifySignature(const QByteArray &signature, const QByteArray &publicKey);

    // Reads every entry and refuses the package unless all are plain files, folders or links
    // that stay inside one top folder, with relative paths free of "..", and the sizes are bounded.
    // On success topFolder() names that folder.
    bool inspect();
    // inspect(), then writes the entries into `into` (an existing empty folder). Files keep only
    // their read and execute bits for others; set-id bits are dropped.
    bool extract(const QString &into);

    QString topFolder() const { return m_top; }
    QString error() const { return m_error; }

private:
    bool read(const QString *into);
    bool fail(const QString &message);

    QString m_path;
    QString m_top;
    QString m_error;
};

} // namespace lf
