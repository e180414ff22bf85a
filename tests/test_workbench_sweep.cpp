// Sweeps: the configurations of grids and random draws, held-out folds,
// the Pareto front and the objective, the output file, and the sweep
// command's rows against eval's figures, for any -j and across a resume.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "dataset_format.h"
#include "folds.h"
#include "params.h"
#include "pareto.h"
#include "recording_files.h"
#include "scenarios.h"
#include "sweep_output.h"
#include "sweep_space.h"
#include "test_support.h"
#include "workbench_sweep_support.h"

namespace fs = std::filesystem;

namespace {

SweepGrid Grid(const std::string& text)
{
    SweepGrid g;
    std::string error;
    EXPECT_TRUE(SweepParseGrid(text, &g, &error)) << error;
    return g;
}

std::string GridError(const std::string& text)
{
    SweepGrid g;
    std::string error;
    EXPECT_FALSE(SweepParseGrid(text, &g, &error)) << text;
    return error;
}

TEST(SweepSpace, GridsRangesAndTheirMistakes)
{
    EXPECT_EQ(Grid("fallWindow=5:20:5").values, (std::vector<int32_t>{5, 10, 15, 20}));
    EXPECT_EQ(Grid("fallWindow=5:19:5").values, (std::vector<int32_t>{5, 10, 15}));
    EXPECT_EQ(Grid("repeatPeak=300,-2,400").values, (std::vector<int32_t>{300, -2, 400}));
    EXPECT_EQ(Grid("repeatPeak=7").values, (std::vector<int32_t>{7}));
    EXPECT_EQ(Grid("repeatPeak=2147483646:2147483647:5").values, (std::vector<int32_t>{2147483646}));
    EXPECT_EQ(GridError("fallWindow=20:5:1"), "--grid fallWindow=20:5:1: LO is greater than HI");
    EXPECT_EQ(GridError("fallWindow=5:20:0"), "--grid fallWindow=5:20:0: STEP must be positive");
    EXPECT_EQ(GridError("fallWindow=5:20:-1"), "--grid fallWindow=5:20:-1: STEP must be positive");
    EXPECT_NE(GridError("fallWindo=5").find("unknown parameter 'fallWindo'"), std::string::npos);
    EXPECT_NE(GridError("fallWindow=5,x").find("'x' is not a 32-bit integer"), std::string::npos);
    EXPECT_NE(GridError("fallWindow=5:6").find("expected NAME=LO:HI:STEP"), std::string::npos);
    EXPECT_NE(GridError("fallWindow=0:2000000000:1").find("a grid has at most"), std::string::npos);
    // Every parameter a stage reads can be varied, none of the ten that none reads.
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const TumblewatchParam& p = TumblewatchParams()[i];
        SweepGrid g;
        SweepRange r;
        std::string error;
        EXPECT_EQ(SweepParseGrid(std::string(p.name) + "=1,2", &g, &error), p.read) << p.name;
        EXPECT_EQ(SweepParseRange(std::string(p.name) + "=1:2", &r, &error), p.read) << p.name;
        if (!p.read) {
            EXPECT_EQ(error, "--range " + std::string(p.name) + "=1:2: " + p.name +
                                 " is read by no stage of the detector, so varying it would change nothing "
                                 "(tumblewatch params says which stage reads each parameter)");
        }
        EXPECT_EQ(p.read, std::string(p.stages) != "-") << p.name;
    }

    SweepRange r;
    std::string error;
    EXPECT_TRUE(SweepParseRange("quietMagnitude=40:80", &r, &error));
    EXPECT_FALSE(SweepParseRange("quietMagnitude=80:40", &r, &error));
    EXPECT_EQ(error, "--range quietMagnitude=80:40: LO is greater than HI");
    EXPECT_FALSE(SweepParseRange("quietMagnitude=40", &r, &error));

    SweepSpace twice{{Grid("fallWindow=5,6")}, {SweepRange{0, 1, 9}}, 3, 1};
    EXPECT_FALSE(SweepCheck(twice, &error));
    EXPECT_EQ(error, "parameter fallWindow is varied twice");
    EXPECT_FALSE(SweepCheck(SweepSpace{{}, {}, 4, 1}, &error));
    EXPECT_FALSE(SweepCheck(SweepSpace{{}, {SweepRange{1, 1, 9}}, 0, 1}, &error));
    EXPECT_FALSE(SweepCheck(SweepSpace{}, &error));
}

