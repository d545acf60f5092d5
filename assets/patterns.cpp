#include "patterns.h"

#include "artgrid.h"
#include "greymap.h"
#include "noise.h"
#include "prng.h"

#include <QVector>

#include <algorithm>
#include <cstdlib>

namespace Patterns {

namespace {

constexpr int Art = ArtGrid::Size;

// Running-bond bricks of 8 by 4 art pixels, mortar on their right and lower
// side, each brick with a lit top edge, a shaded right end and its own tone.
GreyMap bricks()
{
    GreyMap g(Art, Art, 82);
    constexpr int bw = 8;
    constexpr int bh = 4;
    for (int row = 0; row < Art / bh; ++row) {
        const int shift = (row % 2) * (bw / 2);
        for (int col = 0; col < Art / bw; ++col) {
            const int x0 = col * bw + shift;
            const int y0 = row * bh;
            const int face = 136 + int(Prng::hash(col, row, 0x4252) % 25) - 12;
            for (int y = 0; y < bh - 1; ++y) {
                for (int x = 0; x < bw - 1; ++x) {
                    int tone = face;
                    if (y == 0)
                        tone = face + 38;
                    else if (x == bw - 2 || y == bh - 2)
                        tone = face - 26;
                    if (y > 0 && Prng::hash(x0 + x, y0 + y, 0x4253) % 9 == 0)
                        tone = face - 14;
                    g.set(x0 + x, y0 + y, tone);
                }
            }
        }
    }
    return g;
}

struct Seed
{
    int x;
    int y;
};

// Offset from a to b across the wrap, the short way round.
int wrapDelta(int a, int b)
{
    const int d = Noise::wrap(b - a, Art);
    return d >= Art / 2 ? d - Art : d;
}

// Rounded stones between dark joints: a wrap-around Voronoi diagram whose
// cell borders become mortar, each stone lit from the top left.
GreyMap cobbles()
{
    GreyMap g(Art, Art, 80);
    constexpr int grid = 4;
    QVector<Seed> seeds;
    Prng rng(0x434F42);
    for (int j = 0; j < grid; ++j)
        for (int i = 0; i < grid; ++i)
            seeds.append({Noise::wrap(i * Art / grid + (j % 2) * Art / 8 + rng.range(-1, 1), Art),
                          Noise::wrap(j * Art / grid + rng.range(-1, 1), Art)});
    // Which stone each pixel belongs to; the joints are found from it.
    QVector<int> owner(Art * Art);
    for (int y = 0; y < Art; ++y) {
        for (int x = 0; x < Art; ++x) {
            int best = 0;
            int bestDistance = 1 << 30;
            for (int s = 0; s < seeds.size(); ++s) {
                const int dx = wrapDelta(x, seeds[s].x);
                const int dy = wrapDelta(y, seeds[s].y);
                // Slightly wider than high, as laid stones are.
                const int d = 3 * dx * dx + 4 * dy * dy;
                if (d < bestDistance) {
                    bestDistance = d;
                    best = s;
                }
            }
            owner[y * Art + x] = best;
        }
    }
    auto ownerAt = [&](int x, int y) {
        return owner[Noise::wrap(y, Art) * Art + Noise::wrap(x, Art)];
    };
    for (int y = 0; y < Art; ++y) {
        for (int x = 0; x < Art; ++x) {
            const int s = ownerAt(x, y);
            const int face = 136 + int(Prng::hash(s, 0, 0x434F) % 29) - 14;
            int tone = face;
            // A joint where the stone to the right or below is another one.
            if (ownerAt(x + 1, y) != s || ownerAt(x, y + 1) != s)
                tone = 74;
            else if (ownerAt(x - 1, y) != s || ownerAt(x, y - 1) != s)
                tone = face + 36; // lit rim
            else if (ownerAt(x + 1, y + 1) != s || ownerAt(x + 2, y) != s || ownerAt(x, y + 2) != s)
                tone = face - 28; // shaded rim
            g.set(x, y, tone);
        }
    }
    return g;
}

// Horizontal planks, 4 art pixels high and mostly a tile long, with butt
// joints, nails, grain and the odd knot.
GreyMap planks()
{
    GreyMap g(Art, Art, 132);
    constexpr int ph = 4;
    Prng rng(0x504C4B);
    for (int row = 0; row < Art / ph; ++row) {
        const int y0 = row * ph;
        const int face = 134 + rng.range(-12, 12);
        for (int x = 0; x < Art; ++x) {
            g.set(x, y0, face + 32);
            g.set(x, y0 + 1, Prng::hash(x, row, 0x504C) % 5 == 0 ? face - 18 : face);
            g.set(x, y0 + 2, Prng::hash(x, row, 0x504D) % 3 == 0 ? face : face - 16);
            g.set(x, y0 + ph - 1, 64);
        }
        // One joint per row, never lined up with the rows next to it.
        const int joint = Noise::wrap(row * 13 + rng.range(0, 4), Art);
        for (int y = 0; y < ph - 1; ++y) {
            g.set(joint, y0 + y, 64);
            g.set(joint + 1, y0 + y, face + 24);
        }
        g.set(joint - 2, y0 + 1, 80); // nail heads either side
        g.set(joint + 3, y0 + 1, 80);
        if (rng.chance(50)) {
            const int knot = Noise::wrap(joint + rng.range(8, 24), Art);
            g.set(knot, y0 + 1, 84);
            g.set(knot + 1, y0 + 1, face - 28);
            g.set(knot - 1, y0 + 1, face - 28);
        }
    }
    return g;
}

// Earth: soft blotches, fine dark and light specks and small pebbles.
GreyMap dirt()
{
    GreyMap g(Art, Art, 128);
    for (int y = 0; y < Art; ++y) {
        for (int x = 0; x < Art; ++x) {
            const int n = Noise::fractal(x, y, 8, Art, 0x4449);
            // Blotches in three flat steps, as pixel art would.
            int tone = n < 114 ? 116 : (n > 142 ? 140 : 128);
            const std::uint32_t h = Prng::hash(x, y, 0x4452);
            if (h % 13 == 0)
                tone = 90;
            else if (h % 29 == 0)
                tone = 168;
            g.set(x, y, tone);
        }
    }
    // Pebbles: a lit top, a dark underside.
    Prng rng(0x504542);
    for (int i = 0; i < 7; ++i) {
        const int x = rng.range(0, Art - 1);
        const int y = rng.range(0, Art - 1);
        const int w = rng.range(1, 2);
        for (int dx = 0; dx < w; ++dx) {
            g.set(x + dx, y, 176);
            g.set(x + dx, y + 1, 80);
        }
    }
    return g;
}

// Cloudy noise, ordered-dithered into five tones for a pixel-art grain.
GreyMap noise()
{
    GreyMap g(Art, Art, 128);
    static const int tones[] = {80, 108, 128, 150, 180};
    for (int y = 0; y < Art; ++y) {
        for (int x = 0; x < Art; ++x) {
            // Mostly fine grain over a faint cloudiness.
            const int n =
                (Noise::value(x, y, 8, Art, 0x4E4F) + 2 * Noise::value(x, y, 4, Art, 0x4E50) +
                 int(Prng::hash(x, y, 0x4E51) & 255U)) /
                4;
            const int t = std::clamp(128 + (n - 128) * 2, 0, 255);
            const int level = std::clamp((t * 4 * 16 / 255 + Noise::bayer(x, y) - 8) / 16, 0, 4);
            g.set(x, y, tones[level]);
        }
    }
    return g;
}

// Diagonal bands with a lit and a shaded edge, 8 art pixels apart so they wrap.
GreyMap stripes()
{
    GreyMap g(Art, Art, 128);
    for (int y = 0; y < Art; ++y) {
        for (int x = 0; x < Art; ++x) {
            static const int band[] = {190, 160, 160, 140, 70, 100, 100, 100};
            g.set(x, y, band[Noise::wrap(x + y, 8)]);
        }
    }
    return g;
}

// Rock strata: layers of different tone and thickness whose borders wander
// each on its own, so layers pinch and swell.
GreyMap strata()
{
    GreyMap g(Art, Art, 128);
    Prng rng(0x535452);
    QVector<int> layerTop;
    for (int y = 0; y < Art;) {
        int thick = rng.range(4, 7);
        if (Art - y - thick < 4)
            thick = Art - y;
        layerTop.append(y);
        y += thick;
    }
    static const int tones[] = {118, 150, 132, 104, 158, 126};
    for (int x = 0; x < Art; ++x) {
        QVector<int> top(layerTop.size());
        for (int i = 0; i < layerTop.size(); ++i)
            top[i] = layerTop[i] + Noise::value(x, i, 8, Art, 0x5754 + i) * 3 / 256 - 1;
        for (int y = 0; y < Art; ++y) {
            // The layer whose top is the nearest at or above this row.
            int layer = 0;
            int nearest = Art;
            for (int i = 0; i < top.size(); ++i) {
                const int above = Noise::wrap(y - top[i], Art);
                if (above < nearest) {
                    nearest = above;
                    layer = i;
                }
            }
            const int next = (layer + 1) % top.size();
            const int face = tones[layer % 6];
            int tone = face;
            if (nearest == 0)
                tone = face + 26;
            else if (Noise::wrap(top[next] - y, Art) == 1)
                tone = 78;
            else if (Prng::hash(x, y, 0x5355) % 7 == 0)
                tone = face - 18;
            g.set(x, y, tone);
        }
    }
    return g;
}

} // namespace

NamedImages drawAll()
{
    return {
        {QStringLiteral("bricks.png"), bricks().toImage()},
        {QStringLiteral("cobbles.png"), cobbles().toImage()},
        {QStringLiteral("dirt.png"), dirt().toImage()},
        {QStringLiteral("noise.png"), noise().toImage()},
        {QStringLiteral("planks.png"), planks().toImage()},
        {QStringLiteral("strata.png"), strata().toImage()},
        {QStringLiteral("stripes.png"), stripes().toImage()},
    };
}

} // namespace Patterns
