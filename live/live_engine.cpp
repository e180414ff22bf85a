// The workers of a live session and the devices they run.
#include "live_engine.h"

#include <cassert>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "live_names.h"
#include "live_recorder.h"

namespace {

constexpr std::size_t kDrainBatch = 256;                        // samples taken from a queue at a time
constexpr auto kHousekeeping = std::chrono::milliseconds(200);  // flushes and idle checks

struct QueuedSample {
    ImuSample sample;
    int64_t arrivalNs;
};

struct Device {
    std::string name;
    std::string source;
    int worker = 0;

    // Shared with the sources, under mutex.
    std::mutex mutex;
    std::vector<QueuedSample> ring;  // fixed capacity
    std::size_t head = 0;            // oldest queued sample
    std::size_t queued = 0;
    bool scheduled = false;  // on its worker's ready list
    bool ended = false;
    std::string endWhy;
    LiveCounts counts{};
    int64_t lastArrivalNs = 0;
    bool closed = false;  // taken out of the registry: receives nothing more

    // The worker's own.
    bool known = false;  // in the worker's list
    bool started = false;
    TumblewatchContext context{};
    LiveRecorder recorder{};
    bool recording = false;
    bool failureTold = false;
    std::string failure;
    uint64_t samples = 0;
    uint64_t alarms = 0;
    int64_t startNs = 0;
    int64_t lastFlushNs = 0;
};

using DevicePtr = std::shared_ptr<Device>;

struct Worker {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<DevicePtr> ready;  // devices with queued samples or an end
    bool stopping = false;
    std::thread thread;
    std::vector<DevicePtr> devices;  // the worker's own
    LiveTotals totals{};
};

}  // namespace

struct LiveEngine {
    LiveSettings settings;
    LiveSession* session = nullptr;
    LiveAlarmSink alarms;
    LiveNoticeSink notices;
    std::mutex registryMutex;
    std::unordered_map<std::string, DevicePtr> registry;
    std::vector<std::unique_ptr<Worker>> workers;
    std::mutex alarmMutex;  // one alarm at a time to the sink
};

namespace {

void Notice(LiveEngine* engine, const std::string& text)
{
    std::lock_guard<std::mutex> lock(engine->alarmMutex);
    engine->notices(text);
}

void Schedule(LiveEngine* engine, const DevicePtr& device)
{
    // The caller holds device->mutex and has set device->scheduled.
    Worker& worker = *engine->workers[static_cast<std::size_t>(device->worker)];
    std::lock_guard<std::mutex> lock(worker.mutex);
    worker.ready.push_back(device);
    worker.wake.notify_one();
}

// The device of name, created when missing. Holds registryMutex.
DevicePtr FindOrCreate(LiveEngine* engine, const std::string& name, const std::string& source)
{
    auto it = engine->registry.find(name);
    if (it != engine->registry.end()) {
        return it->second;
    }
    auto device = std::make_shared<Device>();
    device->name = name;
    device->source = source;
    device->worker = static_cast<int>(LiveNameHash(name) % engine->workers.size());
    device->ring.resize(engine->settings.queueSamples);
    engine->registry.emplace(name, device);
    return device;
}

void StartDevice(LiveEngine* engine, Device* device, int64_t firstArrivalNs)
{
    device->started = true;
    device->startNs = firstArrivalNs;
    device->lastFlushNs = LiveNowNs();
    const int set = TumblewatchSet(&device->context, &engine->settings.config);
    assert(set == 0);  // the configuration was accepted at the start
    (void)set;
    if (engine->settings.record) {
        std::string reason;
        device->recording =
            LiveRecorderOpen(&device->recorder, engine->session->folder, LiveSafeName(device->name), &reason);
        if (!device->recording) {
            device->failure = reason;
            Notice(engine, "device " + LivePrintableName(device->name) + ": not recorded: " + reason);
        }
    }
    Notice(engine, "device " + LivePrintableName(device->name) + " started" +
                       (device->recording ? " (recording " + device->recorder.path + ")" : ""));
}

void TellFailure(LiveEngine* engine, Device* device)
{
    if (!device->failureTold && device->recorder.failed) {
        device->failureTold = true;
        device->failure = device->recorder.failure;
        Notice(engine, "device " + LivePrintableName(device->name) +
                           ": recording stopped: " + device->recorder.failure + "; detection goes on");
    }
}

void Process(LiveEngine* engine, Worker* worker, Device* device, const QueuedSample* items, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!device->started) {
            StartDevice(engine, device, items[i].arrivalNs);
        }
        const int code = TumblewatchProcess(&device->context, &items[i].sample);
        const uint64_t number = device->samples++;
        if (device->recording && !LiveRecorderAdd(&device->recorder, items[i].sample)) {
            TellFailure(engine, device);
        }
        if (code > 0) {
            const int64_t alarmNs = LiveNowNs();
            ++device->alarms;
            ++worker->totals.alarms;
            if (device->recording && !LiveRecorderFlush(&device->recorder)) {
                TellFailure(engine, device);
            }
            LiveAlarm alarm{device->name,
                            device->recording && !device->recorder.failed
                                ? device->recorder.path.substr(engine->session->folder.size() + 1)
                                : std::string(),
                            number,
                            code,
                            items[i].arrivalNs,
                            alarmNs};
            std::lock_guard<std::mutex> lock(engine->alarmMutex);
            engine->alarms(alarm);
        }
    }
    worker->totals.samples += count;
}

