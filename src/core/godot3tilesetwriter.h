#pragma once

#include "atlasbuilder.h"
#include "tilecollision.h"

#include <QString>

// Writes a Godot 3 TileSet resource (.tres, text format 2) for an atlas
// sheet. Godot 3 and 4 cannot read each other's tilesets, hence a writer of
// its own.
//
// The blob tiles (recognised by their names) become one autotile in
// "3x3 minimal" bitmask mode, whose 47 subtiles are exactly the blob set:
// its region spans their cells of the sheet, with the sheet's spacing, and
// each subtile carries the bitmask of its neighbours. Every other tile is a
// single tile. Tile ids: 0 is the autotile, named after the terrain; the
// other tiles follow from 1 in packing order. Collision comes as Godot 3
// wants it for tiles: convex polygon shapes (each polygon cut into convex
// pieces), one-way where the tile is.
class Godot3TilesetWriter
{
public:
    // Every tile without collision until setCollisions().
    explicit Godot3TilesetWriter(const AtlasLayout &layout);

    void setTerrainName(const QString &name) { m_terrainName = name; }
    // One per tile, in packing order.
    void setCollisions(const QVector<TileCollision> &tiles) { m_tiles = tiles; }

    // Where each tile of the layout (in packing order) is in the resource:
    // its tile id, and for a subtile of the autotile (id 0) its coordinate
    // in the autotile. A Godot 3 map names its cells by these.
    struct Placement
    {
        int id = 0;
        QPoint subtile;
    };
    static QVector<Placement> placements(const AtlasLayout &layout);

    // Godot 3's bit values: top left 1, top 2, top right 4, left 8, centre
    // 16, right 32, bottom left 64, bottom 128, bottom right 256.
    static int bitmask(int blobMask);

    // The resource text, with 'texturePath' as the texture's path (relative
    // to the .tres or "res://..."). Empty with *errorString set when the
    // layout or the collision does not fit.
    QByteArray toText(const QString &texturePath, QString *errorString = nullptr) const;

private:
    AtlasLayout m_layout;
    QString m_terrainName;
    QVector<TileCollision> m_tiles;
};
