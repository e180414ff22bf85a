// The MQTT source, through libmosquitto's threaded client.
#include "live_mqtt.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <unordered_map>
#include <vector>

#include "live_names.h"
#include "live_session.h"

namespace {

constexpr unsigned kReconnectFirstSeconds = 1;
constexpr unsigned kReconnectMaxSeconds = 30;
constexpr int kSubscribeQos = 1;
constexpr int kPublishQos = 1;

std::once_flag libraryOnce;

}  // namespace

struct LiveMqtt {
    LiveMqttTarget target;
    LiveMqttOptions options;
    LiveEngine* engine = nullptr;
    const LiveNoticeSink* notices = nullptr;
    mosquitto* client = nullptr;
    // The network thread's own (and the stopping thread's after it stopped taking input).
    std::mutex inputMutex;
    bool taking = true;
    std::unordered_map<std::string, LivePayload> payloads;
    std::vector<ImuSample> samples;
    bool everConnected = false;
    // Publishing.
    std::atomic<int> unacknowledged{0};
    // The first connection: tried again with back-off until the broker is
    // up; the library's thread, started then, reconnects by itself.
    std::thread starter;
    std::mutex startMutex;
    std::condition_variable startWake;
    bool stopping = false;
    std::atomic<bool> looping{false};
};

namespace {

// The device a topic names: its level deviceLevel, or the whole topic.
bool DeviceOf(const std::string& topic, int level, std::string* device)
{
    if (level < 0) {
        *device = topic;
        return true;
    }
    std::size_t start = 0;
    for (int i = 0; i < level; ++i) {
        start = topic.find('/', start);
        if (start == std::string::npos) {
            return false;
        }
        ++start;
    }
    const std::size_t end = topic.find('/', start);
    *device = topic.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return true;
}

void OnConnect(mosquitto* client, void* object, int rc)
{
    auto* mqtt = static_cast<LiveMqtt*>(object);
    if (rc != 0) {
        (*mqtt->notices)(mqtt->target.text + ": the broker refused the connection: " + mosquitto_connack_string(rc));
        return;
    }
    (*mqtt->notices)(mqtt->target.text + (mqtt->everConnected ? ": connected again" : ": connected"));
    mqtt->everConnected = true;
    const int status = mosquitto_subscribe(client, nullptr, mqtt->target.topic.c_str(), kSubscribeQos);
    if (status != MOSQ_ERR_SUCCESS) {
        (*mqtt->notices)(mqtt->target.text + ": cannot subscribe: " + mosquitto_strerror(status));
    }
}

void OnSubscribe(mosquitto*, void* object, int, int, const int*)
{
    auto* mqtt = static_cast<LiveMqtt*>(object);
    (*mqtt->notices)(mqtt->target.text + ": subscribed to " + mqtt->target.topic);
}

void OnDisconnect(mosquitto*, void* object, int rc)
{
    auto* mqtt = static_cast<LiveMqtt*>(object);
    if (rc == 0) {
        return;  // asked for
    }
    {
        std::lock_guard<std::mutex> lock(mqtt->inputMutex);
        for (auto& entry : mqtt->payloads) {
            ++entry.second.counts.gaps;
        }
    }
    (*mqtt->notices)(mqtt->target.text + ": the connection to the broker broke; reconnecting");
}

void OnMessage(mosquitto*, void* object, const mosquitto_message* message)
{
    auto* mqtt = static_cast<LiveMqtt*>(object);
    const int64_t arrival = LiveNowNs();
    std::string device;
    if (message->topic == nullptr || !DeviceOf(message->topic, mqtt->options.deviceLevel, &device)) {
        return;
    }
    if (mqtt->options.shareCount > 1 && LiveNameHash(device) % static_cast<uint64_t>(mqtt->options.shareCount) !=
                                            static_cast<uint64_t>(mqtt->options.shareIndex)) {
        return;  // another process's device
    }
    std::lock_guard<std::mutex> lock(mqtt->inputMutex);
    if (!mqtt->taking) {
        return;
    }
    auto it = mqtt->payloads.find(device);
    if (it == mqtt->payloads.end()) {
        it = mqtt->payloads.emplace(device, LivePayload{}).first;
        LivePayloadInit(&it->second, mqtt->options.format);
    }
    mqtt->samples.clear();
    LivePayloadMessage(&it->second, static_cast<const unsigned char*>(message->payload),
                       message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0, &mqtt->samples);
    LiveEnginePush(mqtt->engine, device, mqtt->target.text, mqtt->samples.data(), mqtt->samples.size(), arrival,
                   LivePayloadTakeCounts(&it->second));
}

void OnPublish(mosquitto*, void* object, int)
{
    --static_cast<LiveMqtt*>(object)->unacknowledged;
}

std::string ConnectError(int status)
{
    return status == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(status);
}

// Connects (blocking: a broker on a reachable host answers at once).
bool FirstConnect(LiveMqtt* mqtt, int* status)
{
    *status =
        mosquitto_connect(mqtt->client, mqtt->target.host.c_str(), mqtt->target.port, mqtt->options.keepAliveSeconds);
    return *status == MOSQ_ERR_SUCCESS;
}

}  // namespace

