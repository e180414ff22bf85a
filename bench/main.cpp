// tilt_bench: replays recorded sensor data through the fall detector.
//
// Exit status: 0 when every file found was replayed completely, 1 on a
// usage error, 2 when a file could not be replayed completely, a name
// without wildcards matched no file, or the console output was lost.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "bench.h"
#include "file_pattern.h"
#include "tumblewatch.h"

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitFailure = 2;

const char kUsage[] = "Usage: tilt_bench [-r] <file_name>\n\n";

const char kHelp[] =
    "Replays recordings through the fall detector. Every file that matches <file_name> (a name, or a\n"
    "pattern with the wildcards * and ? in its last component) in the current folder, or with -r in\n"
    "\".\" and every folder below it, is run through a freshly set-up detector: \".bin\" files as binary\n"
    "datasets, \".csv\" files (but not \"_DSV.csv\") as CSV recordings, read in the micom layout when a\n"
    "micom.txt exists in the current folder. Quote a pattern ('*.csv') so that the shell does not\n"
    "expand it. Each replay writes a trace beside its input (the same path ending in \"txt\"; never over\n"
    "the input or the marker), and each fall of a CSV recording is printed as \"NNNN : Fall (code)\".\n"
    "Exit status: 0 when every file found was replayed completely (also when a pattern with wildcards\n"
    "matches nothing), 1 on a usage error, 2 when a file could not be replayed or traced completely or\n"
    "a name without wildcards matches no file; each failure is explained on standard error.\n\n";

bool IsFlagLike(const char* word)
{
    return word[0] == '-';
}

bool IsExistingFile(const char* path)
{
    struct stat st {};
    return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s\n", TumblewatchVersion());
        return 0;
    }
    std::printf("Tumblewatch : %d bytes.\n\n", static_cast<int>(sizeof(TumblewatchContext)));
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s%s%s\n", kUsage, kHelp, TumblewatchVersion());
        return 0;
    }
    if (argc != 2 && argc != 3) {
        std::printf("%s", kUsage);
        return kExitUsage;
    }

    // Any first word selects the recursive search from the current
    // directory; a file name there usually means an unquoted pattern that
    // the shell expanded.
    const char* name = argv[argc - 1];
    if (argc == 3 && !IsFlagLike(argv[1]) && IsExistingFile(argv[1])) {
        std::fprintf(stderr,
                     "tilt_bench: warning: the first argument '%s' is taken as the recursive flag; quote a "
                     "pattern ('*.csv') so that the shell does not expand it\n",
                     argv[1]);
    }
    SearchTally tally{};
    SearchFilesCounted(argc == 2 ? nullptr : ".", name, &tally);

    bool failed = tally.failed > 0;
    if (tally.matched == 0 && !FilePatternHasWildcard(name)) {
        std::fflush(stdout);
        std::fprintf(stderr, "tilt_bench: %s: no such file%s\n", name, argc == 3 ? " here or in any folder below" : "");
        failed = true;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "tilt_bench: the console output could not be written completely\n");
        failed = true;
    }
    return failed ? kExitFailure : 0;
}
