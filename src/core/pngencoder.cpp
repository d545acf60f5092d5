#include "pngencoder.h"

#include "deflatewriter.h"
#include "pngfilter.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtEndian>

#include <libdeflate.h>

#include <climits>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

// How an image is compressed.
//
// Qt's writer (libpng) picks one of the five PNG filters per row by the
// "minimum sum of absolute differences" rule and deflates the result with zlib
// at level 6 with Z_FILTERED: thorough but slow, about 0.3 ms for a flat
// 128 px tile and 0.5 ms or more for a textured one.
//
// Filtered rows are compressed by our DeflateWriter, which searches about as
// hard as zlib's level 6 but steps over long runs, and inside them tries the
// byte a row up as well: on tiles it takes a third to a half of libdeflate's
// time at the level that was used before (7), and its files come to 1 to
// 39 % below Qt's in total over every tileset measured (below), no tile more
// than 4 % over Qt's. Nothing faster from Debian stays within the size
// rule: libdeflate's levels below 7 are up to 18 % over Qt's on some nearly
// empty tiles, whose files are so small that a few bytes are 5 %; one fixed
// filter for all rows is up to 80 % over, ISA-L's igzip 3 to 35 % over on
// whole sets.
//
// Tiles are mostly plain colour and empty space: at least MinFlatShare of
// their pixels equal their left or upper neighbour. Other images are judged
// by how much the order-0 entropy of the rows drops once each row is taken
// less the row above (the filter gain, estimated on every SampleStep-th row):
//
// - below MaxRoughGain (noise, textures that filtering cannot predict), the
//   unfiltered rows at UnfilteredLevel are smaller than the filtered ones and
//   faster to make, as libdeflate then finds the repeats that filtering
//   hides;
// - from MinSmoothGain on (gradients), libdeflate at ThoroughLevel stays
//   well below zlib, where a level-6 search can be 6 % over it;
// - everything else, tiles included, is filtered and goes to DeflateWriter.
//
// The thresholds were set from measurements over the default library's masks
// and the benchmark's varied masks, with flat and textured designs of every
// top shape and pattern of the library at 128 and 64 px, plus noise,
// gradients and translucent images; the tests check the rule on the same
// sets. Our file carries no pHYs chunk and one IDAT chunk instead of
// libpng's 8 KiB pieces, which saves another 21 bytes and 12 per piece.

namespace {

constexpr int SampleStep = 4;
constexpr int UnfilteredLevel = 3;
constexpr int ThoroughLevel = 10;

// Scratch buffers kept per thread, so encoding many tiles allocates nothing.
struct Scratch
{
    std::vector<uchar> unfiltered;    // per row: filter byte 0, then the pixels
    std::vector<uchar> filtered;      // per row: libpng's filter choice
    std::vector<uchar> filterScratch; // adaptiveRows()'s own
    std::vector<uchar> out;

    void release()
    {
        // A one-off huge image should not pin its memory to the thread.
        constexpr size_t Keep = 8u << 20;
        for (auto *v : {&unfiltered, &filtered, &filterScratch, &out}) {
            if (v->capacity() > Keep) {
                v->clear();
                v->shrink_to_fit();
            }
        }
    }
};

struct CompressorDeleter
{
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};

// Made on first use: tiles need neither.
libdeflate_compressor *compressor(PngEncoder::Encoding encoding)
{
    using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;
    thread_local Compressor unfiltered, thorough;
    const bool isThorough = encoding == PngEncoder::Encoding::Thorough;
    Compressor &c = isThorough ? thorough : unfiltered;
    if (!c)
        c.reset(libdeflate_alloc_compressor(isThorough ? ThoroughLevel : UnfilteredLevel));
    return c.get();
}

PngEncoder::Measures measureRows(const std::vector<uchar> &rows, int width, int height, int bpp)
{
    const double share = PngFilter::repeatShare(rows, width, height, bpp);
    if (share >= PngEncoder::MinFlatShare) // the choice is made; the entropies would not change it
        return {share, 1};
    const double plain = PngFilter::sampledEntropy(rows, width, height, bpp, SampleStep, false);
    const double up = PngFilter::sampledEntropy(rows, width, height, bpp, SampleStep, true);
    const double gain = up > 0      ? plain / up
                        : plain > 0 ? std::numeric_limits<double>::infinity()
                                    : 1;
    return {share, gain};
}

// Formats Qt writes as palette, grey or 16-bit PNGs: left to Qt's writer.
bool writtenByQt(QImage::Format format)
{
    switch (format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return true;
    default:
        return false;
    }
}

// --- PNG file ------------------------------------------------------------

void putChunk(uchar *&o, const char *type, const uchar *data, quint32 size)
{
    qToBigEndian(size, o);
    std::memcpy(o + 4, type, 4);
    if (size)
        std::memcpy(o + 8, data, size);
    const quint32 crc = libdeflate_crc32(0, o + 4, size + 4);
    qToBigEndian(crc, o + 8 + size);
    o += 12 + size;
}

QByteArray pngFile(int width, int height, int channels, const uchar *zdata, size_t zsize)
{
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uchar header[13];
    qToBigEndian(quint32(width), header);
    qToBigEndian(quint32(height), header + 4);
    header[8] = 8;                            // bits per channel
    header[9] = channels == 4 ? 6 : 2;        // truecolour with or without alpha
    header[10] = header[11] = header[12] = 0; // deflate, adaptive filtering, no interlace

    QByteArray file;
    file.resize(int(sizeof signature + 25 + 12 + zsize + 12));
    uchar *o = reinterpret_cast<uchar *>(file.data());
    std::memcpy(o, signature, sizeof signature);
    o += sizeof signature;
    putChunk(o, "IHDR", header, sizeof header);
    putChunk(o, "IDAT", zdata, quint32(zsize));
    putChunk(o, "IEND", nullptr, 0);
    return file;
}

QByteArray encodeWithQt(const QImage &image, QString *errorString)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        if (errorString)
            *errorString = writer.errorString();
        return QByteArray();
    }
    return data;
}

