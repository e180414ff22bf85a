// Hostile and huge recordings through the bench program: random bytes,
// all-zero and saturated samples in both formats, and a dataset of two
// million samples that has to stream through in little memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Values = TracedValues;

constexpr ImuSample kZero{0, 0, 0, 0, 0, 0};
constexpr ImuSample kHigh{32767, 32767, 32767, 32767, 32767, 32767};
constexpr ImuSample kLow{-32768, -32768, -32768, -32768, -32768, -32768};

// A fixed stream of pseudo-random words: the raw engine output, which the
// standard fixes for every library.
class Words {
public:
    explicit Words(uint32_t seed) : engine_(seed) {}
    uint32_t Next() { return static_cast<uint32_t>(engine_()); }
    int16_t Int16() { return static_cast<int16_t>(static_cast<uint16_t>(Next() >> 16)); }
    ImuSample Sample() { return ImuSample{Int16(), Int16(), Int16(), Int16(), Int16(), Int16()}; }

private:
    std::mt19937 engine_;
};

// The fall lines of the bench's console output.
std::string ConsoleFalls(const std::string& output)
{
    std::string falls;
    for (const std::string& line : SplitLines(output)) {
        if (line.find(" : Fall (") != std::string::npos) {
            falls += line + "\n";
        }
    }
    return falls;
}

// Replays the samples as a dataset and as a CSV recording (default layout)
// and checks that both run to the end, trace every sample exactly once as
// it was written, agree with each other, and that the CSV replay printed
// exactly the falls of its trace.
void ExpectBothFormatsTraceEverySample(const std::vector<ImuSample>& samples)
{
    TempDir dir;
    WriteDataSet(dir / "rec_bin.bin", samples);
    WriteFile(dir / "rec_csv.csv", CsvOf(samples));

    const BenchRun bin = RunBench(dir.path(), {"rec_bin.bin"});
    const BenchRun csv = RunBench(dir.path(), {"rec_csv.csv"});
    ASSERT_EQ(bin.status, 0) << bin.output;
    ASSERT_EQ(csv.status, 0) << csv.output;

    const std::string binTrace = ReadFile(dir / "rec_bin.txt");
    const std::string csvTrace = ReadFile(dir / "rec_csv.txt");
    const std::vector<std::string> lines = SplitLines(binTrace);
    ASSERT_EQ(lines.size(), samples.size());
    ASSERT_TRUE(binTrace.empty() || binTrace.back() == '\n');

    const std::vector<Values> traced = TracedSamples(binTrace);
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(traced[i], ValuesOf(samples[i])) << "sample " << i;
    }
    EXPECT_TRUE(binTrace == csvTrace) << "the CSV replay traced differently from the binary one";
    EXPECT_EQ(ConsoleFalls(csv.output), FallLinesOf(binTrace));
}

std::vector<ImuSample> Alternating(const ImuSample& a, const ImuSample& b, size_t n)
{
    std::vector<ImuSample> samples;
    samples.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        samples.push_back(i % 2 == 0 ? a : b);
    }
    return samples;
}

TEST(Robustness, RandomSamplesAreTracedExactlyInBothFormats)
{
    Words words(7);
    std::vector<ImuSample> samples(6000);
    std::generate(samples.begin(), samples.end(), [&] { return words.Sample(); });
    ExpectBothFormatsTraceEverySample(samples);
}

TEST(Robustness, AllZeroSamplesAreTracedInBothFormats)
{
    ExpectBothFormatsTraceEverySample(std::vector<ImuSample>(3000, kZero));
}

TEST(Robustness, SaturatedSamplesAreTracedInBothFormats)
{
    ExpectBothFormatsTraceEverySample(std::vector<ImuSample>(3000, kHigh));
    ExpectBothFormatsTraceEverySample(std::vector<ImuSample>(3000, kLow));
    ExpectBothFormatsTraceEverySample(Alternating(kHigh, kLow, 3000));
    // Each axis against its neighbour, the pattern flipping every sample.
    const ImuSample mixed{32767, -32768, 32767, -32768, 32767, -32768};
    const ImuSample flipped{-32768, 32767, -32768, 32767, -32768, 32767};
    ExpectBothFormatsTraceEverySample(Alternating(mixed, flipped, 3000));
}

TEST(Robustness, SaturationPastTheSixteenBitCountersWrap)
{
    // More samples than a 16-bit counter holds, so every run length, sum
    // and counter of the detector wraps at least once.
    TempDir dir;
    std::vector<ImuSample> samples = Alternating(kHigh, kLow, 35000);
    const std::vector<ImuSample> high(35000, kHigh);
    samples.insert(samples.end(), high.begin(), high.end());
    WriteDataSet(dir / "rec.bin", samples);
    ASSERT_EQ(RunBench(dir.path(), {"rec.bin"}).status, 0);
    const std::vector<std::string> lines = SplitLines(ReadFile(dir / "rec.txt"));
    ASSERT_EQ(lines.size(), samples.size());
    EXPECT_EQ(lines.back().rfind("69999: AG < 32767,  32767,  32767>", 0), 0u) << lines.back();
}

TEST(Robustness, DataSetOfRandomBytesDeliversItsWholeRecords)
{
    TempDir dir;
    Words words(11);
    std::string bytes = DataSetBytes({});
    for (int i = 0; i < 12 * 4000 + 7; ++i) {
        bytes.push_back(static_cast<char>(words.Next() >> 24));
    }
    WriteFile(dir / "rec.bin", bytes);
    ASSERT_EQ(RunBench(dir.path(), {"rec.bin"}).status, 0);
    EXPECT_EQ(SplitLines(ReadFile(dir / "rec.txt")).size(), 4000u);
}

