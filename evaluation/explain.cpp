// Explanations of missed falls and false alarms.
#include "explain.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>

#include "params.h"
#include "snapshot.h"

namespace {

// Samples before the detector decides anything.
constexpr uint32_t kWarmUp = 40;

// Alarms of a false alarm kept for the report.
constexpr std::size_t kListedAlarms = 100;

// The criteria, in the order the report lists them.
enum Criterion {
    kLength = 0,  // codes 1, 3, 12
    kLong,        // code 9
    kWeighted,    // codes 2, 4
    kTumble,      // code 5
    kHard,        // code 6
    kSoft,        // code 16
    kRotation,    // code 71
    kCriteria
};

struct Observed {
    const TumblewatchConfig* config;
    const ImuSample* samples;
    std::vector<ExplainApproach>* approaches;
};

// Keeps the sample if it comes closer (a smaller margin) than the best so far.
void Closer(ExplainApproach* a, int64_t value, int64_t margin, uint32_t sample)
{
    if (!a->seen || margin < a->margin) {
        a->seen = true;
        a->value = value;
        a->margin = margin;
        a->sample = sample;
    }
}

void Observe(void* user, const TumblewatchContext* detector, int /*code*/)
{
    const auto* o = static_cast<const Observed*>(user);
    TumblewatchSnapshotRecord s{};
    if (TumblewatchSnapshot(detector, &s) != 0 || s.sample < kWarmUp) {
        return;
    }
    const TumblewatchConfig& c = *o->config;
    std::vector<ExplainApproach>& a = *o->approaches;
    if (s.fallLengthNow > 0) {
        // The length tests: L >= fallWindow - fallScore + jumpScore, so the
        // phase stands for a window of L + fallScore - jumpScore.
        const int64_t reach = static_cast<int64_t>(s.fallLengthNow) + s.fallScore - s.jumpScore;
        Closer(&a[kLength], reach, c.fallWindow - reach, s.sample);
        Closer(&a[kLong], static_cast<int64_t>(s.fallLengthNow) - 18, c.fallWindow - (s.fallLengthNow - 18), s.sample);
        if (s.gyroLpfAvg5 >= c.rotationLow && s.gyroLpfAvg5 < c.rotationHigh) {
            // The rotation-weighted mean acceleration, as the length tests compute it.
            const int64_t d = static_cast<int64_t>(s.gyroLpfAvg5) - c.rotationLow;
            const float w = static_cast<float>(d) * 0.2f / 200.0f;
            const auto mf = static_cast<float>(s.accLpfAvg);
            const auto v = static_cast<int32_t>(mf - mf * w);
            Closer(&a[kWeighted], v, static_cast<int64_t>(v) - (static_cast<int64_t>(c.weightedAccelMax) - 1),
                   s.sample);
        }
    }
    Closer(&a[kTumble], s.tumbleRun, static_cast<int64_t>(c.tumbleLength) - s.tumbleRun, s.sample);
    Closer(&a[kHard], s.accRawSum3, static_cast<int64_t>(c.impactHardSum) - s.accRawSum3, s.sample);
    const bool tilted = s.pitch < -55 || s.pitch > 55 || s.tilt > 45;
    if (tilted && s.accRawSum3 < c.impactHardSum) {
        Closer(&a[kSoft], s.accRawSum3, static_cast<int64_t>(c.impactSoftSum) - s.accRawSum3, s.sample);
    }
    if (s.gyroXRiseCount > 20 && o->samples[s.sample].gyroX > 6500 && s.fallDeepCount > 6) {
        Closer(&a[kRotation], s.tilt, static_cast<int64_t>(c.tiltLimit) - s.tilt, s.sample);
    }
}

ExplainApproach Approach(const char* criterion, const char* codes, const char* quantity, const char* param,
                         const TumblewatchConfig& config, const char* note, const char* unseen)
{
    const int index = TumblewatchParamIndex(param);
    return ExplainApproach{criterion, codes, quantity, index, TumblewatchParamGet(&config, index), false, 0,
                           -1,        0,     note,     unseen};
}

// Orders two changes of a case: the cost first, then the gain, then the
// parameter.
bool Better(const ExplainChange& a, const ExplainChange& b, bool missedFall)
{
    const auto cost = [&](const ExplainChange& c) {
        return missedFall ? c.changes.falseAlarmsAdded.size() : c.changes.fallsLost.size();
    };
    const auto gain = [&](const ExplainChange& c) {
        return missedFall ? c.changes.fallsGained.size() : c.changes.falseAlarmsRemoved.size();
    };
    if (cost(a) != cost(b)) {
        return cost(a) < cost(b);
    }
    if (gain(a) != gain(b)) {
        return gain(a) > gain(b);
    }
    return a.param < b.param;
}

}  // namespace

