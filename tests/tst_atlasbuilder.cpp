#include "atlasbuilder.h"
#include "tmpfsmount.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A tile whose every pixel differs from every other pixel of every other
// tile, semi-transparent ones included, so a misplaced or blended pixel
// cannot go unnoticed.
QImage patternTile(int index, int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(index * 5 + 1, x * 7 + 3, y * 11 + 5, 40 + (x + y) % 200));
    }
    return image;
}

QVector<AtlasTile> patternTiles(int count, int width, int height)
{
    QVector<AtlasTile> tiles;
    for (int i = 0; i < count; ++i)
        tiles.append({QStringLiteral("tile_%1.png").arg(i, 3, 10, QLatin1Char('0')),
                      patternTile(i, width, height)});
    return tiles;
}

bool samePixels(const QImage &a, const QImage &b)
{
    return a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

Q_DECLARE_METATYPE(AtlasOptions)

class TestAtlasBuilder : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void tilesKeepTheirPixelsAndOrder_data();
    void tilesKeepTheirPixelsAndOrder();
    void extrusion_repeatsEdgePixels_data();
    void extrusion_repeatsEdgePixels();
    void packTwice_givesIdenticalSheets();
    void otherImageFormats_areCopiedExactly();

    void pack_emptyList_fails();
    void pack_nullImage_fails();
    void pack_mixedSizes_failsNamingTile();
    void pack_negativeOption_fails_data();
    void pack_negativeOption_fails();
    void pack_tooLarge_fails();

    void writePng_roundTripsPixels();
    void writePng_missingFolder_failsWithoutFile();
    void writePng_fullDisk_keepsOldFile();
};

void TestAtlasBuilder::layout_data()
{
    QTest::addColumn<QSize>("tileSize");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("extrusion");
    QTest::addColumn<bool>("powerOfTwo");
    QTest::addColumn<QSize>("sheetSize");
    QTest::addColumn<QSize>("grid");       // columns x rows as packed
    QTest::addColumn<QSize>("editorGrid"); // columns x rows an editor finds
    QTest::addColumn<int>("cutMargin");    // margin and spacing as an editor cuts
    QTest::addColumn<int>("cutSpacing");

    // 12 x 32 = 384; 4 rows x 32 = 128.
    QTest::newRow("blob set, default columns")
        << QSize(32, 32) << 47 << 0 << 0 << 0 << 0 << false << QSize(384, 128) << QSize(12, 4)
        << QSize(12, 4) << 0 << 0;
    QTest::newRow("blob set plus extras, default columns")
        << QSize(32, 32) << 50 << 0 << 0 << 0 << 0 << false << QSize(384, 160) << QSize(12, 5)
        << QSize(12, 5) << 0 << 0;
    QTest::newRow("fewer tiles than the default columns")
        << QSize(32, 32) << 3 << 0 << 0 << 0 << 0 << false << QSize(96, 32) << QSize(3, 1)
        << QSize(3, 1) << 0 << 0;
    QTest::newRow("explicit columns") << QSize(32, 32) << 47 << 5 << 0 << 0 << 0 << false
                                      << QSize(160, 320) << QSize(5, 10) << QSize(5, 10) << 0 << 0;
    QTest::newRow("explicit columns wider than the tiles")
        << QSize(16, 16) << 3 << 5 << 0 << 0 << 0 << false << QSize(80, 16) << QSize(5, 1)
        << QSize(5, 1) << 0 << 0;
    QTest::newRow("one column") << QSize(16, 16) << 4 << 1 << 0 << 0 << 0 << false << QSize(16, 64)
                                << QSize(1, 4) << QSize(1, 4) << 0 << 0;
    // 2*2 + 12*32 + 11*1 = 399; 2*2 + 4*32 + 3*1 = 135.
    QTest::newRow("margin and spacing")
        << QSize(32, 32) << 47 << 12 << 2 << 1 << 0 << false << QSize(399, 135) << QSize(12, 4)
        << QSize(12, 4) << 2 << 1;
    // Margin E = 2, spacing 2E = 4: 4 + 384 + 44 = 432; 4 + 128 + 12 = 144.
    QTest::newRow("extrusion alone") << QSize(32, 32) << 47 << 12 << 0 << 0 << 2 << false
                                     << QSize(432, 144) << QSize(12, 4) << QSize(12, 4) << 2 << 4;
    // Margin 1 + 2 = 3, spacing 3 + 4 = 7: 6 + 384 + 77 = 467; 6 + 128 + 21 = 155.
    QTest::newRow("extrusion with margin and spacing")
        << QSize(32, 32) << 47 << 12 << 1 << 3 << 2 << false << QSize(467, 155) << QSize(12, 4)
        << QSize(12, 4) << 3 << 7;
    // 408 x 136 padded to 512 x 256, where an editor finds 15 x 7 cells.
    QTest::newRow("power of two") << QSize(32, 32) << 47 << 12 << 0 << 0 << 1 << true
                                  << QSize(512, 256) << QSize(12, 4) << QSize(15, 7) << 1 << 2;
    QTest::newRow("power of two already") << QSize(16, 16) << 8 << 4 << 0 << 0 << 0 << true
                                          << QSize(64, 32) << QSize(4, 2) << QSize(4, 2) << 0 << 0;
    // 3*16 = 48 -> 64 wide; 2*8 = 16 high stays.
    QTest::newRow("power of two, wide tiles")
        << QSize(16, 8) << 6 << 3 << 0 << 0 << 0 << true << QSize(64, 16) << QSize(3, 2)
        << QSize(4, 2) << 0 << 0;
    // A margin wider than a cell lets an editor find one more cell per row.
    QTest::newRow("margin wider than a cell")
        << QSize(8, 8) << 4 << 2 << 9 << 0 << 0 << false << QSize(34, 34) << QSize(2, 2)
        << QSize(3, 3) << 9 << 0;
}

