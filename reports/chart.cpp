// Capturing and packing the chart of a recording.
#include "chart.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "html_encode.h"
#include "snapshot.h"

namespace {

const ChartSeriesInfo kSeries[kChartSeriesCount] = {
    {"accRawMag", "raw", "0.01 g", false},
    {"accLpfMag", "filtered", "0.01 g", false},
    {"accLpf2Mag", "second-filtered", "0.01 g", false},
    {"accRawSum3", "raw, sum of 3 samples", "0.01 g", false},
    {"gyroRawMag", "raw", "deg/s", false},
    {"gyroLpfMag", "filtered", "deg/s", false},
    {"gyroLpfAvg5", "filtered, mean of 5 samples", "deg/s", false},
    {"pitch", "pitch", "degrees", true},
    {"tilt", "tilt", "degrees", true},
    {"fallLength", "fallLength", "samples", false},
    {"quietRun", "quietRun", "samples", false},
    {"fallDeepCount", "fallDeepCount", "samples", false},
    {"fallScore", "fallScore", "samples", true},
    {"jumpScore", "jump score", "samples", false},
    {"tumbleRun", "tumble run", "samples", false},
};

// The snapshot's fields in the order of kSeries, as 16-bit patterns.
void Fields(const TumblewatchSnapshotRecord& r, uint16_t v[kChartSeriesCount])
{
    const uint16_t fields[kChartSeriesCount] = {
        r.accRawMag,
        r.accLpfMag,
        r.accLpf2Mag,
        r.accRawSum3,
        r.gyroRawMag,
        r.gyroLpfMag,
        r.gyroLpfAvg5,
        static_cast<uint16_t>(r.pitch),
        static_cast<uint16_t>(r.tilt),
        r.fallLength,
        r.quietRun,
        r.fallDeepCount,
        static_cast<uint16_t>(r.fallScore),
        r.jumpScore,
        r.tumbleRun,
    };
    std::copy(fields, fields + kChartSeriesCount, v);
}

// a < b for the values of series s (signed series as int16).
bool Less(int s, uint16_t a, uint16_t b)
{
    return kSeries[s].isSigned ? static_cast<int16_t>(a) < static_cast<int16_t>(b) : a < b;
}

// Replaces every group of `group` entries of each series by one bucket:
// from single values (group 4, bucket 1 to 4) or from pairs of minimum and
// maximum (4 pairs to one). The chart holds only whole groups here.
void Coarsen(RecordingChart* chart)
{
    const bool single = chart->bucket == 1;
    const std::size_t width = single ? 4 : 8;  // values per group
    for (int s = 0; s < kChartSeriesCount; ++s) {
        std::vector<uint16_t>& v = chart->values[s];
        const std::size_t groups = v.size() / width;
        for (std::size_t g = 0; g < groups; ++g) {
            uint16_t low = v[g * width];
            uint16_t high = v[g * width + (single ? 0 : 1)];
            for (std::size_t i = g * width; i < (g + 1) * width; ++i) {
                // Single values are both minimum and maximum; pairs hold
                // the minimum first.
                if ((single || (i % 2) == 0) && Less(s, v[i], low)) {
                    low = v[i];
                }
                if ((single || (i % 2) == 1) && Less(s, high, v[i])) {
                    high = v[i];
                }
            }
            v[2 * g] = low;
            v[2 * g + 1] = high;
        }
        v.resize(2 * groups);
    }
    chart->bucket *= 4;
}

}  // namespace

const ChartSeriesInfo* ChartSeries()
{
    return kSeries;
}

uint32_t ChartBucketFor(uint64_t samples, std::size_t limit)
{
    if (samples <= limit) {
        return 1;
    }
    uint64_t bucket = 4;
    while ((samples + bucket - 1) / bucket > limit / 2) {
        bucket *= 4;
    }
    return static_cast<uint32_t>(bucket);
}

void ChartStart(RecordingChart* chart)
{
    for (std::vector<uint16_t>& v : chart->values) {
        v.clear();
    }
    chart->samples = 0;
    chart->bucket = 1;
    chart->filled = 0;
}

void ChartAdd(RecordingChart* chart, const uint16_t values[kChartSeriesCount])
{
    const std::size_t held = chart->values[0].size();
    if (chart->bucket == 1) {
        if (held < chart->limit) {
            for (int s = 0; s < kChartSeriesCount; ++s) {
                chart->values[s].push_back(values[s]);
            }
            ++chart->samples;
            return;
        }
        Coarsen(chart);
    } else if (chart->filled == 0 && held == chart->limit) {
        Coarsen(chart);
    }
    for (int s = 0; s < kChartSeriesCount; ++s) {
        if (chart->filled == 0) {
            chart->low[s] = chart->high[s] = values[s];
        } else {
            chart->low[s] = Less(s, values[s], chart->low[s]) ? values[s] : chart->low[s];
            chart->high[s] = Less(s, chart->high[s], values[s]) ? values[s] : chart->high[s];
        }
    }
    ++chart->samples;
    if (++chart->filled == chart->bucket) {
        ChartFinish(chart);
    }
}

void ChartFinish(RecordingChart* chart)
{
    if (chart->bucket > 1 && chart->filled > 0) {
        for (int s = 0; s < kChartSeriesCount; ++s) {
            chart->values[s].push_back(chart->low[s]);
            chart->values[s].push_back(chart->high[s]);
        }
    }
    chart->filled = 0;
}

void ChartObserve(void* user, const TumblewatchContext* detector, int /*code*/)
{
    TumblewatchSnapshotRecord record;
    if (TumblewatchSnapshot(detector, &record) == 0) {
        uint16_t values[kChartSeriesCount];
        Fields(record, values);
        ChartAdd(static_cast<RecordingChart*>(user), values);
    }
}

bool ChartCapture(const TumblewatchConfig& cfg, const ImuSample* samples, std::size_t count, RecordingChart* chart,
                  DetectResult* result)
{
    ChartStart(chart);
    for (std::vector<uint16_t>& v : chart->values) {
        v.reserve(std::min(count, chart->limit));
    }
    const bool run = DetectRun(cfg, samples, count, nullptr, result, ChartObserve, chart);
    ChartFinish(chart);
    return run;
}

void ChartEncodeWrite(const RecordingChart& chart, const TextSink& sink)
{
    HtmlPackStream stream;
    HtmlPackBegin(&stream, sink);
    char bytes[1 << 14];
    for (const std::vector<uint16_t>& series : chart.values) {
        // The low bytes of the differences, then their high bytes.
        for (const int shift : {0, 8}) {
            uint16_t previous = 0;
            std::size_t used = 0;
            for (const uint16_t value : series) {
                const auto delta = static_cast<uint16_t>(value - previous);
                previous = value;
                bytes[used++] = static_cast<char>((delta >> shift) & 0xff);
                if (used == sizeof bytes) {
                    HtmlPackWrite(&stream, bytes, used);
                    used = 0;
                }
            }
            HtmlPackWrite(&stream, bytes, used);
        }
    }
    HtmlPackEnd(&stream);
}

std::string ChartEncode(const RecordingChart& chart)
{
    std::string text;
    const TextSink sink = [&text](std::string_view piece) { text += piece; };
    ChartEncodeWrite(chart, sink);
    return text;
}

std::string ChartSeriesJson()
{
    nlohmann::ordered_json series = nlohmann::ordered_json::array();
    for (const ChartSeriesInfo& s : kSeries) {
        series.push_back({{"key", s.key}, {"label", s.label}, {"unit", s.unit}, {"signed", s.isSigned}});
    }
    return series.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
