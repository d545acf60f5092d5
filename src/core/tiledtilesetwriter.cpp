#include "tiledtilesetwriter.h"

#include "safefilewriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

// Tiled stores a wang colour index in 8 bits, with 0 meaning "no colour".
constexpr int MaxWangColors = 255;

bool fail(QString *errorString, const QString &message)
{
    if (errorString)
        *errorString = message;
    return false;
}

// Tile pixels are multiples of 1/256 of the tile size here, which ten
// significant digits write exactly and never in exponent form.
QString coordinate(double value)
{
    return QString::number(value, 'g', 10);
}

QString joined(const TiledTilesetWriter::WangId &id)
{
    QStringList parts;
    for (int value : id)
        parts.append(QString::number(value));
    return parts.join(QLatin1Char(','));
}

} // namespace

TiledTilesetWriter::TiledTilesetWriter(const AtlasLayout &layout)
    : m_layout(layout),
      m_wangSetName(QStringLiteral("Terrain")), m_colors{{QStringLiteral("Terrain"),
                                                          QColor(0xff, 0, 0), 1.0}}
{
    for (int i = 0; i < layout.tileCount(); ++i) {
        const int mask = BlobMask::fromFileName(layout.names.at(i));
        if (mask != BlobMask::None)
            m_wangIds.insert(i, wangIdForMask(mask));
        m_tiles << TileCollision::forName(layout.names.at(i));
    }
}

TiledTilesetWriter::WangId TiledTilesetWriter::wangIdForMask(int mask)
{
    WangId id{};
    const auto solid = BlobMask::solidDirections(mask);
    for (size_t i = 0; i < id.size(); ++i)
        id[i] = solid[i] ? 1 : 0;
    return id;
}

int TiledTilesetWriter::tileId(int index) const
{
    const QPoint cell = m_layout.cell(index);
    return cell.y() * m_layout.gridColumns() + cell.x();
}

bool TiledTilesetWriter::validate(QString *errorString) const
{
    if (m_layout.tileCount() == 0 || m_layout.gridColumns() < m_layout.columns)
        return fail(errorString, QCoreApplication::translate("TiledTilesetWriter",
                                                             "The atlas has no usable tiles."));
    if (m_tiles.size() != m_layout.tileCount())
        return fail(errorString,
                    QCoreApplication::translate("TiledTilesetWriter",
                                                "The collision is given for %1 tiles, but the "
                                                "atlas has %2.")
                        .arg(m_tiles.size())
                        .arg(m_layout.tileCount()));
    if (m_colors.size() > MaxWangColors)
        return fail(errorString,
                    QCoreApplication::translate("TiledTilesetWriter",
                                                "A Tiled Wang set can have at most %1 colours.")
                        .arg(MaxWangColors));
    if (!m_wangIds.isEmpty() && m_colors.isEmpty())
        return fail(errorString,
                    QCoreApplication::translate("TiledTilesetWriter",
                                                "The Wang set has tiles but no colours."));
    for (auto it = m_wangIds.cbegin(); it != m_wangIds.cend(); ++it) {
        if (it.key() < 0 || it.key() >= m_layout.tileCount())
            return fail(errorString,
                        QCoreApplication::translate("TiledTilesetWriter",
                                                    "A Wang id is set for tile %1, which the "
                                                    "atlas does not have.")
                            .arg(it.key()));
        for (int value : it.value()) {
            if (value < 0 || value > m_colors.size())
                return fail(errorString,
                            QCoreApplication::translate(
                                "TiledTilesetWriter",
                                "Tile \"%1\" uses Wang colour %2, but the set has only "
                                "colours 1 to %3 (0 for none).")
                                .arg(m_layout.names.at(it.key()))
                                .arg(value)
                                .arg(m_colors.size()));
        }
    }
    for (const WangColor &color : m_colors) {
        if (!color.color.isValid() || color.probability < 0)
            return fail(errorString,
                        QCoreApplication::translate(
                            "TiledTilesetWriter",
                            "Wang colour \"%1\" needs a valid colour and a probability of 0 "
                            "or more.")
                            .arg(color.name));
    }
    return true;
}

