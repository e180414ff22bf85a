// The detectors of a live session: one per device, created when a device
// first sends and closed when it ends, goes idle or the session stops, on
// a fixed number of worker threads. A device always runs on the same
// worker, so its samples are processed in order on its one detector. Each
// device has a bounded queue between the sources and its worker: what does
// not fit is dropped and counted, so memory stays bounded however fast a
// device sends.
#ifndef LIVE_LIVE_ENGINE_H
#define LIVE_LIVE_ENGINE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "live_payload.h"
#include "live_session.h"
#include "tumblewatch.h"

// Samples a device's queue holds: 20 s at 50 samples per second.
constexpr std::size_t kLiveQueueDefault = 1000;
// Worker threads by default.
constexpr int kLiveThreadsDefault = 2;
// The longest time a sample waits in a recording's buffer before it is
// written: whole recordings lose at most this much when a process dies.
constexpr int64_t kLiveFlushNs = 800000000;

// One alarm: the sample of a device's recording that returned a fall code.
struct LiveAlarm {
    std::string device;  // the name the device sent under
    std::string file;    // its recording in the session folder ("" when not recorded)
    uint64_t sample;     // 0-based number in the recording (as eval numbers it)
    int code;            // the fall code
    int64_t arrivalNs;   // when the sample arrived, ns since 1970 (UTC)
    int64_t alarmNs;     // when the detector returned the code
};

// What the engine tells: alarms (from the worker threads, one at a time)
// and notices in plain words (devices starting and ending, recordings
// that fail).
using LiveAlarmSink = std::function<void(const LiveAlarm&)>;
using LiveNoticeSink = std::function<void(const std::string&)>;

struct LiveSettings {
    TumblewatchConfig config;           // every device's parameters
    int threads = kLiveThreadsDefault;  // worker threads, 1 or more
    std::size_t queueSamples = kLiveQueueDefault;
    double idleSeconds = 0;  // close a device silent this long; 0: never
    bool record = true;      // keep recordings and manifests
};

// Totals of a finished session.
struct LiveTotals {
    uint64_t devices;  // device recordings closed
    uint64_t samples;  // samples processed
    uint64_t alarms;
    uint64_t dropped;      // samples dropped from full queues
    uint64_t badInput;     // torn, long and binary lines, torn records
    bool recordingFailed;  // some recording or manifest could not be written whole
};

struct LiveEngine;

// Starts the workers. settings.config is copied; session (when
// settings.record) and the sinks must stay alive until LiveEngineStop.
// Returns the engine (freed by LiveEngineStop); null with the reason in
// *reason when the configuration is refused.
LiveEngine* LiveEngineStart(const LiveSettings& settings, LiveSession* session, LiveAlarmSink alarms,
                            LiveNoticeSink notices, std::string* reason);

// Hands count samples of a device, which arrived at arrivalNs, to its
// worker, with what its stream counted meanwhile. Creates the device when
// it is new. Called from any thread; one device's samples must come from
// one thread at a time (in their order).
void LiveEnginePush(LiveEngine* engine, const std::string& device, const std::string& source, const ImuSample* samples,
                    std::size_t count, int64_t arrivalNs, const LiveCounts& counts);

// The device's stream ended (why: "end of stream", ...): its worker
// processes what is queued, then closes its recording and writes its
// manifest row. counts are the stream's last counts.
void LiveEngineEnd(LiveEngine* engine, const std::string& device, const std::string& source, const LiveCounts& counts,
                   const char* why);

// Processes everything queued, closes every device ("stopped"), joins the
// workers and frees the engine. Returns the session's totals.
LiveTotals LiveEngineStop(LiveEngine* engine);

// The bytes one device takes while it runs: its detector's context, its
// queue, its recording's buffer and the bookkeeping (without its name).
std::size_t LiveDeviceBytes(std::size_t queueSamples);

#endif
