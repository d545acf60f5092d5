#include "godot3tilesetwriter.h"

#include "blobmask.h"
#include "godottilesetwriter.h"
#include "polygonoperations.h"

#include <QCoreApplication>
#include <QTextStream>

#include <utility>

namespace {

QString real(double value)
{
    return GodotTilesetWriter::realText(float(value));
}

QString vector2(double x, double y)
{
    return QStringLiteral("Vector2( %1, %2 )").arg(real(x), real(y));
}

QString rect2(const QRect &r)
{
    return QStringLiteral("Rect2( %1, %2, %3, %4 )")
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height());
}

// One convex piece of a tile's collision, and where it goes.
struct Shape
{
    QPolygonF points;
    bool oneWay;
    QPoint subtile; // in the autotile; (0, 0) for a single tile
};

// A tile of the resource: the autotile or a single tile.
struct Tile
{
    int id;
    QString name;
    QRect region;
    bool autotile;
    QVector<Shape> shapes;
};

} // namespace

Godot3TilesetWriter::Godot3TilesetWriter(const AtlasLayout &layout)
    : m_layout(layout), m_terrainName(QStringLiteral("Terrain"))
{
    for (const QString &name : layout.names)
        m_tiles << TileCollision::forName(name);
}

int Godot3TilesetWriter::bitmask(int blobMask)
{
    const std::pair<int, int> bits[] = {{BlobMask::NW, 1},  {BlobMask::N, 2},   {BlobMask::NE, 4},
                                        {BlobMask::W, 8},   {BlobMask::E, 32},  {BlobMask::SW, 64},
                                        {BlobMask::S, 128}, {BlobMask::SE, 256}};
    int result = 16; // the centre: the tile itself
    for (const auto &[blob, godot] : bits) {
        if (blobMask & blob)
            result |= godot;
    }
    return result;
}

QVector<Godot3TilesetWriter::Placement> Godot3TilesetWriter::placements(const AtlasLayout &layout)
{
    QVector<Placement> result(layout.tileCount());
    QRect cells;
    for (int i = 0; i < layout.tileCount(); ++i) {
        if (BlobMask::fromFileName(layout.names.at(i)) != BlobMask::None)
            cells |= QRect(layout.cell(i), QSize(1, 1));
    }
    int nextId = 1;
    for (int i = 0; i < layout.tileCount(); ++i) {
        if (BlobMask::fromFileName(layout.names.at(i)) != BlobMask::None)
            result[i] = {0, layout.cell(i) - cells.topLeft()};
        else
            result[i] = {nextId++, QPoint()};
    }
    return result;
}

