#include "tilepipeline.h"

#include "imageoperations.h"
#include "safeimagereader.h"

#include <QPainter>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Why makeTile() can skip most of the painting and still match the painter
// pixel for pixel:
//
// Every painter step here treats each pixel on its own, so its result is a
// function of the pixel values involved, not of where they are.
//
// The shadow is the top's visible pixels recoloured to the bottom colour and
// darkened, so wherever it is visible it is one opaque colour. The bottom
// under a tile is the same for every tile. Blending a zero pixel, or that
// one shadow colour, onto a bottom pixel gives a result that depends on the
// bottom pixel alone (but not always the pixel itself: the tile is stored
// unpremultiplied, and the painter's round trip through premultiplied can
// move a translucent colour). So the four possible outcomes for pixels the
// top does not cover (shadow or not, before or after the top draw) are
// painted once per run on whole images, and a tile copies from them. On a
// bottom of one colour there are only three colours under the top, and the
// top drawn over each is prepared once as well; an opaque top pixel drawn
// at full opacity hides what lies under it, so on any bottom it is prepared
// once. Only the rest (a translucent top over a textured bottom) goes
// through QPainter for each tile, packed into a small image.
//
// The mask's flatten-on-white, invert and grey steps depend on the mask
// pixel's value alone, so each distinct value goes through them once (per
// thread). Cutting by a grey of 255 keeps the pixel and by 0 clears it; the
// pixels the mask keeps in part take the premultiplied conversion, the
// painter's DestinationIn and the conversion back one channel at a time,
// through tables of what Qt itself gives for every value.
//
// The tile's last step, Qt's nearest-neighbour scaling, only picks pixels:
// which ones is learnt once per size from an image of coordinates, and only
// those pixels are composed.

namespace {

namespace G = ImageOperations;

constexpr int Size = TilePipeline::WorkingSize;

// ImageOperations::loadImage with the reason for a failure.
QImage readAsset(const QString &path, QString *errorString)
{
    QString reason;
    QImage image = G::loadImage(path, &reason);
    if (image.isNull() && errorString)
        *errorString = reason.isEmpty() ? QStringLiteral("not a readable image") : reason;
    return image;
}

inline quint32 wordAt(const QImage &image, int x, int y)
{
    quint32 word;
    std::memcpy(&word, image.constScanLine(y) + 4 * x, 4);
    return word;
}

inline const quint32 *words(const QImage &image)
{
    return reinterpret_cast<const quint32 *>(image.constBits());
}

// The one colour of every visible shadow pixel: the bottom colour with its
// lightness lowered by the shade's alpha, opaque, as a premultiplied word.
quint32 shadowWord(const QColor &bottomColor, float shade)
{
    QImage shadow(1, 1, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(0xff000000u);
    G::paintPixels(shadow, bottomColor.rgb(), false);
    G::shiftLightness(shadow, -G::opacityToAlpha(shade), 0, 1, 0, 1);
    return reinterpret_cast<const quint32 *>(shadow.constScanLine(0))[0];
}

// A straight RGBA8888 image as the file stores it once the tile has been
// premultiplied: the trip there and back can move translucent colours.
QImage stored(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied)
        .convertToFormat(QImage::Format_RGBA8888);
}

// Each step a cut pixel takes changes a channel by that channel and one
// other byte alone, so every step is a 256 x 256 table of Qt's own results,
// made once from images holding every pair. Qt picks SIMD code by the
// processor, and its conversion to straight colour rounds in floating point
// there, so nothing here restates its arithmetic.
struct ChannelSteps
{
    uchar premultiply[256][256];   // [alpha][straight channel]
    uchar unpremultiply[256][256]; // [alpha][premultiplied channel], channel <= alpha
    uchar keep[256][256];          // [grey][premultiplied channel]: DestinationIn
};

const ChannelSteps &channelSteps()
{
    static const std::unique_ptr<const ChannelSteps> steps([] {
        auto *t = new ChannelSteps;
        QImage straight(256, 256, QImage::Format_RGBA8888);
        QImage premultiplied(256, 256, QImage::Format_RGBA8888_Premultiplied);
        QImage opaque(256, 256, QImage::Format_RGBA8888_Premultiplied);
        QImage greys(256, 256, QImage::Format_Grayscale8);
        for (int a = 0; a < 256; ++a) {
            uchar *s = straight.scanLine(a);
            uchar *p = premultiplied.scanLine(a);
            uchar *o = opaque.scanLine(a);
            std::memset(greys.scanLine(a), a, 256);
            for (int c = 0; c < 256; ++c) {
                const uchar s4[4] = {uchar(c), uchar(c), uchar(c), uchar(a)};
                const uchar p4[4] = {uchar(qMin(c, a)), uchar(qMin(c, a)), uchar(qMin(c, a)),
                                     uchar(a)};
                const uchar o4[4] = {uchar(c), uchar(c), uchar(c), 255};
                std::memcpy(s + 4 * c, s4, 4);
                std::memcpy(p + 4 * c, p4, 4);
                std::memcpy(o + 4 * c, o4, 4);
            }
        }
        const QImage toPremultiplied =
            straight.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        const QImage toStraight = premultiplied.convertToFormat(QImage::Format_RGBA8888);
        opaque.setAlphaChannel(greys); // row g: every channel value kept by grey g
        for (int a = 0; a < 256; ++a) {
            for (int c = 0; c < 256; ++c) {
                t->premultiply[a][c] = toPremultiplied.constScanLine(a)[4 * c];
                t->unpremultiply[a][c] = toStraight.constScanLine(a)[4 * c];
                t->keep[a][c] = opaque.constScanLine(a)[4 * c];
            }
        }
        return t;
    }());
    return *steps;
}

inline void cutThrough(const ChannelSteps &t, const uchar *in, int grey, uchar *out)
{
    const int alpha = in[3];
    if (alpha == 255 && grey == 255) { // an opaque pixel kept whole: most of them
        std::memcpy(out, in, 4);
        return;
    }
    const uchar *premultiply = t.premultiply[alpha];
    const uchar *keep = t.keep[grey];
    const int kept = keep[alpha];
    const uchar *unpremultiply = t.unpremultiply[kept];
    out[0] = unpremultiply[keep[premultiply[in[0]]]];
    out[1] = unpremultiply[keep[premultiply[in[1]]]];
    out[2] = unpremultiply[keep[premultiply[in[2]]]];
    out[3] = uchar(kept);
}

// Runs of pixels cut by one grey follow each other, mostly of one colour;
// and a grey met again and again (a mask of one grey level) cuts opaque
// pixels through one table of its own.
class Cutter
{
public:
    Cutter() : m_steps(channelSteps()) {}

