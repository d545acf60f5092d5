#pragma once

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "testfiles.h"

// Small deterministic images and files for tests and benchmarks.
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

// Offset rows of bricks size / 8 high: two greys on opaque mortar, or (holes)
// see-through joints and some half-transparent bricks: alpha, but few values.
inline QImage brickWall(int size, bool holes)
{
    QImage image(size, size, holes ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(holes ? 0 : qRgb(200, 200, 195));
    const int h = qMax(4, size / 8);
    for (int row = 0; row * h < size; ++row)
        for (int x = -(row % 2) * h; x < size; x += 2 * h) {
            const int brick = row + x / h;
            const QRgb colour = holes ? qRgba((row * 37) % 200 + 40, 90, 60, brick % 4 ? 255 : 128)
                                : brick % 3 ? qRgb(120, 118, 110)
                                            : qRgb(150, 145, 140);
            const QRect r = QRect(x + 1, row * h + 1, 2 * h - 2, h - 2) & image.rect();
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int xx = r.left(); xx <= r.right(); ++xx)
                    image.setPixel(xx, y, colour);
        }
    return image;
}

inline QImage holes(int size = 128)
{
    return brickWall(size, true);
}
inline QImage bricks(int size = 128)
{
    return brickWall(size, false);
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

using ::readFile;
using ::writeFile;

// A valid 66-byte PNG declaring 60000 x 60000 pixels: gigabytes to a trusting decoder.
inline QByteArray absurdPng()
{
    return QByteArray::fromHex(
        "89504e470d0a1a0a0000000d494844520000ea600000ea60080600000080d2754"
        "20000000949444154789c630000000100015eff7df90000000049454e44ae426082");
}

} // namespace PreviewFixtures
