// tumblewatch live through a real MQTT broker: Debian's mosquitto started
// on a free loopback port and stopped by the test. A broker that is down at
// the start and one that restarts (reconnects, the gap recorded), alarms
// published back, the kept session equal to eval, and a fleet shared by two
// processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "live_command_support.h"
#include "recording_reader.h"

namespace {

constexpr const char* kMosquitto = "/usr/sbin/mosquitto";

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

// A mosquitto listening on 127.0.0.1:port only, anonymous, nothing kept.
class Broker {
public:
    Broker(const TempDir& dir, int port) : dir_(dir), port_(port) { Start(); }
    ~Broker() { Stop(); }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    void Start()
    {
        const std::string config = dir_ / "mosquitto.conf";
        WriteFile(config,
                  "listener " + std::to_string(port_) + " 127.0.0.1\nallow_anonymous true\npersistence false\n");
        const std::string log = dir_ / "mosquitto.log";
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execl(kMosquitto, kMosquitto, "-c", config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500; ++i) {
            const int fd = LiveTestConnect(port_);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "mosquitto did not start: " << ReadFile(log);
    }
    void Stop()
    {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    const TempDir& dir_;
    int port_;
    pid_t pid_ = -1;
};

// The test's own client: publishes samples, collects published alarms.
class Client {
public:
    explicit Client(int port)
    {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(client_, [](mosquitto*, void* object, const mosquitto_message* message) {
            auto* self = static_cast<Client*>(object);
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->received_.emplace_back(message->topic, std::string(static_cast<const char*>(message->payload),
                                                                     static_cast<std::size_t>(message->payloadlen)));
        });
        EXPECT_EQ(mosquitto_connect(client_, "127.0.0.1", port, 30), MOSQ_ERR_SUCCESS);
        EXPECT_EQ(mosquitto_loop_start(client_), MOSQ_ERR_SUCCESS);
    }
    ~Client()
    {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Subscribe(const std::string& topic) { EXPECT_EQ(mosquitto_subscribe(client_, nullptr, topic.c_str(), 1), 0); }
    void Publish(const std::string& topic, const std::string& payload)
    {
        EXPECT_EQ(mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                    1, false),
                  MOSQ_ERR_SUCCESS);
    }
    std::vector<std::pair<std::string, std::string>> Received()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

private:
    mosquitto* client_ = nullptr;
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> received_;
};

std::vector<ImuSample> Samples(const std::string& example)
{
    std::vector<ImuSample> samples;
    std::string reason;
    EXPECT_EQ(
        RecordingLoad(std::string(SOURCE_DIR) + "/examples/" + example, RecordingFormat::Csv, false, &samples, &reason),
        0);
    return samples;
}

// A device's samples as messages of ten binary records each.
void PublishRecords(Client* client, const std::string& topic, const std::vector<ImuSample>& samples)
{
    for (std::size_t at = 0; at < samples.size(); at += 10) {
        const std::vector<ImuSample> part(samples.begin() + static_cast<long>(at),
                                          samples.begin() + static_cast<long>(std::min(at + 10, samples.size())));
        client->Publish(topic, DataSetBytes(part).substr(24));
    }
}

std::size_t AlarmCount(const std::vector<ImuSample>& samples)
{
    TumblewatchConfig config;
    TumblewatchDefault(&config);
    TumblewatchContext context{};
    TumblewatchSet(&context, &config);
    std::size_t count = 0;
    for (const ImuSample& s : samples) {
        count += TumblewatchProcess(&context, &s) > 0 ? 1 : 0;
    }
    TumblewatchClose(&context);
    return count;
}

bool WaitUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 1000; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

// The broker is down when live starts, comes up, restarts midway: every
// sample published is processed, the alarms are published back, and eval
// of the kept session equals them.
TEST(LiveMqtt, BrokerDownRestartAndPublishedAlarms)
{
    if (::access(kMosquitto, X_OK) != 0) {
        GTEST_SKIP() << "no mosquitto broker at " << kMosquitto << " (Debian package mosquitto)";
    }
    TempDir dir;
    const int port = FreePort();
    const std::string source = "mqtt://127.0.0.1:" + std::to_string(port) + "/sensors/+/imu";
    LiveTestProcess live = LiveTestStart(dir,
                                         {source, "--device-level", "1", "--format", "bin", "--publish",
                                          "tumblewatch/<device>/alarm", "--session", "s", "--json"},
                                         false);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Broker broker(dir, port);
    ASSERT_TRUE(WaitUntil([&] {
        return LiveTestRead(live.err).find("subscribed to sensors/+/imu") != std::string::npos;
    })) << LiveTestRead(live.err);
    const std::vector<ImuSample> fall = Samples("fall_forward.csv");
    const std::vector<ImuSample> twice = Samples("double_fall.csv");
    const std::size_t expected = AlarmCount(fall) + AlarmCount(twice);
    ASSERT_GT(expected, 0u);
    {
        Client client(port);
        client.Subscribe("tumblewatch/+/alarm");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        PublishRecords(&client, "sensors/dev0/imu", fall);
        PublishRecords(&client, "sensors/dev1/imu", std::vector<ImuSample>(twice.begin(), twice.begin() + 200));
        ASSERT_TRUE(WaitUntil([&] { return LiveTestRead(live.err).find("device dev1 started") != std::string::npos; }));
        ASSERT_TRUE(WaitUntil([&] { return client.Received().size() == AlarmCount(fall); }))
            << client.Received().size();
    }
    broker.Stop();
    ASSERT_TRUE(WaitUntil([&] { return LiveTestRead(live.err).find("reconnecting") != std::string::npos; }));
    broker.Start();
    ASSERT_TRUE(WaitUntil([&] { return Count(LiveTestRead(live.err), "subscribed to") == 2; }))
        << LiveTestRead(live.err);
    {
        Client client(port);
        client.Subscribe("tumblewatch/+/alarm");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        PublishRecords(&client, "sensors/dev1/imu", std::vector<ImuSample>(twice.begin() + 200, twice.end()));
        client.Publish("sensors/dev1/imu", "torn");  // 4 bytes: a torn record
        ASSERT_TRUE(WaitUntil([&] { return client.Received().size() == expected - AlarmCount(fall); }))
            << client.Received().size();
        for (const auto& message : client.Received()) {
            EXPECT_EQ(message.first, "tumblewatch/dev1/alarm");
            EXPECT_NE(message.second.find("\"device\":\"dev1\""), std::string::npos) << message.second;
        }
    }
    // Every sample reaches the recording within a second of its arrival.
    const std::size_t whole = 24 + 12 * twice.size();
    EXPECT_TRUE(WaitUntil([&] { return LiveTestRead(dir / "s/dev1.bin.part").size() == whole; }));
    ::kill(live.pid, SIGINT);
    EXPECT_EQ(LiveTestWait(&live), 130) << LiveTestRead(live.err);
    const LiveTestAlarms reported = LiveTestAlarmsOf(ReadFile(live.out));
    EXPECT_EQ(reported, LiveTestEval(dir, "s"));
    std::size_t total = 0;
    for (const auto& entry : reported) {
        total += entry.second.size();
    }
    EXPECT_EQ(total, expected);
    const std::string manifest = ReadFile(dir / "s/session.manifest");
    EXPECT_NE(manifest.find("dev0,dev0.bin,mqtt://"), std::string::npos) << manifest;
    // dev1: every sample, one gap (the restart), one torn record.
    EXPECT_NE(manifest.find("," + std::to_string(twice.size()) + "," + std::to_string(twice.size()) + "," +
                            std::to_string(AlarmCount(twice)) + ",1,0,0,0,1,0,stopped,"),
              std::string::npos)
        << manifest;
}

// Two processes share a fleet by --share: every device is taken by
// exactly one of them.
TEST(LiveMqtt, TwoProcessesShareAFleet)
{
    if (::access(kMosquitto, X_OK) != 0) {
        GTEST_SKIP() << "no mosquitto broker at " << kMosquitto << " (Debian package mosquitto)";
    }
    TempDir dir;
    const int port = FreePort();
    Broker broker(dir, port);
    const std::string source = "mqtt://127.0.0.1:" + std::to_string(port) + "/fleet/#";
    TempDir one;
    TempDir two;
    LiveTestProcess first =
        LiveTestStart(one, {source, "--format", "csv", "--share", "1/2", "--session", "s", "--json"}, false);
    LiveTestProcess second =
        LiveTestStart(two, {source, "--format", "csv", "--share", "2/2", "--session", "s", "--json"}, false);
    ASSERT_TRUE(WaitUntil([&] {
        return LiveTestRead(first.err).find("subscribed") != std::string::npos &&
               LiveTestRead(second.err).find("subscribed") != std::string::npos;
    }));
    constexpr int kDevices = 12;
    {
        Client client(port);
        for (int d = 0; d < kDevices; ++d) {
            client.Publish("fleet/wearer" + std::to_string(d), "0,0,-8192,0,0,0,0\n1,0,-8192,0,0,0,0\n");
        }
        ASSERT_TRUE(WaitUntil([&] {
            return Count(LiveTestRead(first.err) + LiveTestRead(second.err), " started") ==
                   static_cast<std::size_t>(kDevices);
        }));
    }
    ::kill(first.pid, SIGTERM);
    ::kill(second.pid, SIGTERM);
    EXPECT_EQ(LiveTestWait(&first), 143);
    EXPECT_EQ(LiveTestWait(&second), 143);
    std::set<std::string> devices;
    std::size_t rows = 0;
    for (const TempDir* d : {&one, &two}) {
        const std::vector<std::string> lines = SplitLines(ReadFile(*d / "s/session.manifest"));
        EXPECT_GE(lines.size(), 2u);  // each takes some part
        for (std::size_t i = 1; i < lines.size(); ++i) {
            devices.insert(lines[i].substr(0, lines[i].find(',')));
            ++rows;
            EXPECT_NE(lines[i].find(",2,2,0,"), std::string::npos) << lines[i];
        }
    }
    EXPECT_EQ(rows, static_cast<std::size_t>(kDevices));
    EXPECT_EQ(devices.size(), static_cast<std::size_t>(kDevices));
}
