// A whole tileset generation, per tile: the step-by-step composition kept in
// the tests with Qt's own PNG writer (the oracle), the real worker on one
// thread and on every core, and the floor: decoding each mask and writing the
// finished tile as the cheapest valid PNG (unfiltered rows, libdeflate level
// 1), nothing else. "busy" is how many cores the all-cores run kept busy
// (process CPU time / wall time). Then the files' size against Qt's writer
// for the same tiles, and the peak memory of runs over `masks` and twice as
// many masks, each in a fresh process. Each target is stated with a pass or
// FAIL mark.
//
// Usage: bench_generator [masks=200] [runs=5] [directory=/dev/shm]

#include "assetlibrary.h"
#include "benchtiming.h"
#include "generatetiles.h"
#include "generatorfixtures.h"
#include "generatororacle.h"
#include "pngencoder.h"
#include "pngreadback.h"
#include "tilepipeline.h"

#include <libdeflate.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

using BenchTiming::median;
using PngReadBack::libpngPixels;
using PngReadBack::qtFile;

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
    double cpu;  // median process CPU time, microseconds
    double busy; // median CPU time / wall time: cores kept busy
};

// Each measurement's median. The measurements take turns, run after run,
// so that whatever else the machine does at the time falls on all of them
// alike.
std::vector<Timing> timeInterleaved(const std::vector<Measurement> &measurements, int runs)
{
    std::vector<std::vector<double>> times(measurements.size());
    std::vector<std::vector<double>> cpus(measurements.size());
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
                cpus[i].push_back(processCpuMicroseconds() - cpu);
                busy[i].push_back(cpus[i].back() / wall);
            }
        }
    }
    std::vector<Timing> result;
    for (size_t i = 0; i < measurements.size(); ++i)
        result.push_back({median(times[i]), median(cpus[i]), median(busy[i])});
    return result;
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

// The targets, medians over the rows of the table.
constexpr double OracleTarget = 5;           // one core, times faster than the oracle
constexpr double FloorTarget = 2;            // one core, at most times the floor
constexpr double AllCoresTarget = 1.8;       // all cores, times faster than one, on two
constexpr double MoonshotMicroseconds = 100; // per 128 px tile, one core
constexpr double MaxRssGrowth = 0.05;        // twice the masks, peak RSS

const char *mark(bool pass)
{
    return pass ? "pass" : "FAIL";
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(' ', 0, 2);
}

struct DeflaterDeleter
{
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};

void putChunk(QByteArray &file, const char *type, const uchar *data, quint32 size)
{
    uchar head[8];
    qToBigEndian(size, head);
    std::memcpy(head + 4, type, 4);
    file.append(reinterpret_cast<const char *>(head), 8);
    file.append(reinterpret_cast<const char *>(data), int(size));
    quint32 crc = libdeflate_crc32(0, head + 4, 4);
    crc = libdeflate_crc32(crc, data, size);
    uchar tail[4];
    qToBigEndian(crc, tail);
    file.append(reinterpret_cast<const char *>(tail), 4);
}

