// Running recordings through the detector.
#include "detect.h"

namespace {

void CollectAlarm(void* user, const Alarm& alarm)
{
    static_cast<DetectResult*>(user)->alarms.push_back(alarm);
}

}  // namespace

void DetectAlarmsObserve(void* user, const TumblewatchContext* detector, int code)
{
    const auto* a = static_cast<const DetectAlarms*>(user);
    if (code > 0) {
        // The sample count has moved past the sample that raised it.
        a->sink(a->sinkUser, Alarm{TumblewatchSampleCount(detector) - 1, code});
    }
    if (a->next != nullptr) {
        a->next(a->nextUser, detector, code);
    }
}

bool DetectStreamBegin(DetectStream* stream, const TumblewatchConfig& cfg, FILE* trace, DetectObserver observer,
                       void* user)
{
    stream->trace = trace;
    stream->observer = observer;
    stream->user = user;
    stream->peak = 0;
    stream->peakAt = 0;
    return TumblewatchSet(&stream->detector, &cfg) >= 0;
}

void DetectStreamFeed(DetectStream* stream, const ImuSample* samples, std::size_t count)
{
    fpTrace = stream->trace;
    TumblewatchContext* detector = &stream->detector;
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t number = TumblewatchSampleCount(detector);
        const int code = TumblewatchProcess(detector, &samples[i]);
        const uint16_t magnitude = TumblewatchAccRawMag(detector);
        if (magnitude > stream->peak) {
            stream->peak = magnitude;
            stream->peakAt = number;
        }
        if (stream->observer != nullptr) {
            stream->observer(stream->user, detector, code);
        }
    }
    fpTrace = nullptr;
}

uint32_t DetectStreamSamples(const DetectStream* stream)
{
    return TumblewatchSampleCount(&stream->detector);
}

void DetectStreamEnd(DetectStream* stream, DetectResult* result)
{
    result->samples = TumblewatchSampleCount(&stream->detector);
    result->peakSample = stream->peakAt;
    result->peakMagnitude = stream->peak;
    TumblewatchClose(&stream->detector);
}

bool DetectRun(const TumblewatchConfig& cfg, const ImuSample* samples, std::size_t count, FILE* trace,
               DetectResult* result, DetectObserver observer, void* user)
{
    result->samples = 0;
    result->alarms.clear();
    result->peakSample = 0;
    result->peakMagnitude = 0;
    DetectAlarms collect{CollectAlarm, result, observer, user};
    DetectStream stream;
    if (!DetectStreamBegin(&stream, cfg, trace, DetectAlarmsObserve, &collect)) {
        return false;
    }
    DetectStreamFeed(&stream, samples, count);
    DetectStreamEnd(&stream, result);
    return true;
}

bool DetectRunDecisions(const TumblewatchConfig& cfg, const ImuSample* samples,
                        const TumblewatchFrontEndValues* frontEnd, std::size_t count, DetectResult* result)
{
    result->samples = 0;
    result->alarms.clear();
    result->peakSample = 0;
    result->peakMagnitude = 0;
    TumblewatchContext detector;
    if (TumblewatchSet(&detector, &cfg) != 0) {
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
