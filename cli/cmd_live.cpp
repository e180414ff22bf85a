// tumblewatch live: the detector on live sensor streams, one detector per
// device, every alarm reported as it happens and every session kept.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>

#include "commands.h"
#include "live_engine.h"
#include "live_mqtt.h"
#include "live_names.h"
#include "live_session.h"
#include "live_sources.h"
#include "safe_files.h"

namespace {

// The publish topic with a device's name in place of "<device>".
std::string ReplaceDevice(std::string topic)
{
    for (std::size_t at = topic.find("<device>"); at != std::string::npos; at = topic.find("<device>")) {
        topic.replace(at, 8, "d");
    }
    return topic;
}

// The alarm as a line for people.
std::string AlarmText(const LiveAlarm& alarm)
{
    return fmt::format("ALARM {} device {} sample {} code {} ({:.3f} ms after the sample arrived){}\n",
                       LiveTimeText(alarm.alarmNs), CommandTerminalText(LivePrintableName(alarm.device)), alarm.sample,
                       alarm.code, static_cast<double>(alarm.alarmNs - alarm.arrivalNs) / 1e6,
                       alarm.file.empty() ? "" : "; " + CommandTerminalText(alarm.file));
}

// The MQTT settings of the command line; false with the message printed.
bool MqttOptionsOf(const LiveOptions& options, bool noBroker, LiveMqttOptions* mqtt)
{
    const bool mqttOnly = options.deviceLevel >= 0 || !options.share.empty() || !options.publish.empty() ||
                          !options.mqttUser.empty() || !options.mqttPasswordFile.empty() ||
                          !options.mqttCaFile.empty() || !options.mqttCaPath.empty() || !options.mqttCert.empty() ||
                          !options.mqttKey.empty() || options.mqttInsecure;
    if (noBroker && mqttOnly) {
        CommandError("--device-level, --share, --publish and the --mqtt options need an mqtt:// source");
        return false;
    }
    mqtt->deviceLevel = options.deviceLevel;
    if (!options.share.empty()) {
        int k = 0;
        int n = 0;
        char end = 0;
        if (std::sscanf(options.share.c_str(), "%d/%d%c", &k, &n, &end) != 2 || n < 1 || k < 1 || k > n) {
            CommandError("--share '" + options.share + "': must be K/N with 1 <= K <= N (e.g. 1/2)");
            return false;
        }
        mqtt->shareIndex = k - 1;
        mqtt->shareCount = n;
    }
    if (!options.publish.empty()) {
        const std::string probe = ReplaceDevice(options.publish);
        if (probe.find_first_of("+#") != std::string::npos) {
            CommandError("--publish '" + options.publish + "': a topic to publish on has no wildcards");
            return false;
        }
    }
    mqtt->publish = options.publish;
    mqtt->user = options.mqttUser;
    if (!options.mqttPasswordFile.empty()) {
        std::string text;
        std::string reason;
        if (!FilesReadText(options.mqttPasswordFile, &text, &reason)) {
            CommandError("--mqtt-password-file " + options.mqttPasswordFile + ": " + reason);
            return false;
        }
        mqtt->password = text.substr(0, text.find_first_of("\r\n"));
    }
    mqtt->caFile = options.mqttCaFile;
    mqtt->caPath = options.mqttCaPath;
    mqtt->certFile = options.mqttCert;
    mqtt->keyFile = options.mqttKey;
    mqtt->tlsInsecure = options.mqttInsecure;
    return true;
}

}  // namespace

