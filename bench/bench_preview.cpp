// One full preview composition (top shape, both patterns, topDown, every
// file read from disk), as on each spin-box step in the editor.
// Prints median, min and max in microseconds; the straightforward
// composition kept in the tests is timed beside it for comparison.

#include "benchtiming.h"
#include "previewfixtures.h"
#include "previeworacle.h"
#include "tilepreview.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

using BenchTiming::median;
using BenchTiming::threadCpuMicroseconds;

namespace {

struct Figures
{
    double median;
    double min;
    double max;
    double cpuMedian; // this thread's CPU time: steadier on a busy machine
};

Figures measure(const std::function<void()> &run, int count)
{
    for (int i = 0; i < 20; ++i)
        run(); // warm the file cache and the allocator
    std::vector<double> wall;
    std::vector<double> cpu;
    wall.reserve(size_t(count));
    cpu.reserve(size_t(count));
    QElapsedTimer timer;
    for (int i = 0; i < count; ++i) {
        const double cpuStart = threadCpuMicroseconds();
        timer.start();
        run();
        wall.push_back(double(timer.nsecsElapsed()) / 1000.0);
        cpu.push_back(threadCpuMicroseconds() - cpuStart);
    }
    const auto [lo, hi] = std::minmax_element(wall.begin(), wall.end());
    return {median(wall), *lo, *hi, median(cpu)};
}

void print(const char *label, const Figures &f)
{
    std::printf("%-26s median %7.1f us  min %7.1f us  max %8.1f us  (CPU median %7.1f us)\n", label,
                f.median, f.min, f.max, f.cpuMedian);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int count = 500;
    if (argc > 1)
        count = qMax(1, QString::fromLocal8Bit(argv[1]).toInt());

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    // The full design: top shape, both patterns and the repeat at the bottom.
    namespace F = PreviewFixtures;
    TileStyle style;
    style.topStyle = F::save(F::topShape(), QDir(dir.path()), "grass.png");
    style.bottomPattern = QFileInfo(F::save(F::bricks(), QDir(dir.path()), "bricks.png"));
    style.topPattern = QFileInfo(F::save(F::specks(), QDir(dir.path()), "specks.png"));
    style.topDown = true;

    // Both must agree before either is worth timing.
    const TilePreview fast = TilePreview::compose(style);
    const TilePreview plain = PlainOps::composePreview(style);
    if (fast.tile.convertToFormat(QImage::Format_RGBA8888) !=
        plain.tile.convertToFormat(QImage::Format_RGBA8888)) {
        std::fprintf(stderr, "composed tiles differ\n");
        return 1;
    }

    std::printf("%d compositions of a 128 x 128 preview (top shape, two patterns, topDown)\n",
                count);
    // The window keeps the last preview until the next one is composed.
    TilePreview shown;
    print("TilePreview::compose", measure([&] { shown = TilePreview::compose(style); }, count));
    print("plain composition (tests)",
          measure([&] { PlainOps::composePreview(style); }, qMin(count, 200)));
    return 0;
}
