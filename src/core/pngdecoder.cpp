#include "pngdecoder.h"

#include "pngfilter.h"
#include "pngsimd.h"

#include <QtEndian>

#include <libdeflate.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <tmmintrin.h>
#endif

namespace {

constexpr uchar Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr int HeaderEnd = 8 + 8 + 13 + 4; // signature, IHDR's length and type, data, CRC

struct Chunk
{
    quint32 length = 0;
    const uchar *type = nullptr;
    const uchar *data = nullptr;
};

// The chunk at `at`, its CRC checked (libpng rejects a damaged critical
// chunk, so Qt's reader would too); false when it does not fit or is damaged.
bool chunkAt(const uchar *file, qsizetype size, qsizetype at, Chunk *chunk)
{
    if (at + 12 > size)
        return false;
    const quint32 length = qFromBigEndian<quint32>(file + at);
    if (length > quint32(INT_MAX) || qsizetype(length) > size - at - 12)
        return false;
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Fuzzing skips this, or nearly every mutation would stop here.
    const quint32 crc = qFromBigEndian<quint32>(file + at + 8 + length);
    if (libdeflate_crc32(0, file + at + 4, length + 4) != crc)
        return false;
#endif
    *chunk = {length, file + at + 4, file + at + 8};
    return true;
}

bool is(const Chunk &chunk, const char *type)
{
    return std::memcmp(chunk.type, type, 4) == 0;
}

struct Header
{
    int width = 0;
    int height = 0;
    int channels = 0;
};

bool readHeader(const QByteArray &data, Header *header)
{
    const uchar *file = reinterpret_cast<const uchar *>(data.constData());
    Chunk ihdr;
    if (data.size() < HeaderEnd || std::memcmp(file, Signature, 8) != 0 ||
        !chunkAt(file, data.size(), 8, &ihdr) || !is(ihdr, "IHDR") || ihdr.length != 13)
        return false;
    const quint32 width = qFromBigEndian<quint32>(ihdr.data);
    const quint32 height = qFromBigEndian<quint32>(ihdr.data + 4);
    const uchar *p = ihdr.data + 8; // depth, colour type, compression, filter, interlace
    if (width == 0 || height == 0 || width > quint32(INT_MAX) || height > quint32(INT_MAX) ||
        p[0] != 8 || (p[1] != 2 && p[1] != 6) || p[2] != 0 || p[3] != 0 || p[4] != 0)
        return false;
    *header = {int(width), int(height), p[1] == 6 ? 4 : 3};
    return true;
}

#if defined(__SSE2__)
// The filters of 4-byte pixels with SSE2, a pixel to a lane: the arithmetic
// is per byte, so the vector steps give exactly the scalar results below.

__m128i loadPixel(const uchar *p)
{
    int word;
    std::memcpy(&word, p, 4);
    return _mm_cvtsi32_si128(word);
}

void storePixel(uchar *p, __m128i v)
{
    const int word = _mm_cvtsi128_si32(v);
    std::memcpy(p, &word, 4);
}

// Each pixel plus the one on its left: four at a time as a running sum
// (add the vector shifted by one pixel, then by two), carrying the last.
void unfilterSub4(uchar *row, size_t n)
{
    __m128i carry = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
        x = _mm_add_epi8(x, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + i), x);
        carry = _mm_shuffle_epi32(x, 0xff);
    }
    for (; i < n; i += 4) {
        carry = _mm_add_epi8(carry, loadPixel(row + i));
        storePixel(row + i, carry);
    }
}

// Plus the floor of the mean of left and above.
void unfilterAverage4(uchar *row, const uchar *prev, size_t n)
{
    __m128i left = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += 4) {
        left = _mm_add_epi8(loadPixel(row + i), PngSimd::floorMean(left, loadPixel(prev + i)));
        storePixel(row + i, left);
    }
}

// Plus the Paeth predictor of left (a), above (b) and above-left (c), as
// the encoder's filter predicts it.
void unfilterPaeth4(uchar *row, const uchar *prev, size_t n)
{
    __m128i a = _mm_setzero_si128(), c = a;
    for (size_t i = 0; i < n; i += 4) {
        const __m128i b = loadPixel(prev + i);
        a = _mm_add_epi8(loadPixel(row + i), PngSimd::paeth8(a, b, c));
        storePixel(row + i, a);
        c = b;
    }
}
#endif

