// Atlas sheet, Tiled .tsx and Godot .tres of a generated set, and their all-or-nothing export.

#include "atlasfixtures.h"
#include "godottilesetwriter.h"
#include "polygonoperations.h"
#include "tilecollision.h"
#include "tiledtilesetwriter.h"
#include "tilefilewriter.h"
#include "tilesetexport.h"

using Options = TilesetExportOptions;
Q_DECLARE_METATYPE(Options)

namespace {

const QStringList Tiles = blobSetNames();
// Fields: atlas, its file name, columns, margin, spacing, extrusion, power of two, tsx, tres.
const Options All{true, "tileset.png", 0, 0, 0, 0, false, true, true};

// Tile i is distinctTile(i), written last first: the order written is no order.
bool writeTiles(const QTemporaryDir &dir, const QStringList &names, int size)
{
    bool ok = dir.isValid();
    for (int i = names.size() - 1; i >= 0; --i)
        ok = ok && TileFileWriter::write(dir.filePath(names[i]), distinctTile(i, {size, size}));
    return ok;
}

QString wangTile(int id, const QStringList &colours)
{
    return QString("<wangtile tileid=\"%1\" wangid=\"%2\"/>").arg(id).arg(colours.join(','));
}

// Blob tiles but the isolated one (Tiled drops all-zero wangids); wangid order N, NE, ..., NW.
QStringList expectedWangTiles(const AtlasLayout &l)
{
    QStringList tiles;
    for (int i = 0; i < l.tileCount(); ++i) {
        const int mask = BlobMask::fromFileName(l.names.at(i));
        QStringList colours;
        for (int bit = 1; bit <= 128; bit <<= 1)
            colours << QString::number((mask & bit) ? 1 : 0);
        if (mask > 0)
            tiles << wangTile(l.cell(i).y() * l.gridColumns() + l.cell(i).x(), colours);
    }
    tiles.sort();
    return tiles;
}

int tileId(const AtlasLayout &l, int index)
{
    return l.cell(index).y() * l.gridColumns() + l.cell(index).x();
}

// One line per polygon: "tile id: kind, name, one-way: x,y x,y ...", points rounded to 1/1000.
using Polygons = QStringList;
QString polygonLine(int id, const QString &tile, const QVector<QPointF> &points)
{
    QStringList text;
    for (const QPointF &p : points)
        text << QString::asprintf("%.3f,%.3f", p.x(), p.y());
    return QString("%1: %2: %3").arg(id).arg(tile, text.join(' '));
}

// What the writers were given, and each tile's kind.
Polygons expectedPolygons(const QVector<TileCollision> &tiles, const AtlasLayout &l)
{
    Polygons lines;
    for (int i = 0; i < tiles.size(); ++i) {
        const TileCollision &t = tiles[i];
        const QString tile = QString("%1 %2 %3").arg(t.kindName(), t.maskName()).arg(t.oneWay);
        for (const QPolygonF &polygon : t.polygons)
            lines << polygonLine(tileId(l, i), tile, polygon);
        if (t.polygons.isEmpty())
            lines << polygonLine(tileId(l, i), tile, {});
    }
    lines.sort();
    return lines;
}

// The same as Tiled read them from our .tsx.
Polygons tiledPolygons(const QVariantMap &tileset)
{
    Polygons lines;
    for (const QVariant &entry : tileset["tiles"].toList()) {
        const QVariantMap tile = entry.toMap();
        QVariantMap properties;
        for (const QVariant &p : tile["properties"].toList())
            properties[p.toMap()["name"].toString()] = p.toMap()["value"];
        const QString about = QString("%1 %2 %3")
                                  .arg(tile["type"].toString(), properties["name"].toString())
                                  .arg(properties["one_way"].toBool());
        const QVariantList objects = tile["objectgroup"].toMap()["objects"].toList();
        for (const QVariant &object : objects) {
            const QPointF at(object.toMap()["x"].toDouble(), object.toMap()["y"].toDouble());
            QVector<QPointF> points;
            for (const QVariant &p : object.toMap()["polygon"].toList())
                points << at + QPointF(p.toMap()["x"].toDouble(), p.toMap()["y"].toDouble());
            lines << polygonLine(tile["id"].toInt(), about, points);
        }
        if (objects.isEmpty())
            lines << polygonLine(tile["id"].toInt(), about, {});
    }
    lines.sort();
    return lines;
}

// Refused: nothing written, every requested file named; the folder holds tiles and 'kept'.
void verifyRefused(const QTemporaryDir &dir, const QStringList &tiles, const Options &options,
                   const QStringList &kept, const QString &culprit = {}, const QString &reason = {})
{
    const TilesetExportResult result = TilesetExport::run(tiles, dir.path(), options);
    QString text;
    for (const TilesetExportFailure &failure : result.failures)
        text += failure.fileName + ": " + failure.reason + '\n';
    QVERIFY(!result.success);
    QCOMPARE(result.written, QStringList());
    QVERIFY2(text.contains(culprit), qPrintable(text));
    QVERIFY2(text.contains(reason), qPrintable(text));
    for (const QString &name : options.fileNames())
        QVERIFY2(text.contains(name + ": "), qPrintable(text));
    QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &tile : tiles)
        files.removeOne(tile);
    QCOMPARE(files, kept);
}

} // namespace

