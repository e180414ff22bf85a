// The sweep's conclusions: the nested held-out selection against a
// brute-force recomputation from eval, its choices and spread on rows made
// by hand, the summary of a resumed sweep, the rows with and without the
// front-end cache, and the memory the cache takes.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "dataset_format.h"
#include "evaluation.h"
#include "scenarios.h"
#include "sweep_session.h"
#include "sweep_space.h"
#include "test_support.h"
#include "workbench_sweep_support.h"

namespace fs = std::filesystem;

namespace {

using nlohmann::json;

// ---- the nested selection on rows made by hand ----------------------------------

// Three folds of two falls and two ADLs (one hour of ADL) each.
SweepData ThreeFolds()
{
    SweepData data{};
    data.adlSamples = 3 * 180000;
    for (int k = 0; k < 3; ++k) {
        data.folds.push_back(SweepFold{{"s" + std::to_string(k + 1)}, 4, 180000});
    }
    return data;
}

// A row from its counts on the three held-out groups.
SweepRow RowOf(const SweepData& data, int64_t index, const std::vector<MetricsCounts>& held)
{
    SweepRow row{};
    row.index = index;
    TumblewatchDefault(&row.config);
    row.config.fallWindow = static_cast<int32_t>(10 + index);
    MetricsCounts all{};
    for (const MetricsCounts& h : held) {
        all = MetricsCounts{all.tp + h.tp, all.fn + h.fn, all.fp + h.fp, all.tn + h.tn,
                            all.falseAlarmEvents + h.falseAlarmEvents};
    }
    row.all = MetricsFromCounts(all, data.adlSamples);
    SweepFoldFigures(data, all, held, &row);
    return row;
}

// Configurations 0 and 2 are equal; 1 finds every fall with more false alarms.
std::vector<SweepRow> HandRows(const SweepData& data)
{
    const std::vector<MetricsCounts> c0{{1, 1, 0, 2, 0}, {1, 1, 0, 2, 0}, {1, 1, 1, 1, 4}};
    const std::vector<MetricsCounts> c1{{2, 0, 0, 2, 0}, {2, 0, 1, 1, 1}, {2, 0, 1, 1, 4}};
    return {RowOf(data, 0, c0), RowOf(data, 1, c1), RowOf(data, 2, c0)};
}

SweepSummary Summarise(const std::string& objectiveText, const SweepRow& base)
{
    const SweepData data = ThreeFolds();
    Objective objective;
    std::string error;
    EXPECT_TRUE(ObjectiveParse(objectiveText, &objective, &error)) << error;
    SweepSummary summary;
    SweepSummaryStart(&summary, {0}, objective, data, base);
    for (const SweepRow& row : HandRows(data)) {
        SweepSummaryAdd(&summary, row);
    }
    return summary;
}

TEST(NestedSelection, EachFoldChoosesOnItsTuningPartAndIsScoredOnItsHeldOutGroup)
{
    const SweepData data = ThreeFolds();
    const SweepRow base = HandRows(data)[0];
    // Tuning false alarms per hour: configuration 0 has 2.0, 2.0 and 0.0 on
    // folds 1, 2 and 3; configuration 1 has 2.5, 2.0 and 0.5.
    const SweepSummary s = Summarise("max:sensitivity@fa<=2", base);
    ASSERT_EQ(s.nested.size(), 3u);
    EXPECT_EQ(s.nested[0].chosen.point.index, 0);  // 1 is over the limit; 2 ties with 0: the lower number
    EXPECT_EQ(s.nested[1].chosen.point.index, 1);  // higher sensitivity within the limit
    EXPECT_EQ(s.nested[2].chosen.point.index, 1);
    EXPECT_EQ(s.nested[0].held.tp, 1);
    EXPECT_EQ(s.nested[1].held.fp, 1);
    EXPECT_DOUBLE_EQ(s.nested[2].held.falseAlarmsPerHour, 4.0);
    EXPECT_DOUBLE_EQ(s.nested[1].tune.sensitivity, 1.0);
    EXPECT_DOUBLE_EQ(s.nested[0].tune.falseAlarmsPerHour, 2.0);
    const SweepNestedSpread spread = SweepSummaryNestedSpread(s);
    EXPECT_EQ(spread.chosen, 3);
    EXPECT_NEAR(spread.sensitivity.mean, (0.5 + 1.0 + 1.0) / 3, 1e-12);
    EXPECT_NEAR(spread.sensitivity.sd, std::sqrt(((1.0 / 3) * (1.0 / 3) + 2 * (1.0 / 6) * (1.0 / 6)) / 2), 1e-12);
    EXPECT_NEAR(spread.falseAlarmsPerHour.mean, (0.0 + 1.0 + 4.0) / 3, 1e-12);
    EXPECT_NEAR(spread.tp.mean, 5.0 / 3, 1e-12);
    // The best over every recording is unaffected: highest sensitivity
    // within 2 false alarms per hour over the three hours.
    EXPECT_EQ(s.best.point.index, 1);

    // The default objective: each fold's limit is the base configuration's
    // false alarms per hour on that fold's tuning part (2.0, 2.0, 0.0).
    const SweepSummary d = Summarise("", base);
    EXPECT_DOUBLE_EQ(d.nested[2].objective.limit, 0.0);
    EXPECT_EQ(d.nested[0].chosen.point.index, 0);
    EXPECT_EQ(d.nested[1].chosen.point.index, 1);
    EXPECT_EQ(d.nested[2].chosen.point.index, 0);
}

TEST(NestedSelection, AFoldThatNothingQualifiesOnSaysSoAndTheMeanCountsTheOthers)
{
    const SweepData data = ThreeFolds();
    const SweepSummary s = Summarise("max:sensitivity@fa<=0.4", HandRows(data)[0]);
    EXPECT_FALSE(s.nested[0].chosen.found);
    EXPECT_FALSE(s.nested[1].chosen.found);
    ASSERT_TRUE(s.nested[2].chosen.found);
    EXPECT_EQ(s.nested[2].chosen.point.index, 0);
    const SweepNestedSpread spread = SweepSummaryNestedSpread(s);
    EXPECT_EQ(spread.chosen, 1);
    EXPECT_EQ(spread.folds, 3);
    EXPECT_DOUBLE_EQ(spread.sensitivity.mean, 0.5);
    EXPECT_TRUE(std::isnan(spread.sensitivity.sd));  // one fold: no spread

    const SweepLayout layout{SweepFormat::Csv,     "0123456789abcdef", "hand-made", {"fallWindow"}, 3,
                             SweepMetricColumns(3)};
    const json j = json::parse(SweepSummaryJson(s, layout, 3).dump());
    const json& nested = j["nested"];
    EXPECT_EQ(nested["chosen"], 1);
    EXPECT_TRUE(nested["folds"][0]["config"].is_null());
    EXPECT_EQ(nested["folds"][2]["config"], 0);
    EXPECT_EQ(nested["folds"][2]["values"]["fallWindow"], 10);
    EXPECT_EQ(nested["folds"][2]["subjects"], json::array({"s3"}));
    EXPECT_DOUBLE_EQ(nested["folds"][2]["limit"].get<double>(), 0.4);
    EXPECT_DOUBLE_EQ(nested["folds"][2]["shift"]["false_alarms_per_hour"].get<double>(), 4.0);
    EXPECT_DOUBLE_EQ(nested["mean"]["sensitivity"].get<double>(), 0.5);
    EXPECT_TRUE(nested["sd"]["sensitivity"].is_null());
    EXPECT_EQ(j["rows"], 3);
    EXPECT_TRUE(j["best"].is_null());  // nothing within 0.4 over every recording
}

// ---- the nested selection against eval ----------------------------------------

// What eval reports of one recording.
struct Outcome {
    std::string subject;
    std::string label;
    bool detected;
    int events;
    uint64_t samples;
};

std::vector<Outcome> EvalOutcomes(const std::string& dir, const std::vector<std::string>& paths,
                                  const std::vector<std::string>& sets)
{
    std::vector<std::string> args{"eval"};
    args.insert(args.end(), paths.begin(), paths.end());
    args.insert(args.end(), {"-q", "--json", "e.json"});
    for (const std::string& s : sets) {
        args.insert(args.end(), {"--set", s});
    }
    const BenchRun run = Tumblewatch(dir, args);
    EXPECT_EQ(run.status, 0) << run.errors;
    std::vector<Outcome> outcomes;
    const json report = json::parse(ReadFile(dir + "/e.json"));
    for (const json& r : report["recordings"]) {
        if (r["label"].is_null()) {
            continue;
        }
        outcomes.push_back(Outcome{r["subject"].get<std::string>(), r["label"].get<std::string>(),
                                   r["detected"].get<bool>(), static_cast<int>(r["events"].size()),
                                   r["samples"].get<uint64_t>()});
    }
    return outcomes;
}

// The figures of the recordings whose subject is (or, with !in, is not)
// among subjects, computed here from eval's outcomes.
struct Brute {
    int tp = 0, fn = 0, fp = 0, tn = 0;
    double sensitivity = NAN, specificity = NAN, f1 = NAN, fa = NAN;
};

Brute Figures(const std::vector<Outcome>& outcomes, const std::set<std::string>& subjects, bool in)
{
    Brute b;
    int events = 0;
    uint64_t adl = 0;
    for (const Outcome& o : outcomes) {
        if ((subjects.count(o.subject) > 0) != in) {
            continue;
        }
        if (o.label == "fall") {
            ++(o.detected ? b.tp : b.fn);
        } else {
            ++(o.detected ? b.fp : b.tn);
            events += o.events;
            adl += o.samples;
        }
    }
    if (b.tp + b.fn > 0) {
        b.sensitivity = static_cast<double>(b.tp) / (b.tp + b.fn);
    }
    if (b.fp + b.tn > 0) {
        b.specificity = static_cast<double>(b.tn) / (b.fp + b.tn);
    }
    if (b.tp + b.fp + b.fn > 0) {
        b.f1 = 2.0 * b.tp / (2.0 * b.tp + b.fp + b.fn);
    }
    if (adl > 0) {
        b.fa = events / (static_cast<double>(adl) / 50.0 / 3600.0);
    }
    return b;
}

double Number(const json& j)
{
    return j.is_null() ? NAN : j.get<double>();
}

void ExpectRate(const json& j, double expected, const std::string& what)
{
    if (std::isnan(expected)) {
        EXPECT_TRUE(j.is_null()) << what;
    } else {
        EXPECT_NEAR(Number(j), expected, 5.1e-7) << what;
    }
}

// Runs the sweep with --summary, evaluates the base and every configuration
// with eval, and checks each fold's choice and figures against a brute-force
// selection from eval's outcomes.
void CheckNestedAgainstEval(const std::vector<std::string>& paths, const std::vector<std::string>& grid, int folds,
                            const std::string& objective)
{
    TempDir dir;
    std::vector<std::string> args{"sweep"};
    args.insert(args.end(), paths.begin(), paths.end());
    args.insert(args.end(), grid.begin(), grid.end());
    args.insert(args.end(), {"--folds", std::to_string(folds), "--out", "rows.csv", "--summary", "s.json", "-q"});
    if (!objective.empty()) {
        args.insert(args.end(), {"--objective", objective});
    }
    const BenchRun sweep = Tumblewatch(dir.path(), args);
    ASSERT_EQ(sweep.status, 0) << sweep.errors;
    const json summary = json::parse(ReadFile(dir / "s.json"));
    const json& nested = summary["nested"];
    ASSERT_EQ(nested["folds"].size(), static_cast<size_t>(folds));

    // The configurations and their values, from the rows.
    const std::vector<std::string> lines = SplitLines(ReadFile(dir / "rows.csv"));
    std::vector<std::string> names;
    std::stringstream header(lines[1]);
    for (std::string f; std::getline(header, f, ',') && f != "tp";) {
        names.push_back(f);
    }
    std::vector<std::vector<std::string>> sets;
    for (size_t i = 2; i < lines.size(); ++i) {
        std::stringstream row(lines[i]);
        std::vector<std::string> s;
        std::string f;
        for (size_t c = 0; c < names.size() && std::getline(row, f, ','); ++c) {
            if (c > 0) {
                s.push_back(names[c] + "=" + f);
            }
        }
        ASSERT_EQ(std::stoll(lines[i].substr(0, lines[i].find(','))), static_cast<long long>(i - 2));
        sets.push_back(s);
    }
    const std::vector<Outcome> base = EvalOutcomes(dir.path(), paths, {});
    std::vector<std::vector<Outcome>> outcomes;
    for (const auto& s : sets) {
        outcomes.push_back(EvalOutcomes(dir.path(), paths, s));
    }

    for (int k = 0; k < folds; ++k) {
        const json& fold = nested["folds"][k];
        const std::set<std::string> held(fold["subjects"].begin(), fold["subjects"].end());
        // The limit and the choice, by brute force; ties: fewer false
        // alarms per hour, higher F1, lower number.
        double limit = INFINITY;
        if (objective.empty()) {
            limit = Figures(base, held, false).fa;
        } else if (objective != "max:f1") {
            limit = std::stod(objective.substr(objective.find("<=") + 2));
        }
        int chosen = -1;
        Brute best;
        for (size_t c = 0; c < outcomes.size(); ++c) {
            const Brute t = Figures(outcomes[c], held, false);
            const double measure = objective == "max:f1" ? t.f1 : t.sensitivity;
            const bool admitted = objective == "max:f1"
                                      ? !std::isnan(t.f1)
                                      : !std::isnan(t.sensitivity) && !std::isnan(t.fa) && t.fa <= limit;
            if (!admitted) {
                continue;
            }
            const double bestMeasure = objective == "max:f1" ? best.f1 : best.sensitivity;
            const double f1 = std::isnan(t.f1) ? -1 : t.f1;
            const double bestF1 = std::isnan(best.f1) ? -1 : best.f1;
            const bool better = chosen < 0 || measure > bestMeasure ||
                                (measure == bestMeasure && (t.fa < best.fa || (t.fa == best.fa && f1 > bestF1)));
            if (better) {
                chosen = static_cast<int>(c);
                best = t;
            }
        }
        const std::string what = "fold " + std::to_string(k + 1);
        if (chosen < 0) {
            EXPECT_TRUE(fold["config"].is_null()) << what;
            continue;
        }
        ASSERT_FALSE(fold["config"].is_null()) << what;
        EXPECT_EQ(fold["config"].get<int>(), chosen) << what;
        const Brute h = Figures(outcomes[static_cast<size_t>(chosen)], held, true);
        EXPECT_EQ(fold["tp"], h.tp) << what;
        EXPECT_EQ(fold["fn"], h.fn) << what;
        EXPECT_EQ(fold["fp"], h.fp) << what;
        EXPECT_EQ(fold["tn"], h.tn) << what;
        ExpectRate(fold["sensitivity"], h.sensitivity, what);
        ExpectRate(fold["specificity"], h.specificity, what);
        ExpectRate(fold["f1"], h.f1, what);
        ExpectRate(fold["false_alarms_per_hour"], h.fa, what);
        ExpectRate(fold["tuning"]["sensitivity"], best.sensitivity, what);
        ExpectRate(fold["tuning"]["false_alarms_per_hour"], best.fa, what);
    }
}

TEST(NestedSelection, ChoicesAndHeldOutFiguresAreEvalsOnEachFoldsSubjects)
{
    const std::vector<std::string> grid{"--grid", "fallWindow=8,14,20", "--grid", "impactSoftSum=900,1350"};
    CheckNestedAgainstEval({Subjects().dir.path()}, grid, 2, "");
    CheckNestedAgainstEval({Subjects().dir.path()}, grid, 2, "max:f1");
    CheckNestedAgainstEval({Subjects().dir.path()}, grid, 2, "max:sensitivity@fa<=30");
}

TEST(NestedSelection, OnTheSharedRealRecordings)
{
    const std::string real = std::string(SHARED_DATA_DIR) + "/real";
    std::error_code ec;
    if (!fs::is_directory(real, ec)) {
        GTEST_SKIP() << "no shared data at " << real;
    }
    const std::vector<std::string> grid{"--grid", "fallWindow=8,12,16,20", "--grid", "quietMagnitude=50,70"};
    CheckNestedAgainstEval({real}, grid, 3, "");
    CheckNestedAgainstEval({real}, grid, 3, "max:f1");
}

// ---- resumed sweeps and the summary -----------------------------------------------

std::vector<std::string> FoldSweep(const std::string& out, const std::string& jobs)
{
    return {"sweep",    Subjects().dir.path(),
            "--grid",   "fallWindow=8,11,14,17,20",
            "--random", "3",
            "--range",  "repeatPeak=200:450",
            "--range",  "tiltLimit=20:40",
            "--folds",  "3",
            "--out",    out,
            "-j",       jobs,
            "-q"};
}

TEST(SweepSummaryFile, AResumedSweepWritesTheSameSummaryAndBest)
{
    TempDir dir;
    std::vector<std::string> whole = FoldSweep("whole.csv", "1");
    whole.insert(whole.end(), {"--summary", "whole.json", "--best", "whole.toml"});
    const BenchRun one = Tumblewatch(dir.path(), whole);
    ASSERT_EQ(one.status, 0) << one.errors;
    const std::string rows = ReadFile(dir / "whole.csv");
    const std::vector<std::string> lines = SplitLines(rows);
    ASSERT_EQ(lines.size(), 2u + 15u);

    for (const size_t stop : {3u, 9u, 16u}) {
        // Stopped in the middle of a row, then resumed on other threads.
        WriteFile(dir / "part.csv", rows.substr(0, rows.find(lines[stop]) + 5));
        std::vector<std::string> resume = FoldSweep("part.csv", "3");
        resume.insert(resume.end(), {"--resume", "--summary", "part.json", "--best", "part.toml"});
        const BenchRun resumed = Tumblewatch(dir.path(), resume);
        ASSERT_EQ(resumed.status, 0) << resumed.errors;
        EXPECT_EQ(ReadFile(dir / "part.csv"), rows) << stop;
        EXPECT_EQ(ReadFile(dir / "part.json"), ReadFile(dir / "whole.json")) << stop;
        EXPECT_EQ(ReadFile(dir / "part.toml"), ReadFile(dir / "whole.toml")) << stop;
        fs::remove(dir / "part.csv");
    }
    const json s = json::parse(ReadFile(dir / "whole.json"));
    EXPECT_EQ(s["rows"], 15);
    EXPECT_EQ(s["tumblewatch_sweep_summary"]["folds"], 3);
    EXPECT_EQ(s["nested"]["folds"].size(), 3u);

    // The terminal shows the nested selection beside the best on all data.
    std::vector<std::string> loud = FoldSweep("loud.csv", "2");
    loud.pop_back();
    const BenchRun shown = Tumblewatch(dir.path(), loud);
    ASSERT_EQ(shown.status, 0) << shown.errors;
    EXPECT_NE(shown.output.find("Best on all recordings, "), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("Tuned on other subjects, tested on new ones"), std::string::npos);
    EXPECT_NE(shown.output.find("fold 3 holds out:"), std::string::npos);
    for (const std::string& line : SplitLines(shown.output)) {
        EXPECT_LE(line.size(), 100u) << line;
    }
}

TEST(SweepSummaryFile, RowsOfAPreviousVersionAreNotResumed)
{
    TempDir dir;
    ASSERT_EQ(Tumblewatch(dir.path(), FoldSweep("new.csv", "2")).status, 0);
    // The same rows without the counts that this version adds.
    std::string old;
    for (const std::string& line : SplitLines(ReadFile(dir / "new.csv"))) {
        if (line[0] == '#') {
            old += line + "\n";
            continue;
        }
        std::vector<std::string> fields;
        std::stringstream s(line);
        for (std::string f; std::getline(s, f, ',');) {
            fields.push_back(f);
        }
        // config, fallWindow, repeatPeak, tiltLimit, 9 figures (4..12), the
        // false alarm events (13), 8 means (14..21), the per-fold counts:
        // keep the figures and the means only.
        std::string kept;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i == 13 || i > 21) {
                continue;
            }
            kept += (kept.empty() ? "" : ",") + fields[i];
        }
        old += kept + "\n";
    }
    WriteFile(dir / "old.csv", old);
    std::vector<std::string> resume = FoldSweep("old.csv", "2");
    resume.push_back("--resume");
    const BenchRun run = Tumblewatch(dir.path(), resume);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.errors.find("written by a previous version"), std::string::npos) << run.errors;
    EXPECT_EQ(ReadFile(dir / "old.csv"), old);
    // It can still be charted.
    const BenchRun report = Tumblewatch(dir.path(), {"report", "old.csv", "--html", "old.html"});
    EXPECT_EQ(report.status, 0) << report.errors;
}

