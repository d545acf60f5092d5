#include "blobmasks.h"

#include "prng.h"

#include <algorithm>

namespace BlobMasks {

namespace {

constexpr int Size = SolidMask::Size;
constexpr int CornerRadius = 4;
// Open edges keep exactly the model's line this far from either end, so a
// wall running on into the next tile does not jog at the border, and the
// rounded corners are left alone.
constexpr int ProfileMargin = Inset + CornerRadius + 1;

// Where an open side wall is eaten one art pixel inward, so cliffs look
// weathered instead of ruled. Only inward: a bump outward would stand out
// of the wall with a top of its own, and the generator would lay grass on
// it. Every tile uses the same profile for the same side.
QVector<bool> wallProfile(std::uint64_t seed)
{
    QVector<bool> notch(Size, false);
    Prng rng(seed);
    for (int pos = ProfileMargin + rng.range(0, 2); pos < Size - ProfileMargin;) {
        const int run = rng.range(2, 4);
        for (int i = pos; i < std::min(pos + run, Size - ProfileMargin); ++i)
            notch[i] = true;
        pos += run + rng.range(3, 6);
    }
    return notch;
}

// The underside: flat with a few hanging clods and roots.
QVector<bool> undersideProfile(std::uint64_t seed)
{
    QVector<bool> drop(Size, false);
    Prng rng(seed);
    for (int pos = ProfileMargin + rng.range(0, 2); pos < Size - ProfileMargin;) {
        const int width = rng.range(1, 2);
        for (int i = pos; i < std::min(pos + width, Size - ProfileMargin); ++i)
            drop[i] = true;
        pos += width + rng.range(3, 6);
    }
    return drop;
}

bool has(int mask, int bit)
{
    return (mask & bit) != 0;
}

using Bit = BlobMask::Bit;
constexpr int N = Bit::N, NE = Bit::NE, E = Bit::E, SE = Bit::SE, S = Bit::S, SW = Bit::SW,
              W = Bit::W, NW = Bit::NW;

} // namespace

SolidMask draw(int mask)
{
    static const QVector<bool> westWall = wallProfile(0x5745);
    static const QVector<bool> eastWall = wallProfile(0x4541);
    static const QVector<bool> underside = undersideProfile(0x534F);

    constexpr int d = Inset;
    constexpr int inner = Size - 2 * d;
    SolidMask m;
    m.fillRect(d, d, inner, inner, true);
    if (has(mask, N))
        m.fillRect(d, 0, inner, d, true);
    if (has(mask, E))
        m.fillRect(Size - d, d, d, inner, true);
    if (has(mask, S))
        m.fillRect(d, Size - d, inner, d, true);
    if (has(mask, W))
        m.fillRect(0, d, d, inner, true);
    if (has(mask, NE))
        m.fillRect(Size - d, 0, d, d, true);
    if (has(mask, SE))
        m.fillRect(Size - d, Size - d, d, d, true);
    if (has(mask, SW))
        m.fillRect(0, Size - d, d, d, true);
    if (has(mask, NW))
        m.fillRect(0, 0, d, d, true);

    // Convex corners: where both edges of a centre corner are open.
    if (!has(mask, N) && !has(mask, W))
        m.roundCorner(d, d, 1, 1, CornerRadius);
    if (!has(mask, N) && !has(mask, E))
        m.roundCorner(Size - d - 1, d, -1, 1, CornerRadius);
    if (!has(mask, S) && !has(mask, W))
        m.roundCorner(d, Size - d - 1, 1, -1, CornerRadius);
    if (!has(mask, S) && !has(mask, E))
        m.roundCorner(Size - d - 1, Size - d - 1, -1, -1, CornerRadius);

    // Weathered open sides. The walk surface on top stays flat: it is where
    // characters stand and where the top shape is laid.
    for (int y = 0; y < Size; ++y) {
        if (!has(mask, W) && westWall[y])
            m.set(d, y, false);
        if (!has(mask, E) && eastWall[y])
            m.set(Size - d - 1, y, false);
    }
    if (!has(mask, S)) {
        for (int x = 0; x < Size; ++x)
            m.set(x, Size - d, underside[x]);
    }
    return m;
}

NamedImages drawAll()
{
    NamedImages images;
    for (int mask : BlobMask::all())
        images.append({BlobMask::fileName(mask), draw(mask).toImage()});
    return images;
}

} // namespace BlobMasks
