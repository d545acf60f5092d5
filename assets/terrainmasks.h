#pragma once

#include "namedimage.h"

// The masks outside the blob set, for terrain whose surface lies on the tile
// border: the full block, slopes of 1:1 and 1:2 in both directions, rounded
// ends of a plateau and thin platforms. They join one another, since every
// flat surface here is row 0, every slope starts and ends on a tile corner
// or half way up, and every platform is the same thickness.
namespace TerrainMasks {

NamedImages drawAll();

} // namespace TerrainMasks
