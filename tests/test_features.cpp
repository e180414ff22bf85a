// Feature stages: attitude calibration, gyro-X rise counter, upright count
// and the three-sample sums.
#include <gtest/gtest.h>

#include <vector>

#include "feature_stages.h"
#include "test_support.h"

namespace {

class Features : public testing::Test {
protected:
    // Runs the calibration on fresh angles, as the pipeline does after
    // every orientation update.
    void Calibrate(uint32_t sample, int16_t pitch, int16_t tilt, uint16_t accRawMag = 100)
    {
        ctx().sampleCount = sample;
        ctx().accRawMag = accRawMag;
        ctx().pitch = pitch;
        ctx().tilt = tilt;
        CalibrateAttitude(&ctx());
    }
    TumblewatchContext& ctx() { return d.ctx; }
    Detector d;
};

TEST_F(Features, CalibrationCapturesOffsetsOnceInsideTheWindow)
{
    Calibrate(55, 7, -3);
    EXPECT_EQ(ctx().pitchOffset, -7);
    EXPECT_EQ(ctx().tiltOffset, 3);
    // Not corrected in the calibrating sample itself.
    EXPECT_EQ(ctx().pitch, 7);
    EXPECT_EQ(ctx().tilt, -3);

    Calibrate(56, 7, -3);
    EXPECT_EQ(ctx().pitch, 0);
    EXPECT_EQ(ctx().tilt, 0);
    // Fixed for good: later quiet samples do not move the offsets.
    Calibrate(57, 12, 10);
    EXPECT_EQ(ctx().pitchOffset, -7);
    EXPECT_EQ(ctx().tiltOffset, 3);
    EXPECT_EQ(ctx().pitch, 5);
    EXPECT_EQ(ctx().tilt, 13);
}

TEST_F(Features, CalibrationWindowBoundsAreExclusiveWhereStated)
{
    struct Case {
        uint32_t sample;
        int16_t pitch, tilt;
        uint16_t mag;
    };
    for (const Case c : {Case{49, 7, -3, 100}, Case{60, 7, -3, 100}, Case{55, 7, -3, 95}, Case{55, 7, -3, 105},
                         Case{55, 20, -3, 100}, Case{55, -20, -3, 100}, Case{55, 7, 25, 100}, Case{55, 7, -25, 100}}) {
        ctx().pitchOffset = 0;
        ctx().tiltOffset = 0;
        Calibrate(c.sample, c.pitch, c.tilt, c.mag);
        EXPECT_EQ(ctx().pitchOffset, 0) << c.sample << " " << c.pitch << " " << c.tilt << " " << c.mag;
        EXPECT_EQ(ctx().tiltOffset, 0) << c.sample << " " << c.pitch << " " << c.tilt << " " << c.mag;
    }
    Calibrate(50, 19, 24, 96);
    EXPECT_EQ(ctx().pitchOffset, -19);
    EXPECT_EQ(ctx().tiltOffset, -24);
}

TEST_F(Features, AZeroAngleLeavesItsOffsetUncalibratedAndIsTriedAgain)
{
    Calibrate(50, 0, 4);
    EXPECT_EQ(ctx().pitchOffset, 0);
    EXPECT_EQ(ctx().tiltOffset, -4);
    Calibrate(51, 2, 9);
    EXPECT_EQ(ctx().pitchOffset, -2);
    EXPECT_EQ(ctx().tilt, 5);
}

TEST_F(Features, TiltIsWrappedBeforeCalibrationAndCorrection)
{
    Calibrate(10, 0, -200);
    EXPECT_EQ(ctx().tilt, 160);
    Calibrate(10, 0, -180);
    EXPECT_EQ(ctx().tilt, -180);
    // The tilt offset is tested against the wrapped value, and the
    // corrected angle is not wrapped again.
    Calibrate(52, 3, -350);
    EXPECT_EQ(ctx().tiltOffset, -10);
    Calibrate(53, 3, -260);
    EXPECT_EQ(ctx().tilt, 90);
    Calibrate(54, 3, -180);
    EXPECT_EQ(ctx().tilt, -190);
}

TEST_F(Features, CalibrationTestsTheCorrectedPitchForTheTiltOffset)
{
    ctx().pitchOffset = -30;
    Calibrate(55, 40, 5);  // corrected pitch 10 lies inside the window
    EXPECT_EQ(ctx().pitch, 10);
    EXPECT_EQ(ctx().tiltOffset, -5);
}

std::vector<int> RiseCounts(TumblewatchContext* ctx, const std::vector<int16_t>& gyroX, std::vector<int>* drops)
{
    std::vector<int> rises;
    for (int16_t g : gyroX) {
        const ImuSample s{0, 0, 0, g, 0, 0};
        TrackRotation(ctx, &s);
        rises.push_back(ctx->gyroXRiseCount);
        drops->push_back(ctx->gyroXDropCount);
    }
    return rises;
}

TEST_F(Features, RotationRunToleratesTwoDropsAndEndsAtTheThird)
{
    std::vector<int> drops;
    EXPECT_EQ(RiseCounts(&ctx(), {10, 20, 30, 25, 24, 23}, &drops), (std::vector<int>{1, 2, 3, 3, 3, 0}));
    EXPECT_EQ(drops, (std::vector<int>{0, 0, 0, 1, 2, 0}));
    EXPECT_EQ(ctx().gyroXPrev, 23);
}

TEST_F(Features, RotationRiseClearsTheDropCount)
{
    std::vector<int> drops;
    EXPECT_EQ(RiseCounts(&ctx(), {10, 20, 15, 30, 30}, &drops), (std::vector<int>{1, 2, 2, 3, 3}));
    EXPECT_EQ(drops, (std::vector<int>{0, 0, 1, 0, 0}));
}

TEST_F(Features, NonPositiveRateEndsARunButIdleKeepsThePreviousValue)
{
    for (int16_t end : {0, -40}) {
        std::vector<int> drops;
        ctx().gyroXRiseCount = 0;
        ctx().gyroXPrev = 0;
        EXPECT_EQ(RiseCounts(&ctx(), {10, 20, end}, &drops), (std::vector<int>{1, 2, 0}));
        EXPECT_EQ(ctx().gyroXPrev, 0);
        EXPECT_EQ(ctx().gyroXDropCount, 0);
    }
    // Idle: a falling positive value counts no drop but is remembered, and
    // a non-positive sample changes nothing.
    std::vector<int> drops;
    ctx().gyroXPrev = 50;
    EXPECT_EQ(RiseCounts(&ctx(), {40, -5}, &drops), (std::vector<int>{0, 0}));
    EXPECT_EQ(ctx().gyroXPrev, 40);
    EXPECT_EQ(drops, (std::vector<int>{0, 0}));
}

TEST_F(Features, UprightNeedsBothAnglesStrictlyInsideTheLimits)
{
    struct Case {
        int16_t pitch, tilt;
        uint16_t upright;
    };
    uint32_t total = 0;
    ctx().ringIndex = 7;
    for (const Case c :
         {Case{0, 0, 1}, Case{64, 34, 1}, Case{-64, -200, 1}, Case{65, 0, 0}, Case{-65, 0, 0}, Case{0, 35, 0}}) {
        ctx().pitch = c.pitch;
        ctx().tilt = c.tilt;
        TrackUpright(&ctx());
        total += c.upright;
        EXPECT_EQ(ctx().upright, c.upright) << c.pitch << " " << c.tilt;
        EXPECT_EQ(ctx().uprightTotal, total);
        EXPECT_EQ(ctx().uprightRing[7], total);
    }
}

TEST_F(Features, UprightCountIsTheDifferenceOfRingEntries)
{
    ctx().ringIndex = 2;
    ctx().uprightRing[2] = 100;
    ctx().uprightRing[(2 - 17) & 63] = 90;
    ctx().uprightRing[(2 - 30) & 63] = 75;
    EXPECT_EQ(UprightCount(&ctx(), 17), 10u);
    EXPECT_EQ(UprightCount(&ctx(), 30), 25u);
    EXPECT_EQ(UprightCount(&ctx(), 64), 0u);  // the window wraps onto itself
}

TEST_F(Features, ShortSumsSlideAndWrapModulo65536)
{
    ctx().ringIndex = 1;
    ctx().accRawRing[(1 - 3) & 63] = 40;
    ctx().accRawSum3 = 30;
    ctx().accRawMag = 7;
    ctx().gyroLpfRing[(1 - 3) & 63] = 3;
    ctx().gyroLpfSum3 = 65534;
    ctx().gyroLpfMag = 10;
    UpdateShortSums(&ctx());
    EXPECT_EQ(ctx().accRawSum3, static_cast<uint16_t>(30 - 40 + 7));
    EXPECT_EQ(ctx().gyroLpfSum3, static_cast<uint16_t>(65534 - 3 + 10));
}

}  // namespace
