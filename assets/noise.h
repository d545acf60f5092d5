#pragma once

#include <cstdint>

// Tileable noise in whole-number arithmetic only: floating point may round
// differently between compilers and machines, and the library must be the
// same everywhere.
namespace Noise {

// Smooth value noise, 0..255, on a lattice of `cell` pixels that repeats
// every `period` pixels in both directions (period a multiple of cell).
int value(int x, int y, int cell, int period, std::uint32_t seed);

// Several octaves of value noise from `cell` down to 4 pixels, each half the
// weight of the one before; 0..255.
int fractal(int x, int y, int cell, int period, std::uint32_t seed);

// Ordered-dither threshold 0..15 from the 4 by 4 Bayer matrix; 4 divides
// every tile size, so the dither tiles too.
int bayer(int x, int y);

// Integer floor division and modulo that stay correct for negative numbers.
int floorDiv(int a, int b);
int wrap(int a, int b);

} // namespace Noise
