// The arithmetic of an import, shared by every dataset: samples in
// physical units, the axis maps, the resampling to 50 samples per second
// (blocks of a whole number of samples, or the timed resampling of two
// sensors with their own time stamps) and the raw counts. Everything is in
// double precision, in the order the comments state.
#ifndef RECORDING_IMPORT_IMPORT_CONVERT_H
#define RECORDING_IMPORT_IMPORT_CONVERT_H

#include <cstdint>
#include <string>
#include <vector>

#include "tumblewatch.h"

constexpr double kImportRateHz = 50.0;  // output samples per second
// The output sample period in seconds: the double nearest 1/50. Block
// bounds and centres are start + i * period and start + (i + 0.5) *
// period; dividing by 50 instead differs in the last bit for some i, which
// decides ties when counts are rounded (the shared recordings were made
// with the period).
constexpr double kImportPeriod = 0.02;
constexpr double kImportAccelCountsPerG = 8192.0;   // the bench's accelerometer
constexpr double kImportGyroCountsPerDps = 65.536;  // the bench's gyroscope
// The longest recording a timed import makes: a time stamp that jumps by
// years must not make billions of samples.
constexpr double kImportMaxSeconds = 24.0 * 3600.0;

// Three values of one sensor in physical units (g, or deg/s).
struct ImportVec3 {
    double x;
    double y;
    double z;
};

// One output sample before counting: acceleration in g, rate in deg/s.
struct ImportSample {
    ImportVec3 acc;
    ImportVec3 gyro;
};

// One time-stamped value of one sensor (seconds; g or deg/s).
struct ImportTimed {
    double t;
    ImportVec3 v;
};

// An axis map: output axis i is sign[i] times source axis source[i]
// (0 = x, 1 = y, 2 = z). Only proper rotations are maps: a permutation
// with signs whose determinant is +1.
struct ImportAxes {
    int source[3];
    int sign[3];  // +1 or -1
};

// The identity map, "x,y,z".
ImportAxes ImportAxesIdentity();

// Parses a map such as "y,-x,z" (three comma-separated axes, each x, y or
// z with an optional sign). False with the reason in *error when the text
// is malformed, an axis repeats or the map is a reflection (determinant -1).
bool ImportAxesParse(const std::string& text, ImportAxes* axes, std::string* error);

// The map as text, e.g. "y,-x,z".
std::string ImportAxesText(const ImportAxes& axes);

// v seen through the map.
ImportVec3 ImportAxesApply(const ImportAxes& axes, const ImportVec3& v);

// value times perUnit as a 16-bit count: rounded half away from zero
// (floor(|x| + 0.5) with the sign of x), clipped to -32768..32767; a
// clipped value adds one to *clipped.
int16_t ImportCount(double value, double perUnit, int64_t* clipped);

// The raw sample of an output sample: accelerometer g * 8192, gyroscope
// deg/s * 65.536.
ImuSample ImportCounts(const ImportSample& s, int64_t* clipped);

// Means of blocks of k consecutive samples (the sum of the k, divided by
// k); a trailing part block is dropped. k >= 1.
std::vector<ImportSample> ImportBlockMeans(const std::vector<ImportSample>& in, int k);

// Keeps only the samples whose time is strictly greater than the previous
// kept one (repeated and backward time stamps are dropped), in place.
void ImportKeepIncreasing(std::vector<ImportTimed>* stream);

// How one stream of a timed import is resampled.
struct ImportStreamPlan {
    double rateHz;  // 1 / the median sample interval
    int ratio;      // k when rateHz is within 2 % of k * 50 Hz for k >= 2 (block means), else 0 (interpolation)
};

// The plan of a stream with at least two samples, all increasing in time.
ImportStreamPlan ImportPlanStream(const std::vector<ImportTimed>& stream);

// The output grid over the time both streams cover: start, the later of
// the first times; end, the earlier of the last times; count =
// floor((end - start) * 50 + 1e-9) blocks, block i being [start + i *
// 0.02, start + (i+1) * 0.02).
struct ImportGrid {
    double start;
    int64_t count;  // 0 when the streams overlap by less than one block
};

// The grid of two streams (each with at least one sample). False with the
// reason in *error when they do not overlap, the overlap is longer than
// kImportMaxSeconds, or it would take more than 50 output samples per
// sample of the sparser stream (fewer than one sample per second: a gap or
// a jump in the time stamps).
bool ImportGridOf(const std::vector<ImportTimed>& a, const std::vector<ImportTimed>& b, ImportGrid* grid,
                  std::string* error);

// The stream on the grid: with a ratio (block means), each block's value is
// the mean of the samples whose times lie in the block, or the linear
// interpolation at the block's centre when it holds none; without one,
// linear interpolation at every centre start + (i + 0.5) * 0.02. Interpolation
// between the neighbours t0 <= t < t1 is a + w*(b - a) with w = (t -
// t0)/(t1 - t0); before the first or after the last sample it takes that
// sample's value. out gets grid.count values.
void ImportResample(const std::vector<ImportTimed>& stream, const ImportStreamPlan& plan, const ImportGrid& grid,
                    std::vector<ImportVec3>* out);

// The resampling of one stream in words, as the CSV header and the report
// say it: "linear interpolation (87.8 Hz)", "block mean (200.2 Hz, ratio 4)".
std::string ImportStreamPlanText(const ImportStreamPlan& plan);

#endif