class TestTilesetWriters : public QObject
{
    Q_OBJECT

private slots:
    // Sheet size, columns and rows as packed and as editors find them, margin and spacing.
    void pack_data()
    {
        QTest::addColumn<QSize>("tile");
        QTest::addColumn<int>("count");
        QTest::addColumn<AtlasOptions>("options"); // columns, margin, spacing, extrusion, pot
        QTest::addColumn<QVector<int>>("expected");
        auto row = [](const char *name, QSize tile, int count, AtlasOptions o, QVector<int> e) {
            QTest::newRow(name) << tile << count << o << e;
        };
        row("blob set", {32, 32}, 47, {}, {384, 128, 12, 4, 12, 4, 0, 0});
        row("few tiles", {32, 32}, 3, {}, {96, 32, 3, 1, 3, 1, 0, 0});
        row("5 columns", {32, 32}, 47, {5}, {160, 320, 5, 10, 5, 10, 0, 0});
        row("extruded, margin, spacing", {6, 5}, 14, {4, 1, 3, 2}, {51, 47, 4, 4, 4, 4, 3, 7});
        row("power of two", {32, 32}, 47, {12, 0, 0, 1, true}, {512, 256, 12, 4, 15, 7, 1, 2});
        row("power of two, wide", {16, 8}, 6, {3, 0, 0, 3, true}, {128, 32, 3, 2, 5, 2, 3, 6});
        row("margin wider than a cell", {8, 8}, 4, {2, 9}, {34, 34, 2, 2, 3, 3, 9, 0});
        row("largest sheet", {4, 4}, 3, {1, 0, 8186}, {4, 16384, 1, 3, 1, 3, 0, 8186});
    }
    // Tiles in the given order where editors cut them, extruded by edge pixels, the rest clear.
    void pack()
    {
        QFETCH(QSize, tile);
        QFETCH(int, count);
        QFETCH(AtlasOptions, options);
        QFETCH(QVector<int>, expected);
        QVector<AtlasTile> tiles;
        for (int i = 0; i < count; ++i)
            tiles.append({QString("tile_%1.png").arg(count - i), distinctTile(i, tile)});
        AtlasSheet sheet;
        QVERIFY(AtlasBuilder::pack(tiles, options, &sheet));
        const AtlasLayout &l = sheet.layout;
        QCOMPARE((QVector<int>{l.sheetSize.width(), l.sheetSize.height(), l.columns, l.rows,
                               l.gridColumns(), l.gridRows(), l.margin, l.spacing}),
                 expected);
        QCOMPARE(l.names.size(), count);
        QImage image(l.sheetSize, QImage::Format_ARGB32); // compared with the sheet: same size
        image.fill(Qt::transparent);
        const int e = options.extrusion;
        for (int i = 0; i < count; ++i) {
            const QRect r(QPoint(l.margin + i % l.columns * (tile.width() + l.spacing),
                                 l.margin + i / l.columns * (tile.height() + l.spacing)),
                          tile);
            QCOMPARE(l.names.at(i), tiles.at(i).name);
            QCOMPARE(l.tileRects.at(i), r);
            for (int y = r.top() - e; y <= r.bottom() + e; ++y)
                for (int x = r.left() - e; x <= r.right() + e; ++x)
                    image.setPixel(x, y,
                                   tiles.at(i).image.pixel(qBound(0, x - r.x(), r.width() - 1),
                                                           qBound(0, y - r.y(), r.height() - 1)));
        }
        QCOMPARE(sheet.image, image);
    }