// Undoes one row's filter in place; prev is the row above (zeros for the
// first). False for an unknown filter type.
bool unfilter(uchar type, uchar *row, const uchar *prev, size_t n, size_t bpp)
{
#if defined(__SSE2__)
    if (bpp == 4) {
        switch (type) {
        case 1:
            unfilterSub4(row, n);
            return true;
        case 3:
            unfilterAverage4(row, prev, n);
            return true;
        case 4:
            unfilterPaeth4(row, prev, n);
            return true;
        default:
            break;
        }
    }
#endif
    switch (type) {
    case 0:
        return true;
    case 1:
        for (size_t i = bpp; i < n; ++i)
            row[i] = uchar(row[i] + row[i - bpp]);
        return true;
    case 2: {
        size_t i = 0;
#if defined(__SSE2__)
        for (; i + 16 <= n; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(prev + i));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(row + i), _mm_add_epi8(a, b));
        }
#endif
        for (; i < n; ++i)
            row[i] = uchar(row[i] + prev[i]);
        return true;
    }
    case 3:
        for (size_t i = 0; i < bpp; ++i)
            row[i] = uchar(row[i] + (prev[i] >> 1));
        for (size_t i = bpp; i < n; ++i)
            row[i] = uchar(row[i] + ((row[i - bpp] + prev[i]) >> 1));
        return true;
    case 4:
        for (size_t i = 0; i < bpp; ++i)
            row[i] = uchar(row[i] + prev[i]);
        for (size_t i = bpp; i < n; ++i)
            row[i] =
                uchar(row[i] + PngFilter::paethPredictor(row[i - bpp], prev[i], prev[i - bpp]));
        return true;
    default:
        return false;
    }
}

#if defined(__SSE2__)
// RGBA rows straight into the image. ARGB32 words on little-endian x86 are
// the bytes B, G, R, A: the file's R and B swapped. Every filter works byte
// by byte on one channel of neighbouring pixels, so swapping first and then
// undoing the filter in the image, against the image's row above, gives the
// same pixels and saves a pass over the data.

// One row's bytes swapped into `out`, plus `up` byte by byte where given
// (the "up" filter undone on the way).
using SwapRow = void (*)(const uchar *in, uchar *out, const uchar *up, size_t n);

void swapTail(const uchar *in, uchar *out, const uchar *up, size_t i, size_t n)
{
    for (; i < n; i += 4) {
        const uchar b = in[i + 2], g = in[i + 1], r = in[i], a = in[i + 3];
        out[i] = uchar(b + (up ? up[i] : 0));
        out[i + 1] = uchar(g + (up ? up[i + 1] : 0));
        out[i + 2] = uchar(r + (up ? up[i + 2] : 0));
        out[i + 3] = uchar(a + (up ? up[i + 3] : 0));
    }
}

// Without SSSE3's byte shuffle: masks and shifts, then the row above added
// as the "up" filter would.
void swapRowSse2(const uchar *in, uchar *out, const uchar *up, size_t n)
{
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), PngSimd::swapRedBlue(w));
    }
    swapTail(in, out, nullptr, i, n);
    if (up)
        unfilter(2, out, up, n, 4);
}

__attribute__((target("ssse3"))) void swapRowSsse3(const uchar *in, uchar *out, const uchar *up,
                                                   size_t n)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    size_t i = 0;
    if (up) {
        for (; i + 16 <= n; i += 16) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
            const __m128i above = _mm_loadu_si128(reinterpret_cast<const __m128i *>(up + i));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i),
                             _mm_add_epi8(_mm_shuffle_epi8(w, order), above));
        }
    } else {
        for (; i + 16 <= n; i += 16) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_shuffle_epi8(w, order));
        }
    }
    swapTail(in, out, up, i, n);
}

SwapRow swapRow()
{
    static const SwapRow chosen = __builtin_cpu_supports("ssse3") ? swapRowSsse3 : swapRowSse2;
    return chosen;
}
#endif

struct DecompressorDeleter
{
    void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};

} // namespace

QSize PngDecoder::header(const QByteArray &data)
{
    Header header;
    return readHeader(data, &header) ? QSize(header.width, header.height) : QSize();
}

