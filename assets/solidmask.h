#pragma once

#include "artgrid.h"

#include <QImage>
#include <QVector>

// A two-state alpha mask, drawn in art pixels (artgrid.h): every pixel is
// solid (opaque black in the file) or empty (fully transparent). No grey levels: a soft edge would
// make the generator's cut fuzzy and the tiles would not join cleanly.
class SolidMask
{
public:
    static constexpr int Size = ArtGrid::Size;

    SolidMask();

    bool isSolid(int x, int y) const;
    // Outside the tile does nothing, so shapes may be drawn partly off it.
    void set(int x, int y, bool solid);
    void fillRect(int x, int y, int width, int height, bool solid);
    // Columns x0..x1-1 solid from row `top(x)` down to the bottom.
    template <typename Top> void fillBelow(int x0, int x1, Top top)
    {
        for (int x = x0; x < x1; ++x)
            fillRect(x, top(x), 1, Size - top(x), true);
    }
    // Clears the part of the square of side `radius` at (x, y) that lies
    // outside a quarter circle, rounding a convex corner. (x, y) is the
    // corner pixel itself; dx and dy (+1 or -1) point into the shape.
    void roundCorner(int x, int y, int dx, int dy, int radius);
    SolidMask mirrored() const;

    // The 128 by 128 mask, each art pixel a square of ArtGrid::Scale.
    QImage toImage() const;

private:
    QVector<bool> solid;
};
