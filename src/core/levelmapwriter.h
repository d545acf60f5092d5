#pragma once

#include "atlasbuilder.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QVector>

class Level;

// A level as a map for the engines, on the tileset exported with it: a
// Tiled map (.tmx) over our .tsx, a Godot 4 scene (.tscn) with one
// TileMapLayer over our Godot 4 .tres, and a Godot 3 scene with a TileMap
// over our Godot 3 .tres. Each cell refers to the tile its
// name gives (Level::tileName) at that tile's place on the sheet; a cell
// whose tile is not on the sheet stays empty.
class LevelMapWriter
{
    Q_DECLARE_TR_FUNCTIONS(LevelMapWriter)

public:
    LevelMapWriter(const Level &level, const AtlasLayout &layout);

    // tilesetFile: the .tsx's or .tres's file name, beside the map.
    QByteArray toTmx(const QString &tilesetFile) const;
    QByteArray toGodot4Scene(const QString &tilesetFile) const;
    // A TileMap over our Godot 3 .tres: blob cells name their subtile of
    // the autotile, so the map looks right without a bitmask update.
    QByteArray toGodot3Scene(const QString &tilesetFile) const;

private:
    // The tile's index in the layout, -1 when it is not on the sheet.
    int tileIndex(int x, int y) const;

    const Level &m_level;
    const AtlasLayout &m_layout;
    QVector<int> m_indices; // per cell, row by row
};