// The cheapest valid PNG of a tile: its unpremultiplied RGBA rows unfiltered,
// deflated by libdeflate at level 1.
QByteArray cheapestPng(const QImage &tile)
{
    thread_local std::unique_ptr<libdeflate_compressor, DeflaterDeleter> deflater(
        libdeflate_alloc_compressor(1));
    const QImage rgba = tile.convertToFormat(QImage::Format_RGBA8888);
    const size_t n = size_t(rgba.width()) * 4;
    std::vector<uchar> rows((n + 1) * size_t(rgba.height()));
    for (int y = 0; y < rgba.height(); ++y) {
        rows[(n + 1) * size_t(y)] = 0;
        std::memcpy(&rows[(n + 1) * size_t(y) + 1], rgba.constScanLine(y), n);
    }
    std::vector<uchar> z(libdeflate_zlib_compress_bound(deflater.get(), rows.size()));
    z.resize(
        libdeflate_zlib_compress(deflater.get(), rows.data(), rows.size(), z.data(), z.size()));
    uchar header[13] = {};
    qToBigEndian(quint32(rgba.width()), header);
    qToBigEndian(quint32(rgba.height()), header + 4);
    header[8] = 8;
    header[9] = 6;
    QByteArray file("\x89PNG\r\n\x1a\n", 8);
    putChunk(file, "IHDR", header, sizeof header);
    putChunk(file, "IDAT", z.data(), quint32(z.size()));
    putChunk(file, "IEND", nullptr, 0);
    return file;
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
    GeneratorFixtures::writeBenchmarkMasks(alpha, count);
    QDir().mkpath(out);

    const QString loadBefore = loadAverage();
    std::printf("%d masks in %s, median of %d interleaved runs, %d cores, load average %s at the "
                "start; microseconds per tile\n",
                count, qPrintable(where), runs, QThread::idealThreadCount(),
                qPrintable(loadBefore));
    std::printf("%-8s %4s %8s %8s %8s %8s | %-13s %-13s %-13s %5s | %-14s %-14s %s\n", "style",
                "size", "oracle", "one", "all", "floor", "oracle/one", "one/floor", "all/one",
                "busy", "bytes/Qt's", "worst tile", "pixels");

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
    const double maxTileRatio = 1 + PngEncoder::MaxExcess;
    bool allOracle = true, allFloor = true, allCores = true, allBytes = true, allPixels = true;
    double moonshot = 0;
    QStringList cpuRows; // the single-thread runs again in CPU time
    for (const Style &s : styles) {
        for (int size : {128, 64}) {
            const TilePipeline pipeline(s.style);
            std::vector<QImage> tiles;
            qint64 ourBytes = 0, qtBytes = 0;
            double worst = 0;
            bool samePixels = true;
            for (const QFileInfo &file : files) {
                tiles.push_back(pipeline.makeTile(TilePipeline::readMask(file.filePath()),
                                                  TilePipeline::wantsTop(file.fileName()), size));
                const QByteArray ours = PngEncoder::encode(tiles.back());
                const QByteArray qt = qtFile(tiles.back());
                ourBytes += ours.size();
                qtBytes += qt.size();
                worst = std::max(worst, double(ours.size()) / qt.size());
                samePixels = samePixels && QImage::fromData(ours) == QImage::fromData(qt) &&
                             !libpngPixels(ours).isEmpty() &&
                             libpngPixels(ours) == libpngPixels(qt);
            }

            const std::vector<Measurement> measurements{
                {[&] { oracleRun(alpha, out, s.style, size); }, fresh},
                {[&] { runWorker(alpha, out, s.style, size, 1); }, fresh},
                {[&] { runWorker(alpha, out, s.style, size, 0); }, fresh},
                // The floor: the masks decoded, the same tiles written as
                // the cheapest valid PNG.
                {[&] {
                     for (int i = 0; i < files.size(); ++i) {
                         const QImage mask = TilePipeline::readMask(files.at(i).filePath());
                         if (mask.isNull() || cheapestPng(tiles[size_t(i)]).isEmpty())
                             std::fprintf(stderr, "floor: %s failed\n",
                                          qPrintable(files.at(i).fileName()));
                     }
                 },
                 nothing},
            };
            const std::vector<Timing> timings = timeInterleaved(measurements, runs);
            std::vector<double> t;
            for (const Timing &timing : timings)
                t.push_back(timing.wall / count);
            const double oracle = t[0], one = t[1], all = t[2], floor = t[3];
            const bool oraclePass = oracle / one >= OracleTarget;
            const bool floorPass = one / floor <= FloorTarget;
            const bool allPass = one / all >= AllCoresTarget;
            const double bytes = double(ourBytes) / qtBytes;
            const bool bytesPass = ourBytes <= qtBytes && worst <= maxTileRatio;
            allOracle = allOracle && oraclePass;
            allFloor = allFloor && floorPass;
            allCores = allCores && allPass;
            allBytes = allBytes && bytesPass;
            allPixels = allPixels && samePixels;
            if (size == 128)
                moonshot = std::max(moonshot, one);
            const double cpuOracle = timings[0].cpu / count, cpuOne = timings[1].cpu / count,
                         cpuFloor = timings[3].cpu / count;
            cpuRows << QString::asprintf(
                "%-8s %4d %8.1f %8.1f %8.1f | %6.2fx %-5s %6.2fx %-5s", s.name, size, cpuOracle,
                cpuOne, cpuFloor, cpuOracle / cpuOne, mark(cpuOracle / cpuOne >= OracleTarget),
                cpuOne / cpuFloor, mark(cpuOne / cpuFloor <= FloorTarget));
            std::printf("%-8s %4d %8.1f %8.1f %8.1f %8.1f | %6.2fx %-5s %6.2fx %-5s %6.2fx %-5s "
                        "%5.2f | %6.3f %-7s %6.3f %-7s %s\n",
                        s.name, size, oracle, one, all, floor, oracle / one, mark(oraclePass),
                        one / floor, mark(floorPass), one / all, mark(allPass), timings[2].busy,
                        bytes, mark(ourBytes <= qtBytes), worst, mark(worst <= maxTileRatio),
                        samePixels ? "as Qt's" : "DIFFER");
            std::fflush(stdout);
        }
    }
    std::printf("load average %s at the end of the table\n", qPrintable(loadAverage()));
    // On a machine others share, a thread's CPU time moves less than wall
    // time; the targets stand on wall time.
    std::printf("\nthe same single-thread runs in process CPU time per tile:\n");
    std::printf("%-8s %4s %8s %8s %8s | %-13s %-13s\n", "style", "size", "oracle", "one", "floor",
                "oracle/one", "one/floor");
    for (const QString &row : cpuRows)
        std::printf("%s\n", qPrintable(row));

    // Peak memory must not grow with the number of masks.
    const QString alpha400 = temp.filePath("alpha400");
    GeneratorFixtures::writeBenchmarkMasks(alpha400, 2 * count);
    clearDir(out);
    const qint64 peakSmall = childPeak(alpha, out, assets);
    clearDir(out);
    const qint64 peakLarge = childPeak(alpha400, out, assets);
    const bool rssPass = peakSmall > 0 && peakLarge > 0 &&
                         peakLarge <= qint64(double(peakSmall) * (1 + MaxRssGrowth));
    std::printf("peak RSS, all cores, textured, 128: %d masks %lld KiB, %d masks %lld KiB\n\n",
                count, peakSmall, 2 * count, peakLarge);

    std::printf("targets:\n");
    const auto target = [](const QString &label, bool pass, const QString &note = QString()) {
        std::printf("  %-52s %s%s\n", qPrintable(label), mark(pass), qPrintable(note));
    };
    target(QString::asprintf("one core >= %.0fx the oracle, every row", OracleTarget), allOracle);
    target(QString::asprintf("all cores >= %.1fx one core, every row", AllCoresTarget), allCores,
           QThread::idealThreadCount() == 2 ? QString() : " (the target is for 2 cores)");
    target(QString::asprintf("one core within %.0fx the floor, every row", FloorTarget), allFloor);
    target(QString::asprintf("bytes <= Qt's in total, no tile over %.2fx Qt's", maxTileRatio),
           allBytes);
    target("every tile's pixels as Qt's file, via Qt and libpng", allPixels);
    target(QString::asprintf("peak RSS +%.0f %% at most for twice the masks", MaxRssGrowth * 100),
           rssPass);
    target(QString::asprintf("moonshot: %.0f us per 128 px tile, one core", MoonshotMicroseconds),
           moonshot <= MoonshotMicroseconds, QString::asprintf(" (slowest row %.1f us)", moonshot));
    return 0;
}