    // Odd-sized tiles written in reverse order beside other files, their masks elsewhere: exported
    // in name order, only blob tiles labelled, every tile with the collision of its mask; the real
    // Tiled reads every Wang id, representative tile, type, property and polygon, and cuts each
    // tile where packed.
    void export_readsInTiledAndGodot()
    {
        Options options{true, "terrain.png", 0, 1, 1, 1, true, true, true, "terrain"};
        QTemporaryDir dir, masks;
        options.maskDirectory = masks.path();
        options.terrainName = "Grass";
        options.terrainColor = QColor("#80be1f");
        const QString tsx = dir.filePath("terrain.tsx"), json = dir.filePath("terrain.json");
        QVERIFY(writeTiles(dir, Tiles, 15) && writeFile(dir.filePath("notes.txt"), "x"));
        QVERIFY(QDir(dir.path()).mkdir("a_folder.png"));
        QVector<QImage> solids;
        for (const QString &name : Tiles) {
            QVERIFY(paintedMask(name).save(masks.filePath(name)));
            solids << TileCollision::solidOfMask(paintedMask(name));
        }
        QCOMPARE(TilesetExport::tileNames(dir.path()), Tiles);
        QVERIFY(TilesetExport::run(Tiles, dir.path(), options).success);
        const AtlasSheet sheet = packTiles(Tiles, {15, 15}, options.atlasOptions());
        const AtlasLayout &l = sheet.layout;
        const QVector<TileCollision> collision = TileCollision::trace(Tiles, solids, {15, 15});
        QCOMPARE(QImage(dir.filePath("terrain.png")), sheet.image);
        const int surrounded = tileId(l, Tiles.indexOf("blob_255_notop.png"));

        const QString xml = readFile(tsx);
        QVERIFY2(xml.contains("name=\"terrain\" tilewidth=\"15\" tileheight=\"15\" spacing=\"3\" "
                              "margin=\"2\" tilecount=\"98\" columns=\"14\">\n <image "
                              "source=\"terrain.png\" width=\"256\" height=\"128\"/>"),
                 qPrintable(xml));
        QVERIFY2(xml.contains(QString("type=\"mixed\" tile=\"%1\">\n   <wangcolor name=\"Grass\" "
                                      "color=\"#80be1f\" tile=\"%1\"")
                                  .arg(surrounded)),
                 qPrintable(xml));
        QCOMPARE(xml.count("<wangtile "), expectedWangTiles(l).size());
        for (const QString &tile : expectedWangTiles(l))
            QVERIFY2(xml.contains(tile), qPrintable(tile));

        // Godot 4: the terrain, all eight peering bits on the tile solid all round, the polygons
        // about the tile's centre, one-way on the platform, and our extrusion, not Godot's.
        const QString tres = readFile(dir.filePath("terrain.tres"));
        const QString full = QString("\n%1:%2/0/terrains_peering_bit/")
                                 .arg(l.cell(Tiles.indexOf("blob_255_notop.png")).x())
                                 .arg(l.cell(Tiles.indexOf("blob_255_notop.png")).y());
        QString bits;
        for (const char *side :
             {"right_side", "bottom_right_corner", "bottom_side", "bottom_left_corner", "left_side",
              "top_left_corner", "top_side", "top_right_corner"})
            bits += full + side + " = 0";
        QVERIFY2(tres.contains("margins = Vector2i(2, 2)\nseparation = Vector2i(3, 3)\n"
                               "texture_region_size = Vector2i(15, 15)\n"
                               "use_texture_padding = false\n"),
                 qPrintable(tres));
        QVERIFY2(tres.contains("terrain_0/name = \"Grass\"\nterrain_set_0/terrain_0/color = "
                               "Color(0.5019608, 0.74509805, 0.12156863, 1)"),
                 qPrintable(tres));
        QVERIFY2(tres.contains(bits), qPrintable(tres));
        QCOMPARE(tres.count(QRegularExpression("\n\\d+:\\d+/0 = 0\n")), Tiles.size());
        QCOMPARE(tres.count("/0/terrain = 0\n"), BlobMask::Count);
        // Each polygon once, the platform's one-way; their text is pinned by the hand-written file.
        int polygons = 0, oneWay = 0;
        for (const TileCollision &tile : collision) {
            polygons += tile.polygons.size();
            oneWay += tile.oneWay ? tile.polygons.size() : 0;
        }
        QCOMPARE(tres.count(QRegularExpression("/0/physics_layer_0/polygon_\\d+/points = ")),
                 polygons);
        QCOMPARE(tres.count("/one_way = true\n"), oneWay);
        QVERIFY(oneWay > 0 &&
                tres.contains("/physics_layer_0/polygon_0/points = PackedVector2Array("
                              "-7.5, -7.5, 7.5, -7.5, 7.5, 7.5, -7.5, 7.5)\n"));

        const QString tiled = QStandardPaths::findExecutable("tiled");
        if (tiled.isEmpty())
            QSKIP("Tiled is not installed, so our .tsx cannot be checked in it. "
                  "Install Debian's package with: apt-get install -y tiled");
        qputenv("QT_QPA_PLATFORM", "offscreen"); // Tiled needs no display
        QCOMPARE(QProcess::execute(tiled, {"--export-tileset", "json", tsx, json}), 0);
        const QVariantMap tileset = QJsonDocument::fromJson(readFile(json)).toVariant().toMap();
        const QVariantMap wangSet = tileset["wangsets"].toList().value(0).toMap();
        QCOMPARE(wangSet["tile"].toInt(), surrounded);
        QCOMPARE(wangSet["colors"].toList().value(0).toMap()["tile"].toInt(), surrounded);
        QStringList wangTiles;
        for (const QVariant &t : wangSet["wangtiles"].toList())
            wangTiles << wangTile(t.toMap()["tileid"].toInt(), t.toMap()["wangid"].toStringList());
        wangTiles.sort();
        QCOMPARE(wangTiles, expectedWangTiles(l));
        QCOMPARE(tiledPolygons(tileset), expectedPolygons(collision, l));
        const int columns = tileset["columns"].toInt(), margin = tileset["margin"].toInt();
        const int step = 15 + tileset["spacing"].toInt();
        for (int i = 0; i < l.tileCount(); ++i) {
            const int id = l.cell(i).y() * columns + l.cell(i).x();
            const QRect cut(margin + id % columns * step, margin + id / columns * step, 15, 15);
            QVERIFY2(sheet.image.copy(cut) == distinctTile(i, {15, 15}), qPrintable(l.names[i]));
        }
    }

