#pragma once

#include <QImage>
#include <QPolygonF>
#include <QSize>
#include <QStringList>
#include <QVector>

// What a game needs to know of one tile to collide with it: its kind, whether
// it is a one-way platform, and the outline of its solid area. Every tileset
// writer takes its collision from here, so Tiled, Godot 4 and Godot 3 agree.
//
// The outline is the area a tile made from the mask shows at least half
// opaque, traced along its pixels and simplified to within 2 px of it at
// 128 px (in proportion at other sizes). Along the tile's borders it is
// exact, so the shapes of neighbouring tiles meet without a step; and where
// a tile open to the sky has its walkable top near the height the set's
// terrain tiles have theirs at the tile's sides, that top is put at exactly
// that height, so a row of such tiles is one flat floor.
class TileCollision
{
public:
    enum class Kind
    {
        Terrain, // the blob set
        Slope,   // named "slope..."
        Platform,
        Other
    };

    QString name; // the tile's file name
    Kind kind = Kind::Other;
    // Names starting with "platform" or containing "_oneway": solid from
    // above only.
    bool oneWay = false;
    // In tile pixels, origin at the tile's top left; one per separate solid
    // region, none for an empty tile.
    QVector<QPolygonF> polygons;

    // Kind and one-way from the name; no polygons.
    static TileCollision forName(const QString &tileName);
    // "terrain", "slope", "platform" or "other".
    QString kindName() const;
    // The name without ".png": what game code sees.
    QString maskName() const;

    // 255 where a tile cut to this mask is at least half opaque, else 0
    // (Format_Grayscale8): the mask as TilePipeline cuts with it, so the
    // collision does not depend on the design's opacities.
    static QImage solidOfMask(const QImage &mask);
    // 255 where the image's alpha is at least half.
    static QImage solidOfImage(const QImage &image);

    // One entry per name, in order: solids[i] (from the functions above, at
    // any resolution) traced and scaled to tileSize. The common floor height
    // is found over the whole set, hence one call for all tiles.
    static QVector<TileCollision> trace(const QStringList &names, const QVector<QImage> &solids,
                                        const QSize &tileSize);

    // The simplification's tolerance for an outline traced at this many
    // pixels across.
    static double tolerance(int size) { return 2.0 * size / 128.0; }
};
