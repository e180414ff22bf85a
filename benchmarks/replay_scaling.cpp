// replay_scaling: the measurements behind the scaling table of
// scripts/benchmark.sh. It writes the benchmark's sample stream as a
// dataset of any length, and replays one dataset with its trace, with the
// current code or the previous implementation, reporting the wall-clock
// and CPU time per sample and the process's peak resident size.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench.h"
#include "previous.h"
#include "sample_stream.h"

namespace {

void PrintUsage(FILE* out)
{
    std::fprintf(out,
                 "Usage: replay_scaling write N FILE\n"
                 "       replay_scaling replay [--previous] FILE\n"
                 "\n"
                 "write   writes N samples of the benchmark stream to FILE as a binary dataset\n"
                 "replay  replays the dataset FILE with its trace (beside it) and prints\n"
                 "        samples=N seconds=S ns_per_sample=T cpu_ns_per_sample=C peak_kib=K\n"
                 "        (wall-clock and CPU time per sample, peak resident size)\n"
                 "        (--previous: with the implementation before the speed-up)\n"
                 "\n"
                 "Exit status: 0 on success, 1 when the file cannot be written or replayed,\n"
                 "2 on a usage error.\n");
}

// Records in a dataset whose records start at byte 24, as the stream's do.
long RecordsIn(const char* path)
{
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr || std::fseek(f, 0, SEEK_END) != 0) {
        if (f != nullptr) {
            std::fclose(f);
        }
        return -1;
    }
    const long size = std::ftell(f);
    std::fclose(f);
    return size < 24 ? -1 : (size - 24) / 12;
}

// User and system time of the process so far.
double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * t.tv_usec; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int Write(const char* count, const char* path)
{
    char* end = nullptr;
    const unsigned long n = std::strtoul(count, &end, 10);
    if (count[0] < '0' || count[0] > '9' || *end != '\0') {
        PrintUsage(stderr);
        return 2;
    }
    if (!WriteDataSetFile(path, MakeSampleStream(n))) {
        std::fprintf(stderr, "replay_scaling: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

int Replay(bool previous, const char* path)
{
    const long samples = RecordsIn(path);
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const int result = previous ? TumblewatchPrevious().replayBinFile(path) : ReplayBinFile(path);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (samples < 0 || result != 0) {
        std::fprintf(stderr, "replay_scaling: cannot replay %s\n", path);
        return 1;
    }
    const double cpuSeconds = CpuSeconds() - cpuBefore;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double perSample = samples > 0 ? 1e9 / static_cast<double>(samples) : 0.0;
    std::printf("samples=%ld seconds=%.4f ns_per_sample=%.1f cpu_ns_per_sample=%.1f peak_kib=%ld\n", samples, seconds,
                seconds * perSample, cpuSeconds * perSample, usage.ru_maxrss);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        PrintUsage(stdout);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
        return Write(argv[2], argv[3]);
    }
    if (argc == 3 && std::strcmp(argv[1], "replay") == 0) {
        return Replay(false, argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "replay") == 0 && std::strcmp(argv[2], "--previous") == 0) {
        return Replay(true, argv[3]);
    }
    PrintUsage(stderr);
    return 2;
}