CLI::App* CommandLiveAdd(CLI::App* app, LiveOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "live", "Run the detector on live sensor streams and report each alarm as it happens, keeping the session");
    command
        ->add_option(
            "SOURCE", options->sources,
            "-, follow:PATH, tcp:HOST:PORT, listen:ADDRESS:PORT, serial:PATH or mqtt://HOST:PORT/TOPIC (repeatable)")
        ->required();
    command->add_option("--format", options->format, "payload: csv, micom or bin (never guessed)")
        ->required()
        ->check(CLI::IsMember({"csv", "micom", "bin"}));
    command
        ->add_option("--session", options->session,
                     "folder that keeps each device's recording and the manifests (created when missing)")
        ->check(CommandFileName());
    command->add_flag("--no-record", options->noRecord, "keep nothing: only report the alarms");
    command->add_flag("--json", options->json, "alarms as JSON lines on standard output");
    command->add_option("--idle", options->idleSeconds, "close a device silent this many seconds (0: never)")
        ->check(CommandSeconds());
    command->add_option("-j,--threads", options->threads, "detector threads (default 2)")
        ->check(CommandIntRange(1, 256));
    command
        ->add_option("--queue", options->queueSamples,
                     "samples a device may have waiting; more are dropped and counted (default 1000)")
        ->check(CommandIntRange(1, 1000000));
    command->add_option("--baud", options->baud, "serial: bits per second (default 115200)")
        ->check(CommandIntRange(1, 4000000));
    command->add_option("--framing", options->framing, "serial: data bits, parity, stop bits (default 8N1)");
    command
        ->add_option("--device-level", options->deviceLevel,
                     "mqtt: the topic level (0 = first) that names the device (default: the whole topic)")
        ->check(CommandIntRange(0, 1000));
    command->add_option("--share", options->share,
                        "mqtt: K/N, take only the devices whose name hashes to part K of N (for N processes)");
    command->add_option("--publish", options->publish,
                        "mqtt: publish each alarm as JSON (QoS 1) on this topic; <device> names the device");
    command->add_option("--mqtt-user", options->mqttUser, "mqtt: user name");
    command
        ->add_option("--mqtt-password-file", options->mqttPasswordFile, "mqtt: file whose first line is the password")
        ->check(CommandFileName());
    command->add_option("--mqtt-cafile", options->mqttCaFile, "mqtt: TLS, the certificate authorities' file");
    command->add_option("--mqtt-capath", options->mqttCaPath, "mqtt: TLS, a folder of certificate authorities");
    command->add_option("--mqtt-cert", options->mqttCert, "mqtt: TLS, this client's certificate");
    command->add_option("--mqtt-key", options->mqttKey, "mqtt: TLS, this client's key");
    command->add_flag("--mqtt-insecure", options->mqttInsecure, "mqtt: TLS without checking the broker's name");
    command->add_flag("-q,--quiet", options->quiet, "no notices on standard error (alarms and errors still)");
    CommandAddConfigOptions(command, &options->config);
    return command;
}

