// The pipeline's two halves (front_end.h): the front end reads no
// parameter, the decisions do not touch what it computes, and a recording's
// front end computed once and loaded sample by sample gives every
// configuration exactly the decisions of the whole pipeline.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "front_end.h"
#include "params.h"
#include "scenarios.h"
#include "test_support.h"

namespace {

// Configurations that move every parameter a stage reads: the defaults,
// the window at its limits, other attitude limits, and random draws of
// all of them around their defaults.
std::vector<TumblewatchConfig> Configurations()
{
    std::vector<TumblewatchConfig> configs;
    TumblewatchConfig c;
    TumblewatchDefault(&c);
    configs.push_back(c);
    for (const int32_t window : {1, 7, 63}) {
        TumblewatchConfig w = c;
        w.fallWindow = window;
        configs.push_back(w);
    }
    TumblewatchConfig attitude = c;
    attitude.pitchLimit = 30;
    attitude.tiltLimit = 10;
    configs.push_back(attitude);
    std::mt19937 words(11);
    for (int draw = 0; draw < 6; ++draw) {
        TumblewatchConfig r = c;
        for (int i = 0; i < kTumblewatchParamCount; ++i) {
            const TumblewatchParam& p = TumblewatchParams()[i];
            if (!p.read) {
                continue;
            }
            const int32_t d = p.defaultValue;
            const int32_t spread = d == 0 ? 5 : (d < 0 ? -d : d) / 2 + 1;
            TumblewatchParamSet(&r, i, d - spread + static_cast<int32_t>(words() % (2 * spread + 1)));
        }
        r.fallWindow = 1 + static_cast<int32_t>(words() % 63);
        if (r.tiltLimit == 15) {
            r.tiltLimit = 16;
        }
        configs.push_back(r);
    }
    return configs;
}

// The recordings: every generated scenario and a stream of noise.
std::vector<std::pair<std::string, std::vector<ImuSample>>> Recordings()
{
    std::vector<std::pair<std::string, std::vector<ImuSample>>> recs;
    for (const recgen::Scenario& scenario : recgen::Scenarios()) {
        recs.emplace_back(scenario.name, recgen::MakeRecording(scenario).samples);
    }
    std::mt19937 words(3);
    std::vector<ImuSample> noise;
    for (int i = 0; i < 3000; ++i) {
        const auto w = [&] { return static_cast<int16_t>(static_cast<uint16_t>(words() >> 16)); };
        noise.push_back(ImuSample{w(), w(), w(), w(), w(), w()});
    }
    recs.emplace_back("noise", noise);
    return recs;
}

// The context with the members that only the front end keeps (its filters,
// offsets and parameter-free windows, and what only the trace shows of
// them) cleared: what the decisions own or read.
TumblewatchContext DecisionState(const TumblewatchContext& ctx)
{
    TumblewatchContext d = ctx;
    std::memset(static_cast<void*>(&d.orient), 0, sizeof d.orient);
    std::memset(static_cast<void*>(d.accLpf), 0, sizeof d.accLpf);
    std::memset(static_cast<void*>(d.gyroLpf), 0, sizeof d.gyroLpf);
    std::memset(static_cast<void*>(&d.accLpf2), 0, sizeof d.accLpf2);
    std::memset(static_cast<void*>(d.accRawRing), 0, sizeof d.accRawRing);
    std::memset(static_cast<void*>(d.gyroLpfRing), 0, sizeof d.gyroLpfRing);
    d.pitchOffset = d.tiltOffset = 0;
    d.gyroLpfMag = 0;
    d.gyroLpfSum5 = d.gyroLpfSum3 = 0;
    d.gyroXDropCount = 0;
    d.gyroXPrev = 0;
    return d;
}

bool SameValues(const TumblewatchFrontEndValues& a, const TumblewatchFrontEndValues& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(FrontEnd, IsTheSameUnderEveryConfigurationAndTheDecisionsLeaveItAlone)
{
    // Saved after the whole pipeline under any configuration, the values
    // are those of the front end run alone: it reads no parameter, and
    // the decisions write none of them.
    for (const auto& [name, samples] : Recordings()) {
        std::vector<TumblewatchFrontEndValues> alone(samples.size());
        TumblewatchFrontEndRecord(samples.data(), samples.size(), alone.data());
        for (const TumblewatchConfig& cfg : Configurations()) {
            TumblewatchContext ctx;
            ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
            for (size_t i = 0; i < samples.size(); ++i) {
                TumblewatchProcess(&ctx, &samples[i]);
                TumblewatchFrontEndValues v;
                TumblewatchFrontEndSave(&ctx, &v);
                if (!SameValues(v, alone[i])) {
                    ADD_FAILURE() << name << ", fallWindow " << cfg.fallWindow << ": sample " << i << " differs";
                    break;
                }
            }
            TumblewatchClose(&ctx);
        }
    }
}

TEST(FrontEnd, LoadedOnceItGivesEveryConfigurationTheWholePipelinesDecisions)
{
    size_t alarms = 0;
    for (const auto& [name, samples] : Recordings()) {
        std::vector<TumblewatchFrontEndValues> values(samples.size());
        TumblewatchFrontEndRecord(samples.data(), samples.size(), values.data());
        for (const TumblewatchConfig& cfg : Configurations()) {
            TumblewatchContext whole;
            TumblewatchContext split;
            ASSERT_EQ(TumblewatchSet(&whole, &cfg), 0);
            ASSERT_EQ(TumblewatchSet(&split, &cfg), 0);
            std::vector<std::pair<uint32_t, int>> expected;
            for (size_t i = 0; i < samples.size(); ++i) {
                const int code = TumblewatchProcess(&whole, &samples[i]);
                TumblewatchFrontEndLoad(&split, &values[i]);
                const int decided = TumblewatchDecide(&split, &samples[i]);
                alarms += code > 0;
                if (code > 0) {
                    expected.emplace_back(static_cast<uint32_t>(i), code);
                }
                const TumblewatchContext a = DecisionState(whole);
                const TumblewatchContext b = DecisionState(split);
                if (code != decided ||
                    std::memcmp(static_cast<const void*>(&a), static_cast<const void*>(&b), sizeof a) != 0) {
                    ADD_FAILURE() << name << ", fallWindow " << cfg.fallWindow << ", sample " << i << ": code "
                                  << decided << " against " << code << " or the decisions' state differs";
                    break;
                }
            }
            TumblewatchClose(&whole);
            TumblewatchClose(&split);

            // The same over the whole recording in one call.
            std::vector<std::pair<uint32_t, int>> found;
            TumblewatchContext run;
            ASSERT_EQ(TumblewatchSet(&run, &cfg), 0);
            TumblewatchDecideRecording(
                &run, samples.data(), values.data(), samples.size(),
                [](void* user, uint32_t sample, int code) {
                    static_cast<std::vector<std::pair<uint32_t, int>>*>(user)->emplace_back(sample, code);
                },
                &found);
            EXPECT_EQ(run.sampleCount, samples.size());
            TumblewatchClose(&run);
            EXPECT_EQ(found, expected) << name << ", fallWindow " << cfg.fallWindow;
        }
    }
    EXPECT_GT(alarms, 100u);  // the configurations raise alarms: the decisions were exercised
}

TEST(FrontEnd, TheWholePipelineIsItsTwoHalves)
{
    // TumblewatchProcess against the front end and the decisions called
    // one after the other: the same codes and the same trace, byte for byte.
    const std::vector<ImuSample> samples = recgen::MakeRecording(*recgen::FindScenario("double_fall")).samples;
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    cfg.fallWindow = 12;
    std::string traces[2];
    std::vector<int> codes[2];
    for (int way = 0; way < 2; ++way) {
        TraceCapture capture;
        TumblewatchContext ctx;
        ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
        for (const ImuSample& s : samples) {
            if (way == 0) {
                codes[way].push_back(TumblewatchProcess(&ctx, &s));
            } else {
                TumblewatchFrontEnd(&ctx, &s);
                codes[way].push_back(TumblewatchDecide(&ctx, &s));
            }
        }
        TumblewatchClose(&ctx);
        traces[way] = capture.Text();
    }
    EXPECT_EQ(codes[0], codes[1]);
    EXPECT_EQ(traces[0], traces[1]);
    EXPECT_GT(traces[0].size(), samples.size() * 100);
}

}  // namespace