void TestAtlasBuilder::layout()
{
    QFETCH(QSize, tileSize);
    QFETCH(int, count);
    QFETCH(int, columns);
    QFETCH(int, margin);
    QFETCH(int, spacing);
    QFETCH(int, extrusion);
    QFETCH(bool, powerOfTwo);
    QFETCH(QSize, sheetSize);
    QFETCH(QSize, grid);
    QFETCH(QSize, editorGrid);
    QFETCH(int, cutMargin);
    QFETCH(int, cutSpacing);

    AtlasOptions options;
    options.columns = columns;
    options.margin = margin;
    options.spacing = spacing;
    options.extrusion = extrusion;
    options.powerOfTwo = powerOfTwo;
    AtlasSheet sheet;
    QString error;
    QVERIFY2(AtlasBuilder::pack(patternTiles(count, tileSize.width(), tileSize.height()), options,
                                &sheet, &error),
             qPrintable(error));

    const AtlasLayout &l = sheet.layout;
    QCOMPARE(sheet.image.size(), sheetSize);
    QCOMPARE(l.sheetSize, sheetSize);
    QCOMPARE(l.tileSize, tileSize);
    QCOMPARE(QSize(l.columns, l.rows), grid);
    QCOMPARE(QSize(l.gridColumns(), l.gridRows()), editorGrid);
    QCOMPARE(l.margin, cutMargin);
    QCOMPARE(l.spacing, cutSpacing);
    QCOMPARE(l.extrusion, extrusion);
    QCOMPARE(l.tileRects.size(), count);
    // Every tile where an editor cutting with margin and spacing looks for it.
    for (int i = 0; i < count; ++i) {
        const int col = i % grid.width();
        const int row = i / grid.width();
        const QRect expected(cutMargin + col * (tileSize.width() + cutSpacing),
                             cutMargin + row * (tileSize.height() + cutSpacing), tileSize.width(),
                             tileSize.height());
        QCOMPARE(l.tileRects.at(i), expected);
        QCOMPARE(l.cell(i), QPoint(col, row));
        // The extruded border must stay on the sheet.
        QVERIFY(sheet.image.rect().contains(
            expected.adjusted(-extrusion, -extrusion, extrusion, extrusion)));
    }
}

void TestAtlasBuilder::tilesKeepTheirPixelsAndOrder_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("extrusion");
    QTest::addColumn<bool>("powerOfTwo");

    QTest::newRow("packed tight") << 0 << 0 << 0 << 0 << false;
    QTest::newRow("margin and spacing") << 4 << 3 << 2 << 0 << false;
    QTest::newRow("extruded") << 5 << 0 << 0 << 2 << false;
    QTest::newRow("everything") << 3 << 1 << 1 << 3 << true;
}

void TestAtlasBuilder::tilesKeepTheirPixelsAndOrder()
{
    QFETCH(int, columns);
    QFETCH(int, margin);
    QFETCH(int, spacing);
    QFETCH(int, extrusion);
    QFETCH(bool, powerOfTwo);

    // Names out of alphabetical order: the given order is the order.
    QVector<AtlasTile> tiles = patternTiles(14, 6, 5);
    std::reverse(tiles.begin(), tiles.end());
    AtlasOptions options{columns, margin, spacing, extrusion, powerOfTwo};
    AtlasSheet sheet;
    QVERIFY(AtlasBuilder::pack(tiles, options, &sheet));

    QImage covered(sheet.image.size(), QImage::Format_Mono);
    covered.fill(0);
    for (int i = 0; i < tiles.size(); ++i) {
        QCOMPARE(sheet.layout.names.at(i), tiles.at(i).name);
        const QRect rect = sheet.layout.tileRects.at(i);
        QVERIFY2(sheet.image.copy(rect) == tiles.at(i).image, qPrintable(tiles.at(i).name));
        const QRect extruded = rect.adjusted(-extrusion, -extrusion, extrusion, extrusion);
        for (int y = extruded.top(); y <= extruded.bottom(); ++y) {
            for (int x = extruded.left(); x <= extruded.right(); ++x) {
                QVERIFY2(covered.pixelIndex(x, y) == 0, "two tiles overlap");
                covered.setPixel(x, y, 1);
            }
        }
    }
    // Margins, gaps and spare cells stay fully transparent.
    for (int y = 0; y < sheet.image.height(); ++y) {
        for (int x = 0; x < sheet.image.width(); ++x) {
            if (covered.pixelIndex(x, y) == 0)
                QCOMPARE(sheet.image.pixel(x, y), qRgba(0, 0, 0, 0));
        }
    }
}

