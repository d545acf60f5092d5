#include "tilepreview.h"

#include "imageoperations.h"
#include "regularfile.h"

#include <QFile>
#include <QPainter>
#include <QVector>

#include <algorithm>
#include <cstring>
#include <iterator>

// The preview recomposes on every spin-box step, so it must stay well
// under a frame. It is built from the image operations in a fixed
// order; where an operation would push every pixel through QPainter
// although the result is known in advance (a uniform canvas, a shade that
// is one colour wherever the top shape is, a binary alpha mask) or can be
// looked up (ChannelTable), the result is written directly. Every shortcut
// gives exactly the pixels and formats of the step-by-step composition kept
// in the tests, which compare the two.

namespace {

namespace G = ImageOperations;

// QFileInfo caches what it once read from disk; a pattern deleted since
// the design chose it must count as missing, so ask the disk again.
bool isExistingFile(const QFileInfo &file)
{
    if (file.fileName().isEmpty())
        return false;
    QFileInfo fresh = file;
    fresh.refresh();
    return fresh.isFile() && fresh.exists();
}

QString fullPath(const QFileInfo &file)
{
    return file.path() + QLatin1Char('/') + file.fileName();
}

// The stored 32-bit word of an RGBA8888 pixel (bytes R, G, B, A).
quint32 rgbaWord(int r, int g, int b, int a)
{
    const uchar bytes[4] = {uchar(r), uchar(g), uchar(b), uchar(a)};
    quint32 word;
    std::memcpy(&word, bytes, 4);
    return word;
}

// The bottom shape: paintPixels then setVisibleAlpha on an opaque colour
// give that colour with the alpha, as RGBA8888.
QImage bottomCanvas(const QColor &colour, int alpha, int width = TilePreview::TileSize,
                    int height = TilePreview::TileSize)
{
    QImage canvas(width, height, QImage::Format_RGBA8888);
    canvas.fill(rgbaWord(colour.red(), colour.green(), colour.blue(), qBound(0, alpha, 255)));
    return canvas;
}

// The top shape's alpha mask as the grey levels setAlphaChannel() uses:
// white where the shape is. Null for a null top image.
QImage topMask(const QImage &top)
{
    if (top.isNull())
        return QImage();
    if (top.format() == QImage::Format_ARGB32) {
        // createAlphaMask() with threshold dithering sets the pixels with
        // alpha 128 or more; inverted and made grey, they become white.
        QImage grey(top.size(), QImage::Format_Grayscale8);
        const int width = top.width();
        for (int y = 0; y < top.height(); ++y) {
            const QRgb *s = reinterpret_cast<const QRgb *>(top.constScanLine(y));
            uchar *g = grey.scanLine(y);
            for (int x = 0; x < width; ++x)
                g[x] = qAlpha(s[x]) >= 128 ? 255 : 0;
        }
        return grey;
    }
    QImage mask = top.createAlphaMask();
    if (mask.isNull()) {
        // No alpha channel: the whole rectangle is the shape.
        QImage white(top.size(), QImage::Format_Grayscale8);
        white.fill(255);
        return white;
    }
    mask.invertPixels();
    return mask.convertToFormat(QImage::Format_Grayscale8);
}

bool isBinary(const QImage &grey)
{
    const int width = grey.width();
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *p = grey.constScanLine(y);
        for (int x = 0; x < width; ++x) {
            if (p[x] != 0 && p[x] != 255)
                return false;
        }
    }
    return true;
}

// setAlphaChannel(mask) for a binary mask: the premultiplied image keeps
// its pixels under white and is cleared under black.
void applyMask(QImage &layer, const QImage &mask, bool maskIsBinary)
{
    if (layer.isNull() || mask.isNull())
        return;
    if (!maskIsBinary || layer.size() != mask.size()) {
        layer.setAlphaChannel(mask);
        return;
    }
    layer = layer.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const int width = layer.width();
    for (int y = 0; y < layer.height(); ++y) {
        quint32 *p = reinterpret_cast<quint32 *>(layer.scanLine(y));
        const uchar *m = mask.constScanLine(y);
        for (int x = 0; x < width; ++x) {
            if (m[x] == 0)
                p[x] = 0;
        }
    }
}

