#include "clirunner.h"

#include "assetlibrary.h"
#include "generatetiles.h"
#include "levelrenderer.h"
#include "pngencoder.h"
#include "progressreporter.h"
#include "projectreader.h"
#include "runoutcome.h"
#include "safefilewriter.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

void printLine(FILE *stream, const QString &text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

CliRunner::CliRunner(const Options &options, const QString &appDirPath)
    : m_options(options), m_appDirPath(appDirPath)
{
}

TileStyle CliRunner::defaultStyle(const QString &appDirPath)
{
    TileStyle style;
    const QList<QFileInfo> tops =
        listPngFiles(AssetLibrary::assetDirectory(appDirPath, TopShapes), QStringLiteral(".png"));
    if (!tops.isEmpty())
        style.topStyle = tops.first().path() + QLatin1Char('/') + tops.first().fileName();
    return style;
}

// The level as the window shows it, at the tile size, from the same masks.
bool CliRunner::writeLevelPicture(const TileStyle &style, const QString &maskDirectory)
{
    LevelRenderer renderer(maskDirectory);
    QStringList missing;
    const QImage image = renderer.render(m_level, style, m_options.tileSize, &missing);
    if (!missing.isEmpty())
        printError(tr("the level has cells whose mask is not in \"%1\", drawn crossed: %2")
                       .arg(native(maskDirectory), missing.join(QStringLiteral(", "))));
    QString reason;
    const QByteArray png = PngEncoder::encode(image, &reason);
    const QString path = QFileInfo(m_options.levelPng).absoluteFilePath();
    if (png.isEmpty() || !SafeFileWriter::writeNamingFile(path, png, &reason)) {
        printError(tr("the level picture could not be written: %1").arg(reason));
        return false;
    }
    printLine(stdout, tr("wrote %1").arg(native(path)));
    return true;
}

void CliRunner::printError(const QString &text)
{
    printLine(stderr, QStringLiteral("tilewright-cli: ") + text);
}

bool CliRunner::loadStyle(TileStyle &style)
{
    // As when the window opens a project right after starting: the file's
    // fields over the first-start design.
    style = defaultStyle(m_appDirPath);
    if (m_options.projectFile.isEmpty())
        return true;
    ProjectReader reader;
    reader.setApplicationDirPath(m_appDirPath);
    if (!reader.read(m_options.projectFile, style)) {
        printError(tr("the project could not be read: %1").arg(reader.errorString()));
        return false;
    }
    m_level = reader.level();
    return true;
}

CliRunner::ExitCode CliRunner::run()
{
    const QString maskDirectory = m_options.maskDirectory.isEmpty()
                                      ? AssetLibrary::assetDirectory(m_appDirPath, AlphaMasks)
                                      : m_options.maskDirectory;
    if (!QFileInfo(maskDirectory).isDir()) {
        printError(tr("the mask folder \"%1\" does not exist.").arg(native(maskDirectory)));
        return BadArguments;
    }
    // As the worker goes through them, so the n-th step names the n-th entry.
    QStringList masks;
    for (const QFileInfo &entry : AssetLibrary::listEntries(maskDirectory, QStringLiteral(".png")))
        masks << entry.fileName();
    if (masks.isEmpty()) {
        printError(tr("the mask folder \"%1\" has no PNG masks.").arg(native(maskDirectory)));
        return BadArguments;
    }
    const TilesetExportOptions &exportOptions = m_options.exportOptions;
    if (exportOptions.writesAtlas() &&
        masks.contains(exportOptions.atlasFileName, Qt::CaseInsensitive)) {
        // The sheet would overwrite one of the tiles it is made of.
        printError(tr("the atlas \"%1\" would have a mask's name; choose another with --name.")
                       .arg(exportOptions.atlasFileName));
        return BadArguments;
    }
    TileStyle style;
    if (!loadStyle(style))
        return BadArguments;

    const QString output = QFileInfo(m_options.outputDirectory).absoluteFilePath();
    ProgressReporter progress(stderr);
    generateTiles worker;
    worker.setStyle(style);
    worker.alphaDirectory = maskDirectory;
    worker.outputDirectory = output;
    worker.protectedDirectories = AssetLibrary::libraryDirectories(m_appDirPath);
    worker.tileSize = m_options.tileSize;
    worker.threadCount = m_options.threads;
    // The worker makes the sheet and tilesets after the tiles, as for the
    // window, and only from a complete set.
    worker.exportOptions = exportOptions;
    worker.exportOptions.level = m_level;
    // What would refuse the run is refused before the output folder is made.
    const QString refusal = worker.checkRun(masks.size());
    if (!refusal.isEmpty()) {
        printError(refusal);
        return BadArguments;
    }

    // A folder that cannot be made is no bad argument but a place where no
    // tile can be written: the run goes on and names every tile, as the
    // window does for a folder it cannot write to.
    if (!QDir().mkpath(output))
        printError(tr("the output folder \"%1\" could not be created.").arg(native(output)));

    RunOutcome outcome;
    outcome.listenTo(&worker);
    // doGeneration() runs on this thread and reports in list order, so the
    // n-th step is the n-th mask.
    QObject::connect(&worker, &generateTiles::TotalSteps,
                     [&](int steps) { progress.start(steps); });
    QObject::connect(&worker, &generateTiles::NextStep, [&](int step) {
        progress.step(step, step >= 1 && step <= masks.size() ? masks.at(step - 1) : QString());
    });
    QObject::connect(
        &worker, &generateTiles::TileFailed, [&](const QString &fileName, const QString &reason) {
            progress.message(QStringLiteral("failed: %1: %2")
                                 .arg(fileName.isEmpty() ? tr("the run") : fileName, reason));
        });
    QObject::connect(&worker, &generateTiles::DesignIncomplete, [&](const QString &reason) {
        progress.message(QStringLiteral("failed: %1").arg(reason));
    });
    QObject::connect(&worker, &generateTiles::ExportFailed,
                     [&](const QString &fileName, const QString &reason) {
                         progress.message(QStringLiteral("failed: %1: %2").arg(fileName, reason));
                     });
    QObject::connect(&worker, &generateTiles::Complete,
                     [&](bool isError, int count) { outcome.finish(isError, count, false); });
    worker.doGeneration();
    progress.finish();

    // Every requested file is accounted for, also those the worker did not
    // get to because the set was incomplete.
    const QStringList requested = exportOptions.fileNames();
    const bool atlasWritten = outcome.exportWritten().contains(exportOptions.atlasFileName);
    for (const QString &name : outcome.exportsUnaccounted(requested))
        printLine(stderr,
                  QStringLiteral("failed: %1: %2")
                      .arg(name, atlasWritten ? tr("not written")
                                              : tr("not written, because the atlas was not")));

    printLine(stdout, tr("%1 of %2 tiles written to %3")
                          .arg(outcome.written())
                          .arg(outcome.total())
                          .arg(native(output)));
    for (const QString &name : outcome.exportWritten())
        printLine(stdout, tr("wrote %1").arg(native(QDir(output).filePath(name))));
    const int tileFailures = outcome.tileFailures().size();
    if (tileFailures > 0)
        printError(tileFailures == 1 ? tr("1 tile could not be made.")
                                     : tr("%1 tiles could not be made.").arg(tileFailures));
    if (!outcome.designProblems().isEmpty())
        printError(tr("the tiles are not the design as saved: a part of it could not be read."));
    const bool levelWritten =
        m_options.levelPng.isEmpty() || writeLevelPicture(style, maskDirectory);
    return outcome.everythingWritten(requested) && levelWritten ? Success : SomeFailed;
}
