// A deterministic, plausible stream of raw samples at 50 samples per
// second for the benchmarks: a wearer who stands, walks, falls, lies still
// and gets up again, over and over.
#ifndef BENCHMARKS_SAMPLE_STREAM_H
#define BENCHMARKS_SAMPLE_STREAM_H

#include <cstddef>
#include <string>
#include <vector>

#include "tumblewatch.h"

constexpr double kSamplesPerSecond = 50.0;

// count samples; the same count always gives the same samples.
std::vector<ImuSample> MakeSampleStream(std::size_t count);

// Writes the samples to path as a binary dataset (records from byte 24);
// false when the file cannot be written whole.
bool WriteDataSetFile(const std::string& path, const std::vector<ImuSample>& samples);

#endif
