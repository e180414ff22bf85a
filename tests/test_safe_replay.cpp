// Replays that never destroy data, never hang and report every failure:
// the bench against links, special files, full disks, refused datasets and
// its own command line.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kBanner = "Tumblewatch : " + std::to_string(sizeof(TumblewatchContext)) + " bytes.\n\n";

std::string Header(const std::string& path)
{
    return "\n" + path + ":\n\n";
}

std::string Example(const std::string& name)
{
    return ReadFile(std::string(SOURCE_DIR) + "/examples/" + name);
}

// A recording with falls in each format: the CSV prints them, the dataset
// is the same samples.
const std::string& FallCsv()
{
    static const std::string csv = Example("double_fall.csv");
    return csv;
}

std::string FallDataSet()
{
    return DataSetBytes(std::vector<ImuSample>(300, kUpright));
}

// The console of a replay of bytes under name in a folder of its own.
std::string CleanConsole(const std::string& name, const std::string& bytes)
{
    TempDir dir;
    WriteFile(dir / name, bytes);
    return RunBench(dir.path(), {name}).output;
}

struct Format {
    std::string suffix;
    std::string bytes;
};

std::vector<Format> BothFormats()
{
    return {Format{"bin", FallDataSet()}, Format{"csv", FallCsv()}};
}

TEST(SafeReplay, InputSurvivesWhenItsTraceNameLeadsBackToIt)
{
    for (const Format& format : BothFormats()) {
        const std::string input = "x." + format.suffix;
        // Each case: how x.txt (or x.<suffix> itself) is made to be the same file.
        const std::vector<std::pair<std::string, std::function<void(const TempDir&)>>> cases = {
            {"hard link", [&](const TempDir& d) { fs::create_hard_link(d / input, d / "x.txt"); }},
            {"symbolic link", [&](const TempDir& d) { fs::create_symlink(input, d / "x.txt"); }},
            {"link through ..",
             [&](const TempDir& d) {
                 const std::string self = fs::path(d.path()).filename().string();
                 fs::create_symlink("../" + self + "/" + input, d / "x.txt");
             }},
        };
        for (const auto& [what, link] : cases) {
            TempDir dir;
            WriteFile(dir / input, format.bytes);
            link(dir);
            const BenchRun run = RunBench(dir.path(), {input}, 60);
            EXPECT_EQ(run.status, 2) << input << ", " << what;
            EXPECT_EQ(run.output, kBanner + Header(input)) << input << ", " << what;
            EXPECT_EQ(run.errors, "tilt_bench: " + input + ": refused: its trace x.txt is the input itself\n")
                << input << ", " << what;
            EXPECT_EQ(ReadFile(dir / input), format.bytes) << input << ", " << what;
        }

        // The other direction: the input is a link to the file its trace would be.
        TempDir dir;
        WriteFile(dir / "x.txt", format.bytes);
        fs::create_symlink("x.txt", dir / input);
        const BenchRun run = RunBench(dir.path(), {"-r", "*." + format.suffix}, 60);
        EXPECT_EQ(run.status, 2) << input;
        EXPECT_NE(run.errors.find("./x.txt is the input itself"), std::string::npos) << run.errors;
        EXPECT_EQ(ReadFile(dir / "x.txt"), format.bytes) << input;
    }
}

