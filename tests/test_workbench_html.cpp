// The HTML reports: the captured series against the detector's own state,
// the packing the page unpacks, the page's data, and the commands that
// write pages (eval --html, plot, sweep --html, report) with their
// statuses on bad input and no partial file left behind.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "chart.h"
#include "dataset_format.h"
#include "html_assets.h"
#include "html_encode.h"
#include "html_page.h"
#include "recording_files.h"
#include "scenarios.h"
#include "snapshot.h"
#include "test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::vector<ImuSample> Scenario(const char* name)
{
    return recgen::MakeRecording(*recgen::FindScenario(name)).samples;
}

std::string Unbase64(const std::string& text)
{
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = std::strchr(alphabet, c);
        if (c == '=' || at == nullptr) {
            continue;
        }
        bits = bits << 6 | static_cast<uint32_t>(at - alphabet);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

// What the page does with a block: base64, inflate, add the differences.
std::vector<std::vector<uint16_t>> Unpack(const std::string& base64, std::size_t samples)
{
    const std::string packed = Unbase64(base64);
    std::string bytes(samples * 2 * kChartSeriesCount, '\0');
    uLongf size = static_cast<uLongf>(bytes.size());
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(bytes.data()), &size, reinterpret_cast<const Bytef*>(packed.data()),
                         static_cast<uLong>(packed.size())),
              Z_OK);
    EXPECT_EQ(size, bytes.size());
    std::vector<std::vector<uint16_t>> series(kChartSeriesCount);
    for (int s = 0; s < kChartSeriesCount; ++s) {
        uint16_t v = 0;
        for (std::size_t i = 0; i < samples; ++i) {
            const std::size_t at = 2 * samples * static_cast<std::size_t>(s);
            v = static_cast<uint16_t>(v + (static_cast<unsigned char>(bytes[at + i]) |
                                           static_cast<unsigned char>(bytes[at + samples + i]) << 8));
            series[s].push_back(v);
        }
    }
    return series;
}

// The page's data and its series blocks, as the page's script finds them.
struct PageContent {
    json data;
    std::map<std::string, std::string> blocks;
};

PageContent ReadPage(const std::string& path)
{
    const std::string page = ReadFile(path);
    PageContent content;
    const std::string open = "<script type=\"application/json\" id=\"report-data\">";
    const std::size_t at = page.find(open);
    EXPECT_NE(at, std::string::npos);
    if (at == std::string::npos) {
        return content;
    }
    const std::size_t from = at + open.size();
    content.data = json::parse(page.substr(from, page.find("</script>", from) - from));
    const std::string block = "<script type=\"text/plain\" id=\"series-";
    for (std::size_t b = page.find(block); b != std::string::npos; b = page.find(block, b + 1)) {
        const std::size_t name = b + block.size();
        const std::size_t quote = page.find('"', name);
        const std::size_t end = page.find("</script>", quote);
        content.blocks[page.substr(name, quote - name)] = page.substr(quote + 2, end - quote - 2);
    }
    return content;
}

BenchRun Workbench(const std::string& cwd, const std::vector<std::string>& args)
{
    return RunProgram(TUMBLEWATCH_PATH, cwd, args, 600);
}

// The names in a folder (not below it).
std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(HtmlChart, SeriesAreTheSnapshotAfterEverySampleAndUnpackExactly)
{
    const std::vector<ImuSample> samples = Scenario("double_fall");
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    RecordingChart chart;
    DetectResult result;
    ASSERT_TRUE(ChartCapture(cfg, samples.data(), samples.size(), &chart, &result));
    DetectResult plain;
    ASSERT_TRUE(DetectRun(cfg, samples.data(), samples.size(), nullptr, &plain));
    ASSERT_EQ(result.alarms.size(), plain.alarms.size());
    ASSERT_FALSE(result.alarms.empty());
    for (std::size_t i = 0; i < plain.alarms.size(); ++i) {
        EXPECT_EQ(result.alarms[i].sample, plain.alarms[i].sample);
        EXPECT_EQ(result.alarms[i].code, plain.alarms[i].code);
    }
    ASSERT_EQ(chart.samples, samples.size());

    // Against a detector of its own, field by field.
    TumblewatchContext ctx;
    ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
    const std::vector<std::vector<uint16_t>> unpacked = Unpack(ChartEncode(chart), chart.samples);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        TumblewatchProcess(&ctx, &samples[i]);
        TumblewatchSnapshotRecord r;
        ASSERT_EQ(TumblewatchSnapshot(&ctx, &r), 0);
        const int expected[kChartSeriesCount] = {r.accRawMag,  r.accLpfMag,  r.accLpf2Mag,  r.accRawSum3,
                                                 r.gyroRawMag, r.gyroLpfMag, r.gyroLpfAvg5, r.pitch,
                                                 r.tilt,       r.fallLength, r.quietRun,    r.fallDeepCount,
                                                 r.fallScore,  r.jumpScore,  r.tumbleRun};
        for (int s = 0; s < kChartSeriesCount; ++s) {
            const uint16_t bits = chart.values[s][i];
            const int value = ChartSeries()[s].isSigned ? static_cast<int16_t>(bits) : bits;
            ASSERT_EQ(value, expected[s]) << ChartSeries()[s].key << " at sample " << i;
            ASSERT_EQ(unpacked[s][i], bits) << ChartSeries()[s].key << " at sample " << i;
        }
    }
    TumblewatchClose(&ctx);
    // The page's list of series says which are signed.
    const json series = json::parse(ChartSeriesJson());
    ASSERT_EQ(series.size(), static_cast<std::size_t>(kChartSeriesCount));
    EXPECT_EQ(series[7]["key"], "pitch");
    EXPECT_TRUE(series[7]["signed"].get<bool>());
}

