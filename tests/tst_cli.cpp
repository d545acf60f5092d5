// Runs the real tilewright-cli: its arguments and exit codes, what it
// writes, and that its tiles are byte for byte the ones the window's worker
// makes from the same design. It runs without a display and without
// QT_QPA_PLATFORM, as on a build server.

#include "assetlibrary.h"
#include "atlasbuilder.h"
#include "generatetiles.h"
#include "projectreader.h"
#include "projectwriter.h"
#include "tilestyle.h"
#include "tmpfsmount.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

QString cliPath()
{
    return QStringLiteral(TW_CLI);
}

// Where the program looks for its bundled library.
QString binDir()
{
    return QFileInfo(cliPath()).absolutePath();
}

// The environment of a machine without any display: the test runner's own
// QT_QPA_PLATFORM is dropped too.
QProcessEnvironment headless()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    return env;
}

CliRun runCli(const QStringList &arguments, const QProcessEnvironment &environment = headless())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(cliPath(), arguments);
    CliRun run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("did not finish normally: ") + process.errorString();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QString describe(const CliRun &run)
{
    return QStringLiteral("exit %1\nstdout:\n%2\nstderr:\n%3")
        .arg(run.exitCode)
        .arg(run.out, run.err);
}

// Masks of different kinds: a hill, a slope, a full block without top, and
// a blob tile; written out of name order.
QStringList writeMasks(const QDir &dir)
{
    auto below = [](const std::function<int(int)> &surface) {
        QImage mask(128, 128, QImage::Format_ARGB32);
        mask.fill(Qt::transparent);
        for (int x = 0; x < 128; ++x)
            for (int y = qMax(0, surface(x)); y < 128; ++y)
                mask.setPixel(x, y, qRgb(0, 0, 0));
        return mask;
    };
    const QList<QPair<QString, QImage>> masks{
        {QStringLiteral("full_notop.png"), below([](int) { return 0; })},
        {QStringLiteral("blob_004.png"), below([](int x) { return x < 8 ? 200 : 10; })},
        {QStringLiteral("B_slope.png"), below([](int x) { return x * 100 / 127; })},
        {QStringLiteral("a_hill.png"), below([](int x) { return 30 + (x - 64) * (x - 64) / 90; })},
    };
    for (const auto &mask : masks)
        mask.second.save(dir.filePath(mask.first), "PNG");
    return {QStringLiteral("a_hill.png"), QStringLiteral("B_slope.png"),
            QStringLiteral("blob_004.png"), QStringLiteral("full_notop.png")};
}

