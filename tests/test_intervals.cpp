// Confidence intervals against values worked out by hand (and checked with
// an independent statistics package), and the bootstrap's reproducibility.
#include <gtest/gtest.h>

#include <cmath>

#include "intervals.h"

namespace {

TEST(Intervals, NormalQuantile)
{
    EXPECT_NEAR(IntervalNormalQuantile(0.975), 1.959963984540054, 1e-12);
    EXPECT_NEAR(IntervalNormalQuantile(0.5), 0.0, 1e-15);
    EXPECT_NEAR(IntervalNormalQuantile(0.05), -1.6448536269514722, 1e-12);
}

TEST(Intervals, WilsonAgainstHandValues)
{
    // 71 of 1,798 falls detected: 3.9 %, about 3.1 to 5.0 %.
    Interval i = IntervalWilson(71, 1798, 0.95);
    ASSERT_TRUE(i.defined);
    EXPECT_NEAR(i.lower, 0.03142427980572786, 1e-12);
    EXPECT_NEAR(i.upper, 0.049515948374029645, 1e-12);
    // 0 of n starts at 0 and ends at z^2 / (n + z^2); n of n mirrors it.
    i = IntervalWilson(0, 10, 0.95);
    EXPECT_EQ(i.lower, 0.0);
    EXPECT_NEAR(i.upper, 0.2775327998628892, 1e-12);
    i = IntervalWilson(10, 10, 0.95);
    EXPECT_NEAR(i.lower, 0.7224672001371107, 1e-12);
    EXPECT_EQ(i.upper, 1.0);
    // Another level: 3 of 7 at 90 %.
    i = IntervalWilson(3, 7, 0.90);
    EXPECT_NEAR(i.lower, 0.18644319036395607, 1e-12);
    EXPECT_NEAR(i.upper, 0.7105229089864071, 1e-12);
    // Nothing to say without trials, or of an impossible count or level.
    EXPECT_FALSE(IntervalWilson(0, 0, 0.95).defined);
    EXPECT_TRUE(std::isnan(IntervalWilson(0, 0, 0.95).lower));
    EXPECT_FALSE(IntervalWilson(5, 4, 0.95).defined);
    EXPECT_FALSE(IntervalWilson(1, 4, 1.0).defined);
    EXPECT_FALSE(IntervalWilson(1, 4, std::nan("")).defined);
}

TEST(Intervals, PoissonAgainstHandValues)
{
    // 1 false alarm in 14.5 hours: 0.07 per hour, about 0.002 to 0.38.
    Interval i = IntervalPoisson(1, 14.5, 0.95);
    ASSERT_TRUE(i.defined);
    EXPECT_NEAR(i.lower, 0.0017460557230544742, 1e-12);
    EXPECT_NEAR(i.upper, 0.3842512683406137, 1e-12);
    // None in 10 hours: from 0 up to -ln(0.025) / 10.
    i = IntervalPoisson(0, 10.0, 0.95);
    EXPECT_EQ(i.lower, 0.0);
    EXPECT_NEAR(i.upper, -std::log(0.025) / 10.0, 1e-12);
    // 5 in 3 hours at 99 %.
    i = IntervalPoisson(5, 3.0, 0.99);
    EXPECT_NEAR(i.lower, 0.3593094135507731, 1e-10);
    EXPECT_NEAR(i.upper, 4.716586470341004, 1e-10);
    // No hours of exposure: undefined.
    EXPECT_FALSE(IntervalPoisson(0, 0.0, 0.95).defined);
    EXPECT_FALSE(IntervalPoisson(-1, 1.0, 0.95).defined);
    EXPECT_FALSE(IntervalPoisson(1, std::nan(""), 0.95).defined);
}

TEST(Intervals, ConfidenceLevels)
{
    EXPECT_TRUE(IntervalConfidenceValid(0.95));
    EXPECT_TRUE(IntervalConfidenceValid(0.5));
    EXPECT_FALSE(IntervalConfidenceValid(0.0));
    EXPECT_FALSE(IntervalConfidenceValid(1.0));
    EXPECT_FALSE(IntervalConfidenceValid(-0.5));
    EXPECT_FALSE(IntervalConfidenceValid(INFINITY));
    // A higher level gives a wider interval.
    const Interval narrow = IntervalWilson(30, 100, 0.80);
    const Interval wide = IntervalWilson(30, 100, 0.99);
    EXPECT_LT(wide.lower, narrow.lower);
    EXPECT_GT(wide.upper, narrow.upper);
    EXPECT_EQ(IntervalText(IntervalWilson(0, 0, 0.95), 3), "-");
    EXPECT_EQ(IntervalText(Interval{0.25, 0.5, true}, 2), "[0.25, 0.50]");
}

std::vector<IntervalSubject> Subjects()
{
    // 12 subjects, each with a few falls and an hour or so of ADL.
    std::vector<IntervalSubject> s;
    for (int i = 0; i < 12; ++i) {
        s.push_back(IntervalSubject{i % 4, 3 - i % 4 + 1, i % 3 == 0 ? 1 : 0, 5, i % 5,
                                    static_cast<uint64_t>(180000 + 1000 * i)});
    }
    return s;
}

TEST(Intervals, BootstrapIsReproducibleFromItsSeed)
{
    const std::vector<IntervalSubject> subjects = Subjects();
    const IntervalBootstrapSettings settings{500, 7, 0.95};
    const IntervalBootstrap a = IntervalBootstrapSubjects(subjects, settings);
    const IntervalBootstrap b = IntervalBootstrapSubjects(subjects, settings);
    ASSERT_TRUE(a.sensitivity.defined);
    EXPECT_EQ(a.subjects, 12);
    EXPECT_EQ(a.sensitivityDefined, 500);
    EXPECT_EQ(a.sensitivity.lower, b.sensitivity.lower);
    EXPECT_EQ(a.sensitivity.upper, b.sensitivity.upper);
    EXPECT_EQ(a.falseAlarmsPerHour.lower, b.falseAlarmsPerHour.lower);
    EXPECT_EQ(a.falseAlarmsPerHour.upper, b.falseAlarmsPerHour.upper);
    // The pooled figure lies inside its interval, which is not a point.
    int tp = 0;
    int falls = 0;
    for (const IntervalSubject& s : subjects) {
        tp += static_cast<int>(s.tp);
        falls += static_cast<int>(s.tp + s.fn);
    }
    const double pooled = static_cast<double>(tp) / falls;
    EXPECT_LE(a.sensitivity.lower, pooled);
    EXPECT_GE(a.sensitivity.upper, pooled);
    EXPECT_LT(a.sensitivity.lower, a.sensitivity.upper);
    // Another seed draws other resamples.
    const IntervalBootstrap c = IntervalBootstrapSubjects(subjects, IntervalBootstrapSettings{500, 8, 0.95});
    EXPECT_TRUE(c.sensitivity.lower != a.sensitivity.lower || c.sensitivity.upper != a.sensitivity.upper ||
                c.falseAlarmsPerHour.lower != a.falseAlarmsPerHour.lower ||
                c.falseAlarmsPerHour.upper != a.falseAlarmsPerHour.upper);
}

TEST(Intervals, BootstrapOfTooFewOrUndefinedFigures)
{
    // One subject: nothing to resample.
    std::vector<IntervalSubject> one{IntervalSubject{1, 1, 0, 1, 0, 1000}};
    EXPECT_FALSE(IntervalBootstrapSubjects(one, IntervalBootstrapSettings{100, 1, 0.95}).sensitivity.defined);
    // Identical subjects: every resample gives the same figure.
    std::vector<IntervalSubject> same(5, IntervalSubject{1, 1, 0, 2, 1, 180000});
    const IntervalBootstrap b = IntervalBootstrapSubjects(same, IntervalBootstrapSettings{100, 1, 0.95});
    EXPECT_EQ(b.sensitivity.lower, 0.5);
    EXPECT_EQ(b.sensitivity.upper, 0.5);
    EXPECT_EQ(b.falseAlarmsPerHour.lower, 1.0);
    EXPECT_EQ(b.falseAlarmsPerHour.upper, 1.0);
    // No subject has a fall: sensitivity undefined in every resample.
    std::vector<IntervalSubject> noFalls(4, IntervalSubject{0, 0, 1, 2, 1, 180000});
    const IntervalBootstrap c = IntervalBootstrapSubjects(noFalls, IntervalBootstrapSettings{100, 1, 0.95});
    EXPECT_FALSE(c.sensitivity.defined);
    EXPECT_EQ(c.sensitivityDefined, 0);
    EXPECT_TRUE(c.specificity.defined);
}

}  // namespace