// ---- the front-end cache --------------------------------------------------------

SweepData Load(const std::string& path, bool cache, int folds)
{
    InputSet inputs{};
    std::string error;
    EXPECT_TRUE(InputsFind({path}, &inputs, &error)) << error;
    SweepData data{};
    SweepLoad(inputs, nullptr, 2, cache, &data);
    SweepAssignFolds(&data, folds);
    return data;
}

// Every row's text of a sweep over data.
std::string RowsText(const SweepData& data, const SweepSpace& space, int folds, int threads)
{
    TumblewatchConfig base;
    TumblewatchDefault(&base);
    SweepLayout layout{SweepFormat::Csv, "x", "", {}, folds, SweepMetricColumns(folds)};
    const std::vector<int> varied = SweepVaried(space);
    const int64_t count = SweepCount(space, 1000);
    Progress progress;
    ProgressStart(&progress, "configurations", static_cast<uint64_t>(count), false);
    std::string text;
    SweepRun(data, space, base, 0, count, SweepSettings{kDefaultMergeSeconds, threads, folds}, &progress,
             [&](const SweepRow& row) {
                 text += row.refused ? "refused " + row.refusal + "\n" : SweepRowText(layout, varied, row);
                 return true;
             });
    return text;
}

SweepSpace Space(const std::vector<std::string>& grids, const std::vector<std::string>& ranges, int64_t draws)
{
    SweepSpace space{{}, {}, draws, 9};
    std::string error;
    for (const std::string& g : grids) {
        space.grids.emplace_back();
        EXPECT_TRUE(SweepParseGrid(g, &space.grids.back(), &error)) << error;
    }
    for (const std::string& r : ranges) {
        space.ranges.emplace_back();
        EXPECT_TRUE(SweepParseRange(r, &space.ranges.back(), &error)) << error;
    }
    return space;
}

