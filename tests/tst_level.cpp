// The level a design is shown in: which tile each cell takes, its text form,
// and its picture, which must be the tiles a generation run writes.

#include "generatetiles.h"
#include "level.h"
#include "levelrenderer.h"
#include "projectreader.h"
#include "projectwriter.h"
#include "testfiles.h"
#include "tilestyle.h"

#include <QBuffer>
#include <QtTest>

namespace {

const QString Masks = QStringLiteral(TW_ASSETS "/Alpha");

Level levelOf(const QStringList &rows)
{
    Level level;
    QString error;
    if (!Level::fromRows(rows, &level, &error))
        qFatal("bad level: %s", qPrintable(error));
    return level;
}

} // namespace

class TestLevel : public QObject
{
    Q_OBJECT

private slots:
    // The cell at the centre of each little level, and the tile it shows.
    void tileName_followsTheBlobRule_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("tile");
        QTest::newRow("alone") << QStringList{"...", ".#.", "..."} << "blob_000.png";
        QTest::newRow("surrounded") << QStringList{"###", "###", "###"} << "blob_255_notop.png";
        // A corner counts only with both its edges: NE without E is dropped.
        QTest::newRow("corner without its edge")
            << QStringList{".##", ".#.", "..."} << "blob_001_notop.png";
        QTest::newRow("ground under sky") << QStringList{"...", "###", "###"} << "blob_124.png";
        QTest::newRow("slope above") << QStringList{"./.", ".#.", "..."} << "blob_001_notop.png";
        QTest::newRow("high side of a rising slope")
            << QStringList{"...", "/#.", "..."} << "blob_064.png";
        QTest::newRow("low side of a rising slope")
            << QStringList{"...", ".#/", "..."} << "blob_000.png";
        QTest::newRow("high side of a falling slope")
            << QStringList{"...", ".#\\", "..."} << "blob_004.png";
        QTest::newRow("platforms are no ground")
            << QStringList{"=.=", "=#=", "..."} << "blob_000.png";
        QTest::newRow("slope itself") << QStringList{"...", "./.", "..."} << "slope45_up.png";
        QTest::newRow("platform alone")
            << QStringList{"...", ".=.", "..."} << "platform_single.png";
        QTest::newRow("platform, left end")
            << QStringList{"...", ".==", "..."} << "platform_left.png";
        QTest::newRow("platform, middle")
            << QStringList{"...", "===", "..."} << "platform_middle.png";
        QTest::newRow("sky") << QStringList{"###", "#.#", "###"} << "";
    }
    void tileName_followsTheBlobRule()
    {
        QFETCH(QStringList, rows);
        QTEST(levelOf(rows).tileName(1, 1), "tile");
    }

    void fromRows_refusesWhatIsNoLevel_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no rows") << QStringList() << "0 x 0 cells";
        QTest::newRow("ragged") << QStringList{"..", "..."} << "row 2 of the level has 3 cells";
        QTest::newRow("unknown cell") << QStringList{".x"} << "\"x\", which is no cell";
        QTest::newRow("too wide") << QStringList{QString(Level::MaxWidth + 1, '.')} << "257 x 1";
        QTest::newRow("too tall") << QStringList(
                                         QVector<QString>(Level::MaxHeight + 1, ".").toList())
                                  << "1 x 257";
    }
    void fromRows_refusesWhatIsNoLevel()
    {
        QFETCH(QStringList, rows);
        QFETCH(QString, reason);
        Level level(3, 2);
        level.setCell(0, 0, Level::Solid);
        const Level before = level;
        QString error;
        QVERIFY(!Level::fromRows(rows, &level, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(level, before);
    }

    // Every ready-made level reads back from its rows, and the default has every kind of cell.
    void presets_roundTripAndTheDefaultHasEveryKind()
    {
        for (int i = 0; i < Level::presetNames().size(); ++i) {
            const Level level = Level::preset(i);
            Level again;
            QVERIFY(Level::fromRows(level.rows(), &again));
            QCOMPARE(again, level);
        }
        const QString all = Level::defaultLevel().rows().join("");
        for (char kind : {'.', '#', '/', '\\', '='})
            QVERIFY2(all.contains(QLatin1Char(kind)), &kind);
        QCOMPARE(Level::defaultLevel().width(), 32);
        QCOMPARE(Level::defaultLevel().height(), 14);
    }

    // Saved in the project after the design's fields, only when changed; older files and
    // files without one open with the default level; a hostile one is refused whole.
    void projectFile_levelRoundTripAndBounds_data()
    {
        QTest::addColumn<QByteArray>("level"); // the <level> element, none: no element
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("rows"); // as read back; none: the default level
        QTest::newRow("none") << QByteArray() << true << QStringList();
        QTest::newRow("a small one") << QByteArray("<level><row>.#</row><row>/=</row></level>")
                                     << true << QStringList{".#", "/="};
        QTest::newRow("ragged") << QByteArray("<level><row>.#</row><row>.</row></level>") << false
                                << QStringList();
        QTest::newRow("unknown cell")
            << QByteArray("<level><row>x</row></level>") << false << QStringList();
        QTest::newRow("empty") << QByteArray("<level/>") << false << QStringList();
        QTest::newRow("too many rows")
            << "<level>" + QByteArray("<row>.</row>").repeated(Level::MaxHeight + 1) + "</level>"
            << false << QStringList();
        QTest::newRow("largest")
            << "<level>" +
                   ("<row>" + QByteArray(Level::MaxWidth, '#') + "</row>")
                       .repeated(Level::MaxHeight) +
                   "</level>"
            << true
            << QStringList(
                   QVector<QString>(Level::MaxHeight, QString(Level::MaxWidth, '#')).toList());
    }
    void projectFile_levelRoundTripAndBounds()
    {
        QFETCH(QByteArray, level);
        QFETCH(bool, ok);
        QFETCH(QStringList, rows);
        const TileStyle style;
        QByteArray document = ProjectWriter::toByteArray(style);
        document.replace("</project>", level + "</project>");
        QBuffer buffer(&document);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        TileStyle read;
        ProjectReader reader;
        QCOMPARE(reader.read(&buffer, read), ok);
        QVERIFY2(ok || reader.errorString().contains("level"), qPrintable(reader.errorString()));
        if (!ok)
            return;
        QCOMPARE(reader.hasLevel(), !rows.isEmpty());
        QCOMPARE(reader.level().rows(), rows.isEmpty() ? Level::defaultLevel().rows() : rows);
        // Written back, it reads as the same level; the default level adds nothing to the file.
        QByteArray again = ProjectWriter::toByteArray(read, &reader.level());
        QCOMPARE(again.contains("<level>"), !rows.isEmpty());
        QVERIFY(rows.isEmpty() || again == ProjectWriter::toByteArray(style, &reader.level()));
        QVERIFY(!rows.isEmpty() || again == ProjectWriter::toByteArray(style));
        QBuffer back(&again);
        QVERIFY(back.open(QIODevice::ReadOnly) && reader.read(&back, read));
        QCOMPARE(reader.level().rows(), rows.isEmpty() ? Level::defaultLevel().rows() : rows);
    }

    // What the level shows are the tiles a run writes from the same masks, cell by cell;
    // a tile with no mask is marked and named.
    void render_isTheGeneratedTilesAndMarksMissingOnes()
    {
        QVERIFY(QFileInfo(Masks).isDir());
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("masks")) && QDir().mkpath(dir.filePath("out")));
        const Level level = levelOf({"..//.", ".###=", "#####"});
        QStringList used = level.tileNames();
        for (const QString &name : used)
            QVERIFY(QFile::copy(Masks + '/' + name, dir.filePath("masks/" + name)));
        QVERIFY(QFile::remove(dir.filePath("masks/platform_single.png")));
        TileStyle style;
        style.topStyle = Masks + "/../TopStyles/grass.png";
        generateTiles worker;
        worker.setStyle(style);
        worker.alphaDirectory = dir.filePath("masks");
        worker.outputDirectory = dir.filePath("out");
        worker.tileSize = 24;
        worker.doGeneration();

        LevelRenderer renderer(dir.filePath("masks"));
        QStringList missing;
        const QImage image = renderer.render(level, style, 24, &missing);
        QCOMPARE(missing, QStringList{"platform_single.png"});
        QCOMPARE(image.size(), QSize(5 * 24, 3 * 24));
        for (int y = 0; y < level.height(); ++y)
            for (int x = 0; x < level.width(); ++x) {
                const QString name = level.tileName(x, y);
                QImage want(24, 24, QImage::Format_ARGB32_Premultiplied);
                want.fill(Qt::transparent);
                if (name == "platform_single.png")
                    want = LevelRenderer::missingMarker(24);
                else if (!name.isEmpty())
                    want = QImage(dir.filePath("out/" + name))
                               .convertToFormat(QImage::Format_ARGB32_Premultiplied);
                QVERIFY2(image.copy(x * 24, y * 24, 24, 24) == want,
                         qPrintable(QString("cell %1,%2 %3").arg(x).arg(y).arg(name)));
            }
    }
};

QTEST_GUILESS_MAIN(TestLevel)
#include "tst_level.moc"
