// A small side-view map painted with the default terrain set: the command
// line makes the bundled blob set with its atlas and Tiled tileset, a .tmx
// lays each solid cell's tile by its neighbour bitmask, and the map is
// rendered twice, by Tiled's own tmxrasterizer from the atlas and by a plain
// compositor from the loose tiles. Both renders must agree and show no
// seams: every join between two solid cells is closed, and the terrain's
// outline follows the grid.
//
// The renders are kept in this test's folder (terrainmap/, printed) so a
// person can look at them or open map.tmx in Tiled.

#include "assetlibrary.h"
#include "atlasbuilder.h"
#include "blobmask.h"
#include "safeimagereader.h"
#include "tilesetexport.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <algorithm>

namespace {

// A hill with a cave and an overhang, a ring with a hole, a lone block, a
// thin pillar and cells that touch only at a corner: most of the blob
// set's neighbourhoods in 16 x 8 cells. '#' is solid.
const char *const Terrain[] = {
    "................", //
    "...###......#...", //
    "..#####....###..", //
    ".###.####..#.#.#", //
    ".##...###..###..", //
    "###.#.####....##", //
    "#######.########", //
    "################", //
};
constexpr int Columns = 16;
constexpr int Rows = 8;

bool solid(int column, int row)
{
    // Outside the map counts as empty, so the outline closes at its edges.
    return column >= 0 && row >= 0 && column < Columns && row < Rows && Terrain[row][column] == '#';
}

// The canonical blob mask of a solid cell.
int maskAt(int column, int row)
{
    static const int offsets[8][3] = {
        {0, -1, BlobMask::N}, {1, -1, BlobMask::NE}, {1, 0, BlobMask::E},  {1, 1, BlobMask::SE},
        {0, 1, BlobMask::S},  {-1, 1, BlobMask::SW}, {-1, 0, BlobMask::W}, {-1, -1, BlobMask::NW},
    };
    int raw = 0;
    for (const auto &o : offsets) {
        if (solid(column + o[0], row + o[1]))
            raw |= o[2];
    }
    return BlobMask::canonical(raw);
}

QString cliPath()
{
    return QStringLiteral(TW_CLI);
}

QProcessEnvironment headless()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    return env;
}

QByteArray tmx(int tileSize, const QString &tsxPath, const QVector<int> &gids)
{
    QByteArray csv;
    for (int row = 0; row < Rows; ++row) {
        QByteArrayList cells;
        for (int column = 0; column < Columns; ++column)
            cells << QByteArray::number(gids.at(row * Columns + column));
        csv += cells.join(',');
        csv += row + 1 < Rows ? ",\n" : "\n";
    }
    const QByteArray size = QByteArray::number(tileSize);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<map version=\"1.8\" tiledversion=\"1.8.2\" orientation=\"orthogonal\" "
           "renderorder=\"right-down\" width=\"" +
           QByteArray::number(Columns) + "\" height=\"" + QByteArray::number(Rows) +
           "\" tilewidth=\"" + size + "\" tileheight=\"" + size +
           "\" infinite=\"0\" nextlayerid=\"2\" nextobjectid=\"1\">\n"
           " <tileset firstgid=\"1\" source=\"" +
           tsxPath.toUtf8() +
           "\"/>\n"
           " <layer id=\"1\" name=\"Terrain\" width=\"" +
           QByteArray::number(Columns) + "\" height=\"" + QByteArray::number(Rows) +
           "\">\n"
           "  <data encoding=\"csv\">\n" +
           csv +
           "</data>\n"
           " </layer>\n"
           "</map>\n";
}

int alphaAt(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y));
}

