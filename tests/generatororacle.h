#pragma once

#include "assetlibrary.h"
#include "generatetiles.h"
#include "tilestyle.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

// The tile generation written the plain way: every documented step in its
// order, pixel()/setPixel() walks in column order, one QPainter per painter
// step, the image operations of generateTiles. TilePipeline must give
// exactly these pixels; the benchmark times this against it.
//
// It carries the program's deliberate choices too, so both sides agree on
// them: masks are read through the guarded loader and scaled to 128 x 128
// by nearest neighbour; a top painted at alpha 0 is no top at all (no
// shadow either, even with a top pattern); the drape gives nothing to the
// columns beyond the top's width.
namespace GeneratorOracle {

using G = generateTiles;

constexpr int Size = 128;

struct Layers
{
    TileStyle style;
    QImage base;
    QImage top; // null: no top
};

inline Layers prepare(const TileStyle &style)
{
    Layers layers;
    layers.style = style;

    QImage base(Size, Size, QImage::Format_RGBA8888_Premultiplied);
    G::paintPixels(base, style.bottomColor.rgb(), true);
    G::setVisibleAlpha(base, G::opacityToAlpha(style.bottomOpacity));
    if (!style.bottomPattern.fileName().isEmpty()) {
        QImage pattern =
            G::loadImage(style.bottomPattern.path() + "/" + style.bottomPattern.fileName());
        QColor colour(style.bottomPatternColor.rgb());
        colour.setAlpha(qBound(0, G::opacityToAlpha(style.bottomPatternColorOpacity), 255));
        G::fillWithMode(pattern, colour, QPainter::CompositionMode_Overlay);
        G::applyOpacity(pattern, style.bottomPatternOpacity);
        G::drawImageOver(&base, pattern, 0, 0, 1.0f);
    }
    layers.base = base;

    QImage top = style.topStyle.isEmpty() ? QImage() : G::loadImage(style.topStyle);
    if (top.isNull())
        return layers;
    QImage shape = top.createAlphaMask();
    G::fillWithModeRgb(top, style.topColor.rgb(), QPainter::CompositionMode_Overlay);
    if (G::opacityToAlpha(style.topOpacity) == 0)
        return layers;
    if (!style.topPattern.fileName().isEmpty()) {
        const QString p = style.topPattern.path() + "/" + style.topPattern.fileName();
        QImage pattern = G::loadImage(p);
        G::drawTintedImage(p, 1.0f, &pattern, style.topPatternColor.rgb(),
                           G::opacityToAlpha(style.topPatternColorOpacity));
        G::applyOpacity(pattern, style.topPatternOpacity);
        G::drawImageOver(&top, pattern, 0, 0, 1.0f);
    }
    if (!shape.isNull()) {
        shape.invertPixels();
        top.setAlphaChannel(shape);
    }
    layers.top = top;
    return layers;
}

inline QImage normaliseMask(QImage mask)
{
    if (mask.isNull())
        return mask;
    if (mask.format() != QImage::Format_ARGB32 && mask.format() != QImage::Format_RGB32 &&
        mask.format() != QImage::Format_ARGB32_Premultiplied)
        mask = mask.convertToFormat(mask.hasAlphaChannel() ? QImage::Format_ARGB32
                                                           : QImage::Format_RGB32);
    if (mask.size() != QSize(Size, Size))
        mask = mask.scaled(Size, Size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return mask;
}

inline void drapeTopLayer(const Layers &layers, const QImage &mask, const QImage &top, QImage &tile)
{
    QImage drape(tile.size(), QImage::Format_RGBA8888_Premultiplied);
    drape.fill(0);
    for (int x = 0; x < mask.width(); ++x) {
        int y0 = -1;
        for (int y = 0; y < mask.height(); ++y) {
            if (qAlpha(mask.pixel(x, y)) > 0) {
                y0 = y;
                break;
            }
        }
        if (y0 < 0 || x >= top.width())
            continue;
        for (int k = 0; k < top.height() && y0 + k < mask.height(); ++k)
            drape.setPixel(x, y0 + k, top.pixel(x, k));
    }

    QImage layer(tile.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(0);
    {
        QPainter painter(&layer);
        // HighQualityAntialiasing is ignored by Qt 5.15 (and deprecated);
        // Antialiasing is what it stands for.
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBackgroundMode(Qt::TransparentMode);
        painter.drawImage(0, 0, drape);
    }

    const float shade = layers.style.shade;
    QImage shadow = layer;
    G::paintPixels(shadow, layers.style.bottomColor.rgb(), false);
    G::shiftLightness(shadow, -G::opacityToAlpha(shade), 0, shadow.width(), 0, shadow.height());
    G::drawImageOver(&tile, shadow, 0, 6, shade - 0.2);
    G::drawImageOver(&tile, layer, 0, 0, layers.style.topOpacity);
}

inline QImage makeTile(const Layers &layers, QImage mask, bool withTop, int tileSize)
{
    mask = normaliseMask(mask);
    QImage tile = layers.base.copy();
    if (withTop)
        drapeTopLayer(layers, mask, layers.top, tile);
    G::flattenOnWhite(mask);
    mask.invertPixels();
    // Not tile.setAlphaChannel(mask) in place: Qt 5.15 then converts the
    // painted-on tile to premultiplied but keeps the paint engine cached for
    // the old format, so the cut runs unpremultiplied and a grey or
    // translucent mask pixel leaves the colour unscaled (the tile comes out
    // far too bright there). A copy has no cached engine.
    tile = tile.copy();
    tile.setAlphaChannel(mask);
    if (tileSize != Size)
        tile = tile.scaled(tileSize, tileSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return tile;
}

// A whole run with Qt's own writer; the number of tiles QImage::save()
// reported as written.
inline int run(const QString &alphaDirectory, const QString &outputDirectory,
               const TileStyle &style, int tileSize)
{
    const Layers layers = prepare(style);
    int written = 0;
    for (const QFileInfo &file : listPngFiles(alphaDirectory, QStringLiteral(".png"))) {
        const QImage mask = G::loadImage(file.path() + "/" + file.fileName());
        if (mask.isNull())
            continue;
        const QImage tile =
            makeTile(layers, mask, !file.fileName().contains(QLatin1String("_notop")), tileSize);
        if (tile.save(outputDirectory + "/" + file.fileName()))
            ++written;
    }
    return written;
}

} // namespace GeneratorOracle
