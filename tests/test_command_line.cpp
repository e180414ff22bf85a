// The bench's command line and file search.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kBanner = "Tumblewatch : " + std::to_string(sizeof(TumblewatchContext)) + " bytes.\n\n";
const std::string kUsage = "Usage: tilt_bench [-r] <file_name>\n\n";

std::string Header(const std::string& path)
{
    return "\n" + path + ":\n\n";
}

// A small valid dataset.
void Recording(const std::string& path)
{
    WriteDataSet(path, std::vector<ImuSample>(3, ImuSample{0, -8192, 0, 0, 0, 0}));
}

TEST(CommandLine, WrongArgumentCountPrintsUsageAndFails)
{
    TempDir dir;
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"-r", "*.bin", "extra"}}) {
        const BenchRun run = RunBench(dir.path(), args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, kBanner + kUsage);
    }
}

TEST(CommandLine, SearchSucceedsEvenWhenNothingMatches)
{
    TempDir dir;
    const BenchRun run = RunBench(dir.path(), {"*.bin"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner);
}

TEST(CommandLine, SuffixRulesChooseTheReplay)
{
    TempDir dir;
    Recording(dir / "a.bin");
    Recording(dir / "walk.Bin");
    WriteFile(dir / "x.csv", "");
    WriteFile(dir / "walk_DSV.csv", "");
    WriteFile(dir / "walk.CSV", "");
    WriteFile(dir / "notes.txt.orig", "");
    fs::create_directory(dir / "d.bin");

    const BenchRun run = RunBench(dir.path(), {"*"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + Header("a.bin") + Header("x.csv"));
    EXPECT_TRUE(PathExists(dir / "a.txt"));
    EXPECT_FALSE(PathExists(dir / "walk.txt"));
    EXPECT_FALSE(PathExists(dir / "d.txt"));
}

TEST(CommandLine, WildcardsMatchCaseSensitivelyOnTheLastComponent)
{
    TempDir dir;
    Recording(dir / "ab.bin");
    Recording(dir / "abc.bin");
    Recording(dir / "Ab.bin");
    Recording(dir / "[a].bin");
    EXPECT_EQ(RunBench(dir.path(), {"a?.bin"}).output, kBanner + Header("ab.bin"));
    EXPECT_EQ(RunBench(dir.path(), {"a*"}).output, kBanner + Header("ab.bin") + Header("abc.bin"));
    EXPECT_EQ(RunBench(dir.path(), {"[a].bin"}).output, kBanner + Header("[a].bin"));
    EXPECT_EQ(RunBench(dir.path(), {"abc.bin"}).output, kBanner + Header("abc.bin"));
}

TEST(CommandLine, PatternWithADirectoryPartReplaysFromThatDirectory)
{
    TempDir dir;
    fs::create_directory(dir / "data");
    Recording(dir / "data/walk.bin");
    const BenchRun run = RunBench(dir.path(), {"data/*.bin"});
    EXPECT_EQ(run.output, kBanner + Header("data/walk.bin"));
    EXPECT_TRUE(PathExists(dir / "data/walk.txt"));
    EXPECT_FALSE(PathExists(dir / "walk.txt"));
}

TEST(CommandLine, RecursiveSearchVisitsFilesThenSubdirectoriesDepthFirst)
{
    TempDir dir;
    fs::create_directories(dir / "d1/d2/d3");
    fs::create_directory(dir / "e");
    Recording(dir / "top.bin");
    Recording(dir / "d1/one.bin");
    Recording(dir / "d1/d2/two.bin");
    Recording(dir / "d1/d2/d3/three.bin");
    Recording(dir / "e/four.bin");
    Recording(dir / "z.bin");

    const std::string expected = kBanner + Header("./top.bin") + Header("./z.bin") + Header("./d1/one.bin") +
                                 Header("./d1/d2/two.bin") + Header("./d1/d2/d3/three.bin") + Header("./e/four.bin");
    // Any first word selects the recursive mode.
    for (const char* word : {"-r", "please"}) {
        const BenchRun run = RunBench(dir.path(), {word, "*.bin"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, expected) << word;
    }
    EXPECT_TRUE(PathExists(dir / "d1/d2/d3/three.txt"));
}

TEST(CommandLine, LinksToDirectoriesAreNeitherReplayedNorFollowed)
{
    TempDir dir;
    fs::create_directory(dir / "d");
    Recording(dir / "d/a.bin");
    fs::create_directory_symlink("..", dir / "d/loop.bin");
    fs::create_directory_symlink(dir.path(), dir / "d/back");
    fs::create_symlink("a.bin", dir / "d/link.bin");

    const BenchRun run = RunBench(dir.path(), {"-r", "*.bin"});
    EXPECT_EQ(run.status, 0);
    // A link to a file is a file.
    EXPECT_EQ(run.output, kBanner + Header("./d/a.bin") + Header("./d/link.bin"));
}

TEST(SearchFiles, UnreadableDirectoryIsReportedAndTheSearchGoesOn)
{
    TempDir dir;
    testing::internal::CaptureStdout();
    const int result = SearchFiles((dir / "missing").c_str(), "*.bin");
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(output, "tilt_bench: " + (dir / "missing") + "/*, path not found.\n");
}

TEST(SearchFiles, ShortPathsMatchNoLongerSuffix)
{
    TempDir dir;
    WriteFile(dir / "x.csv", "");
    WriteFile(dir / "sv", "");
    Recording(dir / ".bin");
    const BenchRun run = RunBench(dir.path(), {"*"});
    EXPECT_EQ(run.output, kBanner + Header(".bin") + Header("x.csv"));
}

}  // namespace
