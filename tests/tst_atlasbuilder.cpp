#include "atlasfixtures.h"

namespace {

QStringList tileNames(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(QStringLiteral("tile_%1.png").arg(i));
    return names;
}

// Expected: sheet size, columns and rows as packed and as an editor finds them (padding or
// a wide margin leave room for more), margin and spacing it cuts with (extrusion adds E, 2E).
const struct
{
    const char *name;
    int tileWidth, tileHeight, count;
    AtlasOptions options; // columns, margin, spacing, extrusion, power of two
    QVector<int> expected;
} layouts[] = {
    {"blob set, default columns", 32, 32, 47, {}, {384, 128, 12, 4, 12, 4, 0, 0}},
    {"fewer tiles than the default columns", 32, 32, 3, {}, {96, 32, 3, 1, 3, 1, 0, 0}},
    {"explicit columns", 32, 32, 47, {5, 0, 0, 0}, {160, 320, 5, 10, 5, 10, 0, 0}},
    {"margin and spacing", 32, 32, 47, {12, 2, 1, 0}, {399, 135, 12, 4, 12, 4, 2, 1}},
    {"extrusion", 32, 32, 47, {12, 0, 0, 2}, {432, 144, 12, 4, 12, 4, 2, 4}},
    {"extrusion, margin, spacing", 6, 5, 14, {4, 1, 3, 2}, {51, 47, 4, 4, 4, 4, 3, 7}},
    {"power of two", 32, 32, 47, {12, 0, 0, 1, true}, {512, 256, 12, 4, 15, 7, 1, 2}},
    {"power of two, wide tiles", 16, 8, 6, {3, 0, 0, 3, true}, {128, 32, 3, 2, 5, 2, 3, 6}},
    {"margin wider than a cell", 8, 8, 4, {2, 9, 0, 0}, {34, 34, 2, 2, 3, 3, 9, 0}},
    {"largest sheet", 4, 4, 3, {1, 0, 8186, 0}, {4, 16384, 1, 3, 1, 3, 0, 8186}},
};

} // namespace

class TestAtlasBuilder : public QObject
{
    Q_OBJECT

private slots:
    void pack_data();
    void pack();
    void pack_badInput_fails_data();
    void pack_badInput_fails();
};

void TestAtlasBuilder::pack_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(layouts)); ++i)
        QTest::newRow(layouts[i].name) << i;
}

void TestAtlasBuilder::pack()
{
    QFETCH(int, row);
    const auto &c = layouts[row];
    const int e = c.options.extrusion;
    // Names out of alphabetical order (the given order is the order), and
    // tiles of other formats, copied exactly all the same.
    QVector<AtlasTile> tiles = distinctTiles(tileNames(c.count), QSize(c.tileWidth, c.tileHeight));
    std::reverse(tiles.begin(), tiles.end());
    tiles[0].image = tiles[0].image.convertToFormat(QImage::Format_Indexed8);
    tiles[1].image = tiles[1].image.convertToFormat(QImage::Format_RGB32);
    AtlasSheet sheet;
    QString error;
    QVERIFY2(AtlasBuilder::pack(tiles, c.options, &sheet, &error), qPrintable(error));
    const AtlasLayout &l = sheet.layout;
    QCOMPARE(l.sheetSize, sheet.image.size());
    QCOMPARE((QVector<int>{l.sheetSize.width(), l.sheetSize.height(), l.columns, l.rows,
                           l.gridColumns(), l.gridRows(), l.margin, l.spacing}),
             c.expected);
    QCOMPARE(l.names.size(), c.count);
    // Each tile where an editor cutting with that margin and spacing looks for it, each pixel
    // around it its nearest edge pixel, and margins, gaps and spare cells fully clear.
    QImage expected(sheet.image.size(), QImage::Format_ARGB32);
    expected.fill(Qt::transparent);
    for (int i = 0; i < c.count; ++i) {
        const QPoint cell(i % l.columns, i / l.columns);
        const QRect r(l.margin + cell.x() * (c.tileWidth + l.spacing),
                      l.margin + cell.y() * (c.tileHeight + l.spacing), c.tileWidth, c.tileHeight);
        QCOMPARE(l.names.at(i), tiles.at(i).name);
        QCOMPARE(l.tileRects.at(i), r);
        for (int y = r.top() - e; y <= r.bottom() + e; ++y)
            for (int x = r.left() - e; x <= r.right() + e; ++x)
                expected.setPixel(x, y,
                                  tiles.at(i).image.pixel(qBound(0, x - r.x(), r.width() - 1),
                                                          qBound(0, y - r.y(), r.height() - 1)));
    }
    QCOMPARE(sheet.image, expected);
}

void TestAtlasBuilder::pack_badInput_fails_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QSize>("secondSize"); // of the second tile; the others are 4 x 4
    QTest::addColumn<AtlasOptions>("options");
    QTest::addColumn<QString>("message");
    const QSize same(4, 4);
    QTest::newRow("no tiles") << 0 << same << AtlasOptions() << "No tiles";
    QTest::newRow("tile without pixels") << 3 << QSize() << AtlasOptions() << "tile_1.png";
    QTest::newRow("tiles of two sizes")
        << 3 << QSize(4, 5) << AtlasOptions() << "tile_1.png\" is 4 x 5";
    QTest::newRow("negative columns") << 2 << same << AtlasOptions{-1, 0, 0, 0} << "negative";
    QTest::newRow("negative margin") << 2 << same << AtlasOptions{0, -1, 0, 0} << "negative";
    QTest::newRow("negative spacing") << 2 << same << AtlasOptions{0, 0, -2, 0} << "negative";
    QTest::newRow("negative extrusion") << 2 << same << AtlasOptions{0, 0, 0, -1} << "negative";
    QTest::newRow("overflowing 32 bits")
        << 2 << same << AtlasOptions{0, 0, 0, 1 << 30} << "largest allowed";
    QTest::newRow("just over the largest sheet")
        << 3 << same << AtlasOptions{1, 0, 8187, 0} << "largest allowed";
}

// Each refused with a message that names the fault, the sheet untouched.
void TestAtlasBuilder::pack_badInput_fails()
{
    QFETCH(int, count);
    QFETCH(QSize, secondSize);
    QFETCH(AtlasOptions, options);
    QFETCH(QString, message);
    QVector<AtlasTile> tiles = distinctTiles(tileNames(count), QSize(4, 4));
    if (count > 1)
        tiles[1].image = secondSize.isValid() ? distinctTile(1, secondSize) : QImage();
    AtlasSheet sheet;
    QString error;
    QVERIFY(!AtlasBuilder::pack(tiles, options, &sheet, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY(sheet.image.isNull() && sheet.layout.names.isEmpty());
}

QTEST_GUILESS_MAIN(TestAtlasBuilder)
#include "tst_atlasbuilder.moc"
