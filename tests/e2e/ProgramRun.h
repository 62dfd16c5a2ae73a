#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>

namespace lf::test {

// How a whole-program run ended and what it wrote.
struct RunResult {
    int exitCode = -1; // -1 unless the program exited by itself
    bool signalled = false; // ended by a signal (killed by the test, or crashed)
    bool timedOut = false; // killed because it overran its time
    QString out;
    QString err;

    QStringList outLines() const; // non-empty lines
    QStringList errLines() const;
};
std::ostream &operator<<(std::ostream &os, const RunResult &result);

inline constexpr int kRunTimeoutMs = 60000;

// A program started in the background. It inherits this process's environment as it is at the
// start (the temporary home of the test included). Whatever still runs when the object goes is
// killed and reaped.
class BackgroundRun {
public:
    BackgroundRun(const QString &program, const QStringList &args, const QByteArray &input = {});
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun &) = delete;
    BackgroundRun &operator=(const BackgroundRun &) = delete;

    bool running() const { return m_process.state() != QProcess::NotRunning; }
    // Collects output while checking `condition` about twenty times a second; false when the
    // program ended or the time ran out first.
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs = kRunTimeoutMs);
    void sendSignal(int signal); // e.g. SIGINT or SIGKILL
    // Waits for the end, killing the program when it takes longer than `timeoutMs`.
    RunResult finish(int timeoutMs = kRunTimeoutMs);

    QString outSoFar();
    QString errSoFar();

private:
    void collect();

    QProcess m_process;
    QByteArray m_out;
    QByteArray m_err;
    bool m_timedOut = false;
};

// Runs a program to its end with optional standard input.
RunResult runProgram(const QString &program, const QStringList &args, const QByteArray &input = {},
    int timeoutMs = kRunTimeoutMs);

} // namespace lf::test
