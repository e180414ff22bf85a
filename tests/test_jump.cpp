// Jump tracking on a prepared context.
#include <gtest/gtest.h>

#include "criteria.h"
#include "test_support.h"

namespace {

class Jump : public testing::Test {
protected:
    Jump() { ctx().sampleCount = 100; }
    // One sample with raw magnitude mag; the sample number advances.
    void Sample(int mag, int lpfMag = 100)
    {
        ctx().accRawMag = static_cast<uint16_t>(mag);
        ctx().accLpfMag = static_cast<uint16_t>(lpfMag);
        TrackJump(&ctx());
        ctx().sampleCount += 1;
    }
    TumblewatchContext& ctx() { return d.ctx; }
    Detector d;
};

TEST_F(Jump, ThreeRisingSamplesScoreByTheirPeakAndFourQuietOnesEndTheJump)
{
    const int samples[3] = {1, 2, 3};
    const int areas[3] = {50, 130, 240};
    const int mags[3] = {150, 180, 210};
    for (int i = 0; i < 3; ++i) {
        Sample(mags[i]);
        EXPECT_EQ(ctx().jumpSamples, samples[i]);
        EXPECT_EQ(ctx().jumpArea, areas[i]);
        EXPECT_EQ(ctx().jumpPeak, mags[i]);
        EXPECT_EQ(ctx().jumpLastSample, 100u + i);
        EXPECT_EQ(ctx().jumpScore, i < 2 ? 0 : 9);
    }
    EXPECT_EQ(ctx().jumpScoredPeak, 210);
    for (int gap = 1; gap <= 4; ++gap) {
        Sample(100);
        EXPECT_EQ(ctx().jumpGap, gap);
        EXPECT_EQ(ctx().jumpArea, gap < 4 ? 240 : 0);
        EXPECT_EQ(ctx().jumpPeak, gap < 4 ? 210 : 0);
        EXPECT_EQ(ctx().jumpScore, 9);
    }
    EXPECT_EQ(ctx().jumpScoredPeak, 210);
}

TEST_F(Jump, BandBoundsAreExclusive)
{
    Sample(140);
    Sample(400);
    Sample(1000);
    EXPECT_EQ(ctx().jumpArea, 0);
    EXPECT_EQ(ctx().jumpPeak, 0);
    EXPECT_EQ(ctx().jumpLastSample, 0u);
    Sample(141);
    Sample(399);
    EXPECT_EQ(ctx().jumpArea, 41 + 299);
    EXPECT_EQ(ctx().jumpSamples, 2);
    // A spike above the band adds nothing and counts toward the gap.
    Sample(450);
    EXPECT_EQ(ctx().jumpArea, 340);
    EXPECT_EQ(ctx().jumpGap, 1);
}

TEST_F(Jump, PeakScoreTable)
{
    struct Case {
        int peak, score;
    };
    for (const Case c : {Case{160, 0}, Case{161, 3}, Case{168, 4}, Case{200, 8}, Case{201, 8}, Case{210, 9},
                         Case{250, 13}, Case{251, 13}, Case{399, 13}}) {
        TumblewatchContext& x = ctx();
        ResetJump(&x);
        x.jumpArea = 0;
        Sample(145);
        Sample(145);
        Sample(c.peak);
        EXPECT_EQ(x.jumpScore, c.score) << c.peak;
        for (int i = 0; i < 4; ++i) {
            Sample(100);
        }
        x.jumpPeak = 1;  // let ResetJump clear the held score
    }
}

TEST_F(Jump, OneOrTwoSamplesNeverScore)
{
    Sample(300);
    Sample(300);
    EXPECT_EQ(ctx().jumpScore, 0);
    Sample(300);
    EXPECT_EQ(ctx().jumpScore, 13);
}

TEST_F(Jump, AreaRuleScoresLongLowJumps)
{
    // 160 adds 60 a sample and its peak alone scores nothing.
    for (int i = 0; i < 17; ++i) {
        Sample(160);
    }
    EXPECT_EQ(ctx().jumpArea, 1020);
    EXPECT_EQ(ctx().jumpScore, 0);
    Sample(160);
    EXPECT_EQ(ctx().jumpArea, 1080);
    EXPECT_EQ(ctx().jumpScore, 1);
    Sample(159);
    EXPECT_EQ(ctx().jumpArea, 1139);
    EXPECT_EQ(ctx().jumpScore, 1);
    Sample(141);
    EXPECT_EQ(ctx().jumpScore, 2);  // 1180
    while (ctx().jumpArea < 1800) {
        Sample(160);
    }
    EXPECT_EQ(ctx().jumpArea, 1840);
    EXPECT_EQ(ctx().jumpScore, 13);
    Sample(399);
    EXPECT_EQ(ctx().jumpScore, 13);
}

TEST_F(Jump, PeakRuleCanLowerAScoreThatTheAreaGave)
{
    for (int i = 0; i < 30; ++i) {
        Sample(150);  // area 1500: score 8 from the area, scored peak 150
    }
    ASSERT_EQ(ctx().jumpScore, 8);
    ASSERT_EQ(ctx().jumpScoredPeak, 150);
    // The first deep sample of a low phase clears the area: the next
    // in-band samples start a new jump with the old peak and score.
    ctx().jumpArea = 0;
    Sample(145);
    Sample(145);
    EXPECT_EQ(ctx().jumpScore, 8);
    Sample(165);  // S(165) = 3, and the new area is far below 1080
    EXPECT_EQ(ctx().jumpScore, 3);
    EXPECT_EQ(ctx().jumpScoredPeak, 165);
    ctx().jumpArea = 0;
    Sample(145);
    Sample(145);
    Sample(150);
    EXPECT_EQ(ctx().jumpScore, 3);  // peak 165 held: no rescoring
}

TEST_F(Jump, ResetsNeedAHeldPeak)
{
    Sample(150);
    Sample(180);
    Sample(210);
    // The gap rule clears the peak after four quiet samples; the 9- and
    // 50-sample resets then find no peak and the score persists.
    for (int i = 0; i < 60; ++i) {
        Sample(100);
    }
    EXPECT_EQ(ctx().jumpScore, 9);
    EXPECT_EQ(ctx().jumpScoredPeak, 210);
}

TEST_F(Jump, NineSampleResetWaitsForTheLowPhaseToClose)
{
    ctx().jumpScore = 9;
    ctx().jumpPeak = 210;
    ctx().jumpScoredPeak = 210;
    ctx().jumpLastSample = 100;
    ctx().jumpArea = 0;  // cleared by a low phase: no gap rule
    ctx().fallLength = 3;
    ctx().sampleCount = 110;
    Sample(100);
    EXPECT_EQ(ctx().jumpScore, 9);  // a phase is open
    ctx().fallLength = 0;
    ctx().sampleCount = 109;
    Sample(100);
    EXPECT_EQ(ctx().jumpScore, 9);  // 109 is not past 100 + 9
    Sample(100);
    EXPECT_EQ(ctx().jumpScore, 0);
    EXPECT_EQ(ctx().jumpPeak, 0);
    EXPECT_EQ(ctx().jumpScoredPeak, 0);
}

TEST_F(Jump, FiftySampleResetRunsWhileAPhaseIsOpen)
{
    ctx().jumpScore = 4;
    ctx().jumpPeak = 170;
    ctx().jumpLastSample = 100;
    ctx().fallLength = 10;
    ctx().sampleCount = 150;
    Sample(100);
    EXPECT_EQ(ctx().jumpScore, 4);
    Sample(100);
    EXPECT_EQ(ctx().jumpScore, 0);
}

TEST_F(Jump, StrongInBandSampleDuringAPhaseStartsAFreshJump)
{
    Sample(150);
    Sample(180);
    Sample(210);
    ctx().fallLength = 4;
    Sample(195, 61);
    EXPECT_EQ(ctx().jumpSamples, 1);
    EXPECT_EQ(ctx().jumpArea, 95);
    EXPECT_EQ(ctx().jumpPeak, 195);
    EXPECT_EQ(ctx().jumpScore, 0);
    EXPECT_EQ(ctx().jumpScoredPeak, 0);
}

TEST_F(Jump, InBandResetIsSkippedAtItsBoundsOrWithoutAPeak)
{
    Sample(150);
    Sample(180);
    Sample(210);
    ctx().fallLength = 4;
    Sample(190, 61);  // not above 190
    Sample(195, 60);  // filtered magnitude not above 60
    ctx().fallLength = 3;
    Sample(195, 61);  // length not above 3
    EXPECT_EQ(ctx().jumpScore, 9);
    EXPECT_EQ(ctx().jumpSamples, 6);
    // With the peak cleared the reset does nothing, whatever else holds.
    ctx().jumpPeak = 0;
    ctx().fallLength = 10;
    Sample(195, 61);
    EXPECT_EQ(ctx().jumpScore, 9);
    EXPECT_EQ(ctx().jumpPeak, 195);
}

}  // namespace
