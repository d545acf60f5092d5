#include "generatetiles.h"

#include "assetlibrary.h"
#include "imageoperations.h"
#include "outputfolder.h"
#include "safeimagereader.h"
#include "tilefilewriter.h"
#include "tilepipeline.h"
#include "tilestyle.h"

#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>

#include <algorithm>
#include <deque>
#include <memory>

namespace {

// One mask's tile, made on any thread; the worker reports it in list order.
struct TileJob
{
    QString fileName;
    QString maskPath;
    QString tilePath;
    bool written = false;
    QString reason;
    bool finished = false; // guarded by Handover::mutex
};

// Where pool threads hand finished jobs back to the worker. It outlives the
// pool, so a task never touches a job after saying it is finished.
struct Handover
{
    QMutex mutex;
    QWaitCondition finished;
    // The job the worker waits for: only its task wakes the worker, since
    // each wake-up costs a context switch on a machine whose cores are all
    // busy making tiles.
    const TileJob *awaited = nullptr;
};

// Finished tiles the worker reports at once (see Handover).
constexpr size_t ReportBatch = 4;

// Beyond the decoded mask: the tile and the encoder's copies of its rows (as
// they are, filtered, compressed), per pixel of the tile.
constexpr qint64 TileBytesPerPixel = 16;

void makeTile(const TilePipeline &pipeline, int tileSize, MemoryBudget *budget, TileJob &job)
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
    job.written = TileFileWriter::write(job.tilePath, tile, &job.reason);
}

class TileTask : public QRunnable
{
public:
    TileTask(const TilePipeline &pipeline, int tileSize, MemoryBudget &budget, TileJob &job,
             Handover &handover)
        : m_pipeline(pipeline), m_tileSize(tileSize), m_budget(budget), m_job(job),
          m_handover(handover)
    {
    }

    void run() override
    {
        makeTile(m_pipeline, m_tileSize, &m_budget, m_job);
        QMutexLocker lock(&m_handover.mutex);
        m_job.finished = true;
        if (m_handover.awaited == &m_job)
            m_handover.finished.wakeAll();
    }

private:
    const TilePipeline &m_pipeline;
    int m_tileSize;
    MemoryBudget &m_budget;
    TileJob &m_job;
    Handover &m_handover;
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
    // An empty path would mean the working directory (masks) or the root
    // directory (tiles): never what was meant.
    const QList<QFileInfo> masks =
        alphaDirectory.isEmpty()
            ? QList<QFileInfo>()
            : AssetLibrary::listEntries(alphaDirectory, QStringLiteral(".png"));
    emit TotalSteps(masks.size());

    OutputFolder output(outputDirectory);
    QString refusal = checkRun(masks.size());
    // A folder that does not exist gets no tile; each one says so.
    if (refusal.isEmpty() && !masks.isEmpty() && QFileInfo(outputDirectory).isDir())
        output.claim(&refusal);
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
    const TilePipeline pipeline(currentStyle());
    for (const QString &warning : pipeline.warnings())
        emit DesignIncomplete(warning);
    MemoryBudget budget(memoryBudget);

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
    auto jobFor = [&](const QFileInfo &file) {
        auto job = std::make_unique<TileJob>();
        job->fileName = file.fileName();
        job->maskPath = file.path() + QLatin1Char('/') + file.fileName();
        job->tilePath = outputDirectory + QLatin1Char('/') + file.fileName();
        return job;
    };
    auto interrupted = [] { return QThread::currentThread()->isInterruptionRequested(); };

    const int threads = threadCount > 0 ? threadCount : qMax(1, QThread::idealThreadCount());
    if (threads == 1) {
        for (const QFileInfo &file : masks) {
            if (interrupted())
                break;
            const auto job = jobFor(file);
            makeTile(pipeline, tileSize, &budget, *job);
            report(*job);
        }
    } else {
        // Tiles are made on the pool, several per thread in flight so that
        // no thread idles behind a slow one, and reported strictly in list
        // order. A job holds names only (each tile lives just while its task
        // runs), so memory stays bounded whatever the number of masks.
        Handover handover;
        QThreadPool pool;
        pool.setMaxThreadCount(threads);
        const size_t window = size_t(8 * threads);
        std::deque<std::unique_ptr<TileJob>> inFlight;
        int next = 0;
        bool stopping = false;
        while (true) {
            if (!stopping && interrupted()) {
                // Tiles in hand are finished, never dropped half-way; tasks
                // not yet started are dropped. The pool starts tasks in the
                // order given, so the tiles made are the first ones listed.
                stopping = true;
                pool.clear();
                pool.waitForDone();
            }
            if (!stopping && next < masks.size() && inFlight.size() < window) {
                inFlight.push_back(jobFor(masks.at(next++)));
                auto *task = new TileTask(pipeline, tileSize, budget, *inFlight.back(), handover);
                task->setAutoDelete(true);
                pool.start(task);
                continue;
            }
            if (inFlight.empty())
                break;
            {
                QMutexLocker lock(&handover.mutex);
                if (stopping && !inFlight.front()->finished)
                    break; // never started, nor any after it
                // Jobs finish in about the order they started, so waiting for
                // the ReportBatch-th one wakes the worker once per batch;
                // then for the first, should it lag behind.
                const size_t batch = stopping ? 1 : std::min(ReportBatch, inFlight.size());
                for (const TileJob *job : {inFlight[batch - 1].get(), inFlight.front().get()}) {
                    handover.awaited = job;
                    while (!job->finished)
                        handover.finished.wait(&handover.mutex);
                }
                handover.awaited = nullptr;
            }
            report(*inFlight.front());
            inFlight.pop_front();
        }
        pool.waitForDone();
    }

    if (exportOptions.any())
        exportTileset(writtenTiles, masks.size(), interrupted());
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