// Everything the map must show, as a list of faults (empty: no seam).
// tileSize is the cell size; margin the depth from an open side (an empty
// neighbour) within which the tiles shape their outline; jog the largest
// step allowed where the outline crosses a join.
QStringList seamFaults(const QImage &map, int tileSize)
{
    QStringList faults;
    const int t = tileSize;
    const int margin = t / 4;
    const int jog = qMax(1, t / 16);
    auto fault = [&](const QString &text) {
        if (faults.size() < 40)
            faults << text;
    };
    if (map.size() != QSize(Columns * t, Rows * t)) {
        fault(QStringLiteral("the map is %1 x %2 pixels").arg(map.width()).arg(map.height()));
        return faults;
    }

    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            const int x0 = column * t;
            const int y0 = row * t;
            const QString cell = QStringLiteral("cell %1,%2").arg(column).arg(row);
            if (!solid(column, row)) {
                // Nothing is drawn where there is no terrain.
                int drawn = 0;
                for (int y = y0; y < y0 + t; ++y)
                    for (int x = x0; x < x0 + t; ++x)
                        drawn += alphaAt(map, x, y) != 0;
                if (drawn)
                    fault(QStringLiteral("%1 is empty but has %2 visible pixels")
                              .arg(cell)
                              .arg(drawn));
                continue;
            }

            // Inside the terrain, away from every empty neighbour, the
            // tile is opaque: no hole, no gap along a join to a solid
            // neighbour.
            int holes = 0;
            QPoint firstHole;
            for (int ly = 0; ly < t; ++ly) {
                for (int lx = 0; lx < t; ++lx) {
                    int nearest = t;
                    for (int dy = -1; dy <= 1; ++dy) {
                        for (int dx = -1; dx <= 1; ++dx) {
                            if ((dx || dy) && !solid(column + dx, row + dy)) {
                                const int across = dx < 0 ? lx : dx > 0 ? t - 1 - lx : 0;
                                const int down = dy < 0 ? ly : dy > 0 ? t - 1 - ly : 0;
                                nearest = qMin(nearest, qMax(across, down));
                            }
                        }
                    }
                    if (nearest >= margin && alphaAt(map, x0 + lx, y0 + ly) != 255) {
                        if (holes++ == 0)
                            firstHole = QPoint(x0 + lx, y0 + ly);
                    }
                }
            }
            if (holes)
                fault(QStringLiteral("%1 (%2): %3 pixels inside the terrain are not opaque, "
                                     "the first at %4,%5")
                          .arg(cell, BlobMask::fileName(maskAt(column, row)))
                          .arg(holes)
                          .arg(firstHole.x())
                          .arg(firstHole.y()));

            // An open side's outermost line is clear: the outline lies
            // inside the cell, so the terrain ends where the grid says.
            struct Side
            {
                int dx, dy;
                const char *name;
            };
            for (const Side &side : {Side{0, -1, "top"}, Side{1, 0, "right"}, Side{0, 1, "bottom"},
                                     Side{-1, 0, "left"}}) {
                if (solid(column + side.dx, row + side.dy))
                    continue;
                int visible = 0;
                for (int i = 0; i < t; ++i) {
                    const int x = side.dx < 0 ? x0 : side.dx > 0 ? x0 + t - 1 : x0 + i;
                    const int y = side.dy < 0 ? y0 : side.dy > 0 ? y0 + t - 1 : y0 + i;
                    visible += alphaAt(map, x, y) != 0;
                }
                if (visible)
                    fault(QStringLiteral("%1 (%2): %3 pixels of its open %4 side are visible")
                              .arg(cell, BlobMask::fileName(maskAt(column, row)))
                              .arg(visible)
                              .arg(QLatin1String(side.name)));
            }
        }
    }

    // Where the outline crosses a join between two solid cells, it crosses
    // at the same place on both sides: the run of clear pixels from each
    // end of the join is as long on one side as on the other.
    auto clearRun = [&](QPoint start, QPoint step) {
        int run = 0;
        while (run < margin &&
               alphaAt(map, start.x() + run * step.x(), start.y() + run * step.y()) < 128)
            ++run;
        return run;
    };
    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            if (!solid(column, row))
                continue;
            const QString cell = QStringLiteral("cell %1,%2").arg(column).arg(row);
            if (solid(column + 1, row)) {
                const int xa = (column + 1) * t - 1; // last column of the left cell
                const int top = row * t;
                const int bottom = top + t - 1;
                const int topJog = clearRun({xa, top}, {0, 1}) - clearRun({xa + 1, top}, {0, 1});
                const int bottomJog =
                    clearRun({xa, bottom}, {0, -1}) - clearRun({xa + 1, bottom}, {0, -1});
                if (qAbs(topJog) > jog || qAbs(bottomJog) > jog)
                    fault(QStringLiteral("%1: the join to its right neighbour steps by %2 px at "
                                         "its top and %3 px at its bottom")
                              .arg(cell)
                              .arg(topJog)
                              .arg(bottomJog));
            }
            if (solid(column, row + 1)) {
                const int ya = (row + 1) * t - 1; // last row of the upper cell
                const int left = column * t;
                const int right = left + t - 1;
                const int leftJog = clearRun({left, ya}, {1, 0}) - clearRun({left, ya + 1}, {1, 0});
                const int rightJog =
                    clearRun({right, ya}, {-1, 0}) - clearRun({right, ya + 1}, {-1, 0});
                if (qAbs(leftJog) > jog || qAbs(rightJog) > jog)
                    fault(QStringLiteral("%1: the join to the cell below steps by %2 px at its "
                                         "left and %3 px at its right")
                              .arg(cell)
                              .arg(leftJog)
                              .arg(rightJog));
            }
        }
    }
    return faults;
}

