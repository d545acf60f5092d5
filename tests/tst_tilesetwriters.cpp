#include "atlasbuilder.h"
#include "blobmask.h"
#include "godottilesetwriter.h"
#include "tiledtilesetwriter.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

QString dataFile(const QString &name)
{
    return qEnvironmentVariable("TW_SOURCE_DIR") + QStringLiteral("/tests/data/") + name;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage plainTile(const QSize &size, int shade)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(qRgba(shade, 255 - shade, 128, 255));
    return image;
}

// All 47 blob tiles under the library's names, in name order, then two
// tiles that belong to no terrain.
QVector<AtlasTile> blobSetWithExtras(const QSize &size)
{
    QVector<AtlasTile> tiles;
    for (int mask : BlobMask::all())
        tiles.append({BlobMask::fileName(mask), plainTile(size, mask)});
    tiles.append({QStringLiteral("platform.png"), plainTile(size, 7)});
    tiles.append({QStringLiteral("slope_left.png"), plainTile(size, 9)});
    return tiles;
}

AtlasLayout packed(const QVector<AtlasTile> &tiles, const AtlasOptions &options)
{
    AtlasSheet sheet;
    QString error;
    if (!AtlasBuilder::pack(tiles, options, &sheet, &error))
        qFatal("packing failed: %s", qPrintable(error));
    return sheet.layout;
}

// The wangid Tiled expects for a mask, worked out from the bit values alone:
// top N=1, top-right NE=2, right E=4, bottom-right SE=8, bottom S=16,
// bottom-left SW=32, left W=64, top-left NW=128.
QString expectedWangId(int mask)
{
    static const int order[8] = {1, 2, 4, 8, 16, 32, 64, 128};
    QStringList parts;
    for (int bit : order)
        parts.append((mask & bit) ? QStringLiteral("1") : QStringLiteral("0"));
    return parts.join(QLatin1Char(','));
}

struct ParsedTsx
{
    QXmlStreamAttributes tileset;
    QXmlStreamAttributes image;
    QXmlStreamAttributes wangset;
    QVector<QXmlStreamAttributes> colors;
    QMap<int, QString> wangIds; // tile id -> wangid
    int duplicateTileIds = 0;
    QString error;
};

ParsedTsx parseTsx(const QByteArray &xml)
{
    ParsedTsx parsed;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringRef name = r.name();
        if (name == QLatin1String("tileset"))
            parsed.tileset = r.attributes();
        else if (name == QLatin1String("image"))
            parsed.image = r.attributes();
        else if (name == QLatin1String("wangset"))
            parsed.wangset = r.attributes();
        else if (name == QLatin1String("wangcolor"))
            parsed.colors.append(r.attributes());
        else if (name == QLatin1String("wangtile")) {
            const int id = r.attributes().value(QLatin1String("tileid")).toInt();
            if (parsed.wangIds.contains(id))
                ++parsed.duplicateTileIds;
            parsed.wangIds.insert(id, r.attributes().value(QLatin1String("wangid")).toString());
        }
    }
    if (r.hasError())
        parsed.error = r.errorString();
    return parsed;
}

QString attr(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)).toString();
}

// The peering bits written for one tile of a .tres, by atlas cell "c:r".
QMap<QString, QSet<QString>> peeringBitsByCell(const QString &text)
{
    QMap<QString, QSet<QString>> bits;
    const QRegularExpression line(QStringLiteral("^(\\d+:\\d+)/0/terrains_peering_bit/(\\w+) = 0$"),
                                  QRegularExpression::MultilineOption);
    auto it = line.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        bits[m.captured(1)].insert(m.captured(2));
    }
    return bits;
}

} // namespace

Q_DECLARE_METATYPE(AtlasOptions)

class TestTilesetWriters : public QObject
{
    Q_OBJECT

private slots:
    void maskFromFileName_data();
    void maskFromFileName();
    void canonical_data();
    void canonical();
    void allMasks_areThe47CanonicalValues();
    void libraryNames_roundTrip();

