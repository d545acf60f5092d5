#pragma once

#include "atlasbuilder.h"
#include "tilecollision.h"

#include <QColor>
#include <QString>

// Writes a Godot 4 TileSet resource (.tres, text format 3) for an atlas
// sheet: one atlas source, one terrain set in "Match Corners and Sides" mode
// with a single terrain, and one physics layer. Blob tiles (recognised by
// their names) belong to the terrain with peering bits from their bitmask;
// every tile gets its collision polygons on the physics layer, one-way where
// the tile is. An extruded sheet turns off Godot's own texture padding,
// which would otherwise copy the tiles into a padded texture of its own and
// ignore ours.
class GodotTilesetWriter
{
public:
    // Every tile without collision until setCollisions().
    explicit GodotTilesetWriter(const AtlasLayout &layout);

    // One per tile, in packing order.
    void setCollisions(const QVector<TileCollision> &tiles) { m_tiles = tiles; }

    void setTerrainName(const QString &name) { m_terrainName = name; }
    void setTerrainColor(const QColor &color) { m_terrainColor = color; }
    // The texture's path as written, e.g. "res://tiles/atlas.png". By
    // default write() names the sheet relative to the .tres, which Godot
    // resolves against the resource's own folder.
    void setTexturePath(const QString &path) { m_texturePath = path; }

    // The resource text, with 'texturePath' as the texture's path. Empty with
    // *errorString set when the layout or the terrain is unusable.
    QByteArray toText(const QString &texturePath, QString *errorString = nullptr) const;
    // Nothing is written when the resource is invalid or the write fails.
    bool write(const QString &tresPath, const QString &imagePath,
               QString *errorString = nullptr) const;

    // How Godot's text resources, version 3 and 4 alike, write a real (the
    // shortest text that reads back as the same 32-bit float, whole numbers
    // without ".0") and a string.
    static QString realText(float value);
    static QString quotedText(QString text);

private:
    AtlasLayout m_layout;
    QString m_terrainName;
    QColor m_terrainColor;
    QString m_texturePath;
    QVector<TileCollision> m_tiles;
};
