// How sure a figure is: confidence intervals for the rates the workbench
// reports. Wilson score intervals for shares of recordings (sensitivity,
// specificity, precision, an activity's detected share), exact (Garwood)
// Poisson intervals for false alarms per hour, and a percentile bootstrap
// over subjects for figures estimated over a population of wearers.
#ifndef EVALUATION_INTERVALS_H
#define EVALUATION_INTERVALS_H

#include <cstdint>
#include <string>
#include <vector>

// The confidence level when none is given.
constexpr double kIntervalDefaultConfidence = 0.95;

// Bootstrap resamples when a bootstrap is asked for without a number.
constexpr int kIntervalDefaultResamples = 2000;

// The most bootstrap resamples accepted.
constexpr int kIntervalMaxResamples = 1000000;

// A two-sided interval at some confidence level. defined is false when the
// figure has no interval: a denominator of 0 (no falls, no ADLs, no hours
// of ADL), or a bootstrap over fewer than two subjects; lower and upper are
// NaN then.
struct Interval {
    double lower;
    double upper;
    bool defined;
};

// True when confidence is a level this module accepts: a finite number
// strictly between 0 and 1.
bool IntervalConfidenceValid(double confidence);

// The standard normal distribution's quantile at p (0 < p < 1): the z with
// P(Z <= z) = p.
double IntervalNormalQuantile(double p);

// The Wilson score interval of a share of successes out of trials at the
// confidence level confidence. With z the normal quantile at
// (1 + confidence) / 2, p = successes / trials and n = trials:
//   centre = (p + z^2 / 2n) / (1 + z^2 / n)
//   half   = z / (1 + z^2 / n) * sqrt(p (1 - p) / n + z^2 / 4n^2)
// and [centre - half, centre + half], kept within [0, 1] (0 of n starts at
// 0, n of n ends at 1). Undefined when trials is 0 (or successes lies
// outside 0..trials).
Interval IntervalWilson(int64_t successes, int64_t trials, double confidence);

// The exact (Garwood) interval of a Poisson rate: events counted in hours
// of exposure, per hour. With a = 1 - confidence and Q(p, k) the chi-square
// quantile with k degrees of freedom at p:
//   lower = Q(a / 2, 2 events) / 2 / hours   (0 when events is 0)
//   upper = Q(1 - a / 2, 2 events + 2) / 2 / hours
// so with no event the upper bound is -ln(a / 2) / hours (3.69 / hours at
// 95 %). Undefined when hours is not positive (or events is negative).
Interval IntervalPoisson(int64_t events, double hours, double confidence);

// What one subject contributes to a set's figures.
struct IntervalSubject {
    int64_t tp;
    int64_t fn;
    int64_t fp;
    int64_t tn;
    int64_t falseAlarmEvents;
    uint64_t adlSamples;  // samples of the subject's ADL recordings (50 per second)
};

// The settings of a subject-level bootstrap.
struct IntervalBootstrapSettings {
    int resamples;      // 1 .. kIntervalMaxResamples
    uint64_t seed;      // any 64-bit value; the same seed gives the same intervals
    double confidence;  // IntervalConfidenceValid
};

// Percentile bootstrap intervals of the pooled figures of a set of
// subjects.
struct IntervalBootstrap {
    int subjects;                 // subjects resampled
    int resamples;                // resamples drawn
    uint64_t seed;                // as given
    Interval sensitivity;         // sum tp / sum (tp + fn)
    Interval specificity;         // sum tn / sum (tn + fp)
    Interval precision;           // sum tp / sum (tp + fp)
    Interval falseAlarmsPerHour;  // sum events / (sum adlSamples / 50 / 3600)
    int sensitivityDefined;       // resamples in which each figure was defined
    int specificityDefined;
    int precisionDefined;
    int falseAlarmsPerHourDefined;
};

// The subject-level bootstrap: resamples times, draws as many subjects as
// there are, uniformly with replacement, and computes each pooled figure of
// the draw. The generator is std::mt19937_64 seeded with seed; a subject
// index is the generator's next output x taken modulo the number of
// subjects n, after rejecting every x at or above the largest multiple of n
// (so each subject is equally likely), all draws of resample 1 first. A
// figure's interval is the percentile interval of its values over the
// resamples in which it is defined, sorted: the values at ranks
// ceil(m (1 - confidence) / 2) and ceil(m (1 + confidence) / 2) of m (1-based,
// clamped to 1..m). It is undefined with fewer than two subjects or when no
// resample defines the figure. Runs on the calling thread; the result
// depends only on the subjects (in their order), resamples, seed and
// confidence. Allocates the figures of one pass over the resamples.
IntervalBootstrap IntervalBootstrapSubjects(const std::vector<IntervalSubject>& subjects,
                                            const IntervalBootstrapSettings& settings);

// "[lower, upper]" with decimals decimals, or "-" when undefined.
std::string IntervalText(const Interval& interval, int decimals);

#endif
