// tilt_bench: replays recorded sensor data through the fall detector.
#include <cstdio>

#include "bench.h"
#include "tumblewatch.h"

int main(int argc, char** argv)
{
    std::printf("Tumblewatch : %d bytes.\n\n", static_cast<int>(sizeof(TumblewatchContext)));
    if (argc != 2 && argc != 3) {
        std::printf("Usage: tilt_bench [-r] <file_name>\n\n");
        return 1;
    }
    // Any first word selects the recursive search from the current directory.
    if (argc == 2) {
        SearchFiles(nullptr, argv[1]);
    } else {
        SearchFiles(".", argv[2]);
    }
    return 0;
}