TEST(SafeReplay, RecordingNamedLikeTheMarkerIsRefusedAndLeavesNoMarker)
{
    TempDir dir;
    WriteFile(dir / "micom.csv", FallCsv());
    WriteFile(dir / "walk.csv", FallCsv());
    fs::create_directory(dir / "sub");
    WriteFile(dir / "sub/micom.csv", FallCsv());

    // walk.csv after micom.csv in the same run is still read in the default
    // layout, as in a folder of its own.
    const std::string falls = CleanConsole("walk.csv", FallCsv()).substr(kBanner.size() + Header("walk.csv").size());
    const BenchRun run = RunBench(dir.path(), {"*.csv"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, kBanner + Header("micom.csv") + Header("walk.csv") + falls);
    EXPECT_EQ(run.errors,
              "tilt_bench: micom.csv: refused: its trace micom.txt would overwrite the layout marker "
              "micom.txt of the current folder\n");
    EXPECT_FALSE(PathExists(dir / "micom.txt"));

    // Any spelling that reaches the current folder is refused; a marker
    // name in another folder is just a trace.
    const BenchRun recursive = RunBench(dir.path(), {"-r", "micom.csv"});
    EXPECT_EQ(recursive.status, 2);
    EXPECT_EQ(recursive.output, kBanner + Header("./micom.csv") + Header("./sub/micom.csv") + falls);
    EXPECT_FALSE(PathExists(dir / "micom.txt"));
    EXPECT_TRUE(PathExists(dir / "sub/micom.txt"));
    EXPECT_EQ(RunBench(dir.path(), {"sub/../micom.csv"}).status, 2);
    EXPECT_FALSE(PathExists(dir / "micom.txt"));
}

TEST(SafeReplay, SpecialFilesAreRefusedAtOnce)
{
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "x.bin").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((dir / "y.csv").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", dir / "zc.csv");
    fs::create_symlink("/dev/urandom", dir / "u.csv");
    fs::create_symlink("y.csv", dir / "link.csv");
    WriteFile(dir / "ok.csv", FallCsv());

    // Each of them would block or stream for ever if it were opened for
    // reading; the time limit turns that into a failure, not a hung suite.
    const BenchRun run = RunBench(dir.path(), {"*"}, 60);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errors,
              "tilt_bench: link.csv: not a regular file (a FIFO)\n"
              "tilt_bench: u.csv: not a regular file (a character device)\n"
              "tilt_bench: x.bin: not a regular file (a FIFO)\n"
              "tilt_bench: y.csv: not a regular file (a FIFO)\n"
              "tilt_bench: zc.csv: not a regular file (a character device)\n");
    EXPECT_NE(run.output.find(Header("ok.csv") + "0230 : Fall (1)"), std::string::npos);
    for (const char* trace : {"x.txt", "y.txt", "zc.txt", "u.txt", "link.txt"}) {
        EXPECT_FALSE(PathExists(dir / trace)) << trace;
    }
}

// The checks of a replay whose trace runs out of space: the failure is
// reported, and the console lines are all there.
void ExpectTraceCutShort(const BenchRun& run, const std::string& name)
{
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, CleanConsole(name, FallCsv()));
    EXPECT_NE(run.errors.find("tilt_bench: " + name + ": trace "), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find(" not written completely: No space left on device\n"), std::string::npos) << run.errors;
}

TEST(SafeReplay, TraceOnAFullDeviceIsReported)
{
    TempDir dir;
    WriteFile(dir / "x.csv", FallCsv());
    fs::create_symlink("/dev/full", dir / "x.txt");
    ExpectTraceCutShort(RunBench(dir.path(), {"x.csv"}, 60), "x.csv");
}

TEST(SafeReplay, TraceOnAFullFileSystemIsReported)
{
    TempDir dir;
    fs::create_directory(dir / "small");
    // Room for the input and a part of its trace.
    if (mount("tumblewatch-test", (dir / "small").c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                     << "); the full device test covers the case";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount(path.c_str()); }
    } unmount{dir / "small"};
    WriteFile(dir / "small/x.csv", FallCsv());
    const BenchRun run = RunBench(dir / "small", {"x.csv"}, 60);
    const std::string trace = ReadFile(dir / "small/x.txt");
    ExpectTraceCutShort(run, "x.csv");
    EXPECT_GT(trace.size(), 0u);
}

