#pragma once

#include "generatetiles.h"

// Each documented step in order, with pixel() walks and one QPainter per step:
// TilePipeline must give exactly these tiles. Shared choices: masks scaled to
// 128 x 128 by nearest neighbour; a top at alpha 0 casts no shadow either.
namespace GeneratorOracle {

using G = generateTiles;
constexpr int Size = 128;

struct Layers
{
    TileStyle style;
    QImage base, top; // top: null for none
};

inline Layers prepare(const TileStyle &style)
{
    Layers layers{style, QImage(Size, Size, QImage::Format_RGBA8888_Premultiplied), QImage()};
    G::paintPixels(layers.base, style.bottomColor.rgb(), true);
    G::setVisibleAlpha(layers.base, G::opacityToAlpha(style.bottomOpacity));
    if (const QString path = TileStyle::patternPath(style.bottomPattern); !path.isEmpty()) {
        QImage pattern = G::loadImage(path);
        QColor colour(style.bottomPatternColor.rgb());
        colour.setAlpha(qBound(0, G::opacityToAlpha(style.bottomPatternColorOpacity), 255));
        G::fillWithMode(pattern, colour, QPainter::CompositionMode_Overlay);
        G::applyOpacity(pattern, style.bottomPatternOpacity);
        G::drawImageOver(&layers.base, pattern, 0, 0, 1.0f);
    }
    QImage top = style.topStyle.isEmpty() ? QImage() : G::loadImage(style.topStyle);
    if (top.isNull() || G::opacityToAlpha(style.topOpacity) == 0)
        return layers;
    QImage shape = top.createAlphaMask();
    G::fillWithModeRgb(top, style.topColor.rgb(), QPainter::CompositionMode_Overlay);
    if (const QString path = TileStyle::patternPath(style.topPattern); !path.isEmpty()) {
        QImage pattern = G::loadImage(path);
        G::drawTintedImage(path, 1.0f, &pattern, style.topPatternColor.rgb(),
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

inline QImage makeTile(const Layers &layers, QImage mask, bool withTop, int tileSize)
{
    mask = mask.scaled(Size, Size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const auto &[style, base, top] = layers;
    QImage tile = base.copy();
    if (withTop) {
        // The worker's own step-by-step drape is the reference for the fast one.
        generateTiles worker;
        worker.setStyle(style);
        worker.drapeTopLayer(mask, top, tile);
    }
    G::flattenOnWhite(mask);
    mask.invertPixels();
    // Cut a copy: in place, Qt 5.15 keeps the painted tile's stale paint
    // engine, and grey or translucent mask pixels come out far too bright.
    tile = tile.copy();
    tile.setAlphaChannel(mask);
    return tile.scaled(tileSize, tileSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace GeneratorOracle
