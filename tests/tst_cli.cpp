// Runs the real tilewright-cli without a display or QT_QPA_PLATFORM, as on a
// build server: arguments, exit codes, what it writes, tiles byte for byte
// the window's, and a map painted with the default set that shows no seams.

#include "assetlibrary.h"
#include "blobmask.h"
#include "generatetiles.h"
#include "projectreader.h"
#include "projectwriter.h"
#include "tilesetexport.h"
#include "tilestyle.h"
#include "tmpfsmount.h"

#include <QPainter>
#include <QStandardPaths>
#include <QtTest>

namespace {

struct Run
{
    int exitCode;
    QString out, err;
    QByteArray describe() const
    {
        return QString("exit %1\n%2\n%3").arg(exitCode).arg(out, err).toLocal8Bit();
    }
};

// With no display at all: the runner's QT_QPA_PLATFORM goes too, unless given.
Run run(const QStringList &arguments, const QString &platform = QString(),
        const QString &program = QStringLiteral(TW_CLI))
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    if (!platform.isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    QProcess process; // killed on destruction if it hangs
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    const bool done =
        process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return {done ? process.exitCode() : -1, QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

const QString BinDir = QFileInfo(QStringLiteral(TW_CLI)).absolutePath();
QString library(AssetKind kind)
{
    return AssetLibrary::assetDirectory(BinDir, kind);
}

QStringList pngFiles(const QString &dir)
{
    QStringList names;
    for (const QFileInfo &file : listPngFiles(dir, QStringLiteral(".png")))
        names << file.fileName();
    return names;
}

// The painted map: a hill with a cave and an overhang, a ring, a lone block,
// a thin pillar and cells touching only at a corner. '#' is solid.
const char *const Terrain[] = {"................", "...###......#...", "..#####....###..",
                               ".###.####..#.#.#", ".##...###..###..", "###.#.####....##",
                               "#######.########", "################"};
constexpr int Columns = 16, Rows = 8;

// Outside the map counts as empty, so the outline closes at its edges.
bool solid(int column, int row)
{
    return column >= 0 && row >= 0 && column < Columns && row < Rows && Terrain[row][column] == '#';
}

int maskAt(int column, int row)
{
    static const int offsets[8][2] = {{0, -1}, {1, -1}, {1, 0},  {1, 1},
                                      {0, 1},  {-1, 1}, {-1, 0}, {-1, -1}}; // N, NE, ... NW
    int raw = 0;
    for (int bit = 0; bit < 8; ++bit)
        raw |= solid(column + offsets[bit][0], row + offsets[bit][1]) ? 1 << bit : 0;
    return BlobMask::canonical(raw);
}

// The map's seams, as text. Within t/4 of an empty neighbour the tiles shape
// their outline; elsewhere a solid cell is opaque, so no join can gap, and
// the outline crosses a join at one place on both sides. Empty cells are clear.
QStringList seamFaults(const QImage &map, int t)
{
    if (map.size() != QSize(Columns * t, Rows * t))
        return {QStringLiteral("the map is %1 x %2 pixels").arg(map.width()).arg(map.height())};
    const int margin = t / 4, jog = qMax(1, t / 16);
    auto alpha = [&](int x, int y) { return qAlpha(map.pixel(x, y)); };
    auto clearRun = [&](int x, int y, int dx, int dy) {
        int run = 0;
        while (run < margin && alpha(x + run * dx, y + run * dy) < 128)
            ++run;
        return run;
    };
    QStringList faults;
    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            const bool filled = solid(column, row);
            const QString cell = QStringLiteral("cell %1,%2: ").arg(column).arg(row);
            int stray = 0, holes = 0;
            for (int ly = 0; ly < t; ++ly) {
                for (int lx = 0; lx < t; ++lx) {
                    const int across[3] = {lx, 0, t - 1 - lx}, down[3] = {ly, 0, t - 1 - ly};
                    int nearest = t; // to the nearest empty neighbour
                    for (int d = 0; d < 9; ++d)
                        if (d != 4 && !solid(column + d % 3 - 1, row + d / 3 - 1))
                            nearest = qMin(nearest, qMax(across[d % 3], down[d / 3]));
                    const int a = alpha(column * t + lx, row * t + ly);
                    stray += !filled && a;
                    holes += filled && nearest >= margin && a != 255;
                }
            }
            if (stray || holes)
                faults << cell +
                              QString::asprintf("%d visible, %d inside not opaque", stray, holes);
            const int x = (column + 1) * t - 1, y = (row + 1) * t - 1; // its last column, row
            if (filled && solid(column + 1, row) &&
                (qAbs(clearRun(x, row * t, 0, 1) - clearRun(x + 1, row * t, 0, 1)) > jog ||
                 qAbs(clearRun(x, y, 0, -1) - clearRun(x + 1, y, 0, -1)) > jog))
                faults << cell + QStringLiteral("the outline steps at the join to its right");
            if (filled && solid(column, row + 1) &&
                (qAbs(clearRun(column * t, y, 1, 0) - clearRun(column * t, y + 1, 1, 0)) > jog ||
                 qAbs(clearRun(x, y, -1, 0) - clearRun(x, y + 1, -1, 0)) > jog))
                faults << cell + QStringLiteral("the outline steps at the join below");
        }
    }
    return faults;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void helpAndVersion_exitZero();
    void badArguments_exitTwoAndWriteNothing_data();
    void badArguments_exitTwoAndWriteNothing();
    void unwritableOutput_exitsOneNamingEveryTile_data();
    void unwritableOutput_exitsOneNamingEveryTile();
    void normalRun_writesOneTilePerMask_data();
    void normalRun_writesOneTilePerMask();
    void sameTilesAsTheWindowsWorker_data();
    void sameTilesAsTheWindowsWorker();
    void paintedMap_hasNoSeams_data();
    void paintedMap_hasNoSeams();

private:
    QTemporaryDir m_dir;
    QString m_masks = m_dir.filePath(QStringLiteral("masks"));
    const QStringList m_maskNames{"a_hill.png", "B_slope.png", "blob_004.png", "full_notop.png"};
};

void TestCli::initTestCase()
{
    QVERIFY2(QFileInfo(QStringLiteral(TW_CLI)).isExecutable(), TW_CLI);
    QVERIFY(m_dir.isValid() && QDir().mkpath(m_masks));
    // Four masks of the library under names out of its order.
    const QStringList bundled = pngFiles(library(AlphaMasks));
    for (int i = 0; i < 4; ++i)
        QVERIFY(QFile::copy(library(AlphaMasks) + '/' + bundled.value(i * 9),
                            m_masks + '/' + m_maskNames.at(i)));
    QCOMPARE(pngFiles(m_masks), m_maskNames);
}

void TestCli::helpAndVersion_exitZero()
{
    for (const char *argument : {"--help", "-h", "--version", "-v"}) {
        const Run result = run({argument});
        const bool help = QByteArray(argument).contains('h');
        QVERIFY2(result.exitCode == 0 && result.err.isEmpty(), result.describe());
        QVERIFY2(help ? result.out.startsWith("Usage:")
                      : result.out == "tilewright-cli " TILEWRIGHT_VERSION "\n",
                 result.describe());
        for (const char *option :
             {"--project", "--masks", "--size", "--atlas", "--columns", "--margin", "--spacing",
              "--extrude", "--pot", "--tsx", "--tres", "--threads"})
            QVERIFY2(!help || result.out.contains(QLatin1String(option)), option);
    }
}

void TestCli::badArguments_exitTwoAndWriteNothing_data()
{
    // Split at spaces; upper-case words are paths in a fresh folder (EMPTY
    // exists, PROJECT holds the row's project unless that is empty), '' is "".
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("project");
    const QString size = QStringLiteral("--size must be a whole number from 1 to 4096, not \"");
    for (const char *value : {"0", "abc", "4097", "12.5", "99999999999999999999"})
        QTest::addRow("-s %s", value) << "OUT -s " + QString(value) << size + value << QByteArray();
    const char *rows[][2] = {
        {"OUT --atlas --columns -1", "--columns must be a whole number from 1"},
        {"OUT --margin x", "--margin must be a whole number from 0"},
        {"OUT --spacing -2", "--spacing must be a whole number from 0"},
        {"OUT --extrude 999", "--extrude must be a whole number from 0"},
        {"OUT -j x", "--threads must be a whole number from 1"},
        {"OUT -j 0", "--threads must be a whole number from 1"},
        {"OUT --colour red", "Unknown option 'colour'"},
        {"OUT -s", "Missing value after '-s'"},
        {"--atlas", "no output folder was given"},
        {"OUT OUT2", "one output folder"},
        {"OUT -p ''", "--project needs a file name"},
        {"OUT -m MISSING", "does not exist"},
        {"OUT -m EMPTY", "has no PNG masks"},
        {"OUT --tsx -n sub/terrain", "plain file name"},
        {"OUT --atlas -n full_notop", "mask's name"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << row[0] << row[1] << QByteArray();
    // Unreadable projects: missing, not XML, no project element, a document
    // type, cut short.
    const char *projects[] = {"", "\x89PNG", "<?xml version=\"1.0\"?><style/>",
                              "<!DOCTYPE project [<!ENTITY a \"b\">]><project/>",
                              "<project><topColor>#ffffff</topCo"};
    for (int i = 0; i < 5; ++i)
        QTest::addRow("unreadable project %d", i)
            << "OUT -p PROJECT"
            << "the project could not be read: " << QByteArray(projects[i]);
}

void TestCli::badArguments_exitTwoAndWriteNothing()
{
    QFETCH(QString, arguments);
    QFETCH(QString, message);
    QFETCH(QByteArray, project);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("PROJECT")));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("EMPTY"))));
    QVERIFY(project.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(project)));
    file.close();
    QStringList list = arguments.split(QLatin1Char(' '));
    for (QString &argument : list)
        argument = argument == "''"           ? QString()
                   : argument.at(0).isUpper() ? dir.filePath(argument)
                                              : argument;
    // Our own masks unless the row chooses others: quick, and a known set.
    const Run result = run(list.contains("-m") ? list : QStringList{"-m", m_masks} + list);
    QVERIFY2(
        result.exitCode == 2 && result.err.startsWith("tilewright-cli: ") && result.out.isEmpty() &&
            result.err.contains(message) &&
            (!arguments.contains("PROJECT") || result.err.contains('"' + file.fileName() + '"')),
        result.describe());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("OUT")))); // not even made
}

