// A deterministic, plausible stream of raw samples at 50 samples per
// second for the benchmarks: a wearer who stands, walks, falls, lies still
// and gets up again, over and over.
#ifndef BENCHMARKS_SAMPLE_STREAM_H
#define BENCHMARKS_SAMPLE_STREAM_H

#include <cstddef>
#include <vector>

#include "tumblewatch.h"

constexpr double kSamplesPerSecond = 50.0;

// count samples; the same count always gives the same samples.
std::vector<ImuSample> MakeSampleStream(std::size_t count);

#endif
