// Low-g phases, their score, the event ring and the repeat-fall test on a
// prepared context.
#include <gtest/gtest.h>

#include "criteria.h"
#include "test_support.h"

namespace {

class LowPhase : public testing::Test {
protected:
    LowPhase()
    {
        ctx().sampleCount = 200;
        ctx().ringIndex = 200 & 63;
    }
    // One sample of the decision pass with second-filter magnitude m;
    // returns TrackFall's code. Without a code the sample is ended here.
    int Low(int m, int lpfMag = 100, int rawMag = 100, int16_t gyroX = 0)
    {
        ctx().accLpf2Mag = static_cast<uint16_t>(m);
        ctx().accLpfMag = static_cast<uint16_t>(lpfMag);
        ctx().accRawMag = static_cast<uint16_t>(rawMag);
        ctx().fallLengthNow = 0;
        const ImuSample s{0, 0, 0, gyroX, 0, 0};
        const int code = TrackFall(&ctx(), &s);
        if (code == 0) {
            ctx().sampleCount += 1;
            ctx().ringIndex = static_cast<uint16_t>(ctx().sampleCount & 63);
        }
        return code;
    }
    // Forgets the open phase, as if it had been closed long ago.
    void ResetPhase()
    {
        ctx().fallLength = 0;
        ctx().fallDeepCount = 0;
        ctx().fallDepthSum = 0;
        ctx().fallLongPrelude = 0;
        ctx().fallRecoverCount = 0;
    }
    TumblewatchContext& ctx() { return d.ctx; }
    Detector d;
};

TEST_F(LowPhase, DeepeningPhaseIsConfirmedAtItsFifthSample)
{
    TraceCapture trace;
    ctx().jumpArea = 77;
    ctx().tilt = 12;
    const int m[5] = {80, 50, 40, 30, 20};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Low(m[i]), 0);
        EXPECT_EQ(ctx().fallLength, i + 1);
        EXPECT_EQ(ctx().fallDeepCount, i);
        EXPECT_EQ(ctx().jumpArea, i == 0 ? 77 : 0);  // cleared at the first deep sample
        EXPECT_EQ(ctx().fallLengthNow, i == 4 ? 5 : 0);
    }
    EXPECT_EQ(ctx().fallStartSample, 200u);
    EXPECT_EQ(ctx().fallStartTilt, 12);
    EXPECT_EQ(ctx().fallDepthSum, 260);
    EXPECT_EQ(ctx().fallDepthSum / ctx().fallDeepCount, 65);
    EXPECT_EQ(ctx().fallConfirmSample, 204u);
    EXPECT_EQ(ctx().fallConfirmLength, 5);
    // The confirmation wrote the FALL fragment and the CF fragment (no
    // upright sample yet: bias 4; no event yet: gap 199).
    EXPECT_EQ(trace.Text(), ", FALL [ 5,  0,  4,  0,  260(65),  0,  0 :  5], CF < 4,  5, 199,  0,   0>");
    EXPECT_EQ(ctx().fallTraced, 1);
}

TEST_F(LowPhase, FirstDeepSampleNeverConfirmsAndDeepPhasesReconfirm)
{
    EXPECT_EQ(Low(85), 0);
    EXPECT_EQ(Low(85), 0);
    EXPECT_EQ(Low(85), 0);
    EXPECT_EQ(Low(85), 0);
    EXPECT_EQ(Low(55), 0);  // length 5, one deep sample
    EXPECT_EQ(ctx().fallLengthNow, 0);
    ResetPhase();
    for (int i = 1; i <= 12; ++i) {
        Low(30);
        EXPECT_EQ(ctx().fallLengthNow, i >= 5 ? i : 0) << i;
    }
}

