// Runs the real tilewright-cli as on a build server, without a display or QT_QPA_PLATFORM.

#include "assetlibrary.h"
#include "atlasfixtures.h"
#include "blobmask.h"
#include "generatetiles.h"
#include "level.h"
#include "levelrenderer.h"
#include "projectreader.h"
#include "projectwriter.h"
#include "tilesetexport.h"
#include "tilestyle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QXmlStreamReader>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

struct Run
{
    int exitCode;
    QString out, err;
};

Run run(const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(name);
    QProcess process; // killed on destruction if it hangs
    process.setProcessEnvironment(env);
    process.start(TW_CLI, arguments);
    const bool ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return {ok ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

const QString BinDir = QFileInfo(TW_CLI).absolutePath(), Masks = BinDir + "/Assets/Alpha";

// A hill with a cave and an overhang, a ring, a lone block, a thin pillar and cells touching
// only at a corner. '#' is solid; outside the map counts as empty.
const char *const Terrain[] = {"................", "...###......#...", "..#####....###..",
                               ".###.####..#.#.#", ".##...###..###..", "###.#.####....##",
                               "#######.########", "################"};
const auto solid = [](int c, int r) { return uint(c) < 16 && uint(r) < 8 && Terrain[r][c] == '#'; };

// Visible pixels in empty cells; joins of solid cells not opaque along their middle half, or
// whose outline crosses them at different places on the two sides (by over t/16 at an end).
QStringList seamFaults(const QImage &map, int t)
{
    QStringList faults;
    auto alpha = [&](int x, int y) { return qAlpha(map.pixel(x, y)); };
    for (int cell = 0; cell < 16 * 8; ++cell) {
        const int c = cell % 16, r = cell / 16, x = c * t, y = r * t;
        int amiss = 0, steps = 0;
        auto join = [&](int a, int b, int i) {
            steps += (a >= 128) != (b >= 128);
            amiss += i >= t / 4 && i < t - t / 4 && (a != 255 || b != 255);
        };
        for (int i = 0; i < t * t; ++i)
            amiss += !solid(c, r) && alpha(x + i % t, y + i / t);
        for (int i = 0; i < t && solid(c, r); ++i) {
            if (solid(c + 1, r))
                join(alpha(x + t - 1, y + i), alpha(x + t, y + i), i);
            if (solid(c, r + 1))
                join(alpha(x + i, y + t - 1), alpha(x + i, y + t), i);
        }
        if (amiss || steps > 4 * qMax(1, t / 16))
            faults << QString::asprintf("cell %d,%d: %d amiss, %d steps", c, r, amiss, steps);
    }
    return faults;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void arguments_exitCodeAndMessage_data()
    {
        // Split at spaces; upper-case words are paths in a fresh folder where EMPTY is a folder
        // and DTD a project with a document type (entities refused), but ALPHA is the bundled
        // mask folder and BIN the program's; '' is "".
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("message"); // exit 0 when it starts standard output, else 2
        const char *rows[][2] = {
            {"--help", "Usage:"},
            {"--version", "tilewright-cli " TILEWRIGHT_VERSION "\n"},
            {"OUT -s 0", "--size must be a whole number from 1 to 4096, not \"0\""},
            {"OUT -s 99999999999999999999", "--size must be a whole number from 1 to 4096"},
            {"OUT --atlas --columns -1", "--columns must be a whole number from 1"},
            {"OUT --extrude 999", "--extrude must be a whole number from 0"},
            {"OUT -j x", "--threads must be a whole number from 1"},
            {"OUT --colour red", "Unknown option 'colour'"},
            {"--atlas", "no output folder was given"},
            {"OUT OUT2", "one output folder"},
            {"OUT -p ''", "--project needs a file name"},
            {"OUT -m MISSING", "does not exist"},
            {"OUT -m EMPTY", "has no PNG masks"},
            {"OUT --tsx -n sub/terrain", "plain file name"},
            {"OUT --atlas -n full_notop", "mask's name"},
            {"OUT -p MISSING", "the project could not be read: "},
            {"OUT -p DTD", "the project could not be read: "},
            {"-s OUT", "--size must be a whole number from 1 to 4096, not"},
            {"OUT --atlas -n ''", "would make a hidden file"},
            {"OUT -s 4096 --atlas", "the largest allowed is 16384 x 16384"},
            {"ALPHA", "Alpha\" is \""},
            {"ALPHA/new", "lies inside"},
            {"BIN", "contains"},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << row[0] << row[1];
    }
    // A refusal is on standard error only, names a project, and makes no output folder.
    void arguments_exitCodeAndMessage()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("EMPTY")));
        QVERIFY(writeFile(dir.filePath("DTD"), "<!DOCTYPE project [<!ENTITY a \"b\">]><project/>"));
        QStringList list = arguments.split(' ');
        for (QString &word : list)
            word = word == "''"               ? QString()
                   : word.startsWith("ALPHA") ? Masks + word.mid(5)
                   : word == "BIN"            ? BinDir
                   : word.at(0).isUpper()     ? dir.filePath(word)
                                              : word;
        const Run r = run(list);
        const bool ok = message == "Usage:" || message.startsWith("tilewright-cli ");
        const QString &text = ok ? r.out : r.err;
        QCOMPARE(ok ? r.err : r.out, QString());
        QVERIFY2(text.startsWith(ok ? message : "tilewright-cli: "), qPrintable(text));
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY2(!arguments.contains("-p ") || text.contains(list.last()), qPrintable(text));
        QCOMPARE(r.exitCode, ok ? 0 : 2);
        QVERIFY(!QFileInfo::exists(dir.filePath("OUT")));
        QVERIFY(!QFileInfo::exists(Masks + "/new"));
    }

    // Every tile and export file that could not be written is named.
    void unwritableOutput_exitsOneNamingEveryFile()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("file"), {}));
        const Run r = run({dir.filePath("file/out"), "--tsx", "--tres", "--tres3"});
        QVERIFY2(r.out.startsWith("0 of "), qPrintable(r.out + r.err));
        QCOMPARE(r.exitCode, 1);
        const QStringList files{"tileset.png", "tileset.tsx", "tileset.tres",
                                "tileset_godot3.tres"};
        for (const QString &name : TilesetExport::tileNames(Masks) + files)
            QVERIFY2(r.err.contains("failed: " + name + ": "), qPrintable(name + '\n' + r.err));
    }

    // Nothing that is named like a mask may hang the run, fill memory or pass in silence: each
    // entry is a tile or a failure with its reason, said once.
    void hostileMaskFolder_everyEntryNamedOnce()
    {
        QTemporaryDir dir;
        const QString m = dir.filePath("m/");
        QVERIFY(QDir().mkpath(m + "dir.png") && QFile::copy(Masks + "/full.png", m + "a.png"));
        QVERIFY(writeFile(m + "bad.png", readFile(Masks + "/full.png").left(60)));
        QVERIFY(mkfifo(qPrintable(dir.filePath("fifo")), 0600) == 0);
        const char *links[][2] = {{"fifo", "fifo.png"},
                                  {"/dev/zero", "zero.png"},
                                  {"nowhere", "broken.png"},
                                  {"loop.png", "loop.png"}};
        for (const auto &link : links)
            QVERIFY(QFile::link(link[0][0] == 'f' ? dir.filePath(link[0]) : link[0], m + link[1]));
        const Run r = run({dir.filePath("out"), "-m", m, "-j", "2"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, "1 of 7 tiles written to " + dir.filePath("out") + '\n');
        const char *failures[][2] = {{"bad.png", "not a readable image"},
                                     {"broken.png", "No such file"},
                                     {"dir.png", "a folder"},
                                     {"fifo.png", "a named pipe"},
                                     {"loop.png", "symbolic links"},
                                     {"zero.png", "a device"}};
        for (const auto &failure : failures) {
            const QString line = QString("failed: %1: ").arg(failure[0]);
            QVERIFY2(r.err.count(line) == 1, qPrintable(r.err));
            QVERIFY2(r.err.contains(QRegularExpression(line + ".*" + failure[1] + ".*\n")),
                     qPrintable(r.err));
        }
        QCOMPARE(r.err.count("libpng error"), 1); // the bad mask is decoded once
        QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::Files), QStringList{"a.png"});
    }

    // A top shape or pattern that cannot be read leaves the tiles short of the design: named,
    // exit 1, and never a hang on a pipe or a read of a device.
    void unreadableDesignPart_exitsOneNamingIt_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QString>("file"); // FIFO: a named pipe
        QTest::addColumn<QString>("reason");
        QTest::newRow("top shape, a pipe") << QString("topStyle") << "FIFO" << QString("Top shape");
        QTest::newRow("bottom pattern, a device")
            << QString("bottomPattern") << "/dev/zero" << QString("Bottom pattern");
        QTest::newRow("top pattern, missing")
            << QString("topPattern") << "missing.png" << QString("Top pattern");
    }
    void unreadableDesignPart_exitsOneNamingIt()
    {
        QFETCH(QString, element);
        QFETCH(QString, file);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(mkfifo(qPrintable(dir.filePath("FIFO")), 0600) == 0);
        const QString path = file.startsWith('/') ? file : dir.filePath(file);
        QVERIFY(writeFile(dir.filePath("p.twr"),
                          QString("<project><%1>%2</%1></project>").arg(element, path).toUtf8()));
        const Run r = run({dir.filePath("out"), "-p", dir.filePath("p.twr"), "-s", "16"});
        const int masks = TilesetExport::tileNames(Masks).size();
        QVERIFY2(r.out.startsWith(QString("%1 of %1 tiles").arg(masks)), qPrintable(r.out));
        QVERIFY2(r.err.count(reason + ' ' + path) == 1, qPrintable(r.err));
        QCOMPARE(r.exitCode, 1);
    }

    // Decoded masks in flight share one budget, so memory does not grow with threads.
    void bigMasks_manyThreads_memoryBounded()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer's own memory swamps the figure");
