#include "pngfilter.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "pngsimd.h"

// Where the compiler can target AVX2 for single functions, the filter costs
// also come in a version taking 32 bytes at a time, used when the processor
// has it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PNGFILTER_AVX2 1
#include <immintrin.h>
#define AVX2_FUNCTION __attribute__((target("avx2")))
// Inlined into the AVX2 version too, where a call would run SSE code
// between AVX code, which some processors make slow.
#define INLINE_EVERYWHERE inline __attribute__((always_inline))
#else
#define INLINE_EVERYWHERE inline
#endif

namespace {

// 0xAARRGGBB words to R, G, B, A bytes.
void argbToRgba(const QRgb *in, uchar *out, int count)
{
    int x = 0;
#if defined(__SSE2__)
    for (; x + 4 <= count; x += 4) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * x), PngSimd::swapRedBlue(w));
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

#if defined(__SSE2__)
using PngSimd::paeth8;

// libpng's cost of sixteen filtered bytes, added to two 64-bit sums.
inline __m128i addCost(__m128i sums, __m128i v)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = _mm_min_epu8(v, _mm_sub_epi8(zero, v)); // v < 128 ? v : 256 - v
    return _mm_add_epi64(sums, _mm_sad_epu8(a, zero));
}

inline quint64 total(__m128i sums)
{
    alignas(16) quint64 lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), sums);
    return lanes[0] + lanes[1];
}
#endif

// The four filters on one byte, from the bytes to its left (a), above (b)
// and above left (c); on the first pixel a and c are 0.
struct Sub
{
    static uchar at(int x, int a, int, int) { return uchar(x - a); }
#if defined(__SSE2__)
    static __m128i at(__m128i x, __m128i a, __m128i, __m128i)
    {
        return _mm_sub_epi8(x, a);
    }
#endif
};

struct Up
{
    static uchar at(int x, int, int b, int) { return uchar(x - b); }
#if defined(__SSE2__)
    static __m128i at(__m128i x, __m128i, __m128i b, __m128i)
    {
        return _mm_sub_epi8(x, b);
    }
#endif
};

struct Average
{
    static uchar at(int x, int a, int b, int) { return uchar(x - ((a + b) >> 1)); }
#if defined(__SSE2__)
    static __m128i at(__m128i x, __m128i a, __m128i b, __m128i)
    {
        return _mm_sub_epi8(x, PngSimd::floorMean(a, b));
    }
#endif
};

struct Paeth
{
    static uchar at(int x, int a, int b, int c)
    {
        return uchar(x - PngFilter::paethPredictor(a, b, c));
    }
#if defined(__SSE2__)
    static __m128i at(__m128i x, __m128i a, __m128i b, __m128i c)
    {
        return _mm_sub_epi8(x, paeth8(a, b, c));
    }
#endif
};

inline int byteCost(uchar v)
{
    return v < 128 ? v : 256 - v;
}

// The row through one filter.
template <typename Filter>
void filterRow(const uchar *row, const uchar *prev, size_t n, size_t bpp, uchar *out)
{
    size_t i = 0;
    for (; i < bpp && i < n; ++i)
        out[i] = Filter::at(row[i], 0, prev[i], 0);
#if defined(__SSE2__)
    const auto chunk = [&](size_t at) {
        const __m128i v =
            Filter::at(_mm_loadu_si128(reinterpret_cast<const __m128i *>(row + at)),
                       _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + at - bpp)),
                       _mm_loadu_si128(reinterpret_cast<const __m128i *>(prev + at)),
                       _mm_loadu_si128(reinterpret_cast<const __m128i *>(prev + at - bpp)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + at), v);
    };
    for (; i + 16 <= n; i += 16)
        chunk(i);
    // The rest as the row's last sixteen bytes, some of them written again.
    if (i < n && n >= bpp + 16) {
        chunk(n - 16);
        i = n;
    }
#endif
    for (; i < n; ++i)
        out[i] = Filter::at(row[i], row[i - bpp], prev[i], prev[i - bpp]);
}

// libpng's costs of the bytes from..to-1 through none, sub, up, average and
// Paeth, where there are too few for a vector.
INLINE_EVERYWHERE void addCosts(const uchar *row, const uchar *prev, size_t from, size_t to,
                                size_t bpp, quint64 costs[5])
{
    for (size_t i = from; i < to; ++i) {
        const int x = row[i], a = row[i - bpp], b = prev[i], c = prev[i - bpp];
        costs[0] += byteCost(uchar(x));
        costs[1] += byteCost(Sub::at(x, a, b, c));
        costs[2] += byteCost(Up::at(x, a, b, c));
        costs[3] += byteCost(Average::at(x, a, b, c));
        costs[4] += byteCost(Paeth::at(x, a, b, c));
    }
}

