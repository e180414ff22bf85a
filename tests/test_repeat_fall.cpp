// The fall adjustment and the repeat-fall test on a prepared context.
#include <gtest/gtest.h>

#include <vector>

#include "criteria.h"
#include "test_support.h"

namespace {

class Score : public testing::Test {
protected:
    int Adjust(int tilt, int startTilt, int depth, int jump = 0, int gyroRun = 0, int prelude = 0)
    {
        ctx.tilt = static_cast<int16_t>(tilt);
        ctx.fallStartTilt = static_cast<int16_t>(startTilt);
        ctx.fallDeepCount = 4;
        ctx.fallDepthSum = static_cast<uint16_t>(depth * 4);
        ctx.jumpScore = static_cast<uint16_t>(jump);
        ctx.gyroXHighRun = static_cast<uint16_t>(gyroRun);
        ctx.fallLongPrelude = static_cast<uint16_t>(prelude);
        ScoreFall(&ctx, nullptr);
        return ctx.fallScore;
    }
    void SetUp() override
    {
        TumblewatchDefault(&cfg);
        ctx.config = &cfg;
    }
    TumblewatchConfig cfg;
    TumblewatchContext ctx{};
};

TEST_F(Score, TurnedAwayFromUpright)
{
    EXPECT_EQ(Adjust(30, 10, 65), 3);  // (30 - 15) * 5 / 20
    EXPECT_EQ(Adjust(24, 10, 71), 5);
    EXPECT_EQ(Adjust(35, 10, 50), 5);  // tilt at tiltLimit
    EXPECT_EQ(Adjust(23, 10, 71), 2);  // not above 23: (23 - 15) * 5 / 20
    EXPECT_EQ(Adjust(30, 25, 65), 0);  // turned by 5 only
    EXPECT_EQ(Adjust(30, 10, 65, 1), 0);
}

TEST_F(Score, EmptyTurnRuleFallsThroughToTheDepthRules)
{
    EXPECT_EQ(Adjust(16, 0, 80), 2);  // e = 5 / 20 = 0
    EXPECT_EQ(Adjust(20, 0, 60), 0);  // depth not above 60
    EXPECT_EQ(Adjust(20, 0, 60, 0, 0, 1), 2);
}

TEST_F(Score, FastRotationWhileUpright)
{
    EXPECT_EQ(Adjust(3, 0, 65, 4, 9), -4);  // d = 5, cut to 8 - 4
    EXPECT_EQ(Adjust(3, 0, 65, 0, 9), -5);
    EXPECT_EQ(Adjust(5, 0, 65, 0, 30), -8);  // at most 8
    EXPECT_EQ(Adjust(6, 0, 65, 0, 9), 0);    // tilt not below 6
    EXPECT_EQ(Adjust(3, 0, 65, 0, 1), 0);    // run not above 1
    EXPECT_EQ(Adjust(3, 0, 65, 8, 9), 0);    // the jump score takes it all
    EXPECT_EQ(Adjust(3, 0, 65, 9, 9), 0);
    EXPECT_EQ(Adjust(3, 0, 65, 8, 9, 1), 2);
}

TEST_F(Score, DeepPhasesWithoutJumpOrRotation)
{
    EXPECT_EQ(Adjust(0, 0, 86), 4);
    EXPECT_EQ(Adjust(0, 0, 85), 2);
    EXPECT_EQ(Adjust(0, 0, 76), 2);
    EXPECT_EQ(Adjust(0, 0, 75), 0);
    EXPECT_EQ(Adjust(0, 0, 90, 0, 1), 0);
    EXPECT_EQ(Adjust(0, 0, 90, 1, 0), 0);
    EXPECT_EQ(Adjust(0, 0, 50, 0, 0, 1), 2);
}

TEST_F(Score, OtherTiltLimitsScaleTheTurnRule)
{
    cfg.tiltLimit = 10;               // negative divisor
    EXPECT_EQ(Adjust(20, 0, 80), 2);  // e = 25 / -5 = -5: nothing, then the depth rules
    cfg.tiltLimit = 55;
    EXPECT_EQ(Adjust(23, 0, 65), 1);  // 40 / 40
}

// The repeat-fall test with the latest event, the current phase and the
// upright history prepared.
class Repeat : public testing::Test {
protected:
    Repeat()
    {
        Rewind(1000);
        Event(900, 12);
        Phase(915, 5);
        Peak(450, 908);
        Upright({});
    }
    // Puts the detector at the given sample number, as if nothing had
    // ended the previous check's sample.
    void Rewind(uint32_t sample)
    {
        ctx().sampleCount = sample;
        ctx().ringIndex = static_cast<uint16_t>(sample & 63);
    }
    void Event(uint32_t sample, uint16_t length)
    {
        ctx().fallEventNext = 4;
        ctx().fallEvents[3] = FallEvent{sample, length};
    }
    void Phase(uint32_t start, uint16_t length)
    {
        ctx().fallStartSample = start;
        ctx().fallLength = length;
        ctx().fallLengthNow = length;
    }
    void Peak(uint16_t value, uint32_t sample)
    {
        ctx().peakValue = value;
        ctx().peakSample = sample;
    }
    // Upright flags of the latest samples, the current one first.
    void Upright(const std::vector<int>& flags)
    {
        uint32_t total = 5000;
        for (unsigned k = 0; k < 64; ++k) {
            ctx().uprightRing[(ctx().ringIndex - k) & 63] = total;
            total -= k < flags.size() ? static_cast<uint32_t>(flags[k]) : 0u;
        }
    }
    static std::vector<int> Flags(int notUpright, int upright)
    {
        std::vector<int> f(static_cast<size_t>(notUpright), 0);
        f.insert(f.end(), static_cast<size_t>(upright), 1);
        return f;
    }
    int Check() { return CheckRepeatFall(&ctx()); }
    TumblewatchContext& ctx() { return d.ctx; }
    Detector d;
};

TEST_F(Repeat, PostureBiasTable)
{
    const int bias[18] = {4, 4, 3, 3, 3, 3, 2, 2, 2, 2, 1, -8, -9, -9, -9, -9, -10, -10};
    for (int u = 0; u <= 17; ++u) {
        TraceCapture trace;
        Upright(Flags(17 - u, u));
        ctx().fallLengthNow = 0;  // short form for every bias
        EXPECT_EQ(Check(), 0);
        char expected[32];
        std::snprintf(expected, sizeof expected, ", CF <%2d>", bias[u]);
        EXPECT_EQ(trace.Text(), expected) << u;
    }
}

TEST_F(Repeat, CodeSevenAfterACloseRecordedPhaseWithAPeakBetween)
{
    TraceCapture trace;
    EXPECT_EQ(Check(), 7);
    EXPECT_EQ(ctx().sampleCount, 1001u);  // the sample was ended
    EXPECT_EQ(trace.Text(), ", CF < 4,  5, 14, 12, 450>, TF < 0>, 3S < 300,   0> -> (7)\n");
}

TEST_F(Repeat, CodeSevenBounds)
{
    struct Case {
        const char* what;
        uint32_t start, peakSample;
        uint16_t eventLength, peak;
        int code;
    };
    // Event at 900; gap = start - 901.
    for (const Case c :
         {Case{"gap 5", 906, 903, 12, 450, 7}, Case{"gap 20", 921, 908, 12, 450, 7},
          Case{"gap 4", 905, 903, 12, 450, 0}, Case{"gap 21", 922, 908, 12, 450, 0},
          Case{"event length 6", 915, 908, 6, 450, 7}, Case{"event length 5", 915, 908, 5, 450, 0},
          Case{"peak 400", 915, 908, 12, 400, 7}, Case{"peak 399", 915, 908, 12, 399, 0},
          Case{"peak at the event", 915, 900, 12, 450, 0}, Case{"peak at the start", 915, 915, 12, 450, 0}}) {
        Phase(c.start, 5);
        Event(900, c.eventLength);
        Peak(c.peak, c.peakSample);
        Rewind(1000);
        EXPECT_EQ(Check(), c.code) << c.what;
    }
}

TEST_F(Repeat, CodeSevenNeedsEnoughNonUprightSamplesInThePhase)
{
    Phase(915, 8);
    Upright({1, 1, 1, 1, 1, 1, 1, 0});  // u = 7: bias 2; n = 1 < 8 / 4
    EXPECT_EQ(Check(), 0);
    Upright({1, 1, 1, 1, 1, 1, 0, 0});  // n = 2
    EXPECT_EQ(Check(), 7);
}

TEST_F(Repeat, CodeEightWithoutTheBias)
{
    // u = 11 gives bias -8: the biased form needs a length of 17.
    Upright(Flags(6, 11));
    Phase(915, 12);
    Event(900, 13);
    TraceCapture trace;
    EXPECT_EQ(Check(), 8);
    EXPECT_EQ(trace.Text(), ", CF <-8>, TF < 0>, 3S < 300,   0> -> (8)\n");

    Rewind(1000);
    Event(900, 12);  // 12 + 12 < 25
    EXPECT_EQ(Check(), 0);
    Event(900, 9);
    Phase(915, 16);  // 9 is below repeatPrevLength
    EXPECT_EQ(Check(), 0);
}

TEST_F(Repeat, NeitherCodeBeforeTheFirstEvent)
{
    ctx().fallEventNext = 0;
    ctx().fallEvents[31] = FallEvent{0, 0};
    for (uint16_t length : {5, 12, 30}) {
        Phase(915, length);
        EXPECT_EQ(Check(), 0) << length;
    }
    Phase(20, 12);  // gap 19, but no event length
    EXPECT_EQ(Check(), 0);
}

TEST_F(Repeat, GapIsSignedAndShownInTheCheck)
{
    TraceCapture trace;
    Event(930, 12);  // recorded after the current phase began
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(trace.Text(), ", CF < 4,  5, -16, 12, 450>");
}

TEST_F(Repeat, RepeatFallsStillWorkAfterSixtyFiveThousandSamples)
{
    Rewind(70100);
    Upright({});
    Event(70000, 12);
    Phase(70015, 5);
    Peak(450, 70008);
    EXPECT_EQ(Check(), 7);
    Rewind(70100);
    Upright(Flags(6, 11));
    Phase(70015, 12);
    Event(70000, 13);
    EXPECT_EQ(Check(), 8);
}

}  // namespace
