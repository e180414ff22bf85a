// One recording through a fresh detector: the alarms it raised and where
// its largest raw acceleration lies, from samples in memory or fed block by
// block as a recording is read.
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
    std::vector<Alarm> alarms;  // in sample order (an evaluation keeps the first kListedAlarms of them)
    uint32_t peakSample;        // first sample of the largest raw acceleration magnitude (0 when empty)
    uint16_t peakMagnitude;     // that magnitude, 0.01 g
};

// Called after each sample with the detector's state and the sample's
// code; user is the argument given with it.
using DetectObserver = void (*)(void* user, const TumblewatchContext* detector, int code);

// Called with each alarm; user is the argument given with it.
using DetectAlarmSink = void (*)(void* user, const Alarm& alarm);

// What DetectAlarmsObserve does: every alarm to sink, then every sample
// to next (which may be null).
struct DetectAlarms {
    DetectAlarmSink sink;
    void* sinkUser;
    DetectObserver next;
    void* nextUser;
};

// An observer (DetectObserver) whose user is a DetectAlarms.
void DetectAlarmsObserve(void* user, const TumblewatchContext* detector, int code);

// A detector that is fed a recording block by block. Plain storage owned
// by the caller; it must stay at one address from DetectStreamBegin to
// DetectStreamEnd.
struct DetectStream {
    TumblewatchContext detector;
    FILE* trace;              // the thread's fpTrace while samples are fed; may be null
    DetectObserver observer;  // called after every sample; may be null
    void* user;               // the observer's argument
    uint16_t peak;            // largest raw acceleration magnitude so far, 0.01 g
    uint32_t peakAt;          // its first sample
};

// Sets a fresh detector up with cfg (which must outlive the stream). When
// trace is not null, the calling thread's fpTrace points at it while
// samples are fed, so that it receives the trace exactly as the bench
// writes it. False when the set-up is refused (nothing to end then).
// Allocates what TumblewatchSet allocates.
bool DetectStreamBegin(DetectStream* stream, const TumblewatchConfig& cfg, FILE* trace, DetectObserver observer,
                       void* user);

// Runs samples[0, count) through the detector, calling the observer after
// each. Allocates nothing.
void DetectStreamFeed(DetectStream* stream, const ImuSample* samples, std::size_t count);

// Samples fed so far.
uint32_t DetectStreamSamples(const DetectStream* stream);

// Closes the detector and sets result's samples and peak (its alarms are
// left as they are).
void DetectStreamEnd(DetectStream* stream, DetectResult* result);

// Runs samples[0, count) through a detector set up with cfg (which
// TumblewatchSet must accept), as a stream of one block, collecting every
// alarm in result. The alarms vector is reused: after the first recordings
// it allocates only when a recording has more alarms than any before it.
// When observer is not null it is called after every sample as well.
// Returns false only when the set-up is refused.
bool DetectRun(const TumblewatchConfig& cfg, const ImuSample* samples, std::size_t count, FILE* trace,
               DetectResult* result, DetectObserver observer = nullptr, void* user = nullptr);

// DetectRun without a trace for a recording whose front end was computed
// once (front_end.h): frontEnd[i] holds sample i's values, and only the
// decisions run, with cfg. The result is DetectRun's. The calling thread's
// fpTrace must be null.
bool DetectRunDecisions(const TumblewatchConfig& cfg, const ImuSample* samples,
                        const TumblewatchFrontEndValues* frontEnd, std::size_t count, DetectResult* result);

#endif
