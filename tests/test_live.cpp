// The live room's parts: payload decoding and its bad input, device names
// as file names, the kept recording (whole records, a full disk, leftovers
// of a stopped run), the session's lock and manifests, and the engine's
// order and bounded queues across threads.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dataset_format.h"
#include "live_engine.h"
#include "live_names.h"
#include "live_payload.h"
#include "live_recorder.h"
#include "live_session.h"
#include "recording_reader.h"
#include "test_support.h"

namespace {

std::vector<ImuSample> Feed(LivePayload* payload, const std::string& bytes)
{
    std::vector<ImuSample> samples;
    LivePayloadFeed(payload, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &samples);
    return samples;
}

std::vector<ImuSample> LoadExample(const std::string& name)
{
    std::vector<ImuSample> samples;
    std::string reason;
    EXPECT_EQ(
        RecordingLoad(std::string(SOURCE_DIR) + "/examples/" + name, RecordingFormat::Csv, false, &samples, &reason), 0)
        << reason;
    return samples;
}

bool Same(const ImuSample& a, const ImuSample& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

// A CSV stream cut anywhere gives the samples of the file reader, and the
// micom layout scales as the reader does.
TEST(LivePayload, CsvStreamCutAnywhereGivesTheReadersSamples)
{
    const std::string text = ReadFile(std::string(SOURCE_DIR) + "/examples/double_fall.csv");
    const std::vector<ImuSample> expected = LoadExample("double_fall.csv");
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1000}, text.size()}) {
        LivePayload payload;
        LivePayloadInit(&payload, LiveFormat::Csv);
        std::vector<ImuSample> samples;
        for (std::size_t at = 0; at < text.size(); at += piece) {
            const std::string part = text.substr(at, piece);
            LivePayloadFeed(&payload, reinterpret_cast<const unsigned char*>(part.data()), part.size(), &samples);
        }
        ASSERT_EQ(samples.size(), expected.size()) << "pieces of " << piece;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            ASSERT_TRUE(Same(samples[i], expected[i])) << i;
        }
        const LiveCounts counts = LivePayloadTakeCounts(&payload);
        EXPECT_EQ(counts.skippedLines, 7u);  // the header lines
        EXPECT_EQ(LiveCountsBadInput(counts), 0u);
    }
    LivePayload micom;
    LivePayloadInit(&micom, LiveFormat::Micom);
    const std::vector<ImuSample> scaled = Feed(&micom, "0,1,-2,3,4,5,6\n");
    ASSERT_EQ(scaled.size(), 1u);
    EXPECT_EQ(scaled[0].accX, 100);
    EXPECT_EQ(scaled[0].accY, -200);
    EXPECT_EQ(scaled[0].gyroZ, 600);
}

// Torn, overlong and binary lines are counted and dropped whole; the
// offset row applies; repeated rows are dropped and skipped rows counted.
TEST(LivePayload, BadInputIsCountedNeverUsed)
{
    LivePayload payload;
    LivePayloadInit(&payload, LiveFormat::Csv);
    std::string bytes = "0,1,2,3,4,5,6\n";
    bytes += std::string(3u << 20, '7') + ",1,1,1,1,1,1\n";  // a line of megabytes
    bytes += std::string("1,1,2,3\x00,4,5,6\n", 15);         // a zero byte
    bytes += "2,\x1b[31m,1,1,1,1,1\n";                       // a control byte
    bytes += "garbage that is no row\n";
    bytes += "-1,10,10,10,0,0,0\n";  // offset
    bytes += "1,1,1,1,1,1,1\n";
    bytes += "1,9,9,9,9,9,9\n";  // repeated: dropped
    bytes += "5,1,1,1,1,1,1\n";  // rows 2..4 missing
    bytes += "6,1,1";            // torn by the end
    const std::vector<ImuSample> samples = Feed(&payload, bytes);
    LivePayloadBreak(&payload);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[1].accX, 11);
    EXPECT_EQ(samples[1].gyroX, 1);
    EXPECT_EQ(samples[2].accZ, 11);
    const LiveCounts counts = LivePayloadTakeCounts(&payload);
    EXPECT_EQ(counts.longLines, 1u);
    EXPECT_EQ(counts.binaryLines, 2u);
    EXPECT_EQ(counts.skippedLines, 1u);
    EXPECT_EQ(counts.repeatedRows, 1u);
    EXPECT_EQ(counts.rowGaps, 1u);
    EXPECT_EQ(counts.tornLines, 1u);
    EXPECT_EQ(LiveCountsBadInput(LivePayloadTakeCounts(&payload)), 0u);  // taken

    // Random bytes: never a crash, every byte accounted for as a line or dropped.
    LivePayload noise;
    LivePayloadInit(&noise, LiveFormat::Csv);
    std::string random(1 << 16, '\0');
    uint32_t state = 12345;
    for (char& c : random) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    Feed(&noise, random);
    LivePayloadBreak(&noise);
    EXPECT_GT(LiveCountsBadInput(LivePayloadTakeCounts(&noise)), 0u);
}

