#pragma once

#include "memorybudget.h"
#include "tilesetexport.h"

#include <QColor>
#include <QFileInfo>
#include <QImage>
#include <QObject>
#include <QPainter>
#include <QString>

class QPaintDevice;
class QThread;
struct TileStyle;

// The tile generator: a worker that makes one tile per mask on its thread
// and reports through signals.
class generateTiles : public QObject
{
    Q_OBJECT

public:
    explicit generateTiles(QObject *parent = nullptr);

    // The image operations under the names the window and the tools have
    // always called; each forwards to ImageOperations, which documents it.
    static QImage loadImage(const QString &path, QString *errorString = nullptr);
    static QImage toWorkingFormat(const QImage &image);
    static float clampOpacity(float opacity);
    static int opacityToAlpha(float opacity);
    static void clearImage(QImage &image);
    static void paintPixels(QImage &image, QRgb colour, bool allPixels);
    static void setVisibleAlpha(QImage &image, int alpha);
    static void shiftLightness(QImage &image, int delta, int x0, int x1, int y0, int y1);
    static void applyOpacity(QImage &image, float opacity);
    static void flattenOnWhite(QImage &image);
    static void fillWithMode(QImage &image, const QColor &colour, QPainter::CompositionMode mode);
    static void fillWithModeRgb(QImage &image, QRgb colour, QPainter::CompositionMode mode);
    static void drawImageOver(QPaintDevice *target, const QImage &source, int x, int y,
                              float opacity);
    static void drawTintedImage(const QString &path, float opacity, QPaintDevice *target, QRgb tint,
                                int tintAlpha);
    static void rotateImage(QImage &image, int degrees);

    // The worker. The window copies a design and the run's parameters into
    // these members while the thread is not running; doGeneration() reads
    // them and reports only through the signals.
    QColor topColor;
    QColor bottomColor;
    QColor topPatternColor;
    QColor bottomPatternColor;
    float topOpacity = 1.0f;
    float topPatternOpacity = 0.4f;
    float shade = 0.4f;
    float topPatternColorOpacity = 1.0f;
    float bottomOpacity = 1.0f;
    float bottomPatternOpacity = 0.4f;
    float bottomPatternColorOpacity = 1.0f;
    QFileInfo topPattern;
    QFileInfo bottomPattern;
    QString topStyle;
    bool topDown = false; // carried along; generated tiles never repeat the top
    QString alphaDirectory;
    QString outputDirectory;
    // Folders besides alphaDirectory that a run refuses to write into (the
    // asset library's), checked with AssetLibrary::outputConflict.
    QStringList protectedDirectories;
    int tileSize = 128;
    int tileCount = 0; // masks handled in the current run
    // Tiles made at once; 0 means one per core.
    int threadCount = 0;
    // What the masks being decoded and the tiles being made may take at once,
    // over all threads.
    qint64 memoryBudget = MemoryBudget::DefaultBytes;

    // Copies every field of the design.
    // What to make from the tiles besides the loose PNGs: an atlas sheet and
    // Tiled and Godot tilesets. Nothing by default.
    TilesetExportOptions exportOptions;

    // Why a run of these members over maskCount masks would be refused
    // before its first tile (tile size, output folder, export options, a
    // sheet too large); empty when it may start. doGeneration() checks it
    // too; a caller can ask first.
    QString checkRun(int maskCount) const;

    void setStyle(const TileStyle &style);
    TileStyle currentStyle() const;

    // Each start of the thread runs one generation.
    void attachToThread(QThread *thread);

    // The top laid along the mask's surface with its shadow, painted on the
    // tile; reads bottomColor, shade and topOpacity.
    void drapeTopLayer(const QImage &mask, const QImage &top, QImage &tile);

signals:
    void TotalSteps(int steps);
    void NextStep(int steps);
    void Complete(bool isError, int count);
    // Before that mask's NextStep: its tile was not written, and why. An
    // empty file name concerns the whole run.
    void TileFailed(const QString &fileName, const QString &reason);
    // After TotalSteps, before the first tile: a top shape or pattern of the
    // design could not be read and is left out of every tile, so the tiles
    // are not the design as saved.
    void DesignIncomplete(const QString &reason);
    // After the tiles: the atlas and tileset files asked for by exportOptions
    // that were written, and those that could not be, with the reason.
    void ExportWritten(const QStringList &fileNames);
    void ExportFailed(const QString &fileName, const QString &reason);

public slots:
    // One tile per mask of alphaDirectory, in list order, written whole or
    // not at all under the mask's name in outputDirectory. Every entry named
    // like a mask counts: one that is no readable image file (a folder, a
    // pipe, a broken link) fails with its reason. The output folder is held
    // for the run (OutputFolder) and must not overlap the mask folder or
    // protectedDirectories. Stops early, after
    // the tiles in hand, when the thread is asked to interrupt. Complete's
    // isError: masks were handled but not one tile could be written.
    void doGeneration();

private:
    void exportTileset(const QStringList &writtenTiles, int maskCount, bool stopped);
};
