#include "atlasfixtures.h"
#include "godottilesetwriter.h"
#include "tiledtilesetwriter.h"

namespace {

// "id: wangid" of each blob tile but the isolated one (Tiled drops all-zero wangids);
// a wangid runs top, top-right, ..., top-left: the bits N=1 ... NW=128 in order.
QStringList expectedWangIds(const AtlasLayout &l)
{
    QStringList ids;
    for (int i = 0; i < l.tileCount(); ++i) {
        const int mask = BlobMask::fromFileName(l.names.at(i));
        QString id = QString::number(l.cell(i).y() * l.gridColumns() + l.cell(i).x()) + ':';
        for (int bit = 1; bit <= 128; bit <<= 1)
            id += QLatin1String(bit == 1 ? " " : ",") + QString::number((mask & bit) ? 1 : 0);
        if (mask > 0)
            ids.append(id);
    }
    ids.sort();
    return ids;
}

} // namespace

class TestTilesetWriters : public QObject
{
    Q_OBJECT

private slots:
    void blobMask_fromFileName_data();
    void blobMask_fromFileName();
    void tsx_everyWangIdReachesTiled();
    void tsx_invalidColourIndex_isRefused_data();
    void tsx_invalidColourIndex_isRefused();
    void tres_matchesHandWrittenFile();
    void tres_everyTileHasItsPeeringBits();
};

void TestTilesetWriters::blobMask_fromFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mask");
    QTest::newRow("upper-case, notop marker, folder") << "/dir/BLOB_071_NOTOP.PNG" << 71;
    QTest::newRow("folder named like a blob") << "blob_004.png/slope.png" << -1;
    QTest::newRow("corner without its edges") << "blob_002.png" << -1;
    QTest::newRow("backup copy") << "blob_071.png.bak" << -1;
    QTest::newRow("other script digits") << QString::fromUtf8("blob_\u0660\u0667\u0661.png") << -1;
}

void TestTilesetWriters::blobMask_fromFileName()
{
    QFETCH(QString, name);
    QFETCH(int, mask);
    QCOMPARE(BlobMask::fromFileName(name), mask);
}

// Our .tsx as written, then as the real Tiled (Debian's "tiled") reads it when it
// exports the tileset as JSON headless: every blob tile with its Wang id, each tile id
// cut where we packed it, across the spare cells that power-of-two padding leaves.
void TestTilesetWriters::tsx_everyWangIdReachesTiled()
{
    const QStringList names = blobSetNames();
    const AtlasSheet sheet = packTiles(names, {16, 16}, {0, 1, 1, 1, true});
    const AtlasLayout &l = sheet.layout;
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("terrain.png"));
    const QString tsx = dir.filePath(QStringLiteral("terrain.tsx"));
    QString error;
    QVERIFY2(AtlasBuilder::writePng(sheet.image, png, &error) &&
                 TiledTilesetWriter(l).write(tsx, png, &error),
             qPrintable(error));
    const QString xml = QString::fromUtf8(readFile(tsx));
    const QString attributes = QString::asprintf(
        "name=\"terrain\" tilewidth=\"16\" tileheight=\"16\" spacing=\"%d\" margin=\"%d\" "
        "tilecount=\"%d\" columns=\"%d\">\n <image source=\"terrain.png\" width=\"%d\" "
        "height=\"%d\"/>",
        l.spacing, l.margin, l.gridColumns() * l.gridRows(), l.gridColumns(), l.sheetSize.width(),
        l.sheetSize.height());
    QVERIFY2(xml.contains(attributes) && xml.contains(QLatin1String("type=\"mixed\"")),
             qPrintable(xml));
    QStringList wangIds;
    const QRegularExpression tile(QStringLiteral("<wangtile tileid=\"(\\d+)\" wangid=\"(.*)\""));
    for (auto it = tile.globalMatch(xml); it.hasNext();) {
        const auto m = it.next();
        wangIds.append(m.captured(1) + QLatin1String(": ") + m.captured(2));
    }
    wangIds.sort();
    QCOMPARE(wangIds, expectedWangIds(l));

    const QString tiled = QStandardPaths::findExecutable(QStringLiteral("tiled"));
    if (tiled.isEmpty())
        QSKIP("Tiled is not installed, so our .tsx cannot be checked in it. "
              "Install Debian's package with: apt-get install -y tiled");
    // Tiled's own messages go to the test log; it needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString json = dir.filePath(QStringLiteral("terrain.json"));
    QCOMPARE(QProcess::execute(
                 tiled, {QStringLiteral("--export-tileset"), QStringLiteral("json"), tsx, json}),
             0);
    const QJsonObject tileset = QJsonDocument::fromJson(readFile(json)).object();
    wangIds.clear();
    for (const QJsonValue &tile :
         tileset[QLatin1String("wangsets")][0][QLatin1String("wangtiles")].toArray()) {
        QString id = QString::number(tile[QLatin1String("tileid")].toInt()) + ':';
        for (const QJsonValue &colour : tile[QLatin1String("wangid")].toArray())
            id += QLatin1String(id.endsWith(':') ? " " : ",") + QString::number(colour.toInt());
        wangIds.append(id);
    }
    wangIds.sort();
    QCOMPARE(wangIds, expectedWangIds(l));
    const int columns = tileset[QLatin1String("columns")].toInt();
    const int margin = tileset[QLatin1String("margin")].toInt();
    const int step = 16 + tileset[QLatin1String("spacing")].toInt();
    for (int i = 0; i < names.size(); ++i) {
        const int id = l.cell(i).y() * columns + l.cell(i).x();
        QVERIFY2(sheet.image.copy(margin + id % columns * step, margin + id / columns * step, 16,
                                  16) == distinctTile(i, {16, 16}),
                 qPrintable(names.at(i)));
    }
}

