// Throughput of the detector alone (no trace file), of a whole binary
// replay with its trace and of the trace writers alone, on the generated
// sample stream, for the current
// code and for the previous implementation (previous/previous.h) in the
// same run. Both are reported in samples per second and as a multiple of
// real time at 50 samples per second. Wall-clock time is used, so the
// replay's file writing counts. scripts/benchmark.sh runs every case
// several times, interleaved, and prints the speed-ups of the medians.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench.h"
#include "previous.h"
#include "sample_stream.h"
#include "trace.h"
#include "tumblewatch.h"

namespace {

// Ten minutes of wear.
constexpr std::size_t kStreamSamples = 30000;

const std::vector<ImuSample>& Stream()
{
    static const std::vector<ImuSample> stream = MakeSampleStream(kStreamSamples);
    return stream;
}

// The entry points a case runs: the current ones or the previous ones,
// both called through pointers.
struct Implementation {
    int (*set)(TumblewatchContext* ctx, const TumblewatchConfig* cfg);
    int (*process)(TumblewatchContext* ctx, const ImuSample* sample);
    int (*close)(TumblewatchContext* ctx);
    int (*replayBinFile)(const char* path);
    FILE** trace;
    void (*traceSample)(TumblewatchContext* ctx, const ImuSample* sample, int part);
    int (*finishSample)(TumblewatchContext* ctx, int code);
};

Implementation Current()
{
    return Implementation{TumblewatchSet, TumblewatchProcess, TumblewatchClose, ReplayBinFile,
                          &fpTrace,       TraceSample,        FinishSample};
}

Implementation Previous()
{
    const PreviousImplementation& p = TumblewatchPrevious();
    return Implementation{p.set, p.process, p.close, p.replayBinFile, p.trace, p.traceSample, p.finishSample};
}

// Wall-clock time of the timed loop, for the multiple of real time: a
// rate counter would print it as a rate per second.
class LoopClock {
public:
    LoopClock() : start_(std::chrono::steady_clock::now()) {}
    double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

private:
    std::chrono::steady_clock::time_point start_;
};

void SetCounters(benchmark::State& state, const LoopClock& clock)
{
    const double samples = static_cast<double>(kStreamSamples) * static_cast<double>(state.iterations());
    const double seconds = clock.Seconds();
    state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["x realtime"] = benchmark::Counter(seconds > 0.0 ? samples / kSamplesPerSecond / seconds : 0.0);
}

// The stream as a binary dataset file in a fresh folder under $TMPDIR;
// the folder goes with the object, together with the trace written there.
class DataSetFile {
public:
    explicit DataSetFile(const std::vector<ImuSample>& samples)
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tumblewatch-bench-XXXXXX";
        if (mkdtemp(templ.data()) == nullptr) {
            return;
        }
        dir_ = templ;
        path_ = dir_ + "/stream.bin";
        trace_ = dir_ + "/stream.txt";
        ok_ = WriteDataSetFile(path_, samples);
    }
    ~DataSetFile()
    {
        if (!dir_.empty()) {
            std::remove(trace_.c_str());
            std::remove(path_.c_str());
            rmdir(dir_.c_str());
        }
    }
    DataSetFile(const DataSetFile&) = delete;
    DataSetFile& operator=(const DataSetFile&) = delete;

    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
    std::string trace_;
    bool ok_ = false;
};

// TumblewatchProcess on every sample, with no trace file open; one fresh
// detector per pass over the stream, as a replay has one per file.
void BM_Detector(benchmark::State& state, Implementation impl)
{
    const std::vector<ImuSample>& stream = Stream();
    fpTrace = nullptr;  // the previous implementation's own handle is never set
    const LoopClock clock;
    for (auto _ : state) {
        TumblewatchConfig cfg;
        TumblewatchContext detector;
        TumblewatchDefault(&cfg);
        if (impl.set(&detector, &cfg) < 0) {
            state.SkipWithError("TumblewatchSet failed");
            break;
        }
        for (const ImuSample& s : stream) {
            benchmark::DoNotOptimize(impl.process(&detector, &s));
        }
        impl.close(&detector);
    }
    SetCounters(state, clock);
}
BENCHMARK_CAPTURE(BM_Detector, previous, Previous())->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Detector, current, Current())->UseRealTime()->Unit(benchmark::kMillisecond);

// ReplayBinFile on the stream's dataset file: reading, detecting and
// writing the trace beside it.
void BM_ReplayWithTrace(benchmark::State& state, Implementation impl)
{
    const DataSetFile file(Stream());
    if (!file.ok()) {
        state.SkipWithError("cannot write the dataset file");
        return;
    }
    const LoopClock clock;
    for (auto _ : state) {
        if (impl.replayBinFile(file.path().c_str()) != 0) {
            state.SkipWithError("ReplayBinFile failed");
            break;
        }
    }
    SetCounters(state, clock);
}
BENCHMARK_CAPTURE(BM_ReplayWithTrace, previous, Previous())->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReplayWithTrace, current, Current())->UseRealTime()->Unit(benchmark::kMillisecond);

// The detector's states at every sample of the stream's first minutes, for
// the trace writers alone.
const std::vector<TumblewatchContext>& States()
{
    static const std::vector<TumblewatchContext> states = [] {
        std::vector<TumblewatchContext> all;
        TumblewatchConfig cfg;
        TumblewatchDefault(&cfg);
        TumblewatchContext ctx;
        TumblewatchSet(&ctx, &cfg);
        for (std::size_t i = 0; i < 3000; ++i) {
            TumblewatchProcess(&ctx, &Stream()[i]);
            all.push_back(ctx);
        }
        TumblewatchClose(&ctx);
        for (TumblewatchContext& c : all) {
            c.config = nullptr;  // set again where used
            c.orient.orientation = nullptr;
        }
        return all;
    }();
    return states;
}

// The trace writers alone: the three fragments of a line after warm-up
// for every stored state, into /dev/null through a 1 MiB stdio buffer.
void BM_TraceWriters(benchmark::State& state, Implementation impl)
{
    const std::vector<TumblewatchContext>& states = States();
    std::vector<char> buffer(std::size_t{1} << 20);
    FILE* devNull = std::fopen("/dev/null", "w");
    if (devNull == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    std::setvbuf(devNull, buffer.data(), _IOFBF, buffer.size());
    *impl.trace = devNull;
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    const LoopClock clock;
    for (auto _ : state) {
        for (std::size_t i = 0; i < states.size(); ++i) {
            TumblewatchContext ctx = states[i];
            ctx.config = &cfg;
            impl.traceSample(&ctx, &Stream()[i], 1);
            impl.traceSample(&ctx, &Stream()[i], 2);
            impl.finishSample(&ctx, 0);
        }
    }
    *impl.trace = nullptr;
    std::fclose(devNull);
    const double lines = static_cast<double>(states.size()) * static_cast<double>(state.iterations());
    state.counters["lines/s"] = benchmark::Counter(lines, benchmark::Counter::kIsRate);
    benchmark::DoNotOptimize(clock.Seconds());
}
BENCHMARK_CAPTURE(BM_TraceWriters, previous, Previous())->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TraceWriters, current, Current())->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
