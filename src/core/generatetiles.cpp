#include "generatetiles.h"

#include "assetlibrary.h"
#include "imageoperations.h"
#include "outputfolder.h"
#include "safeimagereader.h"
#include "tilefilewriter.h"
#include "tilepipeline.h"
#include "tilestyle.h"
#include "tilethreads.h"

#include <QScopeGuard>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <optional>
#include <vector>

namespace {

// One mask's tile, made on any thread; the worker reports it in list order.
struct TileJob
{
    QString fileName;
    QString maskPath;
    bool written = false;
    QString reason;
    // Set, with release, by whichever thread made the tile.
    std::atomic<bool> finished{false};
};

// Beyond the decoded mask: the tile and the encoder's copies of its rows (as
// they are, filtered, compressed), per pixel of the tile.
constexpr qint64 TileBytesPerPixel = 16;

void makeTile(const TilePipeline &pipeline, int tileSize, const OutputFolder &output,
              MemoryBudget *budget, TileJob &job)
{
    // The header tells what decoding will take; the budget is held until the
    // tile is written.
    SafeImageReader reader(job.maskPath);
    if (!reader.canRead()) {
        job.reason = generateTiles::tr("The mask could not be read: %1").arg(reader.errorString());
        return;
    }
    const MemoryBudget::Lease lease(budget, reader.decodeCost() +
                                                qint64(tileSize) * tileSize * TileBytesPerPixel);
    const QImage mask = TilePipeline::normaliseMask(reader.read());
    if (mask.isNull()) {
        job.reason = generateTiles::tr("The mask could not be read: %1").arg(reader.errorString());
        return;
    }
    const QImage tile = pipeline.makeTile(mask, TilePipeline::wantsTop(job.fileName), tileSize);
    if (tile.isNull()) {
        job.reason = generateTiles::tr("The tile could not be composed.");
        return;
    }
    job.written = TileFileWriter::write(output.path() + QLatin1Char('/') + job.fileName, tile,
                                        &job.reason, !output.mayHold(job.fileName));
}

// The run's jobs, handed out one at a time to every thread that makes tiles.
// Handing out by a counter keeps every thread busy to the end and needs no
// lock or wake-up per tile: on a machine whose cores all make tiles, each
// wake-up would cost a context switch.
struct TileQueue
{
    TileQueue(const TilePipeline &pipeline, int tileSize, const OutputFolder &output,
              MemoryBudget &budget, const QThread *runThread, size_t count)
        : pipeline(pipeline), tileSize(tileSize), output(output), budget(budget),
          runThread(runThread), jobs(count)
    {
    }

    const TilePipeline &pipeline;
    int tileSize;
    const OutputFolder &output; // where the tiles go
    MemoryBudget &budget;
    // Asked to interrupt: no job is handed out after that; tiles in hand
    // are finished, never dropped half-way.
    const QThread *runThread;
    std::vector<TileJob> jobs;
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};

    // Makes the next job's tile; false once none is left or the run stops.
    // The jobs handed out are always the first ones listed.
    bool makeNext()
    {
        if (stop.load(std::memory_order_relaxed))
            return false;
        if (runThread->isInterruptionRequested()) {
            stop = true;
            return false;
        }
        const size_t index = next.fetch_add(1, std::memory_order_relaxed);
        if (index >= jobs.size())
            return false;
        TileJob &job = jobs[index];
        makeTile(pipeline, tileSize, output, &budget, job);
        job.finished.store(true, std::memory_order_release);
        return true;
    }

    // A helper thread's whole share.
    void makeAll()
    {
        while (makeNext()) {
        }
    }
};

} // namespace

generateTiles::generateTiles(QObject *parent) : QObject(parent) {}

void generateTiles::setStyle(const TileStyle &style)
{
    topColor = style.topColor;
    bottomColor = style.bottomColor;
    topPatternColor = style.topPatternColor;
    bottomPatternColor = style.bottomPatternColor;
    topOpacity = style.topOpacity;
    topPatternOpacity = style.topPatternOpacity;
    shade = style.shade;
    topPatternColorOpacity = style.topPatternColorOpacity;
    bottomOpacity = style.bottomOpacity;
    bottomPatternOpacity = style.bottomPatternOpacity;
    bottomPatternColorOpacity = style.bottomPatternColorOpacity;
    topPattern = style.topPattern;
    bottomPattern = style.bottomPattern;
    topStyle = style.topStyle;
    topDown = style.topDown;
}