QStringList pngFiles(const QString &dir)
{
    QStringList names;
    for (const QFileInfo &file : listPngFiles(dir, QStringLiteral(".png")))
        names << file.fileName();
    return names;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A design unlike the defaults, drawn here: its own top shape, a pattern on
// each part, other colours and opacities.
TileStyle patternedDesign(const QDir &dir)
{
    QImage top(128, 36, QImage::Format_ARGB32);
    top.fill(Qt::transparent);
    for (int x = 0; x < 128; ++x)
        for (int y = 0; y < 20 + (x / 6) % 3 * 5; ++y)
            top.setPixel(x, y, (x + y) % 5 ? qRgba(220, 235, 245, 255) : qRgba(180, 200, 220, 160));
    QImage bricks(128, 128, QImage::Format_RGB32);
    bricks.fill(qRgb(200, 200, 195));
    QPainter painter(&bricks);
    for (int row = 0; row < 8; ++row)
        for (int x = (row % 2) * -16; x < 128; x += 32)
            painter.fillRect(x + 1, row * 16 + 1, 30, 14,
                             (row + x / 32) % 3 ? QColor(120, 118, 110) : QColor(150, 145, 140));
    painter.end();
    QImage specks(128, 128, QImage::Format_ARGB32);
    specks.fill(Qt::transparent);
    for (int i = 0; i < 900; ++i)
        specks.setPixel((i * 37) % 128, (i * 91 + i / 7) % 128,
                        qRgba((i * 13) % 256, 90, 200, 40 + (i * 7) % 200));

    TileStyle style;
    style.topStyle = dir.filePath(QStringLiteral("snow.png"));
    top.save(style.topStyle, "PNG");
    bricks.save(dir.filePath(QStringLiteral("bricks.png")), "PNG");
    specks.save(dir.filePath(QStringLiteral("specks.png")), "PNG");
    style.bottomPattern = QFileInfo(dir.filePath(QStringLiteral("bricks.png")));
    style.topPattern = QFileInfo(dir.filePath(QStringLiteral("specks.png")));
    style.topDown = true;
    style.topColor = QColor(QStringLiteral("#d4e8f0"));
    style.bottomColor = QColor(QStringLiteral("#5a6470"));
    style.topPatternColor = QColor(QStringLiteral("#ffffff"));
    style.bottomPatternColor = QColor(QStringLiteral("#202830"));
    style.topOpacity = 0.9f;
    style.bottomPatternOpacity = 0.55f;
    style.topPatternColorOpacity = 0.7f;
    return style;
}

// The window's design at its first start, from the library beside the
// program: default colours and the first top shape.
TileStyle firstStartStyle()
{
    TileStyle style;
    const QList<QFileInfo> tops =
        listPngFiles(AssetLibrary::assetDirectory(binDir(), TopShapes), QStringLiteral(".png"));
    if (!tops.isEmpty())
        style.topStyle = tops.first().path() + QLatin1Char('/') + tops.first().fileName();
    return style;
}

// As the window runs a generation, minus the thread: the worker's members,
// then doGeneration().
bool generateLikeTheWindow(const TileStyle &style, const QString &masks, const QString &output,
                           int tileSize, QString *failures)
{
    generateTiles worker;
    worker.setStyle(style);
    worker.alphaDirectory = masks;
    worker.outputDirectory = output;
    worker.tileSize = tileSize;
    QObject::connect(&worker, &generateTiles::TileFailed,
                     [&](const QString &name, const QString &reason) {
                         *failures += name + QStringLiteral(": ") + reason + QLatin1Char('\n');
                     });
    worker.doGeneration();
    return failures->isEmpty();
}

} // namespace

Q_DECLARE_METATYPE(AtlasOptions)

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void helpAndVersion_exitZero_data();
    void helpAndVersion_exitZero();
    void badArguments_exitTwoAndWriteNothing_data();
    void badArguments_exitTwoAndWriteNothing();
    void unreadableProject_exitsTwo_data();
    void unreadableProject_exitsTwo();
    void unwritableOutput_exitsOneNamingEveryTile_data();
    void unwritableOutput_exitsOneNamingEveryTile();
    void missingOutputFolder_isCreated();
    void exportFileFails_exitsOneNamingIt();

    void normalRun_writesOneTilePerMask_data();
    void normalRun_writesOneTilePerMask();
    void exportRun_writesRequestedFiles_data();
    void exportRun_writesRequestedFiles();
    void sameTilesAsTheWindowsWorker_data();
    void sameTilesAsTheWindowsWorker();
    void unknownPlatform_doesNotMatter();
    void terminal_showsProgressBar();

private:
    QTemporaryDir m_dir;
    QString m_masks;
    QStringList m_maskNames;
};

void TestCli::initTestCase()
{
    QVERIFY2(QFileInfo(cliPath()).isExecutable(), TW_CLI);
    QVERIFY(m_dir.isValid());
    m_masks = m_dir.filePath(QStringLiteral("masks"));
    QVERIFY(QDir().mkpath(m_masks));
    m_maskNames = writeMasks(QDir(m_masks));
    QCOMPARE(pngFiles(m_masks), m_maskNames);
    // The bundled library the program defaults to.
    QVERIFY2(!pngFiles(AssetLibrary::assetDirectory(binDir(), AlphaMasks)).isEmpty(),
             "the default asset library is not built beside the program");
}

void TestCli::helpAndVersion_exitZero_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("expected");
    const QString help = QStringLiteral("Usage:");
    QTest::newRow("--help") << QStringLiteral("--help") << help;
    QTest::newRow("-h") << QStringLiteral("-h") << help;
    const QString version = QStringLiteral("tilewright-cli " TILEWRIGHT_VERSION "\n");
    QTest::newRow("--version") << QStringLiteral("--version") << version;
    QTest::newRow("-v") << QStringLiteral("-v") << version;
}

