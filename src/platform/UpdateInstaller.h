#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace lf {

// Replaces the installed tree by the one in an update package (a .tar.gz holding one top folder):
// unpack beside the installation, swap the two folders, remove the old one. Where the user may
// not write, the swap runs through pkexec, which asks for an administrator's password.
class UpdateInstaller {
public:
    // Runs a program and waits; the exit status, or -1 when it could not start.
    using Runner = std::function<int(const QString &program, const QStringList &arguments)>;

    // `installRoot`: the folder that holds bin/lanternfish and the rest of the installation.
    explicit UpdateInstaller(QString installRoot);

    // The tree the running program was started from (the folder above its bin/).
    static QString runningInstallRoot();
    // Whether the user can swap the installation without help.
    bool userWritable() const;

    // Unpacks and swaps; false with error() when the installation is as it was, or true when the
    // new tree is in place. The package file is removed either way.
    bool install(const QString &packagePath);
    QString error() const { return m_error; }

    // The program of the installed tree, to start after the swap.
    QString programPath() const;

    // Tests stand in for pkexec with a runner of their own.
    void setPrivilegedRunner(Runner runner) { m_privileged = std::move(runner); }
    static int runAndWait(const QString &program, const QStringList &arguments);

private:
    bool unpack(const QString &packagePath, const QString &into, QString *tree);
    bool swapAsUser(const QString &fresh);
    bool swapPrivileged(const QString &fresh);
    bool fail(const QString &message);

    QString m_root;
    QString m_error;
    Runner m_privileged;
};

} // namespace lf
