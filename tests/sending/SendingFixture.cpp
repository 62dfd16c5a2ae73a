#include "SendingFixture.h"

#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <numeric>

namespace lf::test {

void RecordingClock::sleep(std::chrono::milliseconds duration) {
    {
        QMutexLocker lock(&m_mutex);
        m_sleeps.append(duration.count());
    }
    m_fake.sleep(duration);
}

QList<qint64> RecordingClock::sleeps() const {
    QMutexLocker lock(&m_mutex);
    return m_sleeps;
}

qint64 RecordingClock::totalSlept() const {
    QMutexLocker lock(&m_mutex);
    return std::accumulate(m_sleeps.cbegin(), m_sleeps.cend(), qint64(0));
}

void RecordingClock::clearSleeps() {
    QMutexLocker lock(&m_mutex);
    m_sleeps.clear();
}

void SendingTest::SetUp() {
    clock = std::make_unique<RecordingClock>();
    Clock::install(clock.get());
    SessionTest::SetUp();
    signIn();
}

void SendingTest::TearDown() {
    manager.reset();
    Workers::instance().waitForAll(10000);
    ShareTask::terminate();
    SessionTest::TearDown();
    Clock::install(nullptr);
}

ShareTaskPtr SendingTest::share(const QStringList &names, bool highRes, const QList<int> &sides) {
    Prefs::setBoolPref(highRes, PrefKey::ShareHighResPhotos);
    const ShareTaskPtr task = ShareTask::singleton();
    QStringList files;
    for (int i = 0; i < names.size(); ++i) {
        const int side = sides.value(i, 64);
        files.append(writePhoto(QDir(task->path()).filePath(names[i]), side, side > 100));
    }
    fillTask(task, files);
    manager->sendCurrentShareTask();
    return task;
}

bool SendingTest::waitForUploadDone(int count) {
    return pumpUntil([&] { return log->count(kUploadDoneNotification) >= count; });
}

int SendingTest::growls(const char *key) const {
    return log->count(kGrowlNotification, QString::fromLatin1(key));
}

void SendingTest::makeManager() {
    manager = std::make_unique<ShareTaskManager>(service);
}

QJsonObject SendingTest::bundleState(const QString &guid) {
    for (const QJsonValue &b :
        devCall("GET", QStringLiteral("/__dev/state")).toObject().value("bundles").toArray()) {
        if (b.toObject().value("bundle_guid").toString() == guid)
            return b.toObject();
    }
    return {};
}

bool SendingTest::pumpUntil(const std::function<bool()> &done, int realMs, std::chrono::milliseconds step) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < realMs) {
        if (waitUntil(done, 5))
            return true;
        clock->advance(step);
    }
    return done();
}

QString SendingTest::writePhoto(const QString &path, int side, bool noise) {
    QImage image(side, side, QImage::Format_RGB32);
    if (noise) {
        QRandomGenerator random(side);
        for (int y = 0; y < side; ++y) {
            auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
            for (int x = 0; x < side; ++x)
                line[x] = random.generate() | 0xff000000u;
        }
    } else {
        image.fill(Qt::darkCyan);
    }
    image.save(path, "JPEG", 95);
    return path;
}

void SendingTest::fillTask(const ShareTaskPtr &task, const QStringList &files) {
    for (const QString &file : files)
        task->pushPhoto({{kPhotoUrl, file}, {kPhotoCaption, QFileInfo(file).baseName()}});
    task->recipients()->append(QStringLiteral("friend@example.com"));
    task->setMessage(QStringLiteral("hello"));
}

} // namespace lf::test
