// The impact, tumble and rotation-fall tests on a prepared context.
#include <gtest/gtest.h>

#include "criteria.h"
#include "test_support.h"

namespace {

class Decision : public testing::Test {
protected:
    Decision() { Rewind(); }
    void Rewind()
    {
        ctx().sampleCount = 500;
        ctx().ringIndex = 500 & 63;
    }
    TumblewatchContext& ctx() { return d.ctx; }
    Detector d;
};

class Impact : public Decision {
protected:
    int Check(int sum, int pitch = 0, int tilt = 0)
    {
        Rewind();
        ctx().accRawSum3 = static_cast<uint16_t>(sum);
        ctx().pitch = static_cast<int16_t>(pitch);
        ctx().tilt = static_cast<int16_t>(tilt);
        return CheckImpact(&ctx());
    }
    void Event(uint32_t sample, uint16_t length)
    {
        ctx().fallEventNext = 0;
        ctx().fallEvents[31] = FallEvent{sample, length};
    }
};

TEST_F(Impact, HardSumAfterAQuietRunOrARecentPhase)
{
    ctx().quietRun = 3;
    EXPECT_EQ(Check(1750), 6);
    EXPECT_EQ(ctx().sampleCount, 501u);  // ended through the common end
    EXPECT_EQ(Check(1749), 0);           // below the hard sum, and upright
    ctx().quietRun = 2;
    EXPECT_EQ(Check(1750), 0);
    Event(495, 3);  // five samples back, long enough
    EXPECT_EQ(Check(3000), 6);
    Event(494, 3);
    EXPECT_EQ(Check(3000), 0);
    Event(495, 2);
    EXPECT_EQ(Check(3000), 0);
}

TEST_F(Impact, SoftSumNeedsTheSensorTilted)
{
    ctx().quietRun = 7;
    EXPECT_EQ(Check(1350, 56, 0), 16);
    EXPECT_EQ(Check(1349, 56, 0), 0);
    EXPECT_EQ(Check(1749, -56, 0), 16);
    EXPECT_EQ(Check(1400, 0, 46), 16);
    // Exactly at the bounds is not tilted.
    EXPECT_EQ(Check(1400, 55, 45), 0);
    EXPECT_EQ(Check(1400, -55, 45), 0);
    EXPECT_EQ(Check(1400, 0, -120), 0);
    ctx().quietRun = 6;
    EXPECT_EQ(Check(1400, 60, 60), 0);
    Event(497, 7);
    EXPECT_EQ(Check(1400, 60, 60), 16);
}

TEST_F(Impact, HardSumNeverFallsThroughToTheSoftTest)
{
    d.cfg.impactHardLength = 10;  // stricter than the soft test
    ctx().quietRun = 8;
    EXPECT_EQ(Check(1400, 60, 60), 16);
    EXPECT_EQ(Check(1800, 60, 60), 0);
}

TEST_F(Impact, BeforeTheFirstEventOnlyTheQuietRunCounts)
{
    // The latest event reads sample 0, length 0.
    ctx().sampleCount = 3;
    ctx().quietRun = 2;
    EXPECT_EQ(CheckRecentLowPhase(&ctx(), 5, 3), false);
    EXPECT_EQ(CheckRecentLowPhase(&ctx(), 5, 0), true);
    ctx().quietRun = 3;
    EXPECT_EQ(CheckRecentLowPhase(&ctx(), 5, 3), true);
}

TEST_F(Impact, AgeRunsFromTheLatestConfirmation)
{
    ctx().fallEventNext = 5;
    ctx().fallEvents[4] = FallEvent{490, 9};
    ctx().fallEvents[3] = FallEvent{499, 9};  // older slot: not consulted
    EXPECT_FALSE(CheckRecentLowPhase(&ctx(), 9, 3));
    EXPECT_TRUE(CheckRecentLowPhase(&ctx(), 10, 3));
    EXPECT_TRUE(CheckRecentLowPhase(&ctx(), 10, 9));
    EXPECT_FALSE(CheckRecentLowPhase(&ctx(), 10, 10));
}

class Tumble : public Decision {
protected:
    // The last 64 samples all upright (or none).
    void AllUpright(bool upright)
    {
        for (unsigned k = 0; k < 64; ++k) {
            ctx().uprightRing[(ctx().ringIndex - k) & 63] = upright ? 1000 - k : 1000;
        }
    }
    int Check(int run)
    {
        Rewind();
        ctx().tumbleRun = static_cast<uint16_t>(run);
        return CheckTumble(&ctx());
    }
};

TEST_F(Tumble, RunCountsStrictlyStrongFastSamples)
{
    struct Case {
        int acc, gyro, run;
    };
    ctx().tumbleRun = 4;
    for (const Case c : {Case{151, 151, 5}, Case{150, 200, 0}, Case{200, 151, 1}, Case{200, 150, 0}}) {
        ctx().accRawMag = static_cast<uint16_t>(c.acc);
        ctx().gyroRawMag = static_cast<uint16_t>(c.gyro);
        CountTumble(&ctx());
        EXPECT_EQ(ctx().tumbleRun, c.run);
    }
    ctx().tumbleRun = 65535;
    ctx().accRawMag = 300;
    ctx().gyroRawMag = 300;
    CountTumble(&ctx());
    EXPECT_EQ(ctx().tumbleRun, 0);
}

TEST_F(Tumble, UprightSamplesLengthenTheRunNeeded)
{
    AllUpright(false);
    EXPECT_EQ(Check(18), 0);
    EXPECT_EQ(Check(19), 5);
    EXPECT_EQ(Check(20), 5);  // reported again while the run goes on
    AllUpright(true);
    EXPECT_EQ(Check(36), 0);
    EXPECT_EQ(Check(37), 5);  // 19 + 37 / 2
}

TEST_F(Tumble, WindowWrapsAtSixtyFour)
{
    d.cfg.tumbleLength = 50;
    AllUpright(true);
    EXPECT_EQ(Check(63), 0);  // 50 + 63 / 2
    EXPECT_EQ(Check(64), 5);  // the window is empty: h = 0
    EXPECT_EQ(Check(65), 5);  // one sample: h = 0
    EXPECT_EQ(Check(64 + 62), 5);
}

class Rotation : public Decision {
protected:
    int Check(int rises, int16_t gyroX, int tilt, int deep)
    {
        Rewind();
        ctx().gyroXRiseCount = static_cast<uint16_t>(rises);
        ctx().tilt = static_cast<int16_t>(tilt);
        ctx().fallDeepCount = static_cast<uint16_t>(deep);
        const ImuSample s{0, 0, 0, gyroX, 0, 0};
        return CheckRotationFall(&ctx(), &s);
    }
};

TEST_F(Rotation, LongFastRisingRunWhileTiltedAndDeep)
{
    EXPECT_EQ(Check(21, 6501, 35, 7), 71);
    EXPECT_EQ(Check(20, 6501, 35, 7), 0);
    EXPECT_EQ(Check(21, 6500, 35, 7), 0);
    EXPECT_EQ(Check(21, 6501, 34, 7), 0);
    EXPECT_EQ(Check(21, 6501, 35, 6), 0);
    EXPECT_EQ(Check(500, -32768, 170, 30), 0);
    d.cfg.tiltLimit = -20;
    EXPECT_EQ(Check(21, 6501, -20, 7), 71);
}

}  // namespace
