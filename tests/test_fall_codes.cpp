// Every fall code from end to end: recordings built for each criterion go
// through TumblewatchProcess with the trace open, and the trace line of the
// sample that reports the code ends with it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "angles.h"
#include "test_support.h"

namespace {

int16_t Counts(double v)
{
    const double r = std::round(v);
    return static_cast<int16_t>(r > 32767.0 ? 32767.0 : r < -32768.0 ? -32768.0 : r);
}

// Builds a recording of a wearer who only turns about the sensor's X axis
// (forward is +X); the accelerometer reads gravity turned with the body,
// scaled by the load factor g, so gyro and accelerometer agree.
class Recording {
public:
    // n samples holding still at the current attitude with load factor g.
    Recording& Hold(int n, double g = 1.0) { return Turn(n, 0.0, 0.0, g); }
    // n samples turning about X, the rate going linearly from rate0 to
    // rate1 deg/s, with load factor g.
    Recording& Turn(int n, double rate0, double rate1, double g = 1.0, double yawRate = 0.0)
    {
        for (int i = 0; i < n; ++i) {
            const double rate = n == 1 ? rate0 : rate0 + (rate1 - rate0) * i / (n - 1);
            angle_ += rate * 0.02;
            const double a = angle_ * kPi / 180.0;
            samples_.push_back(ImuSample{0, Counts(-g * kTumblewatchAccelCountsPerG * std::cos(a)),
                                         Counts(g * kTumblewatchAccelCountsPerG * std::sin(a)),
                                         Counts(rate * kTumblewatchGyroCountsPerDps),
                                         Counts(yawRate * kTumblewatchGyroCountsPerDps), 0});
        }
        return *this;
    }
    // n copies of a raw sample (the attitude does not change).
    Recording& Raw(int n, ImuSample s)
    {
        samples_.insert(samples_.end(), static_cast<size_t>(n), s);
        return *this;
    }
    // A free fall: no specific force, still turning at rate deg/s about X.
    Recording& FreeFall(int n, double rate = 0.0, double yawRate = 0.0) { return Turn(n, rate, rate, 0.0, yawRate); }
    // A short hard hit along the current gravity direction.
    Recording& Hit(int n, double g) { return Hold(n, g); }
    // n samples with load factor g turning about the vertical at yawRate
    // deg/s while the X axis shakes at +-rate deg/s, too fast for the
    // attitude to follow.
    Recording& Shake(int n, double rate, double g, double yawRate)
    {
        for (int i = 0; i < n; ++i) {
            const double a = angle_ * kPi / 180.0;
            const double x = (samples_.size() % 2 == 0 ? rate : -rate) * kTumblewatchGyroCountsPerDps;
            samples_.push_back(ImuSample{0, Counts(-g * kTumblewatchAccelCountsPerG * std::cos(a)),
                                         Counts(g * kTumblewatchAccelCountsPerG * std::sin(a)), Counts(x),
                                         Counts(yawRate * kTumblewatchGyroCountsPerDps), 0});
        }
        return *this;
    }

    const std::vector<ImuSample>& samples() const { return samples_; }
    int size() const { return static_cast<int>(samples_.size()); }

private:
    std::vector<ImuSample> samples_;
    double angle_ = 0.0;
};

struct Outcome {
    std::vector<int> codes;
    std::vector<std::string> lines;

