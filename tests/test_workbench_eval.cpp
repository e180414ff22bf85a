// The evaluation: alarms exactly as the traces show them, the same for any
// number of threads, metrics and events, and the tumblewatch program's
// statuses, messages and reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "alarm_tally.h"
#include "breakdown.h"
#include "config.h"
#include "dataset_format.h"
#include "evaluation.h"
#include "recording_files.h"
#include "report.h"
#include "scenarios.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// The project's generated recordings under labelled names, in two folders,
// each as a dataset; two of them with their CSV twin as well.
struct LabelledSet {
    TempDir dir;
    LabelledSet()
    {
        const std::pair<const char*, const char*> names[] = {
            {"fall_forward", "a/fall_forward_s01_r1"},
            {"fall_backward", "a/fall_backward_s02_r1"},
            {"fall_lateral", "b/fall_lateral_s03_r1"},
            {"double_fall", "b/fall_double_s01_r2"},
            {"tumble", "b/fall_tumble_s02_r2"},
            {"standing", "a/adl_standing_s01_r1"},
            {"walking", "a/adl_walking_s02_r1"},
            {"jump", "b/adl_jump_s03_r1"},
            {"sit_down_hard", "b/adl_sit_down_hard_s01_r2"},
        };
        fs::create_directories(dir / "a");
        fs::create_directories(dir / "b");
        for (const auto& [scenario, name] : names) {
            const recgen::Recording rec = recgen::MakeRecording(*recgen::FindScenario(scenario));
            WriteFile(dir / (std::string(name) + ".bin"), DataSetImage(rec.samples));
            if (std::string(scenario) == "walking" || std::string(scenario) == "tumble") {
                WriteFile(dir / (std::string(name) + ".csv"), recgen::CsvText(rec));
            }
        }
    }
};

const LabelledSet& Generated()
{
    static const LabelledSet set;
    return set;
}

InputSet Find(const std::vector<std::string>& paths)
{
    InputSet inputs{};
    std::string error;
    EXPECT_TRUE(InputsFind(paths, &inputs, &error)) << error;
    return inputs;
}

Evaluation Evaluate(const InputSet& inputs, const std::vector<std::string>& settings, int threads,
                    const std::string& traces = "")
{
    EvalSettings s{};
    std::string error;
    EXPECT_TRUE(ConfigBuild(ConfigSource{"", settings}, &s.config, &error)) << error;
    s.mergeSeconds = kDefaultMergeSeconds;
    s.threads = threads;
    s.tracesDir = traces;
    Evaluation ev{};
    EvalRun(inputs, nullptr, s, &ev);
    return ev;
}

// The samples whose trace line ends in " -> (code)", with their codes.
std::vector<std::pair<uint32_t, int>> AlarmsInTrace(const std::string& trace)
{
    std::vector<std::pair<uint32_t, int>> alarms;
    uint32_t sample = 0;
    for (const std::string& line : SplitLines(trace)) {
        const size_t arrow = line.rfind(" -> (");
        if (arrow != std::string::npos) {
            alarms.emplace_back(sample, std::stoi(line.substr(arrow + 5)));
        }
        ++sample;
    }
    return alarms;
}

std::vector<std::pair<uint32_t, int>> AlarmsOf(const RecordingOutcome& o)
{
    std::vector<std::pair<uint32_t, int>> alarms;
    for (const Alarm& a : o.detect.alarms) {
        alarms.emplace_back(a.sample, a.code);
    }
    return alarms;
}

// Every recording's alarms equal the fall lines of its trace, and some
// recording raised an alarm at all.
void ExpectAlarmsAsTraced(const Evaluation& ev, const std::string& what)
{
    size_t alarms = 0;
    for (const RecordingOutcome& o : ev.outcomes) {
        ASSERT_TRUE(o.read) << o.input.path << ": " << o.failure;
        ASSERT_TRUE(o.failure.empty()) << o.failure;
        EXPECT_EQ(AlarmsOf(o), AlarmsInTrace(ReadFile(o.tracePath))) << what << ": " << o.input.path;
        EXPECT_EQ(SplitLines(ReadFile(o.tracePath)).size(), o.detect.samples) << o.input.path;
        alarms += o.detect.alarms.size();
    }
    EXPECT_GT(alarms, 0u) << what;
}