void TestAtlasBuilder::extrusion_repeatsEdgePixels_data()
{
    QTest::addColumn<int>("extrusion");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("spacing");

    QTest::newRow("1 pixel") << 1 << 0 << 0;
    QTest::newRow("3 pixels") << 3 << 0 << 0;
    QTest::newRow("2 pixels with margin and spacing") << 2 << 4 << 3;
}

void TestAtlasBuilder::extrusion_repeatsEdgePixels()
{
    QFETCH(int, extrusion);
    QFETCH(int, margin);
    QFETCH(int, spacing);

    const QVector<AtlasTile> tiles = patternTiles(4, 5, 4);
    AtlasSheet sheet;
    QVERIFY(AtlasBuilder::pack(tiles, AtlasOptions{2, margin, spacing, extrusion, false}, &sheet));

    for (int i = 0; i < tiles.size(); ++i) {
        const QImage &tile = tiles.at(i).image;
        const QRect rect = sheet.layout.tileRects.at(i);
        const QRect extruded = rect.adjusted(-extrusion, -extrusion, extrusion, extrusion);
        // Each pixel of the border is the nearest of the tile's own pixels.
        for (int y = extruded.top(); y <= extruded.bottom(); ++y) {
            for (int x = extruded.left(); x <= extruded.right(); ++x) {
                const int sx = qBound(0, x - rect.x(), tile.width() - 1);
                const int sy = qBound(0, y - rect.y(), tile.height() - 1);
                QVERIFY2(sheet.image.pixel(x, y) == tile.pixel(sx, sy),
                         qPrintable(QStringLiteral("tile %1 at %2,%3").arg(i).arg(x).arg(y)));
            }
        }
        // The margin's and gap's pixels beyond the border are untouched.
        if (margin > 0)
            QCOMPARE(qAlpha(sheet.image.pixel(extruded.left() - 1, extruded.top() - 1)), 0);
    }
}

void TestAtlasBuilder::packTwice_givesIdenticalSheets()
{
    const QVector<AtlasTile> tiles = patternTiles(47, 8, 8);
    const AtlasOptions options{0, 1, 2, 1, true};
    AtlasSheet first;
    AtlasSheet second;
    QVERIFY(AtlasBuilder::pack(tiles, options, &first));
    QVERIFY(AtlasBuilder::pack(tiles, options, &second));
    QVERIFY(first.image == second.image);
    QCOMPARE(first.layout.tileRects, second.layout.tileRects);
    QCOMPARE(first.layout.names, second.layout.names);
    QCOMPARE(AtlasBuilder::encodePng(first.image), AtlasBuilder::encodePng(second.image));
}

void TestAtlasBuilder::otherImageFormats_areCopiedExactly()
{
    QImage rgb(4, 4, QImage::Format_RGB32);
    rgb.fill(qRgb(10, 20, 30));
    rgb.setPixel(3, 3, qRgb(200, 100, 50));
    QImage indexed = patternTile(1, 4, 4).convertToFormat(QImage::Format_Indexed8);
    AtlasSheet sheet;
    QVERIFY(AtlasBuilder::pack({{QStringLiteral("a.png"), rgb}, {QStringLiteral("b.png"), indexed}},
                               AtlasOptions{2, 0, 0, 1, false}, &sheet));
    QCOMPARE(sheet.image.format(), QImage::Format_ARGB32);
    QVERIFY(samePixels(sheet.image.copy(sheet.layout.tileRects.at(0)), rgb));
    QVERIFY(samePixels(sheet.image.copy(sheet.layout.tileRects.at(1)), indexed));
    // An opaque tile's border is opaque too.
    QCOMPARE(sheet.image.pixel(sheet.layout.tileRects.at(0).bottomRight() + QPoint(1, 1)),
             qRgb(200, 100, 50));
}