// Binary records: a dataset header at a stream's start is skipped (with its
// gap to the record position), records may be split anywhere, several come
// in one message, and a piece short of 12 bytes is counted torn.
TEST(LivePayload, BinaryRecordsStreamsAndMessages)
{
    std::vector<ImuSample> expected;
    for (int i = 0; i < 50; ++i) {
        expected.push_back(ImuSample{static_cast<int16_t>(i), -8192, 3, static_cast<int16_t>(-i), 5, 6});
    }
    const std::string file = DataSetBytes(expected, 40);
    LivePayload payload;
    LivePayloadInit(&payload, LiveFormat::Bin);
    std::vector<ImuSample> samples;
    for (std::size_t at = 0; at < file.size(); at += 5) {
        const std::string part = file.substr(at, 5);
        LivePayloadFeed(&payload, reinterpret_cast<const unsigned char*>(part.data()), part.size(), &samples);
    }
    ASSERT_EQ(samples.size(), expected.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_TRUE(Same(samples[i], expected[i])) << i;
    }
    // Without a header, every byte is a record.
    const std::string records = file.substr(40);
    LivePayload plain;
    LivePayloadInit(&plain, LiveFormat::Bin);
    EXPECT_EQ(Feed(&plain, records).size(), expected.size());
    // Messages of several records; a torn one is dropped and counted.
    LivePayload messages;
    LivePayloadInit(&messages, LiveFormat::Bin);
    samples.clear();
    LivePayloadMessage(&messages, reinterpret_cast<const unsigned char*>(records.data()), 36, &samples);
    LivePayloadMessage(&messages, reinterpret_cast<const unsigned char*>(records.data()) + 36, 13, &samples);
    EXPECT_EQ(samples.size(), 4u);
    EXPECT_EQ(LivePayloadTakeCounts(&messages).tornRecords, 1u);
    // A stream that breaks inside a record.
    LivePayload torn;
    LivePayloadInit(&torn, LiveFormat::Bin);
    EXPECT_EQ(Feed(&torn, records.substr(0, 30)).size(), 2u);
    LivePayloadBreak(&torn);
    EXPECT_EQ(LivePayloadTakeCounts(&torn).tornRecords, 1u);
}

// Whatever a device calls itself, its file stays in the session folder,
// distinct names stay distinct, and long names stay short.
TEST(LiveNames, NamesNeverLeaveTheFolder)
{
    const std::vector<std::string> names = {"..",
                                            ".",
                                            "../../etc/passwd",
                                            "a/b",
                                            std::string("x\0y", 3),
                                            "line\nend",
                                            "",
                                            std::string(10000, 'a'),
                                            std::string(10000, 'a') + "b",
                                            "sensor-01_A.b",
                                            ".hidden"};
    std::vector<std::string> stems;
    for (const std::string& name : names) {
        const std::string stem = LiveSafeName(name);
        EXPECT_FALSE(stem.empty());
        EXPECT_LE(stem.size(), kLiveStemMax);
        EXPECT_EQ(stem.find('/'), std::string::npos) << stem;
        EXPECT_NE(stem[0], '.') << stem;
        for (const char c : stem) {
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-_.%~", c) != nullptr) << stem;
        }
        for (const std::string& other : stems) {
            EXPECT_NE(stem, other);
        }
        stems.push_back(stem);
    }
    EXPECT_EQ(LiveSafeName("sensor-01_A.b"), "sensor-01_A.b");
    EXPECT_EQ(LiveNameHash("device-7"), LiveNameHash(std::string("device-7")));
    EXPECT_EQ(LivePrintableName("a\nb\x1b"), "a\\nb\\x1b");
    EXPECT_LE(LivePrintableName(std::string(10000, 'x')).size(), 200u);
}