    quint32 operator()(quint32 word, int grey)
    {
        if (word != m_word || grey != m_grey) {
            m_word = word;
            m_grey = grey;
            m_cut = cut(word, grey);
        }
        return m_cut;
    }

private:
    static constexpr int Streak = 16;

    // A pixel's bytes (R, G, B, A in memory) as the word holds them.
    static int byteOf(quint32 word, int i)
    {
        return Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? (word >> (8 * i)) & 0xff
                                               : (word >> (24 - 8 * i)) & 0xff;
    }

    static quint32 wordOf(int r, int g, int b, int a)
    {
        return Q_BYTE_ORDER == Q_LITTLE_ENDIAN
                   ? quint32(r) | quint32(g) << 8 | quint32(b) << 16 | quint32(a) << 24
                   : quint32(r) << 24 | quint32(g) << 16 | quint32(b) << 8 | quint32(a);
    }

    quint32 cut(quint32 word, int grey)
    {
        const int alpha = byteOf(word, 3);
        if (alpha == 255 && opaqueTable(grey))
            return wordOf(m_opaque[byteOf(word, 0)], m_opaque[byteOf(word, 1)],
                          m_opaque[byteOf(word, 2)], m_opaqueAlpha);
        const uchar in[4] = {uchar(byteOf(word, 0)), uchar(byteOf(word, 1)), uchar(byteOf(word, 2)),
                             uchar(alpha)};
        uchar out[4];
        cutThrough(m_steps, in, grey, out);
        return wordOf(out[0], out[1], out[2], out[3]);
    }

    // Whether m_opaque holds grey's table, made once the grey has come
    // Streak times in a row.
    bool opaqueTable(int grey)
    {
        if (grey == m_opaqueGrey)
            return true;
        if (grey != m_streakGrey) {
            m_streakGrey = grey;
            m_streak = 0;
        }
        if (++m_streak < Streak)
            return false;
        const uchar *keep = m_steps.keep[grey];
        m_opaqueAlpha = keep[255];
        const uchar *unpremultiply = m_steps.unpremultiply[m_opaqueAlpha];
        for (int c = 0; c < 256; ++c)
            m_opaque[c] = unpremultiply[keep[m_steps.premultiply[255][c]]];
        m_opaqueGrey = grey;
        return true;
    }

    const ChannelSteps &m_steps;
    quint32 m_word = 0;
    int m_grey = 0; // a grey of 0 cuts everything to 0
    quint32 m_cut = 0;
    int m_streakGrey = -1;
    int m_streak = 0;
    int m_opaqueGrey = -1;
    uchar m_opaqueAlpha = 0;
    uchar m_opaque[256];
};

} // namespace

// Which source pixel each pixel of Qt's nearest-neighbour scaling takes: a
// column per output column and a row per output row, both never going back.
struct TilePipeline::Grid
{
    QImage::Format format = QImage::Format_Invalid;
    QSize from, to;
    // False when Qt's result is not such a grid; it then scales itself.
    bool exact = false;
    bool identity = false;
    bool widens = false; // some source column gives more than one
    int columnStep = 0;  // the step between source columns, if always the same
    std::vector<int> columns, rows;
    // Per source column (row), and one past the last, the first output
    // column (row) taken from it.
    std::vector<int> firstColumn, firstRow;
};

namespace {
constexpr int MaxGridSide = 4094; // coordinates + 1 fit 12 bits
} // namespace

