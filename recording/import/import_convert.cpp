// The arithmetic of an import; see import_convert.h.
#include "import_convert.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kRateTolerance = 0.02;  // a block-mean ratio: within 2 % of k * 50 Hz
constexpr double kGridSlack = 1e-9;      // of a block, so that an exact whole number of blocks is not lost

double Axis(const ImportVec3& v, int axis)
{
    return axis == 0 ? v.x : (axis == 1 ? v.y : v.z);
}

// The determinant of a permutation with signs: the product of the signs,
// negated for an odd permutation.
int Determinant(const ImportAxes& a)
{
    int inversions = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = i + 1; j < 3; ++j) {
            inversions += a.source[i] > a.source[j] ? 1 : 0;
        }
    }
    const int product = a.sign[0] * a.sign[1] * a.sign[2];
    return inversions % 2 == 0 ? product : -product;
}

// The value of the stream at time t by linear interpolation; *at is the
// index of the last sample at or before t found so far (moved forward
// only, so that increasing times cost one pass).
ImportVec3 Interpolate(const std::vector<ImportTimed>& s, double t, std::size_t* at)
{
    if (t < s.front().t) {
        return s.front().v;
    }
    while (*at + 1 < s.size() && s[*at + 1].t <= t) {
        ++*at;
    }
    if (*at + 1 >= s.size()) {
        return s.back().v;
    }
    const ImportTimed& a = s[*at];
    const ImportTimed& b = s[*at + 1];
    const double w = (t - a.t) / (b.t - a.t);
    return ImportVec3{a.v.x + w * (b.v.x - a.v.x), a.v.y + w * (b.v.y - a.v.y), a.v.z + w * (b.v.z - a.v.z)};
}

}  // namespace

ImportAxes ImportAxesIdentity()
{
    return ImportAxes{{0, 1, 2}, {1, 1, 1}};
}

bool ImportAxesParse(const std::string& text, ImportAxes* axes, std::string* error)
{
    ImportAxes a{};
    bool used[3] = {false, false, false};
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t end = i < 2 ? text.find(',', at) : text.size();
        if (end == std::string::npos) {
            *error = "axis map '" + text + "': three axes separated by commas, such as y,-x,z";
            return false;
        }
        std::string item = text.substr(at, end - at);
        a.sign[i] = 1;
        if (!item.empty() && (item[0] == '-' || item[0] == '+')) {
            a.sign[i] = item[0] == '-' ? -1 : 1;
            item.erase(0, 1);
        }
        if (item != "x" && item != "y" && item != "z") {
            *error = "axis map '" + text + "': '" + text.substr(at, end - at) + "' is not one of x, y, z, -x, -y, -z";
            return false;
        }
        a.source[i] = item[0] - 'x';
        if (used[a.source[i]]) {
            *error = "axis map '" + text + "': axis " + item + " appears twice";
            return false;
        }
        used[a.source[i]] = true;
        at = end + 1;
    }
    if (Determinant(a) != 1) {
        *error = "axis map '" + text + "' is a mirror image, not a rotation (its determinant is -1): negate one axis";
        return false;
    }
    *axes = a;
    return true;
}

std::string ImportAxesText(const ImportAxes& axes)
{
    std::string text;
    for (int i = 0; i < 3; ++i) {
        text += i > 0 ? "," : "";
        text += axes.sign[i] < 0 ? "-" : "";
        text += static_cast<char>('x' + axes.source[i]);
    }
    return text;
}

ImportVec3 ImportAxesApply(const ImportAxes& axes, const ImportVec3& v)
{
    return ImportVec3{axes.sign[0] * Axis(v, axes.source[0]), axes.sign[1] * Axis(v, axes.source[1]),
                      axes.sign[2] * Axis(v, axes.source[2])};
}

int16_t ImportCount(double value, double perUnit, int64_t* clipped)
{
    const double x = value * perUnit;
    const double magnitude = std::floor(std::fabs(x) + 0.5);
    const double rounded = x < 0 ? -magnitude : magnitude;
    if (rounded > INT16_MAX || rounded < INT16_MIN) {
        ++*clipped;
        return rounded > 0 ? INT16_MAX : INT16_MIN;
    }
    return static_cast<int16_t>(rounded);
}

ImuSample ImportCounts(const ImportSample& s, int64_t* clipped)
{
    return ImuSample{ImportCount(s.acc.x, kImportAccelCountsPerG, clipped),
                     ImportCount(s.acc.y, kImportAccelCountsPerG, clipped),
                     ImportCount(s.acc.z, kImportAccelCountsPerG, clipped),
                     ImportCount(s.gyro.x, kImportGyroCountsPerDps, clipped),
                     ImportCount(s.gyro.y, kImportGyroCountsPerDps, clipped),
                     ImportCount(s.gyro.z, kImportGyroCountsPerDps, clipped)};
}

