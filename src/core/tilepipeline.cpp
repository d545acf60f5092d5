#include "tilepipeline.h"

#include "imageoperations.h"
#include "safeimagereader.h"

#include <QPainter>

#include <algorithm>
#include <bitset>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

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
// painted once per run on whole images, and a tile copies from them. The
// pixels under the top go through QPainter for each tile, packed into a
// small image; on a bottom of one colour there are only three colours under
// the top, and the top drawn over each is prepared once as well.
//
// The mask's flatten-on-white, invert and grey steps depend on the mask
// pixel's value alone, so each distinct value goes through them once (per
// thread). Cutting by a grey of 255 keeps the premultiplied pixel and by 0
// clears it; only the pixels the mask keeps in part go through the
// painter's DestinationIn, again packed into a small image.

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

} // namespace

TilePipeline::TilePipeline(const TileStyle &style) : m_style(style)
{
    prepareBase();
    prepareTop();
    prepareBlends();
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
    if (result.width() != Size || result.height() != Size)
        result = result.scaled(Size, Size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return result;
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
            G::drawTintedImage(patternPath, 1.0f, &pattern, m_style.topPatternColor.rgb(),
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
    m_top = top;

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

inline const quint32 *words(const QImage &image)
{
    return reinterpret_cast<const quint32 *>(image.constBits());
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

// A pixel the top covers on a textured bottom: what lies under it and the
// top's word.
struct Covered
{
    int index;
    quint32 under;
    quint32 layer;
};

} // namespace

// Per-thread scratch for one tile at a time.
struct TilePipeline::Scratch
{
    int surface[Size];
    uchar grey[Size * Size];
    // What the top made of the pixels the mask keeps only in part (where the
    // bit is set), before the cut.
    quint32 covered[Size * Size];
    std::bitset<Size * Size> isCovered;
    // The pixels the mask keeps only in part.
    int partial[Size * Size];
    int partialCount = 0;
    // Under the top on a textured bottom, and the images they are drawn in.
    Covered pending[Size * Size];
    QImage canvas;
    QImage layer;
    std::vector<quint32> unresolved;

    // Cuts one run of pixels of the tile by the mask grey g: a grey of 255
    // keeps the premultiplied pixel, 0 clears it, anything between is left
    // for DestinationIn.
    void cut(int index, int count, uchar g, const quint32 *keep, quint32 *out)
    {
        std::memset(grey + index, g, size_t(count));
        if (g == 255) {
            std::memcpy(out + index, keep + index, size_t(count) * 4);
            return;
        }
        std::memset(out + index, 0, size_t(count) * 4);
        for (int i = 0; g != 0 && i < count; ++i)
            partial[partialCount++] = index + i;
    }
};

void TilePipeline::prepareBlends()
{
    QImage nothing(Size, Size, QImage::Format_ARGB32_Premultiplied);
    nothing.fill(0);
    QImage shadow(Size, Size, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(shadowWord(m_style.bottomColor, m_style.shade));

    const float shadowOpacity = m_style.shade - 0.2;
    m_underTop = m_base.copy();
    G::drawImageOver(&m_underTop, nothing, 0, ShadowOffset, shadowOpacity);
    m_underTopShadowed = m_base.copy();
    G::drawImageOver(&m_underTopShadowed, shadow, 0, ShadowOffset, shadowOpacity);
    m_plain = m_underTop.copy();
    G::drawImageOver(&m_plain, nothing, 0, 0, m_style.topOpacity);
    m_shadowed = m_underTopShadowed.copy();
    G::drawImageOver(&m_shadowed, nothing, 0, 0, m_style.topOpacity);

    const QImage::Format premultiplied = QImage::Format_RGBA8888_Premultiplied;
    m_basePremultiplied = m_base.convertToFormat(premultiplied);
    m_plainPremultiplied = m_plain.convertToFormat(premultiplied);
    m_shadowedPremultiplied = m_shadowed.convertToFormat(premultiplied);

    quint32 under[3];
    if (m_topWords.empty() || !uniformRows(m_underTop, 0, ShadowOffset, &under[0]) ||
        !uniformRows(m_underTop, ShadowOffset, Size, &under[1]) ||
        !uniformRows(m_underTopShadowed, ShadowOffset, Size, &under[2]))
        return;
    QImage layer(m_topWidth, m_topHeight, QImage::Format_ARGB32_Premultiplied);
    for (int k = 0; k < m_topHeight; ++k)
        std::memcpy(layer.scanLine(k), &m_topWords[size_t(k) * size_t(m_topWidth)],
                    size_t(m_topWidth) * 4);
    for (int c = 0; c < 3; ++c) {
        QImage canvas(m_topWidth, m_topHeight, m_underTop.format());
        canvas.fill(under[c]);
        G::drawImageOver(&canvas, layer, 0, 0, m_style.topOpacity);
        m_draped[c] = canvas;
        m_drapedPremultiplied[c] = canvas.convertToFormat(premultiplied);
    }
}

bool TilePipeline::cutToMask(const QImage &mask, const quint32 *keep, Scratch &scratch,
                             quint32 *out) const
{
    const quint32 opaque = mask.hasAlphaChannel() ? 0u : 0xff000000u;
    for (int x = 0; x < Size; ++x)
        scratch.surface[x] = -1;
    int surfacesLeft = Size;

    // Masks are mostly long runs of one value: the surface, the grey level
    // and the cut are worked out once a run. A value met for the first time
    // goes through the mask's steps, and the pass is made again.
    LocalGreys &table = greysFor(mask.format());
    std::vector<quint32> &unresolved = scratch.unresolved;
    unresolved.clear();
    for (int pass = 0; pass < 2; ++pass) {
        scratch.partialCount = 0;
        for (int y = 0; y < Size; ++y) {
            const quint32 *row = reinterpret_cast<const quint32 *>(mask.constScanLine(y));
            int x = 0;
            while (x < Size) {
                const quint32 value = row[x] | opaque;
                int end = x + 1;
                while (end < Size && (row[end] | opaque) == value)
                    ++end;
                if (surfacesLeft > 0 && (value >> 24) != 0) {
                    for (int c = x; c < end; ++c) {
                        if (scratch.surface[c] < 0) {
                            scratch.surface[c] = y;
                            --surfacesLeft;
                        }
                    }
                }
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
                    scratch.cut(y * Size + x, end - x, uchar(g), keep, out);
                x = end;
            }
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

void TilePipeline::cutToMaskSlowly(const QImage &mask, const quint32 *keep, Scratch &scratch,
                                   quint32 *out) const
{
    for (int x = 0; x < Size; ++x) {
        scratch.surface[x] = -1;
        for (int y = 0; y < Size; ++y) {
            if (qAlpha(mask.pixel(x, y)) != 0) {
                scratch.surface[x] = y;
                break;
            }
        }
    }
    QImage grey = mask;
    G::flattenOnWhite(grey);
    grey.invertPixels();
    grey = grey.convertToFormat(QImage::Format_Grayscale8);
    scratch.partialCount = 0;
    for (int y = 0; y < Size; ++y) {
        for (int x = 0; x < Size; ++x)
            scratch.cut(y * Size + x, 1, grey.constScanLine(y)[x], keep, out);
    }
}

void TilePipeline::drapeTop(Scratch &scan, quint32 *out) const
{
    const int height = m_topHeight;
    const int width = m_topWidth;
    const quint32 *top = m_topWords.data();
    const quint32 *shadowed = words(m_shadowed);
    const quint32 *shadowedPremultiplied = words(m_shadowedPremultiplied);
    const quint32 *under = words(m_underTop);
    const quint32 *underShadowed = words(m_underTopShadowed);
    const bool uniform = !m_draped[0].isNull();
    const quint32 *draped[3] = {};
    const quint32 *drapedPremultiplied[3] = {};
    if (uniform) {
        for (int c = 0; c < 3; ++c) {
            draped[c] = words(m_draped[c]);
            drapedPremultiplied[c] = words(m_drapedPremultiplied[c]);
        }
    }

    // A pixel the top or its shadow changed: kept whole, it is final;
    // kept in part, the cut still has to come.
    auto result = [&](int index, quint32 word, quint32 premultiplied) {
        if (scan.grey[index] == 255) {
            out[index] = premultiplied;
        } else {
            scan.covered[index] = word;
            scan.isCovered.set(size_t(index));
        }
    };

    // Row by row, for the caches' sake: the rows from the highest surface to
    // the end of the lowest shadow.
    int end[Size];
    int first = Size;
    int last = 0;
    for (int x = 0; x < width; ++x) {
        const int s = scan.surface[x];
        end[x] = s < 0 ? s : qMin(s + height + ShadowOffset, Size);
        if (s >= 0) {
            first = qMin(first, s);
            last = qMax(last, end[x]);
        }
    }
    int pending = 0;
    for (int y = first; y < last; ++y) {
        for (int x = 0; x < width; ++x) {
            const int s = scan.surface[x];
            if (y < s || y >= end[x])
                continue; // also for s < 0, where end is s
            const int index = y * Size + x;
            if (scan.grey[index] == 0)
                continue; // cut away anyway
            const int k = y - s;
            const quint32 layer = k < height ? top[k * width + x] : 0u;
            const int above = k - ShadowOffset;
            const bool shade = above >= 0 && above < height && (top[above * width + x] >> 24) != 0;
            if (layer == 0) {
                if (shade)
                    result(index, shadowed[index], shadowedPremultiplied[index]);
            } else if (uniform) {
                const int c = y < ShadowOffset ? 0 : shade ? 2 : 1;
                result(index, draped[c][k * width + x], drapedPremultiplied[c][k * width + x]);
            } else {
                scan.pending[pending++] = {index, (shade ? underShadowed : under)[index], layer};
            }
        }
    }
    if (pending == 0)
        return;

    // The covered pixels, packed into rows, through the very same draw. The
    // images are kept, so the painter's engine is made once a thread.
    const int rows = (pending + Size - 1) / Size;
    if (scan.canvas.format() != m_underTop.format()) {
        scan.canvas = QImage(Size, Size, m_underTop.format());
        scan.layer = QImage(Size, Size, QImage::Format_ARGB32_Premultiplied);
    }
    quint32 *c = reinterpret_cast<quint32 *>(scan.canvas.bits());
    quint32 *l = reinterpret_cast<quint32 *>(scan.layer.bits());
    for (int i = 0; i < pending; ++i) {
        c[i] = scan.pending[i].under;
        l[i] = scan.pending[i].layer;
    }
    std::fill(l + pending, l + rows * Size, 0u);
    {
        QPainter painter(&scan.canvas);
        painter.setOpacity(G::clampOpacity(m_style.topOpacity));
        painter.drawImage(QPoint(0, 0), scan.layer, QRect(0, 0, Size, rows));
    }
    const QImage drawnRows(scan.canvas.constBits(), Size, rows, scan.canvas.bytesPerLine(),
                           scan.canvas.format());
    const QImage premultiplied = drawnRows.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const quint32 *drawn = words(scan.canvas);
    const quint32 *drawnPremultiplied = words(premultiplied);
    for (int i = 0; i < pending; ++i)
        result(scan.pending[i].index, drawn[i], drawnPremultiplied[i]);
}

QImage TilePipeline::makeTile(const QImage &mask, bool withTop, int tileSize) const
{
    if (mask.isNull() || tileSize < 1 || tileSize > MaxTileSize)
        return QImage();
    const QImage normalised = normaliseMask(mask);

    // Per thread, reused: tiles are made one after another.
    thread_local std::unique_ptr<Scratch> scratch;
    if (!scratch)
        scratch.reset(new Scratch);
    Scratch *scan = scratch.get();
    scan->isCovered.reset();

    const quint32 *plain = words(withTop ? m_plain : m_base);
    const quint32 *keep = words(withTop ? m_plainPremultiplied : m_basePremultiplied);
    QImage tile(Size, Size, QImage::Format_RGBA8888_Premultiplied);
    quint32 *out = reinterpret_cast<quint32 *>(tile.bits());
    if (!cutToMask(normalised, keep, *scan, out))
        cutToMaskSlowly(normalised, keep, *scan, out);

    if (withTop && !m_topWords.empty())
        drapeTop(*scan, out);

    if (scan->partialCount > 0) {
        const int count = scan->partialCount;
        const int rows = (count + Size - 1) / Size;
        QImage cut(Size, rows, QImage::Format_RGBA8888);
        QImage alpha(Size, rows, QImage::Format_Grayscale8);
        cut.fill(0);
        alpha.fill(0);
        quint32 *c = reinterpret_cast<quint32 *>(cut.bits());
        uchar *a = alpha.bits(); // 128 bytes a row, no padding
        for (int i = 0; i < count; ++i) {
            const int index = scan->partial[i];
            c[i] = scan->isCovered.test(size_t(index)) ? scan->covered[index] : plain[index];
            a[i] = scan->grey[index];
        }
        // A fresh image: setAlphaChannel() converts it in place, which is
        // only right on an image no painter has cached an engine for.
        cut.setAlphaChannel(alpha);
        const quint32 *done = words(cut);
        for (int i = 0; i < count; ++i)
            out[scan->partial[i]] = done[i];
    }

    if (tileSize != Size)
        return tile.scaled(tileSize, tileSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return tile;
}
