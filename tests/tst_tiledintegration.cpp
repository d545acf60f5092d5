// Loads our .tsx in the real Tiled (Debian's "tiled" package), lets it export
// the tileset as JSON and checks that Tiled sees every blob tile with its
// Wang id and cuts each tile id out of the sheet where we packed that tile.

#include "atlasbuilder.h"
#include "blobmask.h"
#include "tiledtilesetwriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A tile that differs from every other one: a base colour from its index and
// a few marked pixels, so a shifted cut cannot match a neighbour.
QImage syntheticTile(int index, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(qRgba((index * 37) % 256, (index * 91) % 256, 200, 255));
    image.setPixel(0, 0, qRgba(255, 255, 255, 255));
    image.setPixel(size - 1, size - 1, qRgba(0, 0, 0, 255));
    image.setPixel(index % size, size / 2, qRgba(255, 0, 255, 128));
    return image;
}

QJsonArray wangIdArray(int mask)
{
    // Tiled's order: top, top-right, right, bottom-right, bottom,
    // bottom-left, left, top-left; the bits N=1 ... NW=128 in the same order.
    QJsonArray ids;
    for (int bit = 1; bit <= 128; bit <<= 1)
        ids.append((mask & bit) ? 1 : 0);
    return ids;
}

} // namespace

Q_DECLARE_METATYPE(AtlasOptions)

class TestTiledIntegration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tiledReadsEveryWangId_data();
    void tiledReadsEveryWangId();

private:
    QString m_tiled;
};

void TestTiledIntegration::initTestCase()
{
    m_tiled = QStandardPaths::findExecutable(QStringLiteral("tiled"));
    if (m_tiled.isEmpty())
        QSKIP("Tiled is not installed, so our .tsx cannot be checked in it. "
              "Install Debian's package with: apt-get install -y tiled");
}

void TestTiledIntegration::tiledReadsEveryWangId_data()
{
    QTest::addColumn<AtlasOptions>("options");
    QTest::newRow("default layout") << AtlasOptions();
    QTest::newRow("margin and spacing") << AtlasOptions{8, 3, 2, 0, false};
    QTest::newRow("extruded") << AtlasOptions{0, 0, 0, 2, false};
    QTest::newRow("extruded, power of two, margin") << AtlasOptions{10, 1, 1, 1, true};
}

