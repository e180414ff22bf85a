// Configuration defaults and the detector's set-up and close.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "orientation_filter.h"
#include "tumblewatch.h"

namespace {

TEST(Config, DefaultsInFieldOrder)
{
    TumblewatchConfig cfg;
    std::memset(&cfg, 0x5a, sizeof cfg);
    EXPECT_EQ(TumblewatchDefault(&cfg), 0);
    const int32_t expected[35] = {20, 60, 140,  400, 160, 360, 40, 50,  65,  -180, -90, 35, 4,  37, 60, 90,  55, 1750,
                                  5,  3,  1350, 5,   7,   -3,  1,  150, 150, 19,   10,  9,  25, 5,  20, 400, 25};
    int32_t actual[35];
    std::memcpy(actual, &cfg, sizeof actual);
    for (int i = 0; i < 35; ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "field " << i;
    }
    EXPECT_EQ(cfg.fallWindow, 20);
    EXPECT_EQ(cfg.tiltLimit, 35);
    EXPECT_EQ(cfg.repeatPeak, 400);
}

TEST(Config, VersionText)
{
    EXPECT_STREQ(TumblewatchVersion(), "J6-Tumblewatch-2.1.1");
    EXPECT_EQ(TumblewatchVersion(), TumblewatchVersion());
}

class DetectorSetUp : public testing::Test {
protected:
    void SetUp() override
    {
        TumblewatchDefault(&cfg);
        std::memset(static_cast<void*>(&ctx), 0xab, sizeof ctx);
    }
    void TearDown() override { TumblewatchClose(&ctx); }

    TumblewatchConfig cfg;
    TumblewatchContext ctx;
};

void ExpectSetUpValues(const TumblewatchContext& ctx, const TumblewatchConfig* cfg)
{
    EXPECT_EQ(ctx.config, cfg);
    EXPECT_EQ(ctx.sampleCount, 0u);
    EXPECT_EQ(ctx.ringIndex, 0u);
    EXPECT_EQ(ctx.accLpfSum, 2000u);
    EXPECT_EQ(ctx.accRawSum3, 300u);
    EXPECT_EQ(ctx.gyroLpfSum3, 0u);
    EXPECT_EQ(ctx.gyroLpfSum5, 0u);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(ctx.accRawRing[i], 100u);
        EXPECT_EQ(ctx.accLpfRing[i], 100u);
        EXPECT_EQ(ctx.gyroLpfRing[i], 0u);
        EXPECT_EQ(ctx.uprightRing[i], 0u);
    }
    for (const FallEvent& e : ctx.fallEvents) {
        EXPECT_EQ(e.sample, 0u);
        EXPECT_EQ(e.length, 0u);
    }
    EXPECT_EQ(ctx.fallEventNext, 0u);
    EXPECT_EQ(ctx.pitchOffset, 0);
    EXPECT_EQ(ctx.tiltOffset, 0);
    EXPECT_EQ(ctx.jumpScore, 0u);
    EXPECT_EQ(ctx.fallLength, 0u);
    EXPECT_EQ(ctx.fallTraced, 0);
    ASSERT_NE(ctx.orient.orientation, nullptr);
    EXPECT_EQ(ctx.orient.biasCount, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ctx.orient.gyroBias[i], 0.0);
        EXPECT_EQ(ctx.orient.spare[i], 0.0);
        EXPECT_EQ(ctx.accLpf[i].out, 0.0f);
        EXPECT_EQ(ctx.gyroLpf[i].outPrev, 0.0f);
        EXPECT_EQ(ctx.accLpf2.out[i], 0.0f);
        EXPECT_EQ(ctx.accLpf2.inPrev[i], 0.0f);
    }
    EXPECT_NEAR(ctx.accLpf2.a1, -0.52207005f, 1e-7f);
    EXPECT_NEAR(ctx.accLpf2.b0, 0.23896502f, 1e-7f);
    EXPECT_EQ(ctx.accLpf2.b1, ctx.accLpf2.b0);
}

TEST_F(DetectorSetUp, WritesTheSetUpValues)
{
    ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
    ExpectSetUpValues(ctx, &cfg);
}

TEST_F(DetectorSetUp, AccelWindowIsSeededWithTheSetUpWindow)
{
    cfg.fallWindow = 63;
    ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
    EXPECT_EQ(ctx.accLpfSum, 6300u);
}

TEST_F(DetectorSetUp, SecondSetUpRestoresTheSetUpValues)
{
    ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
    const ImuSample s{1000, -9000, 3000, 7000, -200, 50};
    for (int i = 0; i < 100; ++i) {
        TumblewatchProcess(&ctx, &s);
    }
    ASSERT_EQ(ctx.sampleCount, 100u);
    TumblewatchClose(&ctx);
    ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
    ExpectSetUpValues(ctx, &cfg);
}

TEST_F(DetectorSetUp, RefusesWhatWouldBreakTheDetectorAndTouchesNothing)
{
    TumblewatchContext untouched;
    std::memcpy(static_cast<void*>(&untouched), &ctx, sizeof ctx);

    EXPECT_EQ(TumblewatchSet(nullptr, &cfg), -1);
    EXPECT_EQ(TumblewatchSet(&ctx, nullptr), -1);
    for (int32_t window : {0, -1, 64, 1000}) {
        cfg.fallWindow = window;
        EXPECT_EQ(TumblewatchSet(&ctx, &cfg), -1) << window;
    }
    TumblewatchDefault(&cfg);
    cfg.tiltLimit = 15;
    EXPECT_EQ(TumblewatchSet(&ctx, &cfg), -1);
    EXPECT_EQ(std::memcmp(&untouched, &ctx, sizeof ctx), 0);

    // The window limits themselves are accepted.
    TumblewatchDefault(&cfg);
    for (int32_t window : {1, 63}) {
        cfg.fallWindow = window;
        EXPECT_EQ(TumblewatchSet(&ctx, &cfg), 0) << window;
        TumblewatchClose(&ctx);
    }
    std::memset(static_cast<void*>(&ctx), 0, sizeof ctx);
}

TEST_F(DetectorSetUp, CloseReleasesTheOrientationOnce)
{
    ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
    EXPECT_EQ(TumblewatchClose(&ctx), 0);
    EXPECT_EQ(ctx.orient.orientation, nullptr);
    EXPECT_EQ(TumblewatchClose(&ctx), 0);
    EXPECT_EQ(TumblewatchClose(nullptr), 0);
}

TEST(Context, EveryCallAdvancesTheSampleAndTheRingOnce)
{
    TumblewatchConfig cfg;
    TumblewatchContext ctx;
    TumblewatchDefault(&cfg);
    ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
    const ImuSample s{0, 0, 8192, 0, 0, 0};
    for (uint32_t i = 1; i <= 200; ++i) {
        TumblewatchProcess(&ctx, &s);
        EXPECT_EQ(ctx.sampleCount, i);
        EXPECT_EQ(ctx.ringIndex, i % 64);
    }
    TumblewatchClose(&ctx);
}

}  // namespace
