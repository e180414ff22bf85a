// The chart of a recording: the detector's state after every sample (read
// through its snapshot), kept as series of 16-bit values (as minimum and
// maximum of buckets for a recording too long to keep whole), and packed
// compactly for a report page.
#ifndef REPORTS_CHART_H
#define REPORTS_CHART_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "detect.h"
#include "file_rules.h"
#include "tumblewatch.h"

// One charted value of the detector's state.
struct ChartSeriesInfo {
    const char* key;    // the snapshot field, e.g. "accRawMag"
    const char* label;  // what a legend shows
    const char* unit;   // "0.01 g", "deg/s", "degrees", "samples", ...
    bool isSigned;      // int16 values; else uint16
};

// Number of charted series.
constexpr int kChartSeriesCount = 15;

// The charted series in their fixed order (kChartSeriesCount entries);
// static storage.
const ChartSeriesInfo* ChartSeries();

// Values a chart keeps per series at most (a multiple of 8): 2^21, so a
// recording of up to 2,097,152 samples (11.6 hours) is charted sample by
// sample.
constexpr std::size_t kChartMaxValues = std::size_t{1} << 21;

// A recording's series, captured as it is read. Up to limit samples,
// values[s][i] is series s after sample i, as the 16 bits of the field
// (signed series in two's complement). A longer recording is kept as the
// minimum and the maximum of each bucket of `bucket` samples (a power of 4,
// buckets aligned at sample 0, compared as signed for signed series):
// values[s] holds minimum and maximum of bucket 0, then of bucket 1, ...;
// the last bucket may be partial. These are exactly the points the page
// would compute from every sample at that zoom level, so memory stays
// within limit values per series whatever the length.
struct RecordingChart {
    uint32_t samples = 0;                 // samples charted
    uint32_t bucket = 1;                  // samples per point
    std::size_t limit = kChartMaxValues;  // values per series at most; a multiple of 8, at least 8
    std::vector<uint16_t> values[kChartSeriesCount];
    uint32_t filled = 0;                    // samples in the bucket being filled (bucket > 1)
    uint16_t low[kChartSeriesCount] = {};   // its minima so far
    uint16_t high[kChartSeriesCount] = {};  // its maxima so far
};

// The bucket a recording of samples samples is charted in with limit:
// 1 when samples <= limit, else the smallest power of 4 whose buckets
// (each a minimum and a maximum) fit in limit values.
uint32_t ChartBucketFor(uint64_t samples, std::size_t limit);

// Empties the chart for a new recording (its limit is kept).
void ChartStart(RecordingChart* chart);

// Adds the series' values after one sample, coarsening the buckets when
// the chart is full. Allocates only while a series grows to its limit.
void ChartAdd(RecordingChart* chart, const uint16_t values[kChartSeriesCount]);

// Closes the last, partial bucket; call once after the last sample.
void ChartFinish(RecordingChart* chart);

// An observer (DetectObserver) that adds the detector's state after each
// sample to the RecordingChart user (started with ChartStart; finish it
// with ChartFinish).
void ChartObserve(void* user, const TumblewatchContext* detector, int code);

// Runs samples[0, count) through a fresh detector set up with cfg (which
// TumblewatchSet must accept), as DetectRun does, and keeps every series
// after each sample (within chart->limit, see RecordingChart). Fills
// *result as DetectRun. Returns false only when the set-up is refused.
bool ChartCapture(const TumblewatchConfig& cfg, const ImuSample* samples, std::size_t count, RecordingChart* chart,
                  DetectResult* result);

// The series packed for a page, as base64 text: for each series in order,
// the differences of its successive values (modulo 65536, the first from
// 0), their low bytes and then their high bytes; all of it compressed with
// zlib. The page adds the differences up again; every value is exact.
// Written to sink piece by piece, in bounded memory.
void ChartEncodeWrite(const RecordingChart& chart, const TextSink& sink);

// The same text as a string.
std::string ChartEncode(const RecordingChart& chart);

// The series' descriptions as a JSON array of {key, label, unit, signed}.
std::string ChartSeriesJson();

#endif
