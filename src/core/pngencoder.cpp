#include "pngencoder.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtEndian>

#include <libdeflate.h>
#include <zlib.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// How a tile is compressed.
//
// Qt's writer (libpng) picks one of the five PNG filters per row by the
// "minimum sum of absolute differences" rule and deflates the result with zlib
// at level 6 with Z_FILTERED. That is thorough but slow: about 0.5 ms for a
// flat 128 px tile and 2 ms or more for a textured one.
//
// The fast candidate deflates the unfiltered rows with libdeflate at level 1.
// On textured tiles it is 15-40 % smaller than Qt's file and ten times
// faster. On flat, smooth or finely repeating tiles it can be a few percent
// larger, and no fixed filter or libdeflate level is reliably smaller there.
// So unless the image is clearly textured (or noise), the rows are also
// compressed exactly as Qt's writer compresses them: the same filter choice
// and the same zlib settings give image data of the very size Qt writes, and
// the smaller of the two results is kept. Our file carries no pHYs chunk and
// one IDAT chunk instead of libpng's 8 KiB pieces, so it is always smaller
// than Qt's on that path.
//
// "Clearly textured" is judged by order-0 entropy estimates of the unfiltered
// rows (HN) and of the filtered rows (HA): filtering barely helps
// (HN <= MaxFilterGain HA), the image is not nearly flat
// (HA >= FlatEntropyShare of the raw size), and the fast candidate lies
// between MinFastToEntropy HA and MaxFastToEntropy HA and is at least
// MinFastShare of the raw size: clearly below HA without being suspiciously
// small. Incompressible data (both above IncompressibleShare of the raw size)
// also takes the fast candidate. The bounds were set
// from measurements on flat, textured, noisy, gradient, photographic, dithered,
// finely tiled and mostly transparent images at 64 and 128 px, and the tests
// check the size against Qt's on such a set.

namespace {

constexpr double FlatEntropyShare = 1.0 / 16;
constexpr double MaxFilterGain = 1.5;
constexpr double MinFastToEntropy = 0.45;
constexpr double MaxFastToEntropy = 0.7;
constexpr double MinFastShare = 0.05;
constexpr double IncompressibleShare = 0.95;
// With at least this share of zero bytes the order-0 entropy is below
// FlatEntropyShare (0.19 bits for the zeros, 0.24 for the rest at most).
constexpr double MostlyZeroShare = 0.97;

// Scratch buffers kept per thread, so encoding many tiles allocates nothing.
struct Scratch
{
    std::vector<uchar> unfiltered; // per row: filter byte 0, then the pixels
    std::vector<uchar> filtered;   // per row: libpng's filter choice
    std::vector<uchar> candidates; // four filtered versions of a row, and a row of zeros
    std::vector<uchar> fastOut;
    std::vector<uchar> exactOut;