TEST(Evaluation, AlarmsAreExactlyTheTracedFallsOfTheGeneratedRecordings)
{
    const InputSet inputs = Find({Generated().dir.path()});
    for (const auto& settings : std::vector<std::vector<std::string>>{
             {}, {"fallWindow=10"}, {"impactSoftSum=900", "tumbleLength=10", "repeatGapMax=40"}}) {
        TempDir traces;
        ExpectAlarmsAsTraced(Evaluate(inputs, settings, 2, traces.path()), settings.empty() ? "defaults" : settings[0]);
    }
}

TEST(Evaluation, TracesAreThoseOfTheBench)
{
    const InputSet inputs = Find({Generated().dir.path()});
    TempDir traces;
    const Evaluation ev = Evaluate(inputs, {}, 2, traces.path());
    for (const RecordingOutcome& o : ev.outcomes) {
        TempDir bench;
        WriteFile(bench / "r.bin", ReadFile(o.input.path));
        ASSERT_EQ(RunBench(bench.path(), {"r.bin"}).status, 0);
        EXPECT_TRUE(ReadFile(bench / "r.txt") == ReadFile(o.tracePath)) << o.input.path;
        EXPECT_EQ(o.tracePath, traces / (o.input.relative.substr(0, o.input.relative.size() - 3) + "txt"));
    }
}

TEST(Evaluation, SharedRecordingsRaiseExactlyTheirTracedAlarms)
{
    const std::string real = std::string(SHARED_DATA_DIR) + "/real";
    if (!fs::is_directory(real)) {
        GTEST_SKIP() << "no shared recordings at " << real;
    }
    const InputSet inputs = Find({real});
    for (const auto& settings : std::vector<std::vector<std::string>>{{}, {"fallWindow=10"}}) {
        TempDir traces;
        ExpectAlarmsAsTraced(Evaluate(inputs, settings, 2, traces.path()), settings.empty() ? "defaults" : settings[0]);
    }
}

TEST(Evaluation, ResultsDoNotDependOnTheNumberOfThreads)
{
    const InputSet inputs = Find({Generated().dir.path()});
    const Evaluation one = Evaluate(inputs, {"fallWindow=12"}, 1);
    for (const int threads : {2, 5}) {
        const Evaluation many = Evaluate(inputs, {"fallWindow=12"}, threads);
        ASSERT_EQ(one.outcomes.size(), many.outcomes.size());
        for (size_t i = 0; i < one.outcomes.size(); ++i) {
            EXPECT_EQ(one.outcomes[i].input.path, many.outcomes[i].input.path);
            EXPECT_EQ(AlarmsOf(one.outcomes[i]), AlarmsOf(many.outcomes[i])) << threads;
            EXPECT_EQ(one.outcomes[i].impact, many.outcomes[i].impact);
            EXPECT_EQ(one.outcomes[i].events.size(), many.outcomes[i].events.size());
        }
        EXPECT_EQ(one.samples, many.samples);
    }
}

TEST(Evaluation, GeneratedSetIsFoundLabelledAndScored)
{
    const InputSet inputs = Find({Generated().dir.path()});
    EXPECT_EQ(inputs.recordings.size(), 9u);
    EXPECT_EQ(inputs.twinsPassedOver, 2);
    const Evaluation ev = Evaluate(inputs, {}, 2);
    const Metrics m = EvalMetrics(ev);
    EXPECT_EQ(m.falls, 5);
    EXPECT_EQ(m.adls, 4);
    EXPECT_EQ(m.tp, 5);
    EXPECT_EQ(m.fp, 0);
    EXPECT_DOUBLE_EQ(m.sensitivity, 1.0);
    EXPECT_DOUBLE_EQ(m.falseAlarmsPerHour, 0.0);
    EXPECT_EQ(m.latencyCount, 5);
    for (const RecordingOutcome& o : ev.outcomes) {
        EXPECT_EQ(o.input.folder, o.input.relative.substr(0, 1)) << o.input.relative;
        EXPECT_EQ(o.impact, o.detect.peakSample);
    }
}

TEST(Metrics, EventsMergeAlarmsCloserThanTheGap)
{
    const std::vector<Alarm> alarms{{100, 1}, {101, 1}, {599, 7}, {1100, 1}, {1100 + 500, 5}};
    // 10 s = 500 samples: 599 joins 101, 1100 is 501 after 599, 1600 is 500 after 1100.
    const std::vector<AlarmEvent> events = MetricsEvents(alarms, 10.0);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].first, 100u);
    EXPECT_EQ(events[0].last, 599u);
    EXPECT_EQ(events[0].alarms, 3);
    EXPECT_EQ(events[2].first, 1600u);
    EXPECT_EQ(MetricsEventCount(alarms, 10.0), 3);
    EXPECT_EQ(MetricsEventCount(alarms, 0.0), 5);
    EXPECT_EQ(MetricsEventCount({}, 10.0), 0);
}