QImage PngDecoder::decode(const QByteArray &data)
{
    Header header;
    if (!readHeader(data, &header))
        return QImage();
    const uchar *file = reinterpret_cast<const uchar *>(data.constData());
    const qsizetype size = data.size();

    // IHDR, then the IDAT chunks one after the other, IEND last; a resolution
    // in metres may come before the data, as Qt's writer puts it.
    QByteArray joined; // the image data, when it comes in several chunks
    const uchar *zdata = nullptr;
    size_t zsize = 0;
    int dotsPerMeterX = 0, dotsPerMeterY = 0;
    bool inData = false, dataDone = false;
    qsizetype at = HeaderEnd;
    for (;;) {
        Chunk chunk;
        if (!chunkAt(file, size, at, &chunk))
            return QImage();
        at += 12 + qsizetype(chunk.length);
        if (is(chunk, "IDAT")) {
            if (dataDone)
                return QImage();
            if (!inData) {
                zdata = chunk.data;
                zsize = chunk.length;
            } else {
                if (joined.isEmpty())
                    joined = QByteArray(reinterpret_cast<const char *>(zdata), int(zsize));
                joined.append(reinterpret_cast<const char *>(chunk.data), int(chunk.length));
            }
            inData = true;
            continue;
        }
        dataDone = inData;
        if (is(chunk, "IEND")) {
            if (!inData || chunk.length != 0 || at != size)
                return QImage();
            break;
        }
        if (!is(chunk, "pHYs") || inData || chunk.length != 9 || chunk.data[8] != 1)
            return QImage(); // anything else is left to Qt's reader
        const quint32 x = qFromBigEndian<quint32>(chunk.data);
        const quint32 y = qFromBigEndian<quint32>(chunk.data + 4);
        if (x > quint32(INT_MAX) || y > quint32(INT_MAX))
            return QImage();
        dotsPerMeterX = int(x);
        dotsPerMeterY = int(y);
    }
    if (!joined.isEmpty()) {
        zdata = reinterpret_cast<const uchar *>(joined.constData());
        zsize = size_t(joined.size());
    }

    const size_t bpp = size_t(header.channels);
    const size_t n = size_t(header.width) * bpp;
    const size_t stride = n + 1;
    const size_t rawSize = stride * size_t(header.height);
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> inflater(
        libdeflate_alloc_decompressor());
    QImage image(header.width, header.height,
                 header.channels == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (!inflater || image.isNull())
        return QImage();
    // The inflated rows go to a buffer each thread keeps for the next mask,
    // unless they are larger than masks ever are: then to one of their own.
    constexpr size_t MaxKeptBytes = 1024 * 1024;
    thread_local std::unique_ptr<uchar[]> kept;
    thread_local size_t keptSize = 0;
    std::unique_ptr<uchar[]> own;
    if (rawSize <= MaxKeptBytes && keptSize < rawSize) {
        kept.reset(new (std::nothrow) uchar[rawSize]);
        keptSize = kept ? rawSize : 0;
    }
    if (rawSize > keptSize)
        own.reset(new (std::nothrow) uchar[rawSize]);
    uchar *const raw = own ? own.get() : kept.get();
    if (!raw)
        return QImage();
    size_t usedIn = 0, madeOut = 0;
    if (libdeflate_zlib_decompress_ex(inflater.get(), zdata, zsize, raw, rawSize, &usedIn,
                                      &madeOut) != LIBDEFLATE_SUCCESS ||
        usedIn != zsize || madeOut != rawSize)
        return QImage();

    uchar *const pixels = image.bits();
    const size_t perLine = size_t(image.bytesPerLine());
    std::vector<uchar> zeros; // the row above the first, for the filters that read it
    const auto firstAbove = [&]() -> const uchar * {
        zeros.assign(n, 0);
        return zeros.data();
    };
#if defined(__SSE2__)
    if (bpp == 4) {
        const SwapRow swap = swapRow();
        for (int y = 0; y < header.height; ++y) {
            const uchar *in = raw + stride * size_t(y);
            uchar *out = pixels + perLine * size_t(y);
            const uchar *up = y > 0 ? out - perLine : nullptr;
            switch (in[0]) {
            case 0:
                swap(in + 1, out, nullptr, n);
                break;
            case 2:
                swap(in + 1, out, up, n);
                break;
            case 1:
            case 3:
            case 4:
                swap(in + 1, out, nullptr, n);
                unfilter(in[0], out, up ? up : firstAbove(), n, bpp);
                break;
            default:
                return QImage();
            }
        }
    } else
#endif
    {
        for (int y = 0; y < header.height; ++y) {
            uchar *row = raw + stride * size_t(y);
            if (!unfilter(row[0], row + 1, y > 0 ? row - stride + 1 : firstAbove(), n, bpp))
                return QImage();
            QRgb *out = reinterpret_cast<QRgb *>(pixels + perLine * size_t(y));
            const uchar *p = row + 1;
            if (bpp == 4) {
                for (int x = 0; x < header.width; ++x, p += 4)
                    out[x] = qRgba(p[0], p[1], p[2], p[3]);
            } else {
                for (int x = 0; x < header.width; ++x, p += 3)
                    out[x] = qRgb(p[0], p[1], p[2]);
            }
        }
    }
    if (dotsPerMeterX > 0)
        image.setDotsPerMeterX(dotsPerMeterX);
    if (dotsPerMeterY > 0)
        image.setDotsPerMeterY(dotsPerMeterY);
    return image;
}