// Closes a device that the registry no longer holds: its recording is
// renamed and its manifest row written.
void CloseDevice(LiveEngine* engine, Worker* worker, Device* device, const std::string& why, const LiveCounts& counts)
{
    LiveManifestRow row{};
    row.device = device->name;
    row.source = device->source;
    row.startNs = device->started ? device->startNs : LiveNowNs();
    row.endNs = LiveNowNs();
    row.samples = device->samples;
    row.alarms = device->alarms;
    row.counts = counts;
    row.ended = why;
    if (device->started) {
        TumblewatchClose(&device->context);
    }
    if (device->recording) {
        std::string reason;
        if (!LiveRecorderClose(&device->recorder, &reason)) {
            TellFailure(engine, device);
            if (device->failure.empty()) {
                device->failure = reason;
                Notice(engine, "device " + LivePrintableName(device->name) + ": " + reason);
            }
            worker->totals.recordingFailed = true;
        }
        row.file = device->recorder.path.substr(engine->session->folder.size() + 1);
        row.kept = device->recorder.kept;
    }
    row.failure = device->failure;
    if (!device->failure.empty()) {
        worker->totals.recordingFailed = true;
    }
    ++worker->totals.devices;
    worker->totals.dropped += counts.dropped;
    worker->totals.badInput += LiveCountsBadInput(counts);
    if (engine->settings.record) {
        std::string reason;
        if (!LiveSessionAdd(engine->session, row, &reason)) {
            worker->totals.recordingFailed = true;
            Notice(engine, "cannot write the session's manifest: " + reason);
        }
    }
    std::string text = "device " + LivePrintableName(device->name) + " ended (" + why +
                       "): " + std::to_string(device->samples) + " samples, " + std::to_string(device->alarms) +
                       " alarms";
    const uint64_t badInput = LiveCountsBadInput(counts);
    if (badInput > 0) {
        text += ", " + std::to_string(badInput) + " bad input (" + std::to_string(counts.tornLines) + " torn, " +
                std::to_string(counts.longLines) + " too long, " + std::to_string(counts.binaryLines) +
                " binary lines, " + std::to_string(counts.tornRecords) + " torn records)";
    }
    if (counts.dropped > 0) {
        text += ", " + std::to_string(counts.dropped) + " dropped (queue full)";
    }
    if (counts.repeatedRows > 0) {
        text += ", " + std::to_string(counts.repeatedRows) + " repeated rows dropped";
    }
    if (counts.gaps + counts.rowGaps > 0) {
        text += ", " + std::to_string(counts.gaps + counts.rowGaps) + " gaps";
    }
    Notice(engine, text + (row.file.empty() ? "" : "; recorded in " + row.file));
}