TEST(Metrics, TallyListsTheFirstAlarmsAndCountsThemAll)
{
    // 25,000 alarms in pairs, 20 samples apart within a pair and 1,000
    // samples between pairs: every pair one event, of codes 1 and 7.
    std::vector<Alarm> alarms;
    for (uint32_t i = 0; i < 25000; ++i) {
        alarms.push_back(Alarm{(i / 2) * 1000 + (i % 2) * 20, i % 2 == 1 ? 7 : 1});
    }
    AlarmTally tally;
    AlarmTallyStart(&tally, kDefaultMergeSeconds);
    for (const Alarm& a : alarms) {
        AlarmTallyAdd(&tally, a);
    }
    AlarmTallyFinish(&tally);
    EXPECT_EQ(tally.alarmCount, 25000);
    ASSERT_EQ(tally.alarms.size(), kListedAlarms);
    EXPECT_EQ(tally.alarms.back().sample, alarms[kListedAlarms - 1].sample);
    const std::vector<AlarmEvent> all = MetricsEvents(alarms, kDefaultMergeSeconds);
    EXPECT_EQ(tally.eventCount, 12500);
    EXPECT_EQ(tally.eventCount, MetricsEventCount(alarms, kDefaultMergeSeconds));
    ASSERT_EQ(tally.events.size(), kListedEvents);
    EXPECT_EQ(tally.events.back().first, all[kListedEvents - 1].first);
    EXPECT_EQ(tally.events.back().last, all[kListedEvents - 1].last);
    EXPECT_EQ(tally.events.back().alarms, 2);
    ASSERT_EQ(tally.codes.size(), 2u);
    EXPECT_EQ(tally.codes[0].code, 1);
    EXPECT_EQ(tally.codes[0].alarms, 12500);
    EXPECT_EQ(tally.codes[0].events, 12500);
    EXPECT_EQ(tally.codes[1].code, 7);
    EXPECT_EQ(tally.codes[1].events, 12500);
}

TEST(Evaluation, JsonIsOneDocumentWrittenPieceByPiece)
{
    const InputSet inputs = Find({Generated().dir.path()});
    const Evaluation ev = Evaluate(inputs, {"fallWindow=12"}, 2);
    const Metrics metrics = EvalMetrics(ev);
    const Breakdowns breakdowns = BreakdownsOf(ev);
    TumblewatchConfig config;
    TumblewatchDefault(&config);
    const EvalReport report{&ev, &metrics, &breakdowns, &config, {"x"}, "", kDefaultMergeSeconds, 2, {}};
    const std::string text = ReportJson(report);
    // Exactly what the whole document dumped at once would be.
    EXPECT_EQ(text, nlohmann::ordered_json::parse(text).dump(2) + "\n");
    std::size_t pieces = 0;
    ReportJsonWrite(report, [&pieces](std::string_view) { ++pieces; });
    EXPECT_GT(pieces, ev.outcomes.size());
}

TEST(Evaluation, ProgressCountsWithinARecording)
{
    const InputSet inputs = Find({Generated().dir / "a/fall_forward_s01_r1.bin"});
    TumblewatchConfig config;
    TumblewatchDefault(&config);
    Progress progress;
    ProgressStart(&progress, "recordings", 1, false);
    std::vector<uint64_t> seen;
    struct Watch {
        Progress* progress;
        std::vector<uint64_t>* seen;
    } watch{&progress, &seen};
    EvalPassResult pass;
    ASSERT_TRUE(EvalPass(
        inputs.recordings[0], config, kDefaultMergeSeconds, "",
        [](void* user, const TumblewatchContext*, int) {
            auto* w = static_cast<Watch*>(user);
            if (w->seen->empty() || w->seen->back() != w->progress->samples) {
                w->seen->push_back(w->progress->samples);
            }
        },
        &watch, &progress, &pass));
    EXPECT_EQ(progress.samples, pass.detect.samples);
    EXPECT_EQ(progress.bytes, fs::file_size(inputs.recordings[0].path));
    // The count moved while the recording was read, block by block.
    EXPECT_EQ(seen.front(), 0u);
    EXPECT_GE(seen.size(), pass.detect.samples / static_cast<uint32_t>(kEvalBlock));
}