    void tsx_attributesAndEveryWangId_data();
    void tsx_attributesAndEveryWangId();
    void tsx_imagePathIsRelativeToTsx();
    void tsx_noBlobTiles_hasNoWangSet();
    void tsx_invalidColourIndex_isRefused_data();
    void tsx_invalidColourIndex_isRefused();
    void tsx_noColours_isRefused();
    void tsx_missingFolder_fails();

    void tres_matchesHandWrittenFile();
    void tres_resPathAndEscapedName();
    void tres_everyBlobTileHasItsPeeringBits();
    void tres_oddTileSize_centresPolygon();
    void tres_emptyLayout_isRefused();
};

void TestTilesetWriters::maskFromFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mask");

    QTest::newRow("isolated") << "blob_000.png" << 0;
    QTest::newRow("full") << "blob_255.png" << 255;
    QTest::newRow("notop marker") << "blob_255_notop.png" << 255;
    QTest::newRow("edges only") << "blob_085_notop.png" << 85;
    QTest::newRow("upper-case") << "BLOB_071_NOTOP.PNG" << 71;
    QTest::newRow("mixed-case extension") << "blob_004.Png" << 4;
    QTest::newRow("with folder") << "/some/dir/blob_020.png" << 20;
    QTest::newRow("folder named like a blob") << "blob_004.png/slope.png" << int(BlobMask::None);

    QTest::newRow("corner without its edges") << "blob_002.png" << int(BlobMask::None);
    QTest::newRow("corner with one edge") << "blob_003.png" << int(BlobMask::None);
    QTest::newRow("over 255") << "blob_256.png" << int(BlobMask::None);
    QTest::newRow("two digits") << "blob_71.png" << int(BlobMask::None);
    QTest::newRow("four digits") << "blob_0071.png" << int(BlobMask::None);
    QTest::newRow("other marker") << "blob_071_top.png" << int(BlobMask::None);
    QTest::newRow("notop without underscore") << "blob_071notop.png" << int(BlobMask::None);
    QTest::newRow("text after marker") << "blob_071_notop_2.png" << int(BlobMask::None);
    QTest::newRow("other extension") << "blob_071.jpg" << int(BlobMask::None);
    QTest::newRow("backup copy") << "blob_071.png.bak" << int(BlobMask::None);
    QTest::newRow("prefix") << "my_blob_071.png" << int(BlobMask::None);
    QTest::newRow("sign") << "blob_-71.png" << int(BlobMask::None);
    QTest::newRow("other script digits")
        << QString::fromUtf8("blob_\u0660\u0667\u0661.png") << int(BlobMask::None);
    QTest::newRow("slope") << "slope_left.png" << int(BlobMask::None);
    QTest::newRow("empty") << "" << int(BlobMask::None);
}

void TestTilesetWriters::maskFromFileName()
{
    QFETCH(QString, name);
    QFETCH(int, mask);
    QCOMPARE(BlobMask::fromFileName(name), mask);
}

void TestTilesetWriters::canonical_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<int>("expected");

    QTest::newRow("nothing") << 0 << 0;
    QTest::newRow("lone corner") << int(BlobMask::NE) << 0;
    QTest::newRow("corner with one edge") << (BlobMask::N | BlobMask::NE) << int(BlobMask::N);
    QTest::newRow("corner with both edges")
        << (BlobMask::N | BlobMask::NE | BlobMask::E) << (BlobMask::N | BlobMask::NE | BlobMask::E);
    QTest::newRow("all corners, no edges") << (2 | 8 | 32 | 128) << 0;
    QTest::newRow("bottom-left kept, others dropped")
        << (BlobMask::S | BlobMask::SW | BlobMask::W | BlobMask::NE | BlobMask::SE)
        << (BlobMask::S | BlobMask::SW | BlobMask::W);
    QTest::newRow("everything") << 255 << 255;
    QTest::newRow("bits beyond 8 ignored") << (0x100 | 255) << 255;
}

void TestTilesetWriters::canonical()
{
    QFETCH(int, raw);
    QFETCH(int, expected);
    QCOMPARE(BlobMask::canonical(raw), expected);
    QVERIFY(BlobMask::isCanonical(expected));
}