// The points of level 4^k of every sample's values, as the page's pyramid
// makes them: minimum and maximum of each bucket.
std::vector<uint16_t> Level(const std::vector<uint16_t>& values, uint32_t bucket, bool isSigned)
{
    std::vector<uint16_t> points;
    for (std::size_t at = 0; at < values.size(); at += bucket) {
        const std::size_t end = std::min(values.size(), at + bucket);
        uint16_t low = values[at];
        uint16_t high = values[at];
        for (std::size_t i = at; i < end; ++i) {
            const bool less = isSigned ? static_cast<int16_t>(values[i]) < static_cast<int16_t>(low) : values[i] < low;
            const bool more =
                isSigned ? static_cast<int16_t>(values[i]) > static_cast<int16_t>(high) : values[i] > high;
            low = less ? values[i] : low;
            high = more ? values[i] : high;
        }
        points.push_back(low);
        points.push_back(high);
    }
    return points;
}

TEST(HtmlChart, LongRecordingsAreKeptAsThePagesCoarserLevels)
{
    const std::vector<ImuSample> samples = Scenario("long_mixed");
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    RecordingChart full;
    DetectResult result;
    ASSERT_TRUE(ChartCapture(cfg, samples.data(), samples.size(), &full, &result));
    ASSERT_EQ(full.bucket, 1u);
    for (const std::size_t limit : {std::size_t{8}, std::size_t{64}, std::size_t{4096}}) {
        for (const std::size_t count : {limit, limit + 1, 2 * limit + 3, std::size_t{20000}, samples.size()}) {
            RecordingChart chart;
            chart.limit = limit;
            ASSERT_TRUE(ChartCapture(cfg, samples.data(), count, &chart, &result));
            EXPECT_EQ(chart.samples, count);
            ASSERT_EQ(chart.bucket, ChartBucketFor(count, limit)) << limit << " " << count;
            for (int s = 0; s < kChartSeriesCount; ++s) {
                const std::vector<uint16_t> prefix(full.values[s].begin(), full.values[s].begin() + count);
                EXPECT_LE(chart.values[s].size(), limit);
                const std::vector<uint16_t> expected =
                    chart.bucket == 1 ? prefix : Level(prefix, chart.bucket, ChartSeries()[s].isSigned);
                ASSERT_EQ(chart.values[s], expected) << ChartSeries()[s].key << ", " << count << " samples";
            }
            // The packed values unpack exactly.
            EXPECT_EQ(Unpack(ChartEncode(chart), chart.values[0].size())[8], chart.values[8]);
        }
    }
    EXPECT_EQ(ChartBucketFor(kChartMaxValues, kChartMaxValues), 1u);
    EXPECT_EQ(ChartBucketFor(kChartMaxValues + 1, kChartMaxValues), 4u);
    EXPECT_EQ(ChartBucketFor(uint64_t{89503799}, kChartMaxValues), 256u);  // a 1 GiB dataset
}