TEST(SweepSpace, ConfigurationsAreEnumeratedFirstGridSlowest)
{
    TumblewatchConfig base;
    TumblewatchDefault(&base);
    base.repeatPeak = 333;
    const SweepSpace space{{Grid("fallWindow=10,20"), Grid("tiltLimit=30:50:10")}, {}, 0, 1};
    ASSERT_EQ(SweepCount(space, 100), 6);
    EXPECT_EQ(SweepCount(space, 5), -1);
    const std::pair<int32_t, int32_t> expected[] = {{10, 30}, {10, 40}, {10, 50}, {20, 30}, {20, 40}, {20, 50}};
    for (int i = 0; i < 6; ++i) {
        const TumblewatchConfig cfg = SweepConfig(space, base, i);
        EXPECT_EQ(cfg.fallWindow, expected[i].first);
        EXPECT_EQ(cfg.tiltLimit, expected[i].second);
        EXPECT_EQ(cfg.repeatPeak, 333);
    }
    EXPECT_EQ(SweepVaried(space), (std::vector<int>{0, 11}));

    // A grid of a million values times a million draws is counted without
    // overflow and refused.
    SweepSpace huge{{Grid("repeatPeak=1:1000000:1")}, {SweepRange{1, 0, 9}}, 10000000000000LL, 1};
    EXPECT_EQ(SweepCount(huge, INT64_MAX), -1);
}

TEST(SweepSpace, RandomDrawsAreUniformReproducibleAndIndependentOfTheirNumber)
{
    TumblewatchConfig base;
    TumblewatchDefault(&base);
    const SweepSpace few{{Grid("fallWindow=10,20")}, {SweepRange{1, 50, 53}, SweepRange{33, -5, 5}}, 4, 42};
    const SweepSpace many{{Grid("fallWindow=10,20")}, {SweepRange{1, 50, 53}, SweepRange{33, -5, 5}}, 1000, 42};
    std::vector<int> counts(4, 0);
    for (int64_t d = 0; d < 1000; ++d) {
        const TumblewatchConfig c = SweepConfig(many, base, d);
        ASSERT_GE(c.quietMagnitude, 50);
        ASSERT_LE(c.quietMagnitude, 53);
        ASSERT_GE(c.repeatPeak, -5);
        ASSERT_LE(c.repeatPeak, 5);
        ++counts[static_cast<size_t>(c.quietMagnitude - 50)];
        if (d < 4) {
            // Draw d is the same whether 4 or 1000 are drawn, for every grid point.
            EXPECT_EQ(std::memcmp(&c, &base, 0), 0);
            const TumblewatchConfig a = SweepConfig(few, base, d);
            const TumblewatchConfig b = SweepConfig(few, base, 4 + d);
            EXPECT_EQ(a.quietMagnitude, c.quietMagnitude);
            EXPECT_EQ(a.repeatPeak, c.repeatPeak);
            EXPECT_EQ(b.quietMagnitude, c.quietMagnitude);
            EXPECT_EQ(b.fallWindow, 20);
        }
    }
    for (const int n : counts) {
        EXPECT_GT(n, 200);  // about 250 each
        EXPECT_LT(n, 300);
    }
    const SweepSpace other{{Grid("fallWindow=10,20")}, {SweepRange{1, 50, 53}, SweepRange{33, -5, 5}}, 1000, 43};
    int same = 0;
    for (int64_t d = 0; d < 100; ++d) {
        same += SweepConfig(other, base, d).repeatPeak == SweepConfig(many, base, d).repeatPeak;
    }
    EXPECT_LT(same, 30);  // another seed, other draws
}

