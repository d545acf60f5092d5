#pragma once

#include "generatetiles.h"
#include "tilepreview.h"
#include "tilestyle.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTransform>

// The image operations and the preview composition written the plain way:
// pixel()/setPixel() walks in column order, QColor per pixel, one QPainter
// per painter step, every step in the documented order. The optimised code
// in the core must give exactly the same pixels.
namespace PlainOps {

inline void paintPixels(QImage &image, QRgb colour, bool allPixels)
{
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (allPixels || qAlpha(image.pixel(x, y)) != 0)
                image.setPixel(x, y, colour);
}

inline void setVisibleAlpha(QImage &image, int alpha)
{
    if (image.isNull())
        return;
    QImage converted(image.size(), QImage::Format_RGBA8888);
    converted.fill(0);
    QPainter painter(&converted);
    painter.drawImage(0, 0, image);
    painter.end();
    image = converted;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) != 0)
                image.setPixel(x, y,
                               uint(alpha) << 24 | uint(qRed(pixel)) << 16 |
                                   uint(qGreen(pixel)) << 8 | uint(qBlue(pixel)));
        }
    }
}

inline void shiftLightness(QImage &image, int delta, int x0, int x1, int y0, int y1)
{
    for (int x = x0; x < x1; ++x) {
        for (int y = y0; y < y1; ++y) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0)
                continue;
            QColor colour(pixel);
            QColor hsl = colour.toHsl();
            int hue = hsl.hslHue();
            int saturation = hsl.hslSaturation();
            int lightness = hsl.lightness() + delta;
            if (lightness > 255)
                lightness = 255;
            if (lightness <= 0)
                lightness = 0;
            colour.setHsl(hue, saturation, lightness, 255);
            image.setPixel(x, y, qRgba(colour.red(), colour.green(), colour.blue(), 255));
        }
    }
}

inline void applyOpacity(QImage &image, float opacity)
{
    if (image.isNull())
        return;
    QImage faded(image.size(), QImage::Format_RGBA8888);
    faded.fill(0);
    QPainter painter(&faded);
    painter.setOpacity(opacity);
    painter.drawImage(0, 0, image);
    painter.end();
    image = faded;
}

inline void fillWithMode(QImage &image, const QColor &colour, QPainter::CompositionMode mode)
{
    if (image.isNull())
        return;
    QPainter painter(&image);
    painter.setCompositionMode(mode);
    painter.fillRect(image.rect(), colour);
    painter.end();
}

inline void drawImageOver(QImage &target, const QImage &source, int x, int y, float opacity)
{
    if (source.isNull() || target.isNull())
        return;
    QPainter painter(&target);
    painter.setOpacity(opacity);
    painter.drawImage(x, y, source);
    painter.end();
}

inline void rotateImage(QImage &image, int degrees)
{
    QTransform transform;
    transform.rotate(double(degrees), Qt::ZAxis);
    image = image.transformed(transform, Qt::SmoothTransformation);
}

inline bool namesExistingFile(QFileInfo file)
{
    if (file.fileName().isEmpty())
        return false;
    file.refresh();
    return file.isFile() && file.exists();
}

inline int opacityToAlpha(float opacity)
{
    return int(double(opacity) * 255.0);
}

// The preview, step by step.
inline TilePreview composePreview(const TileStyle &style)
{
    TilePreview result;
    QImage canvas(128, 128, QImage::Format_RGBA8888_Premultiplied);
    paintPixels(canvas, style.bottomColor.rgb(), true);
    setVisibleAlpha(canvas, opacityToAlpha(style.bottomOpacity));
    result.parts.append({QStringLiteral("Bottom Shape"), canvas});

    const QFileInfo &bottomPattern = style.bottomPattern;
    if (namesExistingFile(bottomPattern)) {
        QImage pattern =
            generateTiles::loadImage(bottomPattern.path() + "/" + bottomPattern.fileName());
        QColor colour(style.bottomPatternColor.rgb());
        colour.setAlpha(opacityToAlpha(style.bottomPatternColorOpacity));
        fillWithMode(pattern, colour, QPainter::CompositionMode_Overlay);
        applyOpacity(pattern, style.bottomPatternOpacity);
        result.layers.append(pattern);
        result.parts.append({QStringLiteral("Bottom Pattern"), pattern});
    }

    QFile file(style.topStyle);
    if (!style.topStyle.isEmpty() && file.open(QIODevice::ReadOnly)) {
        file.close();
        QImage top = generateTiles::loadImage(style.topStyle);
        QImage mask = top.createAlphaMask();
        if (mask.isNull()) {
            mask = QImage(top.size(), QImage::Format_RGB32);
            mask.fill(Qt::white);
        } else {
            mask.invertPixels();
        }
        QImage topColour = top;
        QImage topPattern = top;

        paintPixels(top, style.bottomColor.rgb(), false);
        shiftLightness(top, -40, 0, top.width(), 0, top.height());
        setVisibleAlpha(top, opacityToAlpha(style.shade));
        top.setAlphaChannel(mask);
        result.shadeIndex = result.layers.size();
        result.layers.append(top);

        fillWithMode(topColour, QColor(style.topColor.rgb()), QPainter::CompositionMode_Overlay);
        applyOpacity(topColour, style.topOpacity);
        topColour.setAlphaChannel(mask);
        result.topIndex = result.layers.size();
        result.layers.append(topColour);
        result.parts.append({QStringLiteral("Top Shape"), topColour});

        const QFileInfo &patternFile = style.topPattern;
        if (namesExistingFile(patternFile)) {
            const int a = opacityToAlpha(style.topPatternColorOpacity);
            const QColor c = style.topPatternColor;
            const QRgb tint = qRgba(c.red(), c.green(), c.blue(), a);
            QImage tinted =
                generateTiles::loadImage(patternFile.path() + "/" + patternFile.fileName());
            if (!tinted.isNull()) {
                if (tint != 0) {
                    QColor overlay;
                    overlay.setRgb(c.red(), c.green(), c.blue(), a);
                    fillWithMode(tinted, overlay, QPainter::CompositionMode_Overlay);
                }
                drawImageOver(topPattern, tinted, 0, 0, 1.0f);
            }
            applyOpacity(topPattern, style.topPatternOpacity);
            topPattern.setAlphaChannel(mask);
            result.layers.append(topPattern);
            result.parts.append({QStringLiteral("Top Pattern"), topPattern});
        }
    }

    for (int i = 0; i < result.layers.size(); ++i)
        drawImageOver(canvas, result.layers.at(i), 0, i == result.shadeIndex ? 8 : 0, 1.0f);

    if (style.topDown && result.shadeIndex >= 0) {
        const int h = result.layers.at(result.topIndex).height();
        rotateImage(result.layers[result.shadeIndex], 180);
        drawImageOver(canvas, result.layers.at(result.shadeIndex), 0, 120 - h, 1.0f);
        rotateImage(result.layers[result.topIndex], 180);
        drawImageOver(canvas, result.layers.at(result.topIndex), 0, 128 - h, 1.0f);
    }

    shiftLightness(canvas, 20, 0, canvas.width(), 0, 2);
    result.tile = canvas;
    return result;
}

} // namespace PlainOps