void TestTilesetWriters::allMasks_areThe47CanonicalValues()
{
    const QVector<int> &all = BlobMask::all();
    QCOMPARE(all.size(), 47);
    QCOMPARE(int(BlobMask::Count), 47);
    QVERIFY(std::is_sorted(all.begin(), all.end()));
    QSet<int> reached;
    for (int raw = 0; raw < 256; ++raw)
        reached.insert(BlobMask::canonical(raw));
    QCOMPARE(reached, QSet<int>(all.begin(), all.end()));
    QVERIFY(!BlobMask::isCanonical(-1));
    QVERIFY(!BlobMask::isCanonical(256));
}

void TestTilesetWriters::libraryNames_roundTrip()
{
    QCOMPARE(BlobMask::fileName(0), QStringLiteral("blob_000.png"));
    QCOMPARE(BlobMask::fileName(28), QStringLiteral("blob_028.png"));
    QCOMPARE(BlobMask::fileName(71), QStringLiteral("blob_071_notop.png"));
    for (int mask : BlobMask::all())
        QCOMPARE(BlobMask::fromFileName(BlobMask::fileName(mask)), mask);
}

void TestTilesetWriters::tsx_attributesAndEveryWangId_data()
{
    QTest::addColumn<AtlasOptions>("options");
    QTest::addColumn<int>("tiledColumns");
    QTest::addColumn<int>("tileCount");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("spacing");

    // 49 tiles: 12 x 5 cells.
    QTest::newRow("default layout") << AtlasOptions() << 12 << 60 << 0 << 0;
    QTest::newRow("margin and spacing") << AtlasOptions{7, 2, 1, 0, false} << 7 << 49 << 2 << 1;
    QTest::newRow("extruded") << AtlasOptions{0, 0, 0, 2, false} << 12 << 60 << 2 << 4;
    // 12 * 16 + 11 * 2 + 2 = 216 -> 256 wide, 14 cells; 90 -> 128 high, 7 rows.
    QTest::newRow("extruded, power of two") << AtlasOptions{0, 0, 0, 1, true} << 14 << 98 << 1 << 2;
}

void TestTilesetWriters::tsx_attributesAndEveryWangId()
{
    QFETCH(AtlasOptions, options);
    QFETCH(int, tiledColumns);
    QFETCH(int, tileCount);
    QFETCH(int, margin);
    QFETCH(int, spacing);

    const QVector<AtlasTile> tiles = blobSetWithExtras(QSize(16, 16));
    const AtlasLayout layout = packed(tiles, options);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tsxPath = dir.filePath(QStringLiteral("terrain.tsx"));
    TiledTilesetWriter writer(layout);
    QString error;
    QVERIFY2(writer.write(tsxPath, dir.filePath(QStringLiteral("terrain.png")), &error),
             qPrintable(error));

    const ParsedTsx tsx = parseTsx(readFile(tsxPath));
    QVERIFY2(tsx.error.isEmpty(), qPrintable(tsx.error));
    QCOMPARE(attr(tsx.tileset, "version"), QStringLiteral("1.8"));
    QCOMPARE(attr(tsx.tileset, "tiledversion"), QStringLiteral("1.8.2"));
    QCOMPARE(attr(tsx.tileset, "name"), QStringLiteral("terrain"));
    QCOMPARE(attr(tsx.tileset, "tilewidth"), QStringLiteral("16"));
    QCOMPARE(attr(tsx.tileset, "tileheight"), QStringLiteral("16"));
    QCOMPARE(attr(tsx.tileset, "margin").toInt(), margin);
    QCOMPARE(attr(tsx.tileset, "spacing").toInt(), spacing);
    QCOMPARE(attr(tsx.tileset, "columns").toInt(), tiledColumns);
    QCOMPARE(attr(tsx.tileset, "tilecount").toInt(), tileCount);
    QCOMPARE(attr(tsx.image, "source"), QStringLiteral("terrain.png"));
    QCOMPARE(attr(tsx.image, "width").toInt(), layout.sheetSize.width());
    QCOMPARE(attr(tsx.image, "height").toInt(), layout.sheetSize.height());

    QCOMPARE(attr(tsx.wangset, "type"), QStringLiteral("mixed"));
    QCOMPARE(attr(tsx.wangset, "tile"), QStringLiteral("-1"));
    QVERIFY(!attr(tsx.wangset, "name").isEmpty());
    QCOMPARE(tsx.colors.size(), 1);
    QCOMPARE(attr(tsx.colors.first(), "name"), QStringLiteral("Solid"));
    QVERIFY(QColor(attr(tsx.colors.first(), "color")).isValid());
    QCOMPARE(attr(tsx.colors.first(), "tile"), QStringLiteral("-1"));
    QCOMPARE(attr(tsx.colors.first(), "probability"), QStringLiteral("1"));

    // Every blob tile under the id of the cell it was packed into, nothing else.
    QCOMPARE(tsx.duplicateTileIds, 0);
    // All but the isolated tile, whose all-zero wangid Tiled would drop.
    QCOMPARE(tsx.wangIds.size(), 46);
    for (int i = 0; i < layout.tileCount(); ++i) {
        const QPoint cell = layout.cell(i);
        const int tileId = cell.y() * tiledColumns + cell.x();
        const int mask = BlobMask::fromFileName(layout.names.at(i));
        if (mask == BlobMask::None) {
            QVERIFY2(!tsx.wangIds.contains(tileId), qPrintable(layout.names.at(i)));
            continue;
        }
        QCOMPARE(tsx.wangIds.contains(tileId), mask != 0);
        if (mask != 0)
            QCOMPARE(tsx.wangIds.value(tileId), expectedWangId(mask));
    }
}

