#pragma once

#include "tilestyle.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

// Small deterministic input images for the preview tests and benchmark,
// drawn with QPainter and saved as PNG.
namespace PreviewFixtures {

// A grass-like top edge: an opaque band with a wavy, anti-aliased lower
// border, transparent below it.
inline QImage topShape(int width = 128, int height = 40)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(0, 0);
    path.lineTo(width, 0);
    const int steps = 16;
    for (int i = steps; i >= 0; --i) {
        const double x = double(width) * i / steps;
        const double y = height * (i % 2 ? 0.55 : 0.9);
        path.lineTo(x, y);
    }
    path.closeSubpath();
    painter.fillPath(path, QColor(90, 170, 40));
    painter.setPen(QColor(60, 120, 30, 180));
    for (int x = 3; x < width; x += 7)
        painter.drawLine(x, 2, x + 2, height / 3);
    return image;
}

// A hard-edged pixel-art top: opaque blocks with a stepped lower edge and
// a few tufts at alphas 100 and 200, transparent elsewhere.
inline QImage pixelTop(int width = 128, int height = 32)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int x = 0; x < width; ++x) {
        const int depth = height / 2 + ((x / 4) % 4) * height / 8;
        for (int y = 0; y < qMin(depth, height); ++y)
            image.setPixel(x, y, (y / 3 + x / 5) % 3 ? qRgb(70, 150, 40) : qRgb(100, 190, 60));
        if (depth < height)
            image.setPixel(x, depth, qRgba(50, 120, 30, (x % 3) ? 200 : 100));
    }
    return image;
}

// Bricks with see-through mortar and some half-transparent bricks: a
// pattern with alpha but only a few alpha values.
inline QImage holes(int size = 128)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const int rowHeight = qMax(4, size / 8);
    for (int row = 0; row * rowHeight < size; ++row) {
        const int offset = (row % 2) ? rowHeight : 0;
        for (int x = -offset; x < size; x += 2 * rowHeight) {
            const int alpha = (row + x / rowHeight) % 4 ? 255 : 128;
            const QColor colour((row * 37) % 200 + 40, 90, 60, alpha);
            for (int y = row * rowHeight + 1; y < qMin(size, (row + 1) * rowHeight - 1); ++y)
                for (int xx = qMax(0, x + 1); xx < qMin(size, x + 2 * rowHeight - 1); ++xx)
                    image.setPixel(xx, y, colour.rgba());
        }
    }
    return image;
}

// Bricks in two greys on a mortar colour, fully opaque.
inline QImage bricks(int size = 128)
{
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(QColor(200, 200, 195));
    QPainter painter(&image);
    const int rowHeight = qMax(4, size / 8);
    for (int row = 0; row * rowHeight < size; ++row) {
        const int offset = (row % 2) ? rowHeight : 0;
        for (int x = -offset; x < size; x += 2 * rowHeight) {
            const QColor colour =
                ((row + x / rowHeight) % 3) ? QColor(120, 118, 110) : QColor(150, 145, 140);
            painter.fillRect(x + 1, row * rowHeight + 1, 2 * rowHeight - 2, rowHeight - 2, colour);
        }
    }
    return image;
}

// Scattered specks with partial alpha on a transparent ground.
inline QImage specks(int width = 128, int height = 128)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    quint32 seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int i = 0; i < width * height / 12; ++i) {
        const int x = int(next() % quint32(width));
        const int y = int(next() % quint32(height));
        const int shade = int(next() % 200u);
        image.setPixel(x, y, qRgba(shade, shade / 2, 255 - shade, 40 + int(next() % 216u)));
    }
    return image;
}

inline QString save(const QImage &image, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    image.save(path, "PNG");
    return path;
}

// The full design: top shape, both patterns and the repeat at the bottom.
inline TileStyle fullStyle(const QDir &dir)
{
    TileStyle style;
    style.topStyle = save(topShape(), dir, QStringLiteral("grass.png"));
    style.bottomPattern = QFileInfo(save(bricks(), dir, QStringLiteral("bricks.png")));
    style.topPattern = QFileInfo(save(specks(), dir, QStringLiteral("specks.png")));
    style.topDown = true;
    return style;
}

} // namespace PreviewFixtures
