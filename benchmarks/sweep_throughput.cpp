// Throughput of tumblewatch sweep, the previous way and the current one in
// the same run: "previous" runs the whole pipeline for every configuration
// and recording, as every sweep did before the front end was split off;
// "current" computes each recording's front end once, when it is loaded,
// and runs only the decisions per configuration. Two sweeps:
//   readme  the README's sweep (42 configurations with 3 folds over the
//           shared real recordings; skipped without ../shared/data);
//   random  12 random configurations over 25 parameters with 5 folds over
//           40 generated recordings of ten minutes (1.2 million samples).
// Each on one worker thread and on every hardware thread; configurations
// and samples per second, in all and per thread. Loading is measured
// apart (BM_SweepLoad): decoding only, or decoding and the front end.
// Every run's rows are compared with the first run's of the same sweep: a
// difference ends the benchmark with an error.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "evaluation.h"
#include "folds.h"
#include "recording_folder.h"
#include "sweep_plan.h"

namespace {

enum Workload { kReadme = 0, kRandom = 1 };
constexpr const char* kWorkloadNames[] = {"readme", "random"};

// The request of a sweep (the command line's options).
SweepRequest Request(Workload w, const std::string& folder)
{
    SweepRequest r;
    r.inputs.paths = {folder};
    if (w == kReadme) {
        r.grids = {"fallWindow=8:20:2", "quietMagnitude=50,60,70", "impactSoftSum=1000,1350"};
        r.folds = 3;
    } else {
        r.random = 12;
        r.seed = 3;
        r.ranges = {
            "fallWindow=5:40",      "quietMagnitude=30:90",    "jumpBandLow=120:180",     "jumpBandHigh=300:500",
            "rotationLow=100:220",  "rotationHigh=250:450",    "weightedAccelMax=20:60",  "pitchLimit=40:80",
            "tiltLimit=20:50",      "recordLength=2:8",        "impactHardSum=1400:2200", "impactHardWindow=3:9",
            "impactHardLength=2:6", "impactSoftSum=900:1600",  "impactSoftWindow=3:9",    "impactSoftLength=4:10",
            "tumbleAccel=120:180",  "tumbleGyro=120:200",      "tumbleLength=10:25",      "repeatPrevLength=6:14",
            "repeatLength=6:12",    "repeatTotalLength=18:30", "repeatGapMin=3:8",        "repeatGapMax=15:30",
            "repeatPeak=300:500"};
        r.folds = 5;
    }
    return r;
}

// A sweep ready to run: its plan and its recordings, loaded the previous
// way or the current one.
struct Prepared {
    SweepPlan plan;
    SweepRequest request;
    SweepData data;
};

std::string Folder(Workload w)
{
    if (w == kReadme) {
        const std::string real = std::string(SOURCE_DIR) + "/../shared/data/real";
        std::error_code ec;
        return std::filesystem::is_directory(real, ec) ? real : std::string();
    }
    static const RecordingFolder folder(40);
    return folder.path();
}

const Prepared* Prepare(Workload w, bool cache)
{
    static std::map<std::pair<int, bool>, std::unique_ptr<Prepared>> prepared;
    auto& p = prepared[{w, cache}];
    if (!p) {
        const std::string folder = Folder(w);
        if (folder.empty()) {
            return nullptr;
        }
        p = std::make_unique<Prepared>();
        p->request = Request(w, folder);
        std::string error;
        if (!SweepPlanMake(p->request, &p->plan, &error)) {
            p.reset();
            return nullptr;
        }
        SweepLoad(p->plan.inputs, nullptr, EvalHardwareThreads(), cache, &p->data);
        SweepAssignFolds(&p->data, p->request.folds);
    }
    return p.get();
}

// The rows of a run, as one hash of their text.
uint64_t RunOnce(const Prepared& p, int threads, uint64_t* samples)
{
    Progress progress;
    ProgressStart(&progress, "configurations", static_cast<uint64_t>(p.plan.count), false);
    std::string text;
    const SweepSettings settings{p.request.inputs.mergeSeconds, threads, p.request.folds};
    SweepRun(p.data, p.plan.space, p.plan.base, 0, p.plan.count, settings, &progress, [&](const SweepRow& row) {
        text += SweepRowText(p.plan.layout, p.plan.varied, row);
        return true;
    });
    *samples += progress.samples;
    return FoldsHash(text);
}

// One sweep, the previous way or the current one, on threads threads.
void SweepCase(benchmark::State& state, Workload w, bool current, int threads)
{
    const Prepared* p = Prepare(w, current);
    if (p == nullptr) {
        state.SkipWithError(w == kReadme ? "no shared data: the README's sweep is skipped"
                                         : "cannot write the recordings");
        return;
    }
    static std::map<int, uint64_t> firstRows;
    uint64_t samples = 0;
    int64_t configs = 0;
    for (auto _ : state) {
        const uint64_t rows = RunOnce(*p, threads, &samples);
        configs += p->plan.count;
        const auto [it, first] = firstRows.emplace(w, rows);
        if (!first && it->second != rows) {
            state.SkipWithError("the rows differ from the first run's");
            return;
        }
    }
    const double perThread = 1.0 / threads;
    state.counters["configs/s"] = benchmark::Counter(static_cast<double>(configs), benchmark::Counter::kIsRate);
    state.counters["configs/s/thread"] =
        benchmark::Counter(static_cast<double>(configs) * perThread, benchmark::Counter::kIsRate);
    state.counters["samples/s"] = benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["samples/s/thread"] =
        benchmark::Counter(static_cast<double>(samples) * perThread, benchmark::Counter::kIsRate);
}

// Loading the random sweep's 1.2 million samples on every hardware
// thread: decoding only (previous) or decoding and the front end (current).
void LoadCase(benchmark::State& state, bool current)
{
    const std::string folder = Folder(kRandom);
    SweepPlan plan{};
    std::string error;
    if (folder.empty() || !SweepPlanMake(Request(kRandom, folder), &plan, &error)) {
        state.SkipWithError("cannot write the recordings");
        return;
    }
    uint64_t samples = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        SweepData data{};
        SweepLoad(plan.inputs, nullptr, EvalHardwareThreads(), current, &data);
        samples += data.samples;
        bytes = SweepDataBytes(data) / (data.samples > 0 ? data.samples : 1);
    }
    state.counters["samples/s"] = benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["bytes/sample"] = static_cast<double>(bytes);
}

// Registered by name: BM_Sweep/WORKLOAD/previous|current/THREADS and
// BM_SweepLoad/random/previous|current.
const bool kRegistered = [] {
    for (const Workload w : {kReadme, kRandom}) {
        for (const int threads : {1, EvalHardwareThreads()}) {
            for (const bool current : {false, true}) {
                const std::string name = std::string("BM_Sweep/") + kWorkloadNames[w] +
                                         (current ? "/current/" : "/previous/") + std::to_string(threads);
                benchmark::RegisterBenchmark(name.c_str(), SweepCase, w, current, threads)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    for (const bool current : {false, true}) {
        benchmark::RegisterBenchmark(current ? "BM_SweepLoad/random/current" : "BM_SweepLoad/random/previous", LoadCase,
                                     current)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
