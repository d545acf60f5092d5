#include "tilecollision.h"

#include "blobmask.h"
#include "imageoperations.h"
#include "polygonoperations.h"
#include "tilepipeline.h"

#include <QMap>

#include <cmath>

namespace {

namespace P = PolygonOperations;

QImage threshold(const QImage &grey)
{
    QImage solid(grey.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *in = grey.constScanLine(y);
        uchar *out = solid.scanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            out[x] = in[x] >= 128 ? 255 : 0;
    }
    return solid;
}

// Where an open top meets the tile's left and right border: the first solid
// row of the outermost columns.
void voteForFloor(const QImage &solid, QMap<double, int> &votes)
{
    for (int x : {0, solid.width() - 1}) {
        for (int y = 0; y < solid.height(); ++y) {
            if (solid.constScanLine(y)[x] != 0) {
                ++votes[double(y) / solid.height()];
                break;
            }
        }
    }
}

// The outline's top edges (run eastward: solid below, sky above) within
// 'reach' of the floor moved onto it.
QPolygonF onFloor(const QPolygonF &outline, double floor, double reach)
{
    QPolygonF moved = outline;
    const int n = outline.size();
    for (int i = 0; i < n; ++i) {
        const QPointF &a = outline[i], &b = outline[(i + 1) % n];
        if (a.y() == b.y() && b.x() > a.x() && std::abs(a.y() - floor) <= reach) {
            moved[i].setY(floor);
            moved[(i + 1) % n].setY(floor);
        }
    }
    return P::withoutCollinear(moved);
}

// Vertices at either end of an edge along the tile's border, and of a top
// edge on the floor: the places where this tile's shape meets a neighbour's.
QVector<bool> pins(const QPolygonF &outline, const QSize &size, double floor)
{
    const int n = outline.size();
    QVector<bool> pinned(n, false);
    for (int i = 0; i < n; ++i) {
        const QPointF &a = outline[i], &b = outline[(i + 1) % n];
        const bool border = (a.x() == b.x() && (a.x() == 0 || a.x() == size.width())) ||
                            (a.y() == b.y() && (a.y() == 0 || a.y() == size.height()));
        const bool onTheFloor = a.y() == floor && b.y() == floor && b.x() > a.x();
        if (border || onTheFloor)
            pinned[i] = pinned[(i + 1) % n] = true;
    }
    return pinned;
}

// The fewest vertices that still make a simple polygon: a tighter
// tolerance when the first try crosses itself, the outline as traced when
// nothing else does.
QPolygonF simplified(const QPolygonF &outline, const QSize &size, double floor, double tolerance)
{
    const QVector<bool> pinned = pins(outline, size, floor);
    for (double t = tolerance; t >= 0.25; t /= 2) {
        const QPolygonF result = P::simplify(outline, t, pinned);
        if (P::isSimple(result))
            return result;
    }
    return outline;
}

} // namespace

TileCollision TileCollision::forName(const QString &tileName)
{
    TileCollision tile;
    tile.name = tileName;
    const QString base = tile.maskName();
    const bool slope = base.startsWith(QLatin1String("slope"), Qt::CaseInsensitive);
    tile.oneWay = base.startsWith(QLatin1String("platform"), Qt::CaseInsensitive) ||
                  base.contains(QLatin1String("_oneway"), Qt::CaseInsensitive);
    if (BlobMask::fromFileName(tileName) != BlobMask::None)
        tile.kind = Kind::Terrain;
    else if (slope)
        tile.kind = Kind::Slope;
    else if (tile.oneWay)
        tile.kind = Kind::Platform;
    return tile;
}

QString TileCollision::kindName() const
{
    switch (kind) {
    case Kind::Terrain:
        return QStringLiteral("terrain");
    case Kind::Slope:
        return QStringLiteral("slope");
    case Kind::Platform:
        return QStringLiteral("platform");
    case Kind::Other:
        break;
    }
    return QStringLiteral("other");
}

QString TileCollision::maskName() const
{
    return name.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? name.chopped(4) : name;
}

QImage TileCollision::solidOfMask(const QImage &mask)
{
    if (mask.isNull())
        return QImage();
    // TilePipeline's steps: the mask over white, inverted, as grey is how
    // much of the tile it keeps.
    QImage keep = mask.convertToFormat(QImage::Format_ARGB32);
    ImageOperations::flattenOnWhite(keep);
    keep.invertPixels();
    return threshold(keep.convertToFormat(QImage::Format_Grayscale8));
}

QImage TileCollision::solidOfImage(const QImage &image)
{
    if (image.isNull())
        return QImage();
    QImage alpha = image.convertToFormat(QImage::Format_Alpha8);
    alpha.reinterpretAsFormat(QImage::Format_Grayscale8);
    return threshold(alpha);
}

QVector<TileCollision> TileCollision::trace(const QStringList &names, const QVector<QImage> &solids,
                                            const QSize &tileSize)
{
    QVector<TileCollision> tiles;
    QVector<bool> flat(names.size(), false);
    for (int i = 0; i < names.size(); ++i) {
        tiles << forName(names[i]);
        // Open to the sky ("_notop" marks a tile whose top is covered) and
        // meant to be level.
        flat[i] = TilePipeline::wantsTop(names[i]) && tiles[i].kind != Kind::Slope &&
                  !solids.value(i).isNull();
    }
    // The terrain tiles set the floor; without them, any level tile does.
    QMap<double, int> votes;
    for (Kind voters : {Kind::Terrain, Kind::Other}) {
        for (int i = 0; i < tiles.size(); ++i) {
            if (flat[i] && (voters == Kind::Other || tiles[i].kind == Kind::Terrain))
                voteForFloor(solids[i], votes);
        }
        if (!votes.isEmpty())
            break;
    }
    double floor = -1; // as a fraction of the height; none when negative
    int most = 0;
    for (auto it = votes.cbegin(); it != votes.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            floor = it.key();
        }
    }

    for (int i = 0; i < tiles.size(); ++i) {
        const QImage &solid = solids.value(i);
        if (solid.isNull())
            continue;
        const QSize size = solid.size();
        const double tolerance = TileCollision::tolerance(qMax(size.width(), size.height()));
        const double floorRow = flat[i] && floor >= 0 ? std::round(floor * size.height()) : -1;
        const double sx = double(tileSize.width()) / size.width();
        const double sy = double(tileSize.height()) / size.height();
        for (const QPolygonF &traced : P::traceOutlines(solid)) {
            // Specks smaller than the tolerance are no place to stand on.
            if (P::signedArea(traced) < tolerance * tolerance)
                continue;
            QPolygonF outline = traced;
            if (floorRow >= 0) {
                const QPolygonF levelled = onFloor(traced, floorRow, tolerance);
                if (P::isSimple(levelled))
                    outline = levelled;
            }
            QPolygonF polygon = simplified(outline, size, floorRow, tolerance);
            for (QPointF &point : polygon)
                point = QPointF(point.x() * sx, point.y() * sy);
            tiles[i].polygons << polygon;
        }
    }
    return tiles;
}
