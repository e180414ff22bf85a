// Throughput of tumblewatch import: generated raw files in the layouts of
// SisFall, MobiFall and UMAFall (the values from the benchmarks' sample
// stream) imported on one worker thread and on every hardware thread, in
// megabytes of raw text per second (wall clock), in all and per thread.
// The aim is 50 MB/s per thread.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "evaluation.h"
#include "import.h"
#include "sample_stream.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTrials = 16;
constexpr std::size_t kSamplesEach = 3000;  // one minute at 50 Hz per trial
constexpr double kGravity = 9.80665;
constexpr double kPi = 3.14159265358979323846;

// The stream's sample i of trial t, in g and deg/s, and in between samples
// by linear interpolation (the raw rates are above 50 Hz).
struct Source {
    std::vector<ImuSample> samples;
    double At(int trial, double seconds, int axis) const
    {
        const double x = seconds * kSamplesPerSecond;
        const std::size_t i = std::min(static_cast<std::size_t>(x), kSamplesEach - 2);
        const double w = x - static_cast<double>(i);
        const ImuSample& a = samples[static_cast<std::size_t>(trial) * kSamplesEach + i];
        const ImuSample& b = samples[static_cast<std::size_t>(trial) * kSamplesEach + i + 1];
        const int16_t va[6] = {a.accX, a.accY, a.accZ, a.gyroX, a.gyroY, a.gyroZ};
        const int16_t vb[6] = {b.accX, b.accY, b.accZ, b.gyroX, b.gyroY, b.gyroZ};
        const double v = va[axis] + w * (vb[axis] - va[axis]);
        return axis < 3 ? v / 8192.0 : v / 65.536;
    }
};

bool Append(FILE* f, const char* text, int n)
{
    return n > 0 && std::fwrite(text, 1, static_cast<std::size_t>(n), f) == static_cast<std::size_t>(n);
}

// A raw folder of one dataset under $TMPDIR, removed with the object.
class RawFolder {
public:
    explicit RawFolder(ImportDataset dataset)
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tumblewatch-import-XXXXXX";
        if (mkdtemp(templ.data()) == nullptr) {
            return;
        }
        dir_ = templ;
        const Source source{MakeSampleStream(kSamplesEach * kTrials)};
        bool ok = true;
        for (int t = 0; t < kTrials && ok; ++t) {
            ok = dataset == ImportDataset::SisFall    ? SisFall(source, t)
                 : dataset == ImportDataset::MobiFall ? MobiFall(source, t)
                                                      : UmaFall(source, t);
        }
        if (!ok) {
            Remove();
        }
    }
    ~RawFolder() { Remove(); }
    RawFolder(const RawFolder&) = delete;
    RawFolder& operator=(const RawFolder&) = delete;

    // Empty when the folder could not be written.
    const std::string& path() const { return dir_; }

