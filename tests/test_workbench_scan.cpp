// Scans and explanations: the values each parameter is scanned over, a
// scan's rows against a sweep of the same configurations, every change an
// explanation claims checked with eval, the margins against the changes
// they imply, and the commands' bad input.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "dataset_format.h"
#include "explain.h"
#include "load_inputs.h"
#include "params.h"
#include "scan.h"
#include "scenarios.h"
#include "test_support.h"
#include "workbench_sweep_support.h"

using nlohmann::json;

namespace {

TumblewatchConfig Defaults()
{
    TumblewatchConfig c;
    TumblewatchDefault(&c);
    return c;
}

std::string PlanError(const std::vector<std::string>& names, const std::vector<std::string>& steps = {},
                      int maxValues = kScanDefaultMaxValues)
{
    ScanPlan plan;
    std::string error;
    EXPECT_FALSE(ScanPlanMake(names, steps, maxValues, Defaults(), 1000, &plan, &error));
    return error;
}

// The recordings of folder (labelled by their names) with their front ends.
SweepData Load(const std::string& folder, const std::vector<std::string>& settings, TumblewatchConfig* base)
{
    InputOptions options;
    options.paths = {folder};
    options.config.settings = settings;
    Manifest manifest;
    InputSet inputs;
    std::string error;
    EXPECT_TRUE(InputsLoad(options, base, &manifest, &inputs, &error)) << error;
    SweepData data;
    EXPECT_TRUE(ScanLoad(inputs, nullptr, 2, "scan", &data, &error)) << error;
    return data;
}

ScanPlan Plan(const std::vector<std::string>& names, const TumblewatchConfig& base, const SweepData& data,
              int maxValues)
{
    ScanPlan plan;
    std::string error;
    EXPECT_TRUE(ScanPlanMake(names, {}, maxValues, base, ScanLongest(data), &plan, &error)) << error;
    return plan;
}

// eval of paths with settings, as JSON.
json Eval(const std::string& cwd, const std::vector<std::string>& paths, const std::vector<std::string>& settings)
{
    std::vector<std::string> args{"eval", "-q", "--json", "-"};
    args.insert(args.end(), paths.begin(), paths.end());
    for (const std::string& s : settings) {
        args.push_back("--set");
        args.push_back(s);
    }
    const BenchRun run = Tumblewatch(cwd, args);
    EXPECT_EQ(run.status, 0) << run.errors;
    return json::parse(run.output, nullptr, false);
}

// The base's fallWindow setting (fallWindow=window) with param set to value.
std::vector<std::string> Settings(int window, int param, int32_t value)
{
    std::vector<std::string> settings{std::string(TumblewatchParams()[param].name) + "=" + std::to_string(value)};
    if (param != TumblewatchParamIndex("fallWindow")) {
        settings.push_back("fallWindow=" + std::to_string(window));
    }
    return settings;
}

}  // namespace

TEST(ScanPlan, EveryReadParameterHasARangeAndTheValuesHoldTheBase)
{
    const TumblewatchConfig base = Defaults();
    ScanPlan plan;
    std::string error;
    ASSERT_TRUE(ScanPlanMake({}, {}, 16, base, 3000, &plan, &error)) << error;
    int read = 0;
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        ScanRange range;
        EXPECT_EQ(ScanParamRange(i, 3000, &range), TumblewatchParams()[i].read) << TumblewatchParams()[i].name;
        read += TumblewatchParams()[i].read ? 1 : 0;
    }
    ASSERT_EQ(static_cast<int>(plan.params.size()), read);
    std::size_t configs = 1;
    for (const ScanParam& p : plan.params) {
        const int32_t b = TumblewatchParamGet(&base, p.index);
        EXPECT_EQ(p.values[static_cast<std::size_t>(p.baseValue)], b);
        EXPECT_EQ(p.configs[static_cast<std::size_t>(p.baseValue)], 0);
        EXPECT_TRUE(std::is_sorted(p.values.begin(), p.values.end()));
        EXPECT_EQ(p.values.front(), std::min(p.range.lo, b));
        EXPECT_EQ(p.values.back(), std::max(p.range.hi, b));
        // A small range whole; else at most 16 values, the top and the base.
        const int64_t size = int64_t{p.range.hi} - p.range.lo + 1;
        EXPECT_EQ(p.step == 1, size <= kScanWholeRange) << TumblewatchParams()[p.index].name;
        EXPECT_LE(p.values.size(), size <= kScanWholeRange ? 64U : 18U) << TumblewatchParams()[p.index].name;
        if (p.step == 1) {
            EXPECT_EQ(static_cast<int64_t>(p.values.size()), int64_t{p.range.hi} - p.range.lo + 1);
        }
        configs += p.values.size() - 1;
        for (std::size_t k = 0; k < p.values.size(); ++k) {
            const TumblewatchConfig& c = plan.configs[static_cast<std::size_t>(p.configs[k])];
            EXPECT_EQ(TumblewatchParamGet(&c, p.index), p.values[k]);
            EXPECT_EQ(TumblewatchCheck(&c, nullptr), nullptr);  // tiltLimit 15 is left out
        }
    }
    EXPECT_EQ(plan.configs.size(), configs);
    // The data's longest recording bounds the windows; a step can be given.
    ASSERT_TRUE(ScanPlanMake({"impactHardWindow", "fallWindow"}, {"impactHardWindow=1"}, 16, base, 300, &plan, &error));
    EXPECT_EQ(plan.params[0].values.size(), 301U);
    EXPECT_EQ(plan.params[1].values.size(), 63U);  // every value of 1..63, whatever maxValues
    EXPECT_EQ(plan.params[1].step, 1);
}

