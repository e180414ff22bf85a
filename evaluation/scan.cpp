// What-if scans over the cached front ends.
#include "scan.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "config.h"
#include "params.h"

namespace {

// Largest quantities a sample can reach: a +-4 g accelerometer (int16
// counts, 8192 per g) gives raw magnitudes up to 693 (0.01 g) and sums of
// three up to 2,079; a +-500 deg/s gyroscope gives up to 866 deg/s. The
// low-pass filters stay within these with room to spare.
constexpr int32_t kAccelTop = 1000;      // 0.01 g
constexpr int32_t kAccelSum3Top = 2100;  // 0.01 g, sum of 3
constexpr int32_t kGyroTop = 1000;       // deg/s
constexpr int32_t kAngleTop = 361;       // degrees: calibrated angles lie within +-360
constexpr int32_t kPhaseTop = 31;        // samples: a low phase is at most 30 long

struct RangeRule {
    const char* name;
    int32_t lo;
    int32_t hi;        // when longest is 0
    int32_t pastLong;  // hi = longest + pastLong when >= 0 (the range depends on the recordings' length)
    const char* why;
};

// clang-format off
constexpr RangeRule kRules[] = {
    {"fallWindow", 1, 63, -1, "the detector accepts 1..63"},
    {"quietMagnitude", -1, kAccelTop, -1, "compared with the filtered magnitude, 0 to under 10 g"},
    {"jumpBandLow", -1, kAccelTop, -1, "compared with the raw magnitude, 0 to 6.93 g"},
    {"jumpBandHigh", 0, kAccelTop, -1, "compared with the raw magnitude, 0 to 6.93 g"},
    {"rotationLow", 0, kGyroTop, -1,
     "compared with the mean rotation, 0 to 866 deg/s (below 0 the weighted test's weight keeps growing: not scanned)"},
    {"rotationHigh", 0, kGyroTop, -1, "compared with the mean rotation, 0 to 866 deg/s"},
    {"weightedAccelMax", 0, kAccelTop, -1, "compared with the weighted mean acceleration, 0 to under 10 g"},
    {"pitchLimit", 0, kAngleTop, -1, "compared with the calibrated pitch, within +-360 degrees (0 or less: never upright)"},
    {"tiltLimit", -kAngleTop, kAngleTop, -1, "compared with the calibrated tilt, within +-360 degrees; 15 is refused"},
    {"recordLength", 0, kPhaseTop, -1, "compared with a low phase's length, at most 30 samples"},
    {"impactHardSum", 0, kAccelSum3Top, -1, "compared with a sum of three raw magnitudes, at most 2,079"},
    {"impactHardWindow", 0, 0, 0, "compared with samples since the latest event, at most the longest recording's"},
    {"impactHardLength", 0, 0, 1,
     "compared with a quiet run or event length, at most the longest recording (a negative value is never met)"},
    {"impactSoftSum", 0, kAccelSum3Top, -1, "compared with a sum of three raw magnitudes, at most 2,079"},
    {"impactSoftWindow", 0, 0, 0, "compared with samples since the latest event, at most the longest recording's"},
    {"impactSoftLength", 0, 0, 1,
     "compared with a quiet run or event length, at most the longest recording (a negative value is never met)"},
    {"tumbleAccel", -1, kAccelTop, -1, "compared with the raw magnitude, 0 to 6.93 g"},
    {"tumbleGyro", -1, kGyroTop, -1, "compared with the raw rotation, 0 to 866 deg/s"},
    {"tumbleLength", 0, 0, 1, "compared with the tumble run, at most the longest recording (below 0: not scanned)"},
    {"repeatPrevLength", -10, kPhaseTop + 4, -1, "compared with event lengths of at most 30 samples, less a bias of -10..4"},
    {"repeatLength", -10, kPhaseTop + 4, -1, "compared with phase lengths of at most 30 samples, less a bias of -10..4"},
    {"repeatTotalLength", 0, 2 * kPhaseTop, -1, "compared with two lengths of at most 30 samples together"},
    {"repeatGapMin", -1, 0, 1, "compared with the gap between two phases, -1 to the longest recording"},
    {"repeatGapMax", -1, 0, 1, "compared with the gap between two phases, -1 to the longest recording"},
    {"repeatPeak", 0, kAccelTop, -1, "compared with a raw magnitude, 0 to 6.93 g"},
};
// clang-format on

// "NAME=STEP" settings: the step by parameter index.
bool ParseSteps(const std::vector<std::string>& steps, std::vector<int32_t>* byParam, std::string* error)
{
    byParam->assign(kTumblewatchParamCount, 0);
    for (const std::string& s : steps) {
        const std::size_t eq = s.find('=');
        const std::string name = s.substr(0, eq);
        int32_t step = 0;
        if (eq == std::string::npos || !ConfigParseInt32(s.substr(eq + 1), &step) || step < 1) {
            *error = "--step " + s + ": expected NAME=STEP with a whole STEP of 1 or more";
            return false;
        }
        const int index = ConfigParamIndex(name);
        if (index < 0) {
            *error = "--step " + s + ": " + ConfigUnknownName(name);
            return false;
        }
        if ((*byParam)[static_cast<std::size_t>(index)] != 0) {
            *error = "--step " + s + ": a step for " + name + " is given twice";
            return false;
        }
        (*byParam)[static_cast<std::size_t>(index)] = step;
    }
    return true;
}

// The values of one parameter: every value, or an even grid with hi.
void Values(ScanParam* p, int32_t base, int32_t forcedStep, int maxValues)
{
    const int64_t lo = p->range.lo;
    const int64_t hi = p->range.hi;
    const int64_t size = hi - lo + 1;
    int64_t step = forcedStep;
    if (step == 0) {
        step = size <= std::max(maxValues, kScanWholeRange) ? 1 : (hi - lo + maxValues - 2) / (maxValues - 1);
    }
    p->step = static_cast<int32_t>(step);
    std::vector<int32_t> values;
    for (int64_t v = lo; v <= hi; v += step) {
        values.push_back(static_cast<int32_t>(v));
    }
    if (values.back() != hi) {
        values.push_back(static_cast<int32_t>(hi));
    }
    values.push_back(base);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    if (std::strcmp(TumblewatchParams()[p->index].name, "tiltLimit") == 0) {
        values.erase(std::remove(values.begin(), values.end(), 15), values.end());
    }
    p->values = values;
    p->baseValue = static_cast<int>(std::find(values.begin(), values.end(), base) - values.begin());
}

// The area that points dominate in the box sensitivity 0..1, x 0..top
// (higher sensitivity and lower x dominate): the union of the rectangles
// [x, top] x [0, sensitivity].
double DominatedArea(std::vector<std::pair<double, double>> points, double top)
{
    std::sort(points.begin(), points.end());  // by x, then sensitivity
    double area = 0.0;
    double best = 0.0;  // highest sensitivity at x so far
    for (std::size_t i = 0; i < points.size(); ++i) {
        best = std::max(best, points[i].second);
        const double nextX = i + 1 < points.size() ? points[i + 1].first : top;
        area += (nextX - points[i].first) * best;
    }
    return area;
}

}  // namespace

