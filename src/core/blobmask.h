#pragma once

#include <QString>
#include <QVector>

#include <array>

// The neighbour bitmask of the 47-tile "blob" terrain set. A bit is set when
// the neighbour in that direction is solid. A corner bit only counts when
// both of its edges are set too: with an open edge the corner is cut away
// anyway, so the diagonal neighbour cannot change the tile's look. That
// leaves 47 distinct tiles out of 256 raw combinations.
class BlobMask
{
public:
    enum Bit : int
    {
        N = 1,
        NE = 2,
        E = 4,
        SE = 8,
        S = 16,
        SW = 32,
        W = 64,
        NW = 128,
    };
    static constexpr int Count = 47;
    // Returned for names that are not blob tiles (slopes, platforms, user masks).
    static constexpr int None = -1;

    // The eight neighbours clockwise from the top: the order of a Tiled wangid.
    enum class Direction
    {
        Top,
        TopRight,
        Right,
        BottomRight,
        Bottom,
        BottomLeft,
        Left,
        TopLeft
    };
    static constexpr int DirectionCount = 8;

    // A raw 8-neighbour mask (only the low 8 bits are used) with every corner
    // bit cleared whose two edges are not both set.
    static int canonical(int raw);
    static bool isCanonical(int mask);
    // The 47 canonical masks, ascending.
    static const QVector<int> &all();

    // The canonical mask named by a tile or mask file: "blob_" and three
    // digits at the start of the file name, then "_notop" or nothing, then
    // ".png" (letter case ignored). Any folder part of the path is ignored.
    // None for any other name, including numbers that are not canonical.
    static int fromFileName(const QString &fileName);
    // The library's name for a mask: "_notop" when the tile above is solid,
    // since then the top is covered and gets no grass.
    static QString fileName(int mask);

    static int bit(Direction direction);
    static bool isSolid(int mask, Direction direction) { return mask & bit(direction); }
    // For each Direction, in order: is that neighbour solid?
    static std::array<bool, DirectionCount> solidDirections(int mask);
};
