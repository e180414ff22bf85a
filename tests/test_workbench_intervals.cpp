// The intervals and the recording lists of tumblewatch eval and sweep, run
// as a user runs them: the JSON's intervals, the bootstrap the same from
// its seed for any number of threads, the list caps, and refused seeds and
// levels.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr unsigned kRunLimit = 120;

BenchRun Tumblewatch(const std::string& cwd, const std::vector<std::string>& args)
{
    return RunProgram(TUMBLEWATCH_PATH, cwd, args, kRunLimit);
}

// The examples' five recordings copied for six subjects: 18 falls and 12
// ADLs under a manifest.
void SixSubjects(const TempDir& dir)
{
    const std::string examples = std::string(SOURCE_DIR) + "/examples/";
    std::string manifest = "path,label,activity,subject\n";
    const char* files[][2] = {{"walking.csv", "adl"},
                              {"sit_down_hard.csv", "adl"},
                              {"fall_forward.csv", "fall"},
                              {"fall_backward.csv", "fall"},
                              {"double_fall.csv", "fall"}};
    for (int s = 1; s <= 6; ++s) {
        for (const auto& f : files) {
            const std::string name = "s" + std::to_string(s) + "_" + f[0];
            fs::copy_file(examples + f[0], dir / name);
            manifest += name + "," + f[1] + "," + std::string(f[0]).substr(0, 8) + ",s" + std::to_string(s) + "\n";
        }
    }
    WriteFile(dir / "labels.manifest", manifest);
}

TEST(WorkbenchIntervals, EvalJsonHoldsTheIntervalsOfItsCounts)
{
    TempDir dir;
    SixSubjects(dir);
    // This configuration misses every fall: 0 of 18, and no false alarm in the ADLs' hours.
    const BenchRun run = Tumblewatch(dir.path(), {"eval", "--labels", "labels.manifest", "--set", "fallWindow=63",
                                                  "--set", "tiltLimit=89", "--json", "-"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const json j = json::parse(run.output);
    const json& in = j["intervals"];
    EXPECT_EQ(in["confidence"], 0.95);
    EXPECT_EQ(j["summary"]["tp"], 0);
    EXPECT_EQ(in["sensitivity"]["lower"], 0.0);
    EXPECT_NEAR(in["sensitivity"]["upper"].get<double>(), 3.8414588206941236 / (18 + 3.8414588206941236), 1e-12);
    EXPECT_EQ(in["specificity"]["upper"], 1.0);
    // No alarm at all: precision has nothing to count.
    EXPECT_TRUE(in["precision"].is_null());
    // Zero false alarms: from 0 up to -ln(0.025) per ADL hour.
    const double hours = j["summary"]["adl_hours"].get<double>();
    EXPECT_EQ(in["false_alarms_per_hour"]["lower"], 0.0);
    EXPECT_NEAR(in["false_alarms_per_hour"]["upper"].get<double>(), -std::log(0.025) / hours, 1e-9);
    EXPECT_TRUE(in["bootstrap"].is_null());
    ASSERT_EQ(in["by_activity"].size(), j["by_activity"].size());
    // A lower level gives a narrower interval.
    const BenchRun narrow = Tumblewatch(dir.path(), {"eval", "--labels", "labels.manifest", "--set", "fallWindow=63",
                                                     "--set", "tiltLimit=89", "--confidence", "0.8", "--json", "-"});
    ASSERT_EQ(narrow.status, 0) << narrow.errors;
    EXPECT_LT(json::parse(narrow.output)["intervals"]["sensitivity"]["upper"].get<double>(),
              in["sensitivity"]["upper"].get<double>());
}

TEST(WorkbenchIntervals, BootstrapIsTheSameFromItsSeedForAnyThreads)
{
    TempDir dir;
    SixSubjects(dir);
    const auto boot = [&](const std::string& threads, const std::string& seed) {
        const BenchRun run =
            Tumblewatch(dir.path(), {"eval", "--labels", "labels.manifest", "--set", "fallWindow=5", "--bootstrap",
                                     "400", "--seed", seed, "-j", threads, "--json", "-"});
        EXPECT_EQ(run.status, 0) << run.errors;
        return json::parse(run.output)["intervals"]["bootstrap"];
    };
    const json one = boot("1", "7");
    const json two = boot("2", "7");
    const json four = boot("4", "7");
    ASSERT_FALSE(one.is_null());
    EXPECT_EQ(one["subjects"], 6);
    EXPECT_EQ(one["resamples"], 400);
    EXPECT_EQ(one["seed"], 7);
    EXPECT_EQ(one.dump(), two.dump());
    EXPECT_EQ(one.dump(), four.dump());
    // The terminal says it too.
    const BenchRun text =
        Tumblewatch(dir.path(), {"eval", "--labels", "labels.manifest", "--bootstrap", "400", "--seed", "7"});
    EXPECT_NE(text.output.find("a bootstrap of 400 resamples of the 6 subjects (seed 7)"), std::string::npos)
        << text.output;
}

TEST(WorkbenchIntervals, BadSeedsLevelsAndResamplesAreRefused)
{
    TempDir dir;
    SixSubjects(dir);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--seed", "18446744073709551616"},
                                                {"--seed", "-1"},
                                                {"--seed", "x"},
                                                {"--confidence", "1"},
                                                {"--confidence", "0"},
                                                {"--confidence", "95"},
                                                {"--confidence", "nan"},
                                                {"--bootstrap", "0"},
                                                {"--bootstrap", "1000001"},
                                                {"--list", "-3"},
                                                {"--list", "some"}}) {
        std::vector<std::string> args{"eval", "--labels", "labels.manifest", "--json", "out.json"};
        args.insert(args.end(), bad.begin(), bad.end());
        const BenchRun run = Tumblewatch(dir.path(), args);
        EXPECT_EQ(run.status, 2) << bad[0] << " " << bad[1];
        EXPECT_NE(run.errors.find(bad[0]), std::string::npos) << run.errors;
        EXPECT_FALSE(PathExists(dir / "out.json")) << bad[0] << " " << bad[1];
    }
    // The sweep's level and resamples likewise.
    const BenchRun sweep = Tumblewatch(dir.path(), {"sweep", "--labels", "labels.manifest", "--grid", "fallWindow=8,10",
                                                    "--out", "rows.csv", "--confidence", "1.5"});
    EXPECT_EQ(sweep.status, 2);
    EXPECT_FALSE(PathExists(dir / "rows.csv"));
}