void CheckCacheChangesNoRow(const std::string& path, int folds)
{
    const SweepData cached = Load(path, true, folds);
    const SweepData whole = Load(path, false, folds);
    ASSERT_FALSE(cached.recordings.empty());
    EXPECT_TRUE(whole.recordings.front().frontEnd.empty());
    EXPECT_EQ(cached.recordings.front().frontEnd.size(), cached.recordings.front().samples.size());
    // The window (fallWindow, including a refused 0), the attitude limits
    // and random draws over every stage's parameters.
    const SweepSpace spaces[] = {
        Space({"fallWindow=0,1,5,9,13,20,33,63", "tiltLimit=10,35"}, {}, 0),
        Space({"pitchLimit=40,65"},
              {"quietMagnitude=30:90", "jumpBandLow=100:180", "rotationLow=80:240", "weightedAccelMax=20:80",
               "recordLength=2:8", "impactSoftSum=800:1800", "impactHardWindow=2:9", "tumbleAccel=100:200",
               "tumbleLength=5:25", "repeatPeak=200:500", "repeatGapMax=10:30"},
              8),
    };
    for (const SweepSpace& space : spaces) {
        const std::string reference = RowsText(whole, space, folds, 1);
        EXPECT_EQ(RowsText(cached, space, folds, 1), reference) << path;
        EXPECT_EQ(RowsText(cached, space, folds, 3), reference) << path;
        EXPECT_EQ(RowsText(whole, space, folds, 3), reference) << path;
    }
}

