// Replay of CSV recordings in both layouts, run through the bench program
// in a temporary folder so that the marker file decides the layout.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using Values = TracedValues;

const std::string kBanner = "Tumblewatch : " + std::to_string(sizeof(TumblewatchContext)) + " bytes.\n\n";
const std::string kHeader7 = "h1\nh2\nh3\nh4\nh5\nh6\nh7\n";
const ImuSample kRest{0, -8192, 0, 0, 0, 0};

struct CsvReplay {
    std::string output;           // everything the bench printed
    std::vector<Values> samples;  // the samples in the trace, in order
    std::string trace;
};

// Replays csv as rec.csv in a fresh folder, with the marker when micom.
CsvReplay Replay(const std::string& csv, bool micom = false)
{
    TempDir dir;
    if (micom) {
        WriteFile(dir / "micom.txt", "");
    }
    WriteFile(dir / "rec.csv", csv);
    const BenchRun run = RunBench(dir.path(), {"rec.csv"});
    EXPECT_EQ(run.status, 0);
    CsvReplay replay;
    replay.output = run.output;
    replay.trace = ReadFile(dir / "rec.txt");
    replay.samples = TracedSamples(replay.trace);
    return replay;
}

std::string Row(int number, const ImuSample& s)
{
    std::ostringstream row;
    row << number << ',' << s.accX << ',' << s.accY << ',' << s.accZ << ',' << s.gyroX << ',' << s.gyroY << ','
        << s.gyroZ << '\n';
    return row.str();
}

// Standing, two spells of free fall, standing again.
std::vector<ImuSample> TwoDrops()
{
    std::vector<ImuSample> samples(60, kRest);
    for (int drop = 0; drop < 2; ++drop) {
        samples.insert(samples.end(), 14, ImuSample{0, 0, 0, 0, 0, 0});
        samples.insert(samples.end(), 100, kRest);
    }
    return samples;
}

TEST(CsvReplay, MarkerChoosesTheHeaderAndTheScale)
{
    std::string csv;
    for (int i = 1; i <= 7; ++i) {
        csv += std::to_string(i) + "," + std::to_string(i) + ",0,0,0,0,0\n";
    }
    csv += "3,1,0,0,2,0,0\n";
    EXPECT_EQ(Replay(csv).samples, (std::vector<Values>{{1, 0, 0, 2, 0, 0}}));

    std::vector<Values> micom;
    for (int i = 2; i <= 7; ++i) {
        micom.push_back(Values{i * 100, 0, 0, 0, 0, 0});
    }
    micom.push_back(Values{100, 0, 0, 200, 0, 0});
    EXPECT_EQ(Replay(csv, true).samples, micom);
}

TEST(CsvReplay, HeaderIsSkippedByReadsNotByLines)
{
    // The 1500-character first line takes two of the seven reads.
    const std::string csv = std::string(1500, 'h') + "\nh2\nh3\nh4\nh5\nh6\n7,7,0,0,0,0,0\n8,8,0,0,0,0,0\n";
    EXPECT_EQ(Replay(csv).samples, (std::vector<Values>{{7, 0, 0, 0, 0, 0}, {8, 0, 0, 0, 0, 0}}));
    EXPECT_TRUE(Replay("h1\nh2\n").samples.empty());
}

TEST(CsvReplay, OffsetRowReplacesTheOffsetForTheRowsAfterIt)
{
    const std::string csv = kHeader7 +
                            "0,1,0,0,0,0,0\n"
                            "-1,10,0,0,0,0,0\n"
                            "5,100,0,0,0,0,0\n"
                            "-1,0,5,0,0,0,0\n"
                            "6,100,0,0,0,0,0\n"
                            "-1,30000,0,0,0,0,-32768\n"
                            "7,10000,0,0,0,0,-1\n"
                            "-1,0,0,0,0,0,0\n"
                            "8,100,0,0,0,0,0\n"
                            "-1,10,0,0,0,0,0\n"
                            "-1.5,0,0,0,0,0,0\n"
                            "9,100,0,0,0,0,0\n";
    EXPECT_EQ(Replay(csv).samples, (std::vector<Values>{{1, 0, 0, 0, 0, 0},
                                                        {110, 0, 0, 0, 0, 0},
                                                        {100, 5, 0, 0, 0, 0},
                                                        {-25536, 0, 0, 0, 0, 32767},
                                                        {100, 0, 0, 0, 0, 0},
                                                        {100, 0, 0, 0, 0, 0}}));
    // In the micom layout the offset is scaled like the samples.
    EXPECT_EQ(Replay("h\n-1,1,0,0,0,0,0\n3,1,0,0,2,0,0\n", true).samples,
              (std::vector<Values>{{200, 0, 0, 200, 0, 0}}));
}