void TestCli::helpAndVersion_exitZero()
{
    QFETCH(QString, argument);
    QFETCH(QString, expected);
    const CliRun run = runCli({argument});
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    if (expected.startsWith(QLatin1String("Usage"))) {
        QVERIFY2(run.out.startsWith(expected), qPrintable(run.out));
        for (const char *option :
             {"--project", "--masks", "--size", "--atlas", "--columns", "--margin", "--spacing",
              "--extrude", "--pot", "--tsx", "--tres", "--threads", "--version"})
            QVERIFY2(run.out.contains(QLatin1String(option)), option);
    } else {
        QCOMPARE(run.out, expected);
        QCOMPARE(run.out, QStringLiteral("tilewright-cli 1.08\n"));
    }
}

void TestCli::badArguments_exitTwoAndWriteNothing_data()
{
    QTest::addColumn<QStringList>("arguments"); // "OUT" is the output folder
    QTest::addColumn<QString>("message");

    const QString size = QStringLiteral("--size must be a whole number from 1 to 4096");
    QTest::newRow("-s 0") << QStringList{"OUT", "-s", "0"} << size + QStringLiteral(", not \"0\"");
    QTest::newRow("-s abc") << QStringList{"OUT", "-s", "abc"}
                            << size + QStringLiteral(", not \"abc\"");
    QTest::newRow("-s 4097") << QStringList{"OUT", "-s", "4097"} << size;
    QTest::newRow("-s 12.5") << QStringList{"OUT", "-s", "12.5"} << size;
    QTest::newRow("-s huge") << QStringList{"OUT", "-s", "99999999999999999999"} << size;
    QTest::newRow("--columns -1") << QStringList{"OUT", "--atlas", "--columns", "-1"}
                                  << QStringLiteral("--columns must be a whole number from 1");
    QTest::newRow("--columns 0") << QStringList{"OUT", "--columns", "0"}
                                 << QStringLiteral("--columns must be a whole number from 1");
    QTest::newRow("--margin x") << QStringList{"OUT", "--margin", "x"}
                                << QStringLiteral("--margin must be a whole number from 0");
    QTest::newRow("--spacing -2") << QStringList{"OUT", "--spacing", "-2"}
                                  << QStringLiteral("--spacing must be a whole number from 0");
    QTest::newRow("--extrude 999") << QStringList{"OUT", "--extrude", "999"}
                                   << QStringLiteral("--extrude must be a whole number from 0");
    QTest::newRow("-j x") << QStringList{"OUT", "-j", "x"}
                          << QStringLiteral("--threads must be a whole number from 1");
    QTest::newRow("-j 0") << QStringList{"OUT", "-j", "0"}
                          << QStringLiteral("--threads must be a whole number from 1");
    QTest::newRow("unknown option")
        << QStringList{"OUT", "--colour", "red"} << QStringLiteral("Unknown option 'colour'");
    QTest::newRow("value missing")
        << QStringList{"OUT", "-s"} << QStringLiteral("Missing value after '-s'");
    QTest::newRow("no output folder")
        << QStringList{"--atlas"} << QStringLiteral("no output folder was given");
    QTest::newRow("two output folders")
        << QStringList{"OUT", "OUT2"} << QStringLiteral("one output folder");
    QTest::newRow("empty project name")
        << QStringList{"OUT", "-p", ""} << QStringLiteral("--project needs a file name");
    QTest::newRow("mask folder missing")
        << QStringList{"OUT", "-m", "MISSING"} << QStringLiteral("does not exist");
    QTest::newRow("mask folder without masks")
        << QStringList{"OUT", "-m", "EMPTY"} << QStringLiteral("has no PNG masks");
    QTest::newRow("name with a folder")
        << QStringList{"OUT", "--tsx", "-n", "sub/terrain"} << QStringLiteral("plain file name");
    QTest::newRow("atlas named like a mask")
        << QStringList{"OUT", "--atlas", "-n", "full_notop"} << QStringLiteral("mask's name");
}