TEST(FrontEndCache, RowsAreTheSameWithAndWithoutItForAnyThreads)
{
    CheckCacheChangesNoRow(Subjects().dir.path(), 2);
    const std::string real = std::string(SHARED_DATA_DIR) + "/real";
    std::error_code ec;
    if (!fs::is_directory(real, ec)) {
        std::printf("no shared data at %s: the real recordings are skipped\n", real.c_str());
        return;
    }
    CheckCacheChangesNoRow(real, 3);
}

// The sanitizers' shadow memory and quarantine make a process's resident
// size meaningless.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

TEST(FrontEndCache, HoldsEighteenBytesPerSampleBesideTheSample)
{
    static_assert(kSweepFrontEndBytesPerSample == 18, "the front end's values of a sample");
    const SweepData data = Load(Subjects().dir.path(), true, 0);
    EXPECT_EQ(SweepDataBytes(data), data.samples * (sizeof(ImuSample) + kSweepFrontEndBytesPerSample));

    // A sweep over 1.2 million samples (about 6.7 hours of wear) peaks at
    // the decoded samples and their front ends (36 MB) and little more.
    TempDir dir;
    const std::vector<ImuSample> day = recgen::MakeRecording(*recgen::FindScenario("long_mixed")).samples;
    uint64_t samples = 0;
    // The rows go beside the recordings' folder, not into it (where a search would read them).
    std::filesystem::create_directory(dir / "rec");
    for (int r = 0; samples < 1200000; ++r) {
        WriteFile(dir / ("rec/adl_mixed_s" + std::to_string(r % 4) + "_r" + std::to_string(r) + ".bin"),
                  DataSetImage(day));
        samples += day.size();
    }
    const BenchRun run = Tumblewatch(dir.path(), {"sweep", "rec", "--grid", "fallWindow=10,20", "--folds", "2", "--out",
                                                  "rows.csv", "-q", "-j", "2"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const double perSample = static_cast<double>(run.maxRssKib) * 1024.0 / static_cast<double>(samples);
    std::printf("sweep of %llu samples: peak resident size %ld KiB, %.1f bytes per sample\n",
                static_cast<unsigned long long>(samples), run.maxRssKib, perSample);
    if (!kSanitized) {
        // 30 bytes per sample held, plus the program itself (a few MiB).
        EXPECT_LT(run.maxRssKib, static_cast<long>((samples * 30 + (16u << 20)) / 1024)) << perSample;
    }
}

}  // namespace