QByteArray encodeRows(const QImage &image, int channels, Scratch &scratch, QString *errorString)
{
    auto fail = [errorString](const QString &reason) {
        if (errorString)
            *errorString = reason;
        return QByteArray();
    };
    const int width = image.width();
    const int height = image.height();

    if (!PngFilter::unfilteredRows(image, channels, scratch.unfiltered))
        return fail(QStringLiteral("Not enough memory to encode the image."));
    const PngEncoder::Encoding encoding =
        PngEncoder::chooseEncoding(measureRows(scratch.unfiltered, width, height, channels));
    const std::vector<uchar> *rows = &scratch.unfiltered;
    if (encoding != PngEncoder::Encoding::Unfiltered) {
        PngFilter::adaptiveRows(scratch.unfiltered, width, height, channels, scratch.filtered,
                                scratch.filterScratch);
        rows = &scratch.filtered;
    }

    if (encoding == PngEncoder::Encoding::Adaptive) {
        const size_t size = DeflateWriter::compress(rows->data(), rows->size(),
                                                    size_t(width) * channels + 1, scratch.out);
        if (size == 0)
            return fail(QStringLiteral("Not enough memory to compress the image."));
        return pngFile(width, height, channels, scratch.out.data(), size);
    }
    libdeflate_compressor *deflater = compressor(encoding);
    if (!deflater)
        return fail(QStringLiteral("Not enough memory to compress the image."));
    scratch.out.resize(libdeflate_zlib_compress_bound(deflater, rows->size()));
    const size_t size = libdeflate_zlib_compress(deflater, rows->data(), rows->size(),
                                                 scratch.out.data(), scratch.out.size());
    if (size == 0)
        return fail(QStringLiteral("The image could not be compressed."));
    return pngFile(width, height, channels, scratch.out.data(), size);
}

} // namespace

PngEncoder::Encoding PngEncoder::chooseEncoding(const Measures &measures)
{
    if (measures.repeatShare >= MinFlatShare)
        return Encoding::Adaptive;
    if (measures.filterGain < MaxRoughGain)
        return Encoding::Unfiltered;
    return measures.filterGain >= MinSmoothGain ? Encoding::Thorough : Encoding::Adaptive;
}

PngEncoder::Measures PngEncoder::measure(const QImage &image)
{
    const int channels = image.hasAlphaChannel() ? 4 : 3;
    std::vector<uchar> rows;
    if (image.isNull() || !PngFilter::unfilteredRows(image, channels, rows))
        return {0, 1};
    return measureRows(rows, image.width(), image.height(), channels);
}

QByteArray PngEncoder::encode(const QImage &image, QString *errorString)
{
    if (image.isNull()) {
        if (errorString)
            *errorString = QStringLiteral("The image is empty.");
        return QByteArray();
    }
    if (writtenByQt(image.format()))
        return encodeWithQt(image, errorString);

    const int channels = image.hasAlphaChannel() ? 4 : 3;
    // The rows and their compressed form must fit a PNG chunk.
    const quint64 raw = quint64(image.height()) * (quint64(image.width()) * channels + 1);
    if (raw > quint64(INT_MAX) / 2) {
        if (errorString)
            *errorString = QStringLiteral("The image is too large to encode.");
        return QByteArray();
    }

    thread_local Scratch scratch;
    QByteArray file;
    try {
        file = encodeRows(image, channels, scratch, errorString);
    } catch (const std::bad_alloc &) {
        if (errorString)
            *errorString = QStringLiteral("Not enough memory to encode the image.");
        file.clear();
    }
    scratch.release();
    return file;
}