// The shade layer: the top's visible pixels in the bottom colour darkened by
// 40, at the shade alpha, cut by the mask. After paintPixels and
// shiftLightness every visible pixel holds the same opaque colour, so the
// layer is one premultiplied value wherever the top is visible and white
// in the mask, and 0 elsewhere.
QImage shadeLayer(const QImage &top, const QImage &mask, const QColor &bottomColour, int shadeAlpha)
{
    QImage darkened(1, 1, QImage::Format_RGBA8888_Premultiplied);
    darkened.setPixel(0, 0, bottomColour.rgb());
    G::shiftLightness(darkened, -40, 0, 1, 0, 1);
    G::setVisibleAlpha(darkened, shadeAlpha);
    darkened = darkened.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    quint32 value;
    std::memcpy(&value, darkened.constScanLine(0), 4);

    QImage shade(top.size(), QImage::Format_RGBA8888_Premultiplied);
    const QImage source = top.convertToFormat(QImage::Format_ARGB32);
    const int width = top.width();
    for (int y = 0; y < top.height(); ++y) {
        const QRgb *s = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        const uchar *m = mask.constScanLine(y);
        quint32 *d = reinterpret_cast<quint32 *>(shade.scanLine(y));
        for (int x = 0; x < width; ++x)
            d[x] = (qAlpha(s[x]) != 0 && m[x] != 0) ? value : 0u;
    }
    return shade;
}

// Every step from a pattern or top-shape pixel to a layer pixel (overlay
// fill, painting at an opacity, premultiplying, masking by alpha, even
// blending over the still uniform canvas) treats red, green and blue alike
// and apart, each depending only on itself and the pixel's alpha. So when
// an image has few distinct alphas, the steps can run on a small probe
// image holding every channel value at each of those alphas, and each
// pixel of the real image then looks its channels up in the result. The
// probe goes through the very same QPainter steps, so the pixels are the
// toolkit's own.
class ChannelTable
{
public:
    // False when the format is not one this handles or the image has too
    // many alphas for the probe to be cheaper than the image itself. With
    // a (binary, same-sized) mask only the pixels under white count: the
    // others come out 0 whatever the steps make of them.
    bool prepare(const QImage &source, const QImage *mask = nullptr)
    {
        if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
            return false;
        m_format = source.format();
        if (m_format != QImage::Format_ARGB32 && m_format != QImage::Format_RGB32)
            return false;
        const int maxRows = qMax(1, source.width() * source.height() / (3 * 256));
        std::fill(std::begin(m_rowOf), std::end(m_rowOf), -1);
        m_alphas.clear();
        if (m_format == QImage::Format_RGB32) {
            m_rowOf[255] = 0;
            m_alphas.append(255);
            return true;
        }
        const int width = source.width();
        for (int y = 0; y < source.height(); ++y) {
            const QRgb *p = reinterpret_cast<const QRgb *>(source.constScanLine(y));
            const uchar *m = mask ? mask->constScanLine(y) : nullptr;
            for (int x = 0; x < width; ++x) {
                if (m && m[x] == 0)
                    continue;
                const int a = qAlpha(p[x]);
                if (m_rowOf[a] < 0) {
                    if (m_alphas.size() == maxRows)
                        return false;
                    m_rowOf[a] = m_alphas.size();
                    m_alphas.append(a);
                }
            }
        }
        return true;
    }

    // Row i holds grey levels 0 to 255 at the i-th alpha.
    QImage probe() const
    {
        QImage probe(256, m_alphas.size(), m_format);
        for (int row = 0; row < m_alphas.size(); ++row) {
            QRgb *p = reinterpret_cast<QRgb *>(probe.scanLine(row));
            for (int c = 0; c < 256; ++c)
                p[c] = qRgba(c, c, c, m_alphas[row]);
        }
        return probe;
    }