TEST(HtmlChart, EncodingsForThePage)
{
    const std::pair<const char*, const char*> base64[] = {{"", ""},
                                                          {"f", "Zg=="},
                                                          {"fo", "Zm8="},
                                                          {"foo", "Zm9v"},
                                                          {"foob", "Zm9vYg=="},
                                                          {"fooba", "Zm9vYmE="},
                                                          {"\xff\xfe\x00", "//4A"}};
    for (const auto& [plain, text] : base64) {
        EXPECT_EQ(HtmlBase64(std::string(plain, std::strlen(plain) + (plain[0] == '\xff' ? 1 : 0))), text);
    }
    EXPECT_EQ(HtmlEscape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
    const std::string json = R"({"path":"x</script><!--y"})";
    const std::string safe = HtmlScriptSafe(json);
    EXPECT_EQ(safe.find('<'), std::string::npos);
    EXPECT_EQ(json::parse(safe)["path"], "x</script><!--y");
    // Many equal values pack small; the packing round-trips.
    RecordingChart flat;
    flat.samples = 100000;
    for (auto& v : flat.values) {
        v.assign(flat.samples, 100);
    }
    const std::string packed = ChartEncode(flat);
    EXPECT_LT(packed.size(), 20000u);
    EXPECT_EQ(Unpack(packed, flat.samples)[3][99999], 100);
}

TEST(HtmlPage, SelfContainedWithUplotAndItsLicence)
{
    const std::string page = HtmlPage("a <title>", R"({"kind":"plot","note":"</script>"})", {{"7", "QUJD"}});
    EXPECT_NE(page.find("<title>a &lt;title&gt;</title>"), std::string::npos);
    EXPECT_NE(page.find(std::string(HtmlAsset(HtmlAssetId::UplotJs))), std::string::npos);
    EXPECT_NE(page.find("Permission is hereby granted"), std::string::npos);
    EXPECT_NE(page.find(std::string("uPlot ") + HtmlUplotVersion()), std::string::npos);
    EXPECT_NE(page.find("<script type=\"text/plain\" id=\"series-7\">QUJD</script>"), std::string::npos);
    for (const char* marker : {"@DATA@", "@SERIES@", "@UPLOT_JS@", "@REPORT_JS@", "@TITLE@", "@UPLOT_LICENSE@"}) {
        EXPECT_EQ(page.find(marker), std::string::npos) << marker;
    }
    // Nothing to load: no src or href that leads out of the file.
    EXPECT_EQ(page.find(" src="), std::string::npos);
    EXPECT_EQ(page.find("<link"), std::string::npos);
    // Exactly one closing tag per script element: the data cannot end one.
    std::size_t opened = 0;
    std::size_t closed = 0;
    for (std::size_t at = page.find("<script"); at != std::string::npos; at = page.find("<script", at + 1)) {
        ++opened;
    }
    for (std::size_t at = page.find("</script>"); at != std::string::npos; at = page.find("</script>", at + 1)) {
        ++closed;
    }
    EXPECT_EQ(opened, closed);
    EXPECT_EQ(opened, 4u);
}

// The project's recordings under labelled names, as datasets.
struct Folder {
    TempDir dir;
    Folder()
    {
        fs::create_directories(dir / "rec");
        const std::pair<const char*, const char*> names[] = {{"fall_forward", "fall_forward_s1_r1"},
                                                             {"double_fall", "fall_double_s1_r2"},
                                                             {"walking", "adl_walking_s2_r1"},
                                                             {"sit_down_hard", "adl_sit_down_hard_s2_r1"}};
        for (const auto& [scenario, name] : names) {
            WriteFile(dir / ("rec/" + std::string(name) + ".bin"), DataSetImage(Scenario(scenario)));
        }
    }
};

TEST(HtmlCommands, PlotWritesTheChartOfOneRecording)
{
    Folder f;
    const std::string recording = "rec/fall_forward_s1_r1.bin";
    const BenchRun run = Workbench(f.dir.path(), {"plot", recording, "--set", "fallWindow=12", "--html", "p.html"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const PageContent page = ReadPage(f.dir / "p.html");
    EXPECT_EQ(page.data["kind"], "plot");
    EXPECT_EQ(page.data["config_changes"], json::array({"fallWindow=12"}));
    const json& r = page.data["report"]["recordings"][0];
    EXPECT_EQ(r["label"], "fall");
    EXPECT_EQ(page.data["report"]["config"]["fallWindow"], 12);

    // The same alarms as eval finds, and the series of the same run.
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    cfg.fallWindow = 12;
    const std::vector<ImuSample> samples = Scenario("fall_forward");
    RecordingChart chart;
    DetectResult result;
    ChartCapture(cfg, samples.data(), samples.size(), &chart, &result);
    ASSERT_EQ(r["alarms"].size(), result.alarms.size());
    ASSERT_FALSE(result.alarms.empty());
    EXPECT_EQ(r["alarms"][0]["sample"], result.alarms[0].sample);
    EXPECT_EQ(r["impact"]["sample"], result.peakSample);
    ASSERT_EQ(page.data["charts"][0]["samples"], samples.size());
    const std::vector<std::vector<uint16_t>> unpacked = Unpack(page.blocks.at("0"), samples.size());
    for (int s = 0; s < kChartSeriesCount; ++s) {
        EXPECT_EQ(unpacked[s], chart.values[s]) << ChartSeries()[s].key;
    }
}

TEST(HtmlCommands, PlotRefusesWhatItCannotReadOrWrite)
{
    Folder f;
    WriteFile(f.dir / "bad.bin", "not a dataset at all, long enough for a header");
    const std::string recording = "rec/adl_walking_s2_r1.bin";
    const std::string original = ReadFile(f.dir / recording);
    const std::vector<std::string> before = Names(f.dir.path());
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"plot", "bad.bin", "--html", "x.html"}, 3, "bad.bin: not a dataset"},
        {{"plot", "missing.bin", "--html", "x.html"}, 2, "missing.bin: no such file"},
        {{"plot", "rec", "--html", "x.html"}, 2, "holds 4 recordings; plot charts one recording"},
        {{"plot", recording, "--html", "nofolder/x.html"}, 2, "--html nofolder/x.html: cannot be written"},
        {{"plot", recording, "--html", "rec"}, 2, "--html rec: is a folder"},
        {{"plot", recording, "--html", recording}, 2, "which this command reads"},
        {{"plot", recording, "--set", "fallWindow=0", "--html", "x.html"}, 2, "fallWindow = 0"},
        {{"plot", recording}, 2, "--html is required"},
    };
    for (const auto& c : cases) {
        const BenchRun run = Workbench(f.dir.path(), c.args);
        EXPECT_EQ(run.status, c.status) << c.args[1];
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
    }
    EXPECT_EQ(Names(f.dir.path()), before);  // no page, no temporary file
    EXPECT_EQ(ReadFile(f.dir / recording), original);
    if (getuid() != 0) {
        fs::create_directories(f.dir / "locked");
        fs::permissions(f.dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        const BenchRun run = Workbench(f.dir.path(), {"plot", recording, "--html", "locked/x.html"});
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(fs::is_empty(f.dir / "locked"));
    }
}

TEST(HtmlCommands, EvalPageHoldsTheReportAndEveryChart)
{
    Folder f;
    WriteFile(f.dir / "rec/fall_broken_s3_r1.bin", "QX DataSet V1.0.0");  // ends inside its header
    const BenchRun run = Workbench(f.dir.path(), {"eval", "rec", "-q", "--json", "e.json", "--html", "e.html"});
    EXPECT_EQ(run.status, 3) << run.errors;  // one recording cannot be read; the reports are written all the same
    const PageContent page = ReadPage(f.dir / "e.html");
    EXPECT_EQ(page.data["kind"], "eval");
    // The page's report is the JSON report.
    EXPECT_EQ(page.data["report"]["summary"], json::parse(ReadFile(f.dir / "e.json"))["summary"]);
    const json& recordings = page.data["report"]["recordings"];
    ASSERT_EQ(recordings.size(), 5u);
    ASSERT_EQ(page.data["charts"].size(), 5u);
    std::size_t charts = 0;
    for (std::size_t i = 0; i < recordings.size(); ++i) {
        const json& chart = page.data["charts"][i];
        if (!recordings[i]["read"].get<bool>()) {
            EXPECT_TRUE(chart.is_null());
            continue;
        }
        ++charts;
        EXPECT_EQ(chart["samples"], recordings[i]["samples"]);
        EXPECT_EQ(page.blocks.count(chart["block"].get<std::string>()), 1u);
    }
    EXPECT_EQ(charts, 4u);
    EXPECT_EQ(page.blocks.size(), 4u);

    // An --html that names a recording is refused before anything runs.
    const std::string input = "rec/adl_walking_s2_r1.bin";
    const std::string original = ReadFile(f.dir / input);
    const BenchRun refused = Workbench(f.dir.path(), {"eval", "rec", "-q", "--html", input});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.errors.find("which this command reads"), std::string::npos) << refused.errors;
    EXPECT_EQ(ReadFile(f.dir / input), original);
}

