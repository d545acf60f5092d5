#pragma once

#include "atlasbuilder.h"
#include "blobmask.h"
#include "testfiles.h"

#include <QtTest>

Q_DECLARE_METATYPE(AtlasOptions)

// Unlike any other tile's pixel, and partly clear: no misplaced or blended pixel passes.
inline QImage distinctTile(int index, const QSize &size)
{
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgba(index * 5 + 1, x * 7 + 3, y * 11 + 5, 40 + (x + y) % 200));
    return image;
}

// In name order: the 47 blob tiles, a look-alike (corner without edges), two of no terrain.
inline QStringList blobSetNames()
{
    QStringList names{"blob_002.png", "platform.png", "slope_left.png"};
    for (int mask : BlobMask::all())
        names.append(BlobMask::fileName(mask));
    names.sort();
    return names;
}

// A 128 px mask for a tile's name: for blob tiles the library's model without its decorations (a
// centre square 16 px in from each side, a strip out to each solid side, the corner squares); a
// 32 px strip along the top for platforms; the part below the diagonal for slopes; else nothing.
inline QImage paintedMask(const QString &name)
{
    QImage mask(128, 128, QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    auto fill = [&](int x, int y, int w, int h) {
        for (int i = 0; i < w * h; ++i)
            mask.setPixel(x + i % w, y + i / w, qRgba(0, 0, 0, 255));
    };
    const int bits = BlobMask::fromFileName(name);
    if (bits != BlobMask::None) {
        fill(16, 16, 96, 96);
        const int rects[8][4] = {{16, 0, 96, 16},    {112, 0, 16, 16},  {112, 16, 16, 96},
                                 {112, 112, 16, 16}, {16, 112, 96, 16}, {0, 112, 16, 16},
                                 {0, 16, 16, 96},    {0, 0, 16, 16}}; // N, NE, ..., NW
        for (int bit = 0; bit < 8; ++bit)
            if (bits & (1 << bit))
                fill(rects[bit][0], rects[bit][1], rects[bit][2], rects[bit][3]);
    } else if (name.startsWith("platform")) {
        fill(0, 0, 128, 32);
    } else if (name.startsWith("slope")) {
        for (int x = 0; x < 128; ++x)
            fill(x, 127 - x, 1, x + 1);
    }
    return mask;
}

inline AtlasSheet packTiles(const QStringList &names, const QSize &size, AtlasOptions options = {})
{
    QVector<AtlasTile> tiles;
    for (const QString &name : names)
        tiles.append({name, distinctTile(tiles.size(), size)});
    AtlasSheet sheet;
    if (!AtlasBuilder::pack(tiles, options, &sheet))
        qFatal("cannot pack the tiles");
    return sheet;
}