void TestTilesetWriters::tsx_invalidColourIndex_isRefused_data()
{
    QTest::addColumn<int>("colours");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("message");
    const QString tile = QStringLiteral("\"blob_005_notop.png\" uses Wang colour ");
    QTest::newRow("one past the colours") << 1 << 2 << tile + "2";
    QTest::newRow("negative") << 1 << -1 << tile + "-1";
    QTest::newRow("no colours at all") << 0 << 1 << "no colours";
    QTest::newRow("two colours, valid") << 2 << 2 << "";
}

void TestTilesetWriters::tsx_invalidColourIndex_isRefused()
{
    QFETCH(int, colours);
    QFETCH(int, value);
    QFETCH(QString, message);
    TiledTilesetWriter writer(packTiles(blobSetNames(), {8, 8}).layout);
    const TiledTilesetWriter::WangColor rock{QStringLiteral("Rock"), QColor(Qt::gray), 0.5};
    writer.setColors(QVector<TiledTilesetWriter::WangColor>(colours, rock));
    writer.setWangId(3, {1, 1, 1, 0, 0, value, 0, 0});
    QString error;
    const QByteArray xml = writer.toXml(QStringLiteral("t.png"), &error);
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(xml.isEmpty(), !message.isEmpty());
    QCOMPARE(xml.contains("wangid=\"1,1,1,0,0,2,0,0\""), message.isEmpty());
}

void TestTilesetWriters::tres_matchesHandWrittenFile()
{
    // Two blob tiles and an unlabelled slope, two columns, extruded by 1.
    const AtlasSheet sheet =
        packTiles({"blob_000.png", "blob_031_notop.png", "slope_left.png"}, {16, 16}, {2, 0, 0, 1});
    const QByteArray expected = readFile(QFINDTESTDATA("data/godot_small.tres"));
    QCOMPARE(
        QString::fromUtf8(GodotTilesetWriter(sheet.layout).toText(QStringLiteral("atlas.png"))),
        QString::fromUtf8(expected));
}

void TestTilesetWriters::tres_everyTileHasItsPeeringBits()
{
    // An odd tile size: the collision polygon is centred on the tile, as Godot places it.
    const AtlasLayout layout = packTiles(blobSetNames(), {15, 15}, {0, 1, 0, 1, true}).layout;
    const QString text = GodotTilesetWriter(layout).toText(QStringLiteral("a.png"));
    QVERIFY(
        text.contains(QLatin1String("margins = Vector2i(2, 2)\nseparation = Vector2i(2, 2)\n")));
    // Godot's names, by bit N, NE, E, ..., NW; y points down.
    const char *names[] = {"top_side",    "top_right_corner",   "right_side", "bottom_right_corner",
                           "bottom_side", "bottom_left_corner", "left_side",  "top_left_corner"};
    for (int i = 0; i < layout.tileCount(); ++i) {
        const QString cell =
            QStringLiteral("\n%1:%2/0").arg(layout.cell(i).x()).arg(layout.cell(i).y());
        const int mask = BlobMask::fromFileName(layout.names.at(i));
        QVERIFY2(text.contains(cell + QLatin1String(" = 0\n")), qPrintable(cell));
        QCOMPARE(text.contains(cell + QLatin1String("/terrain = 0\n")), mask >= 0);
        QCOMPARE(text.contains(cell + QLatin1String("/physics_layer_0/polygon_0/points = "
                                                    "PackedVector2Array(-7.5, -7.5, 7.5, -7.5, "
                                                    "7.5, 7.5, -7.5, 7.5)\n")),
                 mask >= 0);
        for (int bit = 0; bit < 8; ++bit)
            QCOMPARE(text.contains(cell + "/terrains_peering_bit/" + names[bit] + " = 0\n"),
                     mask >= 0 && (mask & (1 << bit)));
    }
}

QTEST_GUILESS_MAIN(TestTilesetWriters)
#include "tst_tilesetwriters.moc"
