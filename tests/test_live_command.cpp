// tumblewatch live on each source: standard input, a growing file, a TCP
// server it connects to, its own listener and a pseudo-terminal as serial
// port. On every one, `tumblewatch eval` of the kept session gives exactly
// the alarms that live reported, sample for sample; signals close every
// recording whole; a second process on one session folder is refused.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "live_command_support.h"

namespace {

std::string Example(const std::string& name)
{
    return ReadFile(std::string(SOURCE_DIR) + "/examples/" + name);
}

void WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        ASSERT_GT(n, 0);
        done += static_cast<std::size_t>(n);
    }
}

// The port live listens on, from its notice "listening on 127.0.0.1:PORT".
int ListeningPort(const std::string& errPath)
{
    const std::string text = LiveTestWaitFor(errPath, "(loopback only)");
    const std::size_t at = text.find("listening on 127.0.0.1:");
    if (at == std::string::npos) {
        return -1;
    }
    return std::stoi(text.substr(at + std::strlen("listening on 127.0.0.1:")));
}

}  // namespace

// Standard input: CSV recordings in both layouts and binary records; eval
// of the kept session equals the reported alarms, and the kept recording
// holds exactly the samples sent.
TEST(LiveCommand, StandardInputEqualsEval)
{
    struct Case {
        const char* format;
        std::string bytes;
    };
    std::string micom = "header line\n";
    for (const std::string& line : SplitLines(Example("fall_backward.csv"))) {
        if (!line.empty() && line[0] != '#' && line[0] != 'r') {
            // Values in hundredths: the counts divided by 100 (cut toward zero).
            std::vector<int> v;
            std::size_t at = 0;
            while (at <= line.size()) {
                const std::size_t comma = line.find(',', at);
                v.push_back(std::stoi(line.substr(at, comma - at)));
                at = comma == std::string::npos ? line.size() + 1 : comma + 1;
            }
            micom += std::to_string(v[0]);
            for (int k = 1; k < 7; ++k) {
                micom += "," + std::to_string(v[k] / 100);
            }
            micom += "\n";
        }
    }
    const std::vector<Case> cases = {{"csv", Example("double_fall.csv")},
                                     {"micom", micom},
                                     {"bin", ReadFile(std::string(SOURCE_DIR) + "/examples/fall_forward.csv")}};
    for (const Case& c : cases) {
        TempDir dir;
        std::string bytes = c.bytes;
        if (std::string(c.format) == "bin") {
            // The forward fall's rows as records, after a dataset header.
            std::vector<ImuSample> rows;
            for (const std::string& line : SplitLines(c.bytes)) {
                int v[7];
                if (std::sscanf(line.c_str(), "%d,%d,%d,%d,%d,%d,%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                                &v[6]) == 7) {
                    rows.push_back(ImuSample{static_cast<int16_t>(v[1]), static_cast<int16_t>(v[2]),
                                             static_cast<int16_t>(v[3]), static_cast<int16_t>(v[4]),
                                             static_cast<int16_t>(v[5]), static_cast<int16_t>(v[6])});
                }
            }
            bytes = DataSetBytes(rows);
        }
        LiveTestProcess live = LiveTestStart(dir, {"-", "--format", c.format, "--session", "s", "--json"}, true);
        WriteAll(live.input, bytes);
        ASSERT_EQ(LiveTestWait(&live), 0) << c.format << ReadFile(live.err);
        const LiveTestAlarms reported = LiveTestAlarmsOf(ReadFile(live.out));
        EXPECT_FALSE(reported.empty()) << c.format;
        EXPECT_EQ(reported, LiveTestEval(dir, "s")) << c.format;
        EXPECT_TRUE(PathExists(dir / "s/stdin.bin"));
        EXPECT_NE(ReadFile(dir / "s/session.manifest").find(",end of stream,"), std::string::npos);
    }
}

// A growing file, a TCP server that live connects to (and reconnects to
// after it closes, a gap recorded) and live's own listener with two
// devices: each kept session equals the reported alarms. SIGINT and
// SIGTERM end live with 130 and 143, every recording renamed whole.
TEST(LiveCommand, FollowTcpAndListenEqualEval)
{
    const std::string fall = Example("fall_forward.csv");
    const std::string twice = Example("double_fall.csv");
    {
        TempDir dir;
        WriteFile(dir / "grow.csv", fall.substr(0, fall.size() / 2));
        LiveTestProcess live =
            LiveTestStart(dir, {"follow:grow.csv", "--format", "csv", "--session", "s", "--json"}, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        FILE* f = std::fopen((dir / "grow.csv").c_str(), "ab");
        std::fputs(fall.substr(fall.size() / 2).c_str(), f);
        std::fclose(f);
        LiveTestWaitFor(dir / "live.out", "\"sample\":235");
        ::kill(live.pid, SIGINT);
        EXPECT_EQ(LiveTestWait(&live), 130) << ReadFile(live.err);
        EXPECT_FALSE(PathExists(dir / "s/grow.csv.bin.part"));
        EXPECT_EQ(LiveTestAlarmsOf(ReadFile(live.out)), LiveTestEval(dir, "s"));
        EXPECT_NE(ReadFile(dir / "s/session.manifest").find(",stopped,"), std::string::npos);
    }
    {
        TempDir dir;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(server, 4), 0);
        socklen_t size = sizeof address;
        ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &size);
        const std::string port = std::to_string(ntohs(address.sin_port));
        LiveTestProcess live =
            LiveTestStart(dir, {"tcp:127.0.0.1:" + port, "--format", "csv", "--session", "s", "--json"}, false);
        int conn = ::accept(server, nullptr, nullptr);
        ASSERT_GE(conn, 0);
        WriteAll(conn, fall.substr(0, 3000));
        ::close(conn);                              // the device goes away mid-line ...
        conn = ::accept(server, nullptr, nullptr);  // ... and live comes back
        ASSERT_GE(conn, 0);
        WriteAll(conn, fall.substr(3000));
        LiveTestWaitFor(dir / "live.out", "\"code\"");
        // Every sample but the torn line's is recorded within a second.
        for (int i = 0; i < 1000 && LiveTestRead(dir / ("s/127.0.0.1%3A" + port + ".bin.part")).size() != 24 + 12 * 564;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(live.pid, SIGTERM);
        EXPECT_EQ(LiveTestWait(&live), 143) << ReadFile(live.err);
        ::close(conn);
        ::close(server);
        const LiveTestAlarms reported = LiveTestAlarmsOf(ReadFile(live.out));
        EXPECT_FALSE(reported.empty());
        EXPECT_EQ(reported, LiveTestEval(dir, "s"));
        const std::string manifest = ReadFile(dir / "s/session.manifest");
        EXPECT_NE(manifest.find("127.0.0.1:" + port), std::string::npos) << manifest;
        // One gap (the reconnect) and the line it tore.
        const std::vector<std::string> lines = SplitLines(manifest);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_NE(lines[1].find(",564,564,7,1,1,0,0,1,8,stopped,"), std::string::npos) << lines[1];
    }
    {
        TempDir dir;
        LiveTestProcess live =
            LiveTestStart(dir, {"listen:127.0.0.1:0", "--format", "csv", "--session", "s", "--json", "-j", "2"}, false);
        const int port = ListeningPort(live.err);
        ASSERT_GT(port, 0) << ReadFile(live.err);
        const int a = LiveTestConnect(port);
        const int b = LiveTestConnect(port);
        ASSERT_GE(a, 0);
        ASSERT_GE(b, 0);
        WriteAll(a, fall);
        WriteAll(b, twice + std::string(5000, '\x01') + "\n");
        ::close(a);
        ::close(b);
        LiveTestWaitFor(dir / "s/session.manifest", "\n127.0.0.1");
        std::string manifest;
        for (int i = 0; i < 500 && SplitLines(manifest).size() < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            manifest = ReadFile(dir / "s/session.manifest");
        }
        ::kill(live.pid, SIGINT);
        EXPECT_EQ(LiveTestWait(&live), 130) << ReadFile(live.err);
        const LiveTestAlarms reported = LiveTestAlarmsOf(ReadFile(live.out));
        EXPECT_EQ(reported.size(), 2u);
        EXPECT_EQ(reported, LiveTestEval(dir, "s"));
        EXPECT_NE(ReadFile(dir / "s/session.manifest").find(",0,0,0,0,1,7,end of stream,"), std::string::npos)
            << ReadFile(dir / "s/session.manifest");  // the binary line
    }
}

// A pseudo-terminal as serial port: the stream read, the port that goes
// away counted as a gap, the session equal to eval.
TEST(LiveCommand, SerialPseudoTerminal)
{
    TempDir dir;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);  // live must not hold the port's other end
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    LiveTestProcess live = LiveTestStart(
        dir, {"serial:" + slave, "--format", "csv", "--session", "s", "--json", "--baud", "921600", "--framing", "8N1"},
        false);
    LiveTestWaitFor(live.err, ": open");
    const std::string fall = Example("double_fall.csv");
    for (std::size_t at = 0; at < fall.size(); at += 512) {
        WriteAll(master, fall.substr(at, 512));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    LiveTestWaitFor(dir / "live.out", "\"code\"");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::close(master);  // the port goes away
    LiveTestWaitFor(live.err, "the port");
    ::kill(live.pid, SIGTERM);
    EXPECT_EQ(LiveTestWait(&live), 143) << ReadFile(live.err);
    const LiveTestAlarms reported = LiveTestAlarmsOf(ReadFile(live.out));
    EXPECT_FALSE(reported.empty());
    EXPECT_EQ(reported, LiveTestEval(dir, "s"));
    const std::vector<std::string> rows = SplitLines(ReadFile(dir / "s/session.manifest"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].rfind("pts/", 0), 0u) << rows[1];
    EXPECT_NE(rows[1].find(",582,582,9,1,0,0,0,0,7,stopped,"), std::string::npos) << rows[1];  // one gap
}

// Usage errors and refusals: no format, an unknown source, a second live on
// one session folder, a follow of a FIFO.
TEST(LiveCommand, RefusedStarts)
{
    TempDir dir;
    EXPECT_EQ(RunProgram(TUMBLEWATCH_PATH, dir.path(), {"live", "-", "--session", "s"}, 10).status, 2);
    const BenchRun unknown =
        RunProgram(TUMBLEWATCH_PATH, dir.path(), {"live", "udp:1.2.3.4:5", "--format", "csv", "--no-record"}, 10);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.errors.find("unknown source"), std::string::npos);
    EXPECT_EQ(RunProgram(TUMBLEWATCH_PATH, dir.path(), {"live", "-", "--format", "csv"}, 10).status, 2);
    EXPECT_EQ(RunProgram(TUMBLEWATCH_PATH, dir.path(),
                         {"live", "-", "--format", "csv", "--no-record", "--framing", "9X1"}, 10)
                  .status,
              2);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const BenchRun fifo =
        RunProgram(TUMBLEWATCH_PATH, dir.path(), {"live", "follow:fifo", "--format", "csv", "--no-record"}, 10);
    EXPECT_EQ(fifo.status, 2);
    EXPECT_NE(fifo.errors.find("FIFO"), std::string::npos) << fifo.errors;

    LiveTestProcess first = LiveTestStart(dir, {"-", "--format", "csv", "--session", "s"}, true);
    LiveTestWaitFor(dir / "s/.lock", std::to_string(first.pid));
    const BenchRun second =
        RunProgram(TUMBLEWATCH_PATH, dir.path(), {"live", "-", "--format", "csv", "--session", "s"}, 10);
    EXPECT_EQ(second.status, 2);
    EXPECT_NE(second.errors.find("in use by another tumblewatch live"), std::string::npos) << second.errors;
    EXPECT_EQ(LiveTestWait(&first), 0);
}
