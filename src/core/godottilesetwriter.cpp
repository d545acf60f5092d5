#include "godottilesetwriter.h"

#include "blobmask.h"
#include "safefilewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {

bool fail(QString *errorString, const QString &message)
{
    if (errorString)
        *errorString = message;
    return false;
}

QString number(float value)
{
    return GodotTilesetWriter::realText(value);
}

QString quoted(const QString &text)
{
    return GodotTilesetWriter::quotedText(text);
}

QString vector2i(int x, int y)
{
    return QStringLiteral("Vector2i(%1, %2)").arg(x).arg(y);
}

// Godot's peering bit names for square tiles, in the order Godot writes them.
struct PeeringBit
{
    const char *name;
    BlobMask::Direction direction;
};
const PeeringBit peeringBits[] = {
    {"right_side", BlobMask::Direction::Right},
    {"bottom_right_corner", BlobMask::Direction::BottomRight},
    {"bottom_side", BlobMask::Direction::Bottom},
    {"bottom_left_corner", BlobMask::Direction::BottomLeft},
    {"left_side", BlobMask::Direction::Left},
    {"top_left_corner", BlobMask::Direction::TopLeft},
    {"top_side", BlobMask::Direction::Top},
    {"top_right_corner", BlobMask::Direction::TopRight},
};

const char *const TextureId = "1_atlas";
const char *const SourceId = "TileSetAtlasSource_atlas";

} // namespace

GodotTilesetWriter::GodotTilesetWriter(const AtlasLayout &layout)
    : m_layout(layout), m_terrainName(QStringLiteral("Terrain")), m_terrainColor(0xff, 0, 0)
{
    for (const QString &name : layout.names)
        m_tiles << TileCollision::forName(name);
}

QByteArray GodotTilesetWriter::toText(const QString &texturePath, QString *errorString) const
{
    if (m_layout.tileCount() == 0 || m_layout.tileSize.isEmpty() ||
        m_layout.gridColumns() < m_layout.columns || m_layout.gridRows() < m_layout.rows) {
        fail(errorString,
             QCoreApplication::translate("GodotTilesetWriter", "The atlas has no usable tiles."));
        return QByteArray();
    }
    if (m_tiles.size() != m_layout.tileCount()) {
        fail(errorString, QCoreApplication::translate("GodotTilesetWriter",
                                                      "The collision is given for %1 tiles, but "
                                                      "the atlas has %2.")
                              .arg(m_tiles.size())
                              .arg(m_layout.tileCount()));
        return QByteArray();
    }
    if (!m_terrainColor.isValid() || texturePath.isEmpty()) {
        fail(errorString, QCoreApplication::translate(
                              "GodotTilesetWriter", "The tileset needs a texture path and a valid "
                                                    "terrain colour."));
        return QByteArray();
    }

    QString text;
    QTextStream out(&text);
    const QString textureId = QLatin1String(TextureId);
    const QString sourceId = QLatin1String(SourceId);
    const QSize tile = m_layout.tileSize;

    // Format 3 needs no load_steps: Godot counts the resources itself.
    out << "[gd_resource type=\"TileSet\" format=3]\n\n";
    out << "[ext_resource type=\"Texture2D\" path=" << quoted(texturePath)
        << " id=" << quoted(textureId) << "]\n\n";

    out << "[sub_resource type=\"TileSetAtlasSource\" id=" << quoted(sourceId) << "]\n";
    out << "texture = ExtResource(" << quoted(textureId) << ")\n";
    out << "margins = " << vector2i(m_layout.margin, m_layout.margin) << "\n";
    out << "separation = " << vector2i(m_layout.spacing, m_layout.spacing) << "\n";
    out << "texture_region_size = " << vector2i(tile.width(), tile.height()) << "\n";
    if (m_layout.extrusion > 0)
        out << "use_texture_padding = false\n";

    // Centred on the tile, as Godot's tile polygons are.
    const double hw = tile.width() / 2.0;
    const double hh = tile.height() / 2.0;

    // A tile's properties in the order Godot writes them: its own (terrain
    // set, terrain), then each polygon's points and one-way flag, then the
    // peering bits.
    for (int i = 0; i < m_layout.tileCount(); ++i) {
        const QPoint cell = m_layout.cell(i);
        const QString key = QStringLiteral("%1:%2/0").arg(cell.x()).arg(cell.y());
        out << key << " = 0\n";
        const int mask = BlobMask::fromFileName(m_layout.names.at(i));
        if (mask != BlobMask::None) {
            out << key << "/terrain_set = 0\n";
            out << key << "/terrain = 0\n";
        }
        const TileCollision &collision = m_tiles.at(i);
        for (int p = 0; p < collision.polygons.size(); ++p) {
            QStringList points;
            for (const QPointF &point : collision.polygons.at(p))
                points << number(float(point.x() - hw)) << number(float(point.y() - hh));
            const QString polygon =
                QStringLiteral("%1/physics_layer_0/polygon_%2/").arg(key).arg(p);
            out << polygon << "points = PackedVector2Array(" << points.join(QStringLiteral(", "))
                << ")\n";
            if (collision.oneWay)
                out << polygon << "one_way = true\n";
        }
        if (mask == BlobMask::None)
            continue;
        // Terrain 0 where the neighbour is solid; an empty side keeps
        // Godot's default of no terrain and is not written.
        for (const PeeringBit &bit : peeringBits) {
            if (BlobMask::isSolid(mask, bit.direction))
                out << key << "/terrains_peering_bit/" << bit.name << " = 0\n";
        }
    }

    out << "\n[resource]\n";
    out << "tile_size = " << vector2i(tile.width(), tile.height()) << "\n";
    out << "physics_layer_0/collision_layer = 1\n";
    out << "terrain_set_0/mode = 0\n"; // Match Corners and Sides
    out << "terrain_set_0/terrain_0/name = " << quoted(m_terrainName) << "\n";
    out << "terrain_set_0/terrain_0/color = "
        << QStringLiteral("Color(%1, %2, %3, %4)")
               .arg(number(float(m_terrainColor.redF())), number(float(m_terrainColor.greenF())),
                    number(float(m_terrainColor.blueF())), number(float(m_terrainColor.alphaF())))
        << "\n";
    out << "sources/0 = SubResource(" << quoted(sourceId) << ")\n";
    out.flush();
    return text.toUtf8();
}

QString GodotTilesetWriter::realText(float value)
{
    // Fixed notation: 'g' would turn 10 into "1e+01".
    for (int precision = 0; precision <= 9; ++precision) {
        const QString text = QString::number(double(value), 'f', precision);
        if (text.toFloat() == value)
            return text;
    }
    return QString::number(double(value), 'g', 9);
}

QString GodotTilesetWriter::quotedText(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

bool GodotTilesetWriter::write(const QString &tresPath, const QString &imagePath,
                               QString *errorString) const
{
    QString texturePath = m_texturePath;
    if (texturePath.isEmpty()) {
        texturePath = QFileInfo(tresPath).absoluteDir().relativeFilePath(
            QFileInfo(imagePath).absoluteFilePath());
    }
    const QByteArray text = toText(texturePath, errorString);
    if (text.isEmpty())
        return false;
    return SafeFileWriter::writeNamingFile(tresPath, text, errorString);
}
