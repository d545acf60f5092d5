#include "atlasbuilder.h"

#include "pngencoder.h"
#include "safefilewriter.h"

#include <QCoreApplication>

#include <cstring>

namespace {

// Number of whole cells of 'tile' pixels, 'spacing' apart and starting
// 'margin' pixels in, that fit into 'length'. The formula Tiled and Godot
// use to cut a sheet.
int cellsThatFit(int length, int margin, int tile, int spacing)
{
    if (tile <= 0 || length - margin < tile)
        return 0;
    return (length - margin - tile) / (tile + spacing) + 1;
}

qint64 nextPowerOfTwo(qint64 value)
{
    qint64 p = 1;
    while (p < value)
        p <<= 1;
    return p;
}

bool fail(QString *errorString, const QString &message)
{
    if (errorString)
        *errorString = message;
    return false;
}

// Copies the tile's pixels to (x, y) and repeats its outermost rows and
// columns 'extrusion' times outward, corners included. Plain pixel copies:
// painting would blend semi-transparent edge pixels with what is beneath.
void placeTile(QImage &sheet, const QImage &tile, int x, int y, int extrusion)
{
    const int w = tile.width();
    const int h = tile.height();
    for (int row = 0; row < h; ++row) {
        const auto *src = reinterpret_cast<const QRgb *>(tile.constScanLine(row));
        auto *dst = reinterpret_cast<QRgb *>(sheet.scanLine(y + row)) + x;
        std::memcpy(dst, src, size_t(w) * sizeof(QRgb));
        for (int e = 1; e <= extrusion; ++e) {
            dst[-e] = src[0];
            dst[w - 1 + e] = src[w - 1];
        }
    }
    const int left = x - extrusion;
    const size_t rowBytes = size_t(w + 2 * extrusion) * sizeof(QRgb);
    const auto *top = reinterpret_cast<const QRgb *>(sheet.constScanLine(y)) + left;
    const auto *bottom = reinterpret_cast<const QRgb *>(sheet.constScanLine(y + h - 1)) + left;
    for (int e = 1; e <= extrusion; ++e) {
        std::memcpy(reinterpret_cast<QRgb *>(sheet.scanLine(y - e)) + left, top, rowBytes);
        std::memcpy(reinterpret_cast<QRgb *>(sheet.scanLine(y + h - 1 + e)) + left, bottom,
                    rowBytes);
    }
}

} // namespace

int AtlasLayout::gridColumns() const
{
    return cellsThatFit(sheetSize.width(), margin, tileSize.width(), spacing);
}

int AtlasLayout::gridRows() const
{
    return cellsThatFit(sheetSize.height(), margin, tileSize.height(), spacing);
}

bool AtlasBuilder::measure(int count, const QSize &tileSize, const AtlasOptions &options,
                           AtlasLayout *layout, QString *errorString)
{
    if (count <= 0)
        return fail(errorString, QCoreApplication::translate("AtlasBuilder", "No tiles to pack."));
    if (tileSize.isEmpty())
        return fail(errorString,
                    QCoreApplication::translate("AtlasBuilder", "The tiles have no pixels."));
    if (options.columns < 0 || options.margin < 0 || options.spacing < 0 || options.extrusion < 0)
        return fail(errorString, QCoreApplication::translate(
                                     "AtlasBuilder",
                                     "Columns, margin, spacing and extrusion cannot be negative."));

    const int columns = options.columns > 0 ? options.columns : qMin(int(DefaultColumns), count);
    const int rows = (count + columns - 1) / columns;

    // 64-bit arithmetic: large options must give an error, not an overflow.
    const qint64 margin = qint64(options.margin) + options.extrusion;
    const qint64 spacing = qint64(options.spacing) + 2 * qint64(options.extrusion);
    qint64 width = 2 * margin + columns * qint64(tileSize.width()) + (columns - 1) * spacing;
    qint64 height = 2 * margin + rows * qint64(tileSize.height()) + (rows - 1) * spacing;
    if (options.powerOfTwo) {
        width = nextPowerOfTwo(width);
        height = nextPowerOfTwo(height);
    }
    if (width > MaxSheetEdge || height > MaxSheetEdge)
        return fail(errorString,
                    QCoreApplication::translate(
                        "AtlasBuilder",
                        "The atlas would be %1 x %2 pixels; the largest allowed is %3 x %3. "
                        "Use more columns, smaller tiles or less spacing.")
                        .arg(width)
                        .arg(height)
                        .arg(MaxSheetEdge));

    AtlasLayout result;
    result.tileSize = tileSize;
    result.sheetSize = QSize(int(width), int(height));
    result.columns = columns;
    result.rows = rows;
    result.margin = int(margin);
    result.spacing = int(spacing);
    result.extrusion = options.extrusion;
    result.tileRects.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QPoint cell = result.cell(i);
        result.tileRects.append(QRect(int(margin + cell.x() * (tileSize.width() + spacing)),
                                      int(margin + cell.y() * (tileSize.height() + spacing)),
                                      tileSize.width(), tileSize.height()));
    }
    *layout = result;
    return true;
}

