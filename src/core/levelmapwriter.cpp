#include "levelmapwriter.h"

#include "godot3tilesetwriter.h"
#include "level.h"

#include <QHash>
#include <QTextStream>
#include <QXmlStreamWriter>

LevelMapWriter::LevelMapWriter(const Level &level, const AtlasLayout &layout)
    : m_level(level), m_layout(layout)
{
    // Each cell's place on the sheet, found once; names compare ignoring
    // letter case, as the library's files do, and the first of names that
    // differ only in case is the one taken.
    QHash<QString, int> indexOf;
    for (int i = 0; i < layout.names.size(); ++i) {
        const QString key = layout.names.at(i).toCaseFolded();
        if (!indexOf.contains(key))
            indexOf.insert(key, i);
    }
    const QVector<QString> cells = level.cellTiles();
    m_indices.reserve(cells.size());
    for (const QString &name : cells)
        m_indices << (name.isEmpty() ? -1 : indexOf.value(name.toCaseFolded(), -1));
}

int LevelMapWriter::tileIndex(int x, int y) const
{
    return m_indices.at(y * m_level.width() + x);
}

QByteArray LevelMapWriter::toTmx(const QString &tilesetFile) const
{
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(1);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("map"));
    const auto attribute = [&](const char *name, const QString &value) {
        w.writeAttribute(QLatin1String(name), value);
    };
    const auto number = [&](const char *name, int value) {
        attribute(name, QString::number(value));
    };
    attribute("version", QStringLiteral("1.8"));
    attribute("orientation", QStringLiteral("orthogonal"));
    attribute("renderorder", QStringLiteral("right-down"));
    number("width", m_level.width());
    number("height", m_level.height());
    number("tilewidth", m_layout.tileSize.width());
    number("tileheight", m_layout.tileSize.height());
    number("infinite", 0);
    number("nextlayerid", 2);
    number("nextobjectid", 1);
    w.writeEmptyElement(QStringLiteral("tileset"));
    number("firstgid", 1);
    attribute("source", tilesetFile);
    w.writeStartElement(QStringLiteral("layer"));
    number("id", 1);
    attribute("name", tr("Terrain"));
    number("width", m_level.width());
    number("height", m_level.height());
    w.writeStartElement(QStringLiteral("data"));
    attribute("encoding", QStringLiteral("csv"));
    // Tiled numbers a sheet's tiles row by row across every whole tile it
    // finds there; global ids start at the tileset's firstgid, 0 is empty.
    QString csv = QStringLiteral("\n");
    for (int y = 0; y < m_level.height(); ++y) {
        for (int x = 0; x < m_level.width(); ++x) {
            const int index = tileIndex(x, y);
            const QPoint cell = index < 0 ? QPoint() : m_layout.cell(index);
            csv +=
                QString::number(index < 0 ? 0 : 1 + cell.y() * m_layout.gridColumns() + cell.x());
            if (x + 1 < m_level.width() || y + 1 < m_level.height())
                csv += QLatin1Char(',');
        }
        csv += QLatin1Char('\n');
    }
    w.writeCharacters(csv);
    w.writeEndElement(); // data
    w.writeEndElement(); // layer
    w.writeEndElement(); // map
    w.writeEndDocument();
    return bytes;
}

QByteArray LevelMapWriter::toGodot4Scene(const QString &tilesetFile) const
{
    // TileMapLayer's tile_map_data: a uint16 format (0), then per cell the
    // int16 x and y, and the uint16 source id, atlas column, atlas row and
    // alternative, all little-endian.
    QByteArray data;
    const auto put16 = [&](int value) {
        data.append(char(value & 0xff));
        data.append(char((value >> 8) & 0xff));
    };
    put16(0);
    for (int y = 0; y < m_level.height(); ++y) {
        for (int x = 0; x < m_level.width(); ++x) {
            const int index = tileIndex(x, y);
            if (index < 0)
                continue;
            const QPoint cell = m_layout.cell(index);
            for (int value : {x, y, 0, cell.x(), cell.y(), 0})
                put16(value);
        }
    }
    QString numbers;
    for (int i = 0; i < data.size(); ++i) {
        if (i)
            numbers += QStringLiteral(", ");
        numbers += QString::number(uchar(data.at(i)));
    }
    QString text;
    QTextStream out(&text);
    // As the .tres names its sheet: a path relative to this file, which
    // Godot resolves from the scene's own folder.
    out << "[gd_scene format=3]\n\n"
        << "[ext_resource type=\"TileSet\" path=\"" << tilesetFile << "\" id=\"1_tiles\"]\n\n"
        << "[node name=\"Level\" type=\"Node2D\"]\n\n"
        << "[node name=\"Terrain\" type=\"TileMapLayer\" parent=\".\"]\n"
        << "tile_map_data = PackedByteArray(" << numbers << ")\n"
        << "tile_set = ExtResource(\"1_tiles\")\n";
    out.flush();
    return text.toUtf8();
}

QByteArray LevelMapWriter::toGodot3Scene(const QString &tilesetFile) const
{
    // TileMap's tile_data (format 1): per cell the position (y << 16 | x),
    // the tile id, and the autotile coordinate (y << 16 | x).
    const QVector<Godot3TilesetWriter::Placement> placed =
        Godot3TilesetWriter::placements(m_layout);
    QStringList numbers;
    for (int y = 0; y < m_level.height(); ++y) {
        for (int x = 0; x < m_level.width(); ++x) {
            const int index = tileIndex(x, y);
            if (index < 0)
                continue;
            const Godot3TilesetWriter::Placement &p = placed.at(index);
            numbers << QString::number(y * 65536 + x) << QString::number(p.id)
                    << QString::number(p.subtile.y() * 65536 + p.subtile.x());
        }
    }
    QString text;
    QTextStream out(&text);
    out << "[gd_scene load_steps=2 format=2]\n\n"
        << "[ext_resource path=\"" << tilesetFile << "\" type=\"TileSet\" id=1]\n\n"
        << "[node name=\"Level\" type=\"Node2D\"]\n\n"
        << "[node name=\"Terrain\" type=\"TileMap\" parent=\".\"]\n"
        << "tile_set = ExtResource( 1 )\n"
        << "cell_size = Vector2( " << m_layout.tileSize.width() << ", "
        << m_layout.tileSize.height() << " )\n"
        << "format = 1\n"
        << "tile_data = PoolIntArray( " << numbers.join(QStringLiteral(", ")) << " )\n";
    out.flush();
    return text.toUtf8();
}