    void release()
    {
        // A one-off huge image should not pin its memory to the thread.
        constexpr size_t Keep = 8u << 20;
        for (auto *v : {&unfiltered, &filtered, &candidates, &fastOut, &exactOut}) {
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

libdeflate_compressor *fastCompressor()
{
    thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(1));
    return compressor.get();
}

// zlib configured as libpng configures it by default.
class ExactDeflater
{
public:
    ExactDeflater()
    {
        m_ok =
            deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_FILTERED) == Z_OK;
    }
    ~ExactDeflater()
    {
        if (m_ok)
            deflateEnd(&m_stream);
    }
    ExactDeflater(const ExactDeflater &) = delete;
    ExactDeflater &operator=(const ExactDeflater &) = delete;

    // Compressed size, or 0 on failure.
    size_t compress(const uchar *data, size_t size, std::vector<uchar> &out)
    {
        if (!m_ok || size > UINT_MAX / 2 || deflateReset(&m_stream) != Z_OK)
            return 0;
        out.resize(deflateBound(&m_stream, uLong(size)));
        m_stream.next_in = const_cast<Bytef *>(data);
        m_stream.avail_in = uInt(size);
        m_stream.next_out = out.data();
        m_stream.avail_out = uInt(out.size());
        if (deflate(&m_stream, Z_FINISH) != Z_STREAM_END)
            return 0;
        return size_t(m_stream.total_out);
    }

private:
    z_stream m_stream{};
    bool m_ok = false;
};

ExactDeflater &exactDeflater()
{
    thread_local ExactDeflater deflater;
    return deflater;
}

// --- Pixel rows -----------------------------------------------------------

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

// 0xAARRGGBB words to R, G, B, A bytes.
void argbToRgba(const QRgb *in, uchar *out, int count)
{
    int x = 0;
#if defined(__SSE2__)
    // x86 is little-endian: each word reads B, G, R, A in memory, so swapping
    // its R and B bytes gives R, G, B, A.
    const __m128i keep = _mm_set1_epi32(int(0xff00ff00));
    const __m128i low = _mm_set1_epi32(0xff);
    for (; x + 4 <= count; x += 4) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + x));
        const __m128i red = _mm_and_si128(_mm_srli_epi32(w, 16), low);
        const __m128i blue = _mm_slli_epi32(_mm_and_si128(w, low), 16);
        const __m128i rgba = _mm_or_si128(_mm_and_si128(w, keep), _mm_or_si128(red, blue));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * x), rgba);
    }
#endif
    for (; x < count; ++x) {
        const QRgb c = in[x];
        uchar *o = out + 4 * x;
        o[0] = uchar(qRed(c));
        o[1] = uchar(qGreen(c));
        o[2] = uchar(qBlue(c));
        o[3] = uchar(qAlpha(c));
    }
}

// Fills `out` with the scan lines, each led by filter byte 0. Qt's writer
// converts every other format to ARGB32 (or RGB32 without alpha), so the
// same conversion is used here and the pixel values match. False when the
// conversion runs out of memory.
bool unfilteredRows(const QImage &image, int channels, std::vector<uchar> &out)
{
    const int width = image.width();
    const int height = image.height();
    const size_t stride = size_t(width) * channels + 1;
    out.resize(stride * height);

    QImage converted;
    const QImage *source = &image;
    const QImage::Format format = image.format();
    const bool direct = channels == 4
                            ? (format == QImage::Format_RGBA8888 || format == QImage::Format_ARGB32)
                            : (format == QImage::Format_RGB888 ||
                               format == QImage::Format_RGBX8888 || format == QImage::Format_RGB32);
    if (!direct) {
        converted =
            image.convertToFormat(channels == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (converted.isNull())
            return false;
        source = &converted;
    }
    const QImage::Format sourceFormat = source->format();

    for (int y = 0; y < height; ++y) {
        uchar *o = out.data() + stride * y;
        *o++ = 0;
        const uchar *line = source->constScanLine(y);
        switch (sourceFormat) {
        case QImage::Format_RGBA8888:
        case QImage::Format_RGB888:
            std::memcpy(o, line, size_t(width) * channels);
            break;
        case QImage::Format_RGBX8888:
            for (int x = 0; x < width; ++x, o += 3, line += 4) {
                o[0] = line[0];
                o[1] = line[1];
                o[2] = line[2];
            }
            break;
        default: { // ARGB32 or RGB32: 0xAARRGGBB words
            const QRgb *p = reinterpret_cast<const QRgb *>(line);
            if (channels == 4) {
                argbToRgba(p, o, width);
            } else {
                for (int x = 0; x < width; ++x, o += 3) {
                    const QRgb c = p[x];
                    o[0] = uchar(qRed(c));
                    o[1] = uchar(qGreen(c));
                    o[2] = uchar(qBlue(c));
                }
            }
            break;
        }
        }
    }
    return true;
}

// --- libpng's adaptive filter ----------------------------------------------

// libpng's cost of a filtered row: the bytes read as signed, absolute values
// summed.
quint64 rowCost(const uchar *p, size_t n)
{
    quint64 sum = 0;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        const __m128i a = _mm_min_epu8(v, _mm_sub_epi8(zero, v)); // v < 128 ? v : 256 - v
        acc = _mm_add_epi64(acc, _mm_sad_epu8(a, zero));
    }
    alignas(16) quint64 lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), acc);
    sum = lanes[0] + lanes[1];