void TestAtlasBuilder::pack_emptyList_fails()
{
    AtlasSheet sheet;
    QString error;
    QVERIFY(!AtlasBuilder::pack({}, AtlasOptions(), &sheet, &error));
    QVERIFY(error.contains(QLatin1String("No tiles")));
    QVERIFY(sheet.image.isNull());
}

void TestAtlasBuilder::pack_nullImage_fails()
{
    QVector<AtlasTile> tiles = patternTiles(3, 8, 8);
    tiles[1].image = QImage();
    AtlasSheet sheet;
    QString error;
    QVERIFY(!AtlasBuilder::pack(tiles, AtlasOptions(), &sheet, &error));
    QVERIFY2(error.contains(tiles[1].name), qPrintable(error));
    QVERIFY(sheet.image.isNull());
}

void TestAtlasBuilder::pack_mixedSizes_failsNamingTile()
{
    QVector<AtlasTile> tiles = patternTiles(3, 8, 8);
    tiles[2].image = patternTile(2, 8, 9);
    AtlasSheet sheet;
    QString error;
    QVERIFY(!AtlasBuilder::pack(tiles, AtlasOptions(), &sheet, &error));
    QVERIFY2(error.contains(tiles[2].name) && error.contains(QLatin1String("8 x 9")),
             qPrintable(error));
    QVERIFY(sheet.image.isNull());
    QVERIFY(sheet.layout.names.isEmpty());
}

void TestAtlasBuilder::pack_negativeOption_fails_data()
{
    QTest::addColumn<AtlasOptions>("options");
    QTest::newRow("columns") << AtlasOptions{-1, 0, 0, 0, false};
    QTest::newRow("margin") << AtlasOptions{0, -1, 0, 0, false};
    QTest::newRow("spacing") << AtlasOptions{0, 0, -2, 0, false};
    QTest::newRow("extrusion") << AtlasOptions{0, 0, 0, -1, false};
}

void TestAtlasBuilder::pack_negativeOption_fails()
{
    QFETCH(AtlasOptions, options);
    AtlasSheet sheet;
    QString error;
    QVERIFY(!AtlasBuilder::pack(patternTiles(2, 4, 4), options, &sheet, &error));
    QVERIFY(error.contains(QLatin1String("negative")));
    QVERIFY(sheet.image.isNull());
}

void TestAtlasBuilder::pack_tooLarge_fails()
{
    // Options big enough to overflow 32-bit arithmetic must still be caught.
    AtlasSheet sheet;
    QString error;
    QVERIFY(!AtlasBuilder::pack(patternTiles(2, 4, 4), AtlasOptions{0, 0, 0, 1 << 30, false},
                                &sheet, &error));
    QVERIFY2(error.contains(QLatin1String("largest allowed")), qPrintable(error));
    QVERIFY(!AtlasBuilder::pack(patternTiles(3, 4, 4), AtlasOptions{1, 0, 8190, 0, false}, &sheet,
                                &error));
    QVERIFY(sheet.image.isNull());
    // Just inside the limit still packs.
    QVERIFY(AtlasBuilder::pack(patternTiles(3, 4, 4), AtlasOptions{1, 0, 8186, 0, false}, &sheet));
    QCOMPARE(sheet.image.size(), QSize(4, AtlasBuilder::MaxSheetEdge));
}

void TestAtlasBuilder::writePng_roundTripsPixels()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    AtlasSheet sheet;
    QVERIFY(AtlasBuilder::pack(patternTiles(5, 6, 6), AtlasOptions{3, 1, 1, 1, false}, &sheet));
    const QString path = dir.filePath(QStringLiteral("atlas.png"));
    QString error;
    QVERIFY2(AtlasBuilder::writePng(sheet.image, path, &error), qPrintable(error));
    QImage read(path);
    QVERIFY(!read.isNull());
    QVERIFY(samePixels(read, sheet.image));
}

void TestAtlasBuilder::writePng_missingFolder_failsWithoutFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("missing/atlas.png"));
    QString error;
    QVERIFY(!AtlasBuilder::writePng(patternTile(0, 4, 4), path, &error));
    QVERIFY2(error.contains(QLatin1String("atlas.png")), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

void TestAtlasBuilder::writePng_fullDisk_keepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TmpfsMount disk(dir.path());
    if (!disk.mount(QStringLiteral("256k")))
        QSKIP("Needs root to mount a small file system that can be filled.");
    const QString path = dir.filePath(QStringLiteral("atlas.png"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old sheet");
    old.close();
    QVERIFY(disk.fill());

    AtlasSheet sheet;
    QVERIFY(AtlasBuilder::pack(patternTiles(47, 32, 32), AtlasOptions(), &sheet));
    QString error;
    QVERIFY(!AtlasBuilder::writePng(sheet.image, path, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old sheet"));
}

QTEST_GUILESS_MAIN(TestAtlasBuilder)
#include "tst_atlasbuilder.moc"
