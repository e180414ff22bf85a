// The workbench's bad-input table: what a hostile or careless user can
// hand tumblewatch, one test per kind of mistake. Every test works in its
// own temporary folder; devices are made there with mknod (skipped where
// that is not permitted) and permissions are tried as the user nobody when
// the suite runs as root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "dataset_format.h"
#include "recording_files.h"
#include "scenarios.h"
#include "test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Seconds any one run may take before it counts as hanging.
constexpr unsigned kRunLimit = 300;

BenchRun Tumblewatch(const std::string& cwd, const std::vector<std::string>& args)
{
    return RunProgram(TUMBLEWATCH_PATH, cwd, args, kRunLimit);
}

// A shell command line in cwd (for redirections the runner cannot make).
BenchRun Shell(const std::string& cwd, const std::string& command)
{
    return RunProgram("/bin/sh", cwd, {"-c", command}, kRunLimit);
}

std::vector<ImuSample> Scenario(const char* name)
{
    return recgen::MakeRecording(*recgen::FindScenario(name)).samples;
}

// A folder of four labelled datasets, one with its CSV twin.
struct Data {
    TempDir dir;
    Data()
    {
        fs::create_directories(dir / "d");
        WriteFile(dir / "d/fall_forward_s1_r1.bin", DataSetImage(Scenario("fall_forward")));
        WriteFile(dir / "d/fall_backward_s2_r1.bin", DataSetImage(Scenario("fall_backward")));
        WriteFile(dir / "d/adl_walking_s1_r1.bin", DataSetImage(Scenario("walking")));
        WriteFile(dir / "d/adl_walking_s1_r1.csv",
                  recgen::CsvText(recgen::MakeRecording(*recgen::FindScenario("walking"))));
        WriteFile(dir / "d/adl_sit_s2_r1.bin", DataSetImage(Scenario("sit_down_hard")));
    }
};

bool MakeDevice(const std::string& path, unsigned minor)
{
    return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0;
}