TEST(ScanPlan, RefusesUnknownUnreadRepeatedAndBadSteps)
{
    EXPECT_EQ(PlanError({"fallWindo"}), "--param fallWindo: unknown parameter 'fallWindo' (did you mean fallWindow?)");
    EXPECT_NE(PlanError({"param7"}).find("--param param7: read by no stage of the detector"), std::string::npos);
    EXPECT_EQ(PlanError({"fallWindow", "fallWindow"}), "--param fallWindow is given twice");
    EXPECT_NE(PlanError({}, {"fallWindow=0"}).find("a whole STEP of 1 or more"), std::string::npos);
    EXPECT_NE(PlanError({}, {"fallWindow"}).find("expected NAME=STEP"), std::string::npos);
    EXPECT_NE(PlanError({}, {"tiltLimt=3"}).find("unknown parameter 'tiltLimt' (did you mean tiltLimit?)"),
              std::string::npos);
    EXPECT_EQ(PlanError({"fallWindow"}, {"tiltLimit=3"}), "--step tiltLimit: the parameter is not scanned");
    EXPECT_EQ(PlanError({}, {"fallWindow=2", "fallWindow=3"}),
              "--step fallWindow=3: a step for fallWindow is given twice");
    EXPECT_EQ(PlanError({}, {}, 1), "--max-values 1: at least 2");
}

TEST(Scan, RowsEqualASweepOfTheSameConfigurationsForAnyThreads)
{
    TumblewatchConfig base{};
    const SweepData data = Load(Subjects().dir.path(), {"fallWindow=14"}, &base);
    ASSERT_EQ(data.recordings.size(), 8U);
    const ScanPlan plan = Plan({"fallWindow", "impactHardSum", "tiltLimit", "repeatGapMax"}, base, data, 12);
    ScanTable one;
    ScanTable two;
    Progress progress;
    ProgressStart(&progress, "recordings", data.recordings.size(), false);
    ScanRun(data, plan, 10.0, 1, &progress, &one);
    ScanRun(data, plan, 10.0, 2, &progress, &two);
    const SweepSettings settings{10.0, 1, 0};
    int changing = 0;
    for (std::size_t c = 0; c < plan.configs.size(); ++c) {
        const Metrics m = ScanMetrics(data, two, static_cast<int>(c));
        const Metrics s = SweepEvaluate(data, plan.configs[c], 0, settings).all;
        EXPECT_EQ(m.tp, s.tp) << c;
        EXPECT_EQ(m.fp, s.fp) << c;
        EXPECT_EQ(m.fn, s.fn) << c;
        EXPECT_EQ(m.tn, s.tn) << c;
        EXPECT_EQ(m.falseAlarmEvents, s.falseAlarmEvents) << c;
        EXPECT_EQ(m.adlHours, s.adlHours) << c;
        EXPECT_TRUE(m.latencyMedian == s.latencyMedian || (std::isnan(m.latencyMedian) && std::isnan(s.latencyMedian)))
            << c;
        for (std::size_t r = 0; r < data.recordings.size(); ++r) {
            EXPECT_EQ(one.At(static_cast<int>(c), r).firstAlarm, two.At(static_cast<int>(c), r).firstAlarm);
            EXPECT_EQ(one.At(static_cast<int>(c), r).events, two.At(static_cast<int>(c), r).events);
        }
        const ScanChanges ch = ScanChangesOf(data, two, static_cast<int>(c));
        const Metrics b = ScanMetrics(data, two, 0);
        EXPECT_EQ(m.tp - b.tp, static_cast<int>(ch.fallsGained.size()) - static_cast<int>(ch.fallsLost.size()));
        EXPECT_EQ(m.fp - b.fp,
                  static_cast<int>(ch.falseAlarmsAdded.size()) - static_cast<int>(ch.falseAlarmsRemoved.size()));
        changing += m.tp != b.tp || m.fp != b.fp;
    }
    EXPECT_GT(changing, 0);  // the scan moves something, so the comparison means something
    const std::vector<ScanParamResult> results = ScanResults(data, plan, two);
    std::vector<int> ranks;
    for (const ScanParamResult& r : results) {
        ranks.push_back(r.reach.rank);
    }
    std::sort(ranks.begin(), ranks.end());
    EXPECT_EQ(ranks, (std::vector<int>{1, 2, 3, 4}));
}

