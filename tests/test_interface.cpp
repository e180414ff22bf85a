// What a caller of the library sees: the context's size, the accessors and
// the parameter table.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "params.h"
#include "test_support.h"

namespace {

TEST(Interface, ContextSizeAndBannerOnX86_64)
{
#if defined(__x86_64__)
    EXPECT_EQ(sizeof(TumblewatchContext), 1192u);
    TempDir dir;
    const BenchRun run = RunBench(dir.path(), {"--help"});
    EXPECT_EQ(run.output.rfind("Tumblewatch : 1192 bytes.\n\n", 0), 0u) << run.output;
#else
    GTEST_SKIP() << "the context's size is fixed for x86-64 only";
#endif
}

TEST(Interface, AccessorsFollowTheSamplesAndOutliveClose)
{
    Detector d;
    EXPECT_EQ(TumblewatchSampleCount(&d.ctx), 0u);
    EXPECT_EQ(TumblewatchAccRawMag(&d.ctx), 0u);

    // At the first sample the filtered magnitude is still far below the raw
    // one: the accessor reads the raw value, truncated.
    d.Feed(ImuSample{8191, 0, 0, 0, 0, 0});
    EXPECT_EQ(TumblewatchSampleCount(&d.ctx), 1u);
    EXPECT_EQ(TumblewatchAccRawMag(&d.ctx), 99u);
    EXPECT_LT(d.ctx.accLpfMag, 99u);

    d.Feed(ImuSample{0, -16384, 0, 0, 0, 0}, 99);
    EXPECT_EQ(TumblewatchSampleCount(&d.ctx), 100u);
    EXPECT_EQ(TumblewatchAccRawMag(&d.ctx), 200u);

    TumblewatchClose(&d.ctx);
    EXPECT_EQ(TumblewatchSampleCount(&d.ctx), 100u);
    EXPECT_EQ(TumblewatchAccRawMag(&d.ctx), 200u);
}

TEST(Interface, ContextsInTwoThreadsTraceOnlyIntoTheirOwnHandles)
{
    // Both detectors see the same stream; each thread traces into its own
    // capture, and the main thread's handle stays null.
    std::vector<ImuSample> samples(300, kUpright);
    for (size_t i = 150; i < 170; ++i) {
        samples[i] = ImuSample{0, -1200, 300, 9000, 0, 0};
    }
    std::string traces[2];
    std::vector<int> codes[2];
    auto run = [&](int k) {
        TraceCapture capture;
        Detector d;
        codes[k] = d.FeedAll(samples);
        traces[k] = capture.Text();
    };
    std::thread first(run, 0);
    std::thread second(run, 1);
    first.join();
    second.join();

    EXPECT_EQ(fpTrace, nullptr);
    EXPECT_EQ(SplitLines(traces[0]).size(), samples.size());
    EXPECT_EQ(traces[0], traces[1]);
    EXPECT_EQ(codes[0], codes[1]);
}

TEST(Interface, EveryParameterHasItsFieldNameAndUnit)
{
    const TumblewatchParam* params = TumblewatchParams();
    TumblewatchConfig cfg;
    int32_t byPosition[kTumblewatchParamCount];
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        byPosition[i] = 1000 + i;
    }
    std::memcpy(&cfg, byPosition, sizeof cfg);

    const std::set<std::string> notRead = {"param7",  "param9",  "param10", "param13", "param14",
                                           "param15", "param16", "param23", "param24", "param34"};
    std::set<std::string> names;
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const std::string name = params[i].name;
        SCOPED_TRACE(name);
        names.insert(name);
        EXPECT_EQ(TumblewatchParamIndex(params[i].name), i);
        EXPECT_EQ(TumblewatchParamGet(&cfg, i), 1000 + i);  // the field at position i
        EXPECT_EQ(params[i].read, notRead.count(name) == 0);
        EXPECT_EQ(std::string(params[i].unit) == "-", !params[i].read);
        EXPECT_GT(std::strlen(params[i].meaning), 0u);
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kTumblewatchParamCount));
    EXPECT_EQ(std::string(params[0].name), "fallWindow");
    EXPECT_EQ(std::string(params[17].name), "impactHardSum");

    TumblewatchParamSet(&cfg, 11, -7);
    EXPECT_EQ(cfg.tiltLimit, -7);
    EXPECT_EQ(TumblewatchParamIndex("FallWindow"), -1);
    EXPECT_EQ(TumblewatchParamIndex(""), -1);
}

TEST(Interface, CheckNamesWhatSetRefuses)
{
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    int index = -5;
    EXPECT_EQ(TumblewatchCheck(&cfg, &index), nullptr);
    EXPECT_EQ(index, -5);

    for (const int32_t window : {0, 64, -1}) {
        cfg.fallWindow = window;
        index = -5;
        EXPECT_NE(TumblewatchCheck(&cfg, &index), nullptr) << window;
        EXPECT_EQ(index, 0) << window;
    }
    for (const int32_t window : {1, 63}) {
        cfg.fallWindow = window;
        EXPECT_EQ(TumblewatchCheck(&cfg, nullptr), nullptr) << window;
    }
    cfg.tiltLimit = 15;
    EXPECT_NE(TumblewatchCheck(&cfg, nullptr), nullptr);
    EXPECT_NE(TumblewatchCheck(&cfg, &index), nullptr);
    EXPECT_EQ(index, TumblewatchParamIndex("tiltLimit"));
}

}  // namespace