TEST(Robustness, FileOfRandomBytesIsNoDataSet)
{
    TempDir dir;
    Words words(13);
    std::string bytes;
    for (int i = 0; i < 4096; ++i) {
        bytes.push_back(static_cast<char>(words.Next() >> 24));
    }
    WriteFile(dir / "rec.bin", bytes);
    const BenchRun run = RunBench(dir.path(), {"rec.bin"});
    EXPECT_EQ(run.status, 2);  // reported as not a dataset
    EXPECT_FALSE(PathExists(dir / "rec.txt"));
}

TEST(Robustness, CsvOfRandomBytesRunsToTheEndInBothLayouts)
{
    // Bytes of every value, digits, commas, signs and line ends weighted so
    // that many lines are taken as rows.
    Words words(17);
    std::string bytes;
    for (int i = 0; i < 64 * 1024; ++i) {
        const uint32_t w = words.Next();
        const uint32_t pick = w % 100;
        const char digit = static_cast<char>('0' + (w >> 8) % 10);
        bytes.push_back(pick < 45   ? digit
                        : pick < 60 ? ','
                        : pick < 62 ? '\n'
                        : pick < 66 ? '-'
                                    : static_cast<char>(w >> 24));
    }
    for (const bool micom : {false, true}) {
        TempDir dir;
        if (micom) {
            WriteFile(dir / "micom.txt", "");
        }
        WriteFile(dir / "rec.csv", bytes);
        const BenchRun run = RunBench(dir.path(), {"rec.csv"});
        ASSERT_EQ(run.status, 0) << "micom " << micom;
        const std::string trace = ReadFile(dir / "rec.txt");
        EXPECT_GT(SplitLines(trace).size(), 100u) << "micom " << micom;
        TracedSamples(trace);
        EXPECT_EQ(ConsoleFalls(run.output), FallLinesOf(trace)) << "micom " << micom;
    }
}

// ---------------------------------------------------------------------------
// Two million samples: about eleven hours of wear.

constexpr uint32_t kLongSamples = 2000000;

// Writes the long dataset in pieces, so that the test itself stays small
// (the child's peak size below includes this process's pages at the fork).
// Blocks of 5000 samples take turns: standing with noise, a walking-like
// swing, random samples, saturation and free fall.
void WriteLongDataSet(const std::string& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string header = DataSetBytes({});
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    Words words(23);
    std::vector<ImuSample> block;
    for (uint32_t first = 0; first < kLongSamples; first += 5000) {
        block.clear();
        const uint32_t kind = (first / 5000) % 5;
        for (uint32_t i = 0; i < 5000; ++i) {
            const int noise = static_cast<int>(words.Next() % 200) - 100;
            const int swing = static_cast<int>(i % 50) < 25 ? 2000 : -2000;
            switch (kind) {
            case 0:
                block.push_back(ImuSample{static_cast<int16_t>(noise), static_cast<int16_t>(-8192 + noise), 0,
                                          static_cast<int16_t>(noise), 0, 0});
                break;
            case 1:
                block.push_back(ImuSample{static_cast<int16_t>(swing / 4), static_cast<int16_t>(-8192 + swing),
                                          static_cast<int16_t>(noise), static_cast<int16_t>(swing), 0, 0});
                break;
            case 2:
                block.push_back(words.Sample());
                break;
            case 3:
                block.push_back(i % 2 == 0 ? kHigh : kLow);
                break;
            default:
                block.push_back(kZero);
                break;
            }
        }
        const std::string bytes = DataSetBytes(block).substr(header.size());
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (!out) {
        FAIL() << "cannot write " << path;
    }
}

// Counts the lines of a file without holding it, and keeps the last one.
uint64_t CountLines(const std::string& path, std::string* lastLine)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        ADD_FAILURE() << "cannot read " << path;
        return 0;
    }
    std::vector<char> buf(1 << 20);
    uint64_t lines = 0;
    std::string current;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        const char* p = buf.data();
        const char* end = p + n;
        for (;;) {
            const char* nl = std::find(p, end, '\n');
            current.append(p, nl);
            if (nl == end) {
                break;
            }
            ++lines;
            lastLine->swap(current);
            current.clear();
            p = nl + 1;
        }
    }
    std::fclose(f);
    EXPECT_TRUE(current.empty()) << "the trace ends inside a line";
    return lines;
}

long ResidentKib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

TEST(Robustness, TwoMillionSamplesStreamThroughInLittleMemory)
{
    TempDir dir;
    WriteLongDataSet(dir / "long.bin");
    const long ownKib = ResidentKib();
    const BenchRun run = RunBench(dir.path(), {"long.bin"});
    ASSERT_EQ(run.status, 0) << run.output;

    std::string lastLine;
    EXPECT_EQ(CountLines(dir / "long.txt", &lastLine), kLongSamples);
    EXPECT_EQ(lastLine.rfind("1999999: AG <", 0), 0u) << lastLine;

    if (!kSanitizedBuild) {
        EXPECT_LT(run.maxRssKib, 16 * 1024)
            << "peak resident size of the replay in KiB; this test process had " << ownKib << " KiB at the fork";
    }
    std::printf("peak resident size of the replay: %ld KiB (test process at the fork: %ld KiB)\n", run.maxRssKib,
                ownKib);
}

}  // namespace