#endif
    for (; i < n; ++i)
        sum += p[i] < 128 ? p[i] : 256 - p[i];
    return sum;
}

inline uchar paethPredictor(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return uchar(a);
    return uchar(pb <= pc ? b : c);
}

#if defined(__SSE2__)
inline __m128i abs16(__m128i x)
{
    return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
}

inline __m128i select16(__m128i mask, __m128i yes, __m128i no)
{
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Paeth predictor on eight 16-bit lanes.
inline __m128i paeth16(__m128i a, __m128i b, __m128i c)
{
    const __m128i bc = _mm_sub_epi16(b, c);
    const __m128i ac = _mm_sub_epi16(a, c);
    const __m128i pa = abs16(bc);
    const __m128i pb = abs16(ac);
    const __m128i pc = abs16(_mm_add_epi16(bc, ac));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i bOrC = select16(_mm_cmpgt_epi16(pb, pc), c, b);
    return select16(notA, bOrC, a);
}
#endif

// Writes the SUB, UP, AVERAGE and PAETH versions of one row.
void filterRow(const uchar *row, const uchar *prev, size_t n, int bpp, uchar *sub, uchar *up,
               uchar *avg, uchar *paeth)
{
    size_t i = 0;
    for (; i < size_t(bpp) && i < n; ++i) {
        sub[i] = row[i];
        up[i] = uchar(row[i] - prev[i]);
        avg[i] = uchar(row[i] - (prev[i] >> 1));
        paeth[i] = uchar(row[i] - prev[i]);
    }
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i - bpp));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(prev + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(prev + i - bpp));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(sub + i), _mm_sub_epi8(x, a));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(up + i), _mm_sub_epi8(x, b));
        // floor((a + b) / 2): _mm_avg_epu8 rounds up, so take back the odd bit.
        const __m128i mean =
            _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(avg + i), _mm_sub_epi8(x, mean));
        const __m128i lo = paeth16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                   _mm_unpacklo_epi8(c, zero));
        const __m128i hi = paeth16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                   _mm_unpackhi_epi8(c, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(paeth + i),
                         _mm_sub_epi8(x, _mm_packus_epi16(lo, hi)));
    }
#endif
    for (; i < n; ++i) {
        const int a = row[i - bpp], b = prev[i], c = prev[i - bpp];
        sub[i] = uchar(row[i] - a);
        up[i] = uchar(row[i] - b);
        avg[i] = uchar(row[i] - ((a + b) >> 1));
        paeth[i] = uchar(row[i] - paethPredictor(a, b, c));
    }
}

// libpng's default choice: per row the filter with the smallest cost, the
// first one on a tie, in the order NONE, SUB, UP, AVERAGE, PAETH.
void adaptiveRows(const std::vector<uchar> &unfiltered, int width, int height, int bpp,
                  Scratch &scratch)
{
    const size_t n = size_t(width) * bpp;
    const size_t stride = n + 1;
    scratch.filtered.resize(unfiltered.size());
    scratch.candidates.resize(5 * n);
    uchar *cand[5] = {nullptr, scratch.candidates.data(), scratch.candidates.data() + n,
                      scratch.candidates.data() + 2 * n, scratch.candidates.data() + 3 * n};
    uchar *zeroRow = scratch.candidates.data() + 4 * n;
    std::memset(zeroRow, 0, n);

    for (int y = 0; y < height; ++y) {
        const uchar *row = unfiltered.data() + stride * y + 1;
        const uchar *prev = y > 0 ? row - stride : zeroRow;
        cand[0] = const_cast<uchar *>(row);
        filterRow(row, prev, n, bpp, cand[1], cand[2], cand[3], cand[4]);
        int best = 0;
        quint64 bestCost = rowCost(row, n);
        for (int f = 1; f < 5; ++f) {
            const quint64 cost = rowCost(cand[f], n);
            if (cost < bestCost) {
                bestCost = cost;
                best = f;
            }
        }
        uchar *o = scratch.filtered.data() + stride * y;
        o[0] = uchar(best);
        std::memcpy(o + 1, cand[best], n);
    }
}