std::string LiveAlarmJson(const LiveAlarm& alarm)
{
    nlohmann::ordered_json line;
    line["device"] = alarm.device;
    line["recording"] = alarm.file;
    line["sample"] = alarm.sample;
    line["code"] = alarm.code;
    line["arrival"] = LiveTimeText(alarm.arrivalNs);
    line["alarm"] = LiveTimeText(alarm.alarmNs);
    line["latency_ms"] = static_cast<double>(alarm.alarmNs - alarm.arrivalNs) / 1e6;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool LiveMqttIsSource(const std::string& text)
{
    return text.rfind("mqtt://", 0) == 0;
}

bool LiveMqttParse(const std::string& text, LiveMqttTarget* target, std::string* reason)
{
    *target = LiveMqttTarget{};
    target->text = text;
    const std::string rest = text.substr(std::strlen("mqtt://"));
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos || slash + 1 == rest.size()) {
        *reason = "source '" + text + "' needs a topic: mqtt://HOST:PORT/TOPIC";
        return false;
    }
    std::string hostPort = rest.substr(0, slash);
    target->topic = rest.substr(slash + 1);
    const std::size_t colon = hostPort.find_last_of(':');
    if (colon != std::string::npos && hostPort.find(']', colon) == std::string::npos) {
        const std::string port = hostPort.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(port) < 1 || std::stoi(port) > 65535) {
            *reason = "source '" + text + "': the port must be 1 to 65535";
            return false;
        }
        target->port = std::stoi(port);
        hostPort.resize(colon);
    }
    if (hostPort.size() >= 2 && hostPort.front() == '[' && hostPort.back() == ']') {
        hostPort = hostPort.substr(1, hostPort.size() - 2);
    }
    if (hostPort.empty()) {
        *reason = "source '" + text + "' names no broker";
        return false;
    }
    target->host = hostPort;
    if (mosquitto_sub_topic_check(target->topic.c_str()) != MOSQ_ERR_SUCCESS) {
        *reason = "source '" + text + "': '" + target->topic + "' is not a valid topic filter";
        return false;
    }
    return true;
}

