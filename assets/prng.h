#pragma once

#include <cstdint>

// A tiny hand-written generator with fixed seeds. The standard library's
// distributions differ between implementations, and the library must come
// out byte for byte the same on every machine, so everything random here is
// drawn from this SplitMix64 stream or from the position hash below.
class Prng
{
public:
    explicit Prng(std::uint64_t seed) : state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // A whole number from lo to hi, both included.
    int range(int lo, int hi) { return lo + int(next() % std::uint64_t(hi - lo + 1)); }
    bool chance(int percent) { return range(0, 99) < percent; }

    // A well-mixed value for a grid position, so a texture can look up "its"
    // random value for any pixel without walking a stream in order.
    static std::uint32_t hash(int x, int y, std::uint32_t seed)
    {
        std::uint32_t h = mix(std::uint32_t(y) * 0x85EBCA77U + seed * 0xC2B2AE3DU);
        return mix(h ^ (std::uint32_t(x) * 0x9E3779B1U));
    }

private:
    static std::uint32_t mix(std::uint32_t x)
    {
        x ^= x >> 16;
        x *= 0x7FEB352DU;
        x ^= x >> 15;
        x *= 0x846CA68BU;
        x ^= x >> 16;
        return x;
    }

    std::uint64_t state;
};