void TestCli::unwritableOutput_exitsOneNamingEveryTile_data()
{
    QTest::addColumn<bool>("readOnlyFileSystem"); // else the folder would be under a file
    QTest::addColumn<QString>("exported");
    QTest::newRow("folder under a file") << false << "";
    QTest::newRow("folder under a file, with export") << false << "--tsx --tres";
    QTest::newRow("read-only file system") << true << "";
}

void TestCli::unwritableOutput_exitsOneNamingEveryTile()
{
    QFETCH(bool, readOnlyFileSystem);
    QFETCH(QString, exported);
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("disk/out"));
    QVERIFY(readOnlyFileSystem ? QDir().mkpath(output)
                               : QFile(dir.filePath("disk")).open(QIODevice::WriteOnly));
    // Permission bits do not stop root; a read-only mount stops everyone.
    TmpfsMount disk(dir.filePath(QStringLiteral("disk")));
    if (readOnlyFileSystem && (!disk.mount() || !disk.remountReadOnly()))
        QSKIP("Needs root to mount a read-only file system.");
    const Run result =
        run(QStringList{output, "-m", m_masks} + exported.split(' ', Qt::SkipEmptyParts));
    QVERIFY2(result.exitCode == 1 && result.out.contains("0 of 4 tiles written") &&
                 result.err.contains("4 tiles could not be made"),
             result.describe());
    const QStringList names =
        exported.isEmpty()
            ? m_maskNames
            : m_maskNames + QStringList{"tileset.png", "tileset.tsx", "tileset.tres"};
    for (const QString &name : qAsConst(names))
        QVERIFY2(result.err.contains("failed: " + name + ": "),
                 qPrintable(name + '\n' + result.err));
}