    // Debian's Godot 3 (godot3-server) loads our Godot 3 tileset in a project of its own and its
    // script (data/godot3_check.gd) checks the ids, names, regions, every subtile's bitmask and
    // each tile's and subtile's shapes with their one-way flags; that a map painted at random
    // picks each cell's subtile by its neighbours; and that the painted cells collide. Godot exits
    // 0 after errors, so the verdict is the exit code the script sets and its report.
    void godot3_loadsInTheRealEngine()
    {
        Options options{true, "terrain.png", 0, 1, 1, 1, false, false, false, "terrain", true};
        QTemporaryDir project, masks;
        options.maskDirectory = masks.path();
        options.terrainName = "Grass";
        QVector<QImage> solids;
        for (const QString &name : Tiles) {
            QVERIFY(paintedMask(name).save(masks.filePath(name)));
            solids << TileCollision::solidOfMask(paintedMask(name));
        }
        QVERIFY(writeTiles(project, Tiles, 16));
        QVERIFY(TilesetExport::run(Tiles, project.path(), options).success);
        const AtlasLayout l = packTiles(Tiles, {16, 16}, options.atlasOptions()).layout;
        const QVector<TileCollision> collision = TileCollision::trace(Tiles, solids, {16, 16});

        // The autotile's region spans the blob tiles' cells; the other tiles count from 1.
        QRect region, cells;
        for (int i = 0; i < l.tileCount(); ++i)
            if (BlobMask::fromFileName(Tiles[i]) != BlobMask::None) {
                region |= l.tileRects[i];
                cells |= QRect(l.cell(i), QSize(1, 1));
            }
        auto subtile = [&](int i) {
            const QPoint at = l.cell(i) - cells.topLeft();
            return QString("%1,%2").arg(at.x()).arg(at.y());
        };
        auto rect = [](const QRect &r) {
            return QVariantList{r.x(), r.y(), r.width(), r.height()};
        };
        const QVariantList texture{l.sheetSize.width(), l.sheetSize.height()};
        QVariantMap autotile{{"name", "Grass"},
                             {"mode", 1},
                             {"texture", texture},
                             {"region", rect(region)},
                             {"bitmask_mode", 1},
                             {"spacing", l.spacing},
                             {"size", QVariantList{16, 16}}};
        QVariantMap tiles, bitmasks, autotileShapes;
        QVariantList ids{0};
        // Godot 3's bits: top left 1, top 2, top right 4, left 8, centre 16, right 32, bottom
        // left 64, bottom 128, bottom right 256; ours run N, NE, E, SE, S, SW, W, NW.
        const int godotBit[8] = {2, 4, 32, 256, 128, 64, 8, 1};
        for (int i = 0; i < l.tileCount(); ++i) {
            int pieces = 0;
            for (const QPolygonF &polygon : collision[i].polygons)
                pieces += PolygonOperations::convexPieces(polygon).size();
            const QVariantMap shapes{{"count", pieces},
                                     {"one_way", collision[i].oneWay ? pieces : 0}};
            const int mask = BlobMask::fromFileName(Tiles[i]);
            if (mask == BlobMask::None) {
                ids << ids.size();
                tiles[QString::number(ids.size() - 1)] =
                    QVariantMap{{"name", collision[i].maskName()},
                                {"mode", 0},
                                {"texture", texture},
                                {"region", rect(l.tileRects[i])},
                                {"shapes", pieces ? QVariantMap{{"0,0", shapes}} : QVariantMap()}};
                continue;
            }
            int bits = 16;
            for (int bit = 0; bit < 8; ++bit)
                bits |= mask & (1 << bit) ? godotBit[bit] : 0;
            bitmasks[subtile(i)] = bits;
            autotileShapes[subtile(i)] = shapes;
            if (mask == 255)
                autotile["icon"] = subtile(i);
        }
        autotile["bitmasks"] = bitmasks;
        autotile["shapes"] = autotileShapes;
        tiles["0"] = autotile;

        // Terrain at random on a 16 x 10 map; each solid cell's subtile is its blob tile's.
        QRandomGenerator random(13);
        QVector<bool> solid(160);
        for (bool &cell : solid)
            cell = random.bounded(10) < 6;
        auto at = [&](int x, int y) { return uint(x) < 16 && uint(y) < 10 && solid[y * 16 + x]; };
        QVariantList painted;
        QVariantMap subtiles;
        for (int cell = 0; cell < 160; ++cell) {
            const int x = cell % 16, y = cell / 16, dx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
            if (!solid[cell])
                continue;
            int raw = 0; // neighbours N, NE, ..., NW; dy[bit] is dx[bit + 6]
            for (int bit = 0; bit < 8; ++bit)
                raw |= at(x + dx[bit], y + dx[(bit + 6) % 8]) << bit;
            painted << QVariant(QVariantList{x, y});
            subtiles[QString("%1,%2").arg(x).arg(y)] =
                subtile(Tiles.indexOf(BlobMask::fileName(BlobMask::canonical(raw))));
        }
        const QVariantMap expected{{"tileset", "res://terrain_godot3.tres"},
                                   {"tile_size", 16},
                                   {"tiles", tiles},
                                   {"one_way_tile", "platform"},
                                   {"map", QVariantMap{{"width", 16},
                                                       {"height", 10},
                                                       {"cells", painted},
                                                       {"subtiles", subtiles}}}};
        QVERIFY(writeFile(project.filePath("expected.json"),
                          QJsonDocument::fromVariant(expected).toJson()) &&
                writeFile(project.filePath("project.godot"), "config_version=4\n") &&
                QFile::copy(QFINDTESTDATA("data/godot3_check.gd"), project.filePath("check.gd")));

        const QString godot = QStandardPaths::findExecutable("godot3-server");
        if (godot.isEmpty())
            QSKIP("Godot 3 is not installed, so our Godot 3 tileset cannot be checked in it. "
                  "Install Debian's package with: apt-get install -y godot3-server");
        // The editor, once, imports the sheet as a texture the project can load.
        QProcess import, check;
        for (QProcess *godotRun : {&import, &check}) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LANG", "en"); // Godot takes the C locale for an error
            godotRun->setProcessEnvironment(env);
            godotRun->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        import.start(godot, {"--path", project.path(), "-e", "--quit"});
        QVERIFY(import.waitForFinished(60000) && import.exitCode() == 0);
        check.start(godot, {"--path", project.path(), "-s", "check.gd"});
        QVERIFY(check.waitForFinished(60000) && check.exitStatus() == QProcess::NormalExit);
        const QVariantMap report =
            QJsonDocument::fromJson(readFile(project.filePath("report.json"))).toVariant().toMap();
        QVERIFY2(report["failures"].toStringList().isEmpty(),
                 qPrintable(report["failures"].toStringList().join('\n')));
        QCOMPARE(report["done"].toStringList(), QStringList({"tiles", "map", "physics"}));
        QCOMPARE(report["ids"].toList(), ids);
        QCOMPARE(check.exitCode(), 0);
    }