    // Writes into the top-left width x height of target (in the probe
    // result's format) what the steps made of each source pixel.
    void map(const QImage &source, const QImage &result, QImage &target, int width, int height,
             const QImage *mask = nullptr) const
    {
        // Byte offsets of the channels in a stored pixel: QRgb words on a
        // little-endian machine, or the RGBA8888 byte order.
        int red = 2, green = 1, blue = 0;
        const int alpha = 3;
        switch (result.format()) {
        case QImage::Format_RGBA8888:
        case QImage::Format_RGBA8888_Premultiplied:
        case QImage::Format_RGBX8888:
            red = 0;
            blue = 2;
            break;
        default:
            break;
        }
        // Per alpha, each channel's result already shifted into place, so a
        // pixel is three lookups and one store.
        struct Lookup
        {
            quint32 red[256], green[256], blue[256];
            quint32 alpha;
        };
        QVector<Lookup> lookups(m_alphas.size());
        for (int i = 0; i < m_alphas.size(); ++i) {
            const uchar *row = result.constScanLine(i);
            Lookup &lookup = lookups[i];
            for (int c = 0; c < 256; ++c) {
                lookup.red[c] = quint32(row[4 * c + red]) << (8 * red);
                lookup.green[c] = quint32(row[4 * c + green]) << (8 * green);
                lookup.blue[c] = quint32(row[4 * c + blue]) << (8 * blue);
            }
            lookup.alpha = quint32(row[alpha]) << (8 * alpha);
        }
        const Lookup *byAlpha[256];
        for (int a = 0; a < 256; ++a)
            byAlpha[a] = m_rowOf[a] < 0 ? nullptr : &lookups[m_rowOf[a]];
        const bool opaque = m_format == QImage::Format_RGB32;
        for (int y = 0; y < height; ++y) {
            const QRgb *s = reinterpret_cast<const QRgb *>(source.constScanLine(y));
            const uchar *m = mask ? mask->constScanLine(y) : nullptr;
            quint32 *d = reinterpret_cast<quint32 *>(target.scanLine(y));
            for (int x = 0; x < width; ++x) {
                if (m && m[x] == 0) {
                    d[x] = 0;
                    continue;
                }
                const QRgb pixel = s[x];
                const Lookup &l = *byAlpha[opaque ? 255 : qAlpha(pixel)];
                d[x] = l.red[qRed(pixel)] | l.green[qGreen(pixel)] | l.blue[qBlue(pixel)] | l.alpha;
            }
        }
    }

private:
    QImage::Format m_format = QImage::Format_Invalid;
    int m_rowOf[256];
    QVector<int> m_alphas;
};

// A top layer: the steps (ending in RGBA8888), then premultiplied and cut
// by the mask as setAlphaChannel() does.
template <typename Steps>
QImage maskedTopLayer(const QImage &source, const QImage &mask, bool maskIsBinary,
                      const Steps &steps)
{
    ChannelTable table;
    if (!source.isNull() && maskIsBinary && mask.size() == source.size() &&
        table.prepare(source, &mask)) {
        QImage probe = table.probe();
        steps(probe);
        probe = probe.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        QImage layer(source.size(), probe.format());
        table.map(source, probe, layer, layer.width(), layer.height(), &mask);
        return layer;
    }
    QImage layer = source;
    steps(layer);
    applyMask(layer, mask, maskIsBinary);
    return layer;
}

// drawTintedImage onto an image: only the part of the pattern that lands on
// the target matters, so the overlay runs on that part alone.
void drawTintedPattern(const QString &path, QImage &target, const QColor &tintColour, int tintAlpha)
{
    QImage pattern = G::loadImage(path);
    if (pattern.isNull() || target.isNull())
        return;
    if (pattern.width() > target.width() || pattern.height() > target.height())
        pattern = pattern.copy(0, 0, qMin(pattern.width(), target.width()),
                               qMin(pattern.height(), target.height()));
    const QRgb tint = qRgba(tintColour.red(), tintColour.green(), tintColour.blue(), tintAlpha);
    if (tint != 0) {
        QColor colour;
        colour.setRgb(tintColour.red(), tintColour.green(), tintColour.blue(),
                      qBound(0, tintAlpha, 255));
        G::fillWithMode(pattern, colour, QPainter::CompositionMode_Overlay);
    }
    G::drawImageOver(&target, pattern, 0, 0, 1.0f);
}

} // namespace