// Largest difference of any channel between two images of one size.
int largestDifference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    int largest = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column) {
            // Colour under full transparency means nothing.
            if (qAlpha(p[column]) == 0 && qAlpha(q[column]) == 0)
                continue;
            largest = std::max({largest, qAbs(qRed(p[column]) - qRed(q[column])),
                                qAbs(qGreen(p[column]) - qGreen(q[column])),
                                qAbs(qBlue(p[column]) - qBlue(q[column])),
                                qAbs(qAlpha(p[column]) - qAlpha(q[column]))});
        }
    }
    return largest;
}

} // namespace

class TestTerrainMap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void paintedMap_hasNoSeams_data();
    void paintedMap_hasNoSeams();
    void seamCheck_findsGapsAndStrayPixels();

private:
    QString m_tmxrasterizer;
};

void TestTerrainMap::initTestCase()
{
    QVERIFY2(QFileInfo(cliPath()).isExecutable(), TW_CLI);
    const QString alpha =
        AssetLibrary::assetDirectory(QFileInfo(cliPath()).absolutePath(), AlphaMasks);
    const QStringList masks = TilesetExport::tileNames(alpha);
    for (int mask : BlobMask::all())
        QVERIFY2(
            masks.contains(BlobMask::fileName(mask)),
            qPrintable(BlobMask::fileName(mask) + QStringLiteral(" is missing from ") + alpha));
    m_tmxrasterizer = QStandardPaths::findExecutable(QStringLiteral("tmxrasterizer"));
}

void TestTerrainMap::paintedMap_hasNoSeams_data()
{
    QTest::addColumn<int>("tileSize");
    QTest::addColumn<QStringList>("atlasOptions");
    QTest::newRow("128 px") << 128 << QStringList();
    QTest::newRow("32 px, extruded, margin and spacing")
        << 32 << QStringList{"--extrude", "2", "--margin", "1", "--spacing", "1"};
}