TEST(CsvReplay, SkippedLinesAreNotSamples)
{
    const std::string csv = kHeader7 +
                            "0,1,0,0,0,0,0\n"
                            "\n"
                            " 1,0,0,0,0,0,0\n"
                            "walking starts\n"
                            "\"1\",0,0,0,0,0,0\n"
                            "+1,0,0,0,0,0,0\n"
                            "130,10,20\n"
                            "130,5,-5,7\n"
                            "1,2,0,0,0,0,0\n";
    EXPECT_EQ(Replay(csv).samples, (std::vector<Values>{{1, 0, 0, 0, 0, 0}, {2, 0, 0, 0, 0, 0}}));
}

TEST(CsvReplay, LongLinesAreReadInPiecesOf1023Characters)
{
    // Each first piece is a row with an ignored eighth field; the second
    // piece of the first line starts with 'x' and is skipped, that of the
    // second line is a row of its own.
    std::string first = "1,1,2,3,4,5,6,";
    first += std::string(1100, 'x') + "\n";
    std::string second = "2,0,0,0,0,0,0,";
    second += std::string(1023 - second.size(), 'y') + "5,100,-8192,0,0,0,0,yyy\n";
    // Exactly 1023 characters: the newline is a piece of its own.
    std::string third = "3,7,0,0,0,0,0,";
    third += std::string(1023 - third.size(), 'z') + "\n";
    EXPECT_EQ(
        Replay(kHeader7 + first + second + third).samples,
        (std::vector<Values>{{1, 2, 3, 4, 5, 6}, {0, 0, 0, 0, 0, 0}, {100, -8192, 0, 0, 0, 0}, {7, 0, 0, 0, 0, 0}}));
}

TEST(CsvReplay, CrlfLineEnds)
{
    const std::string csv =
        "h1\r\nh2\r\nh3\r\nh4\r\nh5\r\nh6\r\nh7\r\n1,2,3,4,5,6,7\r\n2,1,1,1,1,1\r\n3,-2,-3,-4,-5,-6,-7\r\n";
    EXPECT_EQ(Replay(csv).samples, (std::vector<Values>{{2, 3, 4, 5, 6, 7}, {-2, -3, -4, -5, -6, -7}}));
}

TEST(CsvReplay, EachFallPrintsItsOwnLineInOrder)
{
    const std::vector<ImuSample> samples = TwoDrops();
    const CsvReplay clean = Replay(CsvOf(samples));
    const std::string falls = FallLinesOf(clean.trace);
    EXPECT_EQ(clean.output, kBanner + "\nrec.csv:\n\n" + falls);

    // Falls in both spells (they start after samples 60 and 174), in order.
    const std::vector<std::string> lines = SplitLines(falls);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_GT(std::atoi(lines.front().c_str()), 60);
    EXPECT_LT(std::atoi(lines.front().c_str()), 174);
    EXPECT_GT(std::atoi(lines.back().c_str()), 174);

    // Offset rows, short lines and text lines are not counted as samples:
    // the same falls print with the same numbers. The second half is
    // written relative to an offset of 1 g along -Y.
    std::string csv = kHeader7 + "-1,0,0,0,0,0,0\nnote\n";
    for (size_t i = 0; i < samples.size(); ++i) {
        const int number = static_cast<int>(i);
        if (i < 120) {
            csv += Row(number, samples[i]);
        } else {
            ImuSample relative = samples[i];
            relative.accY = static_cast<int16_t>(relative.accY + 8192);
            csv += Row(number, relative);
        }
        if (i == 100) {
            csv += "100,0,0\n\n-1,0,0,0,0,0,0\n";
        }
        if (i == 119) {
            csv += "-1,0,-8192,0,0,0,0\n";
        }
        if (i == 150) {
            csv += "150,5,-5,7\n";
        }
    }
    const CsvReplay noisy = Replay(csv);
    EXPECT_EQ(noisy.output, clean.output);
    EXPECT_EQ(FirstDifference(noisy.trace, clean.trace), "");
}

// Writes the same samples as a CSV recording and as a binary dataset and
// expects the two traces to be byte for byte the same.
void ExpectTwinTraces(const std::vector<ImuSample>& samples, const std::string& csv, bool micom)
{
    TempDir dir;
    if (micom) {
        WriteFile(dir / "micom.txt", "");
    }
    WriteFile(dir / "rec.csv", csv);
    WriteDataSet(dir / "twin.bin", samples);
    const BenchRun run = RunBench(dir.path(), {"*"});
    EXPECT_EQ(run.status, 0);
    const std::string trace = ReadFile(dir / "rec.txt");
    EXPECT_EQ(SplitLines(trace).size(), samples.size());
    EXPECT_EQ(FirstDifference(trace, ReadFile(dir / "twin.txt")), "");
    EXPECT_NE(FallLinesOf(trace), "");
    EXPECT_EQ(run.output, kBanner + "\nrec.csv:\n\n" + FallLinesOf(trace) + "\ntwin.bin:\n\n");
}