std::vector<ImportSample> ImportBlockMeans(const std::vector<ImportSample>& in, int k)
{
    std::vector<ImportSample> out;
    const std::size_t block = static_cast<std::size_t>(k);
    out.reserve(in.size() / block);
    for (std::size_t i = 0; i + block <= in.size(); i += block) {
        ImportSample sum = in[i];
        for (std::size_t j = i + 1; j < i + block; ++j) {
            sum.acc.x += in[j].acc.x;
            sum.acc.y += in[j].acc.y;
            sum.acc.z += in[j].acc.z;
            sum.gyro.x += in[j].gyro.x;
            sum.gyro.y += in[j].gyro.y;
            sum.gyro.z += in[j].gyro.z;
        }
        out.push_back(ImportSample{{sum.acc.x / k, sum.acc.y / k, sum.acc.z / k},
                                   {sum.gyro.x / k, sum.gyro.y / k, sum.gyro.z / k}});
    }
    return out;
}

void ImportKeepIncreasing(std::vector<ImportTimed>* stream)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < stream->size(); ++i) {
        if (kept == 0 || (*stream)[i].t > (*stream)[kept - 1].t) {
            (*stream)[kept++] = (*stream)[i];
        }
    }
    stream->resize(kept);
}

ImportStreamPlan ImportPlanStream(const std::vector<ImportTimed>& stream)
{
    std::vector<double> intervals;
    intervals.reserve(stream.size());
    for (std::size_t i = 1; i < stream.size(); ++i) {
        intervals.push_back(stream[i].t - stream[i - 1].t);
    }
    std::sort(intervals.begin(), intervals.end());
    const std::size_t n = intervals.size();
    const double median = n % 2 == 1 ? intervals[n / 2] : (intervals[n / 2 - 1] + intervals[n / 2]) / 2;
    ImportStreamPlan plan{1.0 / median, 0};
    const double k = std::floor(plan.rateHz / kImportRateHz + 0.5);
    // (A rate past every int multiple, from times a hair apart, is interpolated.)
    if (k >= 2 && k <= static_cast<double>(INT_MAX) &&
        std::fabs(plan.rateHz - k * kImportRateHz) <= kRateTolerance * k * kImportRateHz) {
        plan.ratio = static_cast<int>(k);
    }
    return plan;
}

bool ImportGridOf(const std::vector<ImportTimed>& a, const std::vector<ImportTimed>& b, ImportGrid* grid,
                  std::string* error)
{
    const double start = std::max(a.front().t, b.front().t);
    const double end = std::min(a.back().t, b.back().t);
    if (!(end > start)) {
        *error = "the accelerometer and the gyroscope do not overlap in time";
        return false;
    }
    if (end - start > kImportMaxSeconds) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the sensors' common time span is %.0f s, more than the %.0f s a recording may cover",
                      end - start, kImportMaxSeconds);
        *error = text;
        return false;
    }
    grid->start = start;
    grid->count = static_cast<int64_t>(std::floor((end - start) * kImportRateHz + kGridSlack));
    // A few samples spread over a long time (a gap, a jumping clock) would
    // make a recording of mostly made-up samples, and a small file a huge one.
    const std::size_t fewer = std::min(a.size(), b.size());
    if (grid->count > static_cast<int64_t>(kImportRateHz) * static_cast<int64_t>(fewer + 1)) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "the sensors' common time span is %.0f s, but the %s has only %zu samples (fewer than one per "
                      "second): the time stamps jump",
                      end - start, a.size() <= b.size() ? "accelerometer" : "gyroscope", fewer);
        *error = text;
        return false;
    }
    if (grid->count < 1) {
        *error = "the accelerometer and the gyroscope overlap for less than one output sample (20 ms)";
        return false;
    }
    return true;
}

void ImportResample(const std::vector<ImportTimed>& stream, const ImportStreamPlan& plan, const ImportGrid& grid,
                    std::vector<ImportVec3>* out)
{
    out->clear();
    out->reserve(static_cast<std::size_t>(grid.count));
    std::size_t at = 0;    // interpolation position
    std::size_t next = 0;  // first sample not yet taken into a block
    for (int64_t i = 0; i < grid.count; ++i) {
        const double centre = grid.start + (static_cast<double>(i) + 0.5) * kImportPeriod;
        if (plan.ratio == 0) {
            out->push_back(Interpolate(stream, centre, &at));
            continue;
        }
        const double lo = grid.start + static_cast<double>(i) * kImportPeriod;
        const double hi = grid.start + static_cast<double>(i + 1) * kImportPeriod;
        while (next < stream.size() && stream[next].t < lo) {
            ++next;
        }
        ImportVec3 sum{0.0, 0.0, 0.0};
        int n = 0;
        for (; next < stream.size() && stream[next].t < hi; ++next, ++n) {
            sum.x += stream[next].v.x;
            sum.y += stream[next].v.y;
            sum.z += stream[next].v.z;
        }
        out->push_back(n > 0 ? ImportVec3{sum.x / n, sum.y / n, sum.z / n} : Interpolate(stream, centre, &at));
    }
}

std::string ImportStreamPlanText(const ImportStreamPlan& plan)
{
    char text[96];
    if (plan.ratio > 0) {
        std::snprintf(text, sizeof text, "block mean (%.1f Hz, ratio %d)", plan.rateHz, plan.ratio);
    } else {
        std::snprintf(text, sizeof text, "linear interpolation (%.1f Hz)", plan.rateHz);
    }
    return text;
}
