// tilewright-cli: parses the command line and hands the run to CliRunner.
// A QCoreApplication is enough: the core paints on QImage only, which needs
// no display and no platform plugin.

#include "clirunner.h"
#include "tilepipeline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

void printError(const QString &text)
{
    std::fprintf(stderr, "tilewright-cli: %s\nTry 'tilewright-cli --help' for more information.\n",
                 qPrintable(text));
}

// The option's value as a whole number from min to max; false with a
// message naming the option otherwise.
bool readNumber(const QCommandLineParser &parser, const QCommandLineOption &option, int min,
                int max, int *value, QString *error)
{
    if (!parser.isSet(option))
        return true;
    const QString text = parser.value(option).trimmed();
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok, 10);
    if (!ok || number < min || number > max) {
        *error = QStringLiteral("--%1 must be a whole number from %2 to %3, not \"%4\".")
                     .arg(option.names().constLast())
                     .arg(min)
                     .arg(max)
                     .arg(parser.value(option));
        return false;
    }
    *value = int(number);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tilewright-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TILEWRIGHT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Generates a tileset from a Tilewright design: one PNG tile per alpha mask, and on\n"
        "request an atlas sheet with a Tiled tileset (.tsx) and Godot 4 and 3 TileSets.\n"
        "The tiles are the ones the Tilewright window makes from the same design.\n"
        "\n"
        "Exit status: 0 when every tile and requested file was written, 1 when some\n"
        "could not be (each is named on stderr), 2 for bad arguments, masks or project."));
    parser.addPositionalArgument(
        QStringLiteral("output"),
        QStringLiteral("Folder the tiles are written into; created when missing."));
    const QCommandLineOption project(
        {QStringLiteral("p"), QStringLiteral("project")},
        QStringLiteral("Design to generate (.twr). Default: the default design with the "
                       "library's first top shape."),
        QStringLiteral("file"));
    const QCommandLineOption masks(
        {QStringLiteral("m"), QStringLiteral("masks")},
        QStringLiteral("Folder of alpha masks. Default: Assets/Alpha beside this program."),
        QStringLiteral("dir"));
    const QCommandLineOption size({QStringLiteral("s"), QStringLiteral("size")},
                                  QStringLiteral("Tile width and height in pixels, 1 to %1. "
                                                 "Default: 128.")
                                      .arg(TilePipeline::MaxTileSize),
                                  QStringLiteral("px"));
    const QCommandLineOption atlas(QStringLiteral("atlas"),
                                   QStringLiteral("Also pack every tile into one sheet, "
                                                  "<name>.png. Implied by the options below."));
    const QCommandLineOption columns(QStringLiteral("columns"),
                                     QStringLiteral("Tiles per row of the sheet, 1 to 1024. "
                                                    "Default: 12, the blob set in four rows."),
                                     QStringLiteral("n"));
    const QCommandLineOption margin(
        QStringLiteral("margin"),
        QStringLiteral("Transparent border around the sheet, 0 to 1024 px. Default: 0."),
        QStringLiteral("px"));
    const QCommandLineOption spacing(
        QStringLiteral("spacing"),
        QStringLiteral("Transparent gap between tiles, 0 to 1024 px. Default: 0."),
        QStringLiteral("px"));
    const QCommandLineOption extrude(
        QStringLiteral("extrude"),
        QStringLiteral("Repeat each tile's edge pixels outward, 0 to 256 px, against "
                       "texture bleeding. Default: 0."),
        QStringLiteral("px"));
    const QCommandLineOption pot(QStringLiteral("pot"),
                                 QStringLiteral("Pad the sheet to power-of-two width and height."));
    const QCommandLineOption tsx(QStringLiteral("tsx"),
                                 QStringLiteral("Write a Tiled tileset, <name>.tsx, with the "
                                                "terrain's Wang set."));
    const QCommandLineOption tres(QStringLiteral("tres"),
                                  QStringLiteral("Write a Godot 4 TileSet, <name>.tres, with "
                                                 "terrain peering bits and collision."));
    const QCommandLineOption tmx(QStringLiteral("tmx"),
                                 QStringLiteral("Write the level (the project's, else the default "
                                                "one) as a Tiled map, <name>.tmx, over the .tsx. "
                                                "Implies --tsx."));
    const QCommandLineOption tscn(QStringLiteral("tscn"),
                                  QStringLiteral("Write the level as a Godot 4 scene, <name>.tscn, "
                                                 "over the .tres (implies --tres); with --tres3 "
                                                 "also as a Godot 3 scene, <name>_godot3.tscn."));
    const QCommandLineOption tres3(QStringLiteral("tres3"),
                                   QStringLiteral("Write a Godot 3 TileSet, <name>_godot3.tres, "
                                                  "with a 3x3 minimal autotile and collision."));
    const QCommandLineOption name({QStringLiteral("n"), QStringLiteral("name")},
                                  QStringLiteral("Base name of the sheet and tilesets. "
                                                 "Default: tileset."),
                                  QStringLiteral("name"));
    const QCommandLineOption levelPng(
        QStringLiteral("level-png"),
        QStringLiteral("Also draw the project's level (else the default level) with the tiles, "
                       "at the tile size, into this PNG file."),
        QStringLiteral("file"));
    const QCommandLineOption threads({QStringLiteral("j"), QStringLiteral("threads")},
                                     QStringLiteral("Tiles made at once, 1 to 256. Default: one "
                                                    "per processor core."),
                                     QStringLiteral("n"));
    for (const QCommandLineOption *option :
         {&project, &masks, &size, &atlas, &columns, &margin, &spacing, &extrude, &pot, &tsx, &tres,
          &tmx, &tscn, &tres3, &name, &levelPng, &threads})
        parser.addOption(*option);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();

    if (!parser.parse(QCoreApplication::arguments())) {
        printError(parser.errorText());
        return CliRunner::BadArguments;
    }
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();

    // Numbers first: "-s out" takes the folder as the size, and saying so
    // is more helpful than saying no folder was given.
    CliRunner::Options options;
    options.projectFile = parser.value(project);
    options.maskDirectory = parser.value(masks);
    TilesetExportOptions &out = options.exportOptions;
    QString error;
    if (!readNumber(parser, size, 1, TilePipeline::MaxTileSize, &options.tileSize, &error) ||
        !readNumber(parser, columns, 1, 1024, &out.columns, &error) ||
        !readNumber(parser, margin, 0, 1024, &out.margin, &error) ||
        !readNumber(parser, spacing, 0, 1024, &out.spacing, &error) ||
        !readNumber(parser, extrude, 0, 256, &out.extrusion, &error) ||
        !readNumber(parser, threads, 1, 256, &options.threads, &error)) {
        printError(error);
        return CliRunner::BadArguments;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        printError(positional.isEmpty() ? QStringLiteral("no output folder was given.")
                                        : QStringLiteral("one output folder, not %1 arguments: %2")
                                              .arg(positional.size())
                                              .arg(positional.join(QLatin1Char(' '))));
        return CliRunner::BadArguments;
    }

    options.outputDirectory = positional.first();
    if (parser.isSet(project) && options.projectFile.isEmpty()) {
        printError(QStringLiteral("--project needs a file name."));
        return CliRunner::BadArguments;
    }
    options.levelPng = parser.value(levelPng);
    if (parser.isSet(levelPng) && options.levelPng.isEmpty()) {
        printError(QStringLiteral("--level-png needs a file name."));
        return CliRunner::BadArguments;
    }
    if (parser.isSet(masks) && options.maskDirectory.isEmpty()) {
        printError(QStringLiteral("--masks needs a folder."));
        return CliRunner::BadArguments;
    }
    if (parser.isSet(name)) {
        out.baseName = parser.value(name);
        out.atlasFileName = out.baseName + QStringLiteral(".png");
    }
    out.powerOfTwo = parser.isSet(pot);
    out.tmx = parser.isSet(tmx);
    out.tscn = parser.isSet(tscn);
    out.tsx = parser.isSet(tsx) || out.tmx;
    out.tres = parser.isSet(tres) || out.tscn;
    out.tres3 = parser.isSet(tres3);
    // Options that only shape the sheet ask for it.
    out.atlas = parser.isSet(atlas) || parser.isSet(columns) || parser.isSet(margin) ||
                parser.isSet(spacing) || parser.isSet(extrude) || out.powerOfTwo;

    return CliRunner(options, QCoreApplication::applicationDirPath()).run();
}
