// The orientation filter, the attitude angles derived from it, and both
// running end to end inside the detector.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "angles.h"
#include "dataset.h"
#include "orientation_filter.h"
#include "quaternion.h"
#include "tumblewatch.h"
#include "update_orientation.h"

namespace {

// A filter record that owns its quaternion for the length of a test.
class Filter {
public:
    Filter()
    {
        std::memset(static_cast<void*>(&f_), 0, sizeof f_);
        OrientationFilterInit(&f_);
    }
    ~Filter() { OrientationFilterRelease(&f_); }
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    OrientationFilter* get() { return &f_; }
    Quaternion& q() { return *f_.orientation; }
    void Step(const double* gyro, const double* accl)
    {
        const double magn[3] = {0, 0, 0};
        OrientationFilterUpdate(&f_, gyro, accl, magn, 0.02);
    }

private:
    OrientationFilter f_;
};

// Rotation angle of a unit quaternion, radians.
double TurnAngle(const Quaternion& q)
{
    return 2.0 * std::atan2(Norm(q.v()), q.s());
}

bool IsFinite(const Quaternion& q)
{
    const dVector v = q.v();
    return std::isfinite(q.s()) && std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

TEST(OrientationFilter, InitAndRelease)
{
    OrientationFilter f;
    std::memset(static_cast<void*>(&f), 0x5a, sizeof f);
    OrientationFilterInit(&f);
    ASSERT_NE(f.orientation, nullptr);
    EXPECT_EQ(f.orientation->s(), 1.0);
    EXPECT_EQ(Norm(f.orientation->v()), 0.0);
    EXPECT_EQ(f.biasCount, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.gyroBias[i], 0.0);
        EXPECT_EQ(f.spare[i], 0.0);
    }
    OrientationFilterRelease(&f);
    EXPECT_EQ(f.orientation, nullptr);
    OrientationFilterRelease(&f);  // already released: nothing happens
    EXPECT_EQ(f.orientation, nullptr);

    // A released filter ignores further steps.
    const double gyro[3] = {1, 2, 3};
    const double accl[3] = {0, -1, 0};
    const double magn[3] = {0, 0, 0};
    OrientationFilterUpdate(&f, gyro, accl, magn, 0.02);
    EXPECT_EQ(f.orientation, nullptr);
    EXPECT_EQ(f.biasCount, 0);
}

TEST(OrientationFilter, FirstSampleBecomesTheBiasAndAddsNoRotation)
{
    Filter f;
    const double gyro[3] = {37.5, -120.25, 3.0};
    const double accl[3] = {0, 0, 0};
    f.Step(gyro, accl);
    EXPECT_EQ(f.get()->biasCount, 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.get()->gyroBias[i], gyro[i]);
    }
    EXPECT_EQ(f.q().s(), 1.0);
    EXPECT_EQ(Norm(f.q().v()), 0.0);
}

TEST(OrientationFilter, BiasJoinsOnlyStrictlyInsideTheBand)
{
    struct Case {
        double second[3];
        bool joins;
    };
    const Case cases[] = {
        {{15.0, 0, 0}, false},   {{14.999, 0, 0}, true},   {{-5.0, 0, 0}, false},    {{-4.999, 0, 0}, true},
        {{5.0, 10.0, 0}, false}, {{5.0, 0, -10.0}, false}, {{5.0, 9.5, -9.5}, true},
    };
    for (const Case& c : cases) {
        Filter f;
        const double first[3] = {5.0, 0, 0};
        UpdateGyroBias(f.get(), f.get()->gyroBias, first, 10000, 10.0);
        UpdateGyroBias(f.get(), f.get()->gyroBias, c.second, 10000, 10.0);
        EXPECT_EQ(f.get()->biasCount, 2);
        for (int i = 0; i < 3; ++i) {
            const double expected = c.joins ? (1.0 * first[i] + c.second[i]) / 2.0 : first[i];
            EXPECT_EQ(f.get()->gyroBias[i], expected) << c.second[0] << " " << c.second[1] << " " << c.second[2];
        }
    }
}

