// The benchmarks' sample stream. Upright the sensor reads about
// (0, -8192, 0): its +Y axis points down. One cycle of 63 s: 20 s standing,
// 30 s walking, a forward fall (0.4 s of low g while turning about X, a
// 0.12 s impact), 8 s lying with gravity along +Z, 1 s getting up, 3.5 s
// standing. Every value carries a little sensor noise.
#include "sample_stream.h"

#include "dataset_format.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr double kCountsPerG = 8192.0;
constexpr double kCountsPerDps = 65.536;
constexpr double kPi = 3.14159265358979323846;

// Phase ends within a cycle, in samples.
constexpr int kStandEnd = 1000;
constexpr int kWalkEnd = kStandEnd + 1500;
constexpr int kDropEnd = kWalkEnd + 20;
constexpr int kImpactEnd = kDropEnd + 6;
constexpr int kLieEnd = kImpactEnd + 400;
constexpr int kRiseEnd = kLieEnd + 50;
constexpr int kCycle = kRiseEnd + 174;

// A small linear congruential generator: the same noise on every host.
class Noise {
public:
    // Uniform in [-amplitude, amplitude].
    double Next(double amplitude)
    {
        state_ = state_ * 1664525u + 1013904223u;
        return amplitude * (static_cast<double>(state_ >> 8) / 8388608.0 - 1.0);
    }

private:
    uint32_t state_ = 12345u;
};

int16_t Counts(double v)
{
    const double limited = v > 32767.0 ? 32767.0 : (v < -32768.0 ? -32768.0 : v);
    return static_cast<int16_t>(std::lround(limited));
}

// Gravity in g for the sensor turned by angle (radians) about X from
// upright towards lying on its front.
void Gravity(double angle, double* y, double* z)
{
    *y = -std::cos(angle);
    *z = std::sin(angle);
}

}  // namespace

std::vector<ImuSample> MakeSampleStream(std::size_t count)
{
    std::vector<ImuSample> samples;
    samples.reserve(count);
    Noise noise;
    for (std::size_t n = 0; n < count; ++n) {
        const int i = static_cast<int>(n % kCycle);
        const double t = static_cast<double>(i) / kSamplesPerSecond;
        double ax = 0.0;
        double ay = -1.0;
        double az = 0.0;
        double gx = 0.0;  // deg/s
        double gy = 0.0;
        double gz = 0.0;
        if (i >= kStandEnd && i < kWalkEnd) {
            // Two steps a second: vertical bounce, forward sway, leg swing.
            const double step = 2.0 * kPi * 2.0 * t;
            ay = -1.0 - 0.35 * std::sin(step);
            az = 0.15 * std::sin(step / 2.0);
            ax = 0.05 * std::cos(step);
            gx = 25.0 * std::cos(step / 2.0);
            gz = 8.0 * std::sin(step);
        } else if (i >= kWalkEnd && i < kDropEnd) {
            // Falling: little felt acceleration while turning 70 degrees.
            const double share = static_cast<double>(i - kWalkEnd) / (kDropEnd - kWalkEnd);
            Gravity(share * 70.0 * kPi / 180.0, &ay, &az);
            ay *= 0.2;
            az *= 0.2;
            gx = 70.0 / ((kDropEnd - kWalkEnd) / kSamplesPerSecond);
        } else if (i >= kDropEnd && i < kImpactEnd) {
            // The impact: a short hard hit that completes the turn.
            ay = -0.6;
            az = 3.2;
            ax = 0.8;
            gx = 20.0 / ((kImpactEnd - kDropEnd) / kSamplesPerSecond);
        } else if (i >= kImpactEnd && i < kLieEnd) {
            Gravity(kPi / 2.0, &ay, &az);
        } else if (i >= kLieEnd && i < kRiseEnd) {
            // Getting up: back to upright in one second.
            const double share = static_cast<double>(i - kLieEnd) / (kRiseEnd - kLieEnd);
            Gravity((1.0 - share) * kPi / 2.0, &ay, &az);
            ay *= 1.1;
            gx = -90.0 / ((kRiseEnd - kLieEnd) / kSamplesPerSecond);
        }
        samples.push_back(
            ImuSample{Counts((ax + noise.Next(0.01)) * kCountsPerG), Counts((ay + noise.Next(0.01)) * kCountsPerG),
                      Counts((az + noise.Next(0.01)) * kCountsPerG), Counts((gx + noise.Next(1.0)) * kCountsPerDps),
                      Counts((gy + noise.Next(1.0)) * kCountsPerDps), Counts((gz + noise.Next(1.0)) * kCountsPerDps)});
    }
    return samples;
}

bool WriteDataSetFile(const std::string& path, const std::vector<ImuSample>& samples)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const std::string bytes = DataSetImage(samples);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}
