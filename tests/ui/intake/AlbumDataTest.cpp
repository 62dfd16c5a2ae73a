#include "intake/AlbumData.h"

#include "foundation/Prefs.h"
#include "foundation/PropertyList.h"
#include "foundation/Workers.h"
#include "support/TempHome.h"
#include "support/TestImages.h"
#include "support/Waits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace lf::test {
namespace {

class AlbumDataTest : public TempHomeTest {
protected:
    void SetUp() override {
        Prefs::reloadLocation();
        library = home.filePath(QStringLiteral("Pictures/iPhoto Library"));
        QDir().mkpath(library + QStringLiteral("/Masters"));
        const auto photo = [this](const QString &name) {
            const QString path = library + QStringLiteral("/Masters/") + name;
            writeBytes(path, encoded(quadrantImage(16, 12), "jpeg"));
            return path;
        };
        const auto record = [](const QString &path, double date, const QVariantMap &extra = {}) {
            QVariantMap r {{QStringLiteral("ImagePath"), path},
                {QStringLiteral("ThumbPath"), path + ".thumb"},
                {QStringLiteral("DateAsTimerInterval"), date}};
            r.insert(extra);
            return r;
        };
        const QString notes = library + QStringLiteral("/Masters/notes.txt");
        writeBytes(notes, "words");
        const QVariantMap master {
            {QStringLiteral("1"),
                record(photo(QStringLiteral("cafe.jpg")), 300,
                    {{QStringLiteral("Caption"), QStringLiteral("  Café au lait ")},
                        {QStringLiteral("Keywords"),
                            QVariantList {QStringLiteral("k1"), QStringLiteral("k9")}}})},
            {QStringLiteral("2"),
                record(photo(QStringLiteral("beach.jpg")), 100,
                    {{QStringLiteral("Comment"), QStringLiteral("ÉTÉ à la \"plage\"")}})},
            {QStringLiteral("3"), record(notes, 200)},
            {QStringLiteral("4"), record(library + QStringLiteral("/Masters/gone.jpg"), 50)},
        };
        const QVariantMap root {{QStringLiteral("Master Image List"), master},
            {QStringLiteral("List of Keywords"),
                QVariantMap {{QStringLiteral("k1"), QStringLiteral("Crème brûlée")}}},
            {QStringLiteral("List of Albums"),
                QVariantList {
                    QVariantMap {{QStringLiteral("AlbumName"), QStringLiteral("Paris")},
                        {QStringLiteral("KeyList"), QVariantList {QStringLiteral("1"), QStringLiteral("3")}}},
                    QVariantMap {{QStringLiteral("AlbumName"), QStringLiteral("Junk")},
                        {QStringLiteral("KeyList"),
                            QVariantList {QStringLiteral("3"), QStringLiteral("4")}}}}},
            {QStringLiteral("List of Rolls"),
                QVariantList {QVariantMap {{QStringLiteral("RollName"), QStringLiteral("Summer")},
                    {QStringLiteral("KeyList"), QVariantList {QStringLiteral("2"), QStringLiteral("4")}}}}}};
        ASSERT_TRUE(writeBytes(library + QStringLiteral("/AlbumData.xml"), writePropertyList(root)));
    }

    QString library;
};

TEST_F(AlbumDataTest, ReadsAlbumsRollsAndKeywordsLeavingOutWhatCannotBeShared) {
    AlbumDataLibrary data;
    ASSERT_TRUE(data.load());
    EXPECT_EQ(Prefs::prefForKey(QLatin1String(AlbumDataLibrary::kLibraryPref)).toString(),
        QFileInfo(library).canonicalFilePath());
    EXPECT_EQ(data.imageCount(), 2);
    ASSERT_EQ(data.albums().size(), 1) << "an album of unusable photos is left out";
    EXPECT_EQ(data.albums().at(0).name, QStringLiteral("Paris"));
    EXPECT_EQ(data.albums().at(0).keys, QStringList {QStringLiteral("1")});
    ASSERT_EQ(data.rolls().size(), 1);
    EXPECT_EQ(data.rolls().at(0).keys, QStringList {QStringLiteral("2")});

    const QList<QVariantMap> items = data.photoData(data.allKeys());
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items.at(0).value(QStringLiteral("filename")).toString(), QStringLiteral("beach.jpg"))
        << "oldest first";
    EXPECT_EQ(items.at(1).value(QStringLiteral("caption")).toString(), QStringLiteral("Café au lait"));
    EXPECT_EQ(items.at(1).value(QStringLiteral("keywords")).toString(), QStringLiteral("Crème brûlée"));
    EXPECT_FALSE(items.at(0).contains(QStringLiteral("caption")));
    EXPECT_FALSE(data.dirty());
    QFile file(data.dataFilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime);
    file.close();
    EXPECT_TRUE(data.dirty());
}

TEST_F(AlbumDataTest, SearchIgnoresCaseAndAccentsAndTakesQuotesLiterally) {
    AlbumDataLibrary data;
    ASSERT_TRUE(data.read(library));
    const QList<QVariantMap> items = data.photoData(data.allKeys());
    const auto names = [&](const QString &text) {
        QStringList found;
        for (const QVariantMap &item : AlbumDataLibrary::search(items, text))
            found.append(item.value(QStringLiteral("filename")).toString());
        return found;
    };
    EXPECT_EQ(names(QStringLiteral("CAFE")), QStringList {QStringLiteral("cafe.jpg")});
    EXPECT_EQ(names(QStringLiteral("creme")), QStringList {QStringLiteral("cafe.jpg")}) << "keywords";
    EXPECT_EQ(names(QStringLiteral("été")), QStringList {QStringLiteral("beach.jpg")}) << "comment";
    EXPECT_EQ(names(QStringLiteral("\"plage\"")), QStringList {QStringLiteral("beach.jpg")});
    EXPECT_TRUE(names(QStringLiteral("*")).isEmpty());

    // Only the latest of two searches reports.
    AlbumSearch search;
    QList<QStringList> reports;
    const auto report
        = [&](const QList<QVariantMap> &found) { reports.append({QString::number(found.size())}); };
    search.start(items, QStringLiteral("cafe"), report);
    search.start(items, QStringLiteral("zzz"), report);
    ASSERT_TRUE(waitUntil([&] { return !reports.isEmpty(); }));
    Workers::instance().waitForAll(5000);
    deliverMainThreadWork();
    EXPECT_EQ(reports, QList<QStringList> {QStringList {QStringLiteral("0")}});
}

} // namespace
} // namespace lf::test