void TestTerrainMap::paintedMap_hasNoSeams()
{
    QFETCH(int, tileSize);
    QFETCH(QStringList, atlasOptions);

    // Kept after the run, for a person to look at.
    const QString name = QStringLiteral("map-%1px").arg(tileSize);
    QDir folder(QCoreApplication::applicationDirPath() + QStringLiteral("/terrainmap/") + name);
    QVERIFY(folder.removeRecursively());
    QVERIFY(QDir().mkpath(folder.path()));

    // The default set, with the bundled library, as a user would make it.
    QProcess cli;
    cli.setProcessEnvironment(headless());
    cli.start(cliPath(), QStringList{folder.filePath(QStringLiteral("set")), QStringLiteral("-s"),
                                     QString::number(tileSize), QStringLiteral("--atlas"),
                                     QStringLiteral("--tsx")} +
                             atlasOptions);
    QVERIFY(cli.waitForFinished(120000));
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0,
             cli.readAllStandardError().constData());

    // Each solid cell's tile from its bitmask; Tiled's id from its place on
    // the sheet, which follows the mask name order.
    const QString set = folder.filePath(QStringLiteral("set"));
    QStringList tileFiles = TilesetExport::tileNames(set);
    tileFiles.removeAll(QStringLiteral("tileset.png"));
    AtlasOptions options;
    for (int i = 0; i + 1 < atlasOptions.size(); i += 2) {
        const int value = atlasOptions.at(i + 1).toInt();
        if (atlasOptions.at(i) == QLatin1String("--extrude"))
            options.extrusion = value;
        else if (atlasOptions.at(i) == QLatin1String("--margin"))
            options.margin = value;
        else if (atlasOptions.at(i) == QLatin1String("--spacing"))
            options.spacing = value;
    }
    AtlasLayout layout;
    QVERIFY(AtlasBuilder::measure(tileFiles.size(), QSize(tileSize, tileSize), options, &layout));

    QVector<int> gids(Columns * Rows, 0);
    // Our own compositor: each loose tile copied to its cell.
    QImage ours(Columns * tileSize, Rows * tileSize, QImage::Format_ARGB32_Premultiplied);
    ours.fill(Qt::transparent);
    QPainter painter(&ours);
    QSet<int> used;
    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            if (!solid(column, row))
                continue;
            const int mask = maskAt(column, row);
            used.insert(mask);
            const QString tile = BlobMask::fileName(mask);
            const int index = tileFiles.indexOf(tile);
            QVERIFY2(index >= 0, qPrintable(tile));
            const QPoint cell = layout.cell(index);
            gids[row * Columns + column] = 1 + cell.y() * layout.gridColumns() + cell.x();
            QString error;
            const QImage image = SafeImageReader::read(QDir(set).filePath(tile), &error);
            QVERIFY2(!image.isNull(), qPrintable(error));
            painter.drawImage(column * tileSize, row * tileSize, image);
        }
    }
    painter.end();
    qInfo("The map uses %d of the %d blob tiles.", used.size(), BlobMask::Count);

    const QString mapPath = folder.filePath(QStringLiteral("map.tmx"));
    QFile map(mapPath);
    QVERIFY(map.open(QIODevice::WriteOnly));
    map.write(tmx(tileSize, QStringLiteral("set/tileset.tsx"), gids));
    map.close();
    const QString oursPath = folder.filePath(QStringLiteral("map-compositor.png"));
    QVERIFY(ours.save(oursPath));
    qInfo("Rendered map (our compositor): %s", qPrintable(oursPath));

    const QStringList faults = seamFaults(ours, tileSize);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));

    if (m_tmxrasterizer.isEmpty())
        QSKIP("tmxrasterizer (Debian's package \"tiled\") is not installed, so the map was "
              "checked with our own compositor only. Install it with: apt-get install -y tiled");
    QProcess rasterizer;
    QProcessEnvironment env = headless();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    rasterizer.setProcessEnvironment(env);
    const QString tiledPath = folder.filePath(QStringLiteral("map-tiled.png"));
    rasterizer.start(m_tmxrasterizer, {QStringLiteral("--no-smoothing"), mapPath, tiledPath});
    QVERIFY(rasterizer.waitForFinished(120000));
    QVERIFY2(rasterizer.exitStatus() == QProcess::NormalExit && rasterizer.exitCode() == 0,
             (rasterizer.readAllStandardOutput() + rasterizer.readAllStandardError()).constData());
    qInfo("Rendered map (Tiled's tmxrasterizer): %s", qPrintable(tiledPath));
    const QImage tiled(tiledPath);
    QCOMPARE(tiled.size(), ours.size());
    const QStringList tiledFaults = seamFaults(tiled, tileSize);
    QVERIFY2(tiledFaults.isEmpty(), qPrintable(tiledFaults.join(QLatin1Char('\n'))));
    // Tiled cut every tile from the sheet where we put it: the same picture,
    // give or take the rounding of blending translucent pixels.
    const int difference = largestDifference(tiled, ours);
    QVERIFY2(difference <= 1, qPrintable(QStringLiteral("differs by %1").arg(difference)));
}