TEST_F(LowPhase, ShallowOnlyPhaseStopsAtFiveAndIsNeverConfirmed)
{
    for (int i = 0; i < 12; ++i) {
        Low(93);
        EXPECT_EQ(ctx().fallLengthNow, 0);
    }
    EXPECT_EQ(ctx().fallLength, 5);
    EXPECT_EQ(ctx().fallDeepCount, 0);
    // Samples at or below 90 keep growing to 30.
    for (int i = 0; i < 40; ++i) {
        Low(90);
    }
    EXPECT_EQ(ctx().fallLength, 30);
}

TEST_F(LowPhase, LongPreludeRestartsTheLength)
{
    // The first deep sample makes the length 11 or more.
    for (int prelude : {10, 20}) {
        ResetPhase();
        for (int i = 0; i < prelude; ++i) {
            Low(85);
        }
        const uint32_t start = ctx().fallStartSample;
        Low(50);
        EXPECT_EQ(ctx().fallLength, 1) << prelude;
        EXPECT_EQ(ctx().fallLongPrelude, 1);
        EXPECT_EQ(ctx().fallStartSample, start);  // the start stays where the phase opened
    }
}

TEST_F(LowPhase, MediumPreludeContinuesAtFive)
{
    // The first deep sample makes the length 8 to 10.
    for (int prelude : {7, 9}) {
        ResetPhase();
        for (int i = 0; i < prelude; ++i) {
            Low(85);
        }
        Low(50);
        EXPECT_EQ(ctx().fallLength, 5) << prelude;
        EXPECT_EQ(ctx().fallLongPrelude, 0);
    }
    ResetPhase();
    for (int i = 0; i < 6; ++i) {
        Low(85);
    }
    Low(50);
    EXPECT_EQ(ctx().fallLength, 7);
}

TEST_F(LowPhase, RecoveryClosesThePhaseAfterFiveSamples)
{
    Low(50);
    for (int i = 1; i <= 4; ++i) {
        Low(80, 61);
        EXPECT_EQ(ctx().fallRecoverCount, i);
    }
    EXPECT_EQ(ctx().fallLength, 5);
    Low(80, 60);  // fifth, but the filtered magnitude is not above 60
    EXPECT_EQ(ctx().fallLength, 6);
    Low(100, 61);
    EXPECT_EQ(ctx().fallLength, 0);
    EXPECT_EQ(ctx().fallRecoverCount, 6);
    EXPECT_EQ(ctx().fallDeepCount, 0);
}

TEST_F(LowPhase, StrongSampleClosesThePhase)
{
    Low(50);
    Low(50);
    Low(120, 61, 170);
    EXPECT_EQ(ctx().fallLength, 2);
    Low(120, 61, 171);
    EXPECT_EQ(ctx().fallLength, 0);
}

TEST_F(LowPhase, StaleRecoveryCountClosesANewShallowPhaseAtOnce)
{
    ctx().fallRecoverCount = 7;  // left over from an earlier phase
    Low(80);
    Low(80);
    EXPECT_EQ(ctx().fallRecoverCount, 7);  // shallow samples without a deep one count nothing
    Low(100, 61);
    EXPECT_EQ(ctx().fallLength, 0);
}

TEST_F(LowPhase, QuietAndGyroRuns)
{
    Low(100, 60, 100, 5000);
    Low(100, 59, 100, -5001);
    EXPECT_EQ(ctx().quietRun, 2);
    EXPECT_EQ(ctx().gyroXHighRun, 1);
    Low(100, 61, 100, 5001);
    EXPECT_EQ(ctx().quietRun, 0);
    EXPECT_EQ(ctx().gyroXHighRun, 2);
    Low(100, 61, 100, -5000);
    EXPECT_EQ(ctx().gyroXHighRun, 0);
}

