// Several datasets at once and the fall's own timing: manifests that hold
// any name the import writes, several manifests with a by-dataset table,
// an import's manifest among its recordings, folds by dataset, and the
// fall window with its early and late alarms.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "breakdown.h"
#include "config.h"
#include "csv_format.h"
#include "dataset_format.h"
#include "evaluation.h"
#include "labels.h"
#include "load_inputs.h"
#include "report.h"
#include "scenarios.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

BenchRun Tumblewatch(const std::string& cwd, const std::vector<std::string>& args)
{
    return RunProgram(TUMBLEWATCH_PATH, cwd, args, 300);
}

std::vector<ImuSample> ScenarioSamples(const char* name)
{
    return recgen::MakeRecording(*recgen::FindScenario(name)).samples;
}

// An import's manifest line for a recording (the import's own quoting).
std::string ManifestRow(const std::string& path, const std::string& label, const std::string& activity,
                        const std::string& subject, const std::string& dataset, const std::string& description)
{
    return CsvField(path) + "," + label + "," + CsvField(activity) + "," + CsvField(subject) + ",1," + dataset +
           ",raw.txt,1," + CsvField(description) + "\n";
}

const char* const kImportHeader = "path,label,activity,subject,trial,dataset,source,samples,description\n";

TEST(Labels, HostileNamesRoundTripThroughTheImportsQuoting)
{
    // Every byte a folder or file name may hold, as the import quotes it:
    // line ends, carriage returns, quotes, commas, blanks at either end,
    // bytes that are not UTF-8.
    const std::vector<std::string> names{"SA\n01",       "CR\rend\r", "quote\"d", "a,b,c",   " lead",    "trail\t",
                                         "\xff\xfe raw", "\"\n\"",    "#hash",    "  \r\n ", "plain_one"};
    TempDir dir;
    std::string manifest = kImportHeader;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string folder = names[i];
        fs::create_directories(dir / folder);
        const std::string file = folder + "/" + (i % 2 == 0 ? "fall_" : "adl_") + std::to_string(i) + ".bin";
        WriteDataSet(dir / file, {kUpright, kUpright});
        files.push_back(file);
        manifest += ManifestRow(file, i % 2 == 0 ? "fall" : "adl", names[i], names[i], "sisfall", "desc " + names[i]);
    }
    WriteFile(dir / "manifest.csv", manifest);

    Manifest m;
    std::string error;
    ASSERT_TRUE(ManifestRead(dir / "manifest.csv", &m, &error)) << error;
    ASSERT_EQ(m.files.size(), names.size());
    int line = 2;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const RecordingLabels* l = ManifestFind(m, dir / files[i]);
        ASSERT_NE(l, nullptr) << i;
        EXPECT_EQ(l->activity, names[i]) << i;
        EXPECT_EQ(l->subject, names[i]) << i;
        EXPECT_EQ(l->description, "desc " + names[i]) << i;
        EXPECT_EQ(l->dataset, "sisfall");
        // A row's line is the one it starts on.
        EXPECT_EQ(l->manifestLine, line) << i;
        for (const char c :
             CsvField(files[i]) + CsvField(names[i]) + CsvField(names[i]) + CsvField("desc " + names[i])) {
            line += c == '\n' ? 1 : 0;
        }
        ++line;
    }

    // The command line and a sweep read the same manifest.
    const BenchRun eval = Tumblewatch(dir.path(), {"eval", "--labels", "manifest.csv", "--json", "-", "-j", "2"});
    ASSERT_EQ(eval.status, 0) << eval.errors;
    const auto j = nlohmann::json::parse(eval.output);
    EXPECT_EQ(j["summary"]["recordings"], names.size());
    EXPECT_EQ(j["summary"]["falls"], (names.size() + 1) / 2);
    for (const auto& r : j["recordings"]) {
        EXPECT_EQ(r["labels_from"], "manifest") << r["path"];
    }
    const BenchRun sweep = Tumblewatch(dir.path(), {"sweep", "--labels", "manifest.csv", "--grid", "fallWindow=10,12",
                                                    "--out", "rows.csv", "-q", "-j", "2"});
    EXPECT_EQ(sweep.status, 0) << sweep.errors;

    // An unclosed quote is still named by the line it starts on.
    WriteFile(dir / "open.csv", std::string(kImportHeader) + "\"x\n\ny,fall\n");
    EXPECT_FALSE(ManifestRead(dir / "open.csv", &m, &error));
    EXPECT_NE(error.find("line 2: a quoted field is not closed"), std::string::npos) << error;
}

