// The per-sample arithmetic that replaced the previous one computes the
// same bits: the stack quaternion against Quaternion operation by
// operation, and the whole detector beside the previous implementation
// (previous.h) on the shared recordings, the generated ones and random
// streams, comparing after every sample the fall code, the quaternion's
// bits, the rest of the context and the trace; and a sweep that runs each
// recording's front end once gives the rows of the previous detector run
// whole for every configuration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dataset.h"
#include "previous.h"
#include "quaternion.h"
#include "quaternion_value.h"
#include "scenarios.h"
#include "sweep.h"
#include "sweep_output.h"
#include "test_support.h"

namespace {

uint64_t Bits(double d)
{
    uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

// Empty when value and q hold the same four bit patterns.
std::string Difference(const QuaternionValue& value, const Quaternion& q)
{
    const double mine[4] = {value.s, value.v.x, value.v.y, value.v.z};
    const double theirs[4] = {q.s(), q.v(0), q.v(1), q.v(2)};
    for (int i = 0; i < 4; ++i) {
        if (Bits(mine[i]) != Bits(theirs[i])) {
            char text[160];
            std::snprintf(text, sizeof text, "component %d: %a against %a", i, mine[i], theirs[i]);
            return text;
        }
    }
    return std::string();
}

Quaternion ToQuaternion(const QuaternionValue& v)
{
    return Quaternion(v.s, v.v.x, v.v.y, v.v.z);
}

// Components that test the sign of zero and the rounding: signed zeros,
// tiny and huge values, and random ones.
class Components {
public:
    explicit Components(uint32_t seed) : words_(seed) {}
    double Next()
    {
        static const double kSpecial[] = {0.0, -0.0, 1.0, -1.0, 0.5, 1e-300, -1e-300, 1e300, 3.0, -7.25};
        const uint32_t pick = static_cast<uint32_t>(words_()) % 3;
        if (pick == 0) {
            return kSpecial[words_() % (sizeof kSpecial / sizeof kSpecial[0])];
        }
        return std::uniform_real_distribution<double>(-2.0, 2.0)(words_);
    }
    QuaternionValue Quat() { return QuaternionValue{Next(), Vec3{Next(), Next(), Next()}}; }

private:
    std::mt19937 words_;
};

TEST(SameAsPrevious, StackQuaternionOperationsGiveTheBitsOfQuaternion)
{
    Components c(3);
    for (int i = 0; i < 20000; ++i) {
        const QuaternionValue a = c.Quat();
        const QuaternionValue b = c.Quat();
        const Quaternion qa = ToQuaternion(a);
        const Quaternion qb = ToQuaternion(b);
        const double d = c.Next();
        ASSERT_EQ(Difference(a * b, qa * qb), "") << "product " << i;
        ASSERT_EQ(Difference(a / d, qa / d), "") << "quotient " << i;
        ASSERT_EQ(Difference(Conj(a), qa.conj()), "") << "conjugate " << i;
        ASSERT_EQ(Bits(NormOf(a)), Bits(qa.norm())) << "norm " << i;
        ASSERT_EQ(Difference(Inverse(a), qa.inverse()), "") << "inverse " << i;
        ASSERT_EQ(Difference(AxisAngleQuaternion(a.s, b.v), Quaternion(a.s, qb.v())), "") << "axis-angle " << i;
        ASSERT_EQ(Difference(EulerQuaternion(a.v.x, a.v.y, a.v.z), Quaternion(a.v.x, a.v.y, a.v.z)), "")
            << "Euler " << i;
        ASSERT_EQ(Bits(Dot(a.v, b.v)), Bits(Dot(qa.v(), qb.v()))) << "dot " << i;
        ASSERT_EQ(Bits(Norm(a.v)), Bits(Norm(qa.v()))) << "vector norm " << i;
    }
    // Zeros keep their signs as the dVector arithmetic leaves them: the
    // conjugate of the identity has -0.0 elements, and a dot product of
    // -0.0 terms starts from +0.0.
    const QuaternionValue identity{1.0, Vec3{0.0, 0.0, 0.0}};
    EXPECT_TRUE(std::signbit(Conj(identity).v.x));
    EXPECT_FALSE(std::signbit(Dot(Vec3{-0.0, 0.0, 0.0}, Vec3{0.0, 1.0, 1.0})));
}

TEST(SameAsPrevious, StoringAndLoadingKeepsTheBits)
{
    Quaternion q;
    const QuaternionValue v{-0.0, Vec3{1e-300, -0.0, std::numeric_limits<double>::quiet_NaN()}};
    Assign(&q, v);
    EXPECT_EQ(Difference(v, q), "");
    EXPECT_EQ(Difference(ValueOf(q), q), "");
}

// The current and the previous detector fed the same samples, each with
// its trace captured.
class SideBySide {
public:
    SideBySide() : previous_(TumblewatchPrevious()), before_(previous_.trace)
    {
        TumblewatchDefault(&cfg_);
        EXPECT_EQ(TumblewatchSet(&now_, &cfg_), 0);
        EXPECT_EQ(previous_.set(&then_, &cfg_), 0);
    }
    ~SideBySide()
    {
        TumblewatchClose(&now_);
        previous_.close(&then_);
    }
    SideBySide(const SideBySide&) = delete;
    SideBySide& operator=(const SideBySide&) = delete;

    // Feeds the samples; on the first difference adds a failure naming the
    // recording and the sample, and stops.
    void Feed(const std::vector<ImuSample>& samples, const std::string& name)
    {
        for (size_t i = 0; i < samples.size(); ++i) {
            const int code = TumblewatchProcess(&now_, &samples[i]);
            const int previousCode = previous_.process(&then_, &samples[i]);
            const std::string diff = Compare(code, previousCode);
            if (!diff.empty()) {
                ADD_FAILURE() << name << ", sample " << i << ": " << diff;
                return;
            }
        }
        const std::string traceDiff = FirstDifference(before_.Text(), now_trace_.Text());
        EXPECT_TRUE(traceDiff.empty()) << name << ": " << traceDiff;
    }

private:
    std::string Compare(int code, int previousCode) const
    {
        if (code != previousCode) {
            return "fall code " + std::to_string(code) + " against " + std::to_string(previousCode);
        }
        const std::string q = Difference(ValueOf(*now_.orient.orientation), *then_.orient.orientation);
        if (!q.empty()) {
            return "quaternion " + q;
        }
        // Everything else in the context, byte for byte.
        TumblewatchContext a = now_;
        TumblewatchContext b = then_;
        a.orient.orientation = nullptr;
        b.orient.orientation = nullptr;
        if (std::memcmp(static_cast<const void*>(&a), static_cast<const void*>(&b), sizeof a) != 0) {
            return "the contexts differ";
        }
        return std::string();
    }

    const PreviousImplementation& previous_;
    TraceCapture now_trace_;
    TraceCapture before_;
    TumblewatchConfig cfg_;
    TumblewatchContext now_;
    TumblewatchContext then_;
};

std::vector<ImuSample> ReadDataSet(const std::string& path)
{
    std::vector<ImuSample> samples;
    DataSet* ds = DataSetOpen(path.c_str());
    if (ds == nullptr) {
        return samples;
    }
    ImuSample block[256];
    int n;
    while ((n = DataSetRead(ds, block, 256)) > 0) {
        samples.insert(samples.end(), block, block + n);
    }
    DataSetClose(ds);
    return samples;
}

TEST(SameAsPrevious, SharedRecordings)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(SHARED_DATA_DIR, ec)) {
        GTEST_SKIP() << "no shared data at " << SHARED_DATA_DIR;
    }
    int files = 0;
    for (auto it = fs::recursive_directory_iterator(SHARED_DATA_DIR, ec); !ec && it != fs::end(it); it.increment(ec)) {
        if (it->path().extension() != ".bin") {
            continue;
        }
        const std::vector<ImuSample> samples = ReadDataSet(it->path().string());
        SideBySide pair;
        pair.Feed(samples, it->path().string());
        ++files;
    }
    EXPECT_GT(files, 0);
    std::printf("%d shared recordings compared\n", files);
}

