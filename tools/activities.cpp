#include "activities.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace recgen {

namespace {

constexpr double kTwoPi = 2.0 * kPi;

// Raised-cosine weights that sum to 1: a smooth rate profile whose
// integral is exactly the intended turn.
std::vector<double> SmoothProfile(int n)
{
    std::vector<double> w(static_cast<size_t>(n));
    double sum = 0.0;
    for (int k = 0; k < n; ++k) {
        const double a = std::sin(kPi * (k + 0.5) / n);
        w[static_cast<size_t>(k)] = a * a;
        sum += a * a;
    }
    for (double& v : w) {
        v /= sum;
    }
    return w;
}

// Rates in deg/s that turn by degrees in total when applied with weights w.
double RateFor(double degrees, double weight)
{
    return degrees * weight / kDt;
}

// A sway that returns to where it started: whole cycles of a sine near
// hz over n samples, amplitude amp (deg/s).
double Sway(int k, int n, double hz, double amp, double phaseTurns)
{
    const double cycles = std::max(1.0, std::round(hz * n * kDt));
    // Shifting by whole samples keeps the sum over the segment at zero.
    const int shift = static_cast<int>(std::lround(phaseTurns * n / cycles));
    return amp * std::sin(kTwoPi * cycles * ((k + shift) % n + 0.5) / n);
}

// 0 at the ends of a segment of n samples, 1 inside, with ramps of r.
double Envelope(int k, int n, int r)
{
    const double a = std::min(1.0, (k + 0.5) / r);
    const double b = std::min(1.0, (n - k - 0.5) / r);
    return std::min(a, b);
}

}  // namespace

void Still(Sensor* s, double seconds)
{
    const int n = SamplesIn(seconds);
    const double px = RngUniform(&s->rng);
    const double pz = RngUniform(&s->rng);
    const double pb = RngUniform(&s->rng);
    for (int k = 0; k < n; ++k) {
        const Vec3 rate{Sway(k, n, 0.3, 0.4, px), 0.0, Sway(k, n, 0.2, 0.3, pz)};
        const double breath = 1.0 + 0.004 * std::sin(kTwoPi * (0.25 * k * kDt + pb));
        SensorStep(s, rate, Scale(kUp, breath));
    }
}

void Turn(Sensor* s, Vec3 axis, double degrees, double seconds, double push)
{
    const int n = std::max(2, SamplesIn(seconds));
    const std::vector<double> w = SmoothProfile(n);
    const Vec3 a = Unit(axis);
    for (int k = 0; k < n; ++k) {
        const double u = (k + 0.5) / n;
        const Vec3 rate = Scale(a, RateFor(degrees, w[static_cast<size_t>(k)]));
        SensorStep(s, rate, Scale(kUp, 1.0 + push * std::sin(kTwoPi * u)));
    }
}

void Level(Sensor* s, double seconds)
{
    // The world's down direction as the sensor sees it; turning the sensor's
    // +Y onto it makes the wearer upright again.
    const Vec3 down = RotateInverse(s->orientation, Vec3{0.0, 1.0, 0.0});
    const double angle = AngleBetween(kAxisY, down);
    const Vec3 axis = Cross(kAxisY, down);
    if (angle < 1e-9 || Length(axis) == 0.0) {
        Still(s, seconds);
        return;
    }
    Turn(s, axis, angle, seconds, 0.0);
}

void Walk(Sensor* s, double seconds, double stepHz, double turnDegrees)
{
    const int n = SamplesIn(seconds);
    const std::vector<double> turn = SmoothProfile(std::max(2, n));
    const int ramp = SamplesIn(0.6);
    for (int k = 0; k < n; ++k) {
        const double e = Envelope(k, n, ramp);
        const double phase = kTwoPi * stepHz * k * kDt;
        const double stride = 0.5 * phase;
        // Heel strikes and push-offs: vertical force about 0.7 to 1.3 g,
        // fore-aft sway at the step rate, sideways sway at the stride rate.
        const double vertical = 1.0 + e * (0.22 * std::sin(phase) + 0.07 * std::sin(2.0 * phase + 0.6));
        const Vec3 forward = Rotate(s->orientation, Vec3{0.0, 0.0, -1.0});
        const Vec3 left = Rotate(s->orientation, Vec3{-1.0, 0.0, 0.0});
        Vec3 force = Scale(kUp, vertical);
        force = Add(force, Scale(forward, e * 0.10 * std::sin(phase + 1.2)));
        force = Add(force, Scale(left, e * 0.06 * std::sin(stride)));
        // Trunk pitch with each step, roll and yaw with each stride.
        Vec3 rate{e * 12.0 * std::cos(phase), e * 15.0 * std::cos(stride + 0.5), e * 10.0 * std::cos(stride)};
        if (n >= 2) {
            rate.y += RateFor(turnDegrees, turn[static_cast<size_t>(k)]);
        }
        SensorStep(s, rate, force);
    }
    Level(s, 0.6);
}