// Three datasets, each imported into its own folder with its manifest.
struct ThreeDatasets {
    TempDir dir;
    ThreeDatasets()
    {
        const struct {
            const char* dataset;
            const char* fall;
            const char* adl;
            int subjects;
        } sets[] = {{"sisfall", "fall_forward", "walking", 2},
                    {"umafall", "fall_backward", "standing", 2},
                    {"mobifall", "fall_lateral", "sit_down_hard", 2}};
        for (const auto& set : sets) {
            const std::string folder = dir / set.dataset;
            fs::create_directories(folder);
            std::string manifest = kImportHeader;
            for (int s = 1; s <= set.subjects; ++s) {
                const std::string subject = std::string(set.dataset).substr(0, 2) + std::to_string(s);
                const std::string fall = "fall_x_" + subject + "_r1.bin";
                const std::string adl = "adl_y_" + subject + "_r1.bin";
                WriteFile(folder + "/" + fall, DataSetImage(ScenarioSamples(set.fall)));
                WriteFile(folder + "/" + adl, DataSetImage(ScenarioSamples(set.adl)));
                manifest += ManifestRow(fall, "fall", "F01", subject, set.dataset, "a fall");
                manifest += ManifestRow(adl, "adl", "D01", subject, set.dataset, "an activity");
            }
            WriteFile(folder + "/manifest.csv", manifest);
        }
    }
};

