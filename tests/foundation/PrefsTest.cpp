#include "foundation/Prefs.h"
#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/Identity.h"
#include "foundation/PropertyList.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QUrl>

#include <sys/stat.h>
#include <thread>

using namespace lf;

namespace {

class PrefsTest : public test::TempHomeTest { };

QString k(const char *key) {
    return QLatin1String(key);
}

} // namespace

TEST_F(PrefsTest, DefaultsApplyOnlyToAbsentKeys) {
    EXPECT_TRUE(Prefs::boolPrefForKey(k(PrefKey::PlaySounds), true));
    Prefs::setBoolPref(false, k(PrefKey::PlaySounds));
    EXPECT_FALSE(Prefs::boolPrefForKey(k(PrefKey::PlaySounds), true));

    // A value of another type is converted, never replaced by the default.
    Prefs::setPref(QStringLiteral("abc"), QStringLiteral("n"));
    EXPECT_EQ(Prefs::intPrefForKey(QStringLiteral("n"), 7), 0);
    EXPECT_FALSE(Prefs::boolPrefForKey(QStringLiteral("n"), true));
    Prefs::setPref(QStringLiteral("yes"), QStringLiteral("s"));
    EXPECT_TRUE(Prefs::boolPrefForKey(QStringLiteral("s"), false));
    Prefs::setFloatPref(3.75, QStringLiteral("f"));
    EXPECT_EQ(Prefs::intPrefForKey(QStringLiteral("f"), 0), 3);
    EXPECT_TRUE(Prefs::boolPrefForKey(QStringLiteral("f"), false));
    Prefs::setBoolPref(true, QStringLiteral("b"));
    EXPECT_DOUBLE_EQ(Prefs::floatPrefForKey(QStringLiteral("b"), 9.0), 1.0);
    Prefs::setIntPref(0, QStringLiteral("zero"));
    EXPECT_FALSE(Prefs::boolPrefForKey(QStringLiteral("zero"), true));

    Prefs::clearPrefForKey(k(PrefKey::PlaySounds));
    EXPECT_TRUE(Prefs::boolPrefForKey(k(PrefKey::PlaySounds), true));
    EXPECT_FALSE(Prefs::prefForKey(k(PrefKey::PlaySounds)).isValid());
}

