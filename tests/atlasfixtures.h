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
