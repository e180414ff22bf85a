// tumblewatch live under load: N simulated devices publish 50 samples per
// second each (as messages of five binary records every 100 ms) through a
// mosquitto broker on a free loopback port, for a given time. Prints the
// samples published and processed, the sample-to-alarm latency (from the
// moment a sample was published to the alarm live raised on it: median and
// 99th percentile) and live's peak resident size per device.
//
//   live_mqtt TUMBLEWATCH MOSQUITTO DEVICES SECONDS
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "dataset_format.h"
#include "live_session.h"
#include "recording_reader.h"

namespace {

constexpr int kSamplesPerMessage = 5;
constexpr auto kMessageEvery = std::chrono::milliseconds(100);

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

long PeakKib(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: live_mqtt TUMBLEWATCH MOSQUITTO DEVICES SECONDS\n");
        return 2;
    }
    const std::string tumblewatch = argv[1];
    const std::string broker = argv[2];
    const int devices = std::atoi(argv[3]);
    const int seconds = std::atoi(argv[4]);
    char folder[] = "/tmp/live-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        return 2;
    }
    const std::string dir = folder;
    const int port = FreePort();
    {
        std::ofstream config(dir + "/mosquitto.conf");
        config << "listener " << port << " 127.0.0.1\nallow_anonymous true\npersistence false\nmax_queued_messages 0\n";
    }
    const pid_t brokerPid = Spawn({broker, "-c", dir + "/mosquitto.conf"}, dir + "/broker.out", dir + "/broker.err");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const pid_t livePid = Spawn({tumblewatch, "live", "mqtt://127.0.0.1:" + std::to_string(port) + "/bench/+",
                                 "--device-level", "1", "--format", "bin", "--no-record", "--json", "-j", "2"},
                                dir + "/live.out", dir + "/live.err");
    for (int i = 0; i < 500 && Slurp(dir + "/live.err").find("subscribed") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<ImuSample> fall;
    std::string reason;
    RecordingLoad(std::string(SOURCE_DIR) + "/examples/fall_forward.csv", RecordingFormat::Csv, false, &fall, &reason);

    mosquitto_lib_init();
    mosquitto* client = mosquitto_new(nullptr, true, nullptr);
    if (mosquitto_connect(client, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "cannot connect to the broker\n");
        return 2;
    }
    mosquitto_loop_start(client);
    // Sample n of every device is published at sent[n] (the devices share one schedule).
    std::vector<int64_t> sent;
    const auto start = std::chrono::steady_clock::now();
    uint64_t published = 0;
    std::vector<unsigned char> message(kSamplesPerMessage * kDataSetRecordSize);
    for (int tick = 0; tick < seconds * 10; ++tick) {
        std::this_thread::sleep_until(start + tick * kMessageEvery);
        const int64_t now = LiveNowNs();
        for (int k = 0; k < kSamplesPerMessage; ++k) {
            DataSetEncodeRecord(fall[(sent.size()) % fall.size()], message.data() + k * kDataSetRecordSize);
            sent.push_back(now);
        }
        for (int d = 0; d < devices; ++d) {
            const std::string topic = "bench/d" + std::to_string(d);
            mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(message.size()), message.data(), 0,
                              false);
        }
        published += static_cast<uint64_t>(devices) * kSamplesPerMessage;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long peak = PeakKib(livePid);
    ::kill(livePid, SIGINT);
    ::waitpid(livePid, nullptr, 0);
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
    ::kill(brokerPid, SIGTERM);
    ::waitpid(brokerPid, nullptr, 0);

    std::vector<double> latencies;
    std::ifstream out(dir + "/live.out");
    std::string line;
    while (std::getline(out, line)) {
        const nlohmann::json alarm = nlohmann::json::parse(line, nullptr, false);
        if (alarm.is_discarded()) {
            continue;
        }
        const uint64_t sample = alarm["sample"].get<uint64_t>();
        if (sample >= sent.size()) {
            continue;
        }
        // The alarm time is parsed back from its text: seconds of the day are enough here.
        const std::string when = alarm["alarm"].get<std::string>();
        const double secondsOfDay =
            std::stod(when.substr(11, 2)) * 3600 + std::stod(when.substr(14, 2)) * 60 + std::stod(when.substr(17, 9));
        const double sentOfDay = static_cast<double>(sent[sample] % (86400LL * 1000000000LL)) / 1e9;
        latencies.push_back((secondsOfDay - sentOfDay) * 1e3);
    }
    std::sort(latencies.begin(), latencies.end());
    const std::string err = Slurp(dir + "/live.err");
    const std::size_t totals = err.rfind(" devices, ");
    std::string processed = "?";
    if (totals != std::string::npos) {
        const std::size_t from = err.find(", ", totals + 1) + 2;
        processed = err.substr(from, err.find(" samples", from) - from);
    }
    std::printf("devices %d, %d s: published %llu samples, processed %s; alarms %zu", devices, seconds,
                static_cast<unsigned long long>(published), processed.c_str(), latencies.size());
    if (!latencies.empty()) {
        std::printf(", latency median %.2f ms, p99 %.2f ms", latencies[latencies.size() / 2],
                    latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)]);
    }
    std::printf(", live's peak %ld KiB (%.1f KiB per device)\n", peak, static_cast<double>(peak) / devices);
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