// The grid of scaling an image of this format and size to `to`, found by
// scaling an image whose pixels hold their own coordinates (plus one, so an
// untouched pixel reads as none).
void TilePipeline::findGrid(Grid &grid)
{
    const int width = grid.from.width(), height = grid.from.height();
    const int outWidth = grid.to.width(), outHeight = grid.to.height();
    grid.exact = false;
    grid.identity = grid.from == grid.to;
    grid.columns.resize(size_t(outWidth));
    grid.rows.resize(size_t(outHeight));
    if (grid.identity) {
        for (int i = 0; i < outWidth; ++i)
            grid.columns[size_t(i)] = i;
        for (int i = 0; i < outHeight; ++i)
            grid.rows[size_t(i)] = i;
    } else {
        if (width > MaxGridSide || height > MaxGridSide)
            return;
        QImage coordinates(width, height, QImage::Format_ARGB32);
        for (int y = 0; y < height; ++y) {
            quint32 *p = reinterpret_cast<quint32 *>(coordinates.scanLine(y));
            for (int x = 0; x < width; ++x)
                p[x] = 0xff000000u | quint32(y + 1) << 12 | quint32(x + 1);
        }
        const QImage scaled =
            coordinates.convertToFormat(grid.format)
                .scaled(outWidth, outHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                .convertToFormat(QImage::Format_ARGB32);
        if (scaled.size() != grid.to)
            return;
        const auto column = [](quint32 word) { return int(word & 0xfff) - 1; };
        const auto row = [](quint32 word) { return int(word >> 12 & 0xfff) - 1; };
        for (int x = 0; x < outWidth; ++x)
            grid.columns[size_t(x)] = column(wordAt(scaled, x, 0));
        for (int y = 0; y < outHeight; ++y)
            grid.rows[size_t(y)] = row(wordAt(scaled, 0, y));
        for (int y = 0; y < outHeight; ++y) {
            const quint32 *p = reinterpret_cast<const quint32 *>(scaled.constScanLine(y));
            for (int x = 0; x < outWidth; ++x) {
                if ((p[x] >> 24) != 0xff || column(p[x]) != grid.columns[size_t(x)] ||
                    row(p[x]) != grid.rows[size_t(y)])
                    return;
            }
        }
    }
    // Each source column's output columns, as a range.
    const auto firsts = [](const std::vector<int> &from, int sourceLength,
                           std::vector<int> &first) {
        if (from.empty() || !std::is_sorted(from.begin(), from.end()) || from.front() < 0 ||
            from.back() >= sourceLength)
            return false;
        first.resize(size_t(sourceLength) + 1);
        for (int s = 0; s <= sourceLength; ++s)
            first[size_t(s)] = int(std::lower_bound(from.begin(), from.end(), s) - from.begin());
        return true;
    };
    grid.exact =
        firsts(grid.columns, width, grid.firstColumn) && firsts(grid.rows, height, grid.firstRow);
    for (int x = 0; grid.exact && x < width; ++x)
        grid.widens |= grid.firstColumn[size_t(x) + 1] - grid.firstColumn[size_t(x)] > 1;
    grid.columnStep = outWidth > 1 ? grid.columns[1] - grid.columns[0] : 0;
    for (int x = 1; x < outWidth; ++x) {
        if (grid.columns[size_t(x)] - grid.columns[size_t(x) - 1] != grid.columnStep)
            grid.columnStep = 0;
    }
}

// The grids a thread has needed lately: a run has one mask size and one
// tile size, mostly.
const TilePipeline::Grid &TilePipeline::gridFor(QImage::Format format, QSize from, QSize to)
{
    thread_local std::vector<std::unique_ptr<Grid>> grids;
    for (const auto &grid : grids) {
        if (grid->format == format && grid->from == from && grid->to == to)
            return *grid;
    }
    if (grids.size() >= 4)
        grids.erase(grids.begin());
    grids.push_back(std::make_unique<Grid>());
    Grid &grid = *grids.back();
    grid.format = format;
    grid.from = from;
    grid.to = to;
    findGrid(grid);
    return grid;
}

TilePipeline::TilePipeline(const TileStyle &style) : m_style(style)
{
    prepareBase();
    prepareTop();
    prepareDrape(prepareBlends());
}

bool TilePipeline::wantsTop(const QString &maskFileName)
{
    return !maskFileName.contains(QLatin1String("_notop"));
}

QImage TilePipeline::readMask(const QString &path, QString *errorString)
{
    return normaliseMask(readAsset(path, errorString));
}

QImage TilePipeline::normaliseMask(const QImage &mask)
{
    if (mask.isNull())
        return mask;
    QImage result = mask;
    switch (result.format()) {
    case QImage::Format_ARGB32:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        result = result.convertToFormat(result.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                 : QImage::Format_RGB32);
    }
    if (result.width() == Size && result.height() == Size)
        return result;
    const Grid &grid = gridFor(result.format(), result.size(), QSize(Size, Size));
    if (!grid.exact)
        return result.scaled(Size, Size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QImage scaled(Size, Size, result.format());
    for (int y = 0; y < Size; ++y) {
        const quint32 *in =
            reinterpret_cast<const quint32 *>(result.constScanLine(grid.rows[size_t(y)]));
        quint32 *out = reinterpret_cast<quint32 *>(scaled.scanLine(y));
        for (int x = 0; x < Size; ++x)
            out[x] = in[grid.columns[size_t(x)]];
    }
    return scaled;
}

void TilePipeline::cutPixel(const uchar *rgba, int grey, uchar *out)
{
    cutThrough(channelSteps(), rgba, qBound(0, grey, 255), out);
}

void TilePipeline::prepareBase()
{
    QImage base(Size, Size, QImage::Format_RGBA8888_Premultiplied);
    G::paintPixels(base, m_style.bottomColor.rgb(), true);
    G::setVisibleAlpha(base, G::opacityToAlpha(m_style.bottomOpacity));

    const QString patternPath = TileStyle::patternPath(m_style.bottomPattern);
    if (!patternPath.isEmpty()) {
        QString reason;
        QImage pattern = readAsset(patternPath, &reason);
        if (pattern.isNull()) {
            m_warnings.append(
                QStringLiteral("Bottom pattern %1 left out: %2").arg(patternPath, reason));
        } else {
            QColor colour(m_style.bottomPatternColor.rgb());
            colour.setAlpha(qBound(0, G::opacityToAlpha(m_style.bottomPatternColorOpacity), 255));
            G::fillWithMode(pattern, colour, QPainter::CompositionMode_Overlay);
            G::applyOpacity(pattern, m_style.bottomPatternOpacity);
            G::drawImageOver(&base, pattern, 0, 0, 1.0f);
        }
    }
    m_base = base;
}

void TilePipeline::prepareTop()
{
    if (m_style.topStyle.isEmpty())
        return;
    QString reason;
    QImage top = readAsset(m_style.topStyle, &reason);
    if (top.isNull()) {
        m_warnings.append(
            QStringLiteral("Top shape %1 left out: %2").arg(m_style.topStyle, reason));
        return;
    }
    // Null when the image has no alpha channel: then the whole rectangle is
    // the shape.
    QImage shape = top.createAlphaMask();
    G::fillWithModeRgb(top, m_style.topColor.rgb(), QPainter::CompositionMode_Overlay);
    // A top painted at an alpha of 0 is no top: neither it nor its shadow
    // (nor a pattern painted onto it) shows on any tile.
    if (G::opacityToAlpha(m_style.topOpacity) == 0)
        return;

    const QString patternPath = TileStyle::patternPath(m_style.topPattern);
    if (!patternPath.isEmpty()) {
        QImage pattern = readAsset(patternPath, &reason);
        if (pattern.isNull()) {
            m_warnings.append(
                QStringLiteral("Top pattern %1 left out: %2").arg(patternPath, reason));
        } else {
            // The tinted copy goes over the untinted pattern.
            // (The pattern as read, not read a second time.)
            G::drawTintedImage(pattern, 1.0f, &pattern, m_style.topPatternColor.rgb(),
                               G::opacityToAlpha(m_style.topPatternColorOpacity));
            G::applyOpacity(pattern, m_style.topPatternOpacity);
            G::drawImageOver(&top, pattern, 0, 0, 1.0f);
        }
    }
    if (!shape.isNull()) {
        // Cuts away what the tint and the pattern painted outside the shape.
        shape.invertPixels();
        top.setAlphaChannel(shape);
    }

    // The drape copies pixel() values as they are; columns beyond the top's
    // width get nothing.
    m_topWidth = qMin(top.width(), Size);
    m_topHeight = qMin(top.height(), Size);
    m_topWords.resize(size_t(m_topWidth) * size_t(m_topHeight));
    for (int k = 0; k < m_topHeight; ++k) {
        for (int x = 0; x < m_topWidth; ++x)
            m_topWords[size_t(k) * size_t(m_topWidth) + size_t(x)] = top.pixel(x, k);
    }
}

namespace {

// Whether rows y0..y1-1 hold one stored word, and which.
bool uniformRows(const QImage &image, int y0, int y1, quint32 *word)
{
    *word = wordAt(image, 0, y0);
    for (int y = y0; y < y1; ++y) {
        const quint32 *p = reinterpret_cast<const quint32 *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (p[x] != *word)
                return false;
        }
    }
    return true;
}

// Grey levels of mask pixel values worked out so far: open addressing, -1
// for an empty slot.
class LocalGreys
{
public:
    static constexpr int Slots = 4096;
    static constexpr int MaxValues = Slots / 2;

    LocalGreys() { clear(); }

    void clear()
    {
        std::fill(std::begin(m_grey), std::end(m_grey), qint16(-1));
        m_count = 0;
    }

    bool isFull() const { return m_count >= MaxValues; }

    // The slot holding value, or the empty slot where it belongs.
    int find(quint32 value) const
    {
        int i = int((value * 2654435761u) >> 20);
        while (m_grey[i] != -1 && m_key[i] != value)
            i = (i + 1) & (Slots - 1);
        return i;
    }

    // -1 for an empty slot.
    int grey(int slot) const { return m_grey[slot]; }

    void set(int slot, quint32 value, int grey)
    {
        if (m_grey[slot] == -1)
            ++m_count;
        m_key[slot] = value;
        m_grey[slot] = qint16(grey);
    }

private:
    quint32 m_key[Slots];
    qint16 m_grey[Slots];
    int m_count = 0;
};

// The grey level a mask pixel value ends up as depends on nothing but the
// value and the mask's format, so each thread keeps what it has worked out,
// across tiles and runs. Masks come in the three formats normaliseMask()
// leaves.
LocalGreys &greysFor(QImage::Format format)
{
    thread_local std::unique_ptr<LocalGreys> tables[3];
    const int i = format == QImage::Format_ARGB32 ? 0 : format == QImage::Format_RGB32 ? 1 : 2;
    if (!tables[i])
        tables[i] = std::make_unique<LocalGreys>();
    return *tables[i];
}

// The mask's own steps (flatten on white, invert, grey), on one pixel of
// each value.
std::vector<uchar> maskGreys(QImage::Format format, const std::vector<quint32> &values)
{
    QImage probe(int(values.size()), 1, format);
    std::memcpy(probe.scanLine(0), values.data(), values.size() * 4);
    G::flattenOnWhite(probe);
    probe.invertPixels();
    const QImage grey = probe.convertToFormat(QImage::Format_Grayscale8);
    return std::vector<uchar>(grey.constScanLine(0), grey.constScanLine(0) + values.size());
}

constexpr qint16 Unresolved = 256;

enum DrapeKind : uchar
{
    Untouched,  // neither the top nor its shadow
    Fixed,      // known in advance: m_drapedWhole, m_drapedStraight
    ShadowOnly, // the shadow alone, on a textured bottom
    Top,        // the top, drawn over the textured bottom per tile
    ShadedTop   // the same over the top's own shadow
};

// Where the run of mask words equal to value (with `opaque` or-ed in) that
// starts at x ends.
inline int runEnd(const quint32 *row, int x, quint32 value, quint32 opaque)
{
    int end = x + 1;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi32(int(value));
    const __m128i extra = _mm_set1_epi32(int(opaque));
    for (; end + 4 <= Size; end += 4) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + end));
        const int same =
            _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_or_si128(w, extra), wanted)));
        if (same != 0xf)
            return end + __builtin_ctz(unsigned(~same));
    }
