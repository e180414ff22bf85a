// Fuzz target for the detector itself: the input is a sample stream for a
// fresh detector with its trace open, so that the sanitizers see every
// stage and the trace formatting on arbitrary, also saturated and
// wrapped-around, sequences. Each 13-byte piece is a repeat count (1 to
// 32: its low five bits) and a 12-byte little-endian sample, so that short
// inputs hold the steady stretches of samples that the trackers react to
// while a run stays short enough for millions of runs (a 16-bit counter's
// wrap-around is the suite's long recordings' to reach).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "dataset_format.h"
#include "tumblewatch.h"

namespace {

constexpr size_t kPieceSize = 13;
constexpr uint8_t kRepeatMask = 31;       // repeat counts 1 to 32
constexpr uint32_t kMaxSamples = 100000;  // more than a 16-bit counter holds

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The trace text is thrown away; only its writing is exercised.
    static FILE* sink = std::fopen("/dev/null", "w");
    if (sink == nullptr) {
        std::perror("detector_fuzzer: /dev/null");
        std::abort();
    }

    TumblewatchConfig cfg;
    TumblewatchContext detector;
    TumblewatchDefault(&cfg);
    if (TumblewatchSet(&detector, &cfg) < 0) {
        std::abort();
    }
    fpTrace = sink;
    uint32_t samples = 0;
    for (size_t at = 0; at + kPieceSize <= size && samples < kMaxSamples; at += kPieceSize) {
        const uint8_t* p = data + at;
        const ImuSample sample = DataSetDecodeRecord(p + 1);
        for (int n = (p[0] & kRepeatMask) + 1; n > 0 && samples < kMaxSamples; --n, ++samples) {
            const int code = TumblewatchProcess(&detector, &sample);
            if (code < 0) {
                std::fprintf(stderr, "detector_fuzzer: negative fall code %d\n", code);
                std::abort();
            }
        }
    }
    fpTrace = nullptr;
    TumblewatchClose(&detector);
    return 0;
}