std::vector<ExplainApproach> ExplainApproaches(const SweepRecording& rec, const TumblewatchConfig& config)
{
    std::vector<ExplainApproach> a;
    a.push_back(Approach("low-phase length", "1, 3, 12", "confirmed phase length + fallScore - jumpScore", "fallWindow",
                         config, "a confirmed low phase at least fallWindow long after its score",
                         "no low phase was confirmed"));
    a.push_back(Approach("long low phase", "9", "confirmed phase length - 18", "fallWindow", config,
                         "a confirmed low phase of at least fallWindow + 18 samples", "no low phase was confirmed"));
    a.push_back(Approach("weighted mean acceleration", "2, 4", "rotation-weighted mean acceleration",
                         "weightedAccelMax", config,
                         "below weightedAccelMax, with the mean rotation in rotationLow..rotationHigh at a confirmed "
                         "phase of at least (fallWindow + 1) / 4",
                         "no phase was confirmed while the mean rotation lay in rotationLow..rotationHigh"));
    a.push_back(Approach("tumble", "5", "tumbleRun (strong acceleration with fast rotation)", "tumbleLength", config,
                         "a run of tumbleLength plus half its upright samples", "the recording ends in its warm-up"));
    a.push_back(Approach("hard impact", "6", "accRawSum3 (sum of three raw magnitudes)", "impactHardSum", config,
                         "with a quiet run or a recent event of impactHardLength (impactHardWindow)",
                         "the recording ends in its warm-up"));
    a.push_back(Approach("soft impact", "16", "accRawSum3 while tilted (pitch beyond 55 or tilt above 45)",
                         "impactSoftSum", config,
                         "with a quiet run or a recent event of impactSoftLength (impactSoftWindow)",
                         "the sensor was never tilted with a sum below impactHardSum"));
    a.push_back(Approach("rotation fall", "71", "tilt", "tiltLimit", config,
                         "at or above tiltLimit while gyroXRiseCount > 20, raw gyro X > 6500 and fallDeepCount > 6",
                         "gyroXRiseCount > 20, raw gyro X > 6500 and fallDeepCount > 6 never held together"));
    std::vector<ExplainApproach> found = a;
    Observed observed{&config, rec.samples.data(), &found};
    DetectResult result;
    DetectRun(config, rec.samples.data(), rec.samples.size(), nullptr, &result, Observe, &observed);
    return found;
}

