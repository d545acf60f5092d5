#pragma once

#include "atlasbuilder.h"
#include "level.h"

#include <QColor>
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QVector>

struct TileStyle;

// What to make from a generated tile set besides the loose tiles.
//
// The .tsx and the .tres describe the atlas sheet and cannot stand without
// it, so asking for either implies the atlas: writesAtlas() is true when any
// of the three is asked for, and the atlas is then written under
// atlasFileName.
struct TilesetExportOptions
{
    bool atlas = false;
    QString atlasFileName = QStringLiteral("tileset.png");
    int columns = 0; // 0: AtlasBuilder's default
    int margin = 0;
    int spacing = 0;
    int extrusion = 0;
    bool powerOfTwo = false;
    bool tsx = false;
    bool tres = false;
    // The .tsx and .tres are baseName + ".tsx" / ".tres".
    QString baseName = QStringLiteral("tileset");
    // A Godot 3 TileSet too, baseName + "_godot3.tres".
    bool tres3 = false;
    // Where the tiles' masks are: the tilesets' collision is traced from
    // them, so that it does not depend on the design's opacities. Empty:
    // from the tiles' own alpha.
    QString maskDirectory = {};
    // The terrain's name and colour in the tilesets (Tiled's Wang colour,
    // Godot's terrain).
    QString terrainName = QStringLiteral("Terrain");
    QColor terrainColor = QColor(0xff, 0, 0);
    // The level as a Tiled map over the .tsx (baseName + ".tmx") and as a
    // Godot 4 scene over the .tres (baseName + ".tscn"); each needs its
    // tileset.
    bool tmx = false;
    bool tscn = false;
    // The level as a Godot 3 scene over the Godot 3 .tres: written whenever
    // both the Godot 4 scene and the Godot 3 tileset are, as
    // baseName + "_godot3.tscn".
    Level level = Level::defaultLevel();

    bool any() const { return atlas || tsx || tres || tres3; }
    bool writesAtlas() const { return any(); }
    AtlasOptions atlasOptions() const;
    // The files an export writes, in the order it writes them.
    QStringList fileNames() const;
    // The terrain named after the design's top shape ("Terrain" without
    // one) in its colour, or the bottom's colour without a top shape.
    void setTerrainFromDesign(const TileStyle &style);
    // Empty when the options can be used, else why not. File names must be
    // plain names (no folder part), so that every file of the set lands in
    // the output folder beside the tiles it was made from.
    QString validate() const;
};

struct TilesetExportFailure
{
    QString fileName; // a tile's or an export file's name; empty: the whole export
    QString reason;

    bool operator==(const TilesetExportFailure &other) const
    {
        return fileName == other.fileName && reason == other.reason;
    }
};

struct TilesetExportResult
{
    bool success = false; // every requested file written
    QVector<TilesetExportFailure> failures;
    QStringList written; // full paths, in the order written
    AtlasLayout layout;  // the atlas as written; empty when none was
};

// Packs the tiles of one generation run into an atlas sheet and writes it
// with its Tiled (.tsx), Godot 4 (.tres) and Godot 3 (_godot3.tres)
// tilesets.
//
// Tiles are read back from the output folder in the order given, which is
// their place on the sheet and so their tile id: pass the masks' names in
// listPngFiles order (tileNames() gives it), and regenerating never
// renumbers a tile. Blob tiles (named by their bitmask) carry their terrain
// labels in every tileset; every other tile is included unlabelled. Every
// tile carries its collision (TileCollision), traced from its mask when
// options.maskDirectory names the masks' folder, else from its own alpha;
// a mask that cannot be read fails the export like a tile that cannot.
//
// All or nothing, for the set as for each file: every tile is read and every
// file's bytes are made before the first write, so an unreadable tile or a
// sheet that cannot be built writes nothing; each file is written whole
// through OutputFolder::writeFile; and when a later file fails, the files this
// export already replaced get their old content back (or are removed when
// they are new), so a .tsx never describes a sheet it was not made with.
//
// Give it only tiles made by the same run: a tile that failed to generate
// may have an older file of its name in the folder.
//
// A caller holding a worker's members needs two lines:
//     const QStringList tiles = TilesetExport::tileNames(alphaDirectory);
//     const TilesetExportResult result = TilesetExport::run(tiles, outputDirectory, options);
class TilesetExport
{
    Q_DECLARE_TR_FUNCTIONS(TilesetExport)

public:
    // The tile file names a generation run writes for this mask folder, in
    // the order it writes them.
    static QStringList tileNames(const QString &maskDirectory);

    // Nothing to do (an empty result with success) when !options.any().
    static TilesetExportResult run(const QStringList &tileFiles, const QString &outputDirectory,
                                   const TilesetExportOptions &options);
};