void TestCli::normalRun_writesOneTilePerMask_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("tileSize");
    QTest::addColumn<QString>("platform"); // one that does not exist: no plugin is loaded
    QTest::newRow("default size") << QStringList() << 128 << QString();
    QTest::newRow("1 px") << QStringList{"-s", "1"} << 1 << QString();
    QTest::newRow("48 px, one thread") << QStringList{"--size", "48", "-j", "1"} << 48 << QString();
    QTest::newRow("200 px, two threads")
        << QStringList{"-s", " 200", "--threads", "2"} << 200 << QString();
    QTest::newRow("unknown platform") << QStringList() << 128 << "no-such-platform";
}

void TestCli::normalRun_writesOneTilePerMask()
{
    QFETCH(QStringList, options);
    QFETCH(int, tileSize);
    QFETCH(QString, platform);
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("new/nested/out")); // made as needed
    const Run result = run(QStringList{output, "-m", m_masks} + options, platform);
    QVERIFY2(result.exitCode == 0, result.describe());
    QCOMPARE(QDir(output).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase),
             m_maskNames);
    // Not a terminal: one plain progress line per tile, in mask order.
    QString progress;
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(QImage(output + '/' + m_maskNames.at(i)).size(), QSize(tileSize, tileSize));
        progress += QStringLiteral("tile %1/4 %2\n").arg(i + 1).arg(m_maskNames.at(i));
    }
    QCOMPARE(result.err, progress);
    QCOMPARE(result.out, "4 of 4 tiles written to " + QDir::toNativeSeparators(output) + '\n');
}

