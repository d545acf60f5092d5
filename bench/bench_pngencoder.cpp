// Per-tile PNG encoding time and file size: Qt's writer (QImage::save into a
// QBuffer) against PngEncoder, on tiles of flat and textured designs at 128
// and 64 px, plus designs whose tiles the encoder compresses as Qt does.
// Times are medians over every tile and repeat, in microseconds of this
// thread's CPU time (steadier than wall time on a shared machine); wall-time
// medians are printed beside them.
//
// Then what each deflater makes of the very rows libpng filtered: Qt's own
// image data is inflated back and compressed again with zlib as libpng does
// and with libdeflate at several levels. "worst" is the largest excess over
// Qt's image data in bytes, less the 21 bytes of the pHYs chunk our files
// leave out: above 0, some tile would be larger than Qt's file.

#include "benchtiming.h"
#include "deflatewriter.h"
#include "generatorfixtures.h"
#include "pngencoder.h"
#include "pngreadback.h"
#include "tilepipeline.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtEndian>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

using BenchTiming::median;
using BenchTiming::threadCpuMicroseconds;

namespace {

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

// The concatenated IDAT data of a PNG file.
QByteArray imageData(const QByteArray &png)
{
    QByteArray data;
    for (int at = 8; at + 12 <= png.size();) {
        const int length = int(qFromBigEndian<quint32>(png.constData() + at));
        if (png.mid(at + 4, 4) == "IDAT")
            data += png.mid(at + 8, length);
        at += length + 12;
    }
    return data;
}

struct Recompression
{
    const char *name;
    // rowBytes: the rows' length, which only DeflateWriter uses
    std::function<size_t(const std::vector<uchar> &rows, size_t rowBytes, std::vector<uchar> &out)>
        compress;
    Samples time;
    qint64 worst = LLONG_MIN;
    qint64 bytes = 0, qtBytes = 0;
};

size_t zlibAsLibpng(const std::vector<uchar> &rows, size_t, std::vector<uchar> &out)
{
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_FILTERED);
    out.resize(deflateBound(&stream, uLong(rows.size())));
    stream.next_in = const_cast<Bytef *>(rows.data());
    stream.avail_in = uInt(rows.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    return size_t(stream.total_out);
}

void compareDeflaters(const TilePipeline &pipeline, const char *design, int tiles)
{
    std::vector<Recompression> ways{
        {"zlib as libpng", zlibAsLibpng, {}},
        {"DeflateWriter",
         [](const std::vector<uchar> &rows, size_t rowBytes, std::vector<uchar> &out) {
             return DeflateWriter::compress(rows.data(), rows.size(), rowBytes, out);
         },
         {}}};
    for (int level : {1, 6, 7, 9}) {
        std::shared_ptr<libdeflate_compressor> c(libdeflate_alloc_compressor(level),
                                                 libdeflate_free_compressor);
        static const char *const names[] = {
            "", "libdeflate 1", "", "", "", "", "libdeflate 6", "libdeflate 7", "", "libdeflate 9"};
        ways.push_back({names[level],
                        [c](const std::vector<uchar> &rows, size_t, std::vector<uchar> &out) {
                            out.resize(libdeflate_zlib_compress_bound(c.get(), rows.size()));
                            return libdeflate_zlib_compress(c.get(), rows.data(), rows.size(),
                                                            out.data(), out.size());
                        },
                        {}});
    }
    libdeflate_decompressor *inflater = libdeflate_alloc_decompressor();
    for (int size : {128, 64}) {
        for (Recompression &way : ways) {
            way.time = Samples();
            way.worst = LLONG_MIN;
            way.bytes = way.qtBytes = 0;
        }
        for (int seed = 0; seed < tiles; ++seed) {
            const QImage tile = pipeline.makeTile(GeneratorFixtures::variedMask(seed), true, size);
            const QByteArray qtData = imageData(PngReadBack::qtFile(tile));
            std::vector<uchar> rows(size_t(size) * (size * 4 + 1)), out;
            if (libdeflate_zlib_decompress(inflater, qtData.constData(), size_t(qtData.size()),
                                           rows.data(), rows.size(), nullptr) != 0) {
                std::fprintf(stderr, "Qt's image data did not inflate\n");
                continue;
            }
            for (Recompression &way : ways) {
                size_t bytes = 0;
                timed(way.time, [&] {
                    bytes = way.compress(rows, size_t(size) * 4 + 1, out);
                    return QByteArray();
                });
                way.worst = std::max(way.worst, qint64(bytes) - qtData.size() - 21);
                way.bytes += qint64(bytes);
                way.qtBytes += qtData.size();
            }
        }
        for (const Recompression &way : ways)
            std::printf("%-9s %4d %-15s %9.0f us  worst %+6lld B  total %.3f of Qt's\n", design,
                        size, way.name, median(way.time.cpu), way.worst,
                        double(way.bytes) / double(way.qtBytes));
    }
    libdeflate_free_decompressor(inflater);
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
                const QByteArray qtFile = PngReadBack::qtFile(tile);
                const QByteArray ourFile = PngEncoder::encode(tile);
                for (int r = 0; r < repeats; ++r) {
                    timed(qt, [&] { return PngReadBack::qtFile(tile); });
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
                "ratio (must stay <= %.2f).\n\n",
                1 + PngEncoder::MaxExcess);

    std::printf("Qt's filtered rows compressed again (CPU us per tile, worst excess over Qt's "
                "file):\n");
    for (const auto &row : rows)
        compareDeflaters(
            TilePipeline(GeneratorFixtures::styleFrom(row.design, QDir(assets.path()))), row.name,
            row.tiles);
    return 0;
}