#endif
    while (end < Size && (row[end] | opaque) == value)
        ++end;
    return end;
}

// A bit for each of 64 mask words with alpha (with `opaque` or-ed in).
inline quint64 alphaBits(const quint32 *words, quint32 opaque)
{
    quint64 bits = 0;
#if defined(__SSE2__)
    const __m128i alpha = _mm_set1_epi32(int(0xff000000u));
    const __m128i extra = _mm_set1_epi32(int(opaque));
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 4) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(words + i));
        const __m128i none = _mm_cmpeq_epi32(_mm_and_si128(_mm_or_si128(w, extra), alpha), zero);
        bits |= quint64(~_mm_movemask_ps(_mm_castsi128_ps(none)) & 0xf) << i;
    }
#else
    for (int i = 0; i < 64; ++i)
        bits |= quint64(((words[i] | opaque) >> 24) != 0) << i;
#endif
    return bits;
}

// Columns begin..end-1 of a mask row, all cut by one grey.
struct Run
{
    int begin;
    int end;
    int grey;
};

} // namespace

// Per-thread scratch for one tile at a time.
struct TilePipeline::Scratch
{
    // The tile being made, row 0.
    uchar *tile = nullptr;
    int stride = 0;

    int surface[Size];
    // Columns whose surface is still wanted and not found, a bit each.
    quint64 unsettled[2] = {};
    // The mask's grey levels, in the rows the tile samples.
    uchar grey[Size * Size];
    Run runs[Size];
    int runCount = 0;
    Cutter cut;
    // Under the top on a textured bottom: where, and the mask's grey there;
    // the images they are drawn in.
    int pendingAt[Size * Size];
    uchar pendingGrey[Size * Size];
    QImage canvas;
    QImage layer;
    std::vector<quint32> unresolved;

