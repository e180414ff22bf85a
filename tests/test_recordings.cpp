// The project's own recordings: the generator writes the same bytes on every
// run, both formats carry the same samples, the motion is consistent (the
// gyro turns gravity as the accelerometer sees it), and the detector finds
// the falls and nothing in quiet standing and walking.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "angles.h"
#include "csv_line.h"
#include "dataset.h"
#include "dataset_format.h"
#include "recording_files.h"
#include "scenarios.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using recgen::Recording;

constexpr double kDt = 0.02;

const std::vector<std::string> kFallScenarios = {"fall_forward", "fall_backward", "fall_lateral",
                                                 "double_fall",  "tumble",        "long_mixed"};

const std::vector<Recording>& AllRecordings()
{
    static const std::vector<Recording> recordings = [] {
        std::vector<Recording> all;
        for (const recgen::Scenario& sc : recgen::Scenarios()) {
            all.push_back(recgen::MakeRecording(sc));
        }
        return all;
    }();
    return recordings;
}

const Recording& RecordingNamed(const std::string& name)
{
    for (const Recording& r : AllRecordings()) {
        if (r.name == name) {
            return r;
        }
    }
    throw std::runtime_error("no recording " + name);
}

bool SameSamples(const std::vector<ImuSample>& a, const std::vector<ImuSample>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const ImuSample& p = a[i];
        const ImuSample& q = b[i];
        if (p.accX != q.accX || p.accY != q.accY || p.accZ != q.accZ || p.gyroX != q.gyroX || p.gyroY != q.gyroY ||
            p.gyroZ != q.gyroZ) {
            return false;
        }
    }
    return true;
}

// Runs the generator; returns its exit status.
int RunGenerator(const std::vector<std::string>& args)
{
    std::string cmd = "'" MAKE_RECORDINGS_PATH "'";
    for (const std::string& a : args) {
        cmd += " '" + a + "'";
    }
    cmd += " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::string> FolderContents(const std::string& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    }
    return files;
}

std::vector<ImuSample> ReadDataSetFile(const std::string& path)
{
    std::vector<ImuSample> samples;
    DataSet* ds = DataSetOpen(path.c_str());
    if (ds == nullptr) {
        ADD_FAILURE() << path << " is not a dataset";
        return samples;
    }
    ImuSample s;
    while (DataSetRead(ds, &s, 1) == 1) {
        samples.push_back(s);
    }
    DataSetClose(ds);
    return samples;
}

// The samples of a CSV text in the default layout; checks the seven header
// lines and the row numbers counting from 0.
std::vector<ImuSample> ParseCsvText(const std::string& text)
{
    std::vector<ImuSample> samples;
    const std::vector<std::string> lines = SplitLines(text);
    EXPECT_GE(lines.size(), 7u);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = lines[i] + "\n";
        EXPECT_LT(line.size(), 1024u) << "line " << i << " would be read in pieces";
        CsvRow row;
        const bool data = ParseCsvLine(line.c_str(), line.size(), false, &row);
        if (i < 7) {
            EXPECT_FALSE(data) << "header line " << i + 1 << " reads as a row";
            continue;
        }
        EXPECT_TRUE(data) << "line " << i + 1;
        EXPECT_EQ(row.rowNumber, static_cast<int>(i - 7)) << "line " << i + 1;
        samples.push_back(row.data);
    }
    return samples;
}

struct Dir {
    double x, y, z;
};

Dir Normalized(double x, double y, double z)
{
    const double n = std::sqrt(x * x + y * y + z * z);
    return Dir{x / n, y / n, z / n};
}

double AngleDeg(Dir a, Dir b)
{
    const double cx = a.y * b.z - a.z * b.y;
    const double cy = a.z * b.x - a.x * b.z;
    const double cz = a.x * b.y - a.y * b.x;
    return std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), a.x * b.x + a.y * b.y + a.z * b.z) / kRadPerDeg;
}

