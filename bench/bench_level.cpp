// From a design change to a finished level image: every distinct tile the
// default level uses composed at 64 px and the level painted, on one core,
// over the default library beside the program. The same tiles made by a
// generation run (files written, one thread) are timed beside it.
//
//     bench_level [runs] [Assets folder]

#include "benchtiming.h"
#include "generatetiles.h"
#include "level.h"
#include "levelrenderer.h"
#include "tilestyle.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

using BenchTiming::median;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 200;
    const QString assets =
        args.size() > 2 ? args.at(2) : QCoreApplication::applicationDirPath() + "/../bin/Assets";
    const QString alpha = assets + "/Alpha";
    if (!QFileInfo(alpha).isDir()) {
        std::fprintf(stderr, "no mask folder at %s\n", qPrintable(alpha));
        return 2;
    }
    TileStyle style;
    style.topStyle = assets + "/TopStyles/grass.png";
    style.bottomPattern = QFileInfo(assets + "/Patterns/bricks.png");
    const Level level = Level::defaultLevel();
    const int cell = 64;

    LevelRenderer renderer(alpha);
    QStringList missing;
    renderer.render(level, style, cell, &missing); // reads the masks once, as the window does
    if (!missing.isEmpty())
        std::fprintf(stderr, "masks missing: %s\n", qPrintable(missing.join(' ')));

    // Each run is a design change: the bottom colour steps on.
    std::vector<double> live;
    QElapsedTimer timer;
    for (int i = 0; i < runs; ++i) {
        style.bottomColor = QColor::fromHsv(i * 7 % 360, 120, 180);
        timer.start();
        const QImage image = renderer.render(level, style, cell);
        live.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (image.isNull())
            return 1;
    }

    // The same tiles through a generation run on one thread.
    // In memory where there is /dev/shm, so the disk does not drown the figure.
    QTemporaryDir masks(QDir("/dev/shm").exists() ? "/dev/shm/bench_level-XXXXXX" : QString());
    QTemporaryDir out(QDir("/dev/shm").exists() ? "/dev/shm/bench_level-XXXXXX" : QString());
    for (const QString &name : level.tileNames())
        QFile::copy(alpha + '/' + name, masks.filePath(name));
    std::vector<double> generated;
    generateTiles worker;
    worker.setStyle(style);
    worker.alphaDirectory = masks.path();
    worker.outputDirectory = out.path();
    worker.tileSize = cell;
    worker.threadCount = 1;
    for (int i = 0; i < qMin(runs, 50); ++i) {
        timer.start();
        worker.doGeneration();
        generated.push_back(double(timer.nsecsElapsed()) / 1e6);
    }

    const double median16 = median(live);
    std::printf("level %d x %d cells, %d distinct tiles, %d px cells, %d runs, one core\n",
                level.width(), level.height(), int(level.tileNames().size()), cell, runs);
    std::printf("design change to level image: median %.2f ms (target under 16 ms: %s)\n", median16,
                median16 < 16 ? "pass" : "FAIL");
    std::printf("the same tiles by a generation run (Ctrl+G, files written): median %.2f ms\n",
                median(generated));
    return 0;
}
