#pragma once

#include "blobmask.h"
#include "namedimage.h"
#include "solidmask.h"

// The 47-tile "blob" terrain set. A tile is keyed by which of its eight
// neighbours are solid (N=1, NE=2, E=4, SE=8, S=16, SW=32, W=64, NW=128).
//
// Shape model, chosen so that any two tiles the bitmask allows side by side
// join without a seam: a centre square inset by Inset art pixels (8 screen
// pixels) from every side, plus for each solid edge neighbour the strip from the centre to that
// border, plus for each counted corner the Inset-square in that corner. The
// pixels along a shared border then depend only on cells both tiles see.
// Open edges and convex corners are shaped, but only away from the borders.
// The bitmask itself, its 47 canonical values and the file names are the
// core's BlobMask, so the library and the tileset labels cannot disagree.
namespace BlobMasks {

constexpr int Inset = 2;

SolidMask draw(int mask);
NamedImages drawAll();

} // namespace BlobMasks
