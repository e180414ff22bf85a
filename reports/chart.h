// The chart of a recording: the detector's state after every sample (read
// through its snapshot), kept as series of 16-bit values, and packed
// compactly for a report page.
#ifndef REPORTS_CHART_H
#define REPORTS_CHART_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "detect.h"
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

// A recording's series: values[s][i] is series s after sample i, as the
// 16 bits of the field (signed series in two's complement).
struct RecordingChart {
    uint32_t samples;
    std::vector<uint16_t> values[kChartSeriesCount];
};

// Runs samples[0, count) through a fresh detector set up with cfg (which
// TumblewatchSet must accept), as DetectRun does, and keeps every series
// after each sample. Allocates the series once, count values each; the
// per-sample path allocates nothing more. Fills *result as DetectRun.
// Returns false only when the set-up is refused.
bool ChartCapture(const TumblewatchConfig& cfg, const ImuSample* samples, std::size_t count, RecordingChart* chart,
                  DetectResult* result);

// The series packed for a page, as base64 text: for each series in order,
// the differences of successive values (modulo 65536, the first from 0),
// their low bytes and then their high bytes; all of it compressed with
// zlib. The page adds the differences up again; every value is exact.
std::string ChartEncode(const RecordingChart& chart);

// The series' descriptions as a JSON array of {key, label, unit, signed}.
std::string ChartSeriesJson();

#endif