TEST(CsvReplay, TraceMatchesTheBinaryTwin)
{
    // Movement on every channel around the two drops, in whole hundreds so
    // that the micom layout can carry the same samples.
    std::vector<ImuSample> samples = TwoDrops();
    for (size_t i = 0; i < samples.size(); ++i) {
        const int k = static_cast<int>(i);
        ImuSample& s = samples[i];
        s.accX = static_cast<int16_t>(s.accX + 100 * ((k * 7) % 11 - 5));
        s.accY = static_cast<int16_t>(s.accY + 100 * ((k * 5) % 9 - 4));
        s.accZ = static_cast<int16_t>(s.accZ + 100 * ((k * 3) % 7 - 3));
        s.gyroX = static_cast<int16_t>(100 * ((k * 13) % 41 - 20));
        s.gyroY = static_cast<int16_t>(100 * ((k * 11) % 31 - 15));
        s.gyroZ = static_cast<int16_t>(100 * ((k * 17) % 23 - 11));
        s.accY = static_cast<int16_t>(s.accY / 100 * 100);
    }
    ExpectTwinTraces(samples, CsvOf(samples), false);

    std::string micom = "row,ax,ay,az,gx,gy,gz\n";
    for (size_t i = 0; i < samples.size(); ++i) {
        const ImuSample& s = samples[i];
        const ImuSample scaled{static_cast<int16_t>(s.accX / 100),  static_cast<int16_t>(s.accY / 100),
                               static_cast<int16_t>(s.accZ / 100),  static_cast<int16_t>(s.gyroX / 100),
                               static_cast<int16_t>(s.gyroY / 100), static_cast<int16_t>(s.gyroZ / 100)};
        micom += Row(static_cast<int>(i), scaled);
    }
    ExpectTwinTraces(samples, micom, true);
}

TEST(CsvReplay, SharedEdgeCasesPassTheListedSamples)
{
    const fs::path data = fs::path(SHARED_DATA_DIR) / "synthetic";
    if (!fs::exists(data / "csv_edge_cases.csv") || !fs::exists(data / "csv_edge_cases_expected.tsv")) {
        GTEST_SKIP() << "no shared edge cases in " << data;
    }
    std::vector<Values> expected;
    std::ifstream list(data / "csv_edge_cases_expected.tsv");
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        int index = 0;
        Values v{};
        fields >> index >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5];
        ASSERT_FALSE(fields.fail()) << line;
        ASSERT_EQ(index, static_cast<int>(expected.size()));
        expected.push_back(v);
    }
    const CsvReplay replay = Replay(ReadFile((data / "csv_edge_cases.csv").string()));
    EXPECT_EQ(replay.samples, expected);
    EXPECT_EQ(replay.output, kBanner + "\nrec.csv:\n\n" + FallLinesOf(replay.trace));
}

TEST(CsvReplay, SharedRecordingsMatchTheirBinaryTwins)
{
    const fs::path data = fs::path(SHARED_DATA_DIR) / "synthetic";
    if (!fs::is_directory(data)) {
        GTEST_SKIP() << "no shared recordings in " << data;
    }
    TempDir dir;
    int pairs = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(data)) {
        const fs::path csv = entry.path();
        fs::path bin = csv;
        bin.replace_extension(".bin");
        if (csv.extension() != ".csv" || !fs::exists(bin)) {
            continue;
        }
        const std::string stem = csv.stem().string();
        fs::copy_file(csv, dir / (stem + ".csv"));
        fs::copy_file(bin, dir / (stem + "_twin.bin"));
        ++pairs;
    }
    if (pairs == 0) {
        GTEST_SKIP() << "no recording with a binary twin in " << data;
    }
    const BenchRun run = RunBench(dir.path(), {"*"});
    EXPECT_EQ(run.status, 0);
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".csv") {
            const std::string stem = entry.path().stem().string();
            EXPECT_EQ(FirstDifference(ReadFile(dir / (stem + ".txt")), ReadFile(dir / (stem + "_twin.txt"))), "")
                << name;
        }
    }
}

TEST(ReplayCsvFile, ReturnsMinusOneWhenAFileCannotBeOpened)
{
    TempDir dir;
    EXPECT_EQ(ReplayCsvFile((dir / "missing.csv").c_str()), -1);
    EXPECT_FALSE(PathExists(dir / "missing.txt"));

    WriteFile(dir / "a.csv", kHeader7 + "0,0,-8192,0,0,0,0\n");
    fs::create_directory(dir / "a.txt");  // the trace's name is taken by a folder
    EXPECT_EQ(ReplayCsvFile((dir / "a.csv").c_str()), -1);
    EXPECT_EQ(fpTrace, nullptr);

    WriteFile(dir / "b.csv", kHeader7 + "0,0,-8192,0,0,0,0\n");
    EXPECT_EQ(ReplayCsvFile((dir / "b.csv").c_str()), 0);
    EXPECT_EQ(fpTrace, nullptr);
    EXPECT_EQ(SplitLines(ReadFile(dir / "b.txt")).size(), 1u);
}

}  // namespace
