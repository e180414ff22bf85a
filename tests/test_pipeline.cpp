// The per-sample pipeline: warm-up, the decision cascade's length tests,
// the post-event peak window and the invariants of the context.
#include <gtest/gtest.h>

#include <random>

#include "criteria.h"
#include "test_support.h"

namespace {

TEST(Pipeline, WarmUpReturnsZeroAndTracesPartOneOnly)
{
    TraceCapture trace;
    Detector d;
    // A free fall from the first sample: nothing is decided during warm-up.
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(d.Feed(ImuSample{0, 0, 0, 0, 0, 0}), 0) << i;
        EXPECT_EQ(d.ctx.fallLength, 0);
    }
    d.Feed(ImuSample{0, 0, 0, 0, 0, 0});
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 41u);
    for (int i = 0; i < 40; ++i) {
        // The line ends with the two groups of the PX fragment.
        const size_t px = lines[i].find(", PX <");
        ASSERT_NE(px, std::string::npos) << lines[i];
        const size_t second = lines[i].find("><", px);
        ASSERT_NE(second, std::string::npos) << lines[i];
        EXPECT_EQ(lines[i].find('>', second + 2), lines[i].size() - 1) << lines[i];
        EXPECT_EQ(lines[i].find("FALL"), std::string::npos);
    }
    EXPECT_EQ(lines[0].rfind("0000: AG <", 0), 0u);
    EXPECT_EQ(lines[40].rfind("0040: AG <", 0), 0u);
    EXPECT_NE(lines[40].find(", FALL ["), std::string::npos);
    EXPECT_NE(lines[40].find(", TF <"), std::string::npos);
    EXPECT_NE(lines[40].find(", 3S <"), std::string::npos);
    EXPECT_EQ(d.ctx.fallLength, 1);  // the first phase opens at sample 40
    EXPECT_EQ(d.ctx.fallStartSample, 40u);
}

// The length tests on a prepared context.
class LengthTests : public testing::Test {
protected:
    int Code(int L, int A, int J, int G, int M)
    {
        ctx.fallLengthNow = static_cast<uint16_t>(L);
        ctx.fallScore = static_cast<int16_t>(A);
        ctx.jumpScore = static_cast<uint16_t>(J);
        ctx.gyroLpfAvg5 = static_cast<uint16_t>(G);
        ctx.accLpfAvg = static_cast<uint16_t>(M);
        return FallLengthCode(&ctx);
    }
    void SetUp() override
    {
        TumblewatchDefault(&cfg);
        ctx.config = &cfg;
    }
    TumblewatchConfig cfg;
    TumblewatchContext ctx{};
};

TEST_F(LengthTests, LowRotationNeedsTheAdjustedLength)
{
    // T = fallWindow - fallScore + jumpScore
    EXPECT_EQ(Code(16, 4, 0, 0, 100), 1);
    EXPECT_EQ(Code(15, 4, 0, 0, 100), 0);
    EXPECT_EQ(Code(19, 4, 3, 159, 100), 3);
    EXPECT_EQ(Code(18, 4, 3, 159, 100), 0);
    EXPECT_EQ(Code(24, -4, 0, 0, 100), 1);
    EXPECT_EQ(Code(23, -4, 0, 0, 100), 0);
}

TEST_F(LengthTests, CodesThreeAndOneWinOverNine)
{
    EXPECT_EQ(Code(38, 0, 0, 0, 0), 1);
    EXPECT_EQ(Code(40, 0, 2, 100, 0), 3);
    // Nine only when the earlier tests fail.
    EXPECT_EQ(Code(38, -30, 0, 0, 0), 9);
    EXPECT_EQ(Code(37, -30, 0, 0, 0), 0);
}

TEST_F(LengthTests, HighRotationWithTheAdjustedLengthIsTwelve)
{
    EXPECT_EQ(Code(20, 0, 0, 160, 100), 12);
    EXPECT_EQ(Code(25, 0, 5, 1000, 100), 12);
}

TEST_F(LengthTests, WeightedTestAtRotationLowComparesTheMeanItself)
{
    // G equal to rotationLow: w = 0 and V = M.
    EXPECT_EQ(Code(5, 0, 0, 160, 39), 2);
    EXPECT_EQ(Code(5, 0, 1, 160, 39), 4);
    EXPECT_EQ(Code(5, 0, 0, 160, 40), 0);
    // The length must reach (fallWindow + 1) / 4 = 5.
    EXPECT_EQ(Code(4, 0, 0, 160, 0), 0);
}

TEST_F(LengthTests, WeightedMeanIsTruncatedInFloat)
{
    // G = 260: w = 100 * 0.2 / 200 = 0.1; V = M - M * w.
    EXPECT_EQ(Code(10, 0, 0, 260, 44), 2);  // 39.6 -> 39
    EXPECT_EQ(Code(10, 0, 0, 260, 45), 0);  // 40.5 -> 40
    EXPECT_EQ(Code(10, 0, 0, 359, 49), 2);  // w = 0.199, 39.249 -> 39
}

TEST_F(LengthTests, AtOrAboveRotationHighTheWeightedTestIsSkipped)
{
    EXPECT_EQ(Code(10, 0, 0, 360, 0), 0);
    EXPECT_EQ(Code(10, 0, 0, 359, 0), 2);
    // Test 9 still applies after a skipped or failed weighted test.
    EXPECT_EQ(Code(38, -30, 0, 360, 0), 9);
    EXPECT_EQ(Code(38, -30, 0, 200, 100), 9);
}

