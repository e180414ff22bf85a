// The trace line: its fragments, their formats and the common end of a
// sample.
#include <gtest/gtest.h>

#include "test_support.h"
#include "trace.h"

namespace {

class Trace : public testing::Test {
protected:
    Trace()
    {
        TumblewatchDefault(&cfg);
        ctx.config = &cfg;
    }
    TraceCapture capture;
    TumblewatchConfig cfg;
    TumblewatchContext ctx{};
};

TEST_F(Trace, PartOneShowsSampleMagnitudesJumpAndAttitude)
{
    const ImuSample s{-12, 8192, 32767, -32768, 5, 0};
    ctx.sampleCount = 7;
    ctx.accRawMag = 101;
    ctx.accLpfMag = 99;
    ctx.accLpf2Mag = 100;
    ctx.gyroRawMag = 3;
    ctx.gyroLpfMag = 1250;
    ctx.jumpPeak = 210;
    ctx.jumpLastSample = 65;
    ctx.jumpScore = 9;
    ctx.jumpArea = 240;
    ctx.accLpfAvg = 98;
    ctx.gyroLpfAvg5 = 2;
    ctx.pitch = -4;
    ctx.tilt = 87;
    ctx.fallStartTilt = -3;
    ctx.upright = 1;
    ctx.gyroXRiseCount = 3;
    ctx.gyroXDropCount = 1;
    ctx.gyroXPrev = 6600;
    ctx.fallTraced = 1;
    TraceSample(&ctx, &s, 1);
    EXPECT_EQ(
        capture.Text(),
        "0007: AG <   -12,   8192,  32767><-32768,      5,      0>, RMS <101,  99, 100><  3, 1250>, JUMP (210,  65,   "
        "9,  240), AVG < 98,   2>, PX <  -4,   87,  90, O>< 3,  1, 6600>");
    EXPECT_EQ(ctx.fallTraced, 0);
}

TEST_F(Trace, PartOneNumberWidthIsAMinimumAndXMarksNotUpright)
{
    const ImuSample s{0, 0, 0, 0, 0, 0};
    ctx.sampleCount = 12345;
    ctx.upright = 0;
    TraceSample(&ctx, &s, 1);
    const std::string text = capture.Text();
    EXPECT_EQ(text.rfind("12345: AG <", 0), 0u);
    EXPECT_NE(text.find(", X><"), std::string::npos);
}

TEST_F(Trace, FallFragmentIsWrittenOncePerSample)
{
    ctx.fallLength = 5;
    ctx.quietRun = 12;
    ctx.fallDeepCount = 4;
    ctx.fallRecoverCount = 0;
    ctx.fallDepthSum = 260;
    ctx.gyroXHighRun = 2;
    ctx.fallScore = -4;
    ctx.fallLengthNow = 5;
    TraceSample(&ctx, nullptr, 2);
    TraceSample(&ctx, nullptr, 2);
    EXPECT_EQ(capture.Text(), ", FALL [ 5, 12,  4,  0,  260(65),  2, -4 :  5]");
    EXPECT_EQ(ctx.fallTraced, 1);
}

TEST_F(Trace, FallFragmentWithoutDeepSamplesShowsMeanDepthZero)
{
    TraceSample(&ctx, nullptr, 2);
    EXPECT_EQ(capture.Text(), ", FALL [ 0,  0,  0,  0,    0(00),  0,  0 :  0]");
}

TEST_F(Trace, PartThreeShowsTheTumbleThresholdOnceTheRunIsLong)
{
    ctx.tumbleRun = 18;
    ctx.accRawSum3 = 300;
    ctx.gyroLpfSum3 = 7;
    TraceSample(&ctx, nullptr, 3);
    EXPECT_EQ(capture.Text(), ", TF <18>, 3S < 300,   7>");

    ctx.tumbleRun = 19;
    ctx.ringIndex = 3;
    ctx.uprightRing[3] = 50;
    ctx.uprightRing[(3 - 19) & 63] = 43;  // 7 upright samples in the run
    TraceSample(&ctx, nullptr, 3);
    EXPECT_EQ(capture.Text(), ", TF <18>, 3S < 300,   7>, TF <19, 22>, 3S < 300,   7>");
}

TEST_F(Trace, RepeatCheckShortAndLongForms)
{
    ctx.peakValue = 412;
    TraceRepeatCheck(&ctx, -9, -1, -1, -1);
    TraceRepeatCheck(&ctx, 3, 12, 7, 10);
    EXPECT_EQ(capture.Text(), ", CF <-9>, CF < 3, 12,  7, 10, 412>");
}

TEST_F(Trace, ResultEndsTheLine)
{
    TraceResult(&ctx, 5);
    TraceResult(&ctx, 0);
    TraceResult(&ctx, -1);
    EXPECT_EQ(capture.Text(), " -> (5)\n\n\n");
}

TEST_F(Trace, UnknownPartWritesNothing)
{
    TraceSample(&ctx, nullptr, 0);
    TraceSample(&ctx, nullptr, 4);
    EXPECT_EQ(capture.Text(), "");
}

TEST_F(Trace, FinishSampleEndsTheLineAndAdvancesTheSample)
{
    ctx.ringIndex = 63;
    ctx.sampleCount = 99;
    EXPECT_EQ(FinishSample(&ctx, 71), 71);
    EXPECT_EQ(ctx.ringIndex, 0);
    EXPECT_EQ(ctx.sampleCount, 100u);
    EXPECT_EQ(capture.Text(), ", TF < 0>, 3S <   0,   0> -> (71)\n");
}

TEST(TraceOff, NothingIsWrittenAndTheSampleStillAdvances)
{
    ASSERT_EQ(fpTrace, nullptr);
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    TumblewatchContext ctx{};
    ctx.config = &cfg;
    const ImuSample s{};
    TraceSample(&ctx, &s, 1);
    TraceSample(&ctx, &s, 2);
    TraceRepeatCheck(&ctx, 1, 2, 3, 4);
    EXPECT_EQ(ctx.fallTraced, 0);  // nothing was traced
    EXPECT_EQ(FinishSample(&ctx, 6), 6);
    EXPECT_EQ(ctx.sampleCount, 1u);
    EXPECT_EQ(ctx.ringIndex, 1);
}

TEST(TraceLines, EverySampleAfterWarmUpCarriesOneFallFragment)
{
    TraceCapture capture;
    Detector d;
    d.Feed(kUpright, 60);
    d.Feed(ImuSample{0, -800, 0, 0, 0, 0}, 30);  // a long low-g phase
    d.Feed(kUpright, 30);
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 120u);
    for (size_t i = 40; i < lines.size(); ++i) {
        const size_t first = lines[i].find(", FALL [");
        ASSERT_NE(first, std::string::npos) << lines[i];
        EXPECT_EQ(lines[i].find(", FALL [", first + 1), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find(", 3S <"), std::string::npos);
    }
}

}  // namespace