void TestTiledIntegration::tiledReadsEveryWangId()
{
    QFETCH(AtlasOptions, options);
    const int tileSize = 16;

    // The 47 blob tiles in mask name order, then tiles outside the set.
    QVector<AtlasTile> tiles;
    for (int mask : BlobMask::all())
        tiles.append({BlobMask::fileName(mask), syntheticTile(tiles.size(), tileSize)});
    tiles.append({QStringLiteral("platform.png"), syntheticTile(tiles.size(), tileSize)});
    tiles.append({QStringLiteral("slope_left.png"), syntheticTile(tiles.size(), tileSize)});

    AtlasSheet sheet;
    QString error;
    QVERIFY2(AtlasBuilder::pack(tiles, options, &sheet, &error), qPrintable(error));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString png = dir.filePath(QStringLiteral("terrain.png"));
    const QString tsx = dir.filePath(QStringLiteral("terrain.tsx"));
    const QString json = dir.filePath(QStringLiteral("terrain.json"));
    QVERIFY2(AtlasBuilder::writePng(sheet.image, png, &error), qPrintable(error));
    QVERIFY2(TiledTilesetWriter(sheet.layout).write(tsx, png, &error), qPrintable(error));

    QProcess tiled;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    tiled.setProcessEnvironment(env);
    tiled.start(m_tiled, {QStringLiteral("--export-tileset"), QStringLiteral("json"), tsx, json});
    QVERIFY2(tiled.waitForFinished(120000), "Tiled did not finish");
    const QByteArray output = tiled.readAllStandardOutput() + tiled.readAllStandardError();
    QVERIFY2(tiled.exitStatus() == QProcess::NormalExit && tiled.exitCode() == 0,
             output.constData());

    QFile file(json);
    QVERIFY2(file.open(QIODevice::ReadOnly), output.constData());
    QJsonParseError parseError;
    const QJsonObject tileset = QJsonDocument::fromJson(file.readAll(), &parseError).object();
    QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(parseError.errorString()));

    // Tiled took the sheet's geometry as written.
    const AtlasLayout &layout = sheet.layout;
    QCOMPARE(tileset.value(QLatin1String("tilewidth")).toInt(), tileSize);
    QCOMPARE(tileset.value(QLatin1String("tileheight")).toInt(), tileSize);
    QCOMPARE(tileset.value(QLatin1String("imagewidth")).toInt(), layout.sheetSize.width());
    QCOMPARE(tileset.value(QLatin1String("imageheight")).toInt(), layout.sheetSize.height());
    QCOMPARE(tileset.value(QLatin1String("image")).toString(), QStringLiteral("terrain.png"));
    const int columns = tileset.value(QLatin1String("columns")).toInt();
    const int margin = tileset.value(QLatin1String("margin")).toInt();
    const int spacing = tileset.value(QLatin1String("spacing")).toInt();
    QCOMPARE(columns, layout.gridColumns());
    QCOMPARE(margin, layout.margin);
    QCOMPARE(spacing, layout.spacing);
    QCOMPARE(tileset.value(QLatin1String("tilecount")).toInt(),
             layout.gridColumns() * layout.gridRows());

    const QJsonArray wangsets = tileset.value(QLatin1String("wangsets")).toArray();
    QCOMPARE(wangsets.size(), 1);
    const QJsonObject wangset = wangsets.first().toObject();
    QCOMPARE(wangset.value(QLatin1String("type")).toString(), QStringLiteral("mixed"));
    const QJsonArray colors = wangset.value(QLatin1String("colors")).toArray();
    QCOMPARE(colors.size(), 1);
    QCOMPARE(colors.first().toObject().value(QLatin1String("name")).toString(),
             QStringLiteral("Solid"));

    QMap<int, QJsonArray> wangIds;
    for (const QJsonValue &value : wangset.value(QLatin1String("wangtiles")).toArray()) {
        const QJsonObject tile = value.toObject();
        wangIds.insert(tile.value(QLatin1String("tileid")).toInt(),
                       tile.value(QLatin1String("wangid")).toArray());
    }

    const QImage written(png);
    for (int i = 0; i < tiles.size(); ++i) {
        const QString &name = tiles.at(i).name;
        const QPoint cell = layout.cell(i);
        const int tileId = cell.y() * columns + cell.x();
        // Where Tiled cuts this id from the sheet holds this very tile.
        const QRect cut(margin + (tileId % columns) * (tileSize + spacing),
                        margin + (tileId / columns) * (tileSize + spacing), tileSize, tileSize);
        QVERIFY2(written.copy(cut).convertToFormat(QImage::Format_ARGB32) == tiles.at(i).image,
                 qPrintable(name));

        const int mask = BlobMask::fromFileName(name);
        if (mask == BlobMask::None) {
            QVERIFY2(!wangIds.contains(tileId), qPrintable(name));
            continue;
        }
        // To Tiled an all-zero wangid is no Wang id: the isolated tile (mask 0)
        // has none, and Tiled's brush never places it by itself.
        const QJsonArray none{0, 0, 0, 0, 0, 0, 0, 0};
        if (mask == 0) {
            QCOMPARE(wangIds.value(tileId, none), none);
            continue;
        }
        QVERIFY2(wangIds.contains(tileId), qPrintable(name + QStringLiteral(" has no Wang id")));
        QCOMPARE(wangIds.value(tileId), wangIdArray(mask));
    }
    QCOMPARE(wangIds.size(), BlobMask::Count - 1);
}

QTEST_GUILESS_MAIN(TestTiledIntegration)
#include "tst_tiledintegration.moc"
