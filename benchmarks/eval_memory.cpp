// eval_memory: the measurements behind the memory table of
// scripts/benchmark.sh. It writes the benchmark's sample stream as a
// dataset of any size, and runs `tumblewatch eval` with its JSON and HTML
// reports on one dataset as a process of its own, reporting the wall-clock
// time and that process's peak resident size: the aim is a peak that does
// not grow with the recording's length.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dataset_format.h"
#include "sample_stream.h"

extern char** environ;

namespace {

// Samples of the stream written at a time (the stream repeats after them).
constexpr std::size_t kChunk = 1 << 20;

void PrintUsage(FILE* out)
{
    std::fprintf(out,
                 "Usage: eval_memory write MIB FILE\n"
                 "       eval_memory run TUMBLEWATCH FILE OUT_DIR\n"
                 "\n"
                 "write  writes the benchmark stream to FILE as a binary dataset of about MIB MiB\n"
                 "run    runs TUMBLEWATCH eval FILE -q --json OUT_DIR/e.json --html OUT_DIR/e.html\n"
                 "       and prints samples=N seconds=S peak_kib=K (the eval process's peak resident size)\n"
                 "\n"
                 "Exit status: 0 on success, 1 when the file cannot be written or the run fails,\n"
                 "2 on a usage error.\n");
}

int Write(const char* mib, const char* path)
{
    char* end = nullptr;
    const unsigned long long size = std::strtoull(mib, &end, 10);
    if (end == mib || *end != '\0' || size == 0) {
        PrintUsage(stderr);
        return 2;
    }
    const std::vector<ImuSample> stream = MakeSampleStream(kChunk);
    const std::size_t total = static_cast<std::size_t>(size << 20) / kDataSetRecordSize;
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::perror(path);
        return 1;
    }
    const std::string header = DataSetImage({});
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    std::vector<unsigned char> records(kChunk * kDataSetRecordSize);
    for (std::size_t i = 0; i < kChunk; ++i) {
        DataSetEncodeRecord(stream[i], &records[i * kDataSetRecordSize]);
    }
    for (std::size_t done = 0; ok && done < total; done += kChunk) {
        const std::size_t n = std::min(kChunk, total - done);
        ok = std::fwrite(records.data(), kDataSetRecordSize, n, file) == n;
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "eval_memory: %s: not written completely\n", path);
        return 1;
    }
    std::printf("samples=%zu bytes=%zu\n", total, header.size() + total * kDataSetRecordSize);
    return 0;
}

int Run(const char* tumblewatch, const char* file, const std::string& out)
{
    const std::string json = out + "/e.json";
    const std::string html = out + "/e.html";
    std::vector<std::string> args{tumblewatch, "eval", file, "-q", "--json", json, "--html", html};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    // posix_spawn: the child's peak is its own, not this process's.
    if (posix_spawn(&pid, tumblewatch, nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror(tumblewatch);
        return 1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "eval_memory: %s failed\n", tumblewatch);
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::FILE* f = std::fopen(file, "rb");
    long size = 0;
    if (f != nullptr && std::fseek(f, 0, SEEK_END) == 0) {
        size = std::ftell(f);
    }
    if (f != nullptr) {
        std::fclose(f);
    }
    std::printf("samples=%ld seconds=%.2f peak_kib=%ld\n", (size - 24) / static_cast<long>(kDataSetRecordSize), seconds,
                usage.ru_maxrss);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "write" && argc == 4) {
        return Write(argv[2], argv[3]);
    }
    if (command == "run" && argc == 5) {
        return Run(argv[2], argv[3], argv[4]);
    }
    PrintUsage(command == "--help" ? stdout : stderr);
    return command == "--help" ? 0 : 2;
}