TEST(HtmlCommands, SweepPageAndReportOfAFinishedSweep)
{
    Folder f;
    const BenchRun sweep = Workbench(f.dir.path(), {"sweep", "rec", "--set", "tiltLimit=30", "--grid",
                                                    "fallWindow=8:20:4", "--out", "s.csv", "-q", "--html", "s.html"});
    ASSERT_EQ(sweep.status, 0) << sweep.errors;
    const json s = ReadPage(f.dir / "s.html").data["sweep"];
    EXPECT_EQ(s["config"], json::array({0, 1, 2, 3}));
    EXPECT_EQ(s["values"]["fallWindow"], json::array({8, 12, 16, 20}));
    EXPECT_EQ(s["metrics"]["sensitivity"].size(), 4u);
    EXPECT_FALSE(s["fronts"]["all"].empty());
    EXPECT_FALSE(s["folds"].get<bool>());
    // The base (the defaults with tiltLimit=30) is the last row, evaluated.
    EXPECT_EQ(s["base"]["label"], "base configuration");
    EXPECT_EQ(s["base"]["changes"], json::array({"tiltLimit=30"}));
    EXPECT_EQ(s["base"]["rows"], json::array({3}));
    EXPECT_EQ(s["base"]["evaluated"]["sensitivity"], s["metrics"]["sensitivity"][3]);

    // The report of the file: the same rows, the base found from the
    // file's description; a line cut short by a stopped sweep is no row.
    const std::string text = ReadFile(f.dir / "s.csv");
    WriteFile(f.dir / "cut.csv", text + "4,24,1,1");
    const BenchRun report = Workbench(f.dir.path(), {"report", "cut.csv", "--html", "r.html"});
    ASSERT_EQ(report.status, 0) << report.errors;
    const json r = ReadPage(f.dir / "r.html").data["sweep"];
    EXPECT_EQ(r["metrics"], s["metrics"]);
    EXPECT_EQ(r["fronts"], s["fronts"]);
    EXPECT_EQ(r["base"]["rows"], json::array({3}));
    EXPECT_TRUE(r["base"]["evaluated"].is_null());

    // With folds: tuning and held-out figures and the tuning front.
    const BenchRun folds = Workbench(f.dir.path(), {"sweep", "rec", "--grid", "fallWindow=8,20", "--folds", "2",
                                                    "--out", "f.jsonl", "--format", "jsonl", "-q", "--html", "f.html"});
    ASSERT_EQ(folds.status, 0) << folds.errors;
    const json fj = ReadPage(f.dir / "f.html").data["sweep"];
    EXPECT_TRUE(fj["folds"].get<bool>());
    EXPECT_EQ(fj["metrics"]["held_sensitivity"].size(), 2u);
    EXPECT_TRUE(fj["fronts"].contains("tune"));
    EXPECT_EQ(fj["base"]["label"], "default configuration");
}