LiveMqtt* LiveMqttStart(const LiveMqttTarget& target, const LiveMqttOptions& options, LiveEngine* engine,
                        const LiveNoticeSink& notices, std::string* reason)
{
    std::call_once(libraryOnce, [] { mosquitto_lib_init(); });
    auto* mqtt = new LiveMqtt;
    mqtt->target = target;
    mqtt->options = options;
    mqtt->engine = engine;
    mqtt->notices = &notices;
    mqtt->client = mosquitto_new(nullptr, true, mqtt);
    if (mqtt->client == nullptr) {
        *reason = target.text + ": cannot create the client";
        delete mqtt;
        return nullptr;
    }
    auto fail = [&](const std::string& what, int status) {
        *reason = target.text + ": " + what + ": " + mosquitto_strerror(status);
        mosquitto_destroy(mqtt->client);
        delete mqtt;
        return nullptr;
    };
    int status = MOSQ_ERR_SUCCESS;
    if (!options.user.empty()) {
        status = mosquitto_username_pw_set(mqtt->client, options.user.c_str(),
                                           options.password.empty() ? nullptr : options.password.c_str());
        if (status != MOSQ_ERR_SUCCESS) {
            return fail("cannot set the user", status);
        }
    }
    if (!options.caFile.empty() || !options.caPath.empty() || !options.certFile.empty()) {
        auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
        status = mosquitto_tls_set(mqtt->client, orNull(options.caFile), orNull(options.caPath),
                                   orNull(options.certFile), orNull(options.keyFile), nullptr);
        if (status != MOSQ_ERR_SUCCESS) {
            return fail("cannot set TLS up", status);
        }
        if (options.tlsInsecure) {
            mosquitto_tls_insecure_set(mqtt->client, true);
        }
    }
    mosquitto_connect_callback_set(mqtt->client, OnConnect);
    mosquitto_subscribe_callback_set(mqtt->client, OnSubscribe);
    mosquitto_disconnect_callback_set(mqtt->client, OnDisconnect);
    mosquitto_message_callback_set(mqtt->client, OnMessage);
    mosquitto_publish_callback_set(mqtt->client, OnPublish);
    mosquitto_reconnect_delay_set(mqtt->client, kReconnectFirstSeconds, kReconnectMaxSeconds, true);
    if (FirstConnect(mqtt, &status)) {
        status = mosquitto_loop_start(mqtt->client);
        if (status != MOSQ_ERR_SUCCESS) {
            return fail("cannot start the client's thread", status);
        }
        mqtt->looping = true;
        return mqtt;
    }
    if (status == MOSQ_ERR_INVAL) {
        return fail("cannot connect", status);
    }
    notices(target.text + ": the broker is not reachable yet (" + ConnectError(status) + "); trying again");
    mqtt->starter = std::thread([mqtt] {
        unsigned delay = kReconnectFirstSeconds;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mqtt->startMutex);
                if (mqtt->startWake.wait_for(lock, std::chrono::seconds(delay), [mqtt] { return mqtt->stopping; })) {
                    return;
                }
            }
            int rc = MOSQ_ERR_SUCCESS;
            if (FirstConnect(mqtt, &rc)) {
                if (mosquitto_loop_start(mqtt->client) == MOSQ_ERR_SUCCESS) {
                    mqtt->looping = true;
                } else {
                    (*mqtt->notices)(mqtt->target.text + ": cannot start the client's thread");
                }
                return;
            }
            delay = std::min(delay * 2, kReconnectMaxSeconds);
        }
    });
    return mqtt;
}

void LiveMqttPublish(LiveMqtt* mqtt, const LiveAlarm& alarm)
{
    if (mqtt->options.publish.empty()) {
        return;
    }
    std::string topic = mqtt->options.publish;
    const std::string placeholder = "<device>";
    for (std::size_t at = topic.find(placeholder); at != std::string::npos;
         at = topic.find(placeholder, at + alarm.device.size())) {
        topic.replace(at, placeholder.size(), alarm.device);
    }
    const std::string text = LiveAlarmJson(alarm);
    ++mqtt->unacknowledged;
    if (mosquitto_publish(mqtt->client, nullptr, topic.c_str(), static_cast<int>(text.size()), text.data(), kPublishQos,
                          false) != MOSQ_ERR_SUCCESS) {
        --mqtt->unacknowledged;
    }
}

void LiveMqttStopInput(LiveMqtt* mqtt)
{
    std::lock_guard<std::mutex> lock(mqtt->inputMutex);
    mqtt->taking = false;
    for (auto& entry : mqtt->payloads) {
        LiveEngineEnd(mqtt->engine, entry.first, mqtt->target.text, LivePayloadTakeCounts(&entry.second), "stopped");
    }
}

void LiveMqttStop(LiveMqtt* mqtt)
{
    {
        std::lock_guard<std::mutex> lock(mqtt->startMutex);
        mqtt->stopping = true;
        mqtt->startWake.notify_all();
    }
    if (mqtt->starter.joinable()) {
        mqtt->starter.join();
    }
    for (int i = 0; i < 200 && mqtt->looping && mqtt->unacknowledged.load() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    mosquitto_disconnect(mqtt->client);
    if (mqtt->looping) {
        mosquitto_loop_stop(mqtt->client, false);
    }
    mosquitto_destroy(mqtt->client);
    delete mqtt;
}
