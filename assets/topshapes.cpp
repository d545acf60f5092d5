#include "topshapes.h"

#include "artgrid.h"
#include "greymap.h"
#include "noise.h"
#include "prng.h"

#include <QVector>

#include <algorithm>
#include <cstdlib>

namespace TopShapes {

namespace {

constexpr int Width = ArtGrid::Size;
constexpr int Empty = GreyMap::Transparent;

// Shared tone ladder: outline, shadow, body, light, highlight.
constexpr int Outline = 70;
constexpr int Shadow = 100;
constexpr int Body = 136;
constexpr int Light = 166;
constexpr int Highlight = 204;

int wrapX(int x)
{
    return Noise::wrap(x, Width);
}

// Deepens depth[x..x+width) by a bump of the given extra depth: pointed (a
// tuft) or rounded (a drift or clump).
void addBump(QVector<int> &depth, int x, int width, int base, int extra, bool pointed)
{
    for (int i = 0; i < width; ++i) {
        const int twice = std::abs(2 * i - (width - 1)); // 0 at the middle
        const int h = pointed ? extra - extra * twice / width
                              : extra - extra * twice * twice / (width * width);
        int &d = depth[wrapX(x + i)];
        d = std::max(d, base + h);
    }
}

// Bumps side by side around the whole width, so the row repeats.
QVector<int> bumpyDepth(Prng &rng, int base, int minWidth, int maxWidth, int minExtra, int maxExtra,
                        bool pointed)
{
    QVector<int> depth(Width, base);
    for (int x = rng.range(0, 2); x < Width;) {
        const int width = rng.range(minWidth, maxWidth);
        addBump(depth, x, width, base, rng.range(minExtra, maxExtra), pointed);
        x += width;
    }
    return depth;
}

// Dark rim along the lower edge so the top reads against the ground below.
void outlineBottom(GreyMap &g, int tone)
{
    for (int x = 0; x < Width; ++x) {
        for (int y = g.height() - 1; y >= 0; --y) {
            if (g.isOpaque(x, y)) {
                g.set(x, y, tone);
                break;
            }
        }
    }
}

GreyMap grass()
{
    GreyMap g(Width, 8, Empty);
    Prng rng(0x47524153);
    // A dense band with pointed tufts of blades hanging over the ground.
    QVector<int> depth = bumpyDepth(rng, 4, 2, 4, 1, 3, true);
    for (int x = 0; x < Width; ++x) {
        const std::uint32_t h = Prng::hash(x, 0, 0x47);
        for (int y = 0; y < depth[x]; ++y) {
            int tone = Body;
            if (y == 0)
                tone = h % 3 == 0 ? Light : Highlight; // tips of separate blades
            else if (y == 1)
                tone = (h >> 4) % 3 == 0 ? Body : Light;
            else if (y == 2 && (h >> 8) % 4 == 0)
                tone = Light - 12;
            else if (y >= 3 && (x + y) % 3 == 0)
                tone = Body - 16; // blade shading deeper in the band
            g.set(x, y, tone);
        }
    }
    outlineBottom(g, Shadow - 8);
    return g;
}

// Snow is drawn darker than the other tops: it is meant for a white or pale
// top colour, and overlay with white turns every grey above the middle into
// plain white, so its shading has to live just below the middle.
GreyMap snow()
{
    GreyMap g(Width, 8, Empty);
    Prng rng(0x534E4F57);
    const QVector<int> depth = bumpyDepth(rng, 3, 6, 11, 1, 3, false);
    for (int x = 0; x < Width; ++x) {
        const int d = depth[x];
        for (int y = 0; y < d; ++y) {
            int tone = 122;
            if (y == 0)
                tone = 150;
            else if (y == d - 1)
                tone = 98; // the shadowed belly of the drift
            else if (y == d - 2 && d > 3)
                tone = 110;
            g.set(x, y, tone);
        }
        // Soft lower edge: a few loose flakes under the drift.
        if (Prng::hash(x, 0, 0x534E) % 3 == 0)
            g.set(x, d, 112);
    }
    // A few icicles.
    for (int i = 0; i < 4; ++i) {
        const int x = i * Width / 4 + rng.range(1, 6);
        const int top = depth[wrapX(x)];
        const int length = rng.range(1, 3);
        for (int y = top; y < top + length; ++y)
            g.set(x, y, 128);
        g.set(x, top + length - 1, 104);
    }
    return g;
}

GreyMap sand()
{
    GreyMap g(Width, 5, Empty);
    for (int x = 0; x < Width; ++x) {
        // A smooth wave of blown sand over the ground.
        const int d = 2 + Noise::value(x, 0, 8, Width, 0x53414E) * 2 / 256;
        for (int y = 0; y < d; ++y) {
            const std::uint32_t h = Prng::hash(x, y, 0x53);
            int tone = 172;
            if (y == 0)
                tone = h % 4 == 0 ? 190 : 214;
            else if (h % 4 == 0)
                tone = 144; // a dark grain
            g.set(x, y, tone);
        }
        g.set(x, d, 128);
        // Loose grains trickling over the edge.
        if (Prng::hash(x, 9, 0x53) % 3 == 0)
            g.set(x, d + 1, 150);
    }
    return g;
}

GreyMap moss()
{
    GreyMap g(Width, 8, Empty);
    Prng rng(0x4D4F5353);
    const QVector<int> depth = bumpyDepth(rng, 2, 3, 6, 1, 2, false);
    for (int x = 0; x < Width; ++x) {
        for (int y = 0; y < depth[x]; ++y) {
            // Clumpy fuzz: two tones, picked by a dither of noise.
            const int n = Noise::value(x, y, 4, Width, 0x4D);
            int tone = n * 16 / 256 > Noise::bayer(x, y) ? 152 : 120;
            if (y == 0)
                tone = n > 120 ? 184 : 164;
            g.set(x, y, tone);
        }
    }
    outlineBottom(g, Outline + 6);
    // Hanging strands with a bead at the end.
    for (int i = 0; i < 6; ++i) {
        const int x = i * Width / 6 + rng.range(0, 4);
        const int start = depth[wrapX(x)];
        const int end = std::min(start + rng.range(1, 3), g.height() - 1);
        for (int y = start; y < end; ++y)
            g.set(x, y, 108);
        g.set(x, end, 148);
    }
    return g;
}

GreyMap stoneRim()
{
    GreyMap g(Width, 5, Empty);
    Prng rng(0x53544F4E);
    // Stone widths that add up to exactly one tile, so the row repeats.
    QVector<int> widths;
    int total = 0;
    while (total < Width) {
        int w = rng.range(4, 7);
        if (Width - total - w < 4)
            w = Width - total;
        widths.append(w);
        total += w;
    }
    int x0 = 0;
    for (int w : widths) {
        const int height = rng.range(3, 4);
        const int face = rng.range(-8, 8);
        for (int i = 0; i < w; ++i) {
            const int x = x0 + i;
            if (i == w - 1) {
                // Mortar joint between two stones.
                for (int y = 0; y < height - 1; ++y)
                    g.set(x, y, Outline);
                continue;
            }
            const bool side = i == 0 || i == w - 2;
            const int bottom = side ? height - 1 : height; // rounded lower corners
            for (int y = 0; y < bottom; ++y) {
                int tone = 150 + face;
                if (y == 0)
                    tone = 212;
                else if (i == 0)
                    tone = 180 + face;
                else if (i == w - 2)
                    tone = 116 + face;
                if (y == bottom - 1 && y > 0)
                    tone = Outline;
                g.set(x, y, tone);
            }
        }
        x0 += w;
    }
    return g;
}

GreyMap vines()
{
    GreyMap g(Width, 12, Empty);
    Prng rng(0x56494E45);
    const QVector<int> depth = bumpyDepth(rng, 2, 3, 5, 0, 1, false);
    for (int x = 0; x < Width; ++x) {
        for (int y = 0; y < depth[x]; ++y)
            g.set(x, y, y == 0 ? Highlight - 20 : (Prng::hash(x, y, 0x56) % 3 == 0 ? Light : Body));
    }
    outlineBottom(g, Outline);
    // Hanging vines: a stem that wanders a little, leaves on alternate sides.
    for (int v = 0; v < 7; ++v) {
        int x = v * Width / 7 + rng.range(0, 3);
        const int top = depth[wrapX(x)];
        const int length = rng.range(3, g.height() - top - 1);
        int side = rng.chance(50) ? 1 : -1;
        for (int k = 0; k < length; ++k) {
            const int y = top + k;
            if (k > 1 && rng.chance(20))
                x += side;
            g.set(x, y, Shadow);
            if (k % 2 == 1) {
                g.set(x + side, y, Light);
                side = -side;
            }
        }
        g.set(x, top + length, Light);
    }
    return g;
}

} // namespace

NamedImages drawAll()
{
    // The first name in the list becomes a new design's top shape, so the
    // most useful one, grass, must sort first.
    return {
        {QStringLiteral("grass.png"), grass().toImage()},
        {QStringLiteral("moss.png"), moss().toImage()},
        {QStringLiteral("sand.png"), sand().toImage()},
        {QStringLiteral("snow.png"), snow().toImage()},
        {QStringLiteral("stone_rim.png"), stoneRim().toImage()},
        {QStringLiteral("vines.png"), vines().toImage()},
    };
}

} // namespace TopShapes
