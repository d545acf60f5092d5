#include "previewfixtures.h"
#include "tmpfsmount.h"

#include <QImageReader>
#include <QtTest>

using PreviewFixtures::readFile;

// Runs the asset program the build uses into `target`: the files it wrote
// by their place in the library, and under "exit" its exit code and errors.
static QMap<QString, QByteArray> draw(const QString &target)
{
    QProcess process;
    process.start(QStringLiteral(TW_ASSETGEN), {target});
    const bool done =
        process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    QMap<QString, QByteArray> files{{"exit", QByteArray::number(done ? process.exitCode() : -1) +
                                                 ' ' + process.readAllStandardError()}};
    for (const QString kind : {"TopStyles/", "Patterns/", "Alpha/"})
        for (const QString &file : QDir(target + '/' + kind).entryList(QDir::Files | QDir::Hidden))
            files.insert(kind + file, readFile(target + '/' + kind + file));
    return files;
}

// The library the build draws. How the blob tiles join is checked on a
// painted map in tst_cli.
class TestDefaultAssets : public QObject
{
    Q_OBJECT

    QTemporaryDir work;

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(work.path())); }

    // Two runs give the same bytes: only finished PNGs, square tiles and
    // top shapes as strips along a tile's top, of every kind a side-view
    // terrain needs.
    void library_holdsEveryKind_inTwoIdenticalRuns()
    {
        auto library = draw("library");
        QCOMPARE(draw("again"), library);
        QCOMPARE(library.take("exit"), QByteArray("0 "));
        QStringList names;
        for (auto it = library.cbegin(); it != library.cend(); ++it) {
            names << it.key().chopped(4);
            QCOMPARE(QImageReader("library/" + it.key()).format(), QByteArray("png"));
            const QSize size = QImage::fromData(it.value()).size();
            QVERIFY2(size.width() == 128, qPrintable(it.key()));
            QVERIFY2(it.key().startsWith("Top") ? size.height() <= 64 : size.height() == 128,
                     qPrintable(it.key()));
        }
        QVERIFY(names.filter("TopStyles/").size() >= 5);
        QVERIFY(names.filter("Patterns/").size() >= 6);
        QCOMPARE(names.filter("Alpha/blob_").size(), 47);
        // Full and covered blocks, slopes of two angles both ways, plateau
        // ends, thin platforms; the blob set's edges and inner corners.
        for (const QString name :
             {"full", "full_notop", "slope45_up", "slope45_down", "slope22_up_low",
              "slope22_up_high", "slope22_down_low", "slope22_down_high", "corner_outer_left",
              "corner_outer_right", "platform_left", "platform_middle", "platform_right",
              "platform_single", "blob_000", "blob_124", "blob_255_notop", "blob_253_notop"})
            QVERIFY2(names.contains("Alpha/" + name), qPrintable(name));
    }

    // What did get written is complete and exactly what a good run writes.
    void fullDisk_failsWithoutBrokenFiles()
    {
        TmpfsMount disk(work.filePath("small"));
        if (!QDir().mkpath("small") || !disk.mount("48k")) // room for a few files only
            QSKIP("needs root to mount a tiny tmpfs as a full disk");
        auto written = draw("small"), whole = draw("library");
        const QByteArray failure = written.take("exit");
        QVERIFY2(failure.startsWith("1 "), failure);
        QVERIFY2(failure.contains("cannot"), failure);
        for (auto it = written.cbegin(); it != written.cend(); ++it)
            QVERIFY2(it.value() == whole.value(it.key()), qPrintable(it.key()));
        QVERIFY(written.size() < whole.size());
    }
};

QTEST_GUILESS_MAIN(TestDefaultAssets)
#include "tst_defaultassets.moc"
