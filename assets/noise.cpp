#include "noise.h"

#include "prng.h"

namespace Noise {

int floorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

int wrap(int a, int b)
{
    return ((a % b) + b) % b;
}

namespace {

constexpr std::int64_t One = 4096;

// 3t^2 - 2t^3 in units of One.
std::int64_t smooth(std::int64_t t)
{
    return t * t * (3 * One - 2 * t) / (One * One);
}

} // namespace

int value(int x, int y, int cell, int period, std::uint32_t seed)
{
    const int n = period / cell;
    const int cx = floorDiv(x, cell);
    const int cy = floorDiv(y, cell);
    // Sample at the pixel's centre.
    const std::int64_t tx = smooth((2 * (x - cx * cell) + 1) * One / (2 * cell));
    const std::int64_t ty = smooth((2 * (y - cy * cell) + 1) * One / (2 * cell));
    auto lattice = [&](int i, int j) {
        return std::int64_t(Prng::hash(wrap(i, n), wrap(j, n), seed) & 255U);
    };
    const std::int64_t a = lattice(cx, cy);
    const std::int64_t b = lattice(cx + 1, cy);
    const std::int64_t c = lattice(cx, cy + 1);
    const std::int64_t d = lattice(cx + 1, cy + 1);
    const std::int64_t upper = a * One + (b - a) * tx;
    const std::int64_t lower = c * One + (d - c) * tx;
    return int((upper * One + (lower - upper) * ty) / (One * One));
}

int fractal(int x, int y, int cell, int period, std::uint32_t seed)
{
    int sum = 0;
    int weight = 0;
    int w = 256;
    for (int c = cell; c >= 4; c /= 2, w /= 2) {
        sum += value(x, y, c, period, seed + std::uint32_t(c)) * w;
        weight += w;
    }
    return sum / weight;
}

int bayer(int x, int y)
{
    static const int matrix[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    return matrix[wrap(y, 4)][wrap(x, 4)];
}

} // namespace Noise