void SitDown(Sensor* s, bool hard)
{
    // Lean forward over the feet while the knees start to bend.
    Turn(s, kAxisX, 25.0, 0.8, -0.06);
    if (!hard) {
        // Lower onto the seat and lean back against it.
        Turn(s, kAxisX, -(25.0 + kSeatedLean), 1.0, -0.12);
        return;
    }
    // Drop onto the seat: a short low-g phase, a hit, then the trunk leans
    // back. The lean forward stops during the drop.
    const int drop = SamplesIn(0.26);
    for (int k = 0; k < drop; ++k) {
        const double u = std::min(1.0, (k + 1.0) / 4.0);
        SensorStep(s, Vec3{Sway(k, drop, 4.0, 6.0, 0.0), 0.0, 0.0}, Scale(kUp, 1.0 - 0.5 * u));
    }
    const double hit[] = {1.5, 2.4, 1.8, 1.2};
    for (const double g : hit) {
        SensorStep(s, Vec3{0.0, 0.0, 0.0}, Add(Scale(kUp, g), Scale(kForward, 0.15 * g)));
    }
    Turn(s, kAxisX, -(25.0 + kSeatedLean), 0.6, 0.05);
}

void StandUp(Sensor* s)
{
    Turn(s, kAxisX, kSeatedLean + 28.0, 0.8, 0.0);
    // Rise: the legs push (force above 1 g), then the body slows (below).
    Turn(s, kAxisX, -28.0, 1.1, 0.18);
    Level(s, 0.3);
}

void Bend(Sensor* s, double degrees)
{
    Turn(s, kAxisX, degrees, 1.0, -0.05);
    Still(s, 1.0);
    Turn(s, kAxisX, -degrees, 1.1, 0.06);
    Level(s, 0.3);
}

void LieDown(Sensor* s)
{
    Turn(s, kAxisX, -(90.0 - kSeatedLean), 1.8, -0.05);
}

void SitUp(Sensor* s)
{
    Turn(s, kAxisX, 90.0 - kSeatedLean, 1.6, 0.1);
}

void Roll(Sensor* s, double degrees)
{
    Turn(s, kAxisY, degrees, 1.2, 0.05);
}

void Jump(Sensor* s)
{
    struct Phase {
        double seconds;
        double from, to;  // force, g, blended over the phase
        double bump;      // added sine bump over the phase, g
    };
    // Dip, push-off, flight, then the landing below.
    const Phase phases[] = {
        {0.30, 1.0, 1.0, -0.40},
        {0.24, 1.0, 1.0, 0.95},
        {0.06, 1.0, 0.05, 0.0},
        {0.28, 0.05, 0.05, 0.0},
    };
    for (const Phase& p : phases) {
        const int n = SamplesIn(p.seconds);
        for (int k = 0; k < n; ++k) {
            const double u = (k + 0.5) / n;
            const double g = p.from + (p.to - p.from) * u + p.bump * std::sin(kPi * u);
            // A little trunk pitch that comes back within each phase.
            SensorStep(s, Vec3{Sway(k, n, 1.0 / p.seconds, 8.0, 0.0), 0.0, 0.0}, Scale(kUp, g));
        }
    }
    const double landing[] = {2.3, 3.6, 2.7, 1.7, 1.2, 0.85, 0.9, 1.05};
    for (const double g : landing) {
        SensorStep(s, Vec3{0.0, 0.0, 0.0}, Scale(kUp, g));
    }
    Level(s, 0.4);
}

