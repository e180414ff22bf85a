// detect_rate: the C++ detector's own speed on a recording held in memory,
// the figure that the Python module's detect is measured against
// (benchmarks/python_detect.py). The loop is the one an application would
// write: set up, one TumblewatchProcess per sample, close.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recording_reader.h"
#include "tumblewatch.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr,
                     "Usage: detect_rate FILE.bin RUNS\n"
                     "Runs the detector over the dataset RUNS times and prints\n"
                     "samples=N best_seconds=S samples_per_second=R (the best run)\n");
        return 2;
    }
    std::vector<ImuSample> samples;
    std::string reason;
    if (RecordingLoad(argv[1], RecordingFormat::DataSet, false, &samples, &reason) != 0) {
        std::fprintf(stderr, "detect_rate: %s: %s\n", argv[1], reason.c_str());
        return 1;
    }
    const int runs = std::atoi(argv[2]);
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    std::vector<int> codes(samples.size());
    double best = 0.0;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        TumblewatchContext ctx;
        if (TumblewatchSet(&ctx, &cfg) != 0) {
            return 1;
        }
        for (std::size_t i = 0; i < samples.size(); ++i) {
            codes[i] = TumblewatchProcess(&ctx, &samples[i]);
        }
        TumblewatchClose(&ctx);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (r == 0 || seconds < best) {
            best = seconds;
        }
    }
    long alarms = 0;
    for (const int c : codes) {
        alarms += c > 0;
    }
    std::printf("samples=%zu alarms=%ld best_seconds=%.6f samples_per_second=%.0f\n", samples.size(), alarms, best,
                best > 0 ? static_cast<double>(samples.size()) / best : 0.0);
    return 0;
}