TEST_F(LengthTests, ComparisonsAreSigned)
{
    cfg.rotationLow = -5;  // every rotation is "high"
    EXPECT_EQ(Code(20, 0, 0, 0, 100), 12);
    cfg.rotationLow = 160;
    cfg.weightedAccelMax = -1;
    EXPECT_EQ(Code(10, 0, 0, 200, 0), 0);
}

// A detector past warm-up with an open post-event peak window.
class PeakWindow : public testing::Test {
protected:
    void SetUp() override
    {
        d.Feed(kUpright, 45);
        d.ctx.peakWindowEnd = d.ctx.sampleCount + 4;
        d.ctx.peakValue = 150;
        d.ctx.peakSample = 1;
    }
    // A sample whose raw magnitude is about mag hundredths of g.
    static ImuSample Mag(int mag) { return ImuSample{0, static_cast<int16_t>(-mag * 8192 / 100 - 1), 0, 0, 0, 0}; }
    Detector d;
};

TEST_F(PeakWindow, PeakGrowsOnlyInsideTheWindow)
{
    const uint32_t start = d.ctx.sampleCount;
    d.Feed(Mag(140));
    EXPECT_EQ(d.ctx.peakValue, 150);
    EXPECT_EQ(d.ctx.peakSample, 1u);
    d.Feed(Mag(180));
    EXPECT_EQ(d.ctx.peakValue, 180);
    EXPECT_EQ(d.ctx.peakSample, start + 1);
    d.Feed(Mag(180));  // equal: the position stays
    EXPECT_EQ(d.ctx.peakSample, start + 1);
    d.Feed(Mag(190));
    EXPECT_EQ(d.ctx.peakValue, 190);
    EXPECT_EQ(d.ctx.peakSample, start + 3);
    d.Feed(Mag(250));  // the window has ended
    EXPECT_EQ(d.ctx.peakValue, 190);
    EXPECT_EQ(d.ctx.peakSample, start + 3);
}

TEST_F(PeakWindow, PeakSampleKeepsTheFullSampleNumber)
{
    d.ctx.sampleCount = 70000;
    d.ctx.peakWindowEnd = 70010;
    d.Feed(Mag(200));
    EXPECT_EQ(d.ctx.peakSample, 70000u);
}

// Sums of ring entries, for the invariants.
uint32_t RingSum(const uint16_t* ring, unsigned ringIndex, int n)
{
    uint32_t sum = 0;
    for (int k = 1; k <= n; ++k) {
        sum += ring[(ringIndex - k) & 63u];
    }
    return sum & 0xffffu;
}

TEST(Pipeline, InvariantsHoldOverALongRandomRecording)
{
    TraceCapture trace;
    Detector d;
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::normal_distribution<double> noise(0.0, 3000.0);
    for (int i = 0; i < 20000; ++i) {
        // Stretches of calm, noisy and wild samples.
        ImuSample s{};
        const int phase = (i / 500) % 3;
        auto pick = [&](int base) {
            if (phase == 2) {
                return static_cast<int16_t>(any(rng));
            }
            const double v = base + (phase == 1 ? noise(rng) : noise(rng) / 30.0);
            return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
        };
        s = ImuSample{pick(0), pick(-8192), pick(0), pick(0), pick(0), pick(0)};
        const int code = TumblewatchProcess(&d.ctx, &s);
        EXPECT_GE(code, 0);
        ASSERT_EQ(d.ctx.sampleCount, static_cast<uint32_t>(i + 1));
        ASSERT_EQ(d.ctx.ringIndex, d.ctx.sampleCount % 64);
        ASSERT_EQ(d.ctx.accLpfSum, RingSum(d.ctx.accLpfRing, d.ctx.ringIndex, d.cfg.fallWindow)) << i;
        ASSERT_EQ(d.ctx.gyroLpfSum5, RingSum(d.ctx.gyroLpfRing, d.ctx.ringIndex, 5)) << i;
        ASSERT_EQ(d.ctx.accRawSum3, RingSum(d.ctx.accRawRing, d.ctx.ringIndex, 3)) << i;
        ASSERT_EQ(d.ctx.gyroLpfSum3, RingSum(d.ctx.gyroLpfRing, d.ctx.ringIndex, 3)) << i;
        ASSERT_LT(d.ctx.fallEventNext, 32u);
        ASSERT_LE(d.ctx.upright, 1);
        ASSERT_LE(d.ctx.fallTraced, 1);
        ASSERT_LE(d.ctx.fallLength, 30);
    }
    EXPECT_EQ(trace.Lines().size(), 20000u);
}

TEST(Pipeline, ConfigurationIsReadThroughThePointer)
{
    Detector d;
    d.Feed(kUpright, 45);
    // Raise the quiet threshold above 1 g: the next sample counts as quiet.
    d.cfg.quietMagnitude = 200;
    d.Feed(kUpright);
    EXPECT_EQ(d.ctx.quietRun, 1);
    d.cfg.quietMagnitude = 60;
    d.Feed(kUpright);
    EXPECT_EQ(d.ctx.quietRun, 0);
}

}  // namespace