    // Only the columns the top is draped on and the tile samples need one.
    void startSurfaces(const Grid &grid, int columns)
    {
        std::fill(std::begin(surface), std::end(surface), -1);
        unsettled[0] = unsettled[1] = 0;
        for (int x = 0; x < columns; ++x) {
            if (grid.firstColumn[size_t(x)] < grid.firstColumn[size_t(x) + 1])
                unsettled[x / 64] |= quint64(1) << (x % 64);
        }
    }

    bool anyUnsettled() const { return (unsettled[0] | unsettled[1]) != 0; }

    // Pixels with alpha in columns begin..end-1 of row y.
    void settle(int y, int begin, int end)
    {
        for (int w = 0; w < 2; ++w) {
            const int low = qMax(begin - 64 * w, 0), high = qMin(end - 64 * w, 64);
            if (low < high)
                settleBits(y, w,
                           (high == 64 ? ~quint64(0) : (quint64(1) << high) - 1) &
                               ~((quint64(1) << low) - 1));
        }
    }

    // Row y of the mask, where it has alpha in the columns still unsettled.
    void settleEach(int y, const quint32 *row, quint32 opaque)
    {
        if (!anyUnsettled())
            return;
        for (int w = 0; w < 2; ++w)
            settleBits(y, w, alphaBits(row + 64 * w, opaque));
    }

    // The unsettled columns among `bits` of word w have their surface at y.
    void settleBits(int y, int w, quint64 bits)
    {
        const quint64 found = unsettled[w] & bits;
        for (quint64 m = found; m != 0; m &= m - 1)
            surface[64 * w + __builtin_ctzll(m)] = y;
        unsettled[w] &= ~found;
    }

    void addRun(int begin, int end, int g)
    {
        if (runCount > 0 && runs[runCount - 1].grey == g)
            runs[runCount - 1].end = end;
        else
            runs[runCount++] = {begin, end, g};
    }
};