// Runs tumblewatch as the user nobody when the suite runs as root, so that
// permissions count; false (with a note) when that is impossible here.
bool RunAsUser(const std::string& cwd, const std::vector<std::string>& args, BenchRun* run)
{
    if (getuid() != 0) {
        *run = Tumblewatch(cwd, args);
        return true;
    }
    if (access("/usr/bin/setpriv", X_OK) != 0) {
        std::printf("setpriv is missing: the permission case is skipped\n");
        return false;
    }
    std::vector<std::string> full{"--reuid=65534", "--regid=65534", "--clear-groups", TUMBLEWATCH_PATH};
    full.insert(full.end(), args.begin(), args.end());
    *run = RunProgram("/usr/bin/setpriv", cwd, full, kRunLimit);
    return true;
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// 1. An output that names a device, FIFO, folder or a link to one is
//    refused before any work and left as it is.
TEST(BadInput, OutputsThatAreNoFilesAreRefusedAndLeftAlone)
{
    Data data;
    const BenchRun sweep =
        Tumblewatch(data.dir.path(), {"sweep", "d", "--grid", "fallWindow=10", "--out", "s.csv", "-q"});
    ASSERT_EQ(sweep.status, 0) << sweep.errors;
    ASSERT_EQ(mkfifo((data.dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", data.dir / "to-fifo");
    fs::create_directory(data.dir / "folder");
    std::vector<std::string> targets{"fifo", "to-fifo", "folder"};
    if (MakeDevice(data.dir / "null", 3)) {
        fs::create_symlink("null", data.dir / "to-null");
        targets.insert(targets.end(), {"null", "to-null"});
    } else {
        std::printf("mknod is not permitted here: the device cases are skipped\n");
    }
    const std::vector<std::vector<std::string>> commands{
        {"eval", "d", "-q", "--json"},
        {"eval", "d", "-q", "--csv"},
        {"eval", "d", "-q", "--html"},
        {"plot", "d/fall_forward_s1_r1.bin", "--html"},
        {"report", "s.csv", "--html"},
        {"sweep", "d", "--grid", "fallWindow=12", "-q", "--out", "t.csv", "--best"},
        {"sweep", "d", "--grid", "fallWindow=12", "-q", "--out", "t.csv", "--html"},
        {"sweep", "d", "--grid", "fallWindow=12", "-q", "--out"}};
    for (const std::vector<std::string>& command : commands) {
        for (const std::string& target : targets) {
            std::vector<std::string> args = command;
            args.push_back(target);
            const BenchRun run = Tumblewatch(data.dir.path(), args);
            EXPECT_EQ(run.status, 2) << command[0] << " " << command.back() << " " << target;
            EXPECT_NE(run.errors.find(command.back() + " " + target + ": is a"), std::string::npos) << run.errors;
            EXPECT_FALSE(PathExists(data.dir / "t.csv"));
        }
    }
    EXPECT_TRUE(fs::is_fifo(data.dir / "fifo"));
    EXPECT_TRUE(fs::is_directory(data.dir / "folder") && fs::is_empty(data.dir / "folder"));
    if (PathExists(data.dir / "null")) {
        EXPECT_TRUE(fs::is_character_file(data.dir / "null"));
        EXPECT_TRUE(fs::is_symlink(data.dir / "to-null"));
    }
}

// 2. An output may not be a recording, its twin or a name the search reads.
TEST(BadInput, TheTwinOfAnEvaluatedRecordingIsNoOutput)
{
    Data data;
    const std::string twin = ReadFile(data.dir / "d/adl_walking_s1_r1.csv");
    const std::string bin = ReadFile(data.dir / "d/adl_walking_s1_r1.bin");
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"eval", "d", "-q", "--csv", "d/adl_walking_s1_r1.csv"}, "which this command reads"},
        {{"eval", "d/adl_walking_s1_r1.bin", "-q", "--csv", "d/adl_walking_s1_r1.csv"}, "which this command reads"},
        {{"eval", "d/adl_walking_s1_r1.csv", "-q", "--json", "d/adl_walking_s1_r1.bin"}, "which this command reads"},
        {{"eval", "d", "-q", "--csv", "d/results.csv"}, "so it would be read as one"},
        {{"eval", "d/*.bin", "-q", "--csv", "d/new.bin"}, "so it would be read as one"},
    };
    for (const auto& [args, message] : cases) {
        const BenchRun run = Tumblewatch(data.dir.path(), args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
    }
    EXPECT_EQ(ReadFile(data.dir / "d/adl_walking_s1_r1.csv"), twin);
    EXPECT_EQ(ReadFile(data.dir / "d/adl_walking_s1_r1.bin"), bin);
    EXPECT_FALSE(PathExists(data.dir / "d/results.csv"));
    // A report beside the recordings under a name no search reads is fine.
    EXPECT_EQ(Tumblewatch(data.dir.path(), {"eval", "d", "-q", "--json", "d/report.json"}).status, 0);
}

// 3. Manifest paths may be absolute, with or without PATH arguments; a
//    trace never leaves the --traces folder.
TEST(BadInput, ManifestPathsMayBeAbsolute)
{
    Data data;
    TempDir other;
    WriteFile(other / "fall_far_s3_r1.bin", DataSetImage(Scenario("fall_lateral")));
    fs::create_directories(data.dir / "m");
    WriteFile(data.dir / "m/l.manifest", "path,label,subject\n" + data.dir / "d/fall_forward_s1_r1.bin" +
                                             ",fall,s1\n../d/adl_sit_s2_r1.bin,adl,s2\n" +
                                             other / "fall_far_s3_r1.bin" + ",fall,s3\n");
    const BenchRun run = Tumblewatch(
        data.dir.path(), {"eval", "--labels", "m/l.manifest", "-q", "--json", "e.json", "--traces", "traces"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const json j = json::parse(ReadFile(data.dir / "e.json"));
    EXPECT_EQ(j["summary"]["recordings"], 3);
    for (const json& r : j["recordings"]) {
        const std::string trace = r["trace"];
        EXPECT_EQ(trace.rfind("traces/", 0), 0u) << trace;
        EXPECT_EQ(trace.find(".."), std::string::npos) << trace;
        EXPECT_TRUE(PathExists(data.dir / trace)) << trace;
    }
    // With PATH arguments the same labels apply.
    const BenchRun withPath =
        Tumblewatch(data.dir.path(), {"eval", "d", "--labels", "m/l.manifest", "-q", "--json", "p.json"});
    ASSERT_EQ(withPath.status, 0) << withPath.errors;
    int fromManifest = 0;
    const json withLabels = json::parse(ReadFile(data.dir / "p.json"));
    for (const json& r : withLabels["recordings"]) {
        fromManifest += r["labels_from"] == "manifest" ? 1 : 0;
    }
    EXPECT_EQ(fromManifest, 2);
}

// 4. Inputs that are no regular files are refused with their kind, never
//    read; text inputs beyond the limits are refused with the limit.
TEST(BadInput, InputsThatAreNoFilesNeverHang)
{
    Data data;
    ASSERT_EQ(mkfifo((data.dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", data.dir / "f.bin");
    std::vector<std::string> sources{"fifo"};
    if (MakeDevice(data.dir / "zero", 5)) {
        sources.push_back("zero");
    }
    for (const std::string& source : sources) {
        const std::vector<std::vector<std::string>> cases{
            {"eval", "d", "-q", "--config", source},
            {"eval", "d", "-q", "--labels", source},
            {"eval", "-q", "--labels", source},
            {"plot", "d/fall_forward_s1_r1.bin", "--labels", source, "--html", "p.html"},
            {"report", source, "--html", "r.html"},
            {"params", "--config", source}};
        for (const std::vector<std::string>& args : cases) {
            const BenchRun run = Tumblewatch(data.dir.path(), args);
            EXPECT_FALSE(run.timedOut);
            EXPECT_EQ(run.status, 2) << args[0] << " " << source;
            EXPECT_NE(run.errors.find("not a regular file (a "), std::string::npos) << run.errors;
        }
    }
    const BenchRun path = Tumblewatch(data.dir.path(), {"eval", "f.bin", "-q"});
    EXPECT_EQ(path.status, 2);
    EXPECT_EQ(path.errors, "tumblewatch: f.bin: not a regular file (a FIFO)\n");

    FILE* big = std::fopen((data.dir / "big.manifest").c_str(), "w");
    ASSERT_NE(big, nullptr);
    ASSERT_EQ(ftruncate(fileno(big), off_t{65} << 20), 0);  // sparse: nothing is written
    std::fclose(big);
    WriteFile(data.dir / "long.toml", "fallWindow = 12\n# " + std::string(std::size_t{1} << 20, 'x') + "\n");
    const std::pair<std::vector<std::string>, const char*> limits[] = {
        {{"eval", "d", "-q", "--labels", "big.manifest"}, "manifest big.manifest: larger than 64 MiB"},
        {{"eval", "d", "-q", "--config", "long.toml"}, "long.toml: line 2 is longer than 1 MiB"},
    };
    for (const auto& [args, message] : limits) {
        const BenchRun run = Tumblewatch(data.dir.path(), args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
    }
}

// 5. A failed write to standard output is reported once, after the report
//    files are finished, with status 2.
TEST(BadInput, FailedWritesToStandardOutputAreReportedOnce)
{
    Data data;
    const std::string tw = TUMBLEWATCH_PATH;
    const BenchRun closed = Shell(data.dir.path(), "exec " + tw + " sweep d --grid fallWindow=10,12 --out s.csv >&-");
    EXPECT_EQ(closed.status, 2);
    EXPECT_EQ(Count(closed.errors, "standard output: cannot be written"), 1u) << closed.errors;
    EXPECT_EQ(SplitLines(ReadFile(data.dir / "s.csv")).size(), 4u);
    const BenchRun quiet = Shell(data.dir.path(), "exec " + tw + " eval d -q >&-");
    EXPECT_EQ(quiet.status, 0) << quiet.errors;  // nothing was to be written there
    if (!MakeDevice(data.dir / "full", 7)) {
        std::printf("mknod is not permitted here: the full device case is skipped\n");
        return;
    }
    for (const std::string& command :
         {std::string("eval d --json r.json --csv r.csv"), std::string("eval d -q --json - --csv r.csv"),
          std::string("params"), std::string("sweep d --grid fallWindow=14 --out f.csv")}) {
        const BenchRun run = Shell(data.dir.path(), "exec " + tw + " " + command + " >full");
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_EQ(Count(run.errors, "cannot be written: No space left on device"), 1u) << run.errors;
    }
    EXPECT_EQ(json::parse(ReadFile(data.dir / "r.json"))["summary"]["recordings"], 4);
    EXPECT_EQ(SplitLines(ReadFile(data.dir / "r.csv")).size(), 5u);
}

// 6. A long recording is evaluated in bounded memory: the peak does not
//    grow with its length (the 1 GiB case is a benchmark).
TEST(BadInput, LongRecordingsInBoundedMemory)
{
    TempDir dir;
    {
        // Freed before the runs: a child's peak counts what it had at the
        // fork.
        const std::vector<ImuSample> mixed = Scenario("long_mixed");
        std::vector<ImuSample> samples;
        while (samples.size() < 3000000) {
            samples.insert(samples.end(), mixed.begin(), mixed.end());
        }
        WriteFile(dir / "adl_long_s1_r1.bin", DataSetImage(samples));
        samples.resize(200000);
        WriteFile(dir / "adl_short_s1_r1.bin", DataSetImage(samples));
    }
    const BenchRun shortRun = Tumblewatch(dir.path(), {"eval", "adl_short_s1_r1.bin", "-q", "--json", "s.json"});
    const BenchRun longRun = Tumblewatch(dir.path(), {"eval", "adl_long_s1_r1.bin", "-q", "--json", "l.json"});
    ASSERT_EQ(shortRun.status, 0) << shortRun.errors;
    ASSERT_EQ(longRun.status, 0) << longRun.errors;
    const json j = json::parse(ReadFile(dir / "l.json"));
    EXPECT_GE(j["recordings"][0]["samples"].get<uint64_t>(), 3000000u);
    std::printf("peak resident size: %ld KiB for 200,000 samples, %ld KiB for %s\n", shortRun.maxRssKib,
                longRun.maxRssKib, std::to_string(j["recordings"][0]["samples"].get<uint64_t>()).c_str());
    if (!kSanitizedBuild) {
        // The whole recording held in memory would add 32 MiB.
        EXPECT_LT(longRun.maxRssKib, shortRun.maxRssKib + 6 * 1024);
    }
}

// 7. A resumed file must hold exactly this sweep's rows 0, 1, ... on the
//    same data; anything else is refused and the file left alone.
TEST(BadInput, ResumeRefusesOtherDataAndHoles)
{
    Data data;
    const std::vector<std::string> sweep{"sweep", "d", "--grid", "fallWindow=8:20:2", "--out", "s.csv", "-q"};
    ASSERT_EQ(Tumblewatch(data.dir.path(), sweep).status, 0);
    const std::vector<std::string> lines = SplitLines(ReadFile(data.dir / "s.csv"));
    ASSERT_EQ(lines.size(), 9u);
    std::vector<std::string> resume = sweep;
    resume.push_back("--resume");
    auto refused = [&](const std::string& text, const char* message) {
        WriteFile(data.dir / "s.csv", text);
        const BenchRun run = Tumblewatch(data.dir.path(), resume);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
        EXPECT_EQ(ReadFile(data.dir / "s.csv"), text);
    };
    auto join = [](const std::vector<std::string>& rows) {
        std::string text;
        for (const std::string& r : rows) {
            text += r + "\n";
        }
        return text;
    };
    std::vector<std::string> hole = lines;
    hole.erase(hole.begin() + 4);  // configuration 2
    refused(join(hole), "configuration 2 is missing (the row holds configuration 3)");
    std::vector<std::string> swapped = lines;
    std::swap(swapped[3], swapped[4]);
    refused(join(swapped), "configuration 1 is missing (the row holds configuration 2)");
    std::vector<std::string> repeated(lines.begin(), lines.begin() + 4);
    repeated.push_back(lines[3]);
    refused(join(repeated), "configuration 1 is out of order (configuration 2 was due)");

    // The same name and size, other samples: another sweep.
    std::vector<ImuSample> changed = Scenario("fall_backward");
    changed[100].accX = static_cast<int16_t>(changed[100].accX + 1);
    WriteFile(data.dir / "d/fall_backward_s2_r1.bin", DataSetImage(changed));
    refused(join(std::vector<std::string>(lines.begin(), lines.begin() + 5)), "the file holds another sweep");
}

// 8. The search lists everything it passes over, and a recording or folder
//    it could not read makes the status 3.
TEST(BadInput, TheSearchListsWhatItSkips)
{
    Data data;
    ASSERT_EQ(mkfifo((data.dir / "d/fifo_s1_r1.bin").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((data.dir / "d/pipe").c_str(), 0644), 0);
    fs::create_symlink("gone.bin", data.dir / "d/dangling.bin");
    fs::create_symlink("loop-b", data.dir / "d/loop-a");
    fs::create_symlink("loop-a", data.dir / "d/loop-b");
    fs::create_directories(data.dir / "elsewhere");
    fs::create_symlink("../elsewhere", data.dir / "d/linked");
    const BenchRun run = Tumblewatch(data.dir.path(), {"eval", "d", "--json", "e.json"});
    EXPECT_EQ(run.status, 3) << run.errors;
    std::map<std::string, std::string> skipped;
    const json report = json::parse(ReadFile(data.dir / "e.json"));
    for (const json& s : report["skipped"]) {
        skipped[s["path"]] = s["reason"];
    }
    EXPECT_EQ(skipped, (std::map<std::string, std::string>{
                           {"d/dangling.bin", "a link to a missing file"},
                           {"d/fifo_s1_r1.bin", "not a regular file (a FIFO)"},
                           {"d/linked", "a link to a folder: not followed"},
                           {"d/loop-a", "a link loop: its links lead round in a circle"},
                           {"d/loop-b", "a link loop: its links lead round in a circle"},
                           {"d/pipe", "not a regular file (a FIFO)"},
                       }));
    EXPECT_NE(run.output.find("Skipped in the search (6)"), std::string::npos) << run.output;
    EXPECT_NE(run.errors.find("d/fifo_s1_r1.bin: skipped: not a regular file (a FIFO)"), std::string::npos);

    // A folder that cannot be read, as a user the permissions apply to.
    fs::create_directories(data.dir / "locked/in");
    WriteFile(data.dir / "locked/fall_x_s1_r1.bin", DataSetImage(Scenario("fall_forward")));
    WriteFile(data.dir / "locked/in/fall_y_s1_r1.bin", DataSetImage(Scenario("fall_forward")));
    fs::create_directories(data.dir / "out");
    fs::permissions(data.dir.path(), fs::perms::all, fs::perm_options::add);
    fs::permissions(data.dir / "out", fs::perms::all);
    fs::permissions(data.dir / "locked/in", fs::perms::none);
    BenchRun locked;
    if (RunAsUser(data.dir.path(), {"eval", "locked", "-q", "--json", "out/l.json"}, &locked)) {
        EXPECT_EQ(locked.status, 3) << locked.errors;
        EXPECT_NE(locked.errors.find("locked/in: skipped: folder cannot be read: Permission denied"), std::string::npos)
            << locked.errors;
        EXPECT_EQ(json::parse(ReadFile(data.dir / "out/l.json"))["summary"]["recordings_found"], 1);
    }
    fs::permissions(data.dir / "locked/in", fs::perms::owner_all);
}

// 9. A recording counts once however it is named.
TEST(BadInput, ARecordingCountsOnceHoweverNamed)
{
    Data data;
    fs::create_hard_link(data.dir / "d/adl_sit_s2_r1.bin", data.dir / "hard.bin");
    fs::create_symlink("d/adl_sit_s2_r1.bin", data.dir / "soft.bin");
    const std::pair<std::vector<std::string>, std::pair<int, int>> cases[] = {
        {{"d/adl_walking_s1_r1.csv", "d/adl_walking_s1_r1.bin"}, {1, 1}},
        {{"d", "d"}, {4, 1}},
        {{"d", "./d/../d"}, {4, 1}},
        {{"d/adl_sit_s2_r1.bin", "hard.bin", "soft.bin"}, {1, 0}},
    };
    for (const auto& [paths, expected] : cases) {
        std::vector<std::string> args{"eval", "-q", "--json", "e.json"};
        args.insert(args.end(), paths.begin(), paths.end());
        const BenchRun run = Tumblewatch(data.dir.path(), args);
        ASSERT_EQ(run.status, 0) << run.errors;
        const json s = json::parse(ReadFile(data.dir / "e.json"))["summary"];
        EXPECT_EQ(s["recordings_found"], expected.first) << paths[1];
        EXPECT_EQ(s["csv_twins_passed_over"], expected.second) << paths[1];
    }
}

// 10. --traces never writes a layout marker, nor into a folder the command
//     reads.
TEST(BadInput, TracesNeverWriteTheMarkerOrIntoReadFolders)
{
    TempDir dir;
    fs::create_directories(dir / "R/sub");
    WriteFile(dir / "R/micom.bin", DataSetImage(Scenario("walking")));
    WriteFile(dir / "R/sub/fall_x_s1_r1.bin", DataSetImage(Scenario("fall_forward")));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"eval", "R", "-q", "--traces", "R/sub"},
          std::vector<std::string>{"eval", "R/sub/fall_x_s1_r1.bin", "-q", "--traces", "R/sub"}}) {
        const BenchRun run = Tumblewatch(dir.path(), args);
        EXPECT_EQ(run.status, 2) << args[1];
        EXPECT_NE(run.errors.find("choose a folder outside the recordings"), std::string::npos) << run.errors;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "R/sub"), fs::directory_iterator()), 1);
    const BenchRun run = Tumblewatch(dir.path(), {"eval", "R", "-q", "--traces", "T"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.errors.find("R/micom.bin: trace T/micom.txt refused: it would be the layout marker"),
              std::string::npos)
        << run.errors;
    EXPECT_FALSE(PathExists(dir / "T/micom.txt"));
    EXPECT_TRUE(PathExists(dir / "T/sub/fall_x_s1_r1.txt"));
}

// 11. Values outside what they can mean are refused, not taken silently.
TEST(BadInput, ValuesOutOfRangeAreRefused)
{
    Data data;
    ASSERT_EQ(Tumblewatch(data.dir.path(), {"sweep", "d", "--grid", "fallWindow=10", "--out", "s.csv", "-q"}).status,
              0);
    const std::vector<std::string> lines = SplitLines(ReadFile(data.dir / "s.csv"));
    ASSERT_EQ(lines.size(), 3u);
    const std::string head = lines[0] + "\n" + lines[1] + "\n";
    WriteFile(data.dir / "abc.csv", head + "abc" + lines[2].substr(1) + "\n");
    const std::size_t tp = lines[2].find(',', lines[2].find(',') + 1) + 1;  // "0,10,TP,..."
    WriteFile(data.dir / "nan.csv",
              head + lines[2].substr(0, tp) + "nan" + lines[2].substr(lines[2].find(',', tp)) + "\n");
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"eval", "d", "--merge", "nan"}, "--merge: 'nan': must be a number of seconds, 0 or more"},
        {{"eval", "d", "--merge", "-1"}, "--merge: '-1': must be a number of seconds, 0 or more"},
        {{"eval", "d", "--merge", "inf"}, "--merge: 'inf': must be a number of seconds, 0 or more"},
        {{"plot", "d/adl_sit_s2_r1.bin", "--merge", "nan", "--html", "p.html"}, "--merge: 'nan'"},
        {{"eval", "d", "-j", "0"}, "--jobs: '0': must be a whole number from 1 to 1024"},
        {{"eval", "d", "--json", ""}, "--json: the file name is empty"},
        {{"eval", "d", "--labels", ""}, "--labels: the file name is empty"},
        {{"sweep", "d", "--grid", "fallWindow=10", "--out", "x.csv", "--folds", "0"}, "--folds: '0': must be"},
        {{"sweep", "d", "--grid", "fallWindow=10", "--out", "x.csv", "--folds", "1"}, "--folds: '1': must be"},
        {{"sweep", "d", "--random", "2", "--range", "fallWindow=5:9", "--out", "x.csv", "--seed", "-1"},
         "--seed: '-1': must be a whole number from 0 to 18446744073709551615"},
        {{"sweep", "d", "--random", "2", "--range", "fallWindow=5:9", "--out", "x.csv", "--seed",
          "18446744073709551616"},
         "--seed: '18446744073709551616': must be"},
        {{"sweep", "d", "--grid", "fallWindow=10", "--out", "x.csv", "--best", "b", "--html", "b"},
         "--html b: is also the file of --best"},
        {{"sweep", "d", "--grid", "fallWindow=10", "--out", "x.csv", "--max-configs", "0"},
         "--max-configs: '0': must be a whole number, 1 or more"},
        {{"report", "abc.csv", "--html", "r.html"}, "abc.csv, line 3: a row's configuration number is 'abc'"},
        {{"report", "nan.csv", "--html", "r.html"}, "nan.csv, line 3: row 0: tp is 'nan', not a count"},
    };
    for (const auto& [args, message] : cases) {
        const BenchRun run = Tumblewatch(data.dir.path(), args);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
        EXPECT_LT(run.errors.size(), 300u) << run.errors;  // no 309-digit range
        EXPECT_FALSE(PathExists(data.dir / "x.csv") || PathExists(data.dir / "r.html")) << message;
    }

    // An impact past the end is a manifest error naming its line; a
    // recording without samples is listed and not a missed fall.
    WriteFile(data.dir / "d/fall_empty_s3_r1.bin", DataSetImage({}));
    WriteFile(data.dir / "l.manifest",
              "path,label,impact_sample\nd/fall_forward_s1_r1.bin,fall,100\nd/fall_backward_s2_r1.bin,fall,999999\n");
    const BenchRun eval = Tumblewatch(data.dir.path(), {"eval", "d", "--labels", "l.manifest", "--json", "e.json"});
    EXPECT_EQ(eval.status, 3);
    EXPECT_NE(eval.errors.find("d/fall_backward_s2_r1.bin: manifest l.manifest, line 3: impact_sample 999999 lies "
                               "past the end of the recording (its samples are 0 to "),
              std::string::npos)
        << eval.errors;
    const json s = json::parse(ReadFile(data.dir / "e.json"))["summary"];
    EXPECT_EQ(s["falls"], 1);
    EXPECT_EQ(s["fn"], 0);
    EXPECT_EQ(s["empty"], 1);
    EXPECT_NE(eval.output.find("Without samples, not counted (1)\n  d/fall_empty_s3_r1.bin"), std::string::npos);
    const BenchRun sweepImpact = Tumblewatch(
        data.dir.path(), {"sweep", "d", "--labels", "l.manifest", "--grid", "fallWindow=10", "--out", "i.csv", "-q"});
    EXPECT_EQ(sweepImpact.status, 2);
    EXPECT_NE(sweepImpact.errors.find("manifest l.manifest, line 3: impact_sample 999999 lies past the end"),
              std::string::npos)
        << sweepImpact.errors;
}

// 12. Messages say what is wrong in words a terminal shows as they are.
TEST(BadInput, MessagesNameTheProblemReadably)
{
    Data data;
    WriteFile(data.dir / "bom.manifest", "\xEF\xBB\xBFpath,label\nd/adl_sit_s2_r1.bin,adl\n");
    const BenchRun bom = Tumblewatch(data.dir.path(), {"eval", "--labels", "bom.manifest", "-q"});
    EXPECT_EQ(bom.status, 0) << bom.errors;
    fs::create_directories(data.dir / "folder.bin");
    ASSERT_EQ(mkfifo((data.dir / "fifo.bin").c_str(), 0600), 0);
    for (const auto& [name, kind] : {std::pair<const char*, const char*>{"folder.bin", "(a folder)"},
                                     std::pair<const char*, const char*>{"fifo.bin", "(a FIFO)"}}) {
        WriteFile(data.dir / "rows.manifest", std::string("path,label\n") + name + ",fall\n");
        const BenchRun run = Tumblewatch(data.dir.path(), {"eval", "--labels", "rows.manifest", "-q"});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.errors.find(std::string("line 2: recording ") + name + ": not a regular file " + kind),
                  std::string::npos)
            << run.errors;
    }
    // Long names are shortened (an argument can hold 128 KiB, a manifest
    // line 1 MiB); control bytes of names are escaped.
    WriteFile(data.dir / "long.manifest", "path,label\n" + std::string(1000000, 'b') + ".bin,fall\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"eval", std::string(100000, 'a') + ".bin"},
                                                 std::vector<std::string>{"eval", "--labels", "long.manifest"}}) {
        const BenchRun huge = Tumblewatch(data.dir.path(), args);
        EXPECT_EQ(huge.status, 2);
        EXPECT_LT(huge.errors.size(), 400u);
        EXPECT_NE(huge.errors.find("..."), std::string::npos) << huge.errors.substr(0, 400);
    }
    const std::string odd = "d/fall_\x1b[31mred\nline_s9_r1.bin";
    WriteFile(data.dir / odd, "QX DataSet V1.0.0");  // not a dataset: named in the errors
    const BenchRun run = Tumblewatch(data.dir.path(), {"eval", "d"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.errors.find('\x1b'), std::string::npos);
    EXPECT_NE(run.errors.find("d/fall_\\x1b[31mred\\nline_s9_r1.bin: not a dataset"), std::string::npos) << run.errors;
    EXPECT_NE(run.output.find("d/fall_\\x1b[31mred\\nline_s9_r1.bin"), std::string::npos);
}

}  // namespace