#endif
        QTemporaryDir dir;
        QImage big(4096, 4096, QImage::Format_RGBA64);
        big.fill(Qt::transparent);
        QPainter(&big).fillRect(0, 1000, 4096, 3096, Qt::black);
        QVERIFY(QDir().mkpath(dir.filePath("m")) && big.save(dir.filePath("m/big00.png")));
        for (int i = 1; i < 40; ++i)
            QVERIFY(QFile::copy(dir.filePath("m/big00.png"),
                                dir.filePath(QString("m/big%1.png").arg(i, 2, 10, QChar('0')))));
        const Run r = run({dir.filePath("out"), "-m", dir.filePath("m"), "-j", "8", "-s", "16"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        rusage usage{};
        QVERIFY(getrusage(RUSAGE_CHILDREN, &usage) == 0);
        // ru_maxrss is in KiB: the largest child so far, and this is the largest run.
        QVERIFY2(usage.ru_maxrss < 600 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
    }

    void run_writesTheWindowsTiles_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("tileSize");
        QTest::addColumn<QByteArray>("project"); // none: the design of the window's first start
        QTest::newRow("defaults") << QStringList() << 128 << QByteArray();
        QTest::newRow("1 px, one thread")
            << QStringList{"-s", "1", "-j", "1", "-m", Masks} << 1 << QByteArray();
        QTest::newRow("project, 48 px, two threads")
            << QStringList{"--size", " 48", "--threads", "2"} << 48
            << QByteArray("<project><topStyle>$app$/Assets/TopStyles/snow.png</topStyle><topColor>"
                          "#d4e8f0</topColor><bottomPattern>$app$/Assets/Patterns/bricks.png"
                          "</bottomPattern><topDown>1</topDown></project>");
    }
    void run_writesTheWindowsTiles()
    {
        QFETCH(QStringList, options);
        QFETCH(int, tileSize);
        QFETCH(QByteArray, project);
        QTemporaryDir dir;
        const QString output = dir.filePath("new/nested/out");
        // The window's design: as read back from the project, else its first start's.
        TileStyle style;
        style.topStyle = BinDir + "/Assets/TopStyles/grass.png";
        ProjectReader reader;
        reader.setApplicationDirPath(BinDir);
        if (!project.isEmpty()) {
            QVERIFY(writeFile(dir.filePath("snow.twr"), project));
            QVERIFY(reader.read(dir.filePath("snow.twr"), style));
            options << "--project" << dir.filePath("snow.twr");
        }
        const Run r = run(QStringList{output} + options);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        // Not a terminal: one plain progress line per tile, in mask order.
        const QStringList names = TilesetExport::tileNames(Masks);
        QString progress;
        for (int i = 0; i < names.size(); ++i)
            progress += QString("tile %1/%2 %3\n").arg(i + 1).arg(names.size()).arg(names[i]);
        QCOMPARE(r.err, progress);
        QCOMPARE(r.out, QString("%1 of %1 tiles written to %2\n").arg(names.size()).arg(output));
        QCOMPARE(TilesetExport::tileNames(output), names);
        // As the window runs a generation, minus the thread.
        generateTiles worker;
        worker.setStyle(style);
        worker.alphaDirectory = Masks;
        worker.outputDirectory = dir.filePath("window");
        worker.tileSize = tileSize;
        QVERIFY(QDir().mkpath(worker.outputDirectory));
        worker.doGeneration();
        for (const QString &name : names)
            QVERIFY2(readFile(output + '/' + name) == readFile(worker.outputDirectory + '/' + name),
                     qPrintable(name));
    }

    // The level of a project comes out as the window paints it (the same renderer), as a PNG,
    // as a Tiled map that the real Tiled paints alike (1 per channel allowed), and as a Godot 4
    // scene whose every cell holds the sheet cell of its tile.
    void level_windowCliAndTiledAgree()
    {
        QTemporaryDir dir;
        Level level = Level::preset(1);
        level.setCell(0, 13, Level::Solid);
        // The design of the window's first start: its library's first top shape.
        TileStyle style;
        style.topStyle = listPngFiles(BinDir + "/Assets/TopStyles", ".png").first().filePath();
        QVERIFY(ProjectWriter().write(dir.filePath("p.twr"), style, &level));
        const QString out = dir.filePath("out");
        const Run r = run({out, "-p", dir.filePath("p.twr"), "-s", "24", "--tmx", "--tscn",
                           "--extrude", "1", "--level-png", dir.filePath("level.png")});
        QCOMPARE(r.exitCode, 0);
        const QImage cli = QImage(dir.filePath("level.png"));
        LevelRenderer renderer(Masks);
        QCOMPARE(cli, renderer.render(level, style, 24).convertToFormat(cli.format()));

        const QString rasterizer = QStandardPaths::findExecutable("tmxrasterizer");
        if (rasterizer.isEmpty())
            QSKIP("tmxrasterizer (Debian's package \"tiled\") is not installed. Install it with: "
                  "apt-get install -y tiled");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QCOMPARE(QProcess::execute(rasterizer, {"--no-smoothing", out + "/tileset.tmx",
                                                dir.filePath("tiled.png")}),
                 0);
        const QImage tiled = QImage(dir.filePath("tiled.png")).convertToFormat(cli.format());
        QCOMPARE(tiled.size(), cli.size());
        int worst = 0;
        for (int y = 0; y < cli.height(); ++y)
            for (int x = 0; x < cli.width(); ++x) {
                const QRgb a = cli.pixel(x, y), b = tiled.pixel(x, y);
                for (int shift : {0, 8, 16, 24})
                    worst = qMax(worst, qAbs(int(a >> shift & 255) - int(b >> shift & 255)));
            }
        QVERIFY2(worst <= 1, qPrintable(QString::number(worst)));

        // Godot 4: a uint16 format, then x, y, source, atlas column, atlas row, alternative.
        const QString scene = readFile(out + "/tileset.tscn");
        QVERIFY(scene.contains("[ext_resource type=\"TileSet\" path=\"tileset.tres\""));
        const QString list =
            scene.section("tile_map_data = PackedByteArray(", 1).section(')', 0, 0);
        QByteArray data;
        for (const QString &number : list.split(", "))
            data.append(char(number.toInt()));
        QCOMPARE((data.size() - 2) % 12, 0);
        const QStringList names = TilesetExport::tileNames(Masks);
        int cells = 0;
        for (int i = 2; i + 12 <= data.size(); i += 12, ++cells) {
            const auto word = [&](int at) {
                return int(quint8(data[i + at])) | int(quint8(data[i + at + 1])) << 8;
            };
            const QString name = level.tileName(word(0), word(2));
            const int index = names.indexOf(name);
            QVERIFY2(index >= 0, qPrintable(name));
            QCOMPARE(word(4), 0);
            QCOMPARE(QPoint(word(6), word(8)), QPoint(index % 12, index / 12));
        }
        QCOMPARE(cells, int(level.rows().join("").count(QRegularExpression("[^.]"))));
    }

    // Debian's Godot 3 loads the level's Godot 3 scene over our Godot 3 tileset with every cell
    // holding the tile of its name: the blob tiles as subtiles of the autotile (id 0, at their
    // sheet cell), the others as single tiles numbered from 1 in sheet order.
    void level_godot3SceneLoadsInTheRealEngine()
    {
        const QString godot = QStandardPaths::findExecutable("godot3-server");
        if (godot.isEmpty())
            QSKIP("godot3-server is not installed. Install it with: apt-get install -y "
                  "godot3-server");
        QTemporaryDir dir;
        const Run r = run({dir.path(), "-s", "16", "--tscn", "--tres3"});
        QCOMPARE(r.exitCode, 0);
        const QStringList names = TilesetExport::tileNames(Masks);
        const Level level = Level::defaultLevel();
        QJsonObject expected;
        for (int y = 0; y < level.height(); ++y)
            for (int x = 0; x < level.width(); ++x) {
                const int index = names.indexOf(level.tileName(x, y));
                if (level.tileName(x, y).isEmpty())
                    continue;
                QVERIFY(index >= 0);
                const bool blob = BlobMask::fromFileName(names[index]) != BlobMask::None;
                int single = 0;
                for (int i = 0; i < index; ++i)
                    single += BlobMask::fromFileName(names[i]) == BlobMask::None;
                expected[QString("%1,%2").arg(x).arg(y)] =
                    blob ? QJsonArray{0, index % 12, index / 12} : QJsonArray{single + 1, 0, 0};
            }
        QVERIFY(writeFile(dir.filePath("expected.json"), QJsonDocument(expected).toJson()));
        QVERIFY(writeFile(dir.filePath("project.godot"), "config_version=4\n"));
        QVERIFY(
            QFile::copy(qEnvironmentVariable("TW_SOURCE_DIR") + "/tests/data/godot3_level_check.gd",
                        dir.filePath("check.gd")));
        QProcess import;
        import.start(godot, {"--path", dir.path(), "-e", "--quit"}); // imports the sheet
        QVERIFY(import.waitForFinished(60000));
        QProcess check;
        check.start(godot, {"--path", dir.path(), "-s", "check.gd"});
        QVERIFY(check.waitForFinished(60000));
        const QString output = check.readAllStandardOutput();
        QVERIFY2(output.contains(QString("checked: %1 failures: []").arg(expected.size())),
                 qPrintable(output));
        QCOMPARE(check.exitCode(), 0);
    }

    // The default set at 32 px on an extruded sheet with margin and spacing, painted by Tiled
    // from a .tmx over our .tsx; kept for a person to look at.
    void paintedMap_hasNoSeams()
    {
        QDir folder(QCoreApplication::applicationDirPath() + "/terrainmap");
        QVERIFY(folder.removeRecursively() && folder.mkpath("set"));
        const QString set = folder.filePath("set");
        const Run made = run({set, "-s", "32", "--atlas", "--tsx", "--tres", "--extrude", "2",
                              "--margin", "1", "--spacing", "1"});
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));
        QVERIFY2(made.out.count("wrote " + set + "/tileset.") == 3, qPrintable(made.out));
        // Each solid cell's tile by its bitmask, numbered by its place on the sheet: name order.
        const QStringList tiles = TilesetExport::tileNames(Masks);
        QStringList gids;
        for (int cell = 0; cell < 16 * 8; ++cell) {
            const int c = cell % 16, r = cell / 16, dx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
            int raw = 0; // neighbours N, NE, E, ..., NW; dy[bit] is dx[bit + 6]
            for (int bit = 0; bit < 8; ++bit)
                raw |= solid(c + dx[bit], r + dx[(bit + 6) % 8]) << bit;
            const QString tile = BlobMask::fileName(BlobMask::canonical(raw));
            gids << QString::number(solid(c, r) ? 1 + tiles.indexOf(tile) : 0);
        }
        const QString tmx = folder.filePath("map.tmx"), png = folder.filePath("map.png");
        QVERIFY(writeFile(tmx, "<map orientation=\"orthogonal\" width=\"16\" height=\"8\" "
                               "tilewidth=\"32\" tileheight=\"32\"><tileset firstgid=\"1\" "
                               "source=\"set/tileset.tsx\"/><layer width=\"16\" height=\"8\"><data "
                               "encoding=\"csv\">" +
                                   gids.join(',').toUtf8() + "</data></layer></map>"));
        const QString rasterizer = QStandardPaths::findExecutable("tmxrasterizer");
        if (rasterizer.isEmpty())
            QSKIP("tmxrasterizer (Debian's package \"tiled\") is not installed, so the map "
                  "cannot be painted. Install it with: apt-get install -y tiled");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QCOMPARE(QProcess::execute(rasterizer, {"--no-smoothing", tmx, png}), 0);
        qInfo("The map as Tiled paints it: %s", qPrintable(png));
        QImage map = QImage(png).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(seamFaults(map, 32), QStringList());
        // The check bites: a clear line down a join inside the terrain.
        for (int y = 7 * 32; y < 8 * 32; ++y)
            map.setPixel(8 * 32 - 1, y, 0);
        QVERIFY(!seamFaults(map, 32).isEmpty());
    }

    // The default set at 128 px with all three tilesets: every tile with visible pixels has
    // collision in the .tsx and none without, platforms are one-way, and the blob tiles open to
    // the sky meet their side neighbours at one floor height. The outlines are drawn over the
    // sheet (red solid, blue one-way, dots at the vertices), kept for a person to look at.
    void collision_drawnFromTheTsx()
    {
        QDir folder(QCoreApplication::applicationDirPath() + "/collision");
        QVERIFY(folder.removeRecursively() && folder.mkpath("set"));
        const QString set = folder.filePath("set");
        const Run made = run({set, "--tsx", "--tres", "--tres3"});
        QVERIFY2(made.exitCode == 0 && made.out.count("wrote " + set + "/tileset") == 4,
                 qPrintable(made.out + made.err));
        const QImage sheet = QImage(set + "/tileset.png").convertToFormat(QImage::Format_ARGB32);
        QFile tsx(set + "/tileset.tsx");
        QVERIFY(tsx.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&tsx);
        QImage picture = sheet;
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        int id = -1, tiles = 0;
        bool oneWay = false;
        QString name;
        QMap<int, QVector<QPolygonF>> polygons; // by tile id
        QSet<double> floors;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            const QString element = xml.name().toString(), property = a.value("name").toString();
            if (element == "tile") {
                id = a.value("id").toInt();
                ++tiles;
            } else if (element == "property" && property == "name") {
                name = a.value("value").toString();
            } else if (element == "property" && property == "one_way") {
                oneWay = a.value("value") == QLatin1String("true");
                QCOMPARE(oneWay, name.startsWith("platform"));
            } else if (element == "polygon") {
                QPolygonF polygon;
                for (const QString &point : a.value("points").toString().split(' '))
                    polygon << QPointF(point.section(',', 0, 0).toDouble(),
                                       point.section(',', 1).toDouble());
                polygons[id] << polygon;
                const QPointF at(id % 12 * 128, id / 12 * 128);
                painter.setPen(QPen(oneWay ? QColor(0, 90, 255) : QColor(230, 0, 0), 2));
                painter.drawPolygon(polygon.translated(at));
                painter.setBrush(painter.pen().color());
                for (const QPointF &p : polygon)
                    painter.drawEllipse(p + at, 2.5, 2.5);
                painter.setBrush(Qt::NoBrush);
                // A blob tile open to the sky: its top where it meets a solid side, if level.
                const int mask = BlobMask::fromFileName(name + ".png"), n = polygon.size();
                for (int side : {0, 128}) {
                    if (mask < 0 || (mask & BlobMask::N) ||
                        !(mask & (side ? BlobMask::E : BlobMask::W)))
                        continue;
                    int top = -1;
                    for (int i = 0; i < n; ++i)
                        if (polygon[i].x() == side &&
                            (top < 0 || polygon[i].y() < polygon[top].y()))
                            top = i;
                    const double y = polygon.value(top).y();
                    floors << (y == polygon[(top + 1) % n].y() ||
                                       y == polygon[(top + n - 1) % n].y()
                                   ? y
                                   : -1);
                }
            }
        }
        painter.end();
        QCOMPARE(tiles, TilesetExport::tileNames(Masks).size());
        for (int id = 0; id < tiles; ++id) {
            bool visible = false;
            for (int i = 0; i < 128 * 128 && !visible; ++i)
                visible = qAlpha(sheet.pixel(id % 12 * 128 + i % 128, id / 12 * 128 + i / 128)) > 0;
            QVERIFY2(visible == polygons.contains(id), qPrintable(QString::number(id)));
        }
        QCOMPARE(floors, QSet<double>{8});
        QVERIFY(picture.save(folder.filePath("collision.png")));
        qInfo("The collision outlines over the sheet: %s",
              qPrintable(folder.filePath("collision.png")));
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