// The same for the first pixel, with nothing on its left: sub is none
// there, and Paeth predicts the byte above as up does.
INLINE_EVERYWHERE void addFirstCosts(const uchar *row, const uchar *prev, size_t bpp,
                                     quint64 costs[5])
{
    for (size_t i = 0; i < bpp; ++i) {
        const int x = row[i], b = prev[i];
        const int plain = byteCost(uchar(x)), up = byteCost(uchar(x - b));
        costs[0] += plain;
        costs[1] += plain;
        costs[2] += up;
        costs[3] += byteCost(uchar(x - (b >> 1)));
        costs[4] += up;
    }
}

// The costs of the whole row through each filter, in one pass that writes
// nothing.
void filterCosts(const uchar *row, const uchar *prev, size_t n, size_t bpp, quint64 costs[5])
{
    std::fill(costs, costs + 5, quint64(0));
    size_t i = qMin(bpp, n);
    addFirstCosts(row, prev, i, costs);
#if defined(__SSE2__)
    if (n < bpp + 16) {
        addCosts(row, prev, i, n, bpp, costs);
        return;
    }
    __m128i sums[5];
    for (__m128i &sum : sums)
        sum = _mm_setzero_si128();
    // keep: the bytes of the vector not yet counted.
    const auto chunk = [&](size_t at, __m128i keep) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + at));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + at - bpp));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(prev + at));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(prev + at - bpp));
        sums[0] = addCost(sums[0], _mm_and_si128(keep, x));
        sums[1] = addCost(sums[1], _mm_and_si128(keep, Sub::at(x, a, b, c)));
        sums[2] = addCost(sums[2], _mm_and_si128(keep, Up::at(x, a, b, c)));
        sums[3] = addCost(sums[3], _mm_and_si128(keep, Average::at(x, a, b, c)));
        sums[4] = addCost(sums[4], _mm_and_si128(keep, Paeth::at(x, a, b, c)));
    };
    const __m128i all = _mm_set1_epi8(-1);
    for (; i + 16 <= n; i += 16)
        chunk(i, all);
    if (i < n) {
        // The row's last sixteen bytes, those counted already masked out.
        const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        chunk(n - 16, _mm_cmpgt_epi8(index, _mm_set1_epi8(char(i - (n - 16) - 1))));
    }
    for (int f = 0; f < 5; ++f)
        costs[f] += total(sums[f]);
#else
    addCosts(row, prev, i, n, bpp, costs);
#endif
}

#if defined(PNGFILTER_AVX2)
AVX2_FUNCTION inline __m256i lessOrEqual(__m256i x, __m256i y)
{
    return _mm256_cmpeq_epi8(_mm256_min_epu8(x, y), x);
}

AVX2_FUNCTION inline __m256i select8(__m256i mask, __m256i yes, __m256i no)
{
    return _mm256_blendv_epi8(no, yes, mask);
}

AVX2_FUNCTION inline __m256i absDifference(__m256i x, __m256i y)
{
    return _mm256_or_si256(_mm256_subs_epu8(x, y), _mm256_subs_epu8(y, x));
}

AVX2_FUNCTION inline __m256i addCost(__m256i sums, __m256i v)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i a = _mm256_min_epu8(v, _mm256_sub_epi8(zero, v));
    return _mm256_add_epi64(sums, _mm256_sad_epu8(a, zero));
}

// The costs of 32 bytes through each filter (where keep is set), added.
AVX2_FUNCTION inline __attribute__((always_inline)) void
addChunkCosts(const uchar *row, const uchar *prev, size_t bpp, __m256i keep, __m256i sums[5])
{
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row));
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row - bpp));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(prev));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(prev - bpp));
    sums[0] = addCost(sums[0], _mm256_and_si256(keep, x));
    sums[1] = addCost(sums[1], _mm256_and_si256(keep, _mm256_sub_epi8(x, a)));
    sums[2] = addCost(sums[2], _mm256_and_si256(keep, _mm256_sub_epi8(x, b)));
    const __m256i mean = _mm256_sub_epi8(
        _mm256_avg_epu8(a, b), _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
    sums[3] = addCost(sums[3], _mm256_and_si256(keep, _mm256_sub_epi8(x, mean)));
    const __m256i pa = absDifference(b, c);
    const __m256i pb = absDifference(a, c);
    const __m256i sameSign = _mm256_cmpeq_epi8(lessOrEqual(c, b), lessOrEqual(c, a));
    const __m256i pc = select8(sameSign, _mm256_adds_epu8(pa, pb), absDifference(pa, pb));
    const __m256i takeA = _mm256_and_si256(lessOrEqual(pa, pb), lessOrEqual(pa, pc));
    const __m256i predicted = select8(takeA, a, select8(lessOrEqual(pb, pc), b, c));
    sums[4] = addCost(sums[4], _mm256_and_si256(keep, _mm256_sub_epi8(x, predicted)));
}

