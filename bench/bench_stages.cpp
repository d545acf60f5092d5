// One tile's cost stage by stage, as the worker makes it on one thread:
// reading the mask (guarded reader, header then pixels), bringing it to the
// working form, composing the tile, the encoder's steps (rows, measures,
// filter choice) and its whole encode, and writing the file. Thread CPU time,
// median per tile over `runs` passes of the benchmark's varied masks; flat
// and textured designs at 128 and 64 px. Shows where a tile's time goes.
//
// Usage: bench_stages [masks=200] [runs=5] [directory=/dev/shm]

#include "benchtiming.h"
#include "generatorfixtures.h"
#include "outputfolder.h"
#include "pngencoder.h"
#include "pngfilter.h"
#include "safeimagereader.h"
#include "tilepipeline.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <vector>

using BenchTiming::median;
using BenchTiming::threadCpuMicroseconds;

namespace {

enum Stage
{
    Read,
    Normalise,
    Compose,
    Rows,
    Measure,
    Filter,
    Encode,
    Write,
    StageCount
};
const char *const stageNames[StageCount] = {"read",     "normalise", "compose", "rows",
                                            "measures", "filter",    "encode",  "write"};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int masks = args.size() > 1 ? args[1].toInt() : 200;
    const int runs = args.size() > 2 ? args[2].toInt() : 5;
    const QString base = (args.size() > 3 ? args[3] : QStringLiteral("/dev/shm")) +
                         QStringLiteral("/tilewright-stages");
    const QString maskDir = base + "/masks", outDir = base + "/out";
    QDir(base).removeRecursively();
    QDir().mkpath(outDir);
    GeneratorFixtures::writeBenchmarkMasks(maskDir, masks);
    // The designs' pictures are drawn into a folder of their own.
    const QString assets = base + "/assets";
    QDir().mkpath(assets);

    std::printf("%d masks, median of %d runs, thread CPU microseconds per tile\n", masks, runs);
    std::printf("%-8s %4s", "style", "size");
    for (const char *name : stageNames)
        std::printf(" %9s", name);
    std::printf(" %9s\n", "total");
    const std::pair<const char *, const char *> designs[] = {
        {"flat", "top=grass"}, {"textured", "top=grass topPattern=specks bottomPattern=bricks"}};
    for (const auto &design : designs) {
        const TilePipeline pipeline(GeneratorFixtures::styleFrom(design.second, QDir(assets)));
        for (int size : {128, 64}) {
            std::vector<double> perRun[StageCount];
            std::vector<uchar> rows, filtered, scratch;
            for (int run = -1; run < runs; ++run) { // run -1 warms up
                double spent[StageCount] = {};
                for (int i = 0; i < masks; ++i) {
                    const QString name = GeneratorFixtures::variedMaskName(i);
                    double t = threadCpuMicroseconds();
                    auto lap = [&](Stage stage) {
                        const double now = threadCpuMicroseconds();
                        spent[stage] += now - t;
                        t = now;
                    };
                    SafeImageReader reader(maskDir + "/" + name);
                    reader.canRead();
                    const QImage raw = reader.read();
                    lap(Read);
                    const QImage mask = TilePipeline::normaliseMask(raw);
                    lap(Normalise);
                    const QImage tile = pipeline.makeTile(mask, TilePipeline::wantsTop(name), size);
                    lap(Compose);
                    PngFilter::unfilteredRows(tile, 4, rows);
                    lap(Rows);
                    PngFilter::repeatShare(rows, size, size, 4);
                    lap(Measure);
                    PngFilter::adaptiveRows(rows, size, size, 4, filtered, scratch);
                    lap(Filter);
                    const QByteArray png = PngEncoder::encode(tile);
                    lap(Encode);
                    OutputFolder::writeFile(outDir + "/" + name, png);
                    lap(Write);
                }
                if (run >= 0)
                    for (int s = 0; s < StageCount; ++s)
                        perRun[s].push_back(spent[s] / masks);
            }
            std::printf("%-8s %4d", design.first, size);
            double total = 0;
            for (int s = 0; s < StageCount; ++s) {
                const double m = median(perRun[s]);
                // rows, measures and filter are inside encode; shown apart
                if (s != Rows && s != Measure && s != Filter)
                    total += m;
                std::printf(" %9.1f", m);
            }
            std::printf(" %9.1f\n", total);
        }
    }
    std::printf("rows, measures and filter are parts of encode, shown apart; the total "
                "leaves them out\n");
    QDir(base).removeRecursively();
    return 0;
}