QByteArray Godot3TilesetWriter::toText(const QString &texturePath, QString *errorString) const
{
    auto fail = [&](const QString &message) {
        if (errorString)
            *errorString = message;
        return QByteArray();
    };
    if (m_layout.tileCount() == 0 || m_layout.tileSize.isEmpty() ||
        m_layout.tileRects.size() != m_layout.tileCount())
        return fail(
            QCoreApplication::translate("Godot3TilesetWriter", "The atlas has no usable tiles."));
    if (m_tiles.size() != m_layout.tileCount())
        return fail(QCoreApplication::translate("Godot3TilesetWriter",
                                                "The collision is given for %1 tiles, but the "
                                                "atlas has %2.")
                        .arg(m_tiles.size())
                        .arg(m_layout.tileCount()));
    if (texturePath.isEmpty())
        return fail(QCoreApplication::translate("Godot3TilesetWriter",
                                                "The tileset needs a texture path."));

    // The autotile's region: the cells from the first blob tile's to the
    // last's, which other tiles may share without being subtiles.
    const QVector<Placement> placed = placements(m_layout);
    QRect cells;
    int icon = -1;
    for (int i = 0; i < m_layout.tileCount(); ++i) {
        if (placed[i].id != 0)
            continue;
        cells |= QRect(m_layout.cell(i), QSize(1, 1));
        // The editor's icon: the tile surrounded on all sides, else the first.
        if (icon < 0 || BlobMask::fromFileName(m_layout.names.at(i)) == 0xff)
            icon = i;
    }
    const QSize size = m_layout.tileSize;
    const int spacing = m_layout.spacing;

    QVector<Tile> tiles;
    if (!cells.isEmpty()) {
        const QPoint origin(m_layout.margin + cells.left() * (size.width() + spacing),
                            m_layout.margin + cells.top() * (size.height() + spacing));
        const QSize extent(cells.width() * (size.width() + spacing) - spacing,
                           cells.height() * (size.height() + spacing) - spacing);
        tiles.append({0, m_terrainName, QRect(origin, extent), true, {}});
    }
    for (int i = 0; i < m_layout.tileCount(); ++i) {
        const bool sub = placed[i].id == 0;
        if (!sub)
            tiles.append(
                {placed[i].id, m_tiles.at(i).maskName(), m_layout.tileRects.at(i), false, {}});
        Tile &owner = sub ? tiles.first() : tiles.last();
        for (const QPolygonF &polygon : m_tiles.at(i).polygons) {
            for (const QPolygonF &piece : PolygonOperations::convexPieces(polygon))
                owner.shapes.append({piece, m_tiles.at(i).oneWay, placed[i].subtile});
        }
    }

    QString text;
    QTextStream out(&text);
    int shapeCount = 0;
    for (const Tile &t : tiles)
        shapeCount += t.shapes.size();
    // Every shape is a sub-resource, numbered from 1 in order.
    out << "[gd_resource type=\"TileSet\" load_steps=" << shapeCount + 2 << " format=2]\n\n";
    out << "[ext_resource path=" << GodotTilesetWriter::quotedText(texturePath)
        << " type=\"Texture\" id=1]\n\n";
    int id = 0;
    for (const Tile &t : tiles) {
        for (const Shape &shape : t.shapes) {
            QStringList points;
            for (const QPointF &p : shape.points)
                points << real(p.x()) << real(p.y());
            out << "[sub_resource type=\"ConvexPolygonShape2D\" id=" << ++id << "]\n";
            out << "points = PoolVector2Array( " << points.join(QStringLiteral(", ")) << " )\n\n";
        }
    }

    // Each tile's properties in the order Godot 3 writes them.
    out << "[resource]\n";
    id = 0;
    for (const Tile &t : tiles) {
        const QString key = QString::number(t.id) + QLatin1Char('/');
        out << key << "name = " << GodotTilesetWriter::quotedText(t.name) << "\n";
        out << key << "texture = ExtResource( 1 )\n";
        out << key << "region = " << rect2(t.region) << "\n";
        out << key << "tile_mode = " << (t.autotile ? 1 : 0) << "\n";
        if (t.autotile) {
            QStringList flags;
            for (int i = 0; i < m_layout.tileCount(); ++i) {
                if (placed[i].id == 0)
                    flags << vector2(placed[i].subtile.x(), placed[i].subtile.y())
                          << QString::number(bitmask(BlobMask::fromFileName(m_layout.names.at(i))));
            }
            out << key << "autotile/bitmask_mode = 1\n"; // 3x3 (minimal)
            out << key << "autotile/bitmask_flags = [ " << flags.join(QStringLiteral(", "))
                << " ]\n";
            out << key << "autotile/icon_coordinate = "
                << vector2(placed[icon].subtile.x(), placed[icon].subtile.y()) << "\n";
            out << key << "autotile/tile_size = " << vector2(size.width(), size.height()) << "\n";
            out << key << "autotile/spacing = " << spacing << "\n";
        }
        QStringList entries;
        for (const Shape &shape : t.shapes) {
            entries << QStringLiteral("{\n\"autotile_coord\": %1,\n\"one_way\": %2,\n"
                                      "\"one_way_margin\": 1.0,\n\"shape\": SubResource( %3 ),\n"
                                      "\"shape_transform\": Transform2D( 1, 0, 0, 1, 0, 0 )\n}")
                           .arg(vector2(shape.subtile.x(), shape.subtile.y()),
                                shape.oneWay ? QStringLiteral("true") : QStringLiteral("false"))
                           .arg(++id);
        }
        out << key << "shapes = [ " << entries.join(QStringLiteral(", ")) << " ]\n";
    }
    out.flush();
    return text.toUtf8();
}