void TestTilesetWriters::tsx_imagePathIsRelativeToTsx()
{
    const AtlasLayout layout = packed(blobSetWithExtras(QSize(8, 8)).mid(0, 3), AtlasOptions());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("maps")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("art/tiles")));
    const QString tsxPath = dir.filePath(QStringLiteral("maps/ground.tsx"));
    TiledTilesetWriter writer(layout);
    writer.setName(QStringLiteral("Ground & <Rock>"));
    QVERIFY(writer.write(tsxPath, dir.filePath(QStringLiteral("art/tiles/ground.png"))));
    const ParsedTsx tsx = parseTsx(readFile(tsxPath));
    QVERIFY(tsx.error.isEmpty());
    QCOMPARE(attr(tsx.image, "source"), QStringLiteral("../art/tiles/ground.png"));
    QCOMPARE(attr(tsx.tileset, "name"), QStringLiteral("Ground & <Rock>"));
}

void TestTilesetWriters::tsx_noBlobTiles_hasNoWangSet()
{
    const QVector<AtlasTile> tiles{{QStringLiteral("slope.png"), plainTile(QSize(8, 8), 1)},
                                   {QStringLiteral("ledge.png"), plainTile(QSize(8, 8), 2)}};
    const QByteArray xml =
        TiledTilesetWriter(packed(tiles, AtlasOptions())).toXml(QStringLiteral("a.png"));
    const ParsedTsx tsx = parseTsx(xml);
    QVERIFY(tsx.error.isEmpty());
    QCOMPARE(attr(tsx.tileset, "tilecount"), QStringLiteral("2"));
    QVERIFY(tsx.wangset.isEmpty());
    QVERIFY(!xml.contains("wangsets"));
}

void TestTilesetWriters::tsx_invalidColourIndex_isRefused_data()
{
    QTest::addColumn<int>("value");
    QTest::newRow("one past the colours") << 2;
    QTest::newRow("negative") << -1;
    QTest::newRow("far out") << 256;
}