void TestCli::sameTilesAsTheWindowsWorker_data()
{
    QTest::addColumn<bool>("withProject");
    QTest::addColumn<bool>("bundledMasks");
    QTest::addColumn<int>("tileSize");
    QTest::newRow("first-start design, bundled library") << false << true << 128;
    QTest::newRow("project with patterns, bundled library, 48 px") << true << true << 48;
    QTest::newRow("project with patterns, own masks, 96 px") << true << false << 96;
}

void TestCli::sameTilesAsTheWindowsWorker()
{
    QFETCH(bool, withProject);
    QFETCH(bool, bundledMasks);
    QFETCH(int, tileSize);
    QTemporaryDir dir;
    const QString masks = bundledMasks ? library(AlphaMasks) : m_masks;
    QStringList arguments{dir.filePath("cli"), "-s", QString::number(tileSize)};
    if (!bundledMasks) // else the program's default
        arguments << "-m" << masks;
    // The window's design at its first start: default colours, first top shape.
    TileStyle style;
    style.topStyle = library(TopShapes) + '/' + pngFiles(library(TopShapes)).value(0);
    if (withProject) {
        // Unlike the defaults; the window gets it as read back from the file.
        TileStyle design;
        design.topStyle = library(TopShapes) + '/' + pngFiles(library(TopShapes)).last();
        design.bottomPattern = QFileInfo(library(Patterns) + "/bricks.png");
        design.topPattern = QFileInfo(library(Patterns) + "/noise.png");
        design.topDown = true;
        design.topColor = design.bottomPatternColor = QColor(QStringLiteral("#d4e8f0"));
        design.topOpacity = design.bottomPatternOpacity = 0.55f;
        ProjectReader reader;
        reader.setApplicationDirPath(BinDir);
        QVERIFY(ProjectWriter().write(dir.filePath("snow.twr"), design));
        QVERIFY2(reader.read(dir.filePath("snow.twr"), style), qPrintable(reader.errorString()));
        arguments << "--project" << dir.filePath("snow.twr");
    }
    const Run result = run(arguments);
    QVERIFY2(result.exitCode == 0, result.describe());

    // As the window runs a generation, minus the thread.
    generateTiles worker;
    worker.setStyle(style);
    worker.alphaDirectory = masks;
    worker.outputDirectory = dir.filePath(QStringLiteral("window"));
    worker.tileSize = tileSize;
    QSignalSpy failed(&worker, &generateTiles::TileFailed);
    QVERIFY(QDir().mkpath(worker.outputDirectory));
    worker.doGeneration();
    QCOMPARE(failed.count(), 0);
    const QStringList names = pngFiles(masks);
    QCOMPARE(pngFiles(dir.filePath("cli")), names);
    QCOMPARE(pngFiles(worker.outputDirectory), names);
    auto bytes = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    for (const QString &name : names) {
        const QByteArray fromCli = bytes(dir.filePath("cli/" + name));
        QVERIFY2(!fromCli.isEmpty() && fromCli == bytes(worker.outputDirectory + '/' + name),
                 qPrintable(name));
    }
}

void TestCli::paintedMap_hasNoSeams_data()
{
    QTest::addColumn<int>("tileSize");
    QTest::addColumn<QString>("sheet");
    QTest::newRow("128 px") << 128 << "";
    QTest::newRow("32 px, extruded, margin and spacing")
        << 32 << " --extrude 2 --margin 1 --spacing 1";
}

