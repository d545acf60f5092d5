#pragma once

// Everything in the library is drawn on a grid of "art pixels", each 4 by 4
// screen pixels of the 128-pixel working tile. That is how pixel art for
// small tiles is made and shown big, and it keeps the art crisp when the
// generator scales a set down to 64 or 32 pixels by nearest neighbour: the
// blocks shrink to whole pixels instead of losing every other line.
namespace ArtGrid {

constexpr int Scale = 4;
constexpr int TileSize = 128;
constexpr int Size = TileSize / Scale; // art pixels across a tile

} // namespace ArtGrid
