// The hand-written trace formatter: every conversion against snprintf, and
// every trace writer against the previous, printf-based writers on random
// detector states.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "previous.h"
#include "test_support.h"
#include "trace.h"
#include "trace_text.h"

namespace {

std::string Printf(const char* format, int value)
{
    char text[64];
    const int n = std::snprintf(text, sizeof text, format, value);
    return std::string(text, static_cast<size_t>(n));
}

// The values where a width or a sign changes the output: every power of
// ten and its neighbours, both signs, the ends of the 16- and 32-bit
// ranges.
std::vector<int> EdgeValues()
{
    std::vector<int> values{0, INT_MIN, INT_MAX, INT_MIN + 1, -32768, 32767, 65535, -65535};
    for (int64_t p = 1; p <= 1000000000; p *= 10) {
        for (const int64_t v : {p - 1, p, p + 1}) {
            values.push_back(static_cast<int>(v));
            values.push_back(static_cast<int>(-v));
        }
    }
    return values;
}

std::string Formatted(int value, int width, bool zeroPadded)
{
    char line[kTraceFragmentCapacity];
    const TraceText t = TraceText(line, sizeof line);
    const TraceText end = zeroPadded ? t.ZeroPadded(value, width) : t.Int(value, width);
    return std::string(line, end.end());
}

void ExpectLikePrintf(int value)
{
    // The trace's widths, and some it does not use.
    for (const int width : {0, 1, 2, 3, 4, 6, 7, 8, 9, 11, 12}) {
        const std::string spaced = "%" + std::to_string(width) + "d";
        const std::string zeroed = "%0" + std::to_string(width) + "d";
        EXPECT_EQ(Formatted(value, width, false), Printf(spaced.c_str(), value)) << spaced << " of " << value;
        EXPECT_EQ(Formatted(value, width, true), Printf(zeroed.c_str(), value)) << zeroed << " of " << value;
    }
}

TEST(TraceText, NumbersAsPrintfWritesThemAtEveryWidthAndSign)
{
    for (const int v : EdgeValues()) {
        ExpectLikePrintf(v);
    }
    // Spot checks of what the trace relies on: a minimum width, a sign
    // before the zeros, a value wider than its field; and pieces in a row.
    char line[kTraceFragmentCapacity];
    TraceText t(line, sizeof line);
    t = t.ZeroPadded(-5, 4).Text("|").ZeroPadded(12345, 4).Text("|").ZeroPadded(-5, 2).Text("|").Int(-32768, 6);
    t = t.Text("|").Int(1250, 3).Text("|").Char('O');
    EXPECT_EQ(std::string(line, t.end()), "-005|12345|-5|-32768|1250|O");
}

TEST(TraceText, RandomNumbersAsPrintfWritesThem)
{
    std::mt19937 words(7);
    for (int i = 0; i < 20000; ++i) {
        const auto w = static_cast<uint32_t>(words());
        ExpectLikePrintf(static_cast<int>(w));                // the whole int range
        ExpectLikePrintf(static_cast<int16_t>(w & 0xffff));   // the 16-bit fields
        ExpectLikePrintf(static_cast<int>(w % 2001) - 1000);  // small values of either sign
    }
}

// ---------------------------------------------------------------------------
// The writers against the previous ones, on detector states drawn at random
// (including values no detector reaches), fragment by fragment.

class RandomState {
public:
    explicit RandomState(uint32_t seed) : words_(seed) {}

    uint16_t U16() { return static_cast<uint16_t>(words_() >> 16); }
    int16_t I16() { return static_cast<int16_t>(U16()); }
    uint32_t U32() { return static_cast<uint32_t>(words_()); }
    // Mostly small values, now and then any 16-bit one.
    uint16_t Small() { return words_() % 4 == 0 ? U16() : static_cast<uint16_t>(words_() % 120); }
    int Code() { return static_cast<int>(words_() % 100) - 10; }
    int Any() { return words_() % 4 == 0 ? static_cast<int>(U32()) : static_cast<int>(words_() % 300) - 100; }

