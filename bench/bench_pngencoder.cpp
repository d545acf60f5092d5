// Per-tile PNG encoding time and file size: Qt's writer (QImage::save into a
// QBuffer) against PngEncoder, on tiles of flat and textured designs at 128
// and 64 px, plus designs whose tiles the encoder compresses as Qt does.
// Times are medians over every tile and repeat, in microseconds of this
// thread's CPU time (steadier than wall time on a shared machine); wall-time
// medians are printed beside them.

#include "benchtiming.h"
#include "generatorfixtures.h"
#include "pngencoder.h"
#include "tilepipeline.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using BenchTiming::median;
using BenchTiming::threadCpuMicroseconds;

namespace {

QByteArray qtEncode(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

struct Samples
{
    std::vector<double> cpu, wall;
};

template <typename Encode> QByteArray timed(Samples &samples, const Encode &encode)
{
    QElapsedTimer wall;
    const double cpuStart = threadCpuMicroseconds();
    wall.start();
    QByteArray data = encode();
    samples.wall.push_back(double(wall.nsecsElapsed()) / 1e3);
    samples.cpu.push_back(threadCpuMicroseconds() - cpuStart);
    return data;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const int repeats = 5;
    QTemporaryDir assets;
    const struct
    {
        const char *name;
        const char *design;
        int tiles;
    } rows[] = {
        {"flat", "top=grass", 40},
        {"textured", "top=grass topPattern=specks bottomPattern=bricks", 40},
        {"pixel", "top=pixel topPattern=holes bottomPattern=holes bottomOpacity=0.5", 20},
        {"specks", "top=narrow bottomPattern=smallspecks", 20},
    };

    std::printf("%-9s %4s %5s | %9s %9s %7s | %9s %9s | %8s %8s %6s\n", "design", "px", "tiles",
                "Qt cpu", "ours cpu", "speedup", "Qt wall", "ours wall", "Qt B", "ours B", "worst");
    for (const auto &row : rows) {
        const TilePipeline pipeline(GeneratorFixtures::styleFrom(row.design, QDir(assets.path())));
        for (int size : {128, 64}) {
            Samples qt, ours;
            qint64 qtBytes = 0, ourBytes = 0;
            double worst = 0;
            for (int seed = 0; seed < row.tiles; ++seed) {
                const QImage tile =
                    pipeline.makeTile(GeneratorFixtures::variedMask(seed), true, size);
                // Warm caches and per-thread state once per tile.
                const QByteArray qtFile = qtEncode(tile);
                const QByteArray ourFile = PngEncoder::encode(tile);
                for (int r = 0; r < repeats; ++r) {
                    timed(qt, [&] { return qtEncode(tile); });
                    timed(ours, [&] { return PngEncoder::encode(tile); });
                }
                qtBytes += qtFile.size();
                ourBytes += ourFile.size();
                worst = std::max(worst, double(ourFile.size()) / qtFile.size());
            }
            const double qtCpu = median(qt.cpu), ourCpu = median(ours.cpu);
            std::printf("%-9s %4d %5d | %9.0f %9.0f %6.1fx | %9.0f %9.0f | %8lld %8lld %6.3f\n",
                        row.name, size, row.tiles, qtCpu, ourCpu, qtCpu / ourCpu, median(qt.wall),
                        median(ours.wall), qtBytes / row.tiles, ourBytes / row.tiles, worst);
            std::fflush(stdout);
        }
    }
    std::printf("Times: median us per tile. Bytes: mean file size. worst: largest ours/Qt size "
                "ratio (must stay <= 1).\n");
    return 0;
}