TileStyle generateTiles::currentStyle() const
{
    TileStyle style;
    style.topColor = topColor;
    style.bottomColor = bottomColor;
    style.topPatternColor = topPatternColor;
    style.bottomPatternColor = bottomPatternColor;
    style.topOpacity = topOpacity;
    style.topPatternOpacity = topPatternOpacity;
    style.shade = shade;
    style.topPatternColorOpacity = topPatternColorOpacity;
    style.bottomOpacity = bottomOpacity;
    style.bottomPatternOpacity = bottomPatternOpacity;
    style.bottomPatternColorOpacity = bottomPatternColorOpacity;
    style.topPattern = topPattern;
    style.bottomPattern = bottomPattern;
    style.topStyle = topStyle;
    style.topDown = topDown;
    return style;
}

void generateTiles::attachToThread(QThread *thread)
{
    connect(thread, &QThread::started, this, &generateTiles::doGeneration);
}

// Step by step, as the rule reads: the tiles come from TilePipeline's fast
// path, which the tests hold to exactly these pixels.
void generateTiles::drapeTopLayer(const QImage &mask, const QImage &top, QImage &tile)
{
    if (tile.isNull())
        return;
    // Each column of the top moved down to that column's surface: its
    // topmost visible mask pixel.
    QImage drape(tile.size(), QImage::Format_RGBA8888_Premultiplied);
    drape.fill(0);
    for (int x = 0; x < mask.width() && x < top.width() && x < drape.width(); ++x) {
        int y0 = 0;
        while (y0 < mask.height() && qAlpha(mask.pixel(x, y0)) == 0)
            ++y0;
        for (int k = 0; k < top.height() && y0 + k < mask.height() && y0 + k < drape.height(); ++k)
            drape.setPixel(x, y0 + k, top.pixel(x, k));
    }
    QImage layer(tile.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(0);
    QPainter painter(&layer);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.drawImage(0, 0, drape);
    painter.end();
    // The shadow: the top's visible pixels in the bottom colour, darkened.
    QImage shadow = layer;
    ImageOperations::paintPixels(shadow, bottomColor.rgb(), false);
    ImageOperations::shiftLightness(shadow, -ImageOperations::opacityToAlpha(shade), 0,
                                    shadow.width(), 0, shadow.height());
    ImageOperations::drawImageOver(&tile, shadow, 0, TilePipeline::ShadowOffset, shade - 0.2f);
    ImageOperations::drawImageOver(&tile, layer, 0, 0, topOpacity);
}

// What keeps a run from starting, checked before the first tile so that
// nothing is made in vain; empty when it may start.
QString generateTiles::checkRun(int maskCount) const
{
    if (tileSize < 1 || tileSize > TilePipeline::MaxTileSize)
        return tr("The tile size must be from 1 to %1 pixels, not %2.")
            .arg(TilePipeline::MaxTileSize)
            .arg(tileSize);
    if (outputDirectory.isEmpty())
        return tr("No output directory was given.");
    const QString conflict = AssetLibrary::outputConflict(
        outputDirectory, QStringList(alphaDirectory) << protectedDirectories);
    if (!conflict.isEmpty())
        return conflict;
    if (exportOptions.any()) {
        const QString invalid = exportOptions.validate();
        if (!invalid.isEmpty())
            return invalid;
        AtlasLayout layout;
        QString reason;
        if (maskCount > 0 && !AtlasBuilder::measure(maskCount, QSize(tileSize, tileSize),
                                                    exportOptions.atlasOptions(), &layout, &reason))
            return tr("The atlas \"%1\" cannot be made: %2")
                .arg(exportOptions.atlasFileName, reason);
    }
    return QString();
}

void generateTiles::doGeneration()
{
    tileCount = 0;
    const int threads = threadCount > 0 ? threadCount : qMax(1, QThread::idealThreadCount());
    // Whatever the helpers' jobs use is declared before them (see TileThreads).
    QList<QFileInfo> masks;
    OutputFolder output(outputDirectory);
    QString refusal;
    std::optional<TilePipeline> pipeline;
    MemoryBudget budget(memoryBudget);
    std::optional<TileQueue> queue;
    std::atomic<bool> listingTaken{false}, claimed{false};
    enum Tiles
    {
        Undecided,
        Make,
        None
    };
    std::atomic<int> tiles{Undecided}; // whether the listing job goes on to tiles
    auto listAndClaim = [&] {
        // An empty path would mean the working directory (masks) or the root
        // directory (tiles): never what was meant.
        if (!alphaDirectory.isEmpty())
            masks = AssetLibrary::listEntries(alphaDirectory, QStringLiteral(".png"));
        refusal = checkRun(masks.size());
        // A folder that does not exist gets no tile; each one says so.
        if (refusal.isEmpty() && !masks.isEmpty() && QFileInfo(outputDirectory).isDir())
            output.claim(&refusal);
    };
    TileThreads helpers(threads - 1);
    const auto decideTiles = [&](bool make) {
        int undecided = Undecided;
        tiles.compare_exchange_strong(undecided, make ? Make : None, std::memory_order_release);
        helpers.notify();
    };
    // On every way out the listing job hears whether tiles come before the
    // helpers are waited for.
    const auto noTiles = qScopeGuard([&] { decideTiles(false); });
    if (threads > 1) {
        // With a second thread at hand, it lists the masks and claims the
        // folder while this one builds the shared layers (on a short run
        // these steps are a good part of its time), then makes tiles rather
        // than being woken again for them: a wake-up cost up to 0.7 ms of its
        // core while this thread already made tiles.
        helpers.start([&] {
            if (!listingTaken.exchange(true)) {
                listAndClaim();
                claimed.store(true, std::memory_order_release);
                helpers.notify();
            }
            helpers.waitFor([&] { return tiles.load(std::memory_order_acquire) != Undecided; });
            if (tiles.load(std::memory_order_acquire) == Make)
                queue->makeAll();
        });
        pipeline.emplace(currentStyle());
        // A listing job that has not begun (no thread free, or not awake
        // yet) would only be waited for: this thread lists instead.
        if (!listingTaken.exchange(true))
            listAndClaim();
        else
            helpers.waitFor([&] { return claimed.load(std::memory_order_acquire); });
    } else {
        listAndClaim();
    }
    emit TotalSteps(masks.size());
    if (!refusal.isEmpty()) {
        emit TileFailed(QString(), refusal);
        emit Complete(true, 0);
        return;
    }
    if (masks.isEmpty()) {
        emit Complete(false, 0);
        return;
    }

    // The shared layers, once for the whole run.
    if (!pipeline)
        pipeline.emplace(currentStyle());
    for (const QString &warning : pipeline->warnings())
        emit DesignIncomplete(warning);

    int written = 0;
    QStringList writtenTiles;
    auto report = [&](const TileJob &job) {
        ++tileCount;
        if (job.written) {
            ++written;
            writtenTiles << job.fileName;
        } else {
            emit TileFailed(job.fileName, job.reason);
        }
        emit NextStep(tileCount);
    };

    // A job holds names only (each tile lives just while it is made), so
    // the jobs take no more memory per mask than the list of masks.
    queue.emplace(*pipeline, tileSize, output, budget, QThread::currentThread(),
                  size_t(masks.size()));
    std::vector<TileJob> &jobs = queue->jobs;
    for (int i = 0; i < masks.size(); ++i) {
        jobs[size_t(i)].fileName = masks.at(i).fileName();
        jobs[size_t(i)].maskPath = masks.at(i).filePath();
    }

    // This thread makes tiles too, and between its own tiles reports every
    // finished one in list order; the pool's threads only make tiles.
    decideTiles(true);
    for (int i = 2; i < threads && size_t(i) < jobs.size(); ++i) {
        helpers.start([&queue] { queue->makeAll(); });
    }
    size_t reported = 0;
    auto reportFinished = [&] {
        while (reported < jobs.size() && jobs[reported].finished.load(std::memory_order_acquire))
            report(jobs[reported++]);
    };
    while (queue->makeNext())
        reportFinished();
    // The other threads' last tiles; a helper that has not begun by now
    // never will.
    helpers.close();
    helpers.waitFor([&] {
        reportFinished();
        return helpers.idle();
    });
    reportFinished();

    if (exportOptions.any())
        exportTileset(writtenTiles, masks.size(),
                      QThread::currentThread()->isInterruptionRequested());
    // Free for the next run before anyone hears this one is over.
    output.release();
    emit Complete(tileCount > 0 && written == 0, tileCount);
}

// The sheet numbers its tiles by their place in the mask list, so it is only
// made from a complete set: a missing tile would renumber every tile after it.
void generateTiles::exportTileset(const QStringList &writtenTiles, int maskCount, bool stopped)
{
    const QString name = exportOptions.atlasFileName;
    if (stopped) {
        emit ExportFailed(name, tr("Generation was stopped before every tile was made."));
        return;
    }
    if (writtenTiles.size() != maskCount) {
        emit ExportFailed(name, tr("Not every tile could be made (%1 of %2), so the set is "
                                   "incomplete.")
                                    .arg(writtenTiles.size())
                                    .arg(maskCount));
        return;
    }
    // The collision comes from the masks the tiles were cut with, and the
    // terrain is named after the design.
    TilesetExportOptions options = exportOptions;
    options.maskDirectory = alphaDirectory;
    options.setTerrainFromDesign(currentStyle());
    const TilesetExportResult result = TilesetExport::run(writtenTiles, outputDirectory, options);
    QStringList files;
    for (const QString &path : result.written)
        files << QFileInfo(path).fileName();
    if (!files.isEmpty())
        emit ExportWritten(files);
    for (const TilesetExportFailure &failure : result.failures)
        emit ExportFailed(failure.fileName.isEmpty() ? name : failure.fileName, failure.reason);
}

// ---- The image operations under their old names ---------------------------

QImage generateTiles::loadImage(const QString &path, QString *errorString)
{
    return ImageOperations::loadImage(path, errorString);
}
QImage generateTiles::toWorkingFormat(const QImage &image)
{
    return ImageOperations::toWorkingFormat(image);
}
float generateTiles::clampOpacity(float opacity)
{
    return ImageOperations::clampOpacity(opacity);
}
int generateTiles::opacityToAlpha(float opacity)
{
    return ImageOperations::opacityToAlpha(opacity);
}
void generateTiles::clearImage(QImage &image)
{
    ImageOperations::clearImage(image);
}
void generateTiles::paintPixels(QImage &image, QRgb colour, bool allPixels)
{
    ImageOperations::paintPixels(image, colour, allPixels);
}
void generateTiles::setVisibleAlpha(QImage &image, int alpha)
{
    ImageOperations::setVisibleAlpha(image, alpha);
}
void generateTiles::shiftLightness(QImage &image, int delta, int x0, int x1, int y0, int y1)
{
    ImageOperations::shiftLightness(image, delta, x0, x1, y0, y1);
}
void generateTiles::applyOpacity(QImage &image, float opacity)
{
    ImageOperations::applyOpacity(image, opacity);
}
void generateTiles::flattenOnWhite(QImage &image)
{
    ImageOperations::flattenOnWhite(image);
}
void generateTiles::fillWithMode(QImage &image, const QColor &colour,
                                 QPainter::CompositionMode mode)
{
    ImageOperations::fillWithMode(image, colour, mode);
}
void generateTiles::fillWithModeRgb(QImage &image, QRgb colour, QPainter::CompositionMode mode)
{
    ImageOperations::fillWithModeRgb(image, colour, mode);
}
void generateTiles::drawImageOver(QPaintDevice *target, const QImage &source, int x, int y,
                                  float opacity)
{
    ImageOperations::drawImageOver(target, source, x, y, opacity);
}
void generateTiles::drawTintedImage(const QString &path, float opacity, QPaintDevice *target,
                                    QRgb tint, int tintAlpha)
{
    ImageOperations::drawTintedImage(path, opacity, target, tint, tintAlpha);
}
void generateTiles::rotateImage(QImage &image, int degrees)
{
    ImageOperations::rotateImage(image, degrees);
}