void ExplainRun(const SweepData& data, const ScanPlan& plan, double mergeSeconds, int threads, Progress* progress,
                Explanation* explanation)
{
    explanation->plan = plan;
    ScanRun(data, plan, mergeSeconds, threads, progress, &explanation->table);
    const ScanTable& table = explanation->table;
    explanation->base = ScanMetrics(data, table, 0);

    // The cases, missed falls first.
    std::vector<ExplainCase> cases;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t r = 0; r < data.recordings.size(); ++r) {
            const bool fall = data.recordings[r].labels.label == Label::Fall;
            const bool detected = table.At(0, r).firstAlarm >= 0;
            if (fall != detected && fall == (pass == 0)) {
                ExplainCase c{};
                c.recording = r;
                c.missedFall = fall;
                cases.push_back(std::move(c));
            }
        }
    }

    // Per case and parameter: the scanned value nearest the base that
    // does it, then, between it and the scanned value before it (towards
    // the base), which does not, the nearest value by bisection on the
    // recording alone.
    struct Pick {
        int32_t value;
        int gridConfig;  // the scanned value's configuration, -1 when none does it
    };
    std::vector<std::vector<Pick>> picks(cases.size(), std::vector<Pick>(plan.params.size(), Pick{0, -1}));
    std::vector<DetectResult> results(static_cast<std::size_t>(threads));
    const bool shown = progress->shown;
    ProgressEnd(*progress);
    ProgressStart(progress, "cases", cases.size(), shown);
    ProgressRunParallel(cases.size(), threads, *progress, [&](std::size_t i, int worker) {
        ExplainCase& c = cases[i];
        const SweepRecording& rec = data.recordings[c.recording];
        DetectResult& result = results[static_cast<std::size_t>(worker)];
        const auto does = [&](const TumblewatchConfig& config) {
            DetectRunDecisions(config, rec.samples.data(), rec.frontEnd.data(), rec.samples.size(), &result);
            return result.alarms.empty() != c.missedFall;
        };
        if (c.missedFall) {
            c.approaches = ExplainApproaches(rec, plan.base);
        } else {
            DetectRunDecisions(plan.base, rec.samples.data(), rec.frontEnd.data(), rec.samples.size(), &result);
            c.alarmCount = static_cast<uint32_t>(result.alarms.size());
            c.alarms.assign(result.alarms.begin(), result.alarms.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                               result.alarms.size(), kListedAlarms)));
        }
        for (std::size_t q = 0; q < plan.params.size(); ++q) {
            const ScanParam& p = plan.params[q];
            const int64_t from = p.values[static_cast<std::size_t>(p.baseValue)];
            int best = -1;
            for (std::size_t k = 0; k < p.values.size(); ++k) {
                if ((table.At(p.configs[k], c.recording).firstAlarm >= 0) != c.missedFall) {
                    continue;
                }
                const int64_t dk = std::llabs(p.values[k] - from);
                if (best < 0 || dk < std::llabs(p.values[static_cast<std::size_t>(best)] - from)) {
                    best = static_cast<int>(k);
                }
            }
            if (best < 0) {
                continue;
            }
            // The scanned value before it, towards the base, does not do it.
            int32_t done = p.values[static_cast<std::size_t>(best)];
            int32_t undone = p.values[static_cast<std::size_t>(best < p.baseValue ? best + 1 : best - 1)];
            TumblewatchConfig config = plan.base;
            while (std::llabs(static_cast<int64_t>(done) - undone) > 1) {
                const auto mid = static_cast<int32_t>(undone + (static_cast<int64_t>(done) - undone) / 2);
                TumblewatchParamSet(&config, p.index, mid);
                if (TumblewatchCheck(&config, nullptr) == nullptr && does(config)) {
                    done = mid;
                } else {
                    undone = mid;
                }
            }
            picks[i][q] = Pick{done, p.configs[static_cast<std::size_t>(best)]};
        }
        progress->samples += rec.samples.size();
        ++progress->done;
    });
    ProgressEnd(*progress);

    // The values found between scanned ones, run over every recording.
    ScanPlan& refined = explanation->refined;
    refined.base = plan.base;
    refined.params.clear();
    refined.configs.assign(1, plan.base);
    refined.configParam.assign(1, -1);
    std::map<std::pair<int, int32_t>, int> extra;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        for (std::size_t q = 0; q < plan.params.size(); ++q) {
            const Pick& pick = picks[i][q];
            const ScanParam& p = plan.params[q];
            if (pick.gridConfig < 0 ||
                pick.value == TumblewatchParamGet(&plan.configs[static_cast<std::size_t>(pick.gridConfig)], p.index)) {
                continue;
            }
            if (extra.try_emplace(std::make_pair(p.index, pick.value), static_cast<int>(refined.configs.size()))
                    .second) {
                TumblewatchConfig config = plan.base;
                TumblewatchParamSet(&config, p.index, pick.value);
                refined.configs.push_back(config);
                refined.configParam.push_back(static_cast<int>(q));
            }
        }
    }
    ScanTable& extraTable = explanation->refinedTable;
    if (refined.configs.size() > 1) {
        ProgressStart(progress, "recordings (values between scanned ones)", data.recordings.size(), shown);
        ScanRun(data, refined, mergeSeconds, threads, progress, &extraTable);
    }

    // The changes, with what each does over every recording (worked out
    // once per configuration).
    std::map<std::pair<bool, int>, std::pair<ScanChanges, Metrics>> known;
    const auto figures = [&](bool isRefined, int config) -> const std::pair<ScanChanges, Metrics>& {
        auto it = known.find({isRefined, config});
        if (it == known.end()) {
            const ScanTable& t = isRefined ? extraTable : table;
            it = known
                     .emplace(std::make_pair(isRefined, config),
                              std::make_pair(ScanChangesOf(data, t, config), ScanMetrics(data, t, config)))
                     .first;
        }
        return it->second;
    };
    DetectResult rerun;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ExplainCase& c = cases[i];
        const SweepRecording& rec = data.recordings[c.recording];
        for (std::size_t q = 0; q < plan.params.size(); ++q) {
            const Pick& pick = picks[i][q];
            const ScanParam& p = plan.params[q];
            if (pick.gridConfig < 0) {
                c.cannot.push_back(p.index);
                continue;
            }
            const auto found = extra.find({p.index, pick.value});
            const bool isRefined = found != extra.end();
            const int config = isRefined ? found->second : pick.gridConfig;
            const TumblewatchConfig& cfg =
                (isRefined ? refined.configs : plan.configs)[static_cast<std::size_t>(config)];
            ExplainChange ch{};
            ch.param = p.index;
            ch.from = TumblewatchParamGet(&plan.base, p.index);
            ch.to = pick.value;
            ch.config = config;
            ch.refined = isRefined;
            const auto& f = figures(isRefined, config);
            ch.changes = f.first;
            ch.metrics = f.second;
            // Run once more, on this recording alone, to confirm.
            DetectRunDecisions(cfg, rec.samples.data(), rec.frontEnd.data(), rec.samples.size(), &rerun);
            ch.alarm = rerun.alarms.empty() ? -1 : static_cast<int64_t>(rerun.alarms.front().sample);
            ch.code = rerun.alarms.empty() ? 0 : rerun.alarms.front().code;
            ch.verified = c.missedFall ? !rerun.alarms.empty() : rerun.alarms.empty();
            c.changes.push_back(ch);
        }
        const bool fall = c.missedFall;
        std::stable_sort(c.changes.begin(), c.changes.end(),
                         [&](const ExplainChange& a, const ExplainChange& b) { return Better(a, b, fall); });
    }
    explanation->cases = std::move(cases);
}
