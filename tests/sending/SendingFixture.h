#pragma once

#include "foundation/Clock.h"
#include "share/ShareTaskManager.h"
#include "support/SessionFixture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>

#include <atomic>
#include <functional>
#include <memory>

namespace lf::test {

// Virtual time that also remembers every sleep, so back-off sequences can be checked.
class RecordingClock final : public Clock {
public:
    QDateTime now() const override { return m_fake.now(); }
    qint64 monotonicMs() const override {
        ++m_readings;
        return m_fake.monotonicMs();
    }
    // How often "now" was read: a loop that spins reads it without end.
    qint64 readings() const { return m_readings; }
    void sleep(std::chrono::milliseconds duration) override;
    void advance(std::chrono::milliseconds duration) { m_fake.advance(duration); }
    QList<qint64> sleeps() const;
    qint64 totalSlept() const;
    void clearSleeps();

private:
    FakeClock m_fake;
    mutable std::atomic<qint64> m_readings {0};
    mutable QMutex m_mutex;
    QList<qint64> m_sleeps;
};

// A signed-in session against a fresh reference server, a fake clock, and a temporary home.
class SendingTest : public SessionTest {
protected:
    void SetUp() override;
    void TearDown() override;

    void addFaults(const QString &path, const QJsonArray &responses) { fault("POST", path, responses); }
    QJsonObject bundleState(const QString &guid);

    // Runs the event loop while moving virtual time on by `step` every few milliseconds.
    bool pumpUntil(const std::function<bool()> &done, int realMs = 60000,
        std::chrono::milliseconds step = std::chrono::milliseconds(200));

    // A JPEG file of about `noiseSide` squared bytes (noise does not compress), or a small one.
    static QString writePhoto(const QString &path, int side, bool noise);
    // A task with the given photo files, one recipient and a note.
    static void fillTask(const ShareTaskPtr &task, const QStringList &files);

    // Fills the current task with generated photos (noise above 100 pixels, so large files)
    // and presses Share; returns the shared task.
    ShareTaskPtr share(const QStringList &names, bool highRes, const QList<int> &sides = {});
    bool waitForUploadDone(int count = 1);
    int growls(const char *key) const;

    void makeManager();
    std::unique_ptr<RecordingClock> clock;
    std::unique_ptr<ShareTaskManager> manager;
};

} // namespace lf::test
