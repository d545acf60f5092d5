#include "pngfilter.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

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
        paeth[i] = uchar(row[i] - PngFilter::paethPredictor(a, b, c));
    }
}

} // namespace

bool PngFilter::unfilteredRows(const QImage &image, int channels, std::vector<uchar> &out)
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

void PngFilter::adaptiveRows(const std::vector<uchar> &unfiltered, int width, int height, int bpp,
                             std::vector<uchar> &out, std::vector<uchar> &scratch)
{
    const size_t n = size_t(width) * bpp;
    const size_t stride = n + 1;
    out.resize(unfiltered.size());
    scratch.resize(5 * n);
    uchar *cand[5] = {nullptr, scratch.data(), scratch.data() + n, scratch.data() + 2 * n,
                      scratch.data() + 3 * n};
    uchar *zeroRow = scratch.data() + 4 * n;
    std::memset(zeroRow, 0, n);

    for (int y = 0; y < height; ++y) {
        const uchar *row = unfiltered.data() + stride * y + 1;
        const uchar *prev = y > 0 ? row - stride : zeroRow;
        uchar *o = out.data() + stride * y;
        // A row of zeros costs nothing unfiltered, and a row like the one
        // above nothing through up, while sub and none cost something unless
        // the row is all zeros: the choice is known without trying the
        // filters. Tiles are mostly such rows.
        if (std::memcmp(row, prev, n) == 0) {
            const bool zeros = std::memcmp(row, zeroRow, n) == 0;
            o[0] = zeros ? 0 : 2;
            std::memset(o + 1, 0, n);
            continue;
        }
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
        o[0] = uchar(best);
        std::memcpy(o + 1, cand[best], n);
    }
}

double PngFilter::repeatShare(const std::vector<uchar> &unfiltered, int width, int height, int bpp)
{
    if (width <= 0 || height <= 0)
        return 0;
    const size_t stride = size_t(width) * bpp + 1;
    size_t repeats = 0;
    for (int y = 0; y < height; ++y) {
        const uchar *row = unfiltered.data() + stride * y + 1;
        const uchar *above = y > 0 ? row - stride : nullptr;
        int x = 0;
#if defined(__SSE2__)
        if (bpp == 4 && above && width > 4) {
            repeats += std::memcmp(row, above, 4) == 0; // the first pixel has none on its left
            for (x = 1; x + 4 <= width; x += 4) {
                const uchar *p = row + 4 * x;
                const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
                const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p - 4));
                const __m128i up =
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(above + 4 * x));
                const __m128i same =
                    _mm_or_si128(_mm_cmpeq_epi32(here, left), _mm_cmpeq_epi32(here, up));
                // Bits set in a 4-bit mask, without asking for the popcnt instruction.
                static constexpr uchar Bits[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
                repeats += Bits[_mm_movemask_ps(_mm_castsi128_ps(same))];
            }
        }
#endif
        for (; x < width; ++x) {
            const uchar *p = row + size_t(x) * bpp;
            const bool left = x > 0 && std::memcmp(p, p - bpp, size_t(bpp)) == 0;
            repeats += left || (above && std::memcmp(p, above + size_t(x) * bpp, size_t(bpp)) == 0);
        }
    }
    return double(repeats) / (double(width) * height);
}

double PngFilter::sampledEntropy(const std::vector<uchar> &unfiltered, int width, int height,
                                 int bpp, int step, bool up)
{
    const size_t n = size_t(width) * bpp;
    const size_t stride = n + 1;
    // Four tables, so runs of equal bytes do not wait on one counter.
    quint32 counts[4][256] = {};
    size_t total = 0;
    for (int y = 1; y < height; y += step) {
        const uchar *row = unfiltered.data() + stride * y + 1;
        const uchar *above = row - stride;
        size_t i = 0;
        if (up) {
            for (; i + 4 <= n; i += 4) {
                ++counts[0][uchar(row[i] - above[i])];
                ++counts[1][uchar(row[i + 1] - above[i + 1])];
                ++counts[2][uchar(row[i + 2] - above[i + 2])];
                ++counts[3][uchar(row[i + 3] - above[i + 3])];
            }
            for (; i < n; ++i)
                ++counts[0][uchar(row[i] - above[i])];
        } else {
            for (; i + 4 <= n; i += 4) {
                ++counts[0][row[i]];
                ++counts[1][row[i + 1]];
                ++counts[2][row[i + 2]];
                ++counts[3][row[i + 3]];
            }
            for (; i < n; ++i)
                ++counts[0][row[i]];
        }
        total += n;
    }
    double bits = 0;
    for (int v = 0; v < 256; ++v) {
        const quint32 c = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
        if (c)
            bits -= c * std::log2(c / double(total));
    }
    return bits / 8;
}