// Takes every queued sample of device and processes it. Returns true when
// the device's stream has ended.
bool Drain(LiveEngine* engine, Worker* worker, Device* device)
{
    QueuedSample batch[kDrainBatch];
    for (;;) {
        std::size_t count = 0;
        {
            std::lock_guard<std::mutex> lock(device->mutex);
            const std::size_t capacity = device->ring.size();
            while (count < kDrainBatch && device->queued > 0) {
                batch[count++] = device->ring[device->head];
                device->head = (device->head + 1) % capacity;
                --device->queued;
            }
            if (count == 0) {
                device->scheduled = false;
                return device->ended;
            }
        }
        Process(engine, worker, device, batch, count);
    }
}

// Takes device out of the registry when its stream ended, it is idle or
// the engine stops, and nothing is queued. Returns true with why and the
// device's counts when it was taken out.
bool TakeOut(LiveEngine* engine, Device* device, bool stopping, int64_t nowNs, std::string* why, LiveCounts* counts)
{
    std::lock_guard<std::mutex> registryLock(engine->registryMutex);
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->queued > 0) {
        return false;
    }
    const double idle = engine->settings.idleSeconds;
    if (device->ended) {
        *why = device->endWhy;
    } else if (stopping) {
        *why = "stopped";
    } else if (idle > 0 && static_cast<double>(nowNs - device->lastArrivalNs) >= idle * 1e9) {
        *why = "idle";
    } else {
        return false;
    }
    device->closed = true;
    *counts = device->counts;
    auto it = engine->registry.find(device->name);
    if (it != engine->registry.end() && it->second.get() == device) {
        engine->registry.erase(it);
    }
    return true;
}

// Flushes recordings that waited long enough and closes the devices that
// ended or went idle.
void Housekeep(LiveEngine* engine, Worker* worker, bool stopping)
{
    const int64_t now = LiveNowNs();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < worker->devices.size(); ++i) {
        DevicePtr device = worker->devices[i];
        if (stopping) {
            Drain(engine, worker, device.get());
        }
        if (device->recording && device->recorder.buffered > 0 && now - device->lastFlushNs >= kLiveFlushNs) {
            if (!LiveRecorderFlush(&device->recorder)) {
                TellFailure(engine, device.get());
            }
            device->lastFlushNs = now;
        }
        std::string why;
        LiveCounts counts{};
        if (TakeOut(engine, device.get(), stopping, now, &why, &counts)) {
            CloseDevice(engine, worker, device.get(), why, counts);
            continue;
        }
        worker->devices[kept++] = device;
    }
    worker->devices.resize(kept);
}

void WorkerLoop(LiveEngine* engine, Worker* worker)
{
    std::vector<DevicePtr> ready;
    auto nextHousekeeping = std::chrono::steady_clock::now() + kHousekeeping;
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock<std::mutex> lock(worker->mutex);
            worker->wake.wait_until(lock, nextHousekeeping,
                                    [worker] { return worker->stopping || !worker->ready.empty(); });
            stopping = worker->stopping;
            ready.swap(worker->ready);
        }
        bool ended = false;
        for (const DevicePtr& device : ready) {
            if (!device->known) {
                device->known = true;
                worker->devices.push_back(device);
            }
            ended = Drain(engine, worker, device.get()) || ended;
        }
        ready.clear();
        if (stopping) {
            // Sources are done: nothing more arrives once the queues are empty.
            {
                std::lock_guard<std::mutex> lock(worker->mutex);
                ready.swap(worker->ready);
            }
            for (const DevicePtr& device : ready) {
                if (!device->known) {
                    device->known = true;
                    worker->devices.push_back(device);
                }
            }
            ready.clear();
            Housekeep(engine, worker, true);
            return;
        }
        if (ended || std::chrono::steady_clock::now() >= nextHousekeeping) {
            Housekeep(engine, worker, false);
            nextHousekeeping = std::chrono::steady_clock::now() + kHousekeeping;
        }
    }
}

}  // namespace