// filterCosts(), the same arithmetic on 32 bytes at a time.
AVX2_FUNCTION void filterCostsAvx2(const uchar *row, const uchar *prev, size_t n, size_t bpp,
                                   quint64 costs[5])
{
    if (n < bpp + 32) {
        filterCosts(row, prev, n, bpp, costs);
        return;
    }
    std::fill(costs, costs + 5, quint64(0));
    size_t i = bpp;
    addFirstCosts(row, prev, bpp, costs);
    __m256i sums[5];
    for (__m256i &sum : sums)
        sum = _mm256_setzero_si256();
    const __m256i all = _mm256_set1_epi8(-1);
    for (; i + 32 <= n; i += 32)
        addChunkCosts(row + i, prev + i, bpp, all, sums);
    if (i < n) {
        const __m256i index =
            _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                             20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
        addChunkCosts(row + n - 32, prev + n - 32, bpp,
                      _mm256_cmpgt_epi8(index, _mm256_set1_epi8(char(i - (n - 32) - 1))), sums);
    }
    for (int f = 0; f < 5; ++f) {
        alignas(32) quint64 lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), sums[f]);
        costs[f] += lanes[0] + lanes[1] + lanes[2] + lanes[3];
    }
}

bool hasAvx2()
{
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    return has;
}
#endif

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
    const uchar *bits = source->constBits();
    const size_t bytesPerLine = size_t(source->bytesPerLine());

    for (int y = 0; y < height; ++y) {
        uchar *o = out.data() + stride * y;
        *o++ = 0;
        const uchar *line = bits + bytesPerLine * size_t(y);
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
    scratch.assign(n, 0); // the row above the first
    const uchar *zeroRow = scratch.data();

    bool zeros = true; // the row above is all zeros
    for (int y = 0; y < height; ++y) {
        const uchar *row = unfiltered.data() + stride * y + 1;
        const uchar *prev = y > 0 ? row - stride : zeroRow;
        uchar *o = out.data() + stride * y;
        // A row of zeros costs nothing unfiltered, and a row like the one
        // above nothing through up, while sub and none cost something unless
        // the row is all zeros: the choice is known without trying the
        // filters. Tiles are mostly such rows.
        if (std::memcmp(row, prev, n) == 0) {
            o[0] = zeros ? 0 : 2;
            std::memset(o + 1, 0, n);
            continue;
        }
        // The costs first, in one pass; only the choice is written.
        quint64 costs[5];
#if defined(PNGFILTER_AVX2)
        if (hasAvx2())
            filterCostsAvx2(row, prev, n, size_t(bpp), costs);
        else
#endif
            filterCosts(row, prev, n, size_t(bpp), costs);
        zeros = costs[0] == 0; // none costs something for any byte but 0
        int best = 0;
        for (int f = 1; f < 5; ++f) {
            if (costs[f] < costs[best])
                best = f;
        }
        const size_t first = size_t(bpp);
        o[0] = uchar(best);
        switch (best) {
        case 0:
            std::memcpy(o + 1, row, n);
            break;
        case 1:
            filterRow<Sub>(row, prev, n, first, o + 1);
            break;
        case 2:
            filterRow<Up>(row, prev, n, first, o + 1);
            break;
        case 3:
            filterRow<Average>(row, prev, n, first, o + 1);
            break;
        default:
            filterRow<Paeth>(row, prev, n, first, o + 1);
        }
    }
}

double PngFilter::repeatShare(const std::vector<uchar> &unfiltered, int width, int height, int bpp)
{
    if (width <= 0 || height <= 0)
        return 0;
    const size_t n = size_t(width) * bpp;
    const size_t stride = n + 1;
    const auto same = [bpp](const uchar *p, const uchar *q) {
        return p[0] == q[0] && p[1] == q[1] && p[2] == q[2] && (bpp == 3 || p[3] == q[3]);
    };
    size_t repeats = 0;
    for (int y = 0; y < height; ++y) {
        const uchar *row = unfiltered.data() + stride * y + 1;
        const uchar *above = y > 0 ? row - stride : nullptr;
        // Tiles are mostly rows like the one above: every pixel repeats.
        if (above && std::memcmp(row, above, n) == 0) {
            repeats += size_t(width);
            continue;
        }
        repeats += above && same(row, above); // the first pixel has none on its left
        int x = 1;
#if defined(__SSE2__)
        if (bpp == 4) {
            // The first row has no pixels above: compare with the row itself
            // shifted, which the left pixel already counts.
            const uchar *up = above ? above : row - 4;
            __m128i count = _mm_setzero_si128(); // less one per repeat, per lane
            for (; x + 4 <= width; x += 4) {
                const uchar *p = row + 4 * x;
                const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
                const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p - 4));
                const __m128i over = _mm_loadu_si128(reinterpret_cast<const __m128i *>(up + 4 * x));
                count = _mm_sub_epi32(
                    count, _mm_or_si128(_mm_cmpeq_epi32(here, left), _mm_cmpeq_epi32(here, over)));
            }
            alignas(16) quint32 lanes[4];
            _mm_store_si128(reinterpret_cast<__m128i *>(lanes), count);
            repeats += size_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
        }
#endif
        for (; x < width; ++x) {
            const uchar *p = row + size_t(x) * bpp;
            repeats += same(p, p - bpp) || (above && same(p, above + size_t(x) * bpp));
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
