// Throughput of tumblewatch eval: a folder of generated recordings read,
// decoded and run through the detector on one worker thread and on every
// hardware thread, in samples per second (wall clock) in all and per
// thread.
#include <benchmark/benchmark.h>
#include <string>
#include <vector>

#include "evaluation.h"
#include "recording_folder.h"

namespace {

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

BENCHMARK(BM_Eval)->Arg(1)->Arg(EvalHardwareThreads())->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