    void Fill(TumblewatchContext* ctx, ImuSample* s)
    {
        *s = ImuSample{I16(), I16(), I16(), I16(), I16(), I16()};
        ctx->sampleCount = words_() % 2 == 0 ? U32() : U32() % 20000;
        ctx->accRawMag = Small();
        ctx->accLpfMag = Small();
        ctx->accLpf2Mag = Small();
        ctx->gyroRawMag = Small();
        ctx->gyroLpfMag = Small();
        ctx->jumpPeak = Small();
        ctx->jumpLastSample = words_() % 2 == 0 ? U32() : U32() % 1000;
        ctx->jumpScore = Small();
        ctx->jumpArea = Small();
        ctx->accLpfAvg = Small();
        ctx->gyroLpfAvg5 = Small();
        ctx->pitch = I16();
        ctx->tilt = I16();
        ctx->fallStartTilt = I16();
        ctx->upright = static_cast<uint16_t>(words_() % 3);
        ctx->gyroXRiseCount = Small();
        ctx->gyroXDropCount = Small();
        ctx->gyroXPrev = I16();
        ctx->fallLength = Small();
        ctx->quietRun = Small();
        ctx->fallDeepCount = static_cast<uint16_t>(words_() % 3 == 0 ? 0 : Small());
        ctx->fallRecoverCount = Small();
        ctx->fallDepthSum = U16();
        ctx->gyroXHighRun = Small();
        ctx->fallScore = I16();
        ctx->fallLengthNow = Small();
        ctx->tumbleRun = static_cast<uint16_t>(words_() % 64);
        ctx->ringIndex = static_cast<uint16_t>(words_() % 64);
        for (uint32_t& u : ctx->uprightRing) {
            u = U32() % 100000;
        }
        ctx->accRawSum3 = Small();
        ctx->gyroLpfSum3 = Small();
        ctx->peakValue = Small();
    }

private:
    std::mt19937 words_;
};

TEST(TraceText, WritersWriteWhatThePreviousWritersWrote)
{
    const PreviousImplementation& previous = TumblewatchPrevious();
    TraceCapture now;
    TraceCapture before(previous.trace);
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    RandomState random(11);
    for (int i = 0; i < 5000; ++i) {
        TumblewatchContext a{};
        ImuSample s;
        random.Fill(&a, &s);
        cfg.tumbleLength = random.Small() % 40;
        a.config = &cfg;
        TumblewatchContext b = a;

        const int adjust = random.Any();
        const int outside = random.Any();
        const int gap = random.Any();
        const int eventLength = random.Any();
        const int code = random.Code();
        const int finish = random.Code();

        TraceSample(&a, &s, 1);
        TraceRepeatCheck(&a, adjust, outside, gap, eventLength);
        TraceRepeatCheck(&a, adjust, -1, -1, -1);
        TraceSample(&a, &s, 2);
        TraceSample(&a, &s, 2);
        TraceSample(&a, &s, 3);
        TraceResult(&a, code);
        EXPECT_EQ(FinishSample(&a, finish), finish);

        previous.traceSample(&b, &s, 1);
        previous.traceRepeatCheck(&b, adjust, outside, gap, eventLength);
        previous.traceRepeatCheck(&b, adjust, -1, -1, -1);
        previous.traceSample(&b, &s, 2);
        previous.traceSample(&b, &s, 2);
        previous.traceSample(&b, &s, 3);
        previous.traceResult(&b, code);
        previous.finishSample(&b, finish);

        ASSERT_EQ(a.fallTraced, b.fallTraced);
        ASSERT_EQ(a.sampleCount, b.sampleCount);
        ASSERT_EQ(a.ringIndex, b.ringIndex);
        if (i % 500 == 499) {
            const std::string diff = FirstDifference(before.Text(), now.Text());
            ASSERT_TRUE(diff.empty()) << diff;
        }
    }
    EXPECT_EQ(now.Text(), before.Text());
    EXPECT_GT(now.Text().size(), 1000000u);
}

}  // namespace
