// Capturing and packing the chart of a recording.
#include "chart.h"

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
void Store(const TumblewatchSnapshotRecord& r, RecordingChart* chart)
{
    const uint16_t v[kChartSeriesCount] = {
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
    for (int s = 0; s < kChartSeriesCount; ++s) {
        chart->values[s].push_back(v[s]);
    }
}

void Observe(void* user, const TumblewatchContext* detector, int /*code*/)
{
    TumblewatchSnapshotRecord record;
    if (TumblewatchSnapshot(detector, &record) == 0) {
        Store(record, static_cast<RecordingChart*>(user));
    }
}

}  // namespace

const ChartSeriesInfo* ChartSeries()
{
    return kSeries;
}

bool ChartCapture(const TumblewatchConfig& cfg, const ImuSample* samples, std::size_t count, RecordingChart* chart,
                  DetectResult* result)
{
    for (std::vector<uint16_t>& v : chart->values) {
        v.clear();
        v.reserve(count);
    }
    chart->samples = 0;
    if (!DetectRun(cfg, samples, count, nullptr, result, Observe, chart)) {
        return false;
    }
    chart->samples = result->samples;
    return true;
}

std::string ChartEncode(const RecordingChart& chart)
{
    const std::size_t n = chart.samples;
    std::string bytes(n * 2 * kChartSeriesCount, '\0');
    for (int s = 0; s < kChartSeriesCount; ++s) {
        char* low = &bytes[2 * n * static_cast<std::size_t>(s)];
        char* high = low + n;
        uint16_t previous = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const uint16_t delta = static_cast<uint16_t>(chart.values[s][i] - previous);
            previous = chart.values[s][i];
            low[i] = static_cast<char>(delta & 0xff);
            high[i] = static_cast<char>(delta >> 8);
        }
    }
    return HtmlBase64(HtmlDeflate(bytes));
}

std::string ChartSeriesJson()
{
    nlohmann::ordered_json series = nlohmann::ordered_json::array();
    for (const ChartSeriesInfo& s : kSeries) {
        series.push_back({{"key", s.key}, {"label", s.label}, {"unit", s.unit}, {"signed", s.isSigned}});
    }
    return series.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
