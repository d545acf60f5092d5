// A whole tileset generation, per tile: the step-by-step composition kept in
// the tests with Qt's own PNG writer, the real worker on one thread and on
// every core, and the floor that no generator can beat (decoding the masks
// and encoding the very same tiles with the same encoder). "busy" is how
// many cores the all-cores run kept busy (process CPU time / wall time).
// Then the peak memory of runs over 200 and 400 masks, each in a fresh
// process.
//
// Usage: bench_generator [masks=200] [runs=5] [directory=/dev/shm]

#include "assetlibrary.h"
#include "benchtiming.h"
#include "generatetiles.h"
#include "generatorfixtures.h"
#include "generatororacle.h"
#include "pngencoder.h"
#include "safefilewriter.h"
#include "tilepipeline.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using BenchTiming::median;
using BenchTiming::threadCpuMicroseconds;

namespace {

const char *const texturedDesign = "top=grass topPattern=specks bottomPattern=bricks";

// The oracle's whole run, written with Qt's own writer.
void oracleRun(const QString &alphaDirectory, const QString &outputDirectory,
               const TileStyle &style, int tileSize)
{
    const GeneratorOracle::Layers layers = GeneratorOracle::prepare(style);
    for (const QFileInfo &file : listPngFiles(alphaDirectory, QStringLiteral(".png"))) {
        const QImage mask = generateTiles::loadImage(file.filePath());
        if (!mask.isNull())
            GeneratorOracle::makeTile(layers, mask, !file.fileName().contains("_notop"), tileSize)
                .save(outputDirectory + "/" + file.fileName());
    }
}

struct Measurement
{
    std::function<void()> run;
    std::function<void()> prepare; // before each run, untimed
};

void nothing() {}

// CPU time of the whole process (all threads), microseconds.
double processCpuMicroseconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

struct Timing
{
    double wall; // median, microseconds
    double busy; // median CPU time / wall time: cores kept busy
};

// Each measurement's median. The measurements take turns, run after run,
// so that whatever else the machine does at the time falls on all of them
// alike.
std::vector<Timing> timeInterleaved(const std::vector<Measurement> &measurements, int runs)
{
    std::vector<std::vector<double>> times(measurements.size());
    std::vector<std::vector<double>> busy(measurements.size());
    QElapsedTimer timer;
    for (int run = -1; run < runs; ++run) { // run -1 warms up
        for (size_t i = 0; i < measurements.size(); ++i) {
            measurements[i].prepare();
            const double cpu = processCpuMicroseconds();
            timer.start();
            measurements[i].run();
            const double wall = double(timer.nsecsElapsed()) / 1000.0;
            if (run >= 0) {
                times[i].push_back(wall);
                busy[i].push_back((processCpuMicroseconds() - cpu) / wall);
            }
        }
    }
    std::vector<Timing> result;
    for (size_t i = 0; i < measurements.size(); ++i)
        result.push_back({median(times[i]), median(busy[i])});
    return result;
}

// Masks of many shapes; every eighth is 64 x 64, so the scaling path runs too.
void writeMasks(const QString &dir, int count)
{
    QDir().mkpath(dir);
    for (int i = 0; i < count; ++i)
        GeneratorFixtures::variedMask(i, i % 8 == 7 ? 64 : 128)
            .save(dir + "/" + GeneratorFixtures::variedMaskName(i));
}

void clearDir(const QString &dir)
{
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
}

int runWorker(const QString &alphaDir, const QString &outDir, const TileStyle &style, int tileSize,
              int threads)
{
    generateTiles worker;
    worker.setStyle(style);
    worker.alphaDirectory = alphaDir;
    worker.outputDirectory = outDir;
    worker.tileSize = tileSize;
    worker.threadCount = threads;
    int failures = 0;
    QObject::connect(&worker, &generateTiles::TileFailed, [&] { ++failures; });
    worker.doGeneration();
    return failures;
}

qint64 peakRssKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// In a fresh process: one run on every core, then the peak resident size.
int rssChild(const QString &alphaDir, const QString &outDir, const QString &assetDir)
{
    const TileStyle style = GeneratorFixtures::styleFrom(texturedDesign, QDir(assetDir));
    if (runWorker(alphaDir, outDir, style, 128, 0) != 0)
        return 1;
    std::printf("%lld\n", peakRssKiB());
    return 0;
}

qint64 childPeak(const QString &alphaDir, const QString &outDir, const QString &assetDir)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--rss"), alphaDir, outDir, assetDir});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return -1;
    return child.readAllStandardOutput().trimmed().toLongLong();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && QByteArray(argv[1]) == "--rss")
        return rssChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                        QString::fromLocal8Bit(argv[4]));
    const int count = argc > 1 ? qMax(1, atoi(argv[1])) : 200;
    const int runs = argc > 2 ? qMax(1, atoi(argv[2])) : 5;
    // On a disk, creating each new file can cost more than making the tile
    // (about 0.9 ms an inode on the ext4 of the build machine), which would
    // drown what is measured here; so by default the files live in memory.
    QString where = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (where.isEmpty())
        where = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                   : QDir::tempPath();

    QTemporaryDir temp(where + QStringLiteral("/bench_generator-XXXXXX"));
    if (!temp.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    const QString assets = temp.filePath("assets");
    const QString alpha = temp.filePath("alpha");
    const QString out = temp.filePath("out");
    QDir().mkpath(assets);
    writeMasks(alpha, count);
    QDir().mkpath(out);

    std::printf("%d masks in %s, median of %d runs, %d cores; microseconds per tile\n", count,
                qPrintable(where), runs, QThread::idealThreadCount());
    std::printf("%-8s %4s %9s %9s %9s %9s %9s %8s %8s %8s %8s %5s | %9s %9s\n", "style", "size",
                "oracle+Qt", "fast 1", "fast all", "fast mem", "floor", "oracle/1", "1/floor",
                "mem/flr", "1/all", "busy", "Qt save", "our write");

    struct Style
    {
        const char *name;
        TileStyle style;
    };
    const Style styles[] = {
        {"flat", GeneratorFixtures::styleFrom("top=grass", QDir(assets))},
        {"textured", GeneratorFixtures::styleFrom(texturedDesign, QDir(assets))},
    };
    const auto fresh = [&] { clearDir(out); };
    const QList<QFileInfo> files = listPngFiles(alpha, ".png");
    for (const Style &s : styles) {
        for (int size : {128, 64}) {
            const TilePipeline pipeline(s.style);
            std::vector<QImage> tiles;
            std::vector<QByteArray> pngs;
            for (const QFileInfo &file : files) {
                tiles.push_back(pipeline.makeTile(TilePipeline::readMask(file.filePath()),
                                                  TilePipeline::wantsTop(file.fileName()), size));
                pngs.push_back(PngEncoder::encode(tiles.back()));
            }

            const std::vector<Measurement> measurements{
                {[&] { oracleRun(alpha, out, s.style, size); }, fresh},
                {[&] { runWorker(alpha, out, s.style, size, 1); }, fresh},
                {[&] { runWorker(alpha, out, s.style, size, 0); }, fresh},
                // The worker's own work without the file system: read,
                // compose, encode.
                {[&] {
                     const TilePipeline fresh(s.style);
                     for (const QFileInfo &file : files) {
                         const QImage tile =
                             fresh.makeTile(TilePipeline::readMask(file.filePath()),
                                            TilePipeline::wantsTop(file.fileName()), size);
                         if (PngEncoder::encode(tile).isEmpty())
                             std::fprintf(stderr, "encoding %s failed\n",
                                          qPrintable(file.fileName()));
                     }
                 },
                 nothing},
                // The floor: the same masks decoded and the same tiles
                // encoded, nothing else.
                {[&] {
                     for (int i = 0; i < files.size(); ++i) {
                         const QImage mask = TilePipeline::readMask(files.at(i).filePath());
                         const QByteArray png = PngEncoder::encode(tiles[size_t(i)]);
                         if (mask.isNull() || png.isEmpty())
                             std::fprintf(stderr, "floor: %s failed\n",
                                          qPrintable(files.at(i).fileName()));
                     }
                 },
                 nothing},
                // What the file system costs each way, for the same tiles:
                // Qt's save (encoding included) and our whole-or-nothing
                // write of the bytes already encoded.
                {[&] {
                     for (size_t i = 0; i < tiles.size(); ++i)
                         tiles[i].save(out + "/" + files.at(int(i)).fileName());
                 },
                 fresh},
                {[&] {
                     for (size_t i = 0; i < pngs.size(); ++i)
                         SafeFileWriter::write(out + "/" + files.at(int(i)).fileName(), pngs[i]);
                 },
                 fresh},
            };
            const std::vector<Timing> timings = timeInterleaved(measurements, runs);
            std::vector<double> t;
            for (const Timing &timing : timings)
                t.push_back(timing.wall / count);
            const double oracle = t[0], one = t[1], all = t[2], memory = t[3], floor = t[4];
            std::printf(
                "%-8s %4d %9.1f %9.1f %9.1f %9.1f %9.1f %7.1fx %7.2fx %7.2fx %7.2fx %5.2f | "
                "%9.1f %9.1f\n",
                s.name, size, oracle, one, all, memory, floor, oracle / one, one / floor,
                memory / floor, one / all, timings[2].busy, t[5], t[6]);
        }
    }

    // Peak memory must not grow with the number of masks.
    const QString alpha400 = temp.filePath("alpha400");
    writeMasks(alpha400, 2 * count);
    clearDir(out);
    const qint64 peakSmall = childPeak(alpha, out, assets);
    clearDir(out);
    const qint64 peakLarge = childPeak(alpha400, out, assets);
    std::printf("peak RSS, all cores, textured, 128: %d masks %lld KiB, %d masks %lld KiB\n", count,
                peakSmall, 2 * count, peakLarge);
    return 0;
}