QByteArray TiledTilesetWriter::toXml(const QString &imageSource, QString *errorString) const
{
    if (!validate(errorString))
        return QByteArray();

    QByteArray xml;
    QXmlStreamWriter w(&xml);
    // Tiled's own layout, so a tileset that Tiled re-saves diffs cleanly.
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(1);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("tileset"));
    w.writeAttribute(QStringLiteral("version"), QStringLiteral("1.8"));
    w.writeAttribute(QStringLiteral("tiledversion"), QStringLiteral("1.8.2"));
    w.writeAttribute(QStringLiteral("name"), m_name);
    w.writeAttribute(QStringLiteral("tilewidth"), QString::number(m_layout.tileSize.width()));
    w.writeAttribute(QStringLiteral("tileheight"), QString::number(m_layout.tileSize.height()));
    w.writeAttribute(QStringLiteral("spacing"), QString::number(m_layout.spacing));
    w.writeAttribute(QStringLiteral("margin"), QString::number(m_layout.margin));
    // Tiled counts every cell of the sheet, spare ones included, and derives
    // its tile ids from that count; writing anything else would be
    // overridden when it loads the image.
    w.writeAttribute(QStringLiteral("tilecount"),
                     QString::number(m_layout.gridColumns() * m_layout.gridRows()));
    w.writeAttribute(QStringLiteral("columns"), QString::number(m_layout.gridColumns()));

    w.writeEmptyElement(QStringLiteral("image"));
    w.writeAttribute(QStringLiteral("source"), imageSource);
    w.writeAttribute(QStringLiteral("width"), QString::number(m_layout.sheetSize.width()));
    w.writeAttribute(QStringLiteral("height"), QString::number(m_layout.sheetSize.height()));

    // Tiled's order: the tiles, then the Wang sets.
    for (int i = 0; i < m_tiles.size(); ++i) {
        const TileCollision &tile = m_tiles.at(i);
        w.writeStartElement(QStringLiteral("tile"));
        w.writeAttribute(QStringLiteral("id"), QString::number(tileId(i)));
        // Tiled 1.8 reads "type"; 1.9 and later read it as the tile's class.
        w.writeAttribute(QStringLiteral("type"), tile.kindName());
        w.writeStartElement(QStringLiteral("properties"));
        w.writeEmptyElement(QStringLiteral("property"));
        w.writeAttribute(QStringLiteral("name"), QStringLiteral("name"));
        w.writeAttribute(QStringLiteral("value"), tile.maskName());
        w.writeEmptyElement(QStringLiteral("property"));
        w.writeAttribute(QStringLiteral("name"), QStringLiteral("one_way"));
        w.writeAttribute(QStringLiteral("type"), QStringLiteral("bool"));
        w.writeAttribute(QStringLiteral("value"),
                         tile.oneWay ? QStringLiteral("true") : QStringLiteral("false"));
        w.writeEndElement(); // properties
        if (!tile.polygons.isEmpty()) {
            w.writeStartElement(QStringLiteral("objectgroup"));
            w.writeAttribute(QStringLiteral("draworder"), QStringLiteral("index"));
            int objectId = 0;
            for (const QPolygonF &polygon : tile.polygons) {
                // Points relative to the object, which sits at the tile's
                // top left: so they are tile pixels as they are.
                w.writeStartElement(QStringLiteral("object"));
                w.writeAttribute(QStringLiteral("id"), QString::number(++objectId));
                w.writeAttribute(QStringLiteral("x"), QStringLiteral("0"));
                w.writeAttribute(QStringLiteral("y"), QStringLiteral("0"));
                QStringList points;
                for (const QPointF &point : polygon)
                    points << coordinate(point.x()) + QLatin1Char(',') + coordinate(point.y());
                w.writeEmptyElement(QStringLiteral("polygon"));
                w.writeAttribute(QStringLiteral("points"), points.join(QLatin1Char(' ')));
                w.writeEndElement(); // object
            }
            w.writeEndElement(); // objectgroup
        }
        w.writeEndElement(); // tile
    }

    // Tiled takes an all-zero wangid for "no Wang id" and drops it (the blob
    // set's isolated tile has no solid neighbour to describe), so it is left
    // out here too: a tileset Tiled re-saves stays the same.
    QMap<int, WangId> wangTiles;
    for (auto it = m_wangIds.cbegin(); it != m_wangIds.cend(); ++it) {
        if (it.value() != WangId{})
            wangTiles.insert(it.key(), it.value());
    }
    // A colour's icon in Tiled's terrain panel: the tile of that colour all
    // round, the blob set's fully surrounded tile.
    auto representative = [&](int colour) {
        for (auto it = wangTiles.cbegin(); it != wangTiles.cend(); ++it) {
            if (std::all_of(it.value().cbegin(), it.value().cend(),
                            [&](int value) { return value == colour; }))
                return QString::number(tileId(it.key()));
        }
        return QStringLiteral("-1");
    };
    if (!wangTiles.isEmpty()) {
        w.writeStartElement(QStringLiteral("wangsets"));
        w.writeStartElement(QStringLiteral("wangset"));
        w.writeAttribute(QStringLiteral("name"), m_wangSetName);
        w.writeAttribute(QStringLiteral("type"), QStringLiteral("mixed"));
        w.writeAttribute(QStringLiteral("tile"), representative(1));
        for (int c = 0; c < m_colors.size(); ++c) {
            const WangColor &color = m_colors.at(c);
            w.writeEmptyElement(QStringLiteral("wangcolor"));
            w.writeAttribute(QStringLiteral("name"), color.name);
            w.writeAttribute(QStringLiteral("color"), color.color.name());
            w.writeAttribute(QStringLiteral("tile"), representative(c + 1));
            w.writeAttribute(QStringLiteral("probability"), QString::number(color.probability));
        }
        for (auto it = wangTiles.cbegin(); it != wangTiles.cend(); ++it) {
            w.writeEmptyElement(QStringLiteral("wangtile"));
            w.writeAttribute(QStringLiteral("tileid"), QString::number(tileId(it.key())));
            w.writeAttribute(QStringLiteral("wangid"), joined(it.value()));
        }
        w.writeEndElement(); // wangset
        w.writeEndElement(); // wangsets
    }
    w.writeEndElement(); // tileset
    w.writeEndDocument();
    return xml;
}

bool TiledTilesetWriter::write(const QString &tsxPath, const QString &imagePath,
                               QString *errorString) const
{
    const QFileInfo tsx(tsxPath);
    TiledTilesetWriter named(*this);
    if (named.m_name.isEmpty())
        named.m_name = tsx.completeBaseName();
    // Tiled resolves the image against the .tsx's folder, and a relative
    // path keeps the pair working when the folder is moved.
    const QString source =
        tsx.absoluteDir().relativeFilePath(QFileInfo(imagePath).absoluteFilePath());
    const QByteArray xml = named.toXml(source, errorString);
    if (xml.isEmpty())
        return false;
    return SafeFileWriter::writeNamingFile(tsxPath, xml, errorString);
}
