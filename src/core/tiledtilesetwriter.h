#pragma once

#include "atlasbuilder.h"
#include "blobmask.h"
#include "tilecollision.h"

#include <QColor>
#include <QMap>
#include <QString>

#include <array>

// Writes a Tiled external tileset (.tsx) for an atlas sheet, with one Wang
// set of type "mixed" that lets Tiled's terrain brush pick the right blob
// tile for every neighbourhood, and per tile its kind as Tiled's tile type,
// its mask's name and whether it is one-way as properties, and its
// collision polygons as Tiled's per-tile object group.
class TiledTilesetWriter
{
public:
    struct WangColor
    {
        QString name;
        QColor color;
        double probability = 1.0;
    };
    // Colour index per Direction: 0 is empty, 1..n the wang set's colours.
    using WangId = std::array<int, BlobMask::DirectionCount>;

    // Blob tiles (recognised by their names) get the wangid of their
    // bitmask with one colour, "Terrain"; other tiles get none. The isolated
    // tile's wangid is all zeros, which Tiled reads as none, so it is not
    // written. Every tile has its kind from its name and no collision until
    // setCollisions().
    explicit TiledTilesetWriter(const AtlasLayout &layout);

    // Default: the base name of the .tsx file.
    void setName(const QString &name) { m_name = name; }
    void setWangSetName(const QString &name) { m_wangSetName = name; }
    void setColors(const QVector<WangColor> &colors) { m_colors = colors; }
    const QVector<WangColor> &colors() const { return m_colors; }
    // Overrides the wangid of the tile at 'index' in packing order.
    void setWangId(int index, const WangId &id) { m_wangIds[index] = id; }
    void clearWangId(int index) { m_wangIds.remove(index); }
    bool hasWangId(int index) const { return m_wangIds.contains(index); }
    // One per tile, in packing order.
    void setCollisions(const QVector<TileCollision> &tiles) { m_tiles = tiles; }

    // Colour 1 where the neighbour is solid, 0 where it is empty.
    static WangId wangIdForMask(int mask);
    // Tiled's tile id of the tile at 'index' in packing order: Tiled numbers
    // every cell of the sheet row by row.
    int tileId(int index) const;

    // The .tsx text, with 'imageSource' as the image's path. Empty with
    // *errorString set when a wangid uses a colour the set does not have.
    QByteArray toXml(const QString &imageSource, QString *errorString = nullptr) const;
    // Writes the tileset to tsxPath, naming imagePath relative to it.
    // Nothing is written when the tileset is invalid or the write fails.
    bool write(const QString &tsxPath, const QString &imagePath,
               QString *errorString = nullptr) const;

private:
    bool validate(QString *errorString) const;

    AtlasLayout m_layout;
    QString m_name;
    QString m_wangSetName;
    QVector<WangColor> m_colors;
    QMap<int, WangId> m_wangIds; // by index in packing order, so output is sorted
    QVector<TileCollision> m_tiles;
};