// A fall missed with a long fall window: the margins say by how much each
// criterion missed, and the changes they imply are exactly the smallest
// ones: the claimed value raises an alarm under eval, the value one step
// back towards the base does not.
TEST(Explain, MarginsGiveTheSmallestChangesAndEvalConfirmsThem)
{
    TempDir dir;
    WriteFile(dir / "fall_backward_s1_r1.bin",
              DataSetImage(recgen::MakeRecording(*recgen::FindScenario("fall_backward")).samples));
    TumblewatchConfig base{};
    const SweepData data = Load(dir.path(), {"fallWindow=24"}, &base);
    const ScanPlan plan = Plan({"fallWindow", "impactHardSum"}, base, data, 16);
    Progress progress;
    ProgressStart(&progress, "recordings", 1, false);
    Explanation e;
    ExplainRun(data, plan, 10.0, 2, &progress, &e);
    ASSERT_EQ(e.cases.size(), 1U);
    const ExplainCase& c = e.cases[0];
    ASSERT_TRUE(c.missedFall);
    ASSERT_EQ(c.changes.size(), 2U);
    const std::string path = data.recordings[0].input.path;
    for (const ExplainChange& ch : c.changes) {
        const std::string name = TumblewatchParams()[ch.param].name;
        // The criterion that the parameter is the threshold of.
        const ExplainApproach* approach = nullptr;
        for (const ExplainApproach& a : c.approaches) {
            if (a.param == ch.param && a.seen && approach == nullptr) {
                approach = &a;
            }
        }
        ASSERT_NE(approach, nullptr) << name;
        ASSERT_GT(approach->margin, 0);
        EXPECT_EQ(int64_t{ch.to}, int64_t{ch.from} - approach->margin) << name;
        EXPECT_TRUE(ch.verified);
        const json caught = Eval(dir.path(), {path}, Settings(24, ch.param, ch.to));
        EXPECT_EQ(caught["summary"]["tp"], 1) << name;
        EXPECT_EQ(caught["recordings"][0]["first_alarm"], ch.alarm) << name;
        const json short_ = Eval(dir.path(), {path}, Settings(24, ch.param, ch.to + 1));
        EXPECT_EQ(short_["summary"]["tp"], 0) << name;
    }
}

// Every change claimed for every case of a small set, checked with eval
// over the whole set: the case changes, and the counts of the change are
// eval's.
TEST(Explain, EveryClaimedChangeIsWhatEvalFinds)
{
    TumblewatchConfig base{};
    const std::string folder = Subjects().dir.path();
    const SweepData data = Load(folder, {"fallWindow=12"}, &base);
    const ScanPlan plan = Plan({"fallWindow", "tumbleLength", "impactSoftSum", "quietMagnitude"}, base, data, 12);
    Progress progress;
    ProgressStart(&progress, "recordings", data.recordings.size(), false);
    Explanation e;
    ExplainRun(data, plan, 10.0, 2, &progress, &e);
    int missed = 0;
    int alarms = 0;
    std::size_t checked = 0;
    for (const ExplainCase& c : e.cases) {
        (c.missedFall ? missed : alarms) += 1;
        const std::string path = data.recordings[c.recording].input.path;
        for (const ExplainChange& ch : c.changes) {
            EXPECT_TRUE(ch.verified);
            const json all = Eval(folder, {folder}, Settings(12, ch.param, ch.to));
            EXPECT_EQ(all["summary"]["tp"], ch.metrics.tp);
            EXPECT_EQ(all["summary"]["fp"], ch.metrics.fp);
            EXPECT_EQ(all["summary"]["false_alarm_events"], ch.metrics.falseAlarmEvents);
            bool found = false;
            for (const json& r : all["recordings"]) {
                if (r["path"] == path) {
                    found = true;
                    EXPECT_EQ(r["detected"], c.missedFall)
                        << path << " " << TumblewatchParams()[ch.param].name << "=" << ch.to;
                }
            }
            EXPECT_TRUE(found);
            ++checked;
        }
    }
    EXPECT_EQ(missed, e.base.fn);
    EXPECT_EQ(alarms, e.base.fp);
    EXPECT_GT(checked, 0U);
}