// The recording holds the header and whole records, takes a free name,
// and is renamed when closed; the dataset reader reads it back.
TEST(LiveRecorder, WholeRecordsUnderATemporaryName)
{
    TempDir dir;
    WriteFile(dir / "dev.bin", "an earlier file");
    LiveRecorder recorder;
    std::string reason;
    ASSERT_TRUE(LiveRecorderOpen(&recorder, dir.path(), "dev", &reason)) << reason;
    EXPECT_EQ(recorder.path, dir / "dev.2.bin");
    EXPECT_TRUE(PathExists(dir / "dev.2.bin.part"));
    const std::vector<ImuSample> samples = LoadExample("walking.csv");
    for (std::size_t i = 0; i < 100; ++i) {
        ASSERT_TRUE(LiveRecorderAdd(&recorder, samples[i]));
    }
    ASSERT_TRUE(LiveRecorderFlush(&recorder));
    EXPECT_EQ(ReadFile(dir / "dev.2.bin.part").size(), kDataSetHeaderSize + 100 * kDataSetRecordSize);
    for (std::size_t i = 100; i < samples.size(); ++i) {
        ASSERT_TRUE(LiveRecorderAdd(&recorder, samples[i]));
    }
    ASSERT_TRUE(LiveRecorderClose(&recorder, &reason)) << reason;
    EXPECT_FALSE(PathExists(dir / "dev.2.bin.part"));
    EXPECT_EQ(ReadFile(dir / "dev.2.bin"), DataSetImage(samples));
    EXPECT_EQ(ReadFile(dir / "dev.bin"), "an earlier file");
}

// A full disk (here: the file size limit) stops the recording at its last
// whole record with a message; later samples are refused, not written.
TEST(LiveRecorder, FullDiskKeepsWholeRecords)
{
    TempDir dir;
    LiveRecorder recorder;
    std::string reason;
    ASSERT_TRUE(LiveRecorderOpen(&recorder, dir.path(), "full", &reason)) << reason;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 24 + 12 * 70 + 5;  // room for 70 records and a piece
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) {
        failed = !LiveRecorderAdd(&recorder, ImuSample{1, 2, 3, 4, 5, 6});
    }
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(failed);
    EXPECT_NE(recorder.failure.find("kept 70 samples"), std::string::npos) << recorder.failure;
    EXPECT_FALSE(LiveRecorderAdd(&recorder, ImuSample{}));
    EXPECT_FALSE(LiveRecorderClose(&recorder, &reason));
    EXPECT_EQ(ReadFile(dir / "full.bin").size(), 24u + 12u * 70u);
}

// Leftovers of a run that died are cut to whole records and renamed.
TEST(LiveRecorder, LeftoversAreRecovered)
{
    TempDir dir;
    const std::string image = DataSetImage({ImuSample{1, 2, 3, 4, 5, 6}, ImuSample{7, 8, 9, 10, 11, 12}});
    WriteFile(dir / "a.bin.part", image + "torn");
    WriteFile(dir / "b.bin", "kept");
    WriteFile(dir / "b.bin.part", image);
    std::string renamed;
    EXPECT_EQ(LiveRecorderRecover(dir.path(), &renamed), 2);
    EXPECT_EQ(ReadFile(dir / "a.bin"), image);
    EXPECT_EQ(ReadFile(dir / "b.2.bin"), image);
    EXPECT_EQ(ReadFile(dir / "b.bin"), "kept");
}