TEST_F(PrefsTest, EveryTypeSurvivesTheDisk) {
    const QDateTime date = QDateTime(QDate(2011, 3, 7), QTime(10, 20, 30), Qt::UTC);
    const QVariantMap frame {{"x", 10.5}, {"y", 20.0}, {"width", 800.0}, {"height", 600.0}};
    const QVariantList bundles {QStringLiteral("/a/b.shareset"), QStringLiteral("/c & <d>.shareset")};
    Prefs::setPref(QStringLiteral("ünïcode & <xml>"), QStringLiteral("str"));
    Prefs::setPref(date, k(PrefKey::FirstRun001));
    Prefs::setPref(frame, k(PrefKey::MainWindowFrame));
    Prefs::setPref(bundles, k(PrefKey::Bundles));
    Prefs::setPref(QByteArray("\x00\x01\xff", 3), QStringLiteral("data"));
    Prefs::setIntPref(-42, QStringLiteral("int"));

    Prefs::reloadLocation(); // forget the in-memory copy: read back from the file
    EXPECT_EQ(Prefs::prefForKey(QStringLiteral("str")).toString(), QStringLiteral("ünïcode & <xml>"));
    EXPECT_EQ(Prefs::prefForKey(k(PrefKey::FirstRun001)).toDateTime(), date);
    EXPECT_EQ(Prefs::prefForKey(k(PrefKey::MainWindowFrame)).toMap(), frame);
    EXPECT_EQ(Prefs::prefForKey(k(PrefKey::Bundles)).toList(), bundles);
    EXPECT_EQ(Prefs::prefForKey(QStringLiteral("data")).toByteArray(), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(Prefs::intPrefForKey(QStringLiteral("int"), 0), -42);
}

TEST_F(PrefsTest, StoreIsPrivateToTheUser) {
    Prefs::setPref(QStringLiteral("t"), k(PrefKey::UserToken));
    struct stat st { };
    ASSERT_EQ(::stat(QFile::encodeName(Prefs::storePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(Prefs::storePath()).absolutePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(
        Prefs::storePath().endsWith(QStringLiteral("/.config/Lanternfish/com.Lanternfish.MacClient.plist")));
}

TEST_F(PrefsTest, UserScopedKeysFollowTheSignedInUser) {
    Prefs::setPref(QStringLiteral("a@x.com"), k(PrefKey::UserName));
    EXPECT_EQ(Prefs::userKey(k(PrefKey::FirstConnect)), QStringLiteral("firstConnect[a@x.com]"));
    EXPECT_TRUE(Prefs::boolPrefForUserKey(k(PrefKey::FirstConnect), true));
    Prefs::setBoolPrefForUserKey(false, k(PrefKey::FirstConnect));

    Prefs::setPref(QStringLiteral("b@x.com"), k(PrefKey::UserName));
    EXPECT_TRUE(Prefs::boolPrefForUserKey(k(PrefKey::FirstConnect), true));
    Prefs::setBoolPrefForUserKey(false, k(PrefKey::FirstConnect));

    Prefs::setPref(QStringLiteral("a@x.com"), k(PrefKey::UserName));
    EXPECT_FALSE(Prefs::boolPrefForUserKey(k(PrefKey::FirstConnect), true));
}

TEST_F(PrefsTest, ClearAllPrefsForgetsEverythingAndANewClientIdFollows) {
    const QString first = getClientID();
    EXPECT_EQ(getClientID(), first);
    Prefs::setPref(QStringLiteral("h"), k(PrefKey::Host));
    Prefs::setPref(QVariantList {QStringLiteral("/x")}, k(PrefKey::Bundles));
    Credentials::saveCredentials(QStringLiteral("a@x.com"), QStringLiteral("tok"));

    ASSERT_TRUE(Prefs::clearAllPrefs());
    EXPECT_TRUE(Prefs::allKeys().isEmpty());
    QString user, token;
    EXPECT_FALSE(Credentials::loadCredentials(user, token));
    const QString second = getClientID();
    EXPECT_NE(second, first);
    EXPECT_EQ(second.size(), 36);
}

TEST_F(PrefsTest, FirstRunBlocksAreWrittenOnce) {
    Prefs::applyFirstRunDefaults();
    EXPECT_TRUE(Prefs::boolPrefForKey(k(PrefKey::ShareHighResPhotos), false));
    EXPECT_FALSE(Prefs::boolPrefForKey(k(PrefKey::StagedOnWifi2), true));
    EXPECT_TRUE(Prefs::boolPrefForKey(k(PrefKey::Sounds), false));
    EXPECT_TRUE(Prefs::prefForKey(k(PrefKey::FirstRun001)).toDateTime().isValid());

    // The user's later choice stays; only a missing marker writes its block again.
    Prefs::setBoolPref(false, k(PrefKey::ShareHighResPhotos));
    Prefs::applyFirstRunDefaults();
    EXPECT_FALSE(Prefs::boolPrefForKey(k(PrefKey::ShareHighResPhotos), true));
    Prefs::clearPrefForKey(k(PrefKey::FirstRun002));
    Prefs::applyFirstRunDefaults();
    EXPECT_TRUE(Prefs::boolPrefForKey(k(PrefKey::ShareHighResPhotos), false));
}

TEST_F(PrefsTest, ThreadsWritingDifferentKeysLoseNothing) {
    constexpr int perThread = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                Prefs::setIntPref(i, QStringLiteral("t%1_%2").arg(t).arg(i));
        });
    }
    for (auto &th : threads)
        th.join();
    Prefs::reloadLocation();
    EXPECT_EQ(Prefs::allKeys().size(), 4 * perThread);
}

TEST_F(PrefsTest, TwoProcessesWritingDifferentKeysLoseNothing) {
    constexpr int count = 60;
    QProcess other;
    other.start(QStringLiteral(LF_PREFS_WRITER), {QStringLiteral("other"), QString::number(count)});
    ASSERT_TRUE(other.waitForStarted());
    for (int i = 0; i < count; ++i)
        Prefs::setIntPref(i, QStringLiteral("mine%1").arg(i));
    ASSERT_TRUE(other.waitForFinished(30000));
    ASSERT_EQ(other.exitCode(), 0);

    // This process sees the other's writes without reloading, and both sets are complete.
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(Prefs::intPrefForKey(QStringLiteral("other%1").arg(i), -1), i);
        EXPECT_EQ(Prefs::intPrefForKey(QStringLiteral("mine%1").arg(i), -1), i);
    }
}