// Mean accelerometer direction over [from, to).
Dir MeanAccelDir(const std::vector<ImuSample>& s, size_t from, size_t to)
{
    double x = 0, y = 0, z = 0;
    for (size_t i = from; i < to; ++i) {
        x += s[i].accX;
        y += s[i].accY;
        z += s[i].accZ;
    }
    return Normalized(x, y, z);
}

double AccelG(const ImuSample& s)
{
    return std::sqrt(double(s.accX) * s.accX + double(s.accY) * s.accY + double(s.accZ) * s.accZ) /
           kTumblewatchAccelCountsPerG;
}

double GyroDps(const ImuSample& s)
{
    return std::sqrt(double(s.gyroX) * s.gyroX + double(s.gyroY) * s.gyroY + double(s.gyroZ) * s.gyroZ) /
           kTumblewatchGyroCountsPerDps;
}

// v turned by angle (radians) about the unit axis k (Rodrigues' formula).
Dir Turned(Dir v, Dir k, double angle)
{
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double kv = k.x * v.x + k.y * v.y + k.z * v.z;
    const Dir kxv{k.y * v.z - k.z * v.y, k.z * v.x - k.x * v.z, k.x * v.y - k.y * v.x};
    return Dir{v.x * c + kxv.x * s + k.x * kv * (1 - c), v.y * c + kxv.y * s + k.y * kv * (1 - c),
               v.z * c + kxv.z * s + k.z * kv * (1 - c)};
}

// Runs of at least 40 samples at rest: 1 g and hardly any rotation.
std::vector<std::pair<size_t, size_t>> StillRuns(const std::vector<ImuSample>& s)
{
    std::vector<std::pair<size_t, size_t>> runs;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        const bool calm = i < s.size() && std::fabs(AccelG(s[i]) - 1.0) < 0.03 && GyroDps(s[i]) < 2.0;
        if (!calm) {
            if (i - start >= 40) {
                runs.emplace_back(start, i);
            }
            start = i + 1;
        }
    }
    return runs;
}

TEST(Recordings, GeneratorWritesTheSameBytesOnEveryRun)
{
    TempDir a;
    TempDir b;
    ASSERT_EQ(RunGenerator({a.path()}), 0);
    ASSERT_EQ(RunGenerator({b.path()}), 0);
    const auto first = FolderContents(a.path());
    const auto second = FolderContents(b.path());
    EXPECT_EQ(first.size(), 2 * recgen::Scenarios().size());
    EXPECT_TRUE(first == second) << "two runs differ";

    // The files are the library's recordings, and a build in this process
    // gives the same samples again.
    for (const Recording& rec : AllRecordings()) {
        EXPECT_TRUE(first.at(rec.name + ".bin") == DataSetImage(rec.samples)) << rec.name;
        EXPECT_TRUE(first.at(rec.name + ".csv") == recgen::CsvText(rec)) << rec.name;
        const Recording again = recgen::MakeRecording(*recgen::FindScenario(rec.name));
        EXPECT_TRUE(SameSamples(rec.samples, again.samples)) << rec.name;
    }
}

TEST(Recordings, GeneratorWritesOnlyWhatIsNamed)
{
    TempDir dir;
    ASSERT_EQ(RunGenerator({dir.path() + "/sub", "jump", "walking", "jump"}), 0);
    const auto files = FolderContents(dir.path() + "/sub");
    ASSERT_EQ(files.size(), 4u);
    EXPECT_TRUE(files.count("jump.bin") && files.count("jump.csv") && files.count("walking.csv"));

    // An unknown name is refused before anything is written.
    TempDir other;
    EXPECT_EQ(RunGenerator({other.path(), "jump", "no_such_recording"}), 1);
    EXPECT_TRUE(fs::is_empty(other.path()));
    EXPECT_EQ(RunGenerator({}), 1);
}