int CommandLiveRun(const LiveOptions& options)
{
    if (options.session.empty() == !options.noRecord) {
        CommandError(options.noRecord ? "--session and --no-record exclude each other"
                                      : "live needs --session DIR (or --no-record to keep nothing)");
        return kExitUsage;
    }
    LiveSettings settings;
    std::string error;
    if (!ConfigBuild(options.config, &settings.config, &error)) {
        CommandError(error);
        return kExitUsage;
    }
    LiveSourceOptions sourceOptions;
    LiveFormatFromName(options.format, &sourceOptions.format);
    if (!LiveSerialFraming(options.framing, &sourceOptions.serial)) {
        CommandError("--framing '" + options.framing +
                     "': must be data bits 5-8, parity N, E or O, stop bits 1 or 2 (8N1)");
        return kExitUsage;
    }
    if (!LiveSerialBaudKnown(options.baud)) {
        CommandError("--baud " + std::to_string(options.baud) +
                     ": not a rate the serial ports take (e.g. 9600, 115200, 921600)");
        return kExitUsage;
    }
    sourceOptions.serial.baud = options.baud;
    std::vector<LiveSourceTarget> targets;
    std::vector<LiveMqttTarget> brokers;
    std::vector<std::string> seen;
    for (const std::string& text : options.sources) {
        if (std::find(seen.begin(), seen.end(), text) != seen.end()) {
            CommandError("source '" + text + "' is given twice");
            return kExitUsage;
        }
        seen.push_back(text);
        if (LiveMqttIsSource(text)) {
            LiveMqttTarget broker;
            if (!LiveMqttParse(text, &broker, &error)) {
                CommandError(error);
                return kExitUsage;
            }
            brokers.push_back(broker);
            continue;
        }
        LiveSourceTarget target;
        if (!LiveSourceParse(text, &target, &error)) {
            CommandError(error);
            return kExitUsage;
        }
        targets.push_back(target);
    }
    LiveMqttOptions mqttOptions;
    if (!MqttOptionsOf(options, brokers.empty(), &mqttOptions)) {
        return kExitUsage;
    }
    sourceOptions.untilStopped = !brokers.empty();
    settings.threads = options.threads;
    settings.queueSamples = static_cast<std::size_t>(options.queueSamples);
    settings.idleSeconds = options.idleSeconds;
    settings.record = !options.noRecord;

    // SIGINT and SIGTERM are taken by a signal descriptor, blocked in every
    // thread (the workers inherit the mask); a closed reader of standard
    // output shows as a failed write, not a signal.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        CommandError("cannot take the stop signals: " + SafeErrorText(errno));
        return kExitUsage;
    }

    LiveSession session;
    if (settings.record) {
        std::string recovered;
        if (!LiveSessionOpen(&session, options.session, &recovered, &error)) {
            CommandError(error);
            ::close(signalFd);
            return kExitUsage;
        }
        if (!recovered.empty() && !options.quiet) {
            CommandError("recordings left by an earlier run, cut to whole records and renamed: " + recovered);
        }
    }
    std::mutex outputMutex;  // standard output and standard error, one line at a time
    const bool json = options.json;
    const bool quiet = options.quiet;
    std::atomic<LiveMqtt*> publisher{nullptr};  // the first broker's client, for --publish
    auto alarms = [&outputMutex, json, &publisher](const LiveAlarm& alarm) {
        {
            std::lock_guard<std::mutex> lock(outputMutex);
            CommandPrint(json ? LiveAlarmJson(alarm) + "\n" : AlarmText(alarm));
            std::fflush(stdout);
        }
        if (LiveMqtt* client = publisher.load()) {
            LiveMqttPublish(client, alarm);
        }
    };
    LiveNoticeSink notices = [&outputMutex, quiet](const std::string& text) {
        if (!quiet) {
            std::lock_guard<std::mutex> lock(outputMutex);
            std::fputs(("tumblewatch live: " + CommandTerminalText(text) + "\n").c_str(), stderr);
        }
    };
    LiveEngine* engine = LiveEngineStart(settings, &session, alarms, notices, &error);
    if (engine == nullptr) {
        CommandError(error);
        LiveSessionClose(&session);
        ::close(signalFd);
        return kExitUsage;
    }
    std::vector<LiveMqtt*> clients;
    int ran = 0;
    for (const LiveMqttTarget& broker : brokers) {
        mqttOptions.format = sourceOptions.format;
        LiveMqtt* client = LiveMqttStart(broker, mqttOptions, engine, notices, &error);
        if (client == nullptr) {
            ran = 2;
            break;
        }
        clients.push_back(client);
    }
    publisher.store(clients.empty() || mqttOptions.publish.empty() ? nullptr : clients.front());
    if (ran == 0) {
        ran = LiveSourcesRun(targets, sourceOptions, engine, signalFd, notices, &error);
    }
    for (LiveMqtt* client : clients) {
        LiveMqttStopInput(client);
    }
    const LiveTotals totals = LiveEngineStop(engine);
    publisher.store(nullptr);
    for (LiveMqtt* client : clients) {
        LiveMqttStop(client);
    }
    LiveSessionClose(&session);
    int status = kExitOk;
    if (ran == 2) {
        CommandError(error);
        status = kExitUsage;
    } else if (ran == 1) {
        signalfd_siginfo info{};
        const bool read = ::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
        status = 128 + (read ? static_cast<int>(info.ssi_signo) : SIGTERM);
    } else if (totals.recordingFailed) {
        status = kExitUnreadable;
    }
    ::close(signalFd);
    notices(fmt::format("{} devices, {} samples, {} alarms, {} dropped, {} bad input{}", totals.devices, totals.samples,
                        totals.alarms, totals.dropped, totals.badInput,
                        settings.record ? "; kept in " + options.session : ""));
    if (totals.recordingFailed) {
        CommandError("some recording or manifest could not be written whole (see the messages above)");
    }
    return status;
}
