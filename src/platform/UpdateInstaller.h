#pragma once

#include <QByteArray>
#include <QString>

namespace lf {

// How the running program was installed; only a self-contained tree is ever replaced.
enum class InstallKind {
    SelfContained, // a release archive unpacked where the user likes: holds the marker file
    PackageManager, // under /usr: the distribution's package manager owns the files
    BuildFolder, // run from a CMake build folder
    SharedPrefix, // `cmake --install` into a prefix shared with other programs
};

// Replaces a self-contained Lanternfish tree by the one in a checked update package. The work
// happens in a folder of the cache until the package has passed every check; only then does
// anything change beside the installed tree, and only by renames in its parent folder, each
// undone when a later step fails. Never with raised privileges. Blocking: runs on a worker.
class UpdateInstaller {
public:
    // At the root of a self-contained tree: {"name": "Lanternfish", "version": "..."}.
    static constexpr const char *kMarker = "lanternfish-app.json";
    static constexpr const char *kAppName = "Lanternfish";
    static constexpr int kVersionTimeoutMs = 10000;

    // `installRoot`: the tree that holds bin/lanternfish; `workFolder`: a folder of the cache
    // the installer may fill and empty.
    UpdateInstaller(QString installRoot, QString workFolder);
    ~UpdateInstaller();
    UpdateInstaller(const UpdateInstaller &) = delete;
    UpdateInstaller &operator=(const UpdateInstaller &) = delete;

    // The environment variable that names the file a relaunched program writes its version to.
    static constexpr const char *kAckVariable = "LANTERNFISH_UPDATE_ACK";
    // The file a relaunched new version writes to say it runs (in the cache folder).
    static QString ackPath();
    // The raw Ed25519 key that packages must be signed with (a build setting).
    static QByteArray trustedPublicKey();
    // Called by the program once it is up: when the updater started it, says so.
    static void acknowledgeRelaunch();

    // The tree the running program was started from (the folder above its bin/).
    static QString runningInstallRoot();
    static InstallKind kindOf(const QString &root);
    // The version the marker of `root` names, or empty when `root` holds no valid marker.
    static QString markerVersion(const QString &root);
    InstallKind kind() const { return kindOf(m_root); }
    // Whether the user may rename entries of the tree's parent folder.
    bool parentWritable() const;

    // Checks the package (signature, entries, marker, the new program's --version) and unpacks it
    // into the work folder. `version` is the offered version; `signature` and `publicKey` raw.
    bool prepare(const QString &packagePath, const QString &version, const QByteArray &signature,
        const QByteArray &publicKey);
    // Puts the prepared tree in place of the installed one; the old tree waits beside it until
    // removeOld() or rollback(). False with the installation as it was.
    bool swap();
    // The new version did not start: the old tree goes back in place, the new one is removed.
    bool rollback();
    // The new version answered: the old tree goes.
    void removeOld();
    // Empties the work folder (the package file stays for its owner to remove).
    void cleanWork();

    // The program of the installed tree, to start after the swap.
    QString programPath() const;
    QString oldTree() const { return m_old; }
    QString error() const { return m_error; }
    void setVersionTimeoutMs(int ms) { m_versionTimeoutMs = ms; }

private:
    bool fail(const QString &message);
    bool checkProgram(const QString &tree, const QString &version);

    QString m_root;
    QString m_work;
    QString m_prepared;
    QString m_package;
    QString m_old;
    QString m_error;
    int m_versionTimeoutMs = kVersionTimeoutMs;
};

} // namespace lf
