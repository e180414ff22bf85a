// Throughput of tumblewatch scan and explain over the cached front ends:
//   BM_Scan/WORKLOAD/THREADS     a scan of every parameter a stage reads over
//                                its whole range (the default values);
//   BM_Explain/WORKLOAD/THREADS  the explanation of every missed fall and
//                                false alarm under the defaults (the scan, the
//                                bisections, the values between scanned ones
//                                over every recording, the confirming runs);
//   BM_ScanCascade/WORKLOAD      the decision cascade alone, one configuration
//                                over every recording on one thread: the limit
//                                a scan's configuration-samples per CPU-second
//                                are measured against.
// WORKLOAD is "sisfall" (../shared/data/public/sisfall, or the folder in
// $TUMBLEWATCH_SISFALL; skipped, saying so, without it) or "generated"
// (40 generated recordings of ten minutes, 1.2 million samples). A brief
// run (TUMBLEWATCH_BENCHMARK_BRIEF set, as scripts/benchmark.sh --smoke
// sets it) takes 4 generated recordings and skips SisFall. Loading
// (decoding and the front end, once per recording) is not timed. Each
// reports the wall-clock seconds of one run, its configurations, and the
// configuration-samples per CPU-second of the whole process (getrusage).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "evaluation.h"
#include "explain.h"
#include "load_inputs.h"
#include "recording_folder.h"
#include "scan.h"

namespace {

enum Workload { kSisfall = 0, kGenerated = 1 };
constexpr const char* kWorkloadNames[] = {"sisfall", "generated"};

bool Brief()
{
    const char* brief = std::getenv("TUMBLEWATCH_BENCHMARK_BRIEF");
    return brief != nullptr && *brief != '\0';
}

std::string Folder(Workload w)
{
    if (w == kGenerated) {
        static const RecordingFolder folder(Brief() ? 4 : 40);
        return folder.path();
    }
    if (Brief()) {
        return std::string();
    }
    const char* env = std::getenv("TUMBLEWATCH_SISFALL");
    const std::string folder =
        env != nullptr && *env != '\0' ? std::string(env) : std::string(SOURCE_DIR) + "/../shared/data/public/sisfall";
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec) ? folder : std::string();
}

struct Prepared {
    TumblewatchConfig base;
    SweepData data;
    ScanPlan plan;
};

const Prepared* Prepare(Workload w)
{
    static std::map<int, std::unique_ptr<Prepared>> prepared;
    auto& p = prepared[w];
    if (!p) {
        const std::string folder = Folder(w);
        if (folder.empty()) {
            return nullptr;
        }
        p = std::make_unique<Prepared>();
        InputOptions options;
        options.paths = {folder};
        Manifest manifest;
        InputSet inputs;
        std::string error;
        if (!InputsLoad(options, &p->base, &manifest, &inputs, &error) ||
            !ScanLoad(inputs, nullptr, EvalHardwareThreads(), "scan", &p->data, &error) ||
            !ScanPlanMake({}, {}, kScanDefaultMaxValues, p->base, ScanLongest(p->data), &p->plan, &error)) {
            p.reset();
            return nullptr;
        }
    }
    return p.get();
}

// CPU seconds of the whole process so far.
double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void Skip(benchmark::State& state, Workload w)
{
    state.SkipWithError(w != kSisfall ? "cannot write the recordings"
                        : Brief()     ? "a brief run: SisFall skipped"
                                      : "no ../shared/data/public/sisfall (nor $TUMBLEWATCH_SISFALL): skipped");
}

void ScanCase(benchmark::State& state, Workload w, int threads)
{
    const Prepared* p = Prepare(w);
    if (p == nullptr) {
        Skip(state, w);
        return;
    }
    double cpu = 0.0;
    uint64_t configSamples = 0;
    for (auto _ : state) {
        Progress progress;
        ProgressStart(&progress, "recordings", p->data.recordings.size(), false);
        ScanTable table;
        const double before = CpuSeconds();
        ScanRun(p->data, p->plan, kDefaultMergeSeconds, threads, &progress, &table);
        cpu += CpuSeconds() - before;
        configSamples += table.configSamples;
        benchmark::DoNotOptimize(ScanResults(p->data, p->plan, table));
    }
    state.counters["configurations"] = static_cast<double>(p->plan.configs.size());
    state.counters["samples"] = static_cast<double>(p->data.samples);
    state.counters["config-samples/CPU-s"] = static_cast<double>(configSamples) / cpu;
    state.counters["config-samples/s"] =
        benchmark::Counter(static_cast<double>(configSamples), benchmark::Counter::kIsRate);
}

void ExplainCase(benchmark::State& state, Workload w, int threads)
{
    const Prepared* p = Prepare(w);
    if (p == nullptr) {
        Skip(state, w);
        return;
    }
    double cpu = 0.0;
    std::size_t cases = 0;
    std::size_t refined = 0;
    uint64_t configSamples = 0;
    for (auto _ : state) {
        Progress progress;
        ProgressStart(&progress, "recordings", p->data.recordings.size(), false);
        Explanation e;
        const double before = CpuSeconds();
        ExplainRun(p->data, p->plan, kDefaultMergeSeconds, threads, &progress, &e);
        cpu += CpuSeconds() - before;
        cases = e.cases.size();
        refined = e.refined.configs.size() - 1;
        configSamples += e.table.configSamples + e.refinedTable.configSamples;
    }
    state.counters["cases"] = static_cast<double>(cases);
    state.counters["refined-configurations"] = static_cast<double>(refined);
    state.counters["config-samples/CPU-s"] = static_cast<double>(configSamples) / cpu;
}

// One configuration's decisions over every recording, on one thread.
void CascadeCase(benchmark::State& state, Workload w)
{
    const Prepared* p = Prepare(w);
    if (p == nullptr) {
        Skip(state, w);
        return;
    }
    DetectResult result;
    uint64_t samples = 0;
    for (auto _ : state) {
        for (const SweepRecording& r : p->data.recordings) {
            DetectRunDecisions(p->base, r.samples.data(), r.frontEnd.data(), r.samples.size(), &result);
            samples += r.samples.size();
        }
    }
    state.counters["config-samples/CPU-s"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
}

const bool kRegistered = [] {
    for (const Workload w : {kGenerated, kSisfall}) {
        const std::string name = kWorkloadNames[w];
        benchmark::RegisterBenchmark(("BM_ScanCascade/" + name).c_str(), CascadeCase, w)->Unit(benchmark::kMillisecond);
        for (const int threads : {1, EvalHardwareThreads()}) {
            if (w == kSisfall && threads == 1 && EvalHardwareThreads() > 1) {
                continue;  // the whole of SisFall on every thread only
            }
            benchmark::RegisterBenchmark(("BM_Scan/" + name + "/" + std::to_string(threads)).c_str(), ScanCase, w,
                                         threads)
                ->Iterations(1)
                ->Repetitions(1)
                ->UseRealTime()
                ->Unit(benchmark::kSecond);
            benchmark::RegisterBenchmark(("BM_Explain/" + name + "/" + std::to_string(threads)).c_str(), ExplainCase, w,
                                         threads)
                ->Iterations(1)
                ->Repetitions(1)
                ->UseRealTime()
                ->Unit(benchmark::kSecond);
        }
    }
    return true;
}();

}  // namespace