std::size_t LiveDeviceBytes(std::size_t queueSamples)
{
    return sizeof(Device) + queueSamples * sizeof(QueuedSample) + sizeof(void*) * 4;
}

LiveEngine* LiveEngineStart(const LiveSettings& settings, LiveSession* session, LiveAlarmSink alarms,
                            LiveNoticeSink notices, std::string* reason)
{
    TumblewatchContext probe{};
    if (TumblewatchSet(&probe, &settings.config) < 0) {
        *reason = "the detector refuses the configuration";
        return nullptr;
    }
    TumblewatchClose(&probe);
    auto* engine = new LiveEngine;
    engine->settings = settings;
    engine->settings.threads = settings.threads < 1 ? 1 : settings.threads;
    engine->settings.queueSamples = settings.queueSamples < 1 ? 1 : settings.queueSamples;
    engine->session = session;
    engine->alarms = std::move(alarms);
    engine->notices = std::move(notices);
    for (int i = 0; i < engine->settings.threads; ++i) {
        engine->workers.push_back(std::make_unique<Worker>());
    }
    for (auto& worker : engine->workers) {
        Worker* w = worker.get();
        w->thread = std::thread([engine, w] { WorkerLoop(engine, w); });
    }
    return engine;
}

void LiveEnginePush(LiveEngine* engine, const std::string& name, const std::string& source, const ImuSample* samples,
                    std::size_t count, int64_t arrivalNs, const LiveCounts& counts)
{
    std::lock_guard<std::mutex> registryLock(engine->registryMutex);
    DevicePtr device = FindOrCreate(engine, name, source);
    std::lock_guard<std::mutex> lock(device->mutex);
    LiveCountsAdd(&device->counts, counts);
    const std::size_t capacity = device->ring.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (device->queued == capacity) {
            device->counts.dropped += count - i;
            break;
        }
        device->ring[(device->head + device->queued) % capacity] = QueuedSample{samples[i], arrivalNs};
        ++device->queued;
    }
    if (count > 0) {
        device->lastArrivalNs = arrivalNs;
    }
    if (!device->scheduled && device->queued > 0) {
        device->scheduled = true;
        Schedule(engine, device);
    }
}

void LiveEngineEnd(LiveEngine* engine, const std::string& name, const std::string& source, const LiveCounts& counts,
                   const char* why)
{
    std::lock_guard<std::mutex> registryLock(engine->registryMutex);
    auto it = engine->registry.find(name);
    if (it == engine->registry.end() && counts.skippedLines + LiveCountsBadInput(counts) + counts.gaps == 0) {
        return;  // nothing to tell of a stream that sent nothing
    }
    DevicePtr device = FindOrCreate(engine, name, source);
    std::lock_guard<std::mutex> lock(device->mutex);
    LiveCountsAdd(&device->counts, counts);
    device->ended = true;
    device->endWhy = why;
    if (!device->scheduled) {
        device->scheduled = true;
        Schedule(engine, device);
    }
}

LiveTotals LiveEngineStop(LiveEngine* engine)
{
    for (auto& worker : engine->workers) {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->stopping = true;
        worker->wake.notify_one();
    }
    LiveTotals totals{};
    for (const auto& worker : engine->workers) {
        worker->thread.join();
        totals.devices += worker->totals.devices;
        totals.samples += worker->totals.samples;
        totals.alarms += worker->totals.alarms;
        totals.dropped += worker->totals.dropped;
        totals.badInput += worker->totals.badInput;
        totals.recordingFailed = totals.recordingFailed || worker->totals.recordingFailed;
    }
    delete engine;
    return totals;
}