TEST_F(LowPhase, ClosingRecordsALongDeepEnoughPhase)
{
    for (int i = 0; i < 6; ++i) {
        Low(40);
    }
    ctx().quietRun = 9;
    ctx().peakValue = 300;
    ctx().peakWindowEnd = 0;
    Low(120, 61, 200);
    EXPECT_EQ(ctx().fallEventNext, 1u);
    EXPECT_EQ(ctx().fallEvents[0].sample, 205u);  // the latest confirmation
    EXPECT_EQ(ctx().fallEvents[0].length, 6);
    EXPECT_EQ(ctx().peakWindowEnd, 206u + 20);
    EXPECT_EQ(ctx().peakValue, 0);
}

TEST_F(LowPhase, ShortOrShallowPhasesAreNotRecorded)
{
    Low(40);
    Low(40);
    Low(40);
    Low(120, 61, 200);  // length 3 is below recordLength 4
    EXPECT_EQ(ctx().fallEventNext, 0u);
    for (int i = 0; i < 10; ++i) {
        Low(i < 4 ? 40 : 85, 60);  // 4 deep of 10
    }
    Low(120, 61, 200);
    EXPECT_EQ(ctx().fallLength, 0);
    EXPECT_EQ(ctx().fallEventNext, 0u);
    // The quiet run is cleared whether or not an event is recorded.
    ctx().quietRun = 4;
    RecordFall(&ctx());
    EXPECT_EQ(ctx().quietRun, 0);
}

TEST_F(LowPhase, OpenPeakWindowIsExtendedAndKeepsItsPeak)
{
    ctx().fallLength = 5;
    ctx().fallDeepCount = 5;
    ctx().peakValue = 420;
    ctx().peakWindowEnd = ctx().sampleCount;  // ends exactly now: kept
    RecordFall(&ctx());
    EXPECT_EQ(ctx().peakValue, 420);
    EXPECT_EQ(ctx().peakWindowEnd, ctx().sampleCount + 20);
    ctx().peakWindowEnd = ctx().sampleCount - 1;
    RecordFall(&ctx());
    EXPECT_EQ(ctx().peakValue, 0);
}

TEST_F(LowPhase, EventRingOverwritesTheOldestEntry)
{
    ctx().fallLength = 4;
    ctx().fallDeepCount = 2;
    for (uint32_t i = 0; i < 33; ++i) {
        ctx().fallConfirmSample = 1000 + i;
        ctx().fallConfirmLength = static_cast<uint16_t>(i);
        RecordFall(&ctx());
    }
    EXPECT_EQ(ctx().fallEventNext, 1u);
    EXPECT_EQ(ctx().fallEvents[0].sample, 1032u);
    EXPECT_EQ(ctx().fallEvents[1].sample, 1001u);
}

TEST_F(LowPhase, CloseKeepsWhatTheNextPhaseMayUse)
{
    ctx().fallLength = 8;
    ctx().fallDeepCount = 8;
    ctx().fallDepthSum = 400;
    ctx().fallLongPrelude = 1;
    ctx().fallRecoverCount = 5;
    ctx().fallStartSample = 150;
    ctx().fallStartTilt = -7;
    ctx().gyroXHighRun = 3;
    ctx().jumpPeak = 200;
    ctx().jumpScore = 8;
    ctx().accLpf2Mag = 171;
    CloseFall(&ctx());
    EXPECT_EQ(ctx().fallLength, 0);
    EXPECT_EQ(ctx().fallDeepCount, 0);
    EXPECT_EQ(ctx().fallDepthSum, 0);
    EXPECT_EQ(ctx().fallLongPrelude, 0);
    EXPECT_EQ(ctx().fallRecoverCount, 5);
    EXPECT_EQ(ctx().fallStartSample, 150u);
    EXPECT_EQ(ctx().fallStartTilt, -7);
    EXPECT_EQ(ctx().gyroXHighRun, 3);
    EXPECT_EQ(ctx().jumpScore, 0);  // a long phase ending in a strong sample resets the jump

    ctx().fallLength = 6;
    ctx().jumpPeak = 200;
    ctx().jumpScore = 8;
    CloseFall(&ctx());
    EXPECT_EQ(ctx().jumpScore, 8);
}

}  // namespace
