// No allocation on the per-sample path: this program counts every C++
// allocation (it replaces the global operator new) and checks that the
// detector, with and without its trace, and the binary replay allocate
// nothing per sample. The previous implementation, which allocated its
// vector temporaries every sample, shows that the count sees them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "bench.h"
#include "previous.h"
#include "scenarios.h"
#include "test_support.h"

namespace {

std::atomic<long> allocations{0};

}  // namespace

void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t /*size*/) noexcept
{
    std::free(p);
}

namespace {

// A walk, a fall and a tumble, then the generated long mixed day: every
// stage and fall code of the detector on the way.
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
    const long before = allocations.load();
    int falls = 0;
    for (const ImuSample& s : samples) {
        falls += process(ctx, &s) > 0 ? 1 : 0;
    }
    EXPECT_GT(falls, 0);
    return allocations.load() - before;
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

    long before = allocations.load();
    ASSERT_EQ(ReplayBinFile(shortPath.c_str()), 0);
    const long forShort = allocations.load() - before;
    before = allocations.load();
    ASSERT_EQ(ReplayBinFile(longPath.c_str()), 0);
    const long forLong = allocations.load() - before;
    EXPECT_EQ(forLong, forShort) << samples.size() << " samples against 10";
    EXPECT_EQ(SplitLines(ReadFile(dir / "long.txt")).size(), samples.size());
}

}  // namespace
