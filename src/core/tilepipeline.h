#pragma once

#include "tilestyle.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <vector>

// How one tile of a tileset is made from an alpha mask and a design.
//
// The layers every tile shares (the bottom with its pattern, the top shape
// with its colour and pattern) are prepared once, when the pipeline is
// built from a style; makeTile() then cuts one tile per mask. The worker,
// the benchmark and the command-line tool all go through makeTile(), so the
// tiles are the same whoever makes them.
//
// Each tile is the bottom cut to the mask's shape, with the top laid along
// the mask's upper edge (each column's topmost pixel with alpha) and its
// shadow 6 pixels lower, in the 128 x 128 working size, scaled last to the
// tile size.
//
// makeTile() gives exactly the pixels of the step-by-step composition (the
// tests keep one and compare), as the PNG file stores them: every painter
// step whose result is known per pixel value in advance is run once per run
// on whole images, per tile only a translucent top over a textured bottom
// goes through QPainter, and only the pixels the tile size keeps are
// composed.
//
// makeTile() is const and may run on several threads at once.
class TilePipeline
{
public:
    static constexpr int WorkingSize = 128;
    static constexpr int ShadowOffset = 6;
    // Larger tiles would only be a way to make the program allocate
    // gigabytes by a typo.
    static constexpr int MaxTileSize = 4096;

    explicit TilePipeline(const TileStyle &style);
    TilePipeline(const TilePipeline &) = delete;
    TilePipeline &operator=(const TilePipeline &) = delete;

    // A mask file name containing "_notop" gets neither the top nor its
    // shadow.
    static bool wantsTop(const QString &maskFileName);

    // Reads a mask through the guarded reader and brings it to the form
    // makeTile() works on (see normaliseMask). Null with *errorString on
    // failure.
    static QImage readMask(const QString &path, QString *errorString = nullptr);

    // 32-bit with or without alpha as a PNG decodes to (palette, grey and
    // 16-bit images converted), and 128 x 128: a mask of any other size is
    // scaled by nearest neighbour, so it still cuts its tile.
    static QImage normaliseMask(const QImage &mask);

    // The tile for one mask, tileSize x tileSize, Format_RGBA8888: the
    // straight pixels a PNG file of the premultiplied composition holds, so
    // the encoder takes its rows as they are. Null for a null mask or a tile
    // size outside 1..MaxTileSize.
    QImage makeTile(const QImage &mask, bool withTop, int tileSize) const;

    // What cutting a straight RGBA8888 pixel (4 bytes) by a mask grey
    // leaves in the file: premultiplied, kept by the grey (DestinationIn),
    // straight again, each step as this Qt's painter and conversions do it.
    // A grey of 255 is the plain trip through premultiplied. For the tests.
    static void cutPixel(const uchar *rgba, int grey, uchar *out);

    // What could not be read while preparing (top shape, patterns), one
    // line each. Those layers are left out, as if the design had none.
    const QStringList &warnings() const { return m_warnings; }

private:
    struct Scratch;
    struct Grid;

    // An image's rows (WorkingSize words each) with repeats stored once:
    // a bottom of one colour or a repeating pattern then takes little cache.
    struct PackedRows
    {
        std::vector<quint32> words;
        std::vector<size_t> start; // per row, where its words begin
        const quint32 *row(int y) const { return words.data() + start[size_t(y)]; }
    };
    static PackedRows packRows(const QImage &image);

    // Which pixels Qt's nearest-neighbour scaling of an image of this
    // format takes from, per thread; the reference lasts until the thread's
    // next call.
    static const Grid &gridFor(QImage::Format format, QSize from, QSize to);
    static void findGrid(Grid &grid);

    void prepareBase();
    void prepareTop();
    // Made by prepareBlends for prepareDrape alone, and dropped once the
    // pipeline is built.
    struct Blends
    {
        QImage shadowedStored;
        // With a bottom of one colour (no pattern), what lies under the top
        // is one of three colours: above the shadow's reach, below it
        // without shadow, below it with shadow. The top drawn over each of
        // them, once, in the top's own size (RGBA8888, and as stored); null
        // otherwise.
        QImage draped[3];
        QImage drapedStored[3];
    };
    Blends prepareBlends();
    void prepareDrape(const Blends &blends);
    // The prepared top as an image (premultiplied), for the painter.
    QImage topLayer() const;
    // How many columns, from the left, the top is draped on.
    int drapedColumns(bool withTop) const
    {
        return withTop && !m_topWords.empty() ? m_topWidth : 0;
    }
    // The tile's rows the grid samples, cut to the mask as if nothing were
    // draped, with each column's surface and the mask's grey levels. False,
    // with nothing settled, for a mask of too many distinct values, which
    // the slow version then takes.
    bool cutRows(const QImage &mask, bool withTop, const Grid &grid, Scratch &scratch) const;
    void cutRowsSlowly(const QImage &mask, bool withTop, const Grid &grid, Scratch &scratch) const;
    void cutRow(int y, const Grid &grid, Scratch &scratch) const;
    void drapeTop(const Grid &grid, Scratch &scratch) const;
    void compose(const QImage &mask, bool withTop, const Grid &grid, QImage &tile) const;

    TileStyle m_style;
    QStringList m_warnings;

    QImage m_base; // RGBA8888, what _notop tiles are cut from

    // The top as the drape copies it: premultiplied ARGB32 words, at most
    // WorkingSize wide and high.
    std::vector<quint32> m_topWords;
    int m_topWidth = 0;
    int m_topHeight = 0;

    // The bottom with the top's shadow drawn over it, as the painter draws
    // it (RGBA8888). Away from the top, m_base is what the top draw leaves,
    // as it is where no shadow falls.
    QImage m_shadowed;
    // What tiles read of them, row by row; "Stored": where the mask keeps a
    // pixel whole, the same after the tile's trip through premultiplied and
    // back, as the file stores them.
    PackedRows m_baseRows, m_baseStoredRows;
    PackedRows m_shadowedRows, m_shadowedStoredRows;

    // What the drape does to each pixel of a column, k rows below the
    // column's surface (k < m_reach), column after column: the DrapeKind,
    // and the top's word there.
    int m_reach = 0;
    std::vector<uchar> m_drapeKind;
    bool m_shadowsApart = false; // some pixel is ShadowOnly
    std::vector<quint32> m_topColumns;
    // Where the drape's result is known in advance (every pixel on a bottom
    // of one colour, the opaque top at full opacity on any), the pixel for
    // rows above the shadow's offset ([0]) and below ([1]): as stored where
    // the mask keeps it whole, and straight for a cut.
    std::vector<quint32> m_drapedWhole[2];
    std::vector<quint32> m_drapedStraight[2];
};