void TestTilesetWriters::tsx_invalidColourIndex_isRefused()
{
    QFETCH(int, value);
    const AtlasLayout layout = packed(blobSetWithExtras(QSize(8, 8)), AtlasOptions());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tsxPath = dir.filePath(QStringLiteral("t.tsx"));
    QFile old(tsxPath);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("previous");
    old.close();

    TiledTilesetWriter writer(layout);
    TiledTilesetWriter::WangId id{1, 1, 1, 0, 0, 0, 0, 0};
    id[5] = value;
    writer.setWangId(3, id);
    QString error;
    QVERIFY(writer.toXml(QStringLiteral("t.png"), &error).isEmpty());
    QVERIFY2(error.contains(QString::number(value)) && error.contains(layout.names.at(3)),
             qPrintable(error));
    QVERIFY(!writer.write(tsxPath, dir.filePath(QStringLiteral("t.png")), &error));
    QCOMPARE(readFile(tsxPath), QByteArray("previous"));

    // The same id is fine once the set has that many colours.
    if (value == 2) {
        writer.setColors({{QStringLiteral("Dirt"), QColor(Qt::darkYellow), 1.0},
                          {QStringLiteral("Rock"), QColor(Qt::gray), 0.5}});
        const ParsedTsx tsx = parseTsx(writer.toXml(QStringLiteral("t.png")));
        QCOMPARE(tsx.colors.size(), 2);
        QCOMPARE(tsx.wangIds.value(writer.tileId(3)), QStringLiteral("1,1,1,0,0,2,0,0"));
    }
}

void TestTilesetWriters::tsx_noColours_isRefused()
{
    TiledTilesetWriter writer(packed(blobSetWithExtras(QSize(8, 8)), AtlasOptions()));
    writer.setColors({});
    QString error;
    QVERIFY(writer.toXml(QStringLiteral("t.png"), &error).isEmpty());
    QVERIFY(!error.isEmpty());
}

void TestTilesetWriters::tsx_missingFolder_fails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tsxPath = dir.filePath(QStringLiteral("gone/t.tsx"));
    TiledTilesetWriter writer(packed(blobSetWithExtras(QSize(8, 8)), AtlasOptions()));
    QString error;
    QVERIFY(!writer.write(tsxPath, dir.filePath(QStringLiteral("t.png")), &error));
    QVERIFY2(error.contains(QLatin1String("t.tsx")), qPrintable(error));
    QVERIFY(!QFile::exists(tsxPath));
}

void TestTilesetWriters::tres_matchesHandWrittenFile()
{
    // Two blob tiles and an unlabelled slope, two columns, extruded by 1.
    const QVector<AtlasTile> tiles{
        {QStringLiteral("blob_000.png"), plainTile(QSize(16, 16), 1)},
        {QStringLiteral("blob_031_notop.png"), plainTile(QSize(16, 16), 2)},
        {QStringLiteral("slope_left.png"), plainTile(QSize(16, 16), 3)}};
    const AtlasLayout layout = packed(tiles, AtlasOptions{2, 0, 0, 1, false});
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tresPath = dir.filePath(QStringLiteral("small.tres"));
    QString error;
    QVERIFY2(GodotTilesetWriter(layout).write(tresPath, dir.filePath(QStringLiteral("atlas.png")),
                                              &error),
             qPrintable(error));
    const QByteArray expected = readFile(dataFile(QStringLiteral("godot_small.tres")));
    QVERIFY(!expected.isEmpty());
    QCOMPARE(QString::fromUtf8(readFile(tresPath)), QString::fromUtf8(expected));
}

void TestTilesetWriters::tres_resPathAndEscapedName()
{
    const AtlasLayout layout =
        packed({{QStringLiteral("blob_255.png"), plainTile(QSize(8, 8), 1)}}, AtlasOptions());
    GodotTilesetWriter writer(layout);
    writer.setTexturePath(QStringLiteral("res://tiles/ground.png"));
    writer.setTerrainName(QStringLiteral("Say \"rock\\stone\""));
    writer.setTerrainColor(QColor(0, 128, 255, 64));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tresPath = dir.filePath(QStringLiteral("g.tres"));
    QVERIFY(writer.write(tresPath, dir.filePath(QStringLiteral("elsewhere.png"))));
    const QString text = QString::fromUtf8(readFile(tresPath));
    QVERIFY(text.contains(
        QLatin1String("[ext_resource type=\"Texture2D\" path=\"res://tiles/ground.png\"")));
    QVERIFY(text.contains(
        QLatin1String("terrain_set_0/terrain_0/name = \"Say \\\"rock\\\\stone\\\"\"\n")));
    QVERIFY(text.contains(
        QLatin1String("terrain_set_0/terrain_0/color = Color(0, 0.5019608, 1, 0.2509804)\n")));
}

