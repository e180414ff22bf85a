// The configurations of a sweep: the cartesian product of parameter grids,
// each point combined with every one of N random draws from integer
// ranges, on top of a fixed base configuration. Configuration i can be
// built on its own, so nothing is enumerated in advance.
#ifndef EVALUATION_SWEEP_SPACE_H
#define EVALUATION_SWEEP_SPACE_H

#include <cstdint>
#include <string>
#include <vector>

#include "tumblewatch.h"

// A parameter and the values a grid gives it, in order.
struct SweepGrid {
    int param;                    // index in the parameter table
    std::vector<int32_t> values;  // at least one
};

// A parameter drawn uniformly from [low, high].
struct SweepRange {
    int param;
    int32_t low;
    int32_t high;
};

struct SweepSpace {
    std::vector<SweepGrid> grids;    // the first grid varies slowest
    std::vector<SweepRange> ranges;  // used when draws > 0
    int64_t draws;                   // random configurations per grid point; 0 without --random
    uint64_t seed;                   // of the random draws
};

// Default number of configurations a sweep may have.
constexpr int64_t kDefaultMaxConfigs = 100000;

// Parses "NAME=LO:HI:STEP" or "NAME=V1,V2,..." (or "NAME=V"). False with a
// message for an unknown name, a parameter that no stage reads, LO > HI,
// STEP <= 0, a value that is not a 32-bit integer or an empty list; *grid
// is then unchanged.
bool SweepParseGrid(const std::string& text, SweepGrid* grid, std::string* error);

// Parses "NAME=LO:HI". False with a message for an unknown name, a
// parameter that no stage reads, LO > HI or a bound that is not a 32-bit
// integer; *range is then unchanged.
bool SweepParseRange(const std::string& text, SweepRange* range, std::string* error);

// Checks the space as a whole: no parameter varied twice, ranges only with
// draws and draws only with ranges. False with a message.
bool SweepCheck(const SweepSpace& space, std::string* error);

// The number of configurations, or -1 when it exceeds limit (so that no
// product can overflow).
int64_t SweepCount(const SweepSpace& space, int64_t limit);

// The varied parameters in order: the grids', then the ranges'.
std::vector<int> SweepVaried(const SweepSpace& space);

// Configuration index (0 <= index < SweepCount) of the sweep: base with the
// grid values of its grid point and the values of its random draw. The
// draw depends only on the seed and the draw's number, not on the count.
TumblewatchConfig SweepConfig(const SweepSpace& space, const TumblewatchConfig& base, int64_t index);

#endif