void TestCli::badArguments_exitTwoAndWriteNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("empty"))));
    for (QString &argument : arguments) {
        if (argument == QLatin1String("OUT"))
            argument = output;
        else if (argument == QLatin1String("OUT2"))
            argument = dir.filePath(QStringLiteral("out2"));
        else if (argument == QLatin1String("MISSING"))
            argument = dir.filePath(QStringLiteral("missing"));
        else if (argument == QLatin1String("EMPTY"))
            argument = dir.filePath(QStringLiteral("empty"));
    }
    // Our own masks unless the row chooses others: quick, and a known set.
    if (!arguments.contains(QStringLiteral("-m")))
        arguments = QStringList{QStringLiteral("-m"), m_masks} + arguments;

    const CliRun run = runCli(arguments);
    QVERIFY2(run.exitCode == 2, qPrintable(describe(run)));
    QVERIFY2(run.err.contains(message), qPrintable(describe(run)));
    QVERIFY2(run.err.startsWith(QLatin1String("tilewright-cli: ")), qPrintable(run.err));
    // Refused before anything was made: not even the output folder.
    QVERIFY(!QFileInfo::exists(output));
    QVERIFY(run.out.isEmpty());
}

void TestCli::unreadableProject_exitsTwo_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no such file
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("project could not be read");
    QTest::newRow("not XML") << QByteArray("\x89PNG not a project")
                             << QStringLiteral("project could not be read");
    QTest::newRow("no project element")
        << QByteArray("<?xml version=\"1.0\"?><style><topColor>#ffffff</topColor></style>")
        << QStringLiteral("project could not be read");
    QTest::newRow("document type") << QByteArray("<!DOCTYPE project [<!ENTITY a \"b\">]>"
                                                 "<project/>")
                                   << QStringLiteral("project could not be read");
    QTest::newRow("cut short") << QByteArray("<project><topColor>#ffffff</topCo")
                               << QStringLiteral("project could not be read");
}

void TestCli::unreadableProject_exitsTwo()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString project = dir.filePath(QStringLiteral("design.twr"));
    if (!content.isEmpty()) {
        QFile file(project);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const QString output = dir.filePath(QStringLiteral("out"));
    const CliRun run =
        runCli({output, QStringLiteral("-p"), project, QStringLiteral("-m"), m_masks});
    QVERIFY2(run.exitCode == 2, qPrintable(describe(run)));
    QVERIFY2(run.err.contains(message), qPrintable(describe(run)));
    QVERIFY2(run.err.contains(QLatin1String("design.twr")), qPrintable(run.err));
    QVERIFY(!QFileInfo::exists(output));
}

void TestCli::unwritableOutput_exitsOneNamingEveryTile_data()
{
    QTest::addColumn<bool>("readOnlyFileSystem");
    QTest::addColumn<bool>("withExport");
    QTest::newRow("folder under a file") << false << false;
    QTest::newRow("folder under a file, with export") << false << true;
    QTest::newRow("read-only file system") << true << false;
}

void TestCli::unwritableOutput_exitsOneNamingEveryTile()
{
    QFETCH(bool, readOnlyFileSystem);
    QFETCH(bool, withExport);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString output;
    TmpfsMount disk(dir.filePath(QStringLiteral("disk")));
    if (readOnlyFileSystem) {
        // Permission bits do not stop root; a read-only mount stops everyone.
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("disk"))));
        if (!disk.mount() || !disk.remountReadOnly())
            QSKIP("Needs root to mount a read-only file system.");
        output = dir.filePath(QStringLiteral("disk"));
    } else {
        QFile file(dir.filePath(QStringLiteral("a file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        output = dir.filePath(QStringLiteral("a file/out"));
    }
    QStringList arguments{output, QStringLiteral("-m"), m_masks};
    if (withExport)
        arguments << QStringLiteral("--tsx") << QStringLiteral("--tres");

    const CliRun run = runCli(arguments);
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    for (const QString &mask : qAsConst(m_maskNames))
        QVERIFY2(run.err.contains(QStringLiteral("failed: ") + mask + QStringLiteral(": ")),
                 qPrintable(mask + QLatin1Char('\n') + run.err));
    if (withExport) {
        for (const char *name : {"tileset.png", "tileset.tsx", "tileset.tres"})
            QVERIFY2(run.err.contains(QStringLiteral("failed: %1: ").arg(QLatin1String(name))),
                     qPrintable(run.err));
    }
    QVERIFY2(run.out.contains(QStringLiteral("0 of 4 tiles written")), qPrintable(run.out));
    QVERIFY2(run.err.contains(QLatin1String("4 tiles could not be made")), qPrintable(run.err));
}

void TestCli::missingOutputFolder_isCreated()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("new/nested/tiles"));
    const CliRun run = runCli({output, QStringLiteral("-m"), m_masks});
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(pngFiles(output), m_maskNames);
}

