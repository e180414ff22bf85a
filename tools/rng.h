// Deterministic pseudo-random numbers for the recording generator: a
// SplitMix64 sequence and Gaussian values by the Box-Muller transform. Only
// integer arithmetic and the basic math functions are used, so every run on
// every standard library gives the same numbers.
#ifndef TOOLS_RNG_H
#define TOOLS_RNG_H

#include <cmath>
#include <cstdint>
#include <string>

namespace recgen {

struct Rng {
    uint64_t state;
    bool haveSpare;  // Box-Muller makes two values; the second waits here
    double spare;
};

inline Rng RngSeeded(uint64_t seed)
{
    return Rng{seed, false, 0.0};
}

// A seed from a text (64-bit FNV-1a), so that each recording has its own
// sequence whatever else is generated in the same run.
inline uint64_t SeedFromText(const std::string& text)
{
    uint64_t h = 14695981039346656037ULL;
    for (const char c : text) {
        h ^= static_cast<uint8_t>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

inline uint64_t RngNext(Rng* rng)
{
    uint64_t z = (rng->state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Uniform in the open interval (0, 1).
inline double RngUniform(Rng* rng)
{
    return (static_cast<double>(RngNext(rng) >> 11) + 0.5) * (1.0 / 9007199254740992.0);
}

// Uniform in [lo, hi).
inline double RngRange(Rng* rng, double lo, double hi)
{
    return lo + (hi - lo) * RngUniform(rng);
}

// Standard normal.
inline double RngGauss(Rng* rng)
{
    if (rng->haveSpare) {
        rng->haveSpare = false;
        return rng->spare;
    }
    const double r = std::sqrt(-2.0 * std::log(RngUniform(rng)));
    const double a = 6.283185307179586 * RngUniform(rng);
    rng->spare = r * std::sin(a);
    rng->haveSpare = true;
    return r * std::cos(a);
}

}  // namespace recgen

#endif