private:
    void Remove()
    {
        std::error_code ec;
        if (!dir_.empty()) {
            fs::remove_all(dir_, ec);
        }
        dir_.clear();
    }

    FILE* Create(const std::string& relative)
    {
        const fs::path file = fs::path(dir_) / relative;
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        return std::fopen(file.c_str(), "wb");
    }

    // 200 Hz counts: ADXL345 256 per g, ITG3200 16.384 per deg/s.
    bool SisFall(const Source& s, int t)
    {
        char name[64];
        std::snprintf(name, sizeof name, "SisFall_dataset/SA%02d/%c%02d_SA%02d_R01.txt", t + 1, t % 2 == 0 ? 'F' : 'D',
                      t % 15 + 1, t + 1);
        FILE* f = Create(name);
        bool ok = f != nullptr;
        for (std::size_t i = 0; ok && i < kSamplesEach * 4; ++i) {
            const double at = static_cast<double>(i) / 200.0;
            char line[96];
            const int n = std::snprintf(line, sizeof line, "%5ld,%5ld,%5ld,%5ld,%5ld,%5ld,%5ld,%5ld,%5ld;\r\n",
                                        std::lround(s.At(t, at, 0) * 256), std::lround(s.At(t, at, 1) * 256),
                                        std::lround(s.At(t, at, 2) * 256), std::lround(s.At(t, at, 3) * 16.384),
                                        std::lround(s.At(t, at, 4) * 16.384), std::lround(s.At(t, at, 5) * 16.384),
                                        std::lround(s.At(t, at, 0) * 1024), std::lround(s.At(t, at, 1) * 1024),
                                        std::lround(s.At(t, at, 2) * 1024));
            ok = Append(f, line, n);
        }
        return f != nullptr && std::fclose(f) == 0 && ok;
    }

    // The accelerometer at an irregular 87-100 Hz, the gyroscope at 200 Hz.
    bool MobiFall(const Source& s, int t)
    {
        bool ok = true;
        for (const bool gyro : {false, true}) {
            char name[64];
            std::snprintf(name, sizeof name, "sub%d/FALLS/FOL/FOL_%s_%d_1.txt", t + 1, gyro ? "gyro" : "acc", t + 1);
            FILE* f = Create(name);
            ok = ok && f != nullptr && Append(f, "#timestamp(ns),x,y,z\r\n@DATA\r\n", 29);
            double at = 0.0;
            for (int i = 0; ok && at < kSamplesEach / kSamplesPerSecond; ++i) {
                const int a = gyro ? 3 : 0;
                const double scale = gyro ? kPi / 180.0 : kGravity;
                char line[128];
                const int n =
                    std::snprintf(line, sizeof line, "%.0f, %.9g, %.9g, %.9g\r\n", 1e12 + at * 1e9,
                                  s.At(t, at, a) * scale, s.At(t, at, a + 1) * scale, s.At(t, at, a + 2) * scale);
                ok = Append(f, line, n);
                at += gyro ? 0.005 : 0.010 + 0.0015 * ((i * 7) % 3);
            }
            ok = f != nullptr && std::fclose(f) == 0 && ok;
        }
        return ok;
    }

    // A phone at 200 Hz and four SensorTags at 20 Hz, interleaved.
    bool UmaFall(const Source& s, int t)
    {
        char name[96];
        std::snprintf(name, sizeof name,
                      "UMAFall_Dataset/UMAFall_Subject_%02d_Fall_forwardFall_1_2016-06-13_20-43-52.csv", t + 1);
        FILE* f = Create(name);
        const char* header =
            "% MAC Address; Sensor_ID; Position; Device Model\n%f8:95:c7:f3:ba:82; 0; RIGHTPOCKET; phone\n"
            "%C4:BE:84:71:A5:02; 2; WAIST; SensorTag\n% TimeStamp; Sample No; X-Axis; Y-Axis; Z-Axis; Sensor Type; "
            "Sensor ID;\n";
        bool ok = f != nullptr && Append(f, header, static_cast<int>(std::char_traits<char>::length(header)));
        for (int i = 0; ok && i < static_cast<int>(kSamplesEach) * 4; ++i) {
            const double at = i / 200.0;
            for (int sensor = 0; ok && sensor < (i % 10 == 0 ? 5 : 1); ++sensor) {
                for (int type = 0; ok && type < 3; ++type) {
                    const int a = type == 1 ? 3 : 0;
                    char line[160];
                    const int n = std::snprintf(line, sizeof line, "%.0f;%d;%.17g;%.17g;%.17g;%d;%d\n", at * 1000, i,
                                                s.At(t, at, a), s.At(t, at, a + 1), s.At(t, at, a + 2), type, sensor);
                    ok = Append(f, line, n);
                }
            }
        }
        return f != nullptr && std::fclose(f) == 0 && ok;
    }

    std::string dir_;
};

void BM_Import(benchmark::State& state)
{
    const auto dataset = static_cast<ImportDataset>(state.range(0));
    static const RawFolder sisfall(ImportDataset::SisFall);
    static const RawFolder mobifall(ImportDataset::MobiFall);
    static const RawFolder umafall(ImportDataset::UmaFall);
    const RawFolder& raw = dataset == ImportDataset::SisFall    ? sisfall
                           : dataset == ImportDataset::MobiFall ? mobifall
                                                                : umafall;
    if (raw.path().empty()) {
        state.SkipWithError("cannot write the raw files");
        return;
    }
    ImportSettings settings{};
    settings.dataset = dataset;
    settings.rawDir = raw.path();
    settings.outDir = raw.path() + "-out";
    settings.format = ImportFormat::Bin;
    settings.threads = static_cast<int>(state.range(1));
    settings.axes = ImportAxesIdentity();
    settings.csv = ImportCsvDefaults();
    uint64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code ec;
        fs::remove_all(settings.outDir, ec);
        state.ResumeTiming();
        ImportResult result;
        std::string error;
        if (ImportRun(settings, &result, &error) != kImportDone || result.recordings.size() != kTrials) {
            state.SkipWithError(("import failed: " + error).c_str());
            break;
        }
        bytes += result.rawBytes;
    }
    std::error_code ec;
    fs::remove_all(settings.outDir, ec);
    state.SetLabel(ImportDatasetName(dataset));
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsRate);
    state.counters["MB/s/thread"] =
        benchmark::Counter(static_cast<double>(bytes) / 1e6 / settings.threads, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Import)
    ->ArgsProduct({{static_cast<int>(ImportDataset::SisFall), static_cast<int>(ImportDataset::MobiFall),
                    static_cast<int>(ImportDataset::UmaFall)},
                   {1, EvalHardwareThreads()}})
    ->ArgNames({"dataset", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