TEST(Datasets, ThreeManifestsAtOnceHaveAByDatasetTable)
{
    const ThreeDatasets sets;
    const std::string& dir = sets.dir.path();
    const BenchRun run =
        Tumblewatch(dir, {"eval", "--labels", "sisfall/manifest.csv", "--labels", "umafall/manifest.csv", "--labels",
                          "mobifall/manifest.csv", "--json", "e.json", "--set", "fallWindow=10", "-j", "2"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.output.find("tumblewatch eval: 12 recordings (6 falls, 6 ADLs"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\nBy dataset\n"), std::string::npos) << run.output;
    const auto j = nlohmann::json::parse(ReadFile(dir + "/e.json"));
    ASSERT_EQ(j["manifests"].size(), 3u);
    EXPECT_EQ(j["manifest"], "sisfall/manifest.csv");
    ASSERT_EQ(j["by_dataset"].size(), 3u);
    int tp = 0;
    for (const auto& row : j["by_dataset"]) {
        EXPECT_EQ(row["falls"], 2) << row["dataset"];
        EXPECT_EQ(row["adls"], 2) << row["dataset"];
        tp += row["tp"].get<int>();
    }
    EXPECT_EQ(tp, j["summary"]["tp"]);
    EXPECT_EQ(j["by_dataset"][0]["dataset"], "mobifall");
    // The recordings of several manifests keep their folders apart.
    int inSisfall = 0;
    for (const auto& r : j["recordings"]) {
        const std::string relative = r["relative_path"];
        if (relative.rfind("sisfall/", 0) == 0) {
            ++inSisfall;
            EXPECT_EQ(r["folder"], "sisfall");
            EXPECT_EQ(r["dataset"], "sisfall");
        }
    }
    EXPECT_EQ(inSisfall, 4);

    // A folder's own manifest is passed over, not a recording without samples.
    const BenchRun folder = Tumblewatch(dir, {"eval", "sisfall", "--json", "-", "-j", "2"});
    ASSERT_EQ(folder.status, 0) << folder.errors;
    const auto f = nlohmann::json::parse(folder.output);
    EXPECT_EQ(f["summary"]["recordings_found"], 4);
    EXPECT_EQ(f["summary"]["empty"], 0);
    ASSERT_EQ(f["skipped"].size(), 1u);
    EXPECT_EQ(f["skipped"][0]["path"], "sisfall/manifest.csv");
    EXPECT_EQ(f["skipped"][0]["failed"], false);
    // Without a dataset column there is no by-dataset table.
    EXPECT_FALSE(f.contains("by_dataset"));

    // A recording that two manifests list is refused, naming both.
    const BenchRun twice =
        Tumblewatch(dir, {"eval", "--labels", "sisfall/manifest.csv", "--labels", "sisfall/./manifest.csv", "-q"});
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.errors.find("is listed again (manifest sisfall/manifest.csv, line "), std::string::npos)
        << twice.errors;

    // Folds by dataset hold out one dataset at a time.
    const BenchRun sweep = Tumblewatch(dir, {"sweep",
                                             "--labels",
                                             "sisfall/manifest.csv",
                                             "--labels",
                                             "umafall/manifest.csv",
                                             "--labels",
                                             "mobifall/manifest.csv",
                                             "--grid",
                                             "fallWindow=10,20",
                                             "--folds",
                                             "3",
                                             "--folds-by",
                                             "dataset",
                                             "--out",
                                             "rows.csv",
                                             "--summary",
                                             "s.json",
                                             "-q",
                                             "-j",
                                             "2"});
    ASSERT_EQ(sweep.status, 0) << sweep.errors;
    const auto s = nlohmann::json::parse(ReadFile(dir + "/s.json"));
    std::set<std::string> heldOut;
    for (const auto& fold : s["nested"]["folds"]) {
        ASSERT_EQ(fold["subjects"].size(), 1u);
        heldOut.insert(fold["subjects"][0].get<std::string>());
    }
    EXPECT_EQ(heldOut, (std::set<std::string>{"mobifall", "sisfall", "umafall"}));
    const BenchRun tooMany =
        Tumblewatch(dir, {"sweep", "--labels", "sisfall/manifest.csv", "--grid", "fallWindow=10,20", "--folds", "2",
                          "--folds-by", "dataset", "--out", "rows2.csv", "-q"});
    EXPECT_EQ(tooMany.status, 2);
    EXPECT_NE(tooMany.errors.find("--folds 2: only 1 values of dataset"), std::string::npos) << tooMany.errors;
}

TEST(Datasets, ManifestHeaderIsRecognised)
{
    EXPECT_TRUE(ManifestHeaderLine(kImportHeader));
    EXPECT_TRUE(ManifestHeaderLine("\xEF\xBB\xBF# made by hand\n\nlabel , path,fall_start,fall_end\n"));
    EXPECT_FALSE(ManifestHeaderLine("path,label,extra\n"));
    EXPECT_FALSE(ManifestHeaderLine("path,activity\n"));
    EXPECT_FALSE(ManifestHeaderLine(CsvOf({kUpright})));
    EXPECT_FALSE(ManifestHeaderLine("\"path,label\n"));
    EXPECT_FALSE(ManifestHeaderLine(""));
}

// Alarms of a recording made of three falls apart from one another, with
// quiet between them: three events, far apart.
struct ThreeFalls {
    TempDir dir;
    std::vector<uint32_t> events;  // each event's first alarm
    uint32_t samples = 0;
    ThreeFalls()
    {
        std::vector<ImuSample> all;
        for (int k = 0; k < 3; ++k) {
            const std::vector<ImuSample> fall = ScenarioSamples("fall_forward");
            all.insert(all.end(), fall.begin(), fall.end());
            all.insert(all.end(), 1500, kUpright);
        }
        samples = static_cast<uint32_t>(all.size());
        WriteDataSet(dir / "fall_three_s01_r1.bin", all);
        InputSet inputs{};
        std::string error;
        EXPECT_TRUE(InputsFind({dir / "fall_three_s01_r1.bin"}, &inputs, &error)) << error;
        EvalSettings s{};
        EXPECT_TRUE(ConfigBuild(ConfigSource{"", {"fallWindow=10"}}, &s.config, &error)) << error;
        s.mergeSeconds = kDefaultMergeSeconds;
        s.threads = 1;
        Evaluation ev{};
        EvalRun(inputs, nullptr, s, &ev);
        for (const AlarmEvent& e : ev.outcomes.at(0).events) {
            events.push_back(e.first);
        }
    }
};

TEST(FallWindow, EarlyInWindowAndLateAlarmsAreCountedApart)
{
    const ThreeFalls rec;
    ASSERT_EQ(rec.events.size(), 3u) << "the recording should hold three separate alarm events";
    const std::string& dir = rec.dir.path();
    const int64_t start = rec.events[1] - 10;  // the fall starts 0.2 s before the middle event
    const int64_t end = rec.events[1] + 5;
    WriteFile(dir + "/m.csv",
              "path,label,subject,dataset,take,fall_start,fall_end,alert_start,alert_end\n"
              "fall_three_s01_r1.bin,fall,s01,gen,2," +
                  std::to_string(start) + "," + std::to_string(end) + ",,\n");
    const BenchRun run = Tumblewatch(dir, {"eval", "--labels", "m.csv", "--set", "fallWindow=10", "--before", "1",
                                           "--after", "1", "--json", "e.json", "--csv", "e.csv"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const auto j = nlohmann::json::parse(ReadFile(dir + "/e.json"));
    const auto& s = j["summary"];
    EXPECT_EQ(s["tp"], 1);
    EXPECT_EQ(s["timed_falls"], 1);
    EXPECT_EQ(s["early_events"], 1);
    EXPECT_EQ(s["late_events"], 1);
    EXPECT_DOUBLE_EQ(s["latency_median"].get<double>(), 0.2);
    EXPECT_DOUBLE_EQ(s["latency_end_median"].get<double>(), -0.1);
    const double outsideHours = (rec.samples - (end + 50 - (start - 50) + 1)) / 50.0 / 3600.0;
    EXPECT_NEAR(s["outside_hours"].get<double>(), outsideHours, 1e-12);
    EXPECT_NEAR(s["outside_events_per_hour"].get<double>(), 2 / outsideHours, 1e-9);
    EXPECT_EQ(j["fall_window"]["before_s"], 1.0);
    const auto& w = j["recordings"][0]["fall_window"];
    EXPECT_EQ(w["first"], start - 50);
    EXPECT_EQ(w["last"], end + 50);
    EXPECT_EQ(w["first_alarm"], rec.events[1]);
    EXPECT_EQ(w["alert_start"], nullptr);
    EXPECT_EQ(j["recordings"][0]["take"], "2");
    EXPECT_EQ(j["recordings"][0]["detected"], true);
    EXPECT_NE(run.output.find("Alarms outside the fall window (1)"), std::string::npos) << run.output;
    const std::vector<std::string> csv = SplitLines(ReadFile(dir + "/e.csv"));
    ASSERT_EQ(csv.size(), 2u);
    EXPECT_NE(csv[0].find(",failure,fall_start,fall_end,window_first,"), std::string::npos) << csv[0];
    EXPECT_NE(csv[1].find("," + std::to_string(rec.events[1]) + ","), std::string::npos) << csv[1];

    // The window in the quiet between the first two events: the alarms
    // before and after it do not detect the fall.
    const int64_t quiet = rec.events[0] + 1000;
    WriteFile(dir + "/q.csv", "path,label,fall_start,fall_end\nfall_three_s01_r1.bin,fall," + std::to_string(quiet) +
                                  "," + std::to_string(quiet + 20) + "\n");
    const BenchRun missed = Tumblewatch(
        dir, {"eval", "--labels", "q.csv", "--set", "fallWindow=10", "--before", "1", "--after", "1", "--json", "-"});
    ASSERT_EQ(missed.status, 0) << missed.errors;
    const auto q = nlohmann::json::parse(missed.output);
    EXPECT_EQ(q["summary"]["fn"], 1);
    EXPECT_EQ(q["summary"]["early_events"], 1);
    EXPECT_EQ(q["summary"]["late_events"], 2);
    EXPECT_EQ(q["recordings"][0]["detected"], false);

    // A sweep counts the same way.
    const BenchRun sweep = Tumblewatch(dir, {"sweep", "--labels", "q.csv", "--grid", "fallWindow=10,11", "--before",
                                             "1", "--after", "1", "--out", "rows.csv", "-q"});
    ASSERT_EQ(sweep.status, 0) << sweep.errors;
    const std::vector<std::string> rows = SplitLines(ReadFile(dir + "/rows.csv"));
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[1].substr(0, 20), "config,fallWindow,tp");
    EXPECT_EQ(rows[2].substr(0, 12), "0,10,0,1,0,0") << rows[2];

    // A timing past the recording's end is named and left out.
    WriteFile(dir + "/past.csv",
              "path,label,fall_start,fall_end\nfall_three_s01_r1.bin,fall,10," + std::to_string(rec.samples) + "\n");
    const BenchRun past = Tumblewatch(dir, {"eval", "--labels", "past.csv", "-q"});
    EXPECT_EQ(past.status, 3);
    EXPECT_NE(past.errors.find("past.csv, line 2: the fall's timing"), std::string::npos) << past.errors;
}

TEST(FallWindow, WithoutTimingNothingChanges)
{
    // Empty timing columns, or none: the same reports byte for byte.
    const ThreeFalls rec;
    const std::string& dir = rec.dir.path();
    fs::create_directories(dir + "/with");
    fs::create_directories(dir + "/without");
    WriteFile(dir + "/with/m.csv",
              "path,label,fall_start,fall_end,alert_start,alert_end,take\n"
              "../fall_three_s01_r1.bin,fall,,,,,\n");
    WriteFile(dir + "/without/m.csv", "path,label\n../fall_three_s01_r1.bin,fall\n");
    std::string outputs[2];
    for (int k = 0; k < 2; ++k) {
        const std::string folder = dir + (k == 0 ? "/with" : "/without");
        const BenchRun run = Tumblewatch(folder, {"eval", "--labels", "m.csv", "--set", "fallWindow=10", "--csv", "-"});
        ASSERT_EQ(run.status, 0) << run.errors;
        outputs[k] = run.output;
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(outputs[0].find("fall_start"), std::string::npos);

    // Bad timing is refused with its line.
    const std::pair<const char*, const char*> bad[] = {
        {"path,label,fall_start\nx.bin,fall,1\n", "line 1: the columns fall_start and fall_end go together"},
        {"path,label,fall_start,fall_end\nfall_three_s01_r1.bin,fall,5,\n",
         "line 2: fall_start and fall_end are given together or not at all"},
        {"path,label,fall_start,fall_end\nfall_three_s01_r1.bin,fall,9,5\n",
         "line 2: fall_start 9 lies after fall_end 5"},
        {"path,label,alert_start,alert_end\nfall_three_s01_r1.bin,fall,-1,5\n", "line 2: alert_start '-1' is not a"},
        {"path,label,take\nfall_three_s01_r1.bin,fall,x\n", "line 2: take 'x' is not a whole number"},
    };
    for (const auto& [text, message] : bad) {
        WriteFile(dir + "/bad.csv", text);
        Manifest m;
        std::string error;
        EXPECT_FALSE(ManifestRead(dir + "/bad.csv", &m, &error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    const BenchRun before = Tumblewatch(dir, {"eval", dir, "--before", "-1"});
    EXPECT_EQ(before.status, 2);
}

}  // namespace