TEST(SameAsPrevious, GeneratedRecordings)
{
    for (const recgen::Scenario& scenario : recgen::Scenarios()) {
        SideBySide pair;
        pair.Feed(recgen::MakeRecording(scenario).samples, scenario.name);
    }
}

TEST(SameAsPrevious, RandomAndDegenerateStreams)
{
    // Gravity exactly along the reference axis from the first sample (no
    // correction axis), no acceleration at all, saturation, and noise.
    const std::vector<ImuSample> flat(300, ImuSample{0, 0, 8192, 0, 0, 0});
    const std::vector<ImuSample> zero(300, ImuSample{0, 0, 0, 0, 0, 0});
    std::vector<ImuSample> saturated;
    std::vector<ImuSample> noise;
    std::mt19937 words(5);
    for (int i = 0; i < 3000; ++i) {
        saturated.push_back(i % 2 == 0 ? ImuSample{32767, 32767, 32767, 32767, 32767, 32767}
                                       : ImuSample{-32768, -32768, -32768, -32768, -32768, -32768});
        const auto w = [&] { return static_cast<int16_t>(static_cast<uint16_t>(words() >> 16)); };
        noise.push_back(ImuSample{w(), w(), w(), w(), w(), w()});
    }
    for (const auto& [name, samples] : {std::make_pair("flat", flat), std::make_pair("zero", zero),
                                        std::make_pair("saturated", saturated), std::make_pair("noise", noise)}) {
        SideBySide pair;
        pair.Feed(samples, name);
    }
}

}  // namespace

// ---- sweeps: the front end computed once against the previous detector ----------