size_t zeroCount(const uchar *p, size_t n)
{
    size_t count = 0;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    __m128i acc = zero;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        const __m128i isZero = _mm_and_si128(_mm_cmpeq_epi8(v, zero), one);
        acc = _mm_add_epi64(acc, _mm_sad_epu8(isZero, zero));
    }
    alignas(16) quint64 lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), acc);
    count = size_t(lanes[0] + lanes[1]);
#endif
    for (; i < n; ++i)
        count += p[i] == 0;
    return count;
}

// Order-0 entropy of the bytes, in bytes: what a Huffman coder alone could
// reach.
double entropyBytes(const uchar *p, size_t n)
{
    // Four tables, so runs of equal bytes do not wait on one counter.
    quint32 counts[4][256] = {};
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++counts[0][p[i]];
        ++counts[1][p[i + 1]];
        ++counts[2][p[i + 2]];
        ++counts[3][p[i + 3]];
    }
    for (; i < n; ++i)
        ++counts[0][p[i]];
    double bits = 0;
    const double total = double(n);
    for (int v = 0; v < 256; ++v) {
        const quint32 c = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
        if (c)
            bits -= c * std::log2(c / total);
    }
    return bits / 8;
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

    if (!unfilteredRows(image, channels, scratch.unfiltered))
        return fail(QStringLiteral("Not enough memory to encode the image."));
    const std::vector<uchar> &plain = scratch.unfiltered;
    const size_t raw = plain.size();
    adaptiveRows(plain, width, height, channels, scratch);

    // Nearly all zero after filtering means a nearly flat image: its entropy
    // is then certainly below the textured range, and counting it is skipped.
    bool incompressible = false;
    bool maybeTextured = false;
    double filteredEntropy = 0;
    if (zeroCount(scratch.filtered.data(), raw) < MostlyZeroShare * raw) {
        filteredEntropy = entropyBytes(scratch.filtered.data(), raw);
        const double plainEntropy = entropyBytes(plain.data(), raw);
        incompressible = filteredEntropy >= IncompressibleShare * raw;
        maybeTextured = filteredEntropy >= FlatEntropyShare * raw &&
                        plainEntropy <= MaxFilterGain * filteredEntropy;
    }

    size_t fastSize = 0;
    if (incompressible || maybeTextured) {
        libdeflate_compressor *compressor = fastCompressor();
        if (!compressor)
            return fail(QStringLiteral("Not enough memory to compress the image."));
        scratch.fastOut.resize(libdeflate_zlib_compress_bound(compressor, raw));
        fastSize = libdeflate_zlib_compress(compressor, plain.data(), raw, scratch.fastOut.data(),
                                            scratch.fastOut.size());
        if (fastSize == 0)
            return fail(QStringLiteral("The image could not be compressed."));
        const double fast = double(fastSize);
        const bool clearlyTextured = maybeTextured && fast >= MinFastToEntropy * filteredEntropy &&
                                     fast <= MaxFastToEntropy * filteredEntropy &&
                                     fast >= MinFastShare * raw;
        const bool alsoIncompressible = incompressible && fast >= IncompressibleShare * raw;
        if (clearlyTextured || alsoIncompressible)
            return pngFile(width, height, channels, scratch.fastOut.data(), fastSize);
    }

    const size_t exactSize =
        exactDeflater().compress(scratch.filtered.data(), raw, scratch.exactOut);
    if (exactSize == 0)
        return fail(QStringLiteral("The image could not be compressed."));
    if (fastSize != 0 && fastSize < exactSize)
        return pngFile(width, height, channels, scratch.fastOut.data(), fastSize);
    return pngFile(width, height, channels, scratch.exactOut.data(), exactSize);
}

} // namespace

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
    // The filtered rows and their compressed form must fit the PNG limits
    // and zlib's 32-bit counters.
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
