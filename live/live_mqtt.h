// An MQTT source (mqtt://HOST:PORT/TOPIC, wildcards allowed) through a
// broker, with Debian's libmosquitto: every message is one payload of one
// device, the device named by a level of the message's topic (or by the
// whole topic). The client runs on the library's own network thread,
// reconnects by itself with back-off (each break recorded as a gap of every
// device it carried), and publishes alarms back (QoS 1) when asked.
#ifndef LIVE_LIVE_MQTT_H
#define LIVE_LIVE_MQTT_H

#include <string>

#include "live_engine.h"
#include "live_payload.h"

struct LiveMqttTarget {
    std::string text;  // as given
    std::string host;
    int port = 1883;
    std::string topic;  // the subscription, wildcards allowed
};

// True for a SOURCE that names an MQTT broker ("mqtt://").
bool LiveMqttIsSource(const std::string& text);

// Parses "mqtt://HOST[:PORT]/TOPIC". False with the reason in *reason.
bool LiveMqttParse(const std::string& text, LiveMqttTarget* target, std::string* reason);

struct LiveMqttOptions {
    LiveFormat format = LiveFormat::Csv;
    int deviceLevel = -1;  // the topic level (0-based) that names the device; -1: the whole topic
    int shareIndex = 0;    // --share K/N: this process takes the devices whose name hashes to K-1 ...
    int shareCount = 1;    // ... modulo N (LiveNameHash)
    std::string publish;   // alarms' topic, "<device>" replaced by the device; "" for none
    std::string user;      // "" for none
    std::string password;
    std::string caFile;  // TLS: any of these turns TLS on
    std::string caPath;
    std::string certFile;
    std::string keyFile;
    bool tlsInsecure = false;  // TLS without checking the broker's host name
    int keepAliveSeconds = 30;
};

struct LiveMqtt;

// Connects (in the background: a broker that is not up yet is tried again
// with back-off, 1 s doubling to 30 s) and subscribes; messages go to
// engine. Returns the client; null with the reason in *reason when the
// settings are refused (a TLS file that cannot be used, ...). engine and
// notices must stay alive until LiveMqttStop.
LiveMqtt* LiveMqttStart(const LiveMqttTarget& target, const LiveMqttOptions& options, LiveEngine* engine,
                        const LiveNoticeSink& notices, std::string* reason);

// Publishes an alarm as JSON on options.publish (QoS 1); nothing when no
// topic was given. Called from any thread.
void LiveMqttPublish(LiveMqtt* mqtt, const LiveAlarm& alarm);

// Stops taking messages and hands every device its end ("stopped"); the
// client stays connected for LiveMqttPublish.
void LiveMqttStopInput(LiveMqtt* mqtt);

// Waits (at most 2 s) for the broker to take the alarms published,
// disconnects and frees the client.
void LiveMqttStop(LiveMqtt* mqtt);

// The alarm's JSON text (device, recording, sample, code, arrival, alarm,
// latency_ms), one line without its line end: the --json lines and the
// published messages.
std::string LiveAlarmJson(const LiveAlarm& alarm);

#endif