void TestCli::exportFileFails_exitsOneNamingIt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("out"));
    // A folder where the .tsx should go: the tiles and the sheet can be
    // written, the .tsx cannot, and the sheet is taken back.
    QVERIFY(QDir().mkpath(output + QStringLiteral("/tileset.tsx")));
    const CliRun run = runCli({output, QStringLiteral("-m"), m_masks, QStringLiteral("--tsx")});
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    QVERIFY2(run.err.contains(QLatin1String("failed: tileset.tsx: could not be written")),
             qPrintable(run.err));
    QVERIFY2(run.err.contains(QLatin1String("failed: tileset.png: removed again")),
             qPrintable(run.err));
    QVERIFY(!QFileInfo::exists(output + QStringLiteral("/tileset.png")));
    QCOMPARE(pngFiles(output), m_maskNames);
    QVERIFY2(run.out.contains(QLatin1String("4 of 4 tiles written")), qPrintable(run.out));
}

void TestCli::normalRun_writesOneTilePerMask_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("tileSize");
    QTest::newRow("default size") << QStringList() << 128;
    QTest::newRow("1 px") << QStringList{"-s", "1"} << 1;
    QTest::newRow("48 px, one thread") << QStringList{"--size", "48", "-j", "1"} << 48;
    QTest::newRow("200 px, two threads") << QStringList{"-s", " 200", "--threads", "2"} << 200;
}

void TestCli::normalRun_writesOneTilePerMask()
{
    QFETCH(QStringList, options);
    QFETCH(int, tileSize);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("out"));
    const CliRun run = runCli(QStringList{output, QStringLiteral("-m"), m_masks} + options);
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(QDir(output).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase),
             m_maskNames);
    for (const QString &name : qAsConst(m_maskNames)) {
        const QImage tile(QDir(output).filePath(name));
        QCOMPARE(tile.size(), QSize(tileSize, tileSize));
    }
    // Not a terminal: one plain progress line per tile, in mask order.
    QStringList progress;
    for (int i = 0; i < m_maskNames.size(); ++i)
        progress << QStringLiteral("tile %1/%2 %3")
                        .arg(i + 1)
                        .arg(m_maskNames.size())
                        .arg(m_maskNames.at(i));
    QCOMPARE(run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts), progress);
    QVERIFY2(!run.err.contains(QLatin1Char('\r')), qPrintable(run.err));
    QCOMPARE(run.out, QStringLiteral("4 of 4 tiles written to %1\n")
                          .arg(QDir::toNativeSeparators(QFileInfo(output).absoluteFilePath())));
}

void TestCli::exportRun_writesRequestedFiles_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<AtlasOptions>("atlas");

    QTest::newRow("atlas, tsx and tres")
        << QStringList{"--atlas", "--tsx", "--tres"}
        << QStringList{"tileset.png", "tileset.tres", "tileset.tsx"} << AtlasOptions();
    QTest::newRow("tsx alone brings the atlas")
        << QStringList{"--tsx"} << QStringList{"tileset.png", "tileset.tsx"} << AtlasOptions();
    QTest::newRow("extrusion alone asks for the atlas")
        << QStringList{"--extrude", "2"} << QStringList{"tileset.png"}
        << AtlasOptions{0, 0, 0, 2, false};
    QTest::newRow("named, shaped")
        << QStringList{"--tres",   "-n", "cave",      "--columns", "3",
                       "--margin", "1",  "--spacing", "2",         "--pot"}
        << QStringList{"cave.png", "cave.tres"} << AtlasOptions{3, 1, 2, 0, true};
}