TEST(OrientationFilter, RejectedSamplesStillCount)
{
    Filter f;
    OrientationFilter* r = f.get();
    const double s1[3] = {5, 0, 0};
    const double s2[3] = {20, 0, 0};
    const double s3[3] = {6, 0, 0};
    UpdateGyroBias(r, r->gyroBias, s1, 10000, 10.0);
    UpdateGyroBias(r, r->gyroBias, s2, 10000, 10.0);
    EXPECT_EQ(r->gyroBias[0], 5.0);
    EXPECT_EQ(r->biasCount, 2);
    UpdateGyroBias(r, r->gyroBias, s3, 10000, 10.0);
    EXPECT_EQ(r->gyroBias[0], 16.0 / 3.0);
    EXPECT_EQ(r->biasCount, 3);
}

TEST(OrientationFilter, BiasCountSaturates)
{
    Filter f;
    OrientationFilter* r = f.get();
    const double gyro[3] = {1, 1, 1};
    for (int i = 0; i < 10005; ++i) {
        UpdateGyroBias(r, r->gyroBias, gyro, 10000, 10.0);
        ASSERT_LE(r->biasCount, 10000);
    }
    EXPECT_EQ(r->biasCount, 10000);
    // Saturated: an accepted sample moves the bias by 1/10001 of its distance.
    const double step[3] = {1 + 10001 * 0.0001, 1, 1};
    UpdateGyroBias(r, r->gyroBias, step, 10000, 10.0);
    EXPECT_NEAR(r->gyroBias[0], 1.0001, 1e-12);
    EXPECT_EQ(r->biasCount, 10000);
}

TEST(OrientationFilter, GyroRateIsIntegratedAboutTheSensorAxes)
{
    Filter f;
    const double still[3] = {0, 0, 0};
    const double none[3] = {0, 0, 0};
    f.Step(still, none);                 // bias 0
    const double spin[3] = {9.0, 0, 0};  // in the band: the bias moves to 4.5
    f.Step(spin, none);
    const double angle = (9.0 - 4.5) * kRadPerDeg * 0.02;
    EXPECT_EQ(f.q().s(), std::cos(angle / 2.0));
    EXPECT_EQ(f.q().v()[0], std::sin(angle / 2.0));
    EXPECT_EQ(f.q().v()[1], 0.0);
    EXPECT_EQ(f.q().v()[2], 0.0);
}

// The turn of the first step from identity with accl (0, -a, 0): the error
// angle is 90 degrees, so the turn is the gain times 90 degrees.
double FirstStepGain(double a)
{
    Filter f;
    const double gyro[3] = {0, 0, 0};
    const double accl[3] = {0, -a, 0};
    f.Step(gyro, accl);
    EXPECT_GT(f.q().v()[0], 0.0);  // about +X
    return TurnAngle(f.q()) / (kPi / 2);
}

TEST(OrientationFilter, GainFallsOffAwayFromOneG)
{
    EXPECT_NEAR(FirstStepGain(1.0), 0.1, 1e-15);
    EXPECT_NEAR(FirstStepGain(1.05), 0.1 * std::exp(-0.25), 1e-12);
    EXPECT_NEAR(FirstStepGain(1.05), 0.0779, 1e-4);
    EXPECT_NEAR(FirstStepGain(1.1), 0.1 * std::exp(-1.0), 1e-12);
    EXPECT_NEAR(FirstStepGain(0.9), 0.1 * std::exp(-1.0), 1e-12);
    EXPECT_NEAR(FirstStepGain(1.2), 0.00183, 1e-5);
    // 0.1 * e^-4 * 90 degrees
    EXPECT_NEAR(FirstStepGain(1.2) * 90.0, 0.165, 1e-3);
}