bool ScanParamRange(int index, uint32_t longest, ScanRange* range)
{
    if (index < 0 || index >= kTumblewatchParamCount || !TumblewatchParams()[index].read) {
        return false;
    }
    for (const RangeRule& r : kRules) {
        if (std::strcmp(r.name, TumblewatchParams()[index].name) == 0) {
            int64_t hi = r.hi;
            if (r.pastLong >= 0) {
                hi = std::min<int64_t>(static_cast<int64_t>(longest) + r.pastLong, INT32_MAX);
                hi = std::max<int64_t>(hi, r.lo + 1);
            }
            *range = ScanRange{r.lo, static_cast<int32_t>(hi), r.why};
            return true;
        }
    }
    return false;
}

bool ScanPlanMake(const std::vector<std::string>& names, const std::vector<std::string>& steps, int maxValues,
                  const TumblewatchConfig& base, uint32_t longest, ScanPlan* plan, std::string* error)
{
    if (maxValues < 2) {
        *error = "--max-values " + std::to_string(maxValues) + ": at least 2";
        return false;
    }
    std::vector<int32_t> stepOf;
    if (!ParseSteps(steps, &stepOf, error)) {
        return false;
    }
    std::vector<int> indices;
    if (names.empty()) {
        for (int i = 0; i < kTumblewatchParamCount; ++i) {
            if (TumblewatchParams()[i].read) {
                indices.push_back(i);
            }
        }
    }
    for (const std::string& name : names) {
        const int index = ConfigParamIndex(name);
        if (index < 0) {
            *error = "--param " + name + ": " + ConfigUnknownName(name);
            return false;
        }
        if (!TumblewatchParams()[index].read) {
            *error = "--param " + name +
                     ": read by no stage of the detector, so no value of it changes anything (tumblewatch params "
                     "lists the parameters the stages read)";
            return false;
        }
        if (std::find(indices.begin(), indices.end(), index) != indices.end()) {
            *error = "--param " + name + " is given twice";
            return false;
        }
        indices.push_back(index);
    }
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        if (stepOf[static_cast<std::size_t>(i)] != 0 && std::find(indices.begin(), indices.end(), i) == indices.end()) {
            *error = std::string("--step ") + TumblewatchParams()[i].name + ": the parameter is not scanned";
            return false;
        }
    }
    plan->base = base;
    plan->params.clear();
    plan->configs.assign(1, base);
    plan->configParam.assign(1, -1);
    for (const int index : indices) {
        ScanParam p{};
        p.index = index;
        ScanParamRange(index, longest, &p.range);
        Values(&p, TumblewatchParamGet(&base, index), stepOf[static_cast<std::size_t>(index)], maxValues);
        for (std::size_t k = 0; k < p.values.size(); ++k) {
            if (static_cast<int>(k) == p.baseValue) {
                p.configs.push_back(0);
                continue;
            }
            TumblewatchConfig c = base;
            TumblewatchParamSet(&c, index, p.values[k]);
            p.configs.push_back(static_cast<int>(plan->configs.size()));
            plan->configs.push_back(c);
            plan->configParam.push_back(static_cast<int>(plan->params.size()));
        }
        plan->params.push_back(std::move(p));
    }
    return true;
}

