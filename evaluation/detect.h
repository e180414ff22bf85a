// One recording through a fresh detector: the alarms it raised and where
// its largest raw acceleration lies.
#ifndef EVALUATION_DETECT_H
#define EVALUATION_DETECT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "front_end.h"
#include "tumblewatch.h"

// Samples per second of every recording.
constexpr double kSampleRate = 50.0;

// A sample with a positive fall code.
struct Alarm {
    uint32_t sample;  // 0-based sample number, as in the trace
    int code;         // the fall code
};

// What the detector made of one recording.
struct DetectResult {
    uint32_t samples;           // samples processed
    std::vector<Alarm> alarms;  // in sample order
    uint32_t peakSample;        // first sample of the largest raw acceleration magnitude (0 when empty)
    uint16_t peakMagnitude;     // that magnitude, 0.01 g
};

// Called after each sample with the detector's state and the sample's
// code; user is DetectRun's argument.
using DetectObserver = void (*)(void* user, const TumblewatchContext* detector, int code);

// Runs samples[0, count) through a detector set up with cfg (which
// TumblewatchSet must accept). When trace is not null, the calling thread's
// fpTrace points at it during the run, so that it receives the trace
// exactly as the bench writes it; fpTrace is null again afterwards. When
// observer is not null it is called after every sample. The alarms vector
// is reused: after the first recordings it allocates only when a recording
// has more alarms than any before it. Returns false only when the set-up is
// refused.
bool DetectRun(const TumblewatchConfig& cfg, const ImuSample* samples, std::size_t count, FILE* trace,
               DetectResult* result, DetectObserver observer = nullptr, void* user = nullptr);

// DetectRun without a trace for a recording whose front end was computed
// once (front_end.h): frontEnd[i] holds sample i's values, and only the
// decisions run, with cfg. The result is DetectRun's. The calling thread's
// fpTrace must be null.
bool DetectRunDecisions(const TumblewatchConfig& cfg, const ImuSample* samples,
                        const TumblewatchFrontEndValues* frontEnd, std::size_t count, DetectResult* result);

#endif
