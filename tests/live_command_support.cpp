// Helpers of the tests of tumblewatch live.
#include "live_command_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

LiveTestProcess LiveTestStart(const TempDir& dir, const std::vector<std::string>& args, bool pipeInput)
{
    LiveTestProcess live;
    live.out = dir / "live.out";
    live.err = dir / "live.err";
    int fds[2] = {-1, -1};
    if (pipeInput) {
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    }
    std::vector<std::string> all = {TUMBLEWATCH_PATH, "live"};
    all.insert(all.end(), args.begin(), args.end());
    live.pid = ::fork();
    if (live.pid == 0) {
        const int in = pipeInput ? fds[0] : ::open("/dev/null", O_RDONLY);
        const int out = ::open(live.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(live.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) {
            ::_exit(127);
        }
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (::chdir(dir.path().c_str()) != 0) {
            ::_exit(127);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pipeInput) {
        ::close(fds[0]);
        live.input = fds[1];
    }
    return live;
}

// The exit status, or -1 after 20 s (the process is then killed).
int LiveTestWait(LiveTestProcess* live)
{
    if (live->input >= 0) {
        ::close(live->input);
        live->input = -1;
    }
    for (int i = 0; i < 2000; ++i) {
        int status = 0;
        if (::waitpid(live->pid, &status, WNOHANG) == live->pid) {
            live->pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(live->pid, SIGKILL);
    ::waitpid(live->pid, nullptr, 0);
    live->pid = -1;
    return -1;
}

// Waits (at most 10 s) until the file holds text; returns its contents.
std::string LiveTestWaitFor(const std::string& path, const std::string& text)
{
    std::string contents;
    for (int i = 0; i < 1000; ++i) {
        contents = PathExists(path) ? ReadFile(path) : "";
        if (contents.find(text) != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return contents;
}

// The alarms of live's JSON lines, by recording.
LiveTestAlarms LiveTestAlarmsOf(const std::string& text)
{
    LiveTestAlarms alarms;
    for (const std::string& line : SplitLines(text)) {
        const nlohmann::json alarm = nlohmann::json::parse(line);
        alarms[alarm["recording"].get<std::string>()].emplace_back(alarm["sample"].get<uint64_t>(),
                                                                   alarm["code"].get<int>());
        EXPECT_GE(alarm["latency_ms"].get<double>(), 0.0);
    }
    return alarms;
}

// The alarms eval finds in the kept session, by recording.
LiveTestAlarms LiveTestEval(const TempDir& dir, const std::string& session)
{
    const BenchRun run =
        RunProgram(TUMBLEWATCH_PATH, dir.path(),
                   {"eval", "--labels", session + "/labels.manifest", "--json", "eval.json", "-q"}, 60);
    EXPECT_EQ(run.status, 0) << run.errors;
    LiveTestAlarms alarms;
    const nlohmann::json report = nlohmann::json::parse(ReadFile(dir / "eval.json"));
    for (const auto& recording : report["recordings"]) {
        EXPECT_TRUE(recording["read"].get<bool>());
        auto& list = alarms[recording["relative_path"].get<std::string>()];
        for (const auto& alarm : recording["alarms"]) {
            list.emplace_back(alarm["sample"].get<uint64_t>(), alarm["code"].get<int>());
        }
        if (list.empty()) {
            alarms.erase(recording["relative_path"].get<std::string>());
        }
    }
    return alarms;
}

int LiveTestConnect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

LiveTestProcess::LiveTestProcess(LiveTestProcess&& other) noexcept
    : pid(other.pid), input(other.input), out(std::move(other.out)), err(std::move(other.err))
{
    other.pid = -1;
    other.input = -1;
}

LiveTestProcess::~LiveTestProcess()
{
    if (input >= 0) {
        ::close(input);
    }
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

std::string LiveTestRead(const std::string& path)
{
    return PathExists(path) ? ReadFile(path) : std::string();
}
