#pragma once

#include "previewfixtures.h"
#include "tilestyle.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cmath>
#include <functional>
#include <vector>

// Alpha masks and designs for the generator's tests and benchmark, drawn
// here so that every case is deterministic.
namespace GeneratorFixtures {

constexpr int Size = 128;

// Opaque black under a surface line; surface(x) < 0 leaves the column empty,
// a value >= height leaves it empty too.
inline QImage maskBelow(const std::function<int(int)> &surface, int size = Size,
                        QRgb solid = qRgb(0, 0, 0))
{
    QImage mask(size, size, QImage::Format_ARGB32);
    mask.fill(0);
    for (int x = 0; x < size; ++x) {
        const int top = surface(x);
        if (top < 0)
            continue;
        for (int y = top; y < size; ++y)
            mask.setPixel(x, y, solid);
    }
    return mask;
}

inline QImage fullMask()
{
    return maskBelow([](int) { return 0; });
}

// Row 0 at the left to row 118 at the right.
inline QImage slopeMask()
{
    return maskBelow([](int x) { return x * 118 / 127; });
}

inline QImage emptyLeftHalfMask()
{
    return maskBelow([](int x) { return x < Size / 2 ? -1 : 20; });
}

// Surfaces at row 0 in some columns and a little lower in others.
inline QImage edgeAtTopMask()
{
    return maskBelow([](int x) { return (x / 8) % 2 ? 0 : 3; });
}

// Surfaces in the last rows, so the top and its shadow run off the tile.
inline QImage offBottomMask()
{
    return maskBelow([](int x) { return 118 + x % 10; });
}

inline QImage emptyColumnsMask()
{
    return maskBelow([](int x) { return x % 3 == 1 ? -1 : 30 + (x % 7); });
}

// Opaque grey: partial alpha in the tile, full top.
inline QImage greyMask()
{
    return maskBelow([](int x) { return 40 + x / 16; }, Size, qRgb(128, 128, 128));
}

inline QImage colouredMask()
{
    QImage mask = maskBelow([](int x) { return 50 - x / 4; });
    for (int y = 0; y < Size; ++y)
        for (int x = 0; x < Size; ++x)
            if (qAlpha(mask.pixel(x, y)))
                mask.setPixel(x, y,
                              x < 40   ? qRgb(200, 30, 30)
                              : x < 90 ? qRgb(20, 160, 40)
                                       : qRgb(30, 40, 220));
    return mask;
}

// An anti-aliased hill: partly transparent pixels along its edge.
inline QImage antialiasedMask(int size = Size)
{
    QImage mask(size, size, QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(0, size);
    for (int x = 0; x <= size; x += 4)
        path.lineTo(x, size * 0.4 + size * 0.25 * std::sin(x * 0.07));
    path.lineTo(size, size);
    path.closeSubpath();
    painter.fillPath(path, QColor(0, 0, 0));
    return mask;
}

// Half-transparent black, everywhere below the surface.
inline QImage translucentMask()
{
    return maskBelow([](int x) { return 10 + x / 3; }, Size, qRgba(0, 0, 0, 128));
}

inline QImage smallMask()
{
    QImage mask(64, 64, QImage::Format_ARGB32);
    mask.fill(0);
    for (int x = 0; x < 64; ++x)
        for (int y = 10 + x / 4; y < 64; ++y)
            mask.setPixel(x, y, qRgb(0, 0, 0));
    return mask;
}

// No alpha channel: opaque everywhere, white above the line.
inline QImage rgbMask()
{
    QImage mask(Size, Size, QImage::Format_RGB32);
    mask.fill(Qt::white);
    for (int x = 0; x < Size; ++x)
        for (int y = 60 - x / 5; y < Size; ++y)
            mask.setPixel(x, y, qRgb(0, 0, 0));
    return mask;
}

// A palette image, as small PNG writers like to make.
inline QImage indexedMask()
{
    return slopeMask().convertToFormat(QImage::Format_Indexed8);
}

inline QImage noiseMask()
{
    QImage mask(Size, Size, QImage::Format_ARGB32);
    quint32 seed = 99;
    for (int y = 0; y < Size; ++y)
        for (int x = 0; x < Size; ++x) {
            seed = seed * 1664525u + 1013904223u;
            mask.setPixel(x, y, y < 20 ? 0u : qRgba(int(seed >> 24), 0, 0, int(seed >> 16) & 255));
        }
    return mask;
}

inline QImage emptyMask()
{
    QImage mask(Size, Size, QImage::Format_ARGB32);
    mask.fill(0);
    return mask;
}

// The varied set the benchmark writes: hills, steps, holes and notches of
// many shapes, some anti-aliased or grey, every tenth a "_notop" mask.
inline QImage variedMask(int index, int size = Size)
{
    QImage mask(size, size, QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing, index % 3 == 0);
    const double s = size / 128.0;
    const double base = (10 + (index * 37) % 90) * s;
    const double amplitude = ((index * 13) % 30) * s;
    const double frequency = 0.02 + (index % 7) * 0.015;
    QPainterPath path;
    path.moveTo(0, size);
    for (int x = 0; x <= size; x += 2)
        path.lineTo(x, base + amplitude * std::sin(x * frequency + index));
    path.lineTo(size, size);
    path.closeSubpath();
    const int grey = index % 5 == 0 ? 90 : 0;
    painter.fillPath(path, QColor(grey, grey, grey));
    if (index % 4 == 1) {
        // A notch out of the surface.
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillRect(QRectF((index % 50) * s, 0, 20 * s, size), Qt::transparent);
    }
    if (index % 6 == 2) {
        // A floating ledge above the ground.
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.fillRect(QRectF(30 * s, 5 * s, 40 * s, 8 * s), Qt::black);
    }
    return mask;
}

inline QString variedMaskName(int index)
{
    return QStringLiteral("mask%1%2.png")
        .arg(index, 4, 10, QLatin1Char('0'))
        .arg(index % 10 == 9 ? QStringLiteral("_notop") : QString());
}

// A top shape without alpha channel (a plain opaque strip).
inline QImage opaqueTop()
{
    QImage top(Size, 12, QImage::Format_RGB32);
    for (int y = 0; y < top.height(); ++y)
        for (int x = 0; x < Size; ++x)
            top.setPixel(x, y, qRgb(60 + y * 10, 140 + (x % 9) * 5, 40));
    return top;
}

// The default look: a grass top, flat colours.
inline TileStyle flatStyle(const QDir &dir)
{
    TileStyle style;
    style.topStyle = PreviewFixtures::save(PreviewFixtures::topShape(), dir, "grass.png");
    return style;
}

// A textured base and a patterned top.
inline TileStyle texturedStyle(const QDir &dir)
{
    TileStyle style = flatStyle(dir);
    style.bottomPattern =
        QFileInfo(PreviewFixtures::save(PreviewFixtures::bricks(), dir, "bricks.png"));
    style.topPattern =
        QFileInfo(PreviewFixtures::save(PreviewFixtures::specks(), dir, "specks.png"));
    return style;
}

// A well-formed PNG of under 100 bytes whose header declares width x height
// RGBA pixels.
inline QByteArray declaredPng(quint32 width, quint32 height)
{
    auto bigEndian = [](quint32 v) {
        QByteArray out;
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(char((v >> shift) & 0xff));
        return out;
    };
    auto crc32 = [](const QByteArray &data) {
        quint32 crc = 0xffffffffu;
        for (char c : data) {
            crc ^= quint8(c);
            for (int i = 0; i < 8; ++i)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        return crc ^ 0xffffffffu;
    };
    auto chunk = [&](const char *type, const QByteArray &data) {
        const QByteArray typed = QByteArray(type, 4) + data;
        return bigEndian(quint32(data.size())) + typed + bigEndian(crc32(typed));
    };
    const QByteArray ihdr =
        bigEndian(width) + bigEndian(height) + QByteArray("\x08\x06\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
           chunk("IDAT", QByteArray("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9)) +
           chunk("IEND", QByteArray());
}

} // namespace GeneratorFixtures
