#include "foundation/FileRules.h"
#include "foundation/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace lf;

namespace {

void touch(const QString &path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

} // namespace

TEST(FileRules, UniqueFileNames) {
    QTemporaryDir dir;
    EXPECT_EQ(uniqueFileNameAtPath(QStringLiteral("a.jpg"), dir.path()), QStringLiteral("a.jpg"));
    touch(dir.filePath(QStringLiteral("a.jpg")));
    touch(dir.filePath(QStringLiteral("a_1.jpg")));
    EXPECT_EQ(uniqueFileNameAtPath(QStringLiteral("a.jpg"), dir.path()), QStringLiteral("a_2.jpg"));
    touch(dir.filePath(QStringLiteral("noext")));
    EXPECT_EQ(uniqueFileNameAtPath(QStringLiteral("noext"), dir.path()), QStringLiteral("noext_1."));

    // A dropped file's name is text, never a format: "%1" in it stays as it is.
    touch(dir.filePath(QStringLiteral("photo%1.jpg")));
    EXPECT_EQ(
        uniqueFileNameAtPath(QStringLiteral("photo%1.jpg"), dir.path()), QStringLiteral("photo%1_1.jpg"));
    touch(dir.filePath(QStringLiteral("%2 of %3")));
    EXPECT_EQ(uniqueFileNameAtPath(QStringLiteral("%2 of %3"), dir.path()), QStringLiteral("%2 of %3_1."));
}

TEST(FileRules, AtomicWriteReplacesWholeAndLeavesNoTemporaries) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("info.plist"));
    ASSERT_TRUE(writeFileAtomically(path, "first"));
    ASSERT_TRUE(writeFileAtomically(path, "second"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("second"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    QString error;
    EXPECT_FALSE(writeFileAtomically(dir.filePath(QStringLiteral("missing/x")), "x", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(FileRules, CopiesWholeOrLeavesNothing) {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("photo.jpg"));
    QByteArray bytes(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7919) >> 3);
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);

    const QString copy = dir.filePath(QStringLiteral("copy.jpg"));
    QString error;
    ASSERT_TRUE(copyFileContents(source, copy, &error)) << error.toStdString();
    QFile copied(copy);
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), bytes);
    EXPECT_EQ(QFile::permissions(copy), QFile::permissions(source));

    // An existing file is never overwritten, and a folder is no file to copy.
    EXPECT_FALSE(copyFileContents(source, copy, &error));
    EXPECT_EQ(QFileInfo(copy).size(), bytes.size());
    EXPECT_FALSE(copyFileContents(dir.path(), dir.filePath(QStringLiteral("folder")), &error));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("folder"))));

    // A disk that fills up half way (a file size limit stands in for it): a clear error and no
    // partial copy left behind.
    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString cut = dir.filePath(QStringLiteral("cut.jpg"));
    error.clear();
    const bool copiedCut = copyFileContents(source, cut, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(copiedCut);
    EXPECT_TRUE(error.contains(QStringLiteral("cut.jpg"))) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(cut));
}

TEST(FileRules, PathForms) {
    EXPECT_EQ(posixFlavor(QStringLiteral("/Users/me/a.jpg")), QStringLiteral("/Users/me/a.jpg"));
    EXPECT_EQ(
        posixFlavor(QStringLiteral("Macintosh HD:Users:me:a/b.jpg")), QStringLiteral("/Users/me/a:b.jpg"));

    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real"));
    QDir().mkpath(real + QStringLiteral("/sub"));
    touch(real + QStringLiteral("/sub/photo.jpg"));
    QFile::link(QStringLiteral("real/sub"), dir.filePath(QStringLiteral("rel")));
    QFile::link(dir.filePath(QStringLiteral("rel")), dir.filePath(QStringLiteral("abs")));
    const QString resolvedDir = stringByResolvingSymlinksAndAliases(dir.path());
    EXPECT_EQ(stringByResolvingSymlinksAndAliases(dir.filePath(QStringLiteral("abs/photo.jpg"))),
        resolvedDir + QStringLiteral("/real/sub/photo.jpg"));
    EXPECT_TRUE(
        stringByResolvingSymlinksAndAliases(dir.filePath(QStringLiteral("abs/missing.jpg"))).isEmpty());
    EXPECT_TRUE(stringByResolvingSymlinksAndAliases(QStringLiteral("relative/path")).isEmpty());
    QFile::link(dir.filePath(QStringLiteral("loop")), dir.filePath(QStringLiteral("loop")));
    EXPECT_TRUE(stringByResolvingSymlinksAndAliases(dir.filePath(QStringLiteral("loop"))).isEmpty());
}

TEST(FileRules, OutsideInputStaysInItsFolder) {
    EXPECT_TRUE(isInsideFolder(QStringLiteral("/a/b/c.jpg"), QStringLiteral("/a/b")));
    EXPECT_TRUE(isInsideFolder(QStringLiteral("c.jpg"), QStringLiteral("/a/b")));
    EXPECT_FALSE(isInsideFolder(QStringLiteral("../c.jpg"), QStringLiteral("/a/b")));
    EXPECT_FALSE(isInsideFolder(QStringLiteral("/a/bc/d"), QStringLiteral("/a/b")));
    EXPECT_EQ(safeFileName(QStringLiteral("../../etc/passwd")), QStringLiteral("passwd"));
    EXPECT_EQ(safeFileName(QStringLiteral("..")), QString());
    EXPECT_EQ(safeFileName(QStringLiteral("a\nb.jpg")), QStringLiteral("ab.jpg"));
    EXPECT_EQ(safeFileName(QStringLiteral("C:\\x\\photo.png")), QStringLiteral("photo.png"));
}

TEST(PropertyList, RejectsMalformedDocuments) {
    const QByteArray good
        = writePropertyList(QVariantMap {{"a", QVariantList {1, true, QStringLiteral("x")}}});
    QString error;
    EXPECT_TRUE(readPropertyList(good, &error).isValid()) << error.toStdString();
    for (const QByteArray &bad : {good.left(good.size() / 2), QByteArray("garbage"), QByteArray(),
             QByteArray("<plist><dict><key>a</key></dict></plist>"),
             QByteArray("<plist><dict><string>a</string></dict></plist>"),
             QByteArray("<plist><integer>12x</integer></plist>")}) {
        EXPECT_FALSE(readPropertyList(bad).isValid()) << bad.constData();
    }
}