TEST(Metrics, RatesLatencyAndUndefinedValues)
{
    // Two falls (one found 1 s after its impact, one missed), three ADLs
    // of one hour each with 0, 2 and 1 events; one unlabelled recording.
    const uint32_t hour = 180000;
    const std::vector<RecordingScore> scores{
        {Label::Fall, 1000, 1, 350, 300}, {Label::Fall, 1000, 0, -1, 200}, {Label::Adl, hour, 0, -1, 0},
        {Label::Adl, hour, 2, 10, 0},     {Label::Adl, hour, 1, 20, 0},    {Label::None, hour, 9, 5, 0},
    };
    const Metrics m = MetricsCompute(scores);
    EXPECT_EQ(m.recordings, 5);
    EXPECT_EQ(m.tp, 1);
    EXPECT_EQ(m.fn, 1);
    EXPECT_EQ(m.fp, 2);
    EXPECT_EQ(m.tn, 1);
    EXPECT_DOUBLE_EQ(m.sensitivity, 0.5);
    EXPECT_DOUBLE_EQ(m.specificity, 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(m.precision, 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(m.f1, 2.0 / 5.0);
    EXPECT_DOUBLE_EQ(m.accuracy, 2.0 / 5.0);
    EXPECT_DOUBLE_EQ(m.adlHours, 3.0);
    EXPECT_DOUBLE_EQ(m.falseAlarmsPerHour, 1.0);
    EXPECT_DOUBLE_EQ(m.latencyMedian, 1.0);

    const Metrics none = MetricsCompute({{Label::Adl, 100, 0, -1, 0}});
    EXPECT_TRUE(std::isnan(none.sensitivity));
    EXPECT_TRUE(std::isnan(none.precision));
    EXPECT_TRUE(std::isnan(none.latencyMedian));
    EXPECT_DOUBLE_EQ(none.specificity, 1.0);
}

BenchRun Tumblewatch(const std::string& cwd, const std::vector<std::string>& args)
{
    return RunProgram(TUMBLEWATCH_PATH, cwd, args, 600);
}

// Names of every file below folder.
std::vector<std::string> FilesBelow(const std::string& folder)
{
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        files.push_back(fs::relative(e.path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(TumblewatchProgram, EvaluatesAndWritesItsReports)
{
    const std::string data = Generated().dir.path();
    const std::vector<std::string> before = FilesBelow(data);
    TempDir out;
    const BenchRun run = Tumblewatch(out.path(), {"eval", data, "-j", "2", "--json", "e.json", "--csv", "e.csv",
                                                  "--require", "sensitivity>=1", "--require", "fp==0"});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.output.find("tumblewatch eval: 9 recordings (5 falls, 4 ADLs, 0 unlabelled, 0 unreadable)"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("2 CSV twins passed over"), std::string::npos);
    for (const std::string& line : SplitLines(run.output)) {
        EXPECT_LE(line.size(), 100u) << line;
    }
    EXPECT_EQ(FilesBelow(data), before);  // nothing written beside the inputs

    const nlohmann::json j = nlohmann::json::parse(ReadFile(out / "e.json"));
    EXPECT_EQ(j["summary"]["tp"], 5);
    EXPECT_EQ(j["config"].size(), 35u);
    EXPECT_EQ(j["config"]["fallWindow"], 20);
    EXPECT_EQ(j["recordings"].size(), 9u);
    bool sawAlarm = false;
    for (const auto& r : j["recordings"]) {
        for (const auto& a : r["alarms"]) {
            EXPECT_TRUE(a.contains("sample") && a.contains("code"));
            sawAlarm = true;
        }
    }
    EXPECT_TRUE(sawAlarm);
    EXPECT_EQ(j["requirements"].size(), 2u);
    EXPECT_EQ(SplitLines(ReadFile(out / "e.csv")).size(), 10u);

    // A requirement not met: status 1, named on standard error.
    const BenchRun unmet = Tumblewatch(out.path(), {"eval", data, "-q", "--require", "fp>=1"});
    EXPECT_EQ(unmet.status, 1);
    EXPECT_EQ(unmet.output, "");
    EXPECT_EQ(unmet.errors, "tumblewatch: requirement not met: fp>=1 (fp is 0)\n");
}

TEST(TumblewatchProgram, UnreadableRecordingsAreListedAndTheOthersEvaluated)
{
    TempDir dir;
    fs::copy(Generated().dir / "a", dir / "a");
    WriteFile(dir / "a/fall_broken_s09_r1.bin", "QX DataSet V1.0.1");
    const BenchRun run = Tumblewatch(dir.path(), {"eval", "a", "--quiet", "--json", "out.json"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.errors,
              "tumblewatch: a/fall_broken_s09_r1.bin: not a dataset: the file ends inside its 24-byte "
              "header (17 bytes)\n");
    const nlohmann::json j = nlohmann::json::parse(ReadFile(dir / "out.json"));
    EXPECT_EQ(j["summary"]["unreadable"], 1);
    EXPECT_EQ(j["summary"]["tp"], 2);
    EXPECT_EQ(j["failures"][0]["path"], "a/fall_broken_s09_r1.bin");
}

TEST(TumblewatchProgram, BadInputIsRefusedBeforeAnyWork)
{
    TempDir dir;
    fs::copy(Generated().dir / "a", dir / "a");
    WriteFile(dir / "bad.toml", "fallWindow = 10\nfallWindow 3\n");
    WriteFile(dir / "m.csv", "path,label\na/adl_standing_s01_r1.bin,adl\nx.bin,fall,\n");
    WriteFile(dir / "blocker", "");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"eval", "a", "--bogus"}, "The following argument was not expected: --bogus"},
        {{"eval", "a", "--set", "fallWindw=3"}, "unknown parameter 'fallWindw'"},
        {{"eval", "a", "--set", "fallWindow=0"}, "fallWindow = 0: the detector refuses it"},
        {{"eval", "a", "--config", "bad.toml"}, "bad.toml, line 2: "},
        {{"eval", "a", "--labels", "m.csv"}, "line 3: 3 fields where the header names 2"},
        {{"eval", "nothing*.bin"}, "nothing*.bin: matches no recording"},
        {{"eval", "missing"}, "missing: no such file or folder"},
        {{"eval", "a", "--require", "speed>=1"}, "unknown metric 'speed'"},
        {{"eval", "a", "--traces", "blocker/t"}, "--traces blocker/t: the folder cannot be created"},
        {{"eval", "a", "--traces", "a"}, "--traces a: lies in a, which this command searches for recordings"},
        {{"eval", "a", "--json", "nofolder/x.json"}, "--json nofolder/x.json: cannot be written"},
        {{"eval", "a", "--csv", "a/../a/adl_standing_s01_r1.bin"}, "which this command reads"},
        {{"eval"}, "give a PATH to evaluate"},
        {{"frobnicate"}, "unknown command 'frobnicate' (the commands: params, eval, sweep"},
    };
    for (const auto& [args, message] : cases) {
        const BenchRun run = Tumblewatch(dir.path(), args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
        EXPECT_EQ(run.output.find("Summary"), std::string::npos) << args.back();
    }
    EXPECT_EQ(FilesBelow(dir / "a"), FilesBelow(Generated().dir / "a"));
}

TEST(TumblewatchProgram, NamesThatAreNotUtf8AreReportedNotFatal)
{
    TempDir dir;
    const std::string odd = dir / "d\xff";
    fs::create_directories(odd);
    fs::copy(Generated().dir / "a/fall_forward_s01_r1.bin", odd + "/fall_forward_s01_r1.bin");
    const BenchRun run = Tumblewatch(dir.path(), {"eval", odd, "-q", "--json", "e.json", "--html", "e.html"});
    EXPECT_EQ(run.status, 0) << run.errors;
    const nlohmann::json j = nlohmann::json::parse(ReadFile(dir / "e.json"));
    EXPECT_EQ(j["summary"]["tp"], 1);
    EXPECT_NE(j["recordings"][0]["path"].get<std::string>().find("\xef\xbf\xbd"), std::string::npos);
    EXPECT_TRUE(PathExists(dir / "e.html"));
}

TEST(TumblewatchProgram, ParamsShowsDefaultAndEffectiveValues)
{
    TempDir dir;
    const BenchRun run = Tumblewatch(dir.path(), {"params", "--set", "fallWindow=12"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find(" 0  fallWindow              20     12*  samples"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("34  param34                 25     25   -"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Read by TrackJump."), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Read by TrackUpright, ScoreFall,"), std::string::npos) << run.output;
    for (const std::string& line : SplitLines(run.output)) {
        EXPECT_LE(line.size(), 100u) << line;
    }
    const BenchRun version = Tumblewatch(dir.path(), {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "J6-Tumblewatch-2.1.1\n");
}

}  // namespace
