// Throughput of tumblewatch sweep: the generated recordings decoded once,
// then a grid of configurations over them on one worker thread and on
// every hardware thread; configurations and samples per second (wall
// clock), in all and per thread.
#include <benchmark/benchmark.h>

#include <string>

#include "evaluation.h"
#include "recording_folder.h"
#include "sweep.h"

namespace {

void BM_Sweep(benchmark::State& state)
{
    static const RecordingFolder folder;
    InputSet inputs{};
    std::string error;
    if (folder.path().empty() || !InputsFind({folder.path()}, &inputs, &error)) {
        state.SkipWithError("cannot write the recordings");
        return;
    }
    static SweepData data{};
    if (data.recordings.empty()) {
        SweepLoad(inputs, nullptr, 1, true, &data);
    }
    SweepSpace space{};
    SweepGrid grid;
    SweepParseGrid("fallWindow=10:24:2", &grid, &error);
    space.grids.push_back(grid);
    TumblewatchConfig base;
    TumblewatchDefault(&base);
    const SweepSettings settings{kDefaultMergeSeconds, static_cast<int>(state.range(0)), 0};
    const int64_t count = SweepCount(space, 1000);
    uint64_t samples = 0;
    int64_t configs = 0;
    for (auto _ : state) {
        Progress progress;
        ProgressStart(&progress, "configurations", static_cast<uint64_t>(count), false);
        SweepRun(data, space, base, 0, count, settings, &progress, [&](const SweepRow& row) {
            benchmark::DoNotOptimize(row.all.tp);
            return true;
        });
        samples += progress.samples;
        configs += count;
    }
    state.counters["configs/s"] = benchmark::Counter(static_cast<double>(configs), benchmark::Counter::kIsRate);
    state.counters["samples/s"] = benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["samples/s/thread"] =
        benchmark::Counter(static_cast<double>(samples) / settings.threads, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Sweep)->Arg(1)->Arg(EvalHardwareThreads())->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
