#pragma once

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

// Small deterministic images for the preview and generator tests and benchmarks.
namespace PreviewFixtures {

// A grass-like top: an opaque band with a wavy, anti-aliased lower border.
inline QImage topShape(int width = 128, int height = 40)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path({0, 0});
    path.lineTo(width, 0);
    for (int i = 16; i >= 0; --i)
        path.lineTo(double(width) * i / 16, height * (i % 2 ? 0.55 : 0.9));
    path.closeSubpath();
    painter.fillPath(path, QColor(90, 170, 40));
    painter.setPen(QColor(60, 120, 30, 180));
    for (int x = 3; x < width; x += 7)
        painter.drawLine(x, 2, x + 2, height / 3);
    return image;
}

// A pixel-art top: opaque blocks, a stepped lower edge, tufts at alphas 100 and 200.
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

// Bricks size / 8 high in offset rows, with one-pixel joints of the ground colour.
template <typename ColourOf>
QImage brickWall(int size, QImage::Format format, QRgb ground, ColourOf colourOf)
{
    QImage image(size, size, format);
    image.fill(ground);
    const int h = qMax(4, size / 8);
    for (int row = 0; row * h < size; ++row)
        for (int x = -(row % 2) * h; x < size; x += 2 * h) {
            const QRect brick = QRect(x + 1, row * h + 1, 2 * h - 2, h - 2) & image.rect();
            for (int y = brick.top(); y <= brick.bottom(); ++y)
                for (int xx = brick.left(); xx <= brick.right(); ++xx)
                    image.setPixel(xx, y, colourOf(row + x / h, row));
        }
    return image;
}

// See-through joints, some half-transparent bricks: alpha, but few values.
inline QImage holes(int size = 128)
{
    return brickWall(size, QImage::Format_ARGB32, 0, [](int brick, int row) {
        return qRgba((row * 37) % 200 + 40, 90, 60, brick % 4 ? 255 : 128);
    });
}

// Bricks in two greys on a mortar colour, fully opaque.
inline QImage bricks(int size = 128)
{
    return brickWall(size, QImage::Format_RGB32, qRgb(200, 200, 195), [](int brick, int) {
        return brick % 3 ? qRgb(120, 118, 110) : qRgb(150, 145, 140);
    });
}

// Scattered specks of many alphas on a transparent ground.
inline QImage specks(int width = 128, int height = 128)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    quint32 seed = 12345;
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (int i = 0; i < width * height / 12; ++i) {
        const int x = int(next() % quint32(width)), y = int(next() % quint32(height)),
                  shade = int(next() % 200u);
        image.setPixel(x, y, qRgba(shade, shade / 2, 255 - shade, 40 + int(next() % 216u)));
    }
    return image;
}

inline QString save(const QImage &image, const QDir &dir, const QString &name)
{
    image.save(dir.filePath(name), "PNG");
    return dir.filePath(name);
}

} // namespace PreviewFixtures