    // Colour indices are checked before anything is made.
    void tsx_invalidColourIndex_isRefused()
    {
        TiledTilesetWriter writer(packTiles(Tiles, {8, 8}).layout);
        QString error;
        for (int colour : {2, -1}) {
            writer.setWangId(3, {1, 1, 1, 0, 0, colour, 0, 0});
            QVERIFY(writer.toXml("t.png", &error).isEmpty());
            QVERIFY2(error.contains(QString("\"blob_004.png\" uses Wang colour %1").arg(colour)),
                     qPrintable(error));
        }
        writer.setColors({});
        QVERIFY(writer.toXml("t.png", &error).isEmpty());
        QVERIFY2(error.contains("no colours"), qPrintable(error));
    }

    // Godot drops every polygon and peering bit of a file whose sources come before its physics
    // layers and terrain sets, so the order of [resource] is part of what is compared.
    void tres_matchesHandWrittenFile()
    {
        const QStringList names{"blob_000.png", "blob_031_notop.png", "platform_a.png"};
        const AtlasSheet sheet = packTiles(names, {16, 16}, {2, 0, 0, 1});
        QVector<TileCollision> tiles;
        for (const QString &name : names)
            tiles << TileCollision::forName(name);
        tiles[0].polygons = {QPolygonF({{2, 2}, {14, 2}, {14, 14}})};
        tiles[1].polygons = {QPolygonF({{0, 0}, {16, 0}, {16, 6.5}}),
                             QPolygonF({{0, 10}, {16, 10}, {16, 16}, {0, 16}})};
        tiles[2].polygons = {QPolygonF({{0, 0}, {16, 0}, {16, 4}, {0, 4}})};
        GodotTilesetWriter writer(sheet.layout);
        writer.setCollisions(tiles);
        QCOMPARE(QString(writer.toText("atlas.png")),
                 QString(readFile(QFINDTESTDATA("data/godot_small.tres"))));
    }