TEST(OrientationFilter, PullsGravityTowardTheReference)
{
    Filter f;
    const double gyro[3] = {0, 0, 0};
    const double accl[3] = {0, -1, 0};
    f.Step(gyro, accl);
    const double c = std::cos(4.5 * kRadPerDeg);
    const double s = std::sin(4.5 * kRadPerDeg);
    const dVector v = f.q().v();
    EXPECT_NEAR(f.q().s(), c, 1e-15);
    EXPECT_NEAR(v[0], s, 1e-15);
    EXPECT_EQ(v[1], 0.0);
    EXPECT_EQ(v[2], 0.0);

    double previous = TurnAngle(f.q());
    for (int i = 0; i < 600; ++i) {
        f.Step(gyro, accl);
        const double angle = TurnAngle(f.q());
        ASSERT_GE(angle, previous) << i;
        ASSERT_LE(angle, kPi / 2 + 1e-12) << i;
        previous = angle;
    }
    EXPECT_NEAR(f.q().s(), std::cos(kPi / 4), 1e-12);
    EXPECT_NEAR(f.q().v()[0], std::sin(kPi / 4), 1e-12);
    EXPECT_NEAR(f.q().norm(), 1.0, 1e-14);
}

TEST(OrientationFilter, NoCorrectionWithoutACorrectionAxis)
{
    const double gyro[3] = {0, 0, 0};
    const double cases[][3] = {{0, 0, 1}, {0, 0, -1}, {0, 0, 0.05}, {0, 0, 0}};
    for (const auto& accl : cases) {
        Filter f;
        for (int i = 0; i < 100; ++i) {
            f.Step(gyro, accl);
        }
        EXPECT_EQ(f.q().s(), 1.0) << accl[2];
        EXPECT_EQ(Norm(f.q().v()), 0.0) << accl[2];
    }
}

// A context with a fresh filter and zero rate and acceleration: its filter
// step leaves the quaternion as the test sets it.
class Attitude : public testing::Test {
protected:
    void SetUp() override
    {
        std::memset(static_cast<void*>(&ctx), 0, sizeof ctx);
        OrientationFilterInit(&ctx.orient);
    }
    void TearDown() override { OrientationFilterRelease(&ctx.orient); }

    void At(double s, double x, double y, double z)
    {
        *ctx.orient.orientation = Quaternion(s, x, y, z);
        UpdateOrientation(&ctx);
    }
    void AtRoll(double degrees) { At(std::cos(degrees * kRadPerDeg / 2), std::sin(degrees * kRadPerDeg / 2), 0, 0); }
    void AtPitch(double degrees) { At(std::cos(degrees * kRadPerDeg / 2), 0, std::sin(degrees * kRadPerDeg / 2), 0); }

    TumblewatchContext ctx;
};

TEST_F(Attitude, IdentityAndRolls)
{
    At(1, 0, 0, 0);
    EXPECT_EQ(ctx.pitch, 0);
    EXPECT_EQ(ctx.tilt, -90);

    AtRoll(90);  // the reference attitude of the calibration
    EXPECT_EQ(ctx.pitch, 0);
    EXPECT_EQ(ctx.tilt, 0);

    AtRoll(9);  // 8.9999994 degrees in float: truncated, then shifted
    EXPECT_EQ(ctx.tilt, -82);

    AtRoll(-0.9);  // toward zero, not down to -1
    EXPECT_EQ(ctx.tilt, -90);

    AtRoll(-135);
    EXPECT_EQ(ctx.tilt, -225);  // wrapped later by the calibration stage
}

TEST_F(Attitude, Pitch)
{
    AtPitch(30);  // 30.0000008 degrees
    EXPECT_EQ(ctx.pitch, 30);
    AtPitch(-30);
    EXPECT_EQ(ctx.pitch, -30);
    AtPitch(-0.9);
    EXPECT_EQ(ctx.pitch, 0);
    AtPitch(90);
    EXPECT_EQ(ctx.pitch, 90);
}

TEST_F(Attitude, AnglesStayDefinedForAnyQuaternion)
{
    // Not unit: the sine of the pitch comes out as 2 and is limited to 1.
    At(1, 0, 1, 0);
    EXPECT_EQ(ctx.pitch, 90);
    At(1, 0, -1, 0);
    EXPECT_EQ(ctx.pitch, -90);

    // Non-finite angles count as 0 before the shift.
    const double nan = std::nan("");
    At(nan, nan, nan, nan);
    EXPECT_EQ(ctx.pitch, 0);
    EXPECT_EQ(ctx.tilt, -90);
    const double inf = INFINITY;
    At(inf, 0, inf, 0);
    EXPECT_EQ(ctx.pitch, 0);
    EXPECT_EQ(ctx.tilt, -90);

    // A released filter has no quaternion: the identity attitude.
    At(0, 0, 1, 0);
    OrientationFilterRelease(&ctx.orient);
    UpdateOrientation(&ctx);
    EXPECT_EQ(ctx.pitch, 0);
    EXPECT_EQ(ctx.tilt, -90);
}

