#include "ProgramRun.h"

#include <QDeadlineTimer>

#include <csignal>

namespace lf::test {

namespace {

constexpr int kPollMs = 50;
constexpr int kReapMs = 10000;

QStringList nonEmptyLines(const QString &text) {
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            lines.append(line.trimmed());
    }
    return lines;
}

} // namespace

QStringList RunResult::outLines() const {
    return nonEmptyLines(out);
}

QStringList RunResult::errLines() const {
    return nonEmptyLines(err);
}

std::ostream &operator<<(std::ostream &os, const RunResult &result) {
    os << "exit " << result.exitCode;
    if (result.signalled)
        os << " (signalled)";
    if (result.timedOut)
        os << " (timed out)";
    return os << "\n--- stdout\n" << result.out.toStdString() << "--- stderr\n" << result.err.toStdString();
}

BackgroundRun::BackgroundRun(const QString &program, const QStringList &args, const QByteArray &input) {
    m_process.start(program, args);
    if (!m_process.waitForStarted())
        return;
    if (!input.isEmpty())
        m_process.write(input);
    m_process.closeWriteChannel();
}

BackgroundRun::~BackgroundRun() {
    if (running()) {
        m_process.kill();
        m_process.waitForFinished(kReapMs);
    }
}

void BackgroundRun::collect() {
    m_out += m_process.readAllStandardOutput();
    m_err += m_process.readAllStandardError();
}

QString BackgroundRun::outSoFar() {
    collect();
    return QString::fromUtf8(m_out);
}

QString BackgroundRun::errSoFar() {
    collect();
    return QString::fromUtf8(m_err);
}

bool BackgroundRun::waitUntil(const std::function<bool()> &condition, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        collect();
        if (condition())
            return true;
        if (!running() || deadline.hasExpired())
            return false;
        // Doubles as the pause between checks, and keeps the pipes from filling up.
        m_process.waitForFinished(kPollMs);
    }
}

void BackgroundRun::sendSignal(int signal) {
    if (running())
        ::kill(pid_t(m_process.processId()), signal);
}

RunResult BackgroundRun::finish(int timeoutMs) {
    if (running() && !m_process.waitForFinished(timeoutMs) && running()) {
        m_timedOut = true;
        m_process.kill();
        m_process.waitForFinished(kReapMs);
    }
    collect();
    RunResult result;
    result.timedOut = m_timedOut;
    if (m_process.error() == QProcess::FailedToStart) {
        result.err = QStringLiteral("cannot start %1: %2").arg(m_process.program(), m_process.errorString());
        return result;
    }
    result.signalled = m_process.exitStatus() == QProcess::CrashExit;
    if (!result.signalled)
        result.exitCode = m_process.exitCode();
    result.out = QString::fromUtf8(m_out);
    result.err = QString::fromUtf8(m_err);
    return result;
}

RunResult runProgram(
    const QString &program, const QStringList &args, const QByteArray &input, int timeoutMs) {
    BackgroundRun run(program, args, input);
    return run.finish(timeoutMs);
}

} // namespace lf::test
