#pragma once

#include "namedimage.h"

// The patterns: opaque 128 by 128 grey textures. The generator tints them
// with the overlay mode and lays them over the tile at a low opacity, so
// they sit around middle grey with strong light and dark detail, and every
// one repeats in both directions so that neighbouring tiles join.
namespace Patterns {

constexpr int Size = 128;

NamedImages drawAll();

} // namespace Patterns