void TestTerrainMap::seamCheck_findsGapsAndStrayPixels()
{
    // The check itself: a perfect map of opaque cells passes; a gap at one
    // join, a stray pixel in an empty cell and a hole inside are each found.
    const int t = 16;
    QImage map(Columns * t, Rows * t, QImage::Format_ARGB32);
    map.fill(Qt::transparent);
    const int inset = 2;
    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            if (!solid(column, row))
                continue;
            // Opaque up to each join, inset from each open side.
            const int left = solid(column - 1, row) ? 0 : inset;
            const int right = solid(column + 1, row) ? 0 : inset;
            const int top = solid(column, row - 1) ? 0 : inset;
            const int bottom = solid(column, row + 1) ? 0 : inset;
            for (int y = top; y < t - bottom; ++y)
                for (int x = left; x < t - right; ++x)
                    map.setPixel(column * t + x, row * t + y, qRgba(120, 80, 40, 255));
            // An inner corner: both edges solid, the diagonal empty.
            for (int dy : {-1, 1}) {
                for (int dx : {-1, 1}) {
                    if (!solid(column + dx, row) || !solid(column, row + dy) ||
                        solid(column + dx, row + dy))
                        continue;
                    for (int i = 0; i < inset; ++i)
                        for (int j = 0; j < inset; ++j)
                            map.setPixel(column * t + (dx < 0 ? i : t - 1 - i),
                                         row * t + (dy < 0 ? j : t - 1 - j), qRgba(0, 0, 0, 0));
                }
            }
        }
    }
    QStringList faults = seamFaults(map, t);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));

    QImage gap = map;
    for (int y = 7 * t; y < 8 * t; ++y)
        gap.setPixel(8 * t - 1, y, qRgba(0, 0, 0, 0)); // a clear line down one join
    faults = seamFaults(gap, t);
    QVERIFY(!faults.isEmpty());
    QVERIFY2(faults.first().contains(QLatin1String("not opaque")), qPrintable(faults.first()));

    QImage stray = map;
    stray.setPixel(3, 3, qRgba(255, 255, 255, 40)); // cell 0,0 is empty
    faults = seamFaults(stray, t);
    QCOMPARE(faults.size(), 1);
    QVERIFY2(faults.first().contains(QLatin1String("cell 0,0 is empty")),
             qPrintable(faults.first()));

    QImage bleed = map;
    bleed.setPixel(3 * t + 5, 1 * t, qRgba(0, 200, 0, 255)); // on cell 3,1's open top
    faults = seamFaults(bleed, t);
    QCOMPARE(faults.size(), 1);
    QVERIFY2(faults.first().contains(QLatin1String("open top side")), qPrintable(faults.first()));

    QImage step = map;
    for (int y = 6 * t; y < 6 * t + 4; ++y) // cell 5,6's outline drops at its left join
        step.setPixel(5 * t, y, qRgba(0, 0, 0, 0));
    faults = seamFaults(step, t);
    QVERIFY(!faults.isEmpty());
}

QTEST_MAIN(TestTerrainMap)
#include "tst_terrainmap.moc"
