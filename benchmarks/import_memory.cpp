// import_memory: the measurement behind the import's line of the memory
// table of scripts/benchmark.sh. It writes N tiny SisFall trials (eight
// lines each, in 100 subject folders) and runs `tumblewatch import` on
// them as a process of its own, reporting the wall-clock time and that
// process's peak resident size: the aim is a peak under 64 MiB for 100,000
// files, whatever their number.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kFolders = 100;
constexpr int kCodes = 34;  // D01..D19, F01..F15
constexpr long kAimKib = 64 * 1024;

void PrintUsage(FILE* out)
{
    std::fprintf(out,
                 "Usage: import_memory write N RAW_DIR\n"
                 "       import_memory run TUMBLEWATCH RAW_DIR OUT_DIR\n"
                 "\n"
                 "write  writes N tiny SisFall trials (eight lines each) below RAW_DIR, in 100 subject folders\n"
                 "run    runs TUMBLEWATCH import sisfall RAW_DIR OUT_DIR -q -j 2 and prints\n"
                 "       seconds=S peak_kib=K (the import process's peak resident size) and aim_kib=65536\n"
                 "\n"
                 "Exit status: 0 on success, 1 when the files cannot be written, the import fails or its\n"
                 "peak passes the aim, 2 on a usage error.\n");
}

int Write(const char* count, const std::string& raw)
{
    char* end = nullptr;
    const long n = std::strtol(count, &end, 10);
    if (end == count || *end != '\0' || n < 1 || n > kFolders * kCodes * 99L) {
        PrintUsage(stderr);
        return 2;
    }
    std::string lines;
    for (int i = 0; i < 8; ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "%5d, -256,    0,   %d,    0,    0,  -12,-1020,   40;\r\n", i, i * 3);
        lines += line;
    }
    mkdir(raw.c_str(), 0777);
    for (long i = 0; i < n; ++i) {
        const int folder = static_cast<int>(i % kFolders) + 1;
        const long within = i / kFolders;
        const int code = static_cast<int>(within % kCodes);
        const int trial = static_cast<int>(within / kCodes) + 1;
        char subject[16];
        std::snprintf(subject, sizeof subject, "SA%02d", folder);
        const std::string dir = raw + "/" + subject;
        if (i < kFolders) {
            mkdir(dir.c_str(), 0777);
        }
        char name[64];
        std::snprintf(name, sizeof name, "/%c%02d_%s_R%02d.txt", code < 19 ? 'D' : 'F',
                      code < 19 ? code + 1 : code - 18, subject, trial);
        FILE* f = std::fopen((dir + name).c_str(), "wb");
        const bool ok = f != nullptr && std::fwrite(lines.data(), 1, lines.size(), f) == lines.size();
        if (f == nullptr || std::fclose(f) != 0 || !ok) {
            std::fprintf(stderr, "import_memory: %s%s: not written\n", dir.c_str(), name);
            return 1;
        }
    }
    std::printf("files=%ld\n", n);
    return 0;
}

int Run(const char* tumblewatch, const char* raw, const char* out)
{
    std::vector<std::string> args{tumblewatch, "import", "sisfall", raw, out, "-q", "-j", "2"};
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
        std::fprintf(stderr, "import_memory: %s failed\n", tumblewatch);
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("seconds=%.2f peak_kib=%ld aim_kib=%ld\n", seconds, usage.ru_maxrss, kAimKib);
    return usage.ru_maxrss < kAimKib ? 0 : 1;
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
