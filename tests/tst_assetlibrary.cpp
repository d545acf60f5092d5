#include "assetlibrary.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

QStringList names(const QList<QFileInfo> &files)
{
    QStringList result;
    for (const QFileInfo &file : files)
        result << file.fileName();
    return result;
}

} // namespace

class TestAssetLibrary : public QObject
{
    Q_OBJECT

private slots:
    void subdirectory_data();
    void subdirectory();
    void kindForPage_data();
    void kindForPage();
    void assetDirectory_joinsAppDirAndSubdirectory();
    void matchesSuffix_data();
    void matchesSuffix();

    void listPngFiles_sortsIgnoringCaseAndFilters();
    void listPngFiles_givesFullPaths();
    void listPngFiles_missingDirectory_isEmpty();
    void listPngFiles_skipsHiddenFiles();
    void listPngFiles_followsLinksToFilesOnly();
};

void TestAssetLibrary::subdirectory_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expected");
    QTest::newRow("top shapes") << int(TopShapes) << "TopStyles";
    QTest::newRow("patterns") << int(Patterns) << "Patterns";
    QTest::newRow("alpha masks") << int(AlphaMasks) << "Alpha";
    QTest::newRow("zero") << 0 << "TopStyles";
    QTest::newRow("four") << 4 << "TopStyles";
    QTest::newRow("negative") << -1 << "TopStyles";
}

void TestAssetLibrary::subdirectory()
{
    QFETCH(int, kind);
    QFETCH(QString, expected);
    QCOMPARE(AssetLibrary::subdirectory(kind), expected);
    QCOMPARE(int(TopShapes), 1);
    QCOMPARE(int(Patterns), 2);
    QCOMPARE(int(AlphaMasks), 3);
}

void TestAssetLibrary::kindForPage_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("kind");
    QTest::newRow("page 0") << 0 << int(TopShapes);
    QTest::newRow("page 1") << 1 << int(Patterns);
    QTest::newRow("page 2") << 2 << int(AlphaMasks);
    QTest::newRow("page 7") << 7 << int(AlphaMasks);
    QTest::newRow("no page") << -1 << int(AlphaMasks);
}

void TestAssetLibrary::kindForPage()
{
    QFETCH(int, page);
    QFETCH(int, kind);
    QCOMPARE(int(AssetLibrary::kindForPage(page)), kind);
}

void TestAssetLibrary::assetDirectory_joinsAppDirAndSubdirectory()
{
    QCOMPARE(AssetLibrary::assetDirectory("/opt/tw", TopShapes),
             QString("/opt/tw/Assets/TopStyles"));
    QCOMPARE(AssetLibrary::assetDirectory("/opt/tw", Patterns), QString("/opt/tw/Assets/Patterns"));
    QCOMPARE(AssetLibrary::assetDirectory("/opt/tw", AlphaMasks), QString("/opt/tw/Assets/Alpha"));
}

void TestAssetLibrary::listPngFiles_sortsIgnoringCaseAndFilters()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"b.png", "A.PNG", "c.Png", "d.png.bak"})
        QVERIFY(touch(dir.filePath(name)));
    QVERIFY(QDir(dir.path()).mkdir("e.png"));

    QCOMPARE(names(listPngFiles(dir.path(), ".png")), (QStringList{"A.PNG", "b.png", "c.Png"}));
}

void TestAssetLibrary::listPngFiles_givesFullPaths()
{
    QTemporaryDir dir;
    QVERIFY(touch(dir.filePath("tile.png")));
    const QList<QFileInfo> files = listPngFiles(dir.path(), ".png");
    QCOMPARE(files.size(), 1);
    QCOMPARE(files[0].path() + "/" + files[0].fileName(), dir.filePath("tile.png"));
}

void TestAssetLibrary::listPngFiles_missingDirectory_isEmpty()
{
    QTemporaryDir dir;
    QVERIFY(listPngFiles(dir.filePath("nowhere"), ".png").isEmpty());
    QVERIFY(listPngFiles(dir.path(), ".png").isEmpty());
}

void TestAssetLibrary::matchesSuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    QTest::newRow("lower") << "b.png" << true;
    QTest::newRow("upper") << "TILE.PNG" << true;
    QTest::newRow("mixed") << "a.Png" << true;
    QTest::newRow("only the suffix") << ".png" << true;
    QTest::newRow("backup") << "a.png.bak" << false;
    QTest::newRow("no dot") << "apng" << false;
    QTest::newRow("other type") << "a.jpg" << false;
}

void TestAssetLibrary::matchesSuffix()
{
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(AssetLibrary::matchesSuffix(name, ".png"), matches);
}

void TestAssetLibrary::listPngFiles_skipsHiddenFiles()
{
    QTemporaryDir dir;
    // On Unix a file named just ".png" is hidden too: it passes the name
    // test but the directory scan does not list it.
    QVERIFY(touch(dir.filePath(".png")));
    QVERIFY(touch(dir.filePath(".hidden.png")));
    QVERIFY(touch(dir.filePath("shown.png")));
    QCOMPARE(names(listPngFiles(dir.path(), ".png")), QStringList{"shown.png"});
}

void TestAssetLibrary::listPngFiles_followsLinksToFilesOnly()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    QVERIFY(touch(dir.filePath("real.png")));
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    QVERIFY(QFile::link(dir.filePath("real.png"), dir.filePath("link.png")));
    QVERIFY(QFile::link(dir.filePath("folder"), dir.filePath("folderlink.png")));
    QCOMPARE(names(listPngFiles(dir.path(), ".png")), (QStringList{"link.png", "real.png"}));
#else
    QSKIP("symbolic links are a Unix test");
#endif
}

QTEST_GUILESS_MAIN(TestAssetLibrary)
#include "tst_assetlibrary.moc"
