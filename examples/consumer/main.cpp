// An example program built against the installed detector. It reads a CSV
// recording (seven header lines, then rows "row,ax,ay,az,gx,gy,gz" in raw
// counts, 50 per second; a row numbered -1 sets an offset that is added to
// the rows after it), runs every sample through one detector and prints each
// fall as "NNNN : Fall (code)", NNNN being the sample's 1-based position.
//
//   consumer RECORDING.csv
//
// Exit status: 0 after the whole file, 1 when it cannot be read, 2 on a
// usage error.
#include <tumblewatch/tumblewatch.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kHeaderLines = 7;

// The seven comma-separated numbers of a data row; false for another line.
bool ParseRow(const char* text, long* values)
{
    for (int i = 0; i < 7; ++i) {
        char* end = nullptr;
        values[i] = std::strtol(text, &end, 10);
        if (end == text || (i < 6 && *end != ',')) {
            return false;
        }
        text = end + 1;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: consumer RECORDING.csv\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "r");
    if (in == nullptr) {
        std::perror(argv[1]);
        return 1;
    }

    TumblewatchConfig cfg;  // must outlive the detector's use of ctx
    TumblewatchContext ctx;
    TumblewatchDefault(&cfg);
    if (TumblewatchSet(&ctx, &cfg) < 0) {
        std::fprintf(stderr, "consumer: the detector refused its configuration\n");
        std::fclose(in);
        return 1;
    }

    char line[1024];
    long offset[6] = {0, 0, 0, 0, 0, 0};
    for (int lineNumber = 1; std::fgets(line, sizeof line, in) != nullptr; ++lineNumber) {
        long v[7];
        if (lineNumber <= kHeaderLines || !ParseRow(line, v)) {
            continue;
        }
        if (v[0] == -1) {
            for (int i = 0; i < 6; ++i) {
                offset[i] = v[i + 1];
            }
            continue;
        }
        int16_t c[6];  // each value with its offset, cut to 16 bits
        for (int i = 0; i < 6; ++i) {
            c[i] = static_cast<int16_t>(static_cast<uint16_t>(v[i + 1] + offset[i]));
        }
        const ImuSample sample{c[0], c[1], c[2], c[3], c[4], c[5]};
        const int code = TumblewatchProcess(&ctx, &sample);
        if (code > 0) {
            std::printf("%04u : Fall (%d)\n", static_cast<unsigned>(TumblewatchSampleCount(&ctx)), code);
        }
    }
    const bool failed = std::ferror(in) != 0;
    TumblewatchClose(&ctx);  // frees what TumblewatchSet allocated
    std::fclose(in);
    if (failed) {
        std::fprintf(stderr, "consumer: %s: read error\n", argv[1]);
    }
    return failed ? 1 : 0;
}
