#include "pngdecoder.h"

#include "pngfilter.h"

#include <QtEndian>

#include <libdeflate.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
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

// Undoes one row's filter in place; prev is the row above (zeros for the
// first). False for an unknown filter type.
bool unfilter(uchar type, uchar *row, const uchar *prev, size_t n, size_t bpp)
{
    switch (type) {
    case 0:
        return true;
    case 1: {
        size_t i = bpp;
#if defined(__SSE2__)
        if (bpp == 4) { // a pixel at a time
            __m128i left = _mm_cvtsi32_si128(0);
            for (i = 0; i + 4 <= n; i += 4) {
                int word;
                std::memcpy(&word, row + i, 4);
                left = _mm_add_epi8(left, _mm_cvtsi32_si128(word));
                word = _mm_cvtsi128_si32(left);
                std::memcpy(row + i, &word, 4);
            }
        }
#endif
        for (; i < n; ++i)
            row[i] = uchar(row[i] + row[i - bpp]);
        return true;
    }
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
    std::vector<uchar> raw(rawSize);
    size_t usedIn = 0, madeOut = 0;
    if (libdeflate_zlib_decompress_ex(inflater.get(), zdata, zsize, raw.data(), rawSize, &usedIn,
                                      &madeOut) != LIBDEFLATE_SUCCESS ||
        usedIn != zsize || madeOut != rawSize)
        return QImage();

    std::vector<uchar> zeros(n, 0);
    for (int y = 0; y < header.height; ++y) {
        uchar *row = raw.data() + stride * size_t(y);
        const uchar *prev = y > 0 ? row - stride + 1 : zeros.data();
        if (!unfilter(row[0], row + 1, prev, n, bpp))
            return QImage();
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        const uchar *p = row + 1;
        if (bpp == 4) {
            int x = 0;
#if defined(__SSE2__)
            // R, G, B, A bytes to 0xAARRGGBB words: on little-endian x86, swap
            // R and B.
            const __m128i keep = _mm_set1_epi32(int(0xff00ff00));
            const __m128i low = _mm_set1_epi32(0xff);
            for (; x + 4 <= header.width; x += 4, p += 16) {
                const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
                const __m128i red = _mm_slli_epi32(_mm_and_si128(w, low), 16);
                const __m128i blue = _mm_and_si128(_mm_srli_epi32(w, 16), low);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
                                 _mm_or_si128(_mm_and_si128(w, keep), _mm_or_si128(red, blue)));
            }
#endif
            for (; x < header.width; ++x, p += 4)
                out[x] = qRgba(p[0], p[1], p[2], p[3]);
        } else {
            for (int x = 0; x < header.width; ++x, p += 3)
                out[x] = qRgb(p[0], p[1], p[2]);
        }
    }
    if (dotsPerMeterX > 0)
        image.setDotsPerMeterX(dotsPerMeterX);
    if (dotsPerMeterY > 0)
        image.setDotsPerMeterY(dotsPerMeterY);
    return image;
}
