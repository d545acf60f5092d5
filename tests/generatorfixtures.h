#pragma once

#include "previewfixtures.h"
#include "tilestyle.h"

#include <QMap>
#include <QRandomGenerator>

#include <cmath>

// Deterministic masks and designs for the generator's tests and benchmarks.
namespace GeneratorFixtures {

constexpr int Size = 128;

inline QImage solid(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// colour from row surface(x) down, background above; -1: an empty column.
template <typename Surface>
QImage maskBelow(Surface surface, QRgb colour = qRgb(0, 0, 0), int size = Size, QRgb background = 0)
{
    QImage mask = solid(size, size, background);
    for (int x = 0; x < size; ++x)
        for (int y = surface(x); y >= 0 && y < size; ++y)
            mask.setPixel(x, y, colour);
    return mask;
}

// Waves, some anti-aliased or grey, some notched or with a floating ledge.
inline QImage variedMask(int i, int size = Size)
{
    QImage mask = solid(size, size, 0);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing, i % 3 == 0);
    const double s = size / 128.0;
    QPainterPath path(QPointF(0, size));
    for (int x = 0; x <= size; x += 2)
        path.lineTo(
            x, (10 + (i * 37) % 90 + (i * 13) % 30 * std::sin(x * (0.02 + i % 7 * 0.015) + i)) * s);
    path.lineTo(size, size);
    painter.fillPath(path, i % 5 ? QColor(0, 0, 0) : QColor(90, 90, 90));
    if (i % 4 == 1) {
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillRect(QRectF(i % 50 * s, 0, 20 * s, size), Qt::transparent);
    }
    if (i % 6 == 2) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.fillRect(QRectF(30 * s, 5 * s, 40 * s, 8 * s), Qt::black);
    }
    return mask;
}

inline QString variedMaskName(int i)
{
    return QString("mask%1%2.png").arg(i, 4, 10, QChar('0')).arg(i % 10 == 9 ? "_notop" : "");
}

// The benchmarks' set: every eighth mask 64 x 64, so the scaling path runs too.
inline QImage benchmarkMask(int i)
{
    return variedMask(i, i % 8 == 7 ? 64 : 128);
}

inline void writeBenchmarkMasks(const QString &dir, int count)
{
    QDir().mkpath(dir);
    for (int i = 0; i < count; ++i)
        benchmarkMask(i).save(dir + "/" + variedMaskName(i));
}

// Edges at the top and off the bottom, empty columns, grey, coloured and
// translucent masks, other formats and sizes: every shortcut of the pipeline.
inline QMap<QString, QImage> masks()
{
    const QImage grey = maskBelow([](int x) { return 40 + x / 16; }, qRgb(128, 128, 128));
    QImage noise = solid(Size, Size, 0); // too many grey levels for the fast cut
    QRandomGenerator(99).fillRange(reinterpret_cast<quint32 *>(noise.scanLine(20)), Size * 108);
    QMap<QString, QImage> list{
        // Empty on the left, full in the middle, from row 20 on the right.
        {"three parts", maskBelow([](int x) { return x < 42 ? -1 : x / 85 * 20; })},
        {"edge at the top", maskBelow([](int x) { return x / 8 % 2 ? 0 : 3; })},
        {"off the bottom", maskBelow([](int x) { return 118 + x % 10; })},
        {"empty columns", maskBelow([](int x) { return x % 3 == 1 ? -1 : 30 + x % 7; })},
        {"grey", grey},
        {"translucent", maskBelow([](int x) { return 10 + x / 3; }, qRgba(0, 0, 0, 128))},
        {"coloured", maskBelow([](int x) { return 50 - x / 4; }, qRgb(200, 30, 30))},
        {"no alpha channel", maskBelow([](int x) { return 60 - x / 5; }, qRgb(0, 0, 0), Size, ~0u)
                                 .convertToFormat(QImage::Format_RGB32)},
        {"palette", variedMask(1).convertToFormat(QImage::Format_Indexed8)},
        {"grey levels", grey.convertToFormat(QImage::Format_Grayscale8)},
        {"64 x 64", maskBelow([](int x) { return 10 + x / 4; }, qRgb(0, 0, 0), 64)},
        {"200 x 100", variedMask(3, 200).scaled(200, 100)},
        {"noise", noise},
        {"empty", solid(Size, Size, 0)},
    };
    for (int i = 0; i < 6; ++i)
        list.insert(QString("varied %1").arg(i), variedMask(i));
    return list;
}

// A design from words such as "top=grass bottomPattern=bricks shade=0.7", keys
// named as TileStyle's fields; images named below are saved into dir.
inline TileStyle styleFrom(const QString &words, const QDir &dir)
{
    using namespace PreviewFixtures;
    const QStringList names{"grass",  "narrow", "pixel",       "opaque", "stripe",
                            "bricks", "specks", "smallspecks", "holes"};
    const QImage opaque = topShape().convertToFormat(QImage::Format_RGB32); // no alpha
    const QImage images[] = {
        topShape(), topShape(64, 150), pixelTop(),     opaque, solid(Size, 4, 0xff2040c0u),
        bricks(),   specks(),          specks(50, 40), holes()};
    TileStyle style;
    for (const QString &word : words.split(' ', Qt::SkipEmptyParts)) {
        const QString key = word.section('=', 0, 0), value = word.section('=', 1);
        const int i = names.indexOf(value);
        const QString file = i < 0 ? dir.filePath(value) : save(images[i], dir, value + ".png");
        const StylePart part = key.startsWith("top") ? StylePart::Top : StylePart::Bottom;
        const QString field = key.mid(part == StylePart::Top ? 3 : 6);
        float *number = key == "shade"                   ? &style.shade
                        : field == "Opacity"             ? &style.opacity(part)
                        : field == "PatternOpacity"      ? &style.patternOpacity(part)
                        : field == "PatternColorOpacity" ? &style.patternColorOpacity(part)
                                                         : nullptr;
        if (number)
            *number = value.toFloat();
        else if (field == "Color" || field == "PatternColor")
            (field == "Color" ? style.color(part) : style.patternColor(part)) = QColor(value);
        else if (field == "Pattern")
            style.pattern(part) = QFileInfo(file);
        else if (key == "top")
            style.topStyle = file;
        else
            qFatal("unknown style word %s", qPrintable(word));
    }
    return style;
}

} // namespace GeneratorFixtures