TEST_F(PrefsTest, AWriterKilledMidWriteLeavesAReadableStore) {
    Prefs::setPref(QStringLiteral("kept"), QStringLiteral("before"));
    for (int round = 0; round < 3; ++round) {
        QProcess writer;
        writer.start(QStringLiteral(LF_PREFS_WRITER), {QStringLiteral("w"), QStringLiteral("100000")});
        ASSERT_TRUE(writer.waitForStarted());
        // Wait until it has written something, then kill it wherever it is.
        for (int i = 0; i < 500 && !Prefs::prefForKey(QStringLiteral("w3")).isValid(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        writer.kill();
        writer.waitForFinished();

        QVariantMap stored;
        QString error;
        ASSERT_TRUE(readPropertyListFile(Prefs::storePath(), stored, &error)) << error.toStdString();
        EXPECT_EQ(stored.value(QStringLiteral("before")).toString(), QStringLiteral("kept"));
    }
    // And the store still takes writes (the lock died with the killed process), which also
    // sweep the temporary files the killed writer may have left.
    EXPECT_TRUE(Prefs::setBoolPref(true, QStringLiteral("after")));
    EXPECT_EQ(QDir(QFileInfo(Prefs::storePath()).absolutePath()).entryList(QDir::Files | QDir::Hidden),
        QStringList({QStringLiteral("com.Lanternfish.MacClient.plist"),
            QStringLiteral("com.Lanternfish.MacClient.plist.lock")}));
}

TEST_F(PrefsTest, ValuesTheStoreCannotHoldAreRefusedAndLoseNothing) {
    Credentials::saveCredentials(QStringLiteral("a@x.com"), QStringLiteral("tok"));
    Prefs::setPref(QVariantList {QStringLiteral("/s.shareset")}, k(PrefKey::Bundles));
    const QList<QVariant> refused {QDate(2026, 1, 2), QUrl(QStringLiteral("http://x")),
        QVariantHash {{"a", 1}}, QDateTime(), QStringLiteral("bell\x07"),
        QVariantList {1, QUrl(QStringLiteral("http://x"))},
        QVariantMap {{"frame", QVariantMap {{"when", QDate(2026, 1, 2)}}}},
        QVariantMap {{QStringLiteral("key\x01"), 1}}};
    for (const QVariant &value : refused) {
        EXPECT_FALSE(Prefs::setPref(value, QStringLiteral("odd"))) << value.typeName();
        Prefs::reloadLocation();
        EXPECT_FALSE(Prefs::prefForKey(QStringLiteral("odd")).isValid()) << value.typeName();
        QString user, token;
        ASSERT_TRUE(Credentials::loadCredentials(user, token)) << value.typeName();
        EXPECT_EQ(token, QStringLiteral("tok"));
    }
    // The store still reads, and the next write adds to it instead of starting over.
    EXPECT_TRUE(Prefs::setPref(QDateTime(QDate(2026, 1, 2), QTime(0, 0), Qt::UTC), QStringLiteral("odd")));
    Prefs::reloadLocation();
    EXPECT_EQ(Prefs::prefForKey(k(PrefKey::Bundles)).toList().size(), 1);
    EXPECT_EQ(Prefs::allKeys().size(), 4);
}

TEST_F(PrefsTest, ACorruptStoreIsSetAsideNeverOverwritten) {
    ScopedFakeClock fake;
    Prefs::setPref(QStringLiteral("x"), QStringLiteral("k"));
    const QByteArray corrupt = "<?xml version=\"1.0\"?><plist><dict><key>k</key><str";
    const auto corruptTheStore = [&] {
        QFile f(Prefs::storePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(corrupt);
    };
    corruptTheStore();
    EXPECT_FALSE(Prefs::prefForKey(QStringLiteral("k")).isValid());
    EXPECT_TRUE(Prefs::setPref(QStringLiteral("y"), QStringLiteral("k2")));
    Prefs::reloadLocation();
    EXPECT_EQ(Prefs::allKeys(), QStringList {QStringLiteral("k2")});

    // Both damaged versions are kept, byte for byte, beside the store.
    corruptTheStore();
    EXPECT_TRUE(Prefs::setPref(QStringLiteral("z"), QStringLiteral("k3")));
    const QString kept = Prefs::storePath() + QStringLiteral(".corrupt-20260101-120000");
    for (const QString &path : {kept, kept + QStringLiteral("-2")}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        EXPECT_EQ(f.readAll(), corrupt);
    }
    EXPECT_EQ(Prefs::allKeys(), QStringList {QStringLiteral("k3")});
}

TEST_F(PrefsTest, NestingDeeperThanTheLimitIsRefusedNotAStackOverflow) {
    const auto nested = [](int levels) {
        QByteArray xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k</key>";
        for (int i = 0; i < levels; ++i)
            xml += "<array>";
        for (int i = 0; i < levels; ++i)
            xml += "</array>";
        return xml + "</dict></plist>";
    };
    QString error;
    // The dictionary is the first level.
    EXPECT_TRUE(readPropertyList(nested(kMaxPropertyListDepth - 1), &error).isValid()) << error.toStdString();
    for (const int levels : {kMaxPropertyListDepth, 100000}) {
        error.clear();
        EXPECT_FALSE(readPropertyList(nested(levels), &error).isValid()) << levels;
        EXPECT_TRUE(error.contains(QLatin1String("nested deeper than 256 levels"))) << error.toStdString();
    }

    // A store like that is set aside as unreadable; the program goes on with an empty one.
    ScopedFakeClock fake;
    Prefs::setPref(QStringLiteral("x"), QStringLiteral("k"));
    {
        QFile f(Prefs::storePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(nested(100000));
    }
    EXPECT_FALSE(Prefs::prefForKey(QStringLiteral("k")).isValid());
    EXPECT_TRUE(Prefs::setPref(QStringLiteral("y"), QStringLiteral("k2")));
    EXPECT_EQ(Prefs::allKeys(), QStringList {QStringLiteral("k2")});
    EXPECT_TRUE(QFile::exists(Prefs::storePath() + QStringLiteral(".corrupt-20260101-120000")));
}

TEST_F(PrefsTest, TheClientIdIsMadeOnceAcrossThreadsAndProcesses) {
    for (int round = 0; round < 5; ++round) {
        Prefs::clearPrefForKey(k(PrefKey::ClientID));
        // Everyone asks at the same moment: the other processes once the start file appears.
        const QString startFile = home.filePath(QStringLiteral("go%1").arg(round));
        std::vector<std::unique_ptr<QProcess>> others;
        for (int i = 0; i < 2; ++i) {
            others.push_back(std::make_unique<QProcess>());
            others.back()->start(QStringLiteral(LF_PREFS_WRITER), {QStringLiteral("--client-id"), startFile});
            ASSERT_TRUE(others.back()->waitForStarted());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::atomic<bool> go {false};
        std::vector<QString> ids(6);
        std::vector<std::thread> threads;
        for (size_t t = 0; t < ids.size(); ++t) {
            threads.emplace_back([t, &ids, &go] {
                while (!go)
                    std::this_thread::yield();
                ids[t] = getClientID();
            });
        }
        QFile(startFile).open(QIODevice::WriteOnly);
        go = true;
        for (auto &th : threads)
            th.join();
        QSet<QString> seen(ids.begin(), ids.end());
        for (auto &other : others) {
            EXPECT_TRUE(other->waitForFinished(30000));
            seen.insert(QString::fromLatin1(other->readAllStandardOutput().trimmed()));
        }
        ASSERT_EQ(seen.size(), 1) << QStringList(seen.begin(), seen.end()).join(' ').toStdString();
        EXPECT_EQ(Prefs::prefForKey(k(PrefKey::ClientID)).toString(), ids[0]);
    }
}

TEST_F(PrefsTest, KeyTableCarriesTheDocumentedDefaults) {
    ASSERT_NE(Prefs::keyInfo(QStringLiteral("port")), nullptr);
    EXPECT_EQ(Prefs::keyInfo(QStringLiteral("port"))->defaultValue.toString(), QStringLiteral("80"));
    EXPECT_EQ(Prefs::keyInfo(QStringLiteral("hostVersion"))->defaultValue.toInt(), 5);
    EXPECT_DOUBLE_EQ(Prefs::keyInfo(QStringLiteral("SliderPref"))->defaultValue.toDouble(), 0.5);
    EXPECT_TRUE(Prefs::keyInfo(QStringLiteral("firstConnect"))->userScoped);
    EXPECT_EQ(Prefs::keyInfo(QStringLiteral("nope")), nullptr);
}
