// tumblewatch live: the detector on live sensor streams, one detector per
// device, every alarm reported as it happens and every session kept.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "live_engine.h"
#include "live_names.h"
#include "live_session.h"
#include "live_sources.h"
#include "safe_files.h"

namespace {

// The alarm as one JSON line.
std::string AlarmJson(const LiveAlarm& alarm)
{
    nlohmann::ordered_json line;
    line["device"] = alarm.device;
    line["recording"] = alarm.file;
    line["sample"] = alarm.sample;
    line["code"] = alarm.code;
    line["arrival"] = LiveTimeText(alarm.arrivalNs);
    line["alarm"] = LiveTimeText(alarm.alarmNs);
    line["latency_ms"] = static_cast<double>(alarm.alarmNs - alarm.arrivalNs) / 1e6;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// The alarm as a line for people.
std::string AlarmText(const LiveAlarm& alarm)
{
    return fmt::format("ALARM {} device {} sample {} code {} ({:.3f} ms after the sample arrived){}\n",
                       LiveTimeText(alarm.alarmNs), CommandTerminalText(LivePrintableName(alarm.device)), alarm.sample,
                       alarm.code, static_cast<double>(alarm.alarmNs - alarm.arrivalNs) / 1e6,
                       alarm.file.empty() ? "" : "; " + CommandTerminalText(alarm.file));
}

}  // namespace

CLI::App* CommandLiveAdd(CLI::App* app, LiveOptions* options)
{
    CLI::App* command = app->add_subcommand(
        "live", "Run the detector on live sensor streams and report each alarm as it happens, keeping the session");
    command
        ->add_option("SOURCE", options->sources,
                     "-, follow:PATH, tcp:HOST:PORT, listen:ADDRESS:PORT or serial:PATH (repeatable)")
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
    std::vector<LiveSourceSpec> specs;
    for (const std::string& text : options.sources) {
        LiveSourceSpec spec;
        if (!LiveSourceParse(text, &spec, &error)) {
            CommandError(error);
            return kExitUsage;
        }
        for (const LiveSourceSpec& other : specs) {
            if (other.text == text) {
                CommandError("source '" + text + "' is given twice");
                return kExitUsage;
            }
        }
        specs.push_back(spec);
    }
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
    auto alarms = [&outputMutex, json](const LiveAlarm& alarm) {
        std::lock_guard<std::mutex> lock(outputMutex);
        CommandPrint(json ? AlarmJson(alarm) : AlarmText(alarm));
        std::fflush(stdout);
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
    const int ran = LiveSourcesRun(specs, sourceOptions, engine, signalFd, notices, &error);
    const LiveTotals totals = LiveEngineStop(engine);
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