    void export_badInput_writesNothing_data()
    {
        QTest::addColumn<int>("tiles"); // how many of Tiles, from the first
        QTest::addColumn<QString>("culprit");
        QTest::addColumn<QByteArray>("content"); // the culprit's; empty: it is missing
        QTest::addColumn<Options>("options");
        QTest::addColumn<QString>("reason"); // the culprit's, or the export's
        auto row = [](const char *name, int tiles, const char *culprit, QByteArray content,
                      Options options, const char *reason) {
            QTest::newRow(name) << tiles << QString(culprit) << content << options
                                << QString(reason);
        };
        const int all = Tiles.size();
        row("missing tile", all, "blob_004.png", {}, All, "could not be read");
        row("tile not an image", all, "platform.png", "no PNG", All, "not a readable image");
        row("tiles of mixed sizes", all, "blob_001_notop.png",
            AtlasBuilder::encodePng(distinctTile(1, {9, 9})), All, "is 9 x 9");
        row("overflowing 32 bits", 2, "", {}, {true, "t.png", 0, 0, 0, 1 << 30}, "largest");
        // Three 8 px tiles in one column with gaps of 8181: just over the largest sheet.
        row("sheet too large", 3, "", {}, {false, "t.png", 1, 0, 8181, 0, false, true}, "largest");
        row("negative spacing", 2, "", {}, {true, "t.png", 0, 0, -1}, "negative");
        row("no tiles", 0, "", {}, All, "no tiles");
        Options masksElsewhere = All;
        masksElsewhere.maskDirectory = "/nonexistent";
        row("masks missing", all, "", {}, masksElsewhere,
            "blob_000.png: its mask could not be read");
    }
    // An earlier export's .tsx survives untouched.
    void export_badInput_writesNothing()
    {
        QFETCH(int, tiles);
        QFETCH(QString, culprit);
        QFETCH(QByteArray, content);
        QFETCH(Options, options);
        QFETCH(QString, reason);
        const QStringList names = Tiles.mid(0, tiles);
        QTemporaryDir dir;
        QVERIFY(writeTiles(dir, names, 8));
        QVERIFY(culprit.isEmpty() || QFile::remove(dir.filePath(culprit)));
        QVERIFY(content.isEmpty() || writeFile(dir.filePath(culprit), content));
        QVERIFY(writeFile(dir.filePath("tileset.tsx"), "old tileset"));
        verifyRefused(dir, names, options, {"tileset.tsx"}, culprit, reason);
        QCOMPARE(readFile(dir.filePath("tileset.tsx")), QByteArray("old tileset"));
    }

    // A folder stands where the .tres goes: the sheet and .tsx written before it are undone.
    void export_laterWriteFails_restoresEarlierFiles_data()
    {
        QTest::addColumn<bool>("oldFilesExist");
        QTest::newRow("old set is restored") << true;
        QTest::newRow("new files are removed") << false;
    }
    void export_laterWriteFails_restoresEarlierFiles()
    {
        QFETCH(bool, oldFilesExist);
        QTemporaryDir dir;
        const QStringList old{"tileset.png", "tileset.tsx"};
        QVERIFY(writeTiles(dir, Tiles, 16) && QDir(dir.path()).mkdir("tileset.tres"));
        for (const QString &name : old)
            QVERIFY(!oldFilesExist || writeFile(dir.filePath(name), name.toUtf8()));
        verifyRefused(dir, Tiles, All, oldFilesExist ? old : QStringList());
        for (const QString &name : old)
            QCOMPARE(readFile(dir.filePath(name)), oldFilesExist ? name.toUtf8() : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestTilesetWriters)
#include "tst_tilesetwriters.moc"