TEST(Folds, SubjectsAreDealtOutStablyAndNoFoldIsEmpty)
{
    EXPECT_EQ(FoldsHash(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(FoldsHash("a"), 0xaf63dc4c8601ec8cULL);
    const std::vector<std::string> subjects{"s01", "s02", "s03", "s01", "sa07", "s02", "x"};
    const std::vector<int> folds = FoldsAssign(subjects, 3);
    ASSERT_EQ(folds.size(), subjects.size());
    EXPECT_EQ(folds[0], folds[3]);
    EXPECT_EQ(folds[1], folds[5]);
    EXPECT_EQ(std::set<int>(folds.begin(), folds.end()), (std::set<int>{0, 1, 2}));
    EXPECT_EQ(FoldsAssign({"x", "sa07", "s03", "s02", "s01"}, 3), FoldsAssign({"x", "sa07", "s03", "s02", "s01"}, 3));
    // The order of the recordings does not change a subject's fold.
    const std::vector<int> reversed = FoldsAssign({"x", "s02", "sa07", "s01", "s03", "s02", "s01"}, 3);
    EXPECT_EQ(reversed[0], folds[6]);
    EXPECT_EQ(reversed[3], folds[0]);
}

SweepPoint Point(int64_t index, double sens, double fa, double f1 = 0.5)
{
    return SweepPoint{index, sens, fa, f1, std::nan(""), std::nan(""), {}};
}

std::vector<int64_t> Indices(const ParetoFront& front)
{
    std::vector<int64_t> v;
    for (const SweepPoint& p : front.points) {
        v.push_back(p.index);
    }
    return v;
}

TEST(Pareto, FrontKeepsTheUndominatedByFalseAlarms)
{
    ParetoFront front;
    ParetoAdd(&front, Point(0, 0.5, 2.0));
    ParetoAdd(&front, Point(1, 0.6, 3.0));
    ParetoAdd(&front, Point(2, 0.5, 2.5));  // dominated by 0
    ParetoAdd(&front, Point(3, 0.5, 2.0));  // equal to 0: the first stays
    ParetoAdd(&front, Point(4, 0.2, 0.0));
    ParetoAdd(&front, Point(5, std::nan(""), 0.0));
    EXPECT_EQ(Indices(front), (std::vector<int64_t>{4, 0, 1}));
    ParetoAdd(&front, Point(6, 0.7, 1.0));  // beats 0 and 1
    EXPECT_EQ(Indices(front), (std::vector<int64_t>{4, 6}));
}

TEST(Pareto, ObjectivesChooseAndBreakTies)
{
    Objective o;
    std::string error;
    ASSERT_TRUE(ObjectiveParse("", &o, &error));
    EXPECT_EQ(o.kind, ObjectiveKind::SensitivityAtBase);
    o.limit = 1.0;
    ObjectiveBest best{false, {}};
    ObjectiveOffer(o, &best, Point(0, 0.9, 1.5));  // too many false alarms
    EXPECT_FALSE(best.found);
    ObjectiveOffer(o, &best, Point(1, 0.4, 1.0));
    ObjectiveOffer(o, &best, Point(2, 0.4, 0.5));  // same sensitivity, fewer false alarms
    ObjectiveOffer(o, &best, Point(3, 0.4, 0.5));  // a tie: the earlier stays
    EXPECT_EQ(best.point.index, 2);

    ASSERT_TRUE(ObjectiveParse("max:f1", &o, &error));
    best = ObjectiveBest{false, {}};
    ObjectiveOffer(o, &best, Point(0, 0.9, 9.0, 0.4));
    ObjectiveOffer(o, &best, Point(1, 0.5, 1.0, 0.6));
    EXPECT_EQ(best.point.index, 1);

    ASSERT_TRUE(ObjectiveParse("max:sensitivity@fa<=2.5", &o, &error));
    EXPECT_DOUBLE_EQ(o.limit, 2.5);
    for (const char* bad : {"max:recall", "max:sensitivity@fa<=", "max:sensitivity@fa<=-1", "min:f1"}) {
        EXPECT_FALSE(ObjectiveParse(bad, &o, &error)) << bad;
    }
}

TEST(SweepOutput, RowsReadBackAsWritten)
{
    for (const SweepFormat format : {SweepFormat::Csv, SweepFormat::Jsonl}) {
        for (const bool folds : {false, true}) {
            const int k = folds ? 2 : 0;
            const SweepLayout layout{format, SweepId("x"),         "two rows", {"fallWindow", "repeatPeak"},
                                     k,      SweepMetricColumns(k)};
            SweepRow row{};
            TumblewatchDefault(&row.config);
            row.index = 7;
            row.config.fallWindow = 12;
            row.config.repeatPeak = -3;
            row.all = MetricsCompute({{Label::Fall, 100, 1, 50, 40}, {Label::Adl, 1800, 0, -1, 0}});
            row.tune = FoldMetrics{0.5, std::nan(""), 0.25, 1.5};
            row.held = FoldMetrics{1.0, 1.0, 1.0, 0.0};
            if (folds) {
                row.heldFolds = {MetricsFromCounts({1, 0, 0, 0, 0}, 0), MetricsFromCounts({0, 0, 0, 1, 3}, 1800)};
            }
            TempDir dir;
            std::string text = SweepHeaderText(layout) + SweepRowText(layout, {0, 33}, row);
            row.index = 9;
            text += SweepRowText(layout, {0, 33}, row);
            WriteFile(dir / "s", text + "12,3");  // an unfinished last line
            SweepLayout read;
            std::vector<SweepRecord> records;
            uint64_t bytes = 0;
            std::string error;
            ASSERT_TRUE(SweepReadFile(
                dir / "s", &read,
                [&](const SweepRecord& r, std::string*) {
                    records.push_back(r);
                    return true;
                },
                &bytes, &error))
                << error;
            EXPECT_EQ(bytes, text.size());
            EXPECT_EQ(read.id, layout.id);
            EXPECT_EQ(read.description, "two rows");
            EXPECT_EQ(read.varied, layout.varied);
            EXPECT_EQ(read.folds, k);
            EXPECT_EQ(read.columns, layout.columns);
            ASSERT_EQ(records.size(), 2u);
            EXPECT_EQ(records[1].index, 9);
            EXPECT_EQ(records[0].values, (std::vector<int32_t>{12, -3}));
            EXPECT_EQ(records[0].Metric("tp"), 1.0);
            EXPECT_EQ(records[0].Metric("sensitivity"), 1.0);
            EXPECT_EQ(records[0].Metric("latency_median"), 0.2);
            EXPECT_TRUE(std::isnan(records[0].Metric("tune_specificity")));
            EXPECT_EQ(records[0].Metric("held_sensitivity") == 1.0, folds);
            EXPECT_EQ(records[0].Metric("tune_false_alarms_per_hour") == 1.5, folds);
            EXPECT_TRUE(std::isnan(records[0].Metric("precision")));
            EXPECT_EQ(records[0].Metric("false_alarm_events"), 0.0);
            EXPECT_EQ(records[0].Metric("fold2_tn") == 1.0, folds);
            EXPECT_EQ(records[0].Metric("fold2_false_alarm_events") == 3.0, folds);
        }
    }
    TempDir dir;
    WriteFile(dir / "other.csv", "config,a\n1,2\n");
    SweepLayout read;
    uint64_t bytes = 0;
    std::string error;
    EXPECT_FALSE(SweepReadFile(
        dir / "other.csv", &read, [](const SweepRecord&, std::string*) { return true; }, &bytes, &error));
    EXPECT_NE(error.find("not the output of tumblewatch sweep"), std::string::npos);
}

std::vector<std::string> SweepArgs(const std::string& out, const std::string& jobs)
{
    return {"sweep",    Subjects().dir.path(),
            "--grid",   "fallWindow=8,14,20",
            "--grid",   "impactSoftSum=900,1350",
            "--random", "2",
            "--range",  "repeatPeak=200:450",
            "--seed",   "5",
            "--folds",  "2",
            "--out",    out,
            "-j",       jobs,
            "-q"};
}

TEST(SweepCommand, RowsAreEvalsFiguresForAnyJobsAndAcrossAResume)
{
    TempDir dir;
    const BenchRun one = Tumblewatch(dir.path(), SweepArgs("one.csv", "1"));
    ASSERT_EQ(one.status, 0) << one.errors;
    const BenchRun two = Tumblewatch(dir.path(), SweepArgs("two.csv", "3"));
    ASSERT_EQ(two.status, 0) << two.errors;
    const std::string rows = ReadFile(dir / "one.csv");
    EXPECT_EQ(ReadFile(dir / "two.csv"), rows);
    const std::vector<std::string> lines = SplitLines(rows);
    ASSERT_EQ(lines.size(), 2u + 12u);

    // A sweep stopped after four rows, in the middle of the fifth.
    WriteFile(dir / "resumed.csv", rows.substr(0, rows.find(lines[6]) + 9));
    const BenchRun refused = Tumblewatch(dir.path(), SweepArgs("resumed.csv", "2"));
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.errors.find("exists: continue it with --resume"), std::string::npos);
    std::vector<std::string> resume = SweepArgs("resumed.csv", "2");
    resume.push_back("--resume");
    const BenchRun resumed = Tumblewatch(dir.path(), resume);
    ASSERT_EQ(resumed.status, 0) << resumed.errors;
    EXPECT_EQ(ReadFile(dir / "resumed.csv"), rows);

    // Rows against eval with the same settings: a grid row, a random row,
    // and one that the resumed run wrote.
    for (const size_t at : {2u, 5u, 13u}) {
        const std::vector<std::string> f = [&] {
            std::vector<std::string> fields;
            std::stringstream s(lines[at]);
            std::string x;
            while (std::getline(s, x, ',')) {
                fields.push_back(x);
            }
            return fields;
        }();
        const BenchRun eval = Tumblewatch(
            dir.path(), {"eval", Subjects().dir.path(), "-q", "--json", "e.json", "--set", "fallWindow=" + f[1],
                         "--set", "impactSoftSum=" + f[2], "--set", "repeatPeak=" + f[3]});
        ASSERT_EQ(eval.status, 0) << eval.errors;
        const nlohmann::json s = nlohmann::json::parse(ReadFile(dir / "e.json"))["summary"];
        EXPECT_EQ(f[4], std::to_string(s["tp"].get<int>())) << lines[at];
        EXPECT_EQ(f[5], std::to_string(s["fn"].get<int>()));
        EXPECT_EQ(f[6], std::to_string(s["fp"].get<int>()));
        EXPECT_EQ(f[7], std::to_string(s["tn"].get<int>()));
        char sens[32];
        std::snprintf(sens, sizeof sens, "%.6f", s["sensitivity"].get<double>());
        EXPECT_EQ(f[8], sens) << lines[at];
        char latency[32];
        std::snprintf(latency, sizeof latency, "%.6f", s["latency_median"].get<double>());
        EXPECT_EQ(f[12], latency) << lines[at];
        EXPECT_EQ(f[13], std::to_string(s["false_alarm_events"].get<int>())) << lines[at];
    }

    // JSON lines carry the same rows.
    std::vector<std::string> jsonl = SweepArgs("rows.jsonl", "2");
    jsonl.insert(jsonl.end(), {"--format", "jsonl"});
    ASSERT_EQ(Tumblewatch(dir.path(), jsonl).status, 0);
    const std::vector<std::string> objects = SplitLines(ReadFile(dir / "rows.jsonl"));
    ASSERT_EQ(objects.size(), 13u);
    const nlohmann::json first = nlohmann::json::parse(objects[1]);
    EXPECT_EQ(first["config"], 0);
    EXPECT_EQ(std::to_string(first["tp"].get<int>()), lines[2].substr(lines[2].find(",8,900,") + 11, 1));
}

TEST(SweepCommand, BadSweepsAreRefusedBeforeAnyWork)
{
    TempDir dir;
    const std::string data = Subjects().dir.path();
    ASSERT_EQ(Tumblewatch(dir.path(), {"sweep", data, "--grid", "fallWindow=10,20", "--out", "kept.csv", "-q"}).status,
              0);
    const std::string kept = ReadFile(dir / "kept.csv");
    WriteFile(dir / "blocker", "");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--grid", "fallWindow=20:10:1", "--out", "x.csv"}, "LO is greater than HI"},
        {{"--grid", "fallWindow=10:20:0", "--out", "x.csv"}, "STEP must be positive"},
        {{"--grid", "fallWindw=10", "--out", "x.csv"}, "unknown parameter 'fallWindw'"},
        {{"--grid", "fallWindow=10", "--grid", "fallWindow=12", "--out", "x.csv"}, "fallWindow is varied twice"},
        {{"--grid", "repeatPeak=1:400000:1", "--out", "x.csv"},
         "400000 configurations: more than --max-configs 100000"},
        {{"--random", "5", "--out", "x.csv"}, "--random needs at least one --range"},
        {{"--grid", "fallWindow=10", "--out", "blocker/x.csv"}, "--out blocker/x.csv: cannot be written"},
        {{"--grid", "fallWindow=10", "--folds", "5", "--out", "x.csv"}, "--folds 5: only 4 subjects"},
        {{"--grid", "fallWindow=10", "--objective", "max:speed", "--out", "x.csv"}, "--objective max:speed"},
        {{"--grid", "fallWindow=10,30", "--out", "kept.csv"}, "exists: continue it with --resume"},
        {{"--grid", "fallWindow=10", "--out", data + "/adl_jump_s04_r1.bin"}, "which this command reads"},
        {{"--grid", "fallWindow=10", "--out", "x.csv", "--best", "x.csv"}, "which this command reads"},
        {{"--grid", "fallWindow=10,30", "--out", "kept.csv", "--resume"}, "the file holds another sweep"},
        {{"--grid", "fallWindow=10,20", "--set", "repeatPeak=300", "--out", "kept.csv", "--resume"},
         "the file holds another sweep"},
        {{"--grid", "param13=1,2", "--out", "x.csv"}, "param13 is read by no stage of the detector"},
        {{"--grid", "fallWindow=10", "--out", "x.csv", "--summary", "blocker/s.json"},
         "--summary blocker/s.json: cannot be written"},
        {{"--grid", "fallWindow=10", "--out", "x.csv", "--summary", data + "/adl_jump_s04_r1.bin"},
         "which this command reads"},
        {{"--grid", "fallWindow=10", "--out", "x.csv", "--summary", "x.csv"}, "which this command reads"},
        {{"--grid", "fallWindow=10", "--out", "x.csv", "--best", "b.txt", "--summary", "b.txt"},
         "--summary b.txt: is also the file of --best"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args{"sweep", data, "-q"};
        args.insert(args.end(), options.begin(), options.end());
        const BenchRun run = Tumblewatch(dir.path(), args);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
        EXPECT_FALSE(PathExists(dir / "x.csv")) << message;
    }
    EXPECT_EQ(ReadFile(dir / "kept.csv"), kept);

    // Folds need subjects.
    TempDir plain;
    WriteFile(plain / "fall_forward.bin", ReadFile(data + "/fall_forward_s01_r1.bin"));
    const BenchRun noSubjects =
        Tumblewatch(dir.path(), {"sweep", plain.path(), "--grid", "fallWindow=10", "--folds", "2", "--out", "y.csv"});
    EXPECT_EQ(noSubjects.status, 2);
    EXPECT_NE(noSubjects.errors.find("1 labelled recordings have no subject"), std::string::npos);
}

TEST(SweepCommand, RefusedConfigurationsAreSkippedAndTheBestIsUsable)
{
    TempDir dir;
    const BenchRun run = Tumblewatch(dir.path(), {"sweep", Subjects().dir.path(), "--grid", "fallWindow=0,14,70",
                                                  "--out", "s.csv", "--best", "best.toml", "--objective", "max:f1"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors,
              "tumblewatch: 2 configurations refused by the detector and skipped, e.g. configuration 0: "
              "fallWindow = 0: must lie in 1..63\n");
    const std::vector<std::string> lines = SplitLines(ReadFile(dir / "s.csv"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].rfind("1,14,", 0), 0u);
    EXPECT_NE(run.output.find("as options: --set fallWindow=14"), std::string::npos) << run.output;
    for (const std::string& line : SplitLines(run.output)) {
        EXPECT_LE(line.size(), 100u) << line;
    }
    const BenchRun eval = Tumblewatch(dir.path(), {"eval", Subjects().dir.path(), "--config", "best.toml", "-q"});
    EXPECT_EQ(eval.status, 0) << eval.errors;
}

}  // namespace
