// Low-pass filters, magnitudes and the filtered magnitudes of the pipeline.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "lpf.h"
#include "test_support.h"

namespace {

TEST(SharedLowPass, CoefficientsOfTheBilinearDesign)
{
    LpfInit();
    EXPECT_NEAR(a1, -0.88182157f, 1e-8f);
    EXPECT_NEAR(b0, 0.059089199f, 1e-9f);
    EXPECT_EQ(b1, b0);
}

TEST(SharedLowPass, StepResponseSettlesJustBelowOne)
{
    LpfInit();
    LpfState st{0.0f, 0.0f, 0.0f};
    const float one = 1.0f;
    const float expected[3] = {0.059089f, 0.170285f, 0.268339f};
    for (float e : expected) {
        LpfStep(&one, &st.out, &st.inPrev, &st.outPrev);
        EXPECT_NEAR(st.out, e, 1e-6f);
        EXPECT_EQ(st.outPrev, st.out);
        EXPECT_EQ(st.inPrev, 1.0f);
    }
    for (int i = 0; i < 500; ++i) {
        LpfStep(&one, &st.out, &st.inPrev, &st.outPrev);
    }
    EXPECT_LT(st.out, 1.0f);
    EXPECT_NEAR(st.out, 0.99999928f, 1e-8f);
    // Its input is only read.
    EXPECT_EQ(one, 1.0f);
}

TEST(SharedLowPass, ZeroInZeroOut)
{
    LpfInit();
    LpfState st{0.0f, 0.0f, 0.0f};
    const float zero = 0.0f;
    LpfStep(&zero, &st.out, &st.inPrev, &st.outPrev);
    EXPECT_EQ(st.out, 0.0f);
    EXPECT_FALSE(std::signbit(st.out));
}

TEST(TriAxisLowPass, StepResponseReachesOneAtStepNumberTwentyThree)
{
    TriAxisLpf f;
    EXPECT_EQ(TriAxisLpfInit(&f, 50, 5), 0);
    EXPECT_NEAR(f.a1, -0.52207005f, 1e-7f);
    EXPECT_NEAR(f.b0, 0.23896502f, 1e-7f);
    const float expected[3] = {0.238965f, 0.602687f, 0.792575f};
    // Steps numbered from 0, as the samples are.
    for (int step = 0; step < 200; ++step) {
        EXPECT_EQ(TriAxisLpfStep(&f, 1.0f, 0.0f, -2.0f), 0);
        if (step < 3) {
            EXPECT_NEAR(f.out[0], expected[step], 1e-6f);
        }
        if (step < 23) {
            EXPECT_LT(f.out[0], 1.0f) << step;
        }
        if (step == 23) {
            EXPECT_EQ(f.out[0], 1.0f);
        }
        EXPECT_EQ(f.out[1], 0.0f);
        EXPECT_EQ(f.inPrev[2], -2.0f);
    }
    EXPECT_EQ(f.out[0], std::nextafter(1.0f, 2.0f));  // 1.0000001
}

TEST(Magnitude, AccelerationInHundredthsTruncated)
{
    EXPECT_EQ(AccelMagnitude(0.0f, 0.0f, 1.0f), 100);
    EXPECT_EQ(AccelMagnitude(0.0f, -8191.0f / 8192.0f, 0.0f), 99);
    EXPECT_EQ(AccelMagnitude(0.6f, 0.8f, 0.0f), 100);
    EXPECT_EQ(AccelMagnitude(-4.0f, -4.0f, -4.0f), 692);
    EXPECT_EQ(AccelMagnitude(0.0f, 0.0f, 0.0f), 0);
}

TEST(Magnitude, AngularRateInWholeDegrees)
{
    EXPECT_EQ(GyroMagnitude(6554.0f / 65.536f, 0.0f, 0.0f), 100);
    EXPECT_EQ(GyroMagnitude(-99.9f, 0.0f, 0.0f), 99);
    EXPECT_EQ(GyroMagnitude(500.0f, 500.0f, 500.0f), 866);
}

TEST(Magnitude, RootIsThePowerOneHalfInDoubleRoundedToFloat)
{
    // Values at which the single-precision powf rounds differently.
    EXPECT_EQ(RootHalf(0x1.006ee6p+0f), 0x1.00376cp+0f);
    EXPECT_EQ(RootHalf(0x1.011aecp+0f), 0x1.008d4ep+0f);
    EXPECT_EQ(RootHalf(4.0f), 2.0f);
    EXPECT_EQ(RootHalf(0.0f), 0.0f);
    EXPECT_EQ(MagnitudeRoot(3.0f, 0.0f, -4.0f), 5.0f);
}

TEST(PipelineMagnitudes, FlatAtOneGFromSetUp)
{
    Detector d;
    const ImuSample flat{0, 0, 8192, 0, 0, 0};
    const int lpf[10] = {5, 17, 26, 35, 43, 49, 55, 60, 65, 69};
    const int lpf2[7] = {23, 60, 79, 89, 94, 97, 98};
    for (int i = 0; i < 400; ++i) {
        d.Feed(flat);
        EXPECT_EQ(d.ctx.accRawMag, 100) << i;
        if (i < 10) {
            EXPECT_EQ(d.ctx.accLpfMag, lpf[i]) << i;
        }
        if (i < 7) {
            EXPECT_EQ(d.ctx.accLpf2Mag, lpf2[i]) << i;
        } else if (i <= 22) {
            EXPECT_EQ(d.ctx.accLpf2Mag, 99) << i;
        } else {
            EXPECT_EQ(d.ctx.accLpf2Mag, 100) << i;
        }
    }
    EXPECT_EQ(d.ctx.accLpfMag, 99);
    EXPECT_EQ(d.ctx.gyroRawMag, 0);
}

TEST(PipelineMagnitudes, GyroScaling)
{
    Detector d;
    d.Feed(ImuSample{0, 0, 8192, 6554, 0, 0});
    EXPECT_EQ(d.ctx.gyroRawMag, 100);
    d.Feed(ImuSample{0, 0, 8192, 0, -6554, 0});
    EXPECT_EQ(d.ctx.gyroRawMag, 100);
    d.Feed(ImuSample{0, 0, 8192, -32768, -32768, -32768});
    EXPECT_EQ(d.ctx.gyroRawMag, 866);
    d.Feed(ImuSample{0, 0, 8192, 32767, 32767, 32767});
    EXPECT_EQ(d.ctx.gyroRawMag, 865);
}

}  // namespace
