#include "terrainmasks.h"

#include "prng.h"
#include "solidmask.h"

namespace TerrainMasks {

namespace {

constexpr int Size = SolidMask::Size;
constexpr int PlatformThickness = 7;

SolidMask full()
{
    SolidMask m;
    m.fillRect(0, 0, Size, Size, true);
    return m;
}

// Rising to the right: the high end (right) meets a flat tile at row 0, the
// low end (left) meets the flat tile one row down on its row 0.
SolidMask slope45Up()
{
    SolidMask m;
    m.fillBelow(0, Size, [](int x) { return Size - 1 - x; });
    return m;
}

// A 1:2 slope spans two tiles: the low half climbs from the bottom to half
// height, the high half from there to the top, one art pixel every two.
SolidMask slope22UpLow()
{
    SolidMask m;
    m.fillBelow(0, Size, [](int x) { return Size - 1 - x / 2; });
    return m;
}

SolidMask slope22UpHigh()
{
    SolidMask m;
    m.fillBelow(0, Size, [](int x) { return Size / 2 - 1 - x / 2; });
    return m;
}

// The left end of a plateau whose wall is the tile's left border.
SolidMask cornerOuterLeft()
{
    SolidMask m = full();
    m.roundCorner(0, 0, 1, 1, 4);
    return m;
}

// Every platform piece has the same thickness at its borders, so the pieces
// join; the underside hangs a little between them like packed earth.
SolidMask platform(bool leftEnd, bool rightEnd)
{
    SolidMask m;
    m.fillRect(0, 0, Size, PlatformThickness, true);
    Prng rng(0x504C41);
    for (int x = 5 + rng.range(0, 2); x < Size - 6;) {
        const int width = rng.range(2, 4);
        m.fillRect(x, PlatformThickness, width, 1, true);
        x += width + rng.range(3, 6);
    }
    if (leftEnd) {
        m.fillRect(0, 0, 1, Size, false);
        m.roundCorner(1, 0, 1, 1, 2);
        m.roundCorner(1, PlatformThickness - 1, 1, -1, 4);
    }
    if (rightEnd) {
        m.fillRect(Size - 1, 0, 1, Size, false);
        m.roundCorner(Size - 2, 0, -1, 1, 2);
        m.roundCorner(Size - 2, PlatformThickness - 1, -1, -1, 4);
    }
    return m;
}

} // namespace

NamedImages drawAll()
{
    const SolidMask solid = full();
    return {
        {QStringLiteral("full.png"), solid.toImage()},
        {QStringLiteral("full_notop.png"), solid.toImage()},
        {QStringLiteral("slope45_up.png"), slope45Up().toImage()},
        {QStringLiteral("slope45_down.png"), slope45Up().mirrored().toImage()},
        {QStringLiteral("slope22_up_low.png"), slope22UpLow().toImage()},
        {QStringLiteral("slope22_up_high.png"), slope22UpHigh().toImage()},
        {QStringLiteral("slope22_down_high.png"), slope22UpHigh().mirrored().toImage()},
        {QStringLiteral("slope22_down_low.png"), slope22UpLow().mirrored().toImage()},
        {QStringLiteral("corner_outer_left.png"), cornerOuterLeft().toImage()},
        {QStringLiteral("corner_outer_right.png"), cornerOuterLeft().mirrored().toImage()},
        {QStringLiteral("platform_left.png"), platform(true, false).toImage()},
        {QStringLiteral("platform_middle.png"), platform(false, false).toImage()},
        {QStringLiteral("platform_right.png"), platform(false, true).toImage()},
        {QStringLiteral("platform_single.png"), platform(true, true).toImage()},
    };
}

} // namespace TerrainMasks