TEST(ScanCommand, OutputsAndTheParamsRankColumn)
{
    TempDir out;
    const std::string folder = Subjects().dir.path();
    const BenchRun scan = Tumblewatch(out.path(), {"scan", folder, "--param", "fallWindow", "--param", "tumbleGyro",
                                                   "--max-values", "8", "--json", "scan.json", "--html", "scan.html"});
    ASSERT_EQ(scan.status, 0) << scan.errors;
    EXPECT_NE(scan.output.find("Parameters by how far each alone moves the front"), std::string::npos);
    const json j = json::parse(ReadFile(out / "scan.json"));
    ASSERT_EQ(j["tool"], "tumblewatch scan");
    ASSERT_EQ(j["parameters"].size(), 2U);
    EXPECT_EQ(j["parameters"][0]["rows"].size(), 63U);
    EXPECT_EQ(j["recordings"].size(), 8U);
    EXPECT_NE(ReadFile(out / "scan.html").find("\"kind\":\"scan\""), std::string::npos);
    const BenchRun params = Tumblewatch(out.path(), {"params", "--scan", "scan.json"});
    ASSERT_EQ(params.status, 0) << params.errors;
    EXPECT_NE(params.output.find("rank"), std::string::npos);
    const BenchRun wrong = Tumblewatch(out.path(), {"params", "--scan", "scan.html"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.errors.find("not the JSON output of tumblewatch scan"), std::string::npos);

    const BenchRun explain = Tumblewatch(out.path(), {"explain", folder, "--set", "fallWindow=12", "--param",
                                                      "fallWindow", "--json", "ex.json", "--html", "ex.html"});
    ASSERT_EQ(explain.status, 0) << explain.errors;
    const json x = json::parse(ReadFile(out / "ex.json"));
    EXPECT_EQ(x["tool"], "tumblewatch explain");
    EXPECT_EQ(x["cases"].size(),
              static_cast<std::size_t>(x["missed_falls"]) + static_cast<std::size_t>(x["false_alarms"]));
    EXPECT_NE(ReadFile(out / "ex.html").find("\"kind\":\"explain\""), std::string::npos);
    // Each change's counts are those of its configuration's lists.
    for (const json& k : x["cases"]) {
        for (const json& ch : k["changes"]) {
            const json& c = x["configurations"].at(ch["configuration"].get<std::size_t>());
            EXPECT_EQ(c["parameter"], ch["parameter"]);
            EXPECT_EQ(c["value"], ch["to"]);
            for (const char* list : {"falls_gained", "falls_lost", "false_alarms_added", "false_alarms_removed"}) {
                EXPECT_EQ(c[list].size(), ch[list].get<std::size_t>()) << list;
            }
        }
    }
}

TEST(ScanCommand, BadInput)
{
    TempDir out;
    const std::string folder = Subjects().dir.path();
    BenchRun r = Tumblewatch(out.path(), {"scan", folder, "--param", "param13"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.errors.find("read by no stage"), std::string::npos);
    r = Tumblewatch(out.path(), {"explain", folder, "--param", "tumbleLenght"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.errors.find("did you mean tumbleLength?"), std::string::npos);
    r = Tumblewatch(out.path(), {"scan", folder, "--set", "tiltLimit=15"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.errors.find("tiltLimit"), std::string::npos);
    // An output that names a recording, or a folder, is refused before any work.
    const std::string recording = folder + "/fall_forward_s01_r1.bin";
    const std::string before = ReadFile(recording);
    r = Tumblewatch(out.path(), {"scan", folder, "--json", recording});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(ReadFile(recording), before);
    r = Tumblewatch(out.path(), {"explain", folder, "--html", out.path()});
    EXPECT_EQ(r.status, 2);
    r = Tumblewatch(out.path(), {"scan", folder, "--json", "-", "--html", "-"});
    EXPECT_EQ(r.status, 2);
    r = Tumblewatch(out.path(), {"explain", folder, "--list", "few"});
    EXPECT_EQ(r.status, 2);
    // Recordings without labels: nothing to explain.
    TempDir unlabelled;
    WriteFile(unlabelled / "walk.bin", DataSetImage(recgen::MakeRecording(*recgen::FindScenario("walking")).samples));
    r = Tumblewatch(out.path(), {"explain", unlabelled.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.errors.find("nothing to explain"), std::string::npos);
    // Nothing missed, no false alarm: said, status 0.
    TempDir quiet;
    WriteFile(quiet / "adl_walking_s1_r1.bin",
              DataSetImage(recgen::MakeRecording(*recgen::FindScenario("walking")).samples));
    r = Tumblewatch(out.path(), {"explain", quiet.path(), "--param", "fallWindow"});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.output.find("Nothing to explain"), std::string::npos);
}
