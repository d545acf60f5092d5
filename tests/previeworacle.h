#pragma once

#include "imageoperations.h"
#include "tilepreview.h"

#include <QFile>

// The per-pixel operations as plain pixel()/setPixel() walks, and the preview
// composed step by step as documented (the painter steps are ImageOperations'
// own, which take no shortcuts). The optimised core must match them exactly.
struct PlainOps
{
    static void paintPixels(QImage &image, QRgb colour, bool allPixels)
    {
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (allPixels || qAlpha(image.pixel(x, y)) != 0)
                    image.setPixel(x, y, colour);
    }

    static void setVisibleAlpha(QImage &image, int alpha)
    {
        ImageOperations::applyOpacity(image, 1.0f); // paints it onto transparent RGBA8888
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (const QRgb p = image.pixel(x, y); qAlpha(p) != 0)
                    image.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), alpha));
    }

    static void shiftLightness(QImage &image, int delta, int x0, int x1, int y0, int y1)
    {
        for (int x = qMax(0, x0); x < qMin(x1, image.width()); ++x) {
            for (int y = qMax(0, y0); y < qMin(y1, image.height()); ++y) {
                if (qAlpha(image.pixel(x, y)) == 0)
                    continue;
                // One colour's rule is checked on its own in tst_imageoperations.
                image.setPixel(x, y, ImageOperations::shiftedLightness(image.pixel(x, y), delta));
            }
        }
    }

    static TilePreview composePreview(const TileStyle &style)
    {
        namespace G = ImageOperations;
        const auto exists = [](const QFileInfo &file) {
            return QFileInfo(file.filePath()).isFile();
        };
        TilePreview result;
        QImage canvas(128, 128, QImage::Format_RGBA8888_Premultiplied);
        paintPixels(canvas, style.bottomColor.rgb(), true);
        setVisibleAlpha(canvas, G::opacityToAlpha(style.bottomOpacity));
        result.parts.append({"Bottom Shape", canvas});

        if (exists(style.bottomPattern)) {
            QImage pattern = G::loadImage(style.bottomPattern.filePath());
            QColor colour(style.bottomPatternColor.rgb());
            colour.setAlpha(G::opacityToAlpha(style.bottomPatternColorOpacity));
            G::fillWithMode(pattern, colour, QPainter::CompositionMode_Overlay);
            G::applyOpacity(pattern, style.bottomPatternOpacity);
            result.layers.append(pattern);
            result.parts.append({"Bottom Pattern", pattern});
        }

        if (!style.topStyle.isEmpty() && QFile(style.topStyle).open(QIODevice::ReadOnly)) {
            QImage shade = G::loadImage(style.topStyle);
            QImage mask = shade.createAlphaMask();
            if (mask.isNull()) {
                mask = QImage(shade.size(), QImage::Format_RGB32);
                mask.fill(Qt::white);
            } else {
                mask.invertPixels();
            }
            QImage top = shade, topPattern = shade;

            paintPixels(shade, style.bottomColor.rgb(), false);
            shiftLightness(shade, -40, 0, shade.width(), 0, shade.height());
            setVisibleAlpha(shade, G::opacityToAlpha(style.shade));
            shade.setAlphaChannel(mask);
            result.shadeIndex = result.layers.size();
            result.layers.append(shade);

            G::fillWithMode(top, QColor(style.topColor.rgb()), QPainter::CompositionMode_Overlay);
            G::applyOpacity(top, style.topOpacity);
            top.setAlphaChannel(mask);
            result.topIndex = result.layers.size();
            result.layers.append(top);
            result.parts.append({"Top Shape", top});

            if (exists(style.topPattern)) {
                const QColor c = style.topPatternColor;
                const int a = G::opacityToAlpha(style.topPatternColorOpacity);
                G::drawTintedImage(style.topPattern.filePath(), 1.0f, &topPattern,
                                   qRgba(c.red(), c.green(), c.blue(), a), a);
                G::applyOpacity(topPattern, style.topPatternOpacity);
                topPattern.setAlphaChannel(mask);
                result.layers.append(topPattern);
                result.parts.append({"Top Pattern", topPattern});
            }
        }

        for (int i = 0; i < result.layers.size(); ++i)
            G::drawImageOver(&canvas, result.layers.at(i), 0, i == result.shadeIndex ? 8 : 0, 1);
        if (style.topDown && result.shadeIndex >= 0) {
            const int h = result.layers.at(result.topIndex).height();
            G::rotateImage(result.layers[result.shadeIndex], 180);
            G::drawImageOver(&canvas, result.layers.at(result.shadeIndex), 0, 120 - h, 1);
            G::rotateImage(result.layers[result.topIndex], 180);
            G::drawImageOver(&canvas, result.layers.at(result.topIndex), 0, 128 - h, 1);
        }
        shiftLightness(canvas, 20, 0, 128, 0, 2);
        result.tile = canvas;
        return result;
    }
};
