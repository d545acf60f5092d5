#pragma once

#include <QImage>
#include <QVector>

// A grey-level drawing surface for textures, in art pixels (artgrid.h).
// Coordinates wrap around both ways, so anything drawn across an edge comes back in on the other
// side and the picture tiles without a seam. A value of Transparent marks an empty pixel (top
// shapes need those); every other value is a grey level 0..255.
class GreyMap
{
public:
    static constexpr int Transparent = -1;

    GreyMap(int width, int height, int fill);

    int width() const { return w; }
    int height() const { return h; }
    int at(int x, int y) const { return values[index(x, y)]; }
    bool isOpaque(int x, int y) const { return at(x, y) != Transparent; }
    // Grey levels are clamped to 0..255; Transparent is kept as it is.
    void set(int x, int y, int value);
    // Adds to an opaque pixel; leaves an empty one empty.
    void add(int x, int y, int delta);
    void fillRect(int x, int y, int width, int height, int value);

    // Each art pixel becomes an ArtGrid::Scale square. Opaque RGB32 when
    // every pixel is set, else ARGB32 with alpha 0 or 255: the generator cuts
    // top shapes with a one-bit alpha mask anyway, so half transparent pixels
    // would only turn into tint-coloured fringes.
    QImage toImage() const;

private:
    int index(int x, int y) const;

    int w;
    int h;
    QVector<int> values;
};