// Runs samples through a fresh detector, checking the quaternion after each.
class Detector : public testing::Test {
protected:
    void SetUp() override
    {
        TumblewatchDefault(&cfg);
        ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
    }
    void TearDown() override { TumblewatchClose(&ctx); }

    void Run(const ImuSample& s, int count)
    {
        for (int i = 0; i < count; ++i) {
            TumblewatchProcess(&ctx, &s);
            ASSERT_TRUE(IsFinite(*ctx.orient.orientation)) << "sample " << i;
        }
    }

    TumblewatchConfig cfg;
    TumblewatchContext ctx;
};

TEST_F(Detector, FlatFromTheFirstSampleStaysFinite)
{
    const ImuSample flat{0, 0, 8192, 0, 0, 0};
    for (int i = 0; i < 5000; ++i) {
        Run(flat, 1);
        ASSERT_EQ(ctx.pitch, 0) << i;
        ASSERT_EQ(ctx.tilt, -90) << i;
    }
    EXPECT_EQ(ctx.orient.orientation->s(), 1.0);
}

TEST_F(Detector, AllZeroSamplesStayFinite)
{
    const ImuSample zero{0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 5000; ++i) {
        Run(zero, 1);
        ASSERT_EQ(ctx.pitch, 0) << i;
        ASSERT_EQ(ctx.tilt, -90) << i;
    }
    // Motion after a dead start is still tracked.
    Run(ImuSample{0, -8192, 0, 0, 0, 0}, 500);
    EXPECT_NEAR(TurnAngle(*ctx.orient.orientation), kPi / 2, 1e-6);
}

TEST_F(Detector, UprightWearerSettlesAtTiltZero)
{
    // Gravity along -Y: the filter turns toward a +90 degree roll, tilt 0.
    // The calibration took its offsets while the filter was still turning.
    Run(ImuSample{0, -8192, 0, 0, 0, 0}, 2000);
    EXPECT_EQ(ctx.tilt - ctx.tiltOffset, 0);
    EXPECT_EQ(ctx.pitch - ctx.pitchOffset, 0);
    const dVector v = ctx.orient.orientation->v();
    EXPECT_NEAR(ctx.orient.orientation->s(), std::cos(kPi / 4), 1e-9);
    EXPECT_NEAR(v[0], std::sin(kPi / 4), 1e-9);
}

// Every recording in the shared data, where it exists, keeps a finite unit
// quaternion and angles in range.
TEST(DetectorRecordings, QuaternionStaysUnitOnRecordedData)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(SHARED_DATA_DIR, ec)) {
        GTEST_SKIP() << "no shared data";
    }
    int files = 0;
    for (auto it = fs::recursive_directory_iterator(SHARED_DATA_DIR, ec); !ec && it != fs::end(it); it.increment(ec)) {
        if (it->path().extension() != ".bin") {
            continue;
        }
        DataSet* ds = DataSetOpen(it->path().c_str());
        if (ds == nullptr) {
            continue;  // deliberately broken files
        }
        ++files;
        TumblewatchConfig cfg;
        TumblewatchContext ctx;
        TumblewatchDefault(&cfg);
        ASSERT_EQ(TumblewatchSet(&ctx, &cfg), 0);
        ImuSample s;
        while (DataSetRead(ds, &s, 1) == 1) {
            TumblewatchProcess(&ctx, &s);
            const Quaternion& q = *ctx.orient.orientation;
            if (!IsFinite(q) || std::fabs(q.norm() - 1.0) > 1e-9) {
                ADD_FAILURE() << it->path() << " sample " << ctx.sampleCount;
                break;
            }
        }
        TumblewatchClose(&ctx);
        DataSetClose(ds);
    }
    EXPECT_GT(files, 0);
}

}  // namespace
