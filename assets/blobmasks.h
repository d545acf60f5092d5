#pragma once

#include "namedimage.h"
#include "solidmask.h"

#include <QVector>

// The 47-tile "blob" terrain set. A tile is keyed by which of its eight
// neighbours are solid (N=1, NE=2, E=4, SE=8, S=16, SW=32, W=64, NW=128).
//
// Shape model, chosen so that any two tiles the bitmask allows side by side
// join without a seam: a centre square inset by Inset art pixels (8 screen
// pixels) from every side, plus for each solid edge neighbour the strip from the centre to that
// border, plus for each counted corner the Inset-square in that corner. The
// pixels along a shared border then depend only on cells both tiles see.
// Open edges and convex corners are shaped, but only away from the borders.
namespace BlobMasks {

enum Bit : int
{
    N = 1,
    NE = 2,
    E = 4,
    SE = 8,
    S = 16,
    SW = 32,
    W = 64,
    NW = 128
};

constexpr int Inset = 2;

// Clears every corner bit whose two edges are not both set: such a corner is
// cut away by the open edge anyway, so the diagonal cannot matter.
int canonical(int raw);
// The 47 canonical masks, ascending.
QVector<int> all();
// "blob_%03d.png", with "_notop" before the suffix when the tile above is
// solid: the top is covered, so no grass grows there.
QString fileName(int mask);
SolidMask draw(int mask);
NamedImages drawAll();

} // namespace BlobMasks
