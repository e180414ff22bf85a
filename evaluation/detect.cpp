// Running one recording through the detector.
#include "detect.h"

bool DetectRun(const TumblewatchConfig& cfg, const ImuSample* samples, std::size_t count, FILE* trace,
               DetectResult* result, DetectObserver observer, void* user)
{
    result->samples = 0;
    result->alarms.clear();
    result->peakSample = 0;
    result->peakMagnitude = 0;

    TumblewatchContext detector;
    if (TumblewatchSet(&detector, &cfg) < 0) {
        return false;
    }
    fpTrace = trace;
    uint16_t peak = 0;
    uint32_t peakAt = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t number = TumblewatchSampleCount(&detector);
        const int code = TumblewatchProcess(&detector, &samples[i]);
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
    fpTrace = nullptr;
    result->samples = TumblewatchSampleCount(&detector);
    result->peakSample = peakAt;
    result->peakMagnitude = peak;
    TumblewatchClose(&detector);
    return true;
}