TilePipeline::Blends TilePipeline::prepareBlends()
{
    Blends blends;
    QImage shadow(Size, Size, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(shadowWord(m_style.bottomColor, m_style.shade));

    // Away from the top its layer, and its shadow above the offset, are
    // transparent. Drawn over the straight bottom, a transparent image only
    // takes each pixel through premultiplied and back, which changes nothing
    // a tile is made of (every use premultiplies it first): only the shadow
    // below the offset is drawn.
    const float shadowOpacity = m_style.shade - 0.2;
    m_shadowed = m_base.copy();
    G::drawImageOver(&m_shadowed, shadow, 0, ShadowOffset, shadowOpacity);

    blends.shadowedStored = stored(m_shadowed);
    m_baseRows = packRows(m_base);
    m_baseStoredRows = packRows(stored(m_base));
    m_shadowedRows = packRows(m_shadowed);
    m_shadowedStoredRows = packRows(blends.shadowedStored);

    quint32 under[3];
    if (m_topWords.empty() || !uniformRows(m_base, 0, ShadowOffset, &under[0]) ||
        !uniformRows(m_base, ShadowOffset, Size, &under[1]) ||
        !uniformRows(m_shadowed, ShadowOffset, Size, &under[2]))
        return blends;
    const QImage layer = topLayer();
    for (int c = 0; c < 3; ++c) {
        QImage canvas(m_topWidth, m_topHeight, m_base.format());
        canvas.fill(under[c]);
        G::drawImageOver(&canvas, layer, 0, 0, m_style.topOpacity);
        blends.draped[c] = canvas;
        blends.drapedStored[c] = stored(canvas);
    }
    return blends;
}

QImage TilePipeline::topLayer() const
{
    QImage layer(m_topWidth, m_topHeight, QImage::Format_ARGB32_Premultiplied);
    for (int k = 0; k < m_topHeight; ++k)
        std::memcpy(layer.scanLine(k), &m_topWords[size_t(k) * size_t(m_topWidth)],
                    size_t(m_topWidth) * 4);
    return layer;
}

TilePipeline::PackedRows TilePipeline::packRows(const QImage &image)
{
    PackedRows packed;
    for (int y = 0; y < Size; ++y) {
        const quint32 *row = reinterpret_cast<const quint32 *>(image.constScanLine(y));
        size_t start = packed.words.size();
        for (size_t other = 0; other < packed.words.size(); other += Size) {
            if (std::memcmp(row, packed.words.data() + other, Size * 4) == 0) {
                start = other;
                break;
            }
        }
        if (start == packed.words.size())
            packed.words.insert(packed.words.end(), row, row + Size);
        packed.start.push_back(start);
    }
    return packed;
}

void TilePipeline::prepareDrape(const Blends &blends)
{
    if (m_topWords.empty())
        return;
    const int width = m_topWidth, height = m_topHeight;
    m_reach = height + ShadowOffset;
    const size_t cells = size_t(width) * size_t(m_reach);
    m_drapeKind.assign(cells, Untouched);
    m_topColumns.assign(cells, 0u);
    for (int side = 0; side < 2; ++side) {
        m_drapedWhole[side].assign(cells, 0u);
        m_drapedStraight[side].assign(cells, 0u);
    }
    const bool uniform = !blends.draped[0].isNull();
    // The shadow falls on rows below the offset only, where a bottom of one
    // colour has one shadowed colour.
    const quint32 shadowed = wordAt(m_shadowed, 0, ShadowOffset);
    const quint32 shadowedStored = wordAt(blends.shadowedStored, 0, ShadowOffset);
    // An opaque top pixel drawn at full opacity hides whatever lies under
    // it, so on a textured bottom too it comes out as drawn over anything.
    QImage overClear, overWhite;
    if (!uniform && G::clampOpacity(m_style.topOpacity) == 1.0f) {
        const QImage layer = topLayer();
        overClear = QImage(width, height, m_base.format());
        overClear.fill(0);
        overWhite = QImage(width, height, m_base.format());
        overWhite.fill(~0u);
        G::drawImageOver(&overClear, layer, 0, 0, m_style.topOpacity);
        G::drawImageOver(&overWhite, layer, 0, 0, m_style.topOpacity);
    }
    const QImage overClearStored = overClear.isNull() ? QImage() : stored(overClear);

    for (int x = 0; x < width; ++x) {
        for (int k = 0; k < m_reach; ++k) {
            const quint32 layer = k < height ? m_topWords[size_t(k * width + x)] : 0u;
            const int above = k - ShadowOffset;
            const bool shade = above >= 0 && (m_topWords[size_t(above * width + x)] >> 24) != 0;
            const size_t cell = size_t(x * m_reach + k);
            int kind = layer ? (shade ? ShadedTop : Top) : shade ? ShadowOnly : Untouched;
            m_topColumns[cell] = layer;
            quint32 whole[2] = {}, straight[2] = {};
            if (uniform && kind == ShadowOnly) {
                whole[0] = whole[1] = shadowedStored;
                straight[0] = straight[1] = shadowed;
                kind = Fixed;
            } else if (uniform && kind != Untouched) {
                for (int side = 0; side < 2; ++side) {
                    const int c = side == 0 ? 0 : kind == ShadedTop ? 2 : 1;
                    whole[side] = wordAt(blends.drapedStored[c], x, k);
                    straight[side] = wordAt(blends.draped[c], x, k);
                }
                kind = Fixed;
            } else if (kind >= Top && !overClear.isNull() && (layer >> 24) == 0xff &&
                       wordAt(overClear, x, k) == wordAt(overWhite, x, k)) {
                whole[0] = whole[1] = wordAt(overClearStored, x, k);
                straight[0] = straight[1] = wordAt(overClear, x, k);
                kind = Fixed;
            }
            m_drapeKind[cell] = uchar(kind);
            m_shadowsApart |= kind == ShadowOnly;
            for (int side = 0; side < 2; ++side) {
                m_drapedWhole[side][cell] = whole[side];
                m_drapedStraight[side][cell] = straight[side];
            }
        }
    }
}

void TilePipeline::cutRow(int y, const Grid &grid, Scratch &scan) const
{
    // What the pixels are cut from: the bottom straight, and as stored.
    const quint32 *plain = m_baseRows.row(y);
    const quint32 *kept = m_baseStoredRows.row(y);
    quint32 *out = reinterpret_cast<quint32 *>(scan.tile + grid.firstRow[size_t(y)] * scan.stride);
    uchar *grey = scan.grey + y * Size;
    const int *columns = grid.columns.data();
    for (int r = 0; r < scan.runCount; ++r) {
        const Run run = scan.runs[r];
        std::memset(grey + run.begin, run.grey, size_t(run.end - run.begin));
        const int x0 = grid.firstColumn[size_t(run.begin)];
        const int x1 = grid.firstColumn[size_t(run.end)];
        if (x0 == x1)
            continue;
        if (run.grey == 255) {
            if (grid.identity) {
                std::memcpy(out + x0, kept + x0, size_t(x1 - x0) * 4);
            } else if (grid.columnStep == 2) {
                const quint32 *from = kept + columns[x0];
                for (int x = 0; x < x1 - x0; ++x)
                    out[x0 + x] = from[2 * x];
            } else {
                for (int x = x0; x < x1; ++x)
                    out[x] = kept[columns[x]];
            }
        } else if (run.grey == 0) {
            std::fill(out + x0, out + x1, 0u);
        } else {
            for (int x = x0; x < x1; ++x)
                out[x] = scan.cut(plain[columns[x]], run.grey);
        }
    }
}

bool TilePipeline::cutRows(const QImage &mask, bool withTop, const Grid &grid, Scratch &scan) const
{
    const quint32 opaque = mask.hasAlphaChannel() ? 0u : 0xff000000u;

    // Masks are mostly long runs of one value: the surface, the grey level
    // and the cut are worked out once a run. A value met for the first time
    // goes through the mask's steps, and the pass is made again.
    LocalGreys &table = greysFor(mask.format());
    const uchar *maskBits = mask.constBits();
    const int maskStride = mask.bytesPerLine();
    std::vector<quint32> &unresolved = scan.unresolved;
    unresolved.clear();
    for (int pass = 0; pass < 2; ++pass) {
        scan.startSurfaces(grid, drapedColumns(withTop));
        const quint32 *runsRow = nullptr; // the mask row scan.runs come from
        for (int y = 0; y < Size; ++y) {
            const quint32 *row = reinterpret_cast<const quint32 *>(maskBits + y * maskStride);
            if (grid.firstRow[size_t(y)] == grid.firstRow[size_t(y) + 1]) {
                scan.settleEach(y, row, opaque);
                continue;
            }
            // A row like the last one cut has its runs, and no surface that
            // row did not settle.
            if (!runsRow || std::memcmp(row, runsRow, Size * 4) != 0) {
                runsRow = row;
                scan.runCount = 0;
                int x = 0;
                while (x < Size) {
                    const quint32 value = row[x] | opaque;
                    const int end = runEnd(row, x, value, opaque);
                    if ((value >> 24) != 0)
                        scan.settle(y, x, end);
                    const int slot = table.find(value);
                    int g = table.grey(slot);
                    if (g < 0) {
                        if (table.isFull()) {
                            // A mask of noise; make room for the next ones.
                            table.clear();
                            return false;
                        }
                        g = Unresolved;
                        table.set(slot, value, g);
                        unresolved.push_back(value);
                    }
                    if (g != Unresolved)
                        scan.addRun(x, end, g);
                    x = end;
                }
            }
            if (unresolved.empty())
                cutRow(y, grid, scan);
        }
        if (unresolved.empty())
            return true;
        const std::vector<uchar> greys = maskGreys(mask.format(), unresolved);
        for (size_t i = 0; i < unresolved.size(); ++i)
            table.set(table.find(unresolved[i]), unresolved[i], greys[i]);
        unresolved.clear();
    }
    return true;
}

void TilePipeline::cutRowsSlowly(const QImage &mask, bool withTop, const Grid &grid,
                                 Scratch &scan) const
{
    const quint32 opaque = mask.hasAlphaChannel() ? 0u : 0xff000000u;
    QImage grey = mask;
    G::flattenOnWhite(grey);
    grey.invertPixels();
    grey = grey.convertToFormat(QImage::Format_Grayscale8);
    scan.startSurfaces(grid, drapedColumns(withTop));
    for (int y = 0; y < Size; ++y) {
        scan.settleEach(y, reinterpret_cast<const quint32 *>(mask.constScanLine(y)), opaque);
        if (grid.firstRow[size_t(y)] == grid.firstRow[size_t(y) + 1])
            continue;
        const uchar *greys = grey.constScanLine(y);
        scan.runCount = 0;
        for (int x = 0; x < Size; ++x)
            scan.addRun(x, x + 1, greys[x]);
        cutRow(y, grid, scan);
    }
}

void TilePipeline::drapeTop(const Grid &grid, Scratch &scan) const
{
    const int reach = m_reach;
    const PackedRows &shadowed = m_shadowedRows;
    const PackedRows &shadowedStored = m_shadowedStoredRows;
    const quint32 *under = words(m_base);
    const quint32 *underShadowed = words(m_shadowed);
    uchar *bits = scan.tile;
    const int stride = scan.stride;
    const int *firstRow = grid.firstRow.data();
    const int *firstColumn = grid.firstColumn.data();
    Cutter &cut = scan.cut;

    // Only the first tile column taken from a column is written; compose()
    // widens. Pixels whose drape is not known in advance are packed into
    // rows of a canvas and a layer image, drawn, and then cut. The images
    // are kept, so the painter's engine is made once a thread.
    quint32 *canvas = nullptr;
    quint32 *layer = nullptr;
    int pending = 0;
    // Column by column; compiled apart for the working size, where every
    // pixel is taken, and for bottoms where the shadow alone is not known in
    // advance, so the common cases test nothing they do not need.
    const auto drape = [&](auto identity, auto shadows) {
        constexpr bool Identity = decltype(identity)::value;
        constexpr bool Shadows = decltype(shadows)::value;
        for (int x = 0; x < m_topWidth; ++x) {
            const int s = scan.surface[x];
            if (s < 0 || firstColumn[x] == firstColumn[x + 1])
                continue;
            const int end = qMin(s + reach, Size);
            const size_t column = size_t(x * reach);
            const uchar *kind = m_drapeKind.data() + column;
            const quint32 *whole[2] = {m_drapedWhole[0].data() + column,
                                       m_drapedWhole[1].data() + column};
            uchar *outColumn = bits + firstColumn[x] * 4;
            for (int y = s; y < end; ++y) {
                const int row = Identity ? y : firstRow[y];
                if (!Identity && row == firstRow[y + 1])
                    continue;
                const int k = y - s;
                const int grey = scan.grey[y * Size + x];
                const int cell = kind[k];
                quint32 &out = *reinterpret_cast<quint32 *>(outColumn + row * stride);
                if (grey == 255 && cell < Top) {
                    // A select rather than a branch on the top's shape.
                    quint32 value = out;
                    value = cell == Fixed ? whole[y < ShadowOffset ? 0 : 1][k] : value;
                    if (Shadows)
                        value = cell == ShadowOnly ? shadowedStored.row(y)[x] : value;
                    out = value;
                } else if (grey != 0 && cell != Untouched) {
                    if (cell < Top) {
                        const quint32 straight =
                            cell == Fixed
                                ? m_drapedStraight[y < ShadowOffset ? 0 : 1][column + size_t(k)]
                                : shadowed.row(y)[x];
                        out = cut(straight, grey);
                        continue;
                    }
                    if (!canvas) {
                        if (scan.canvas.format() != m_base.format()) {
                            scan.canvas = QImage(Size, Size, m_base.format());
                            scan.layer = QImage(Size, Size, QImage::Format_ARGB32_Premultiplied);
                        }
                        canvas = reinterpret_cast<quint32 *>(scan.canvas.bits());
                        layer = reinterpret_cast<quint32 *>(scan.layer.bits());
                    }
                    const int index = y * Size + x;
                    canvas[pending] = (cell == ShadedTop ? underShadowed : under)[index];
                    layer[pending] = m_topColumns[column + size_t(k)];
                    scan.pendingGrey[pending] = uchar(grey);
                    scan.pendingAt[pending++] = int(reinterpret_cast<uchar *>(&out) - bits);
                }
            }
        }
    };
    if (grid.identity && !m_shadowsApart)
        drape(std::true_type(), std::false_type());
    else if (grid.identity)
        drape(std::true_type(), std::true_type());
    else if (!m_shadowsApart)
        drape(std::false_type(), std::false_type());
    else
        drape(std::false_type(), std::true_type());
    if (pending == 0)
        return;

    const int rows = (pending + Size - 1) / Size;
    std::fill(layer + pending, layer + rows * Size, 0u);
    {
        QPainter painter(&scan.canvas);
        painter.setOpacity(G::clampOpacity(m_style.topOpacity));
        painter.drawImage(QPoint(0, 0), scan.layer, QRect(0, 0, Size, rows));
    }
    const quint32 *drawn = words(scan.canvas);
    for (int i = 0; i < pending; ++i)
        *reinterpret_cast<quint32 *>(bits + scan.pendingAt[i]) = cut(drawn[i], scan.pendingGrey[i]);
}

void TilePipeline::compose(const QImage &mask, bool withTop, const Grid &grid, QImage &tile) const
{
    // Per thread, reused: tiles are made one after another.
    thread_local std::unique_ptr<Scratch> scratch;
    if (!scratch)
        scratch.reset(new Scratch);
    Scratch &scan = *scratch;
    scan.tile = tile.bits();
    scan.stride = tile.bytesPerLine();

    if (!cutRows(mask, withTop, grid, scan))
        cutRowsSlowly(mask, withTop, grid, scan);
    if (drapedColumns(withTop) > 0)
        drapeTop(grid, scan);
    // A tile larger than the working size takes some columns and rows twice.
    const size_t bytes = size_t(tile.width()) * 4;
    if (grid.widens) {
        for (int y = 0; y < Size; ++y) {
            if (grid.firstRow[size_t(y)] == grid.firstRow[size_t(y) + 1])
                continue;
            quint32 *row = reinterpret_cast<quint32 *>(tile.scanLine(grid.firstRow[size_t(y)]));
            for (int x = 0; x < Size; ++x) {
                const int first = grid.firstColumn[size_t(x)];
                std::fill(row + first + 1, row + qMax(first + 1, grid.firstColumn[size_t(x) + 1]),
                          row[first]);
            }
        }
    }
    for (int y = 0; y < Size; ++y) {
        const int first = grid.firstRow[size_t(y)];
        for (int row = first + 1; row < grid.firstRow[size_t(y) + 1]; ++row)
            std::memcpy(tile.scanLine(row), tile.constScanLine(first), bytes);
    }
}

QImage TilePipeline::makeTile(const QImage &mask, bool withTop, int tileSize) const
{
    if (mask.isNull() || tileSize < 1 || tileSize > MaxTileSize)
        return QImage();
    const QImage normalised = normaliseMask(mask);

    const QImage::Format premultiplied = QImage::Format_RGBA8888_Premultiplied;
    const Grid &grid = gridFor(premultiplied, QSize(Size, Size), QSize(tileSize, tileSize));
    if (grid.exact) {
        QImage tile(tileSize, tileSize, QImage::Format_RGBA8888);
        if (!tile.isNull())
            compose(normalised, withTop, grid, tile);
        return tile;
    }
    // Qt's scaling does not just pick pixels here: scale the premultiplied
    // tile itself, which the stored pixels give back exactly.
    QImage tile(Size, Size, QImage::Format_RGBA8888);
    compose(normalised, withTop, gridFor(premultiplied, QSize(Size, Size), QSize(Size, Size)),
            tile);
    return tile.convertToFormat(premultiplied)
        .scaled(tileSize, tileSize, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .convertToFormat(QImage::Format_RGBA8888);
}