bool AtlasBuilder::pack(const QVector<AtlasTile> &tiles, const AtlasOptions &options,
                        AtlasSheet *sheet, QString *errorString)
{
    if (tiles.isEmpty())
        return fail(errorString, QCoreApplication::translate("AtlasBuilder", "No tiles to pack."));

    const QSize tileSize = tiles.first().image.size();
    for (const AtlasTile &tile : tiles) {
        if (tile.image.isNull())
            return fail(errorString,
                        QCoreApplication::translate("AtlasBuilder", "Tile \"%1\" has no image.")
                            .arg(tile.name));
        // Tiled and Godot cut a sheet into one grid, so every cell is one size.
        if (tile.image.size() != tileSize)
            return fail(errorString,
                        QCoreApplication::translate(
                            "AtlasBuilder", "Tile \"%1\" is %2 x %3 pixels, but \"%4\" is %5 x %6; "
                                            "all tiles of an atlas must be the same size.")
                            .arg(tile.name)
                            .arg(tile.image.width())
                            .arg(tile.image.height())
                            .arg(tiles.first().name)
                            .arg(tileSize.width())
                            .arg(tileSize.height()));
    }

    AtlasLayout layout;
    if (!measure(tiles.size(), tileSize, options, &layout, errorString))
        return false;

    QImage image(layout.sheetSize, QImage::Format_ARGB32);
    if (image.isNull())
        return fail(errorString, QCoreApplication::translate(
                                     "AtlasBuilder", "Not enough memory for a %1 x %2 pixel atlas.")
                                     .arg(layout.sheetSize.width())
                                     .arg(layout.sheetSize.height()));
    image.fill(Qt::transparent);

    for (int i = 0; i < tiles.size(); ++i) {
        const QRect &rect = layout.tileRects.at(i);
        placeTile(image, tiles[i].image.convertToFormat(QImage::Format_ARGB32), rect.x(), rect.y(),
                  options.extrusion);
        layout.names.append(tiles[i].name);
    }

    sheet->image = image;
    sheet->layout = layout;
    return true;
}

QByteArray AtlasBuilder::encodePng(const QImage &image, QString *errorString)
{
    QString reason;
    const QByteArray bytes = image.isNull() ? QByteArray() : PngEncoder::encode(image, &reason);
    if (bytes.isEmpty()) {
        QString message =
            QCoreApplication::translate("AtlasBuilder", "The atlas could not be encoded as PNG.");
        if (!reason.isEmpty())
            message += QLatin1Char(' ') + reason;
        fail(errorString, message);
    }
    return bytes;
}

bool AtlasBuilder::writePng(const QImage &image, const QString &path, QString *errorString)
{
    const QByteArray bytes = encodePng(image, errorString);
    if (bytes.isEmpty())
        return false;
    return SafeFileWriter::writeNamingFile(path, bytes, errorString);
}