TilePreview TilePreview::compose(const TileStyle &style)
{
    TilePreview result;

    QImage canvas = bottomCanvas(style.bottomColor, G::opacityToAlpha(style.bottomOpacity));
    result.parts.append({QStringLiteral("Bottom Shape"), canvas});

    bool canvasHasPattern = false;
    if (isExistingFile(style.bottomPattern)) {
        QImage pattern = G::loadImage(fullPath(style.bottomPattern));
        QColor colour(style.bottomPatternColor.rgb());
        colour.setAlpha(G::opacityToAlpha(style.bottomPatternColorOpacity));
        const auto steps = [&](QImage &image) {
            G::fillWithMode(image, colour, QPainter::CompositionMode_Overlay);
            G::applyOpacity(image, style.bottomPatternOpacity);
        };
        ChannelTable table;
        if (!pattern.isNull() && table.prepare(pattern)) {
            // The pattern is the first layer, so the canvas under it is still
            // one colour: its blending goes into the table as well.
            QImage layerProbe = table.probe();
            steps(layerProbe);
            QImage canvasProbe =
                bottomCanvas(style.bottomColor, G::opacityToAlpha(style.bottomOpacity),
                             layerProbe.width(), layerProbe.height());
            G::drawImageOver(&canvasProbe, layerProbe, 0, 0, 1.0f);

            QImage layer(pattern.size(), layerProbe.format());
            table.map(pattern, layerProbe, layer, layer.width(), layer.height());
            table.map(pattern, canvasProbe, canvas, qMin(pattern.width(), canvas.width()),
                      qMin(pattern.height(), canvas.height()));
            pattern = layer;
            canvasHasPattern = true;
        } else {
            steps(pattern);
        }
        result.layers.append(pattern);
        result.parts.append({QStringLiteral("Bottom Pattern"), pattern});
    }

    QFile topFile;
    if (!style.topStyle.isEmpty() && RegularFile::open(topFile, style.topStyle)) {
        topFile.close();
        const QImage top = G::loadImage(style.topStyle);
        const QImage mask = topMask(top);
        const bool binary = isBinary(mask);

        QImage shade;
        if (!top.isNull()) {
            if (binary) {
                shade = shadeLayer(top, mask, style.bottomColor, G::opacityToAlpha(style.shade));
            } else {
                shade = top;
                G::paintPixels(shade, style.bottomColor.rgb(), false);
                G::shiftLightness(shade, -40, 0, shade.width(), 0, shade.height());
                G::setVisibleAlpha(shade, G::opacityToAlpha(style.shade));
                shade.setAlphaChannel(mask);
            }
        }
        result.shadeIndex = result.layers.size();
        result.layers.append(shade);

        QImage topColour = maskedTopLayer(top, mask, binary, [&](QImage &image) {
            G::fillWithModeRgb(image, style.topColor.rgb(), QPainter::CompositionMode_Overlay);
            G::applyOpacity(image, style.topOpacity);
        });
        result.topIndex = result.layers.size();
        result.layers.append(topColour);
        result.parts.append({QStringLiteral("Top Shape"), topColour});

        if (isExistingFile(style.topPattern)) {
            QImage tinted = top;
            drawTintedPattern(fullPath(style.topPattern), tinted, style.topPatternColor,
                              G::opacityToAlpha(style.topPatternColorOpacity));
            const QImage topPattern = maskedTopLayer(tinted, mask, binary, [&](QImage &image) {
                G::applyOpacity(image, style.topPatternOpacity);
            });
            result.layers.append(topPattern);
            result.parts.append({QStringLiteral("Top Pattern"), topPattern});
        }
    }

    // One painter for all the layers: each drawImage still blends and
    // stores on its own, as separate painters would.
    {
        QPainter painter(&canvas);
        for (int i = canvasHasPattern ? 1 : 0; i < result.layers.size(); ++i) {
            const QImage &layer = result.layers.at(i);
            if (!layer.isNull())
                painter.drawImage(0, i == result.shadeIndex ? 8 : 0, layer);
        }
        if (style.topDown && result.shadeIndex >= 0) {
            const int h = result.layers.at(result.topIndex).height();
            G::rotateImage(result.layers[result.shadeIndex], 180);
            G::rotateImage(result.layers[result.topIndex], 180);
            const QImage &shade = result.layers.at(result.shadeIndex);
            const QImage &top = result.layers.at(result.topIndex);
            if (!shade.isNull())
                painter.drawImage(0, 120 - h, shade);
            if (!top.isNull())
                painter.drawImage(0, 128 - h, top);
        }
    }

    G::shiftLightness(canvas, 20, 0, canvas.width(), 0, 2);
    result.tile = canvas;
    return result;
}