// One process per session folder; manifests are written whole and keep
// the rows of an earlier run.
TEST(LiveSession, LockAndManifests)
{
    TempDir dir;
    const std::string folder = dir / "session";
    LiveSession first;
    std::string recovered;
    std::string reason;
    ASSERT_TRUE(LiveSessionOpen(&first, folder, &recovered, &reason)) << reason;
    LiveSession second;
    EXPECT_FALSE(LiveSessionOpen(&second, folder, &recovered, &reason));
    EXPECT_NE(reason.find("in use by another tumblewatch live"), std::string::npos) << reason;
    LiveManifestRow row{};
    row.device = "a,\"b\"\n";
    row.file = "a%2C%22b%22%0A.bin";
    row.source = "-";
    row.samples = 5;
    row.kept = 5;
    ASSERT_TRUE(LiveSessionAdd(&first, row, &reason)) << reason;
    LiveSessionClose(&first);
    ASSERT_TRUE(LiveSessionOpen(&second, folder, &recovered, &reason)) << reason;
    row.device = "c";
    row.file = "c.bin";
    ASSERT_TRUE(LiveSessionAdd(&second, row, &reason)) << reason;
    LiveSessionClose(&second);
    const std::vector<std::string> lines = SplitLines(ReadFile(folder + "/session.manifest"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind("\"a,\"\"b\"\"\\n\",a%2C%22b%22%0A.bin,-,", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("c,c.bin,", 0), 0u);
    EXPECT_EQ(ReadFile(folder + "/labels.manifest"),
              "path,label,subject,source,samples\na%2C%22b%22%0A.bin,,a%2C%22b%22%0A,-,5\nc.bin,,c,-,5\n");
    EXPECT_FALSE(LiveSessionOpen(&second, dir / "missing/session", &recovered, &reason));
}

// Many devices from two source threads on three workers: every device's
// alarms are those of a detector fed its samples in order, and each
// recording holds exactly its samples.
TEST(LiveEngine, DevicesInOrderAcrossThreads)
{
    TempDir dir;
    LiveSession session;
    std::string recovered;
    std::string reason;
    ASSERT_TRUE(LiveSessionOpen(&session, dir.path(), &recovered, &reason)) << reason;
    const std::vector<ImuSample> fall = LoadExample("double_fall.csv");
    TumblewatchConfig config;
    TumblewatchDefault(&config);
    std::vector<std::pair<uint64_t, int>> expected;
    {
        TumblewatchContext context{};
        ASSERT_EQ(TumblewatchSet(&context, &config), 0);
        for (std::size_t i = 0; i < fall.size(); ++i) {
            const int code = TumblewatchProcess(&context, &fall[i]);
            if (code > 0) {
                expected.emplace_back(i, code);
            }
        }
        TumblewatchClose(&context);
    }
    ASSERT_FALSE(expected.empty());
    std::mutex mutex;
    std::map<std::string, std::vector<std::pair<uint64_t, int>>> alarms;
    LiveSettings settings;
    settings.config = config;
    settings.threads = 3;
    settings.queueSamples = fall.size();
    LiveEngine* engine = LiveEngineStart(
        settings, &session,
        [&](const LiveAlarm& alarm) {
            std::lock_guard<std::mutex> lock(mutex);
            alarms[alarm.device].emplace_back(alarm.sample, alarm.code);
        },
        [](const std::string&) {}, &reason);
    ASSERT_NE(engine, nullptr) << reason;
    constexpr int kDevices = 24;
    auto source = [&](int first) {
        for (std::size_t at = 0; at < fall.size(); at += 7) {
            for (int d = first; d < kDevices; d += 2) {
                LiveEnginePush(engine, "dev" + std::to_string(d), "test", fall.data() + at,
                               std::min<std::size_t>(7, fall.size() - at), LiveNowNs(), LiveCounts{});
            }
        }
        for (int d = first; d < kDevices; d += 2) {
            LiveEngineEnd(engine, "dev" + std::to_string(d), "test", LiveCounts{}, "end of stream");
        }
    };
    std::thread a(source, 0);
    std::thread b(source, 1);
    a.join();
    b.join();
    const LiveTotals totals = LiveEngineStop(engine);
    LiveSessionClose(&session);
    EXPECT_EQ(totals.devices, static_cast<uint64_t>(kDevices));
    EXPECT_EQ(totals.samples, fall.size() * kDevices);
    EXPECT_FALSE(totals.recordingFailed);
    for (int d = 0; d < kDevices; ++d) {
        const std::string name = "dev" + std::to_string(d);
        EXPECT_EQ(alarms[name], expected) << name;
        EXPECT_EQ(ReadFile(dir / (name + ".bin")), DataSetImage(fall)) << name;
    }
    EXPECT_EQ(SplitLines(ReadFile(dir / "session.manifest")).size(), static_cast<std::size_t>(kDevices) + 1);
}

// A device that floods past its queue loses the excess, counted; nothing
// else is lost, and an idle device is closed and comes back as a new
// recording.
TEST(LiveEngine, BoundedQueueAndIdle)
{
    TempDir dir;
    LiveSession session;
    std::string recovered;
    std::string reason;
    ASSERT_TRUE(LiveSessionOpen(&session, dir.path(), &recovered, &reason)) << reason;
    LiveSettings settings;
    TumblewatchDefault(&settings.config);
    settings.threads = 1;
    settings.queueSamples = 10;
    settings.idleSeconds = 0.3;
    std::vector<std::string> notices;
    std::mutex mutex;
    LiveEngine* engine = LiveEngineStart(
        settings, &session, [](const LiveAlarm&) {},
        [&](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            notices.push_back(text);
        },
        &reason);
    ASSERT_NE(engine, nullptr);
    const std::vector<ImuSample> flood(5000, ImuSample{0, -8192, 0, 0, 0, 0});
    LiveEnginePush(engine, "flood", "test", flood.data(), flood.size(), LiveNowNs(), LiveCounts{});
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    LiveEnginePush(engine, "flood", "test", flood.data(), 3, LiveNowNs(), LiveCounts{});
    const LiveTotals totals = LiveEngineStop(engine);
    LiveSessionClose(&session);
    EXPECT_EQ(totals.devices, 2u);
    EXPECT_EQ(totals.samples + totals.dropped, 5003u);
    EXPECT_GE(totals.dropped, 4990u - 10u);
    const std::vector<std::string> lines = SplitLines(ReadFile(dir / "session.manifest"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find(",idle,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("flood.2.bin"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find(",stopped,"), std::string::npos) << lines[2];
    EXPECT_LE(LiveDeviceBytes(kLiveQueueDefault), std::size_t{64} << 10);
}

// A full disk (the file size limit) stops a device's recording at its last
// whole record with a message; its detector goes on and every alarm is
// still reported, and the manifest says what was kept.
TEST(LiveEngine, FullDiskStopsTheRecordingNotTheDetector)
{
    TempDir dir;
    LiveSession session;
    std::string recovered;
    std::string reason;
    ASSERT_TRUE(LiveSessionOpen(&session, dir.path(), &recovered, &reason)) << reason;
    const std::vector<ImuSample> fall = LoadExample("fall_forward.csv");
    LiveSettings settings;
    TumblewatchDefault(&settings.config);
    settings.threads = 1;
    settings.queueSamples = fall.size();
    std::mutex mutex;
    std::vector<uint64_t> alarms;
    std::string notices;
    LiveEngine* engine = LiveEngineStart(
        settings, &session,
        [&](const LiveAlarm& alarm) {
            std::lock_guard<std::mutex> lock(mutex);
            alarms.push_back(alarm.sample);
        },
        [&](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            notices += text + "\n";
        },
        &reason);
    ASSERT_NE(engine, nullptr);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 24 + 12 * 100 + 7;  // 100 records and a piece; the manifests fit
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    LiveEnginePush(engine, "full", "test", fall.data(), fall.size(), LiveNowNs(), LiveCounts{});
    LiveEngineEnd(engine, "full", "test", LiveCounts{}, "end of stream");
    const LiveTotals totals = LiveEngineStop(engine);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, previous);
    LiveSessionClose(&session);
    EXPECT_EQ(totals.samples, fall.size());
    EXPECT_EQ(alarms.size(), 7u);
    EXPECT_TRUE(totals.recordingFailed);
    EXPECT_NE(notices.find("recording stopped"), std::string::npos) << notices;
    EXPECT_NE(notices.find("detection goes on"), std::string::npos) << notices;
    const std::string kept = ReadFile(dir / "full.bin");
    EXPECT_EQ(kept.size(), 24u + 12u * 100u);
    EXPECT_EQ(kept, DataSetImage(std::vector<ImuSample>(fall.begin(), fall.begin() + 100)));
    const std::vector<std::string> rows = SplitLines(ReadFile(dir / "session.manifest"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(rows[1].find(",565,100,7,"), std::string::npos) << rows[1];
    EXPECT_NE(rows[1].find("kept 100 samples"), std::string::npos) << rows[1];
}