void TestCli::exportRun_writesRequestedFiles()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, files);
    QFETCH(AtlasOptions, atlas);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("out"));
    const CliRun run = runCli(QStringList{output, QStringLiteral("-m"), m_masks,
                                          QStringLiteral("-s"), QStringLiteral("32")} +
                              options);
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QStringList extra = QDir(output).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &mask : qAsConst(m_maskNames))
        QVERIFY2(extra.removeOne(mask), qPrintable(mask));
    QCOMPARE(extra, files);
    for (const QString &file : files)
        QVERIFY2(run.out.contains(QStringLiteral("wrote ") +
                                  QDir::toNativeSeparators(QDir(output).filePath(file))),
                 qPrintable(run.out));

    AtlasLayout planned;
    QVERIFY(AtlasBuilder::measure(m_maskNames.size(), QSize(32, 32), atlas, &planned));
    const QImage sheet(QDir(output).filePath(files.first()));
    QCOMPARE(sheet.size(), planned.sheetSize);
    // The sheet holds the tiles as written, in mask order.
    for (int i = 0; i < m_maskNames.size(); ++i) {
        const QImage tile =
            QImage(QDir(output).filePath(m_maskNames.at(i))).convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(sheet.copy(planned.tileRects.at(i)).convertToFormat(QImage::Format_ARGB32) == tile,
                 qPrintable(m_maskNames.at(i)));
    }
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
    QVERIFY(dir.isValid());
    const QDir folder(dir.path());
    TileStyle style = firstStartStyle();
    QStringList arguments{folder.filePath(QStringLiteral("cli")), QStringLiteral("-s"),
                          QString::number(tileSize)};
    if (withProject) {
        const TileStyle design = patternedDesign(folder);
        const QString project = folder.filePath(QStringLiteral("snow.twr"));
        ProjectWriter writer;
        QVERIFY2(writer.write(project, design), qPrintable(writer.errorString()));
        ProjectReader reader;
        reader.setApplicationDirPath(binDir());
        QVERIFY2(reader.read(project, style), qPrintable(reader.errorString()));
        arguments << QStringLiteral("--project") << project;
    }
    const QString masks =
        bundledMasks ? AssetLibrary::assetDirectory(binDir(), AlphaMasks) : m_masks;
    if (!bundledMasks)
        arguments << QStringLiteral("--masks") << masks;

    const CliRun run = runCli(arguments);
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QString failures;
    const QString window = folder.filePath(QStringLiteral("window"));
    QVERIFY(QDir().mkpath(window));
    QVERIFY2(generateLikeTheWindow(style, masks, window, tileSize, &failures),
             qPrintable(failures));

    const QStringList names = pngFiles(masks);
    QVERIFY(!names.isEmpty());
    QCOMPARE(pngFiles(folder.filePath(QStringLiteral("cli"))), names);
    QCOMPARE(pngFiles(window), names);
    for (const QString &name : names) {
        const QByteArray fromCli = readAll(folder.filePath(QStringLiteral("cli/") + name));
        QVERIFY(!fromCli.isEmpty());
        QVERIFY2(fromCli == readAll(QDir(window).filePath(name)), qPrintable(name));
    }
}

void TestCli::unknownPlatform_doesNotMatter()
{
    // A program that loaded a platform plugin would stop at a name that
    // does not exist; this one never asks for one.
    QProcessEnvironment env = headless();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("out"));
    const CliRun run =
        runCli({output, QStringLiteral("-m"), m_masks, QStringLiteral("--atlas")}, env);
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(pngFiles(output).size(), m_maskNames.size() + 1);
}

void TestCli::terminal_showsProgressBar()
{
    // script(1) gives the program a terminal as stdout and stderr.
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    if (script.isEmpty())
        QSKIP("script(1) from util-linux is needed to run the program on a terminal.");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto quoted = [](QString text) {
        return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("'\\''")) +
               QLatin1Char('\'');
    };
    const QString command =
        QStringList{quoted(cliPath()), quoted(dir.filePath(QStringLiteral("out"))),
                    QStringLiteral("-m"), quoted(m_masks)}
            .join(QLatin1Char(' '));
    QProcess process;
    process.setProcessEnvironment(headless());
    process.start(script, {QStringLiteral("-qec"), command, QStringLiteral("/dev/null")});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    const QString screen = QString::fromLocal8Bit(process.readAllStandardOutput());
    // The bar is redrawn in place, ends full, and no plain lines are printed.
    QVERIFY2(screen.contains(QLatin1String("\r[")), qPrintable(screen));
    QVERIFY2(screen.contains(QStringLiteral("[") + QString(30, QLatin1Char('#')) +
                             QStringLiteral("] 4/4 full_notop.png")),
             qPrintable(screen));
    QVERIFY2(!screen.contains(QLatin1String("tile 1/4")), qPrintable(screen));
    QCOMPARE(pngFiles(dir.filePath(QStringLiteral("out"))), m_maskNames);
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