    // The first sample that reported code, or -1.
    int First(int code) const
    {
        for (size_t i = 0; i < codes.size(); ++i) {
            if (codes[i] == code) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    // The first code reported, 0 for none.
    int FirstCode() const
    {
        for (int c : codes) {
            if (c != 0) {
                return c;
            }
        }
        return 0;
    }
    // Every code reported, in order, without repeats of the same code in a row.
    std::vector<int> Sequence() const
    {
        std::vector<int> seq;
        for (int c : codes) {
            if (c != 0 && (seq.empty() || seq.back() != c)) {
                seq.push_back(c);
            }
        }
        return seq;
    }
};

Outcome Replay(const Recording& r)
{
    TraceCapture trace;
    Detector d;
    Outcome out;
    out.codes = d.FeedAll(r.samples());
    out.lines = trace.Lines();
    return out;
}

std::string Ending(int code)
{
    return " -> (" + std::to_string(code) + ")";
}

// The recording reports code, and the trace line of that sample says so.
void ExpectCode(const Outcome& o, int code)
{
    const int at = o.First(code);
    ASSERT_GE(at, 0) << "code " << code << " never reported";
    ASSERT_EQ(o.lines.size(), o.codes.size());
    const std::string& line = o.lines[static_cast<size_t>(at)];
    const std::string end = Ending(code);
    ASSERT_GE(line.size(), end.size());
    EXPECT_EQ(line.substr(line.size() - end.size()), end) << line;
    // Lines without a code end with no suffix.
    for (size_t i = 0; i < o.codes.size(); ++i) {
        if (o.codes[i] == 0) {
            EXPECT_EQ(o.lines[i].find(" -> ("), std::string::npos) << o.lines[i];
        }
    }
}

Recording Standing()
{
    Recording r;
    r.Hold(100);
    return r;
}

// Three samples of a jump that scores 9 by its peak, then back on the feet.
Recording& Jump(Recording& r)
{
    r.Hold(3, 1.5).Hold(1, 1.8).Hold(1, 2.1).Hold(20);
    return r;
}

TEST(FallCodes, OneForALongFreeFall)
{
    Recording r = Standing();
    r.FreeFall(20).Hold(50);
    const Outcome o = Replay(r);
    ExpectCode(o, 1);
    EXPECT_EQ(o.Sequence(), (std::vector<int>{1}));
}

TEST(FallCodes, ThreeForAFreeFallAfterAJump)
{
    Recording r = Standing();
    Jump(r).FreeFall(35).Hold(50);
    const Outcome o = Replay(r);
    ExpectCode(o, 3);
    EXPECT_EQ(o.FirstCode(), 3);
}

TEST(FallCodes, TwelveForASpinningFreeFall)
{
    Recording r = Standing();
    r.Turn(15, 0, 0, 1.0, 250).FreeFall(30, 0, 250).Hold(50);
    const Outcome o = Replay(r);
    ExpectCode(o, 12);
    EXPECT_EQ(o.FirstCode(), 12);
}

TEST(FallCodes, FourForAModeratelySpinningFreeFallAfterAJump)
{
    Recording r = Standing();
    Jump(r).Turn(15, 0, 0, 1.0, 250).FreeFall(30, 0, 250).Hold(50);
    const Outcome o = Replay(r);
    ExpectCode(o, 4);
    EXPECT_EQ(o.FirstCode(), 4);
}

TEST(FallCodes, TwoForAModeratelySpinningFreeFallWithAShakingArm)
{
    // The shaking lowers the fall adjustment, so the weighted test comes first.
    Recording r = Standing();
    r.Shake(15, 92, 1.0, 250).Shake(30, 92, 0.0, 250).Hold(50);
    const Outcome o = Replay(r);
    ExpectCode(o, 2);
    EXPECT_EQ(o.FirstCode(), 2);
}

TEST(FallCodes, FiveForATumble)
{
    Recording r = Standing();
    r.Turn(45, 0, 0, 2.0, 200).Hold(50);
    const Outcome o = Replay(r);
    ExpectCode(o, 5);
    EXPECT_EQ(o.First(5), 100 + 36);  // every sample upright: a run of 37
    EXPECT_EQ(o.Sequence(), (std::vector<int>{5}));
}

TEST(FallCodes, SixForAHardImpactAfterAFreeFall)
{
    Recording r = Standing();
    r.FreeFall(10).Raw(3, ImuSample{32767, 32767, 32767, 0, 0, 0}).Hold(50);
    const Outcome o = Replay(r);
    ExpectCode(o, 6);
    EXPECT_EQ(o.FirstCode(), 6);
}

TEST(FallCodes, SixteenForAModerateImpactWhileTilted)
{
    Recording r = Standing();
    r.Turn(30, 100, 100).Hold(100).FreeFall(12).Hit(3, 4.8).Hold(50);
    const Outcome o = Replay(r);
    ExpectCode(o, 16);
    EXPECT_EQ(o.FirstCode(), 16);
}

TEST(FallCodes, SeventyOneForASlowCollapseForward)
{
    Recording r = Standing();
    r.Turn(18, 10, 146).Turn(12, 154, 242, 0.0).Hold(50);
    const Outcome o = Replay(r);
    ExpectCode(o, 71);
    EXPECT_EQ(o.FirstCode(), 71);
}

// A stumble and a fall while leaning forward: a first low-g phase, a hard
// hit, and a second low-g phase soon after the first was recorded.
Recording& LeaningDoubleFall(Recording& r)
{
    r.Turn(30, 100, 100).Hold(100).FreeFall(10).Hit(2, 5.0).Hold(3).FreeFall(12).Hold(50);
    return r;
}

TEST(FallCodes, SevenForASecondLowPhaseSoonAfterTheFirst)
{
    Recording r = Standing();
    const Outcome o = Replay(LeaningDoubleFall(r));
    ExpectCode(o, 7);
    EXPECT_EQ(o.FirstCode(), 7);
}

// A jump, then a fall in two low-g phases: the first while upright, the
// second turning forward, so that the upright samples still dominate the
// posture when it is tested.
Recording& TurningDoubleFall(Recording& r)
{
    Jump(r).FreeFall(18).Hit(2, 5.0).Hold(3).FreeFall(20, 400).Hold(50);
    return r;
}

TEST(FallCodes, EightForASecondLongLowPhaseWithoutPostureBias)
{
    Recording r = Standing();
    const Outcome o = Replay(TurningDoubleFall(r));
    ExpectCode(o, 8);
    EXPECT_EQ(o.FirstCode(), 8);
}

TEST(FallCodes, RepeatFallsAfterSeventyThousandSamples)
{
    // Past 65535 samples the peak's position needs more than 16 bits.
    for (int code : {7, 8}) {
        Recording r;
        r.Hold(70000);
        const Outcome o = Replay(code == 7 ? LeaningDoubleFall(r) : TurningDoubleFall(r));
        ExpectCode(o, code);
        EXPECT_GT(o.First(code), 70000);
        EXPECT_EQ(o.FirstCode(), code);
    }
}

}  // namespace
