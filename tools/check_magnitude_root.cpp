// check_magnitude_root: proves that the detector's magnitude root, the
// float square root, gives the same bits as the double power 0.5 rounded
// to float on every non-negative float (all 2^31 bit patterns with the
// sign bit clear, NaNs included), or on an even sample of them.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "magnitude_root_check.h"

namespace {

void PrintUsage(FILE* out)
{
    std::fprintf(out,
                 "Usage: check_magnitude_root [--sample N]\n"
                 "\n"
                 "Compares the float square root with the double power 0.5 rounded to float,\n"
                 "bit for bit, on every float with the sign bit clear (2147483648 of them),\n"
                 "or with --sample N on N of them evenly spread, both ends included (N >= 2).\n"
                 "\n"
                 "Exit status: 0 when all agree, 1 when any differs, 2 on a usage error.\n");
}

// N of "--sample N": a whole number of at least 2.
bool ParseCount(const char* text, uint64_t* count)
{
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (text[0] < '0' || text[0] > '9' || *end != '\0' || value < 2) {
        return false;
    }
    *count = value;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    uint64_t count = uint64_t{kLastNonNegativeBits} + 1;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        PrintUsage(stdout);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--sample") == 0) {
        if (!ParseCount(argv[2], &count)) {
            std::fprintf(stderr, "check_magnitude_root: --sample needs a whole number of at least 2, not \"%s\"\n\n",
                         argv[2]);
            PrintUsage(stderr);
            return 2;
        }
    } else if (argc != 1) {
        PrintUsage(stderr);
        return 2;
    }

    const auto start = std::chrono::steady_clock::now();
    const RootCheck check = CheckMagnitudeRoot(count);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("%" PRIu64 " floats checked in %.1f s: ", check.checked, seconds);
    if (check.mismatches == 0) {
        std::printf("the float square root and the double power 0.5 agree on every one\n");
        return 0;
    }
    const float s = FloatOfBits(check.firstMismatch);
    std::printf("%" PRIu64 " differ, the first at 0x%08" PRIx32 " (%a): %a against %a\n", check.mismatches,
                check.firstMismatch, static_cast<double>(s), static_cast<double>(RootHalf(s)),
                static_cast<double>(PowerRoot(s)));
    return 1;
}