TEST(HtmlCommands, ReportRefusesWhatIsNoSweepOutput)
{
    Folder f;
    WriteFile(f.dir / "empty.csv", "");
    WriteFile(f.dir / "other.csv", "config,x\n1,2\n");
    WriteFile(f.dir / "s.csv", "# tumblewatch sweep 0123456789abcdef; base defaults\nconfig,fallWindow,tp\n");
    const std::vector<std::string> before = Names(f.dir.path());
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"report", "missing.csv", "--html", "x.html"}, "missing.csv: cannot be read"},
        {{"report", "empty.csv", "--html", "x.html"}, "not the output of tumblewatch sweep (no header line)"},
        {{"report", "other.csv", "--html", "x.html"}, "not the output of tumblewatch sweep"},
        {{"report", "rec/adl_walking_s2_r1.bin", "--html", "x.html"}, "not the output of tumblewatch sweep"},
        {{"report", "s.csv", "--html", "x.html"}, "line 2 is not its column line"},
        {{"report", "s.csv", "--html", "s.csv"}, "which this command reads"},
        {{"report", "s.csv", "--html", "nofolder/x.html"}, "cannot be written"},
    };
    for (const auto& [args, message] : cases) {
        const BenchRun run = Workbench(f.dir.path(), args);
        EXPECT_EQ(run.status, 2) << args[1];
        EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
    }
    EXPECT_EQ(Names(f.dir.path()), before);
    EXPECT_EQ(ReadFile(f.dir / "s.csv"), "# tumblewatch sweep 0123456789abcdef; base defaults\nconfig,fallWindow,tp\n");
}

}  // namespace
