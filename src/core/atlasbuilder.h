#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QVector>

// One generated tile: its file name (the mask's name) and its pixels.
struct AtlasTile
{
    QString name;
    QImage image;
};

struct AtlasOptions
{
    // Tiles per row; 0 picks AtlasBuilder::DefaultColumns (fewer when there
    // are fewer tiles).
    int columns = 0;
    // Transparent border around the sheet and transparent gap between two
    // tiles. Both lie outside the extruded pixels, so the sheet's effective
    // margin is margin + extrusion and its effective spacing is
    // spacing + 2 * extrusion; with both at 0 that is margin E, spacing 2E.
    int margin = 0;
    int spacing = 0;
    // Each tile's outermost pixels repeated outward this many times, so that
    // filtering or rounding at the tile's edge samples the tile's own colour
    // rather than its neighbour's.
    int extrusion = 0;
    // Width and height each padded to the next power of two, at the right
    // and bottom, for engines and GPUs that want such textures.
    bool powerOfTwo = false;
};

// Where each tile is, in the terms map editors use to cut a sheet into tiles.
struct AtlasLayout
{
    QSize tileSize;
    QSize sheetSize;
    int columns = 0; // tiles per row as packed
    int rows = 0;
    int margin = 0;  // sheet edge to the first tile's own pixels
    int spacing = 0; // between two neighbouring tiles' own pixels
    int extrusion = 0;
    QStringList names;        // in packing order
    QVector<QRect> tileRects; // each tile's own pixels, without its extrusion

    int tileCount() const { return names.size(); }
    // Column and row of a tile in the packing.
    QPoint cell(int index) const
    {
        return columns > 0 ? QPoint(index % columns, index / columns) : QPoint();
    }
    // Whole tiles across and down that Tiled and Godot find on the sheet.
    // More than columns and rows when power-of-two padding or a wide margin
    // leaves room for more; Tiled numbers its tiles row by row across all of
    // them.
    int gridColumns() const;
    int gridRows() const;
};

struct AtlasSheet
{
    QImage image; // Format_ARGB32, transparent where no tile is
    AtlasLayout layout;
};

// Packs tiles into one sheet, row by row in the given order, so the same
// tiles always get the same places and tile numbers. Encoding is kept apart
// from packing so that the same sheet can go to any encoder.
class AtlasBuilder
{
public:
    // 47 blob tiles fill four rows of 12 with one cell to spare, so the whole
    // terrain set shows at once in an editor's tileset panel; extra tiles
    // (slopes, platforms) follow in the next row.
    static constexpr int DefaultColumns = 12;
    // The largest texture Godot and most GPUs accept.
    static constexpr int MaxSheetEdge = 16384;

    // False with *errorString set when there are no tiles, a tile has no
    // pixels, the tiles differ in size, an option is negative or the sheet
    // would exceed MaxSheetEdge; *sheet is then left untouched.
    static bool pack(const QVector<AtlasTile> &tiles, const AtlasOptions &options,
                     AtlasSheet *sheet, QString *errorString = nullptr);
    // The layout pack() would give 'count' tiles of one size, names left
    // empty, without touching a pixel: lets a caller refuse a sheet that is
    // too large before reading every tile. Fails as pack() does.
    static bool measure(int count, const QSize &tileSize, const AtlasOptions &options,
                        AtlasLayout *layout, QString *errorString = nullptr);

    // Through PngEncoder: the same pixels as QImage::save, several times faster.
    static QByteArray encodePng(const QImage &image, QString *errorString = nullptr);
    // The whole file or nothing: a failure leaves any existing file as it was.
    static bool writePng(const QImage &image, const QString &path, QString *errorString = nullptr);
};
