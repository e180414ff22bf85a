// Helpers of the tests of tumblewatch live: a live process started with
// its output in files, its exit awaited, its JSON alarms and eval's alarms
// of its kept session side by side.
#ifndef TESTS_LIVE_COMMAND_SUPPORT_H
#define TESTS_LIVE_COMMAND_SUPPORT_H

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

// (sample, code) of each alarm, by recording (its name in the session).
using LiveTestAlarms = std::map<std::string, std::vector<std::pair<uint64_t, int>>>;

// A running tumblewatch live: standard input from a pipe (or /dev/null),
// standard output and error into dir/live.out and dir/live.err.
// A process still running when the object goes (a failed test) is killed.
struct LiveTestProcess {
    pid_t pid = -1;
    int input = -1;
    std::string out;
    std::string err;

    LiveTestProcess() = default;
    LiveTestProcess(LiveTestProcess&& other) noexcept;
    LiveTestProcess& operator=(LiveTestProcess&&) = delete;
    LiveTestProcess(const LiveTestProcess&) = delete;
    LiveTestProcess& operator=(const LiveTestProcess&) = delete;
    ~LiveTestProcess();
};

// The file's contents, "" while it does not exist.
std::string LiveTestRead(const std::string& path);

// Starts `tumblewatch live ARGS...` in dir.
LiveTestProcess LiveTestStart(const TempDir& dir, const std::vector<std::string>& args, bool pipeInput);

// Closes its input and returns its exit status (128 + a signal that ended
// it), or -1 after 20 s (it is then killed).
int LiveTestWait(LiveTestProcess* live);

// Waits (at most 10 s) until the file holds text; returns its contents.
std::string LiveTestWaitFor(const std::string& path, const std::string& text);

// The alarms of live's JSON lines.
LiveTestAlarms LiveTestAlarmsOf(const std::string& text);

// The alarms `tumblewatch eval --labels SESSION/labels.manifest` finds.
LiveTestAlarms LiveTestEval(const TempDir& dir, const std::string& session);

// A TCP connection to 127.0.0.1:port, -1 when refused.
int LiveTestConnect(int port);

#endif