TEST(SafeReplay, EveryFailureIsNamedAndSetsTheStatus)
{
    TempDir dir;
    const std::string good = DataSetBytes({kUpright});
    std::string magic = good;
    magic[3] = 'd';
    WriteFile(dir / "magic.bin", magic);
    WriteFile(dir / "short.bin", good.substr(0, 22));
    WriteFile(dir / "negative.bin", DataSetBytes({kUpright}, -12));
    WriteFile(dir / "untraced.bin", good);
    fs::create_directory(dir / "untraced.txt");
    fs::create_symlink("gone.bin", dir / "dangling.bin");

    const BenchRun run = RunBench(dir.path(), {"*.bin"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, kBanner + Header("dangling.bin") + Header("magic.bin") + Header("negative.bin") +
                              Header("short.bin") + Header("untraced.bin"));
    EXPECT_EQ(run.errors,
              "tilt_bench: dangling.bin: no such file (a link to a missing file)\n"
              "tilt_bench: magic.bin: not a dataset: it does not begin with the magic text \"QX DataSet V1.0.0\"\n"
              "tilt_bench: negative.bin: not a dataset: negative record position -12\n"
              "tilt_bench: short.bin: not a dataset: the file ends inside its 24-byte header (22 bytes)\n"
              "tilt_bench: untraced.bin: trace untraced.txt cannot be created: Is a directory\n");
    for (const char* trace : {"magic.txt", "short.txt", "negative.txt", "dangling.txt"}) {
        EXPECT_FALSE(PathExists(dir / trace)) << trace;
    }

    // A name without wildcards that matches nothing is a failure; a pattern
    // that matches nothing is not.
    const BenchRun missing = RunBench(dir.path(), {"walk.bin"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.output, kBanner);
    EXPECT_EQ(missing.errors, "tilt_bench: walk.bin: no such file\n");
    const BenchRun missingBelow = RunBench(dir.path(), {"-r", "walk.bin"});
    EXPECT_EQ(missingBelow.status, 2);
    EXPECT_EQ(missingBelow.errors, "tilt_bench: walk.bin: no such file here or in any folder below\n");
    const BenchRun none = RunBench(dir.path(), {"*.csv"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.errors, "");

    // A replay that works says nothing on standard error.
    WriteFile(dir / "fine.csv", FallCsv());
    const BenchRun fine = RunBench(dir.path(), {"fine.csv"});
    EXPECT_EQ(fine.status, 0);
    EXPECT_EQ(fine.errors, "");
}

TEST(SafeReplay, ExpandedPatternOfTwoFilesIsWarnedAbout)
{
    TempDir dir;
    WriteFile(dir / "a.csv", FallCsv());
    WriteFile(dir / "b.csv", FallCsv());
    fs::create_directory(dir / "folder");

    // What the shell makes of an unquoted *.csv: the first name becomes the
    // recursive flag and only the second is replayed.
    const BenchRun run = RunBench(dir.path(), {"a.csv", "b.csv"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors,
              "tilt_bench: warning: the first argument 'a.csv' is taken as the recursive flag; quote "
              "a pattern ('*.csv') so that the shell does not expand it\n");
    EXPECT_EQ(run.output.rfind(kBanner + Header("./b.csv"), 0), 0u);

    for (const char* flag : {"-r", "folder", "word"}) {
        EXPECT_EQ(RunBench(dir.path(), {flag, "b.csv"}).errors, "") << flag;
    }
}

TEST(SafeReplay, HelpAndVersion)
{
    TempDir dir;
    for (const char* word : {"--help", "-h"}) {
        const BenchRun run = RunBench(dir.path(), {word});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output.rfind(kBanner + "Usage: tilt_bench [-r] <file_name>\n\n", 0), 0u) << run.output;
        EXPECT_NE(run.output.find("Exit status: 0 "), std::string::npos);
        EXPECT_NE(run.output.find("Quote a pattern"), std::string::npos);
        EXPECT_EQ(run.output.substr(run.output.size() - 21), "J6-Tumblewatch-2.1.1\n");
    }
    const BenchRun version = RunBench(dir.path(), {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "J6-Tumblewatch-2.1.1\n");
}

}  // namespace
