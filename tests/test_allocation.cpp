// No allocation on the per-sample path: this program counts every C++
// allocation (allocation_count.cpp replaces the global operator new) and
// checks that the detector, with and without its trace, and the binary
// replay allocate nothing per sample. The previous implementation, which allocated its
// vector temporaries every sample, shows that the count sees them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "allocation_count.h"
#include "bench.h"
#include "previous.h"
#include "scenarios.h"
#include "test_support.h"

namespace {

// A walk, a forward fall, a double fall and a tumble: the detector's
// stages and several fall codes on the way.
std::vector<ImuSample> Samples()
{
    std::vector<ImuSample> samples;
    for (const char* name : {"walking", "fall_forward", "double_fall", "tumble"}) {
        const recgen::Scenario* scenario = recgen::FindScenario(name);
        EXPECT_NE(scenario, nullptr) << name;
        if (scenario != nullptr) {
            const std::vector<ImuSample> more = recgen::MakeRecording(*scenario).samples;
            samples.insert(samples.end(), more.begin(), more.end());
        }
    }
    return samples;
}

// Allocations while the detector processes every sample.
long AllocationsWhileProcessing(int (*process)(TumblewatchContext*, const ImuSample*), TumblewatchContext* ctx,
                                const std::vector<ImuSample>& samples)
{
    const long before = AllocationCount();
    int falls = 0;
    for (const ImuSample& s : samples) {
        falls += process(ctx, &s) > 0 ? 1 : 0;
    }
    EXPECT_GT(falls, 0);
    return AllocationCount() - before;
}

TEST(Allocation, DetectorAllocatesNothingPerSample)
{
    const std::vector<ImuSample> samples = Samples();
    {
        Detector untraced;
        EXPECT_EQ(AllocationsWhileProcessing(TumblewatchProcess, &untraced.ctx, samples), 0);
    }
    TraceCapture capture;
    Detector traced;
    EXPECT_EQ(AllocationsWhileProcessing(TumblewatchProcess, &traced.ctx, samples), 0);
    EXPECT_EQ(SplitLines(capture.Text()).size(), samples.size());
}

TEST(Allocation, TheCountSeesThePreviousTemporaries)
{
    const std::vector<ImuSample> samples = Samples();
    const PreviousImplementation& previous = TumblewatchPrevious();
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    TumblewatchContext ctx;
    ASSERT_EQ(previous.set(&ctx, &cfg), 0);
    const long counted = AllocationsWhileProcessing(previous.process, &ctx, samples);
    previous.close(&ctx);
    EXPECT_GT(counted, static_cast<long>(20 * samples.size()));
}

TEST(Allocation, ReplayAllocatesTheSameForAnyLength)
{
    TempDir dir;
    const std::vector<ImuSample> samples = Samples();
    WriteDataSet(dir / "short.bin", std::vector<ImuSample>(samples.begin(), samples.begin() + 10));
    WriteDataSet(dir / "long.bin", samples);
    const std::string shortPath = dir / "short.bin";
    const std::string longPath = dir / "long.bin";

    long before = AllocationCount();
    ASSERT_EQ(ReplayBinFile(shortPath.c_str()), 0);
    const long forShort = AllocationCount() - before;
    before = AllocationCount();
    ASSERT_EQ(ReplayBinFile(longPath.c_str()), 0);
    const long forLong = AllocationCount() - before;
    EXPECT_EQ(forLong, forShort) << samples.size() << " samples against 10";
    EXPECT_EQ(SplitLines(ReadFile(dir / "long.txt")).size(), samples.size());
}

}  // namespace