namespace {

// A sweep row computed the long way: every recording through the previous
// detector's whole pipeline, the metrics of every part from its scores.
SweepRow PreviousRow(const SweepData& data, const TumblewatchConfig& config, int64_t index, int folds)
{
    const PreviousImplementation& previous = TumblewatchPrevious();
    std::vector<RecordingScore> scores;
    for (const SweepRecording& rec : data.recordings) {
        TumblewatchContext ctx;
        EXPECT_EQ(previous.set(&ctx, &config), 0);
        std::vector<Alarm> alarms;
        uint16_t peak = 0;
        uint32_t peakAt = 0;
        for (uint32_t i = 0; i < rec.samples.size(); ++i) {
            const int code = previous.process(&ctx, &rec.samples[i]);
            if (ctx.accRawMag > peak) {
                peak = ctx.accRawMag;
                peakAt = i;
            }
            if (code > 0) {
                alarms.push_back(Alarm{i, code});
            }
        }
        previous.close(&ctx);
        scores.push_back(RecordingScore{rec.labels.label, static_cast<uint32_t>(rec.samples.size()),
                                        MetricsEventCount(alarms, kDefaultMergeSeconds),
                                        alarms.empty() ? -1 : static_cast<int64_t>(alarms.front().sample),
                                        rec.labels.impactSample >= 0 ? rec.labels.impactSample : peakAt});
    }
    SweepRow row{};
    row.index = index;
    row.config = config;
    row.all = MetricsCompute(scores);
    std::vector<Metrics> tune;
    for (int k = 0; k < folds; ++k) {
        std::vector<RecordingScore> in;
        std::vector<RecordingScore> out;
        for (size_t i = 0; i < scores.size(); ++i) {
            (data.recordings[i].fold == k ? out : in).push_back(scores[i]);
        }
        row.heldFolds.push_back(MetricsCompute(out));
        tune.push_back(MetricsCompute(in));
    }
    auto mean = [](const std::vector<Metrics>& parts, double Metrics::*m) {
        double sum = 0.0;
        int n = 0;
        for (const Metrics& p : parts) {
            if (!std::isnan(p.*m)) {
                sum += p.*m;
                ++n;
            }
        }
        return n > 0 ? sum / n : std::nan("");
    };
    for (const auto& [part, means] : {std::make_pair(&tune, &row.tune), std::make_pair(&row.heldFolds, &row.held)}) {
        *means = FoldMetrics{mean(*part, &Metrics::sensitivity), mean(*part, &Metrics::specificity),
                             mean(*part, &Metrics::f1), mean(*part, &Metrics::falseAlarmsPerHour)};
    }
    return row;
}

void CompareSweepWithPrevious(const std::string& folder, int folds)
{
    InputSet inputs{};
    std::string error;
    ASSERT_TRUE(InputsFind({folder}, &inputs, &error)) << error;
    SweepData data{};
    SweepLoad(inputs, nullptr, 2, true, &data);
    SweepAssignFolds(&data, folds);
    SweepSpace space{{}, {}, 0, 1};
    for (const char* grid : {"fallWindow=1,6,13,20,41,63", "tiltLimit=25,35", "impactSoftSum=900,1350"}) {
        space.grids.emplace_back();
        ASSERT_TRUE(SweepParseGrid(grid, &space.grids.back(), &error)) << error;
    }
    TumblewatchConfig base;
    TumblewatchDefault(&base);
    const SweepLayout layout{SweepFormat::Csv, "x", "", {}, folds, SweepMetricColumns(folds)};
    const std::vector<int> varied = SweepVaried(space);
    Progress progress;
    const int64_t count = SweepCount(space, 100);
    ProgressStart(&progress, "configurations", static_cast<uint64_t>(count), false);
    int64_t rows = 0;
    SweepRun(data, space, base, 0, count, SweepSettings{kDefaultMergeSeconds, 2, folds}, &progress,
             [&](const SweepRow& row) {
                 const SweepRow expected = PreviousRow(data, row.config, row.index, folds);
                 EXPECT_EQ(SweepRowText(layout, varied, row), SweepRowText(layout, varied, expected)) << folder;
                 ++rows;
                 return true;
             });
    EXPECT_EQ(rows, count);
}

TEST(SameAsPrevious, SweepRowsOfTheGeneratedRecordings)
{
    TempDir dir;
    const char* names[] = {"fall_forward_s01", "fall_backward_s02", "fall_lateral_s03", "fall_double_s04",
                           "adl_standing_s01", "adl_walking_s02",   "adl_sit_down_s03", "adl_mixed_s04"};
    const char* scenarios[] = {"fall_forward", "fall_backward", "fall_lateral",  "double_fall",
                               "standing",     "walking",       "sit_down_hard", "long_mixed"};
    for (int i = 0; i < 8; ++i) {
        WriteDataSet(dir / (std::string(names[i]) + ".bin"),
                     recgen::MakeRecording(*recgen::FindScenario(scenarios[i])).samples);
    }
    CompareSweepWithPrevious(dir.path(), 2);
}

TEST(SameAsPrevious, SweepRowsOfTheSharedRecordings)
{
    const std::string real = std::string(SHARED_DATA_DIR) + "/real";
    std::error_code ec;
    if (!std::filesystem::is_directory(real, ec)) {
        GTEST_SKIP() << "no shared data at " << real;
    }
    CompareSweepWithPrevious(real, 3);
}

}  // namespace