TEST(Recordings, BinaryAndCsvCarryTheSameSamples)
{
    TempDir dir;
    ASSERT_EQ(RunGenerator({dir.path()}), 0);
    for (const Recording& rec : AllRecordings()) {
        const std::vector<ImuSample> bin = ReadDataSetFile(dir / (rec.name + ".bin"));
        const std::vector<ImuSample> csv = ParseCsvText(ReadFile(dir / (rec.name + ".csv")));
        EXPECT_TRUE(SameSamples(bin, rec.samples)) << rec.name;
        EXPECT_TRUE(SameSamples(csv, rec.samples)) << rec.name;
    }
    EXPECT_GT(RecordingNamed("long_mixed").samples.size(), 70000u);
}

TEST(Recordings, BothReplaysTraceTheSame)
{
    // Each replay in a folder of its own: the two traces share a name.
    for (const std::string name : {"fall_forward", "double_fall"}) {
        const Recording& rec = RecordingNamed(name);
        TempDir binDir;
        TempDir csvDir;
        WriteFile(binDir / (name + ".bin"), DataSetImage(rec.samples));
        WriteFile(csvDir / (name + ".csv"), recgen::CsvText(rec));
        ASSERT_EQ(RunBench(binDir.path(), {name + ".bin"}).status, 0);
        ASSERT_EQ(RunBench(csvDir.path(), {name + ".csv"}).status, 0);
        const std::string trace = ReadFile(binDir / (name + ".txt"));
        EXPECT_EQ(SplitLines(trace).size(), rec.samples.size());
        EXPECT_TRUE(trace == ReadFile(csvDir / (name + ".txt"))) << name;
    }
}

TEST(Recordings, EveryRecordingStartsUprightAndAtRest)
{
    for (const Recording& rec : AllRecordings()) {
        ASSERT_GE(rec.samples.size(), 100u) << rec.name;
        for (size_t i = 0; i < 100; ++i) {
            const ImuSample& s = rec.samples[i];
            ASSERT_NEAR(AccelG(s), 1.0, 0.03) << rec.name << " sample " << i;
            ASSERT_LT(GyroDps(s), 3.0) << rec.name << " sample " << i;
            ASSERT_LT(AngleDeg(Normalized(s.accX, s.accY, s.accZ), Dir{0, -1, 0}), 3.0) << rec.name << " sample " << i;
        }
    }
}

TEST(Recordings, LyingAfterAFallGravityHasTurnedAsStated)
{
    // Accelerometer direction while lying: face down (+90 deg about X),
    // on the back (-90 deg about X), on the side (+90 deg about Z).
    const std::vector<std::pair<std::string, Dir>> lying = {
        {"fall_forward", {0, 0, 1}}, {"fall_backward", {0, 0, -1}}, {"fall_lateral", {-1, 0, 0}},
        {"double_fall", {0, 0, 1}},  {"long_mixed", {0, 0, 1}},
    };
    for (const auto& [name, expected] : lying) {
        const std::vector<ImuSample>& s = RecordingNamed(name).samples;
        const Dir end = MeanAccelDir(s, s.size() - 100, s.size());
        EXPECT_LT(AngleDeg(end, expected), 5.0) << name;
    }
    // A tumble ends lying somehow: gravity about 90 degrees from upright.
    const std::vector<ImuSample>& t = RecordingNamed("tumble").samples;
    EXPECT_NEAR(AngleDeg(MeanAccelDir(t, t.size() - 100, t.size()), Dir{0, -1, 0}), 90.0, 15.0);
    // Standing and walking end upright again.
    for (const std::string name : {"standing", "walking", "jump"}) {
        const std::vector<ImuSample>& s = RecordingNamed(name).samples;
        EXPECT_LT(AngleDeg(MeanAccelDir(s, s.size() - 50, s.size()), Dir{0, -1, 0}), 3.0) << name;
    }
}

