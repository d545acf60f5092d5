#pragma once

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>

// The asset library beside a test binary, which is where the window looks
// for it. Tests build it from small drawn images and remove it afterwards.
namespace WindowAssets {

inline QString root()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Assets");
}

// Spelled out here rather than taken from the program, so a wrong
// directory name cannot agree with itself.
inline QString topStyles()
{
    return root() + QStringLiteral("/TopStyles");
}
inline QString patterns()
{
    return root() + QStringLiteral("/Patterns");
}
inline QString alpha()
{
    return root() + QStringLiteral("/Alpha");
}

// A grass-like top band with a scalloped lower edge, transparent below.
inline QImage topShape(const QColor &colour)
{
    QImage image(128, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRect(0, 0, 128, 22);
    for (int x = 0; x < 128; x += 16)
        painter.drawEllipse(x, 14, 16, 20);
    return image;
}

// Half-transparent checks, so a pattern visibly changes a tile.
inline QImage pattern(const QColor &colour, int cell = 16)
{
    QImage image(128, 128, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    for (int y = 0; y < 128; y += cell)
        for (int x = (y / cell) % 2 * cell; x < 128; x += 2 * cell)
            painter.fillRect(x, y, cell, cell, colour);
    return image;
}

// Solid below a slope, the way alpha masks mark the ground.
inline QImage mask()
{
    QImage image(128, 128, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawPolygon(
        QPolygon({QPoint(0, 40), QPoint(128, 70), QPoint(128, 128), QPoint(0, 128)}));
    return image;
}

inline bool save(const QImage &image, const QString &path)
{
    return image.save(path, "PNG");
}

inline bool removeAll()
{
    QDir dir(root());
    return !dir.exists() || dir.removeRecursively();
}

// Empty TopStyles, Patterns and Alpha folders.
inline bool makeEmpty()
{
    return removeAll() && QDir().mkpath(topStyles()) && QDir().mkpath(patterns()) &&
           QDir().mkpath(alpha());
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace WindowAssets