bool ScanLoad(const InputSet& inputs, const Manifest* manifest, int threads, const std::string& what, SweepData* data,
              std::string* error)
{
    SweepLoad(inputs, manifest, threads, true, data);
    if (data->recordings.empty()) {
        *error = "no labelled recording could be read: nothing to " + what +
                 " (a recording is labelled by --labels or by its file name)";
        return false;
    }
    for (const SweepRecording& r : data->recordings) {
        if (r.labels.impactSample >= static_cast<int64_t>(r.samples.size())) {
            *error = r.input.path + ": the manifest's impact_sample " + std::to_string(r.labels.impactSample) +
                     " lies past the end of the recording (" + std::to_string(r.samples.size()) + " samples)";
            return false;
        }
    }
    return true;
}

uint32_t ScanLongest(const SweepData& data)
{
    std::size_t longest = 0;
    for (const SweepRecording& r : data.recordings) {
        longest = std::max(longest, r.samples.size());
    }
    return static_cast<uint32_t>(std::min<std::size_t>(longest, UINT32_MAX));
}

void ScanRun(const SweepData& data, const ScanPlan& plan, double mergeSeconds, int threads, Progress* progress,
             ScanTable* table)
{
    const std::size_t n = data.recordings.size();
    const std::size_t configs = plan.configs.size();
    table->recordings = n;
    table->outcomes.assign(configs * n, ScanOutcome{-1, 0});
    table->impacts.assign(n, 0);
    table->configSamples = 0;
    const auto start = std::chrono::steady_clock::now();
    // The alarms of one run, folded as they come: the first alarm and the
    // events, as MetricsEventCount counts them.
    struct Fold {
        ScanOutcome outcome;
        uint32_t last;
        double merge;
    };
    const auto onAlarm = [](void* user, uint32_t sample, int /*code*/) {
        Fold* f = static_cast<Fold*>(user);
        if (f->outcome.firstAlarm < 0) {
            f->outcome.firstAlarm = static_cast<int32_t>(sample);
            f->outcome.events = 1;
        } else if (!MetricsSameEvent(f->last, sample, f->merge)) {
            ++f->outcome.events;
        }
        f->last = sample;
    };
    ProgressRunParallel(n, threads, *progress, [&](std::size_t r, int /*worker*/) {
        const SweepRecording& rec = data.recordings[r];
        uint16_t peak = 0;
        uint32_t peakAt = 0;
        for (std::size_t i = 0; i < rec.frontEnd.size(); ++i) {
            if (rec.frontEnd[i].accRawMag > peak) {
                peak = rec.frontEnd[i].accRawMag;
                peakAt = static_cast<uint32_t>(i);
            }
        }
        table->impacts[r] = rec.labels.impactSample >= 0 ? rec.labels.impactSample : static_cast<int64_t>(peakAt);
        for (std::size_t c = 0; c < configs; ++c) {
            TumblewatchContext detector;
            const int set = TumblewatchSet(&detector, &plan.configs[c]);
            if (set != 0) {
                continue;  // ScanPlanMake leaves refused values out; the base was checked
            }
            Fold fold{ScanOutcome{-1, 0}, 0, mergeSeconds};
            TumblewatchDecideRecording(&detector, rec.samples.data(), rec.frontEnd.data(), rec.samples.size(), onAlarm,
                                       &fold);
            TumblewatchClose(&detector);
            table->outcomes[c * n + r] = fold.outcome;
        }
        progress->samples += rec.samples.size() * configs;
        ++progress->done;
    });
    table->configSamples = data.samples * configs;
    table->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Metrics ScanMetrics(const SweepData& data, const ScanTable& table, int config)
{
    std::vector<RecordingScore> scores;
    scores.reserve(data.recordings.size());
    for (std::size_t r = 0; r < data.recordings.size(); ++r) {
        const ScanOutcome& o = table.At(config, r);
        scores.push_back(RecordingScore{data.recordings[r].labels.label,
                                        static_cast<uint32_t>(data.recordings[r].samples.size()),
                                        static_cast<int>(o.events), o.firstAlarm, table.impacts[r]});
    }
    return MetricsCompute(scores);
}

ScanChanges ScanChangesOf(const SweepData& data, const ScanTable& table, int config)
{
    ScanChanges c;
    for (std::size_t r = 0; r < data.recordings.size(); ++r) {
        const bool before = table.At(0, r).firstAlarm >= 0;
        const bool now = table.At(config, r).firstAlarm >= 0;
        if (before == now) {
            continue;
        }
        if (data.recordings[r].labels.label == Label::Fall) {
            (now ? c.fallsGained : c.fallsLost).push_back(r);
        } else {
            (now ? c.falseAlarmsAdded : c.falseAlarmsRemoved).push_back(r);
        }
    }
    return c;
}

std::vector<ScanParamResult> ScanResults(const SweepData& data, const ScanPlan& plan, const ScanTable& table)
{
    std::vector<ScanParamResult> results(plan.params.size());
    const auto x = [](double fa) { return std::log10(1.0 + fa); };
    double top = 0.0;
    for (std::size_t p = 0; p < plan.params.size(); ++p) {
        const ScanParam& param = plan.params[p];
        for (std::size_t k = 0; k < param.values.size(); ++k) {
            ScanValueRow row{param.values[k], param.configs[k], ScanMetrics(data, table, param.configs[k]),
                             ScanChangesOf(data, table, param.configs[k])};
            if (!std::isnan(row.metrics.falseAlarmsPerHour)) {
                top = std::max(top, x(row.metrics.falseAlarmsPerHour));
            }
            results[p].rows.push_back(std::move(row));
        }
    }
    const Metrics base = ScanMetrics(data, table, 0);
    const auto defined = [](const Metrics& m) {
        return !std::isnan(m.sensitivity) && !std::isnan(m.falseAlarmsPerHour);
    };
    const double baseArea = defined(base) ? DominatedArea({{x(base.falseAlarmsPerHour), base.sensitivity}}, top) : 0.0;
    for (ScanParamResult& res : results) {
        std::vector<std::pair<double, double>> points;
        ScanReach& reach = res.reach;
        reach.bestSensitivityAtBaseFa = std::nan("");
        reach.lowestFaAtBaseSensitivity = std::nan("");
        std::vector<char> changed(data.recordings.size(), 0);
        for (const ScanValueRow& row : res.rows) {
            const Metrics& m = row.metrics;
            if (defined(m)) {
                points.emplace_back(x(m.falseAlarmsPerHour), m.sensitivity);
            }
            if (!std::isnan(m.sensitivity) && m.falseAlarmsPerHour <= base.falseAlarmsPerHour &&
                !(m.sensitivity <= reach.bestSensitivityAtBaseFa)) {
                reach.bestSensitivityAtBaseFa = m.sensitivity;
            }
            if (!std::isnan(m.falseAlarmsPerHour) && m.sensitivity >= base.sensitivity &&
                !(m.falseAlarmsPerHour >= reach.lowestFaAtBaseSensitivity)) {
                reach.lowestFaAtBaseSensitivity = m.falseAlarmsPerHour;
            }
            for (const auto* list : {&row.changes.fallsGained, &row.changes.fallsLost, &row.changes.falseAlarmsAdded,
                                     &row.changes.falseAlarmsRemoved}) {
                for (const std::size_t r : *list) {
                    changed[r] = 1;
                }
            }
        }
        reach.area = points.empty() ? 0.0 : std::max(0.0, DominatedArea(points, top) - baseArea);
        reach.recordingsChanged = static_cast<int>(std::count(changed.begin(), changed.end(), 1));
    }
    std::vector<std::size_t> order(results.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const ScanReach& ra = results[a].reach;
        const ScanReach& rb = results[b].reach;
        if (ra.area != rb.area) {
            return ra.area > rb.area;
        }
        return ra.recordingsChanged > rb.recordingsChanged;
    });
    for (std::size_t i = 0; i < order.size(); ++i) {
        results[order[i]].reach.rank = static_cast<int>(i) + 1;
    }
    return results;
}