TEST(Recordings, IntegratedGyroTurnsGravityAsTheAccelerometerSees)
{
    // Between two moments at rest, the gyro (less the bias seen at rest)
    // integrated over the movement must turn the gravity direction of the
    // first moment into that of the second.
    for (const Recording& rec : AllRecordings()) {
        const std::vector<ImuSample>& s = rec.samples;
        const auto runs = StillRuns(s);
        double largestTurn = 0.0;
        int checked = 0;
        for (size_t r = 0; r + 1 < runs.size(); ++r) {
            const auto [from1, to1] = runs[r];
            const auto [from2, to2] = runs[r + 1];
            if (from2 - to1 > 1000) {
                continue;  // long walks: the bias error would add up
            }
            double bias[3] = {0, 0, 0};
            for (size_t i = from1; i < to1; ++i) {
                bias[0] += s[i].gyroX / kTumblewatchGyroCountsPerDps;
                bias[1] += s[i].gyroY / kTumblewatchGyroCountsPerDps;
                bias[2] += s[i].gyroZ / kTumblewatchGyroCountsPerDps;
            }
            for (double& b : bias) {
                b /= static_cast<double>(to1 - from1);
            }
            const size_t a = to1 - 5;
            const size_t b = from2 + 5;
            Dir g = MeanAccelDir(s, a - 5, a + 5);
            for (size_t i = a; i < b; ++i) {
                const double wx = s[i].gyroX / kTumblewatchGyroCountsPerDps - bias[0];
                const double wy = s[i].gyroY / kTumblewatchGyroCountsPerDps - bias[1];
                const double wz = s[i].gyroZ / kTumblewatchGyroCountsPerDps - bias[2];
                const double rate = std::sqrt(wx * wx + wy * wy + wz * wz);
                if (rate > 0.0) {
                    // The sensor turns by +w dt: a fixed direction turns by -w dt.
                    g = Turned(g, Dir{wx / rate, wy / rate, wz / rate}, -rate * kRadPerDeg * kDt);
                }
            }
            const Dir measured = MeanAccelDir(s, b - 5, b + 5);
            EXPECT_LT(AngleDeg(g, measured), 1.5) << rec.name << " from sample " << a << " to " << b;
            largestTurn = std::max(largestTurn, AngleDeg(MeanAccelDir(s, a - 5, a + 5), measured));
            ++checked;
        }
        if (rec.name != "standing") {  // standing never moves
            EXPECT_GT(checked, 0) << rec.name;
        }
        for (const std::string& fall : kFallScenarios) {
            if (rec.name == fall) {
                EXPECT_GT(largestTurn, 60.0) << rec.name << ": no fall between moments at rest";
            }
        }
    }
}

TEST(Recordings, DetectorFindsTheFallsAndNothingInDailyActivity)
{
    for (const Recording& rec : AllRecordings()) {
        Detector detector;
        const std::vector<int> codes = detector.FeedAll(rec.samples);
        std::map<int, int> count;
        size_t first = 0;
        size_t beforeLongEnd = 0;
        for (size_t i = 0; i < codes.size(); ++i) {
            if (codes[i] > 0) {
                first = count.empty() ? i : first;
                ++count[codes[i]];
                beforeLongEnd += i < 70000 ? 1 : 0;
            }
        }
        std::string summary;
        for (const auto& [code, n] : count) {
            summary += " " + std::to_string(code) + " x" + std::to_string(n);
        }
        std::printf("%-14s%s%s\n", rec.name.c_str(), summary.empty() ? " no fall" : summary.c_str(),
                    summary.empty() ? "" : (" (first at sample " + std::to_string(first) + ")").c_str());

        bool isFall = false;
        for (const std::string& fall : kFallScenarios) {
            isFall = isFall || rec.name == fall;
        }
        if (isFall) {
            EXPECT_FALSE(count.empty()) << rec.name << ": no fall reported";
        }
        if (rec.name == "standing" || rec.name == "walking") {
            EXPECT_TRUE(count.empty()) << rec.name << ":" << summary;
        }
        if (rec.name == "long_mixed") {
            EXPECT_EQ(beforeLongEnd, 0u) << "a fall reported in the daily activity before sample 70000";
        }
        if (rec.name == "double_fall" || rec.name == "long_mixed") {
            EXPECT_TRUE(count.count(7) || count.count(8)) << rec.name << ": the second fall is not a repeat fall";
        }
    }
}

}  // namespace
