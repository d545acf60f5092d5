#include "assetlibrary.h"

#include <QTemporaryDir>
#include <QtTest>

class TestAssetLibrary : public QObject
{
    Q_OBJECT

private slots:
    void listPngFiles_data()
    {
        QTest::addColumn<QStringList>("entries"); // "name/" makes a directory
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("name order ignoring case, suffix filter")
            << QStringList{"b.png", "A.PNG", "c.Png", "d.png.bak", "e.png/"}
            << QStringList{"A.PNG", "b.png", "c.Png"};
        QTest::newRow("hidden files")
            << QStringList{".png", ".hidden.png", "shown.png"} << QStringList{"shown.png"};
    }

    void listPngFiles()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        for (const QString &name : entries) {
            QFile file(dir.filePath(name));
            QVERIFY(name.endsWith('/') ? QDir(dir.path()).mkdir(name.chopped(1))
                                       : file.open(QIODevice::WriteOnly));
        }
        QStringList names;
        for (const QFileInfo &file : ::listPngFiles(dir.path(), ".png")) {
            names << file.fileName();
            QCOMPARE(file.path() + "/" + file.fileName(), dir.filePath(file.fileName()));
        }
        QCOMPARE(names, expected);
        // A file named just ".png" passes the name test, though Unix hides it.
        QVERIFY(AssetLibrary::matchesSuffix(".png", ".png"));
    }

    void listPngFiles_missingDirectory_isEmpty()
    {
        QTemporaryDir dir;
        QVERIFY(::listPngFiles(dir.filePath("nowhere"), ".png").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAssetLibrary)
#include "tst_assetlibrary.moc"
