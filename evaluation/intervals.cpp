// Confidence intervals: Wilson, Garwood and the subject-level bootstrap.
#include "intervals.h"

#include <fmt/core.h>
#include <algorithm>
#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Samples per hour at the detector's 50 samples per second.
constexpr double kSamplesPerHour = 50.0 * 3600.0;

Interval Undefined()
{
    return Interval{kNaN, kNaN, false};
}

// The next subject index, 0..n-1, unbiased (see the header).
std::size_t Draw(std::mt19937_64* generator, uint64_t n)
{
    const uint64_t limit = std::numeric_limits<uint64_t>::max() - std::numeric_limits<uint64_t>::max() % n;
    uint64_t x = (*generator)();
    while (x >= limit) {
        x = (*generator)();
    }
    return static_cast<std::size_t>(x % n);
}

// The percentile interval of values (sorted here).
Interval Percentile(std::vector<double>* values, double confidence)
{
    if (values->empty()) {
        return Undefined();
    }
    std::sort(values->begin(), values->end());
    const double m = static_cast<double>(values->size());
    const auto rank = [&](double q) {
        const double r = std::ceil(m * q);
        const std::size_t k = r < 1.0 ? 1 : static_cast<std::size_t>(std::min(r, m));
        return (*values)[k - 1];
    };
    return Interval{rank((1.0 - confidence) / 2.0), rank((1.0 + confidence) / 2.0), true};
}

double Share(int64_t numerator, int64_t denominator)
{
    return denominator == 0 ? kNaN : static_cast<double>(numerator) / static_cast<double>(denominator);
}

}  // namespace

bool IntervalConfidenceValid(double confidence)
{
    return std::isfinite(confidence) && confidence > 0.0 && confidence < 1.0;
}

double IntervalNormalQuantile(double p)
{
    return -std::sqrt(2.0) * boost::math::erfc_inv(2.0 * p);
}

Interval IntervalWilson(int64_t successes, int64_t trials, double confidence)
{
    if (trials <= 0 || successes < 0 || successes > trials || !IntervalConfidenceValid(confidence)) {
        return Undefined();
    }
    const double z = IntervalNormalQuantile((1.0 + confidence) / 2.0);
    const double n = static_cast<double>(trials);
    const double p = static_cast<double>(successes) / n;
    const double z2 = z * z;
    const double denominator = 1.0 + z2 / n;
    const double centre = (p + z2 / (2.0 * n)) / denominator;
    const double half = z / denominator * std::sqrt(p * (1.0 - p) / n + z2 / (4.0 * n * n));
    Interval interval{std::max(0.0, centre - half), std::min(1.0, centre + half), true};
    if (successes == 0) {
        interval.lower = 0.0;
    }
    if (successes == trials) {
        interval.upper = 1.0;
    }
    return interval;
}

Interval IntervalPoisson(int64_t events, double hours, double confidence)
{
    if (events < 0 || !(hours > 0.0) || !std::isfinite(hours) || !IntervalConfidenceValid(confidence)) {
        return Undefined();
    }
    const double a = 1.0 - confidence;
    const double k = static_cast<double>(events);
    // Q(p, 2k) / 2 is the inverse of the regularized lower incomplete gamma
    // function P(k, .) at p.
    const double lower = events == 0 ? 0.0 : boost::math::gamma_p_inv(k, a / 2.0);
    const double upper = boost::math::gamma_p_inv(k + 1.0, 1.0 - a / 2.0);
    return Interval{lower / hours, upper / hours, true};
}

IntervalBootstrap IntervalBootstrapSubjects(const std::vector<IntervalSubject>& subjects,
                                            const IntervalBootstrapSettings& settings)
{
    IntervalBootstrap result{};
    result.subjects = static_cast<int>(subjects.size());
    result.resamples = settings.resamples;
    result.seed = settings.seed;
    result.sensitivity = result.specificity = result.precision = result.falseAlarmsPerHour = Undefined();
    if (subjects.size() < 2 || settings.resamples < 1 || !IntervalConfidenceValid(settings.confidence)) {
        return result;
    }
    std::vector<double> sensitivity;
    std::vector<double> specificity;
    std::vector<double> precision;
    std::vector<double> falseAlarms;
    const std::size_t resamples = static_cast<std::size_t>(settings.resamples);
    sensitivity.reserve(resamples);
    specificity.reserve(resamples);
    precision.reserve(resamples);
    falseAlarms.reserve(resamples);
    std::mt19937_64 generator(settings.seed);
    const uint64_t n = subjects.size();
    for (std::size_t r = 0; r < resamples; ++r) {
        IntervalSubject sum{0, 0, 0, 0, 0, 0};
        for (uint64_t i = 0; i < n; ++i) {
            const IntervalSubject& s = subjects[Draw(&generator, n)];
            sum.tp += s.tp;
            sum.fn += s.fn;
            sum.fp += s.fp;
            sum.tn += s.tn;
            sum.falseAlarmEvents += s.falseAlarmEvents;
            sum.adlSamples += s.adlSamples;
        }
        const double values[] = {
            Share(sum.tp, sum.tp + sum.fn), Share(sum.tn, sum.tn + sum.fp), Share(sum.tp, sum.tp + sum.fp),
            sum.adlSamples == 0
                ? kNaN
                : static_cast<double>(sum.falseAlarmEvents) / (static_cast<double>(sum.adlSamples) / kSamplesPerHour)};
        std::vector<double>* lists[] = {&sensitivity, &specificity, &precision, &falseAlarms};
        for (int f = 0; f < 4; ++f) {
            if (!std::isnan(values[f])) {
                lists[f]->push_back(values[f]);
            }
        }
    }
    result.sensitivityDefined = static_cast<int>(sensitivity.size());
    result.specificityDefined = static_cast<int>(specificity.size());
    result.precisionDefined = static_cast<int>(precision.size());
    result.falseAlarmsPerHourDefined = static_cast<int>(falseAlarms.size());
    result.sensitivity = Percentile(&sensitivity, settings.confidence);
    result.specificity = Percentile(&specificity, settings.confidence);
    result.precision = Percentile(&precision, settings.confidence);
    result.falseAlarmsPerHour = Percentile(&falseAlarms, settings.confidence);
    return result;
}

std::string IntervalText(const Interval& interval, int decimals)
{
    if (!interval.defined) {
        return "-";
    }
    return fmt::format("[{:.{}f}, {:.{}f}]", interval.lower, decimals, interval.upper, decimals);
}
