// Throughput of tumblewatch eval: a folder of generated recordings read,
// decoded and run through the detector on one worker thread and on every
// hardware thread, in samples per second (wall clock) in all and per
// thread.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "dataset_format.h"
#include "evaluation.h"
#include "sample_stream.h"

namespace {

constexpr int kRecordings = 16;
constexpr std::size_t kSamplesEach = 30000;  // ten minutes of wear each

// The recordings in a fresh folder under $TMPDIR, removed with the object.
class RecordingFolder {
public:
    RecordingFolder()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tumblewatch-eval-XXXXXX";
        if (mkdtemp(templ.data()) == nullptr) {
            return;
        }
        dir_ = templ;
        const std::vector<ImuSample> stream = MakeSampleStream(kSamplesEach * kRecordings);
        for (int r = 0; r < kRecordings; ++r) {
            const std::vector<ImuSample> part(stream.begin() + static_cast<long>(r * kSamplesEach),
                                              stream.begin() + static_cast<long>((r + 1) * kSamplesEach));
            const std::string name = (r % 2 == 0 ? "fall_mixed_s" : "adl_mixed_s") + std::to_string(r) + "_r1.bin";
            FILE* f = std::fopen((dir_ + "/" + name).c_str(), "wb");
            if (f != nullptr) {
                const std::string bytes = DataSetImage(part);
                std::fwrite(bytes.data(), 1, bytes.size(), f);
                std::fclose(f);
            }
        }
    }
    ~RecordingFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    RecordingFolder(const RecordingFolder&) = delete;
    RecordingFolder& operator=(const RecordingFolder&) = delete;

    const std::string& path() const { return dir_; }

private:
    std::string dir_;
};

void BM_Eval(benchmark::State& state)
{
    static const RecordingFolder folder;
    InputSet inputs{};
    std::string error;
    if (folder.path().empty() || !InputsFind({folder.path()}, &inputs, &error)) {
        state.SkipWithError("cannot write the recordings");
        return;
    }
    EvalSettings settings{};
    TumblewatchDefault(&settings.config);
    settings.mergeSeconds = kDefaultMergeSeconds;
    settings.threads = static_cast<int>(state.range(0));
    uint64_t samples = 0;
    for (auto _ : state) {
        Evaluation evaluation{};
        EvalRun(inputs, nullptr, settings, &evaluation);
        samples += evaluation.samples;
        benchmark::DoNotOptimize(evaluation.outcomes.data());
    }
    state.counters["samples/s"] = benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["samples/s/thread"] =
        benchmark::Counter(static_cast<double>(samples) / settings.threads, benchmark::Counter::kIsRate);
}

int AllThreads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

BENCHMARK(BM_Eval)->Arg(1)->Arg(AllThreads())->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