void TestCli::paintedMap_hasNoSeams()
{
    QFETCH(int, tileSize);
    QFETCH(QString, sheet);
    // Kept after the run for a person to look at; map.tmx opens in Tiled.
    QDir folder(QCoreApplication::applicationDirPath() +
                QStringLiteral("/terrainmap/map-%1px").arg(tileSize));
    QVERIFY(folder.removeRecursively() && folder.mkpath(QStringLiteral("set")));
    const QString set = folder.filePath(QStringLiteral("set"));
    const Run made = run(QStringList{set, "-s", QString::number(tileSize)} +
                         ("--atlas --tsx --tres" + sheet).split(' '));
    QVERIFY2(made.exitCode == 0, made.describe());
    for (const char *file : {"/tileset.png", "/tileset.tsx", "/tileset.tres"})
        QVERIFY2(made.out.contains("wrote " + set + file), made.describe());

    // Each solid cell's tile by its bitmask: drawn into our render from the
    // loose file, and in the .tmx by its place on the sheet, in name order.
    const QStringList tiles = TilesetExport::tileNames(library(AlphaMasks));
    QImage ours(Columns * tileSize, Rows * tileSize, QImage::Format_ARGB32);
    ours.fill(Qt::transparent);
    QPainter painter(&ours);
    QStringList gids;
    for (int cell = 0; cell < Columns * Rows; ++cell) {
        const QString tile = BlobMask::fileName(maskAt(cell % Columns, cell / Columns));
        const bool filled = solid(cell % Columns, cell / Columns);
        QVERIFY2(tiles.contains(tile), qPrintable(tile));
        gids << QString::number(filled ? 1 + tiles.indexOf(tile) : 0);
        if (filled)
            painter.drawImage(cell % Columns * tileSize, cell / Columns * tileSize,
                              QImage(set + '/' + tile));
    }
    painter.end();
    QFile tmx(folder.filePath(QStringLiteral("map.tmx")));
    QVERIFY(tmx.open(QIODevice::WriteOnly));
    tmx.write(
        QByteArray("<?xml version=\"1.0\"?>\n<map version=\"1.8\" orientation=\"orthogonal\" "
                   "renderorder=\"right-down\" width=\"16\" height=\"8\" tilewidth=\"SIZE\" "
                   "tileheight=\"SIZE\" infinite=\"0\">\n <tileset firstgid=\"1\" "
                   "source=\"set/tileset.tsx\"/>\n <layer id=\"1\" name=\"Terrain\" width=\"16\" "
                   "height=\"8\"><data encoding=\"csv\">CSV</data></layer>\n</map>\n")
            .replace("SIZE", QByteArray::number(tileSize))
            .replace("CSV", gids.join(',').toUtf8()));
    tmx.close();
    // The gap check bites: a clear line down a join inside the terrain.
    QImage gap = ours;
    for (int y = 7 * tileSize; y < 8 * tileSize; ++y)
        gap.setPixel(8 * tileSize - 1, y, 0);
    QVERIFY(!seamFaults(gap, tileSize).isEmpty());
    QVERIFY(ours.save(folder.filePath(QStringLiteral("map-compositor.png"))));
    qInfo("Rendered map (our compositor): %s", qPrintable(folder.filePath("map-compositor.png")));
    QCOMPARE(seamFaults(ours, tileSize), QStringList());

    const QString rasterizer = QStandardPaths::findExecutable(QStringLiteral("tmxrasterizer"));
    if (rasterizer.isEmpty())
        QSKIP("tmxrasterizer (Debian's package \"tiled\") is not installed, so the map was "
              "checked with our own compositor only. Install it with: apt-get install -y tiled");
    const QString tiledPath = folder.filePath(QStringLiteral("map-tiled.png"));
    const Run rendered =
        run({"--no-smoothing", tmx.fileName(), tiledPath}, "offscreen", rasterizer);
    QVERIFY2(rendered.exitCode == 0, rendered.describe());
    qInfo("Rendered map (Tiled's tmxrasterizer): %s", qPrintable(tiledPath));
    const QImage tiled = QImage(tiledPath).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(seamFaults(tiled, tileSize), QStringList());
    // Tiled cut every tile from the sheet where we put it: the same picture,
    // give or take rounding when blending translucent pixels.
    int worst = 0;
    for (int i = 0; i < tiled.width() * tiled.height(); ++i) {
        const QRgb p = tiled.pixel(i % tiled.width(), i / tiled.width());
        const QRgb q = ours.pixel(i % tiled.width(), i / tiled.width());
        if (qAlpha(p) || qAlpha(q)) // colour under full transparency is no colour
            for (int shift : {0, 8, 16, 24})
                worst = qMax(worst, qAbs(int(p >> shift & 255) - int(q >> shift & 255)));
    }
    QVERIFY2(worst <= 1, qPrintable(QStringLiteral("Tiled's render differs by %1").arg(worst)));
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