// The lines of the report between the heading that starts with heading and
// the next empty line.
std::vector<std::string> Section(const std::string& report, const std::string& heading)
{
    std::vector<std::string> lines;
    bool in = false;
    for (const std::string& line : SplitLines(report)) {
        if (!in) {
            in = line.rfind(heading, 0) == 0;
            continue;
        }
        if (line.empty()) {
            break;
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(WorkbenchIntervals, ListsAreCappedAndSayWhatTheyLeaveOut)
{
    TempDir dir;
    SixSubjects(dir);
    const auto report = [&](const std::vector<std::string>& list) {
        std::vector<std::string> args{"eval",          "--labels", "labels.manifest", "--set",
                                      "fallWindow=63", "--set",    "tiltLimit=89"};
        args.insert(args.end(), list.begin(), list.end());
        const BenchRun run = Tumblewatch(dir.path(), args);
        EXPECT_EQ(run.status, 0) << run.errors;
        return run.output;
    };
    // 18 missed falls: 10 by default, then the count of the rest.
    std::vector<std::string> missed = Section(report({}), "Missed falls (18)");
    ASSERT_EQ(missed.size(), 11u);
    EXPECT_EQ(missed.back(), "  ... 8 more: --list all shows every one");
    missed = Section(report({"--list", "3"}), "Missed falls (18)");
    ASSERT_EQ(missed.size(), 4u);
    EXPECT_EQ(missed.back(), "  ... 15 more: --list all shows every one");
    EXPECT_EQ(Section(report({"--list", "all"}), "Missed falls (18)").size(), 18u);
    EXPECT_EQ(Section(report({"--list", "missed"}), "Missed falls (18)").size(), 18u);
    missed = Section(report({"--list", "none"}), "Missed falls (18)");
    ASSERT_EQ(missed.size(), 1u);
    EXPECT_EQ(missed[0], "  ... 18 more: --list missed shows them");
    missed = Section(report({"--list", "alarms"}), "Missed falls (18)");
    ASSERT_EQ(missed.size(), 1u);
    EXPECT_EQ(Section(report({"--list", "0"}), "Missed falls (18)").size(), 1u);

    // False alarms: fallWindow=5 raises some on the ADLs.
    const BenchRun run = Tumblewatch(dir.path(), {"eval", "--labels", "labels.manifest", "--set", "fallWindow=5",
                                                  "--json", "alarms.json", "--list", "missed"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const int fp = json::parse(ReadFile(dir / "alarms.json"))["summary"]["fp"];
    ASSERT_GT(fp, 0);
    const std::vector<std::string> alarms = Section(run.output, "False alarms (" + std::to_string(fp) + ")");
    ASSERT_EQ(alarms.size(), 1u) << run.output;
    EXPECT_EQ(alarms[0], "  ... " + std::to_string(fp) + " more: --list alarms shows them");
}

TEST(WorkbenchIntervals, SweepShowsEveryVariedValueAndPoolsTheNestedSelection)
{
    TempDir dir;
    SixSubjects(dir);
    const std::vector<std::string> args{"sweep",
                                        "--labels",
                                        "labels.manifest",
                                        "--grid",
                                        "fallWindow=6,10",
                                        "--grid",
                                        "tiltLimit=20,35",
                                        "--grid",
                                        "quietMagnitude=50",
                                        "--grid",
                                        "impactSoftSum=1000",
                                        "--grid",
                                        "impactHardSum=3000",
                                        "--folds",
                                        "3",
                                        "--seed",
                                        "3",
                                        "--bootstrap",
                                        "300",
                                        "--objective",
                                        "max:f1"};
    std::vector<std::string> first = args;
    first.insert(first.end(), {"--out", "a.csv", "--summary", "a.json"});
    std::vector<std::string> second = args;
    second.insert(second.end(), {"--out", "b.csv", "--summary", "b.json", "-j", "1"});
    const BenchRun a = Tumblewatch(dir.path(), first);
    const BenchRun b = Tumblewatch(dir.path(), second);
    ASSERT_EQ(a.status, 0) << a.errors;
    ASSERT_EQ(b.status, 0) << b.errors;
    // Every varied value of a front configuration, none cut.
    EXPECT_NE(a.output.find("impactHardSum=3000"), std::string::npos) << a.output;
    EXPECT_EQ(a.output.find("..."), std::string::npos) << a.output;
    // Lines fit a terminal of 100 columns (but the options to copy, kept whole).
    for (const std::string& line : SplitLines(a.output)) {
        if (line.rfind("  as options:", 0) != 0) {
            EXPECT_LE(line.size(), 100u) << line;
        }
    }
    // The default objective's limit is the base's, and the summary says how to choose another.
    EXPECT_EQ(a.output.find("max:sensitivity@fa<=X sets another"), std::string::npos);
    const BenchRun plain = Tumblewatch(
        dir.path(), {"sweep", "--labels", "labels.manifest", "--grid", "fallWindow=6,10", "--out", "c.csv"});
    ASSERT_EQ(plain.status, 0) << plain.errors;
    EXPECT_NE(plain.output.find("is the base configuration's own false alarms per hour; --objective\n"
                                "  max:sensitivity@fa<=X sets another"),
              std::string::npos)
        << plain.output;
    // The pooled held-out figures with their bootstrap, the same for any threads.
    const json ja = json::parse(ReadFile(dir / "a.json"));
    const json& pooled = ja["nested"]["pooled"];
    ASSERT_FALSE(pooled["bootstrap"].is_null());
    EXPECT_EQ(pooled["bootstrap"]["subjects"], 6);
    EXPECT_EQ(pooled["bootstrap"]["seed"], 3);
    EXPECT_EQ(pooled["bootstrap"]["resamples"], 300);
    int tp = 0;
    for (const json& f : ja["nested"]["folds"]) {
        tp += f["config"].is_null() ? 0 : f["tp"].get<int>();
    }
    EXPECT_EQ(pooled["tp"], tp);
    EXPECT_EQ(ja["nested"].dump(), json::parse(ReadFile(dir / "b.json"))["nested"].dump());
    EXPECT_NE(a.output.find("over subjects ["), std::string::npos) << a.output;
}

}  // namespace