void Fall(Sensor* s, const FallShape& f)
{
    const int lose = SamplesIn(f.loseSeconds);
    const int drop = std::max(1, SamplesIn(f.dropSeconds));
    const int turning = lose + drop;
    // The turn speeds up as the body tips over; the impact stops it within
    // three samples. Rate weights, scaled below to the whole turn.
    std::vector<double> w;
    for (int k = 0; k < turning; ++k) {
        w.push_back(std::pow((k + 1.0) / turning, f.speedUp));
    }
    const double last = w.back();
    w.push_back(0.5 * last);
    w.push_back(0.2 * last);
    w.push_back(0.05 * last);
    double sum = 0.0;
    for (const double v : w) {
        sum += v;
    }
    const Vec3 axis = Unit(f.axis);
    size_t i = 0;
    auto step = [&](const Vec3& force) {
        const double rate = i < w.size() ? RateFor(f.degrees, w[i] / sum) : 0.0;
        SensorStep(s, Scale(axis, rate), force);
        ++i;
    };

    // Losing balance: the support weakens, the force eases to 0.8 g.
    for (int k = 0; k < lose; ++k) {
        const double u = (k + 0.5) / lose;
        step(Scale(kUp, 1.0 - 0.2 * u * u));
    }
    // Dropping: the force falls to lowG within a few samples.
    for (int k = 0; k < drop; ++k) {
        const double u = std::min(1.0, (k + 1.0) / 4.0);
        const double g = 0.8 + (f.lowG - 0.8) * u + 0.03 * std::sin(kTwoPi * k / 5.0);
        step(Scale(kUp, g));
    }
    // Impact: a peak of impactG, partly horizontal, over five samples.
    const double pulse[] = {0.6, 1.0, 0.75, 0.4, 0.15};
    for (const double p : pulse) {
        const double up = 1.0 + (f.impactG - 1.0) * p;
        step(Add(Scale(kUp, up), Scale(Unit(f.impactSide), f.sideShare * f.impactG * p)));
    }
    // Settling: a small bounce of the body and a slight rebound of the
    // turn that comes back to rest.
    const int settle = SamplesIn(f.settleSeconds);
    for (int k = 0; k < settle; ++k) {
        const double t = (k + 1) * kDt;
        const double bounce = 0.25 * std::exp(-t / 0.12) * std::sin(kTwoPi * 3.0 * t);
        const double rebound = Sway(k, settle, 1.0 / f.settleSeconds, 12.0, 0.5);
        SensorStep(s, Scale(axis, rebound), Scale(kUp, 1.0 + bounce));
    }
}

void Tumble(Sensor* s, double seconds, double rollDegrees)
{
    // Tripping: the force drops and the roll sets in.
    const int trip = SamplesIn(0.2);
    const int n = SamplesIn(seconds);
    const int ramp = 5;
    std::vector<double> w;
    for (int k = 0; k < trip; ++k) {
        w.push_back(0.3 * (k + 1.0) / trip);
    }
    for (int k = 0; k < n; ++k) {
        w.push_back(0.3 + 0.7 * Envelope(k, n, ramp));
    }
    double sum = 0.0;
    for (const double v : w) {
        sum += v;
    }
    for (int k = 0; k < trip; ++k) {
        const double rate = RateFor(rollDegrees, w[static_cast<size_t>(k)] / sum);
        SensorStep(s, Vec3{0.0, 0.0, rate}, Scale(kUp, 1.0 - 0.45 * (k + 1.0) / trip));
    }
    for (int k = 0; k < n; ++k) {
        const double t = k * kDt;
        const double roll = RateFor(rollDegrees, w[static_cast<size_t>(trip + k)] / sum);
        const double wobble = Sway(k, n, 1.5, 90.0, 0.0);
        // Strong force from the steps and the rolling, with a knock every
        // quarter second.
        double g = 1.9 + 0.35 * std::sin(kTwoPi * 3.0 * t);
        if (k % 12 == 6) {
            g += 1.2;
        }
        const Vec3 forward = Rotate(s->orientation, Vec3{0.0, 0.0, -1.0});
        SensorStep(s, Vec3{wobble, 0.0, roll}, Add(Scale(kUp, g), Scale(forward, 0.3)));
    }
    const double hit[] = {2.4, 3.4, 2.2, 1.4, 1.1};
    for (const double g : hit) {
        SensorStep(s, Vec3{0.0, 0.0, 0.0}, Scale(kUp, g));
    }
}

}  // namespace recgen
