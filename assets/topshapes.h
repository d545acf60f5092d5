#pragma once

#include "namedimage.h"

// The top shapes: 128 pixels wide, a few dozen high, laid along the surface
// of every tile and tinted by the top colour with the overlay mode. They are
// drawn in grey around the middle grey level, because overlay of a colour on
// middle grey gives that colour, lighter greys lighten and darker greys
// darken it: the shading survives any tint. Each one repeats left to right,
// so neighbouring tiles continue it. Every pixel is opaque or empty.
namespace TopShapes {

NamedImages drawAll();

} // namespace TopShapes