void TestTilesetWriters::tres_everyBlobTileHasItsPeeringBits()
{
    const AtlasLayout layout =
        packed(blobSetWithExtras(QSize(16, 16)), AtlasOptions{0, 1, 0, 1, true});
    const QByteArray first = GodotTilesetWriter(layout).toText(QStringLiteral("a.png"));
    QCOMPARE(GodotTilesetWriter(layout).toText(QStringLiteral("a.png")), first);
    const QString text = QString::fromUtf8(first);
    QVERIFY(text.contains(QLatin1String("margins = Vector2i(2, 2)\n")));
    QVERIFY(text.contains(QLatin1String("separation = Vector2i(2, 2)\n")));

    const QMap<QString, QSet<QString>> bits = peeringBitsByCell(text);
    // Godot's names, with y pointing down.
    const QVector<QPair<int, QString>> names{{BlobMask::E, QStringLiteral("right_side")},
                                             {BlobMask::SE, QStringLiteral("bottom_right_corner")},
                                             {BlobMask::S, QStringLiteral("bottom_side")},
                                             {BlobMask::SW, QStringLiteral("bottom_left_corner")},
                                             {BlobMask::W, QStringLiteral("left_side")},
                                             {BlobMask::NW, QStringLiteral("top_left_corner")},
                                             {BlobMask::N, QStringLiteral("top_side")},
                                             {BlobMask::NE, QStringLiteral("top_right_corner")}};
    for (int i = 0; i < layout.tileCount(); ++i) {
        const QPoint c = layout.cell(i);
        const QString cell = QStringLiteral("%1:%2").arg(c.x()).arg(c.y());
        QVERIFY2(text.contains(QStringLiteral("\n%1/0 = 0\n").arg(cell)), qPrintable(cell));
        const int mask = BlobMask::fromFileName(layout.names.at(i));
        const bool blob = mask != BlobMask::None;
        QCOMPARE(text.contains(QStringLiteral("\n%1/0/terrain = 0\n").arg(cell)), blob);
        QCOMPARE(
            text.contains(QStringLiteral("\n%1/0/physics_layer_0/polygon_0/points = ").arg(cell)),
            blob);
        QSet<QString> expected;
        for (const auto &name : names) {
            if (blob && (mask & name.first))
                expected.insert(name.second);
        }
        QCOMPARE(bits.value(cell), expected);
    }
    // Godot reads the tile set's layers before its sources.
    QVERIFY(text.indexOf(QLatin1String("[ext_resource")) <
            text.indexOf(QLatin1String("[sub_resource")));
    QVERIFY(text.indexOf(QLatin1String("terrain_set_0/mode")) <
            text.indexOf(QLatin1String("sources/0")));
    QVERIFY(!text.contains(QLatin1String("load_steps")));
}

void TestTilesetWriters::tres_oddTileSize_centresPolygon()
{
    const AtlasLayout layout =
        packed({{QStringLiteral("blob_016.png"), plainTile(QSize(15, 10), 1)}}, AtlasOptions());
    const QString text =
        QString::fromUtf8(GodotTilesetWriter(layout).toText(QStringLiteral("a.png")));
    QVERIFY2(
        text.contains(QLatin1String("0:0/0/physics_layer_0/polygon_0/points = "
                                    "PackedVector2Array(-7.5, -5, 7.5, -5, 7.5, 5, -7.5, 5)\n")),
        qPrintable(text));
    QVERIFY(text.contains(QLatin1String("texture_region_size = Vector2i(15, 10)\n")));
    QVERIFY(text.contains(QLatin1String("tile_size = Vector2i(15, 10)\n")));
}

void TestTilesetWriters::tres_emptyLayout_isRefused()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tresPath = dir.filePath(QStringLiteral("g.tres"));
    QString error;
    QVERIFY(!GodotTilesetWriter(AtlasLayout())
                 .write(tresPath, dir.filePath(QStringLiteral("a.png")), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(tresPath));
}

QTEST_GUILESS_MAIN(TestTilesetWriters)
#include "tst_tilesetwriters.moc"
