// Running one recording through the detector.
#include "detect.h"

namespace {

// Clears a result and sets detector up with cfg; false when refused.
bool Start(const TumblewatchConfig& cfg, DetectResult* result, TumblewatchContext* detector)
{
    result->samples = 0;
    result->alarms.clear();
    result->peakSample = 0;
    result->peakMagnitude = 0;
    return TumblewatchSet(detector, &cfg) == 0;
}

// Sets a detector up with cfg, runs step(detector, i) for i in [0, count)
// (step processes sample i and returns its code), and collects the alarms
// and the peak; observer, when given, is called after each sample.
template <typename Step>
bool Detect(const TumblewatchConfig& cfg, std::size_t count, DetectResult* result, Step step, DetectObserver observer,
            void* user)
{
    TumblewatchContext detector;
    if (!Start(cfg, result, &detector)) {
        return false;
    }
    uint16_t peak = 0;
    uint32_t peakAt = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t number = TumblewatchSampleCount(&detector);
        const int code = step(&detector, i);
        const uint16_t magnitude = TumblewatchAccRawMag(&detector);
        if (magnitude > peak) {
            peak = magnitude;
            peakAt = number;
        }
        if (code > 0) {
            result->alarms.push_back(Alarm{number, code});
        }
        if (observer != nullptr) {
            observer(user, &detector, code);
        }
    }
    result->samples = TumblewatchSampleCount(&detector);
    result->peakSample = peakAt;
    result->peakMagnitude = peak;
    TumblewatchClose(&detector);
    return true;
}

}  // namespace

bool DetectRun(const TumblewatchConfig& cfg, const ImuSample* samples, std::size_t count, FILE* trace,
               DetectResult* result, DetectObserver observer, void* user)
{
    fpTrace = trace;
    const bool set = Detect(
        cfg, count, result,
        [samples](TumblewatchContext* detector, std::size_t i) { return TumblewatchProcess(detector, &samples[i]); },
        observer, user);
    fpTrace = nullptr;
    return set;
}

bool DetectRunDecisions(const TumblewatchConfig& cfg, const ImuSample* samples,
                        const TumblewatchFrontEndValues* frontEnd, std::size_t count, DetectResult* result)
{
    TumblewatchContext detector;
    if (!Start(cfg, result, &detector)) {
        return false;
    }
    TumblewatchDecideRecording(
        &detector, samples, frontEnd, count,
        [](void* user, uint32_t sample, int code) {
            static_cast<DetectResult*>(user)->alarms.push_back(Alarm{sample, code});
        },
        result);
    result->samples = TumblewatchSampleCount(&detector);
    TumblewatchClose(&detector);
    // The peak as DetectRun finds it: the first sample of the largest raw
    // magnitude, which the front end alone decides.
    for (std::size_t i = 0; i < count; ++i) {
        if (frontEnd[i].accRawMag > result->peakMagnitude) {
            result->peakMagnitude = frontEnd[i].accRawMag;
            result->peakSample = static_cast<uint32_t>(i);
        }
    }
    return true;
}
