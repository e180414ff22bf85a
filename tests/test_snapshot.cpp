// The detector's snapshot after each sample against the trace line of that
// sample, on every generated recording and on random input: every value
// the trace prints, read from the context instead of the text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "scenarios.h"
#include "snapshot.h"
#include "test_support.h"

namespace {

// The numbers of one trace line, by fragment; a fragment the line lacks
// is marked absent.
struct TracedLine {
    int sample = -1;
    int rms[5] = {};
    int jump[4] = {};
    int avg[2] = {};
    int px[3] = {};
    char upright = '?';
    int pxCounts[3] = {};
    bool hasFall = false;
    int fall[9] = {};  // length, quiet, deep, recover, depth sum, depth, gyro-X run, score, length now
    bool hasTumble = false;
    int tumble[2] = {-1, -1};
    int sums[2] = {};
};

TracedLine ParseLine(const std::string& line)
{
    TracedLine t;
    const char* s = line.c_str();
    EXPECT_EQ(std::sscanf(s, "%d:", &t.sample), 1) << line;
    const char* rms = std::strstr(s, ", RMS <");
    EXPECT_NE(rms, nullptr) << line;
    EXPECT_EQ(std::sscanf(rms,
                          ", RMS <%d, %d, %d><%d, %d>, JUMP (%d, %d, %d, %d), AVG <%d, %d>, PX <%d, %d, %d, %c><%d, "
                          "%d, %d>",
                          &t.rms[0], &t.rms[1], &t.rms[2], &t.rms[3], &t.rms[4], &t.jump[0], &t.jump[1], &t.jump[2],
                          &t.jump[3], &t.avg[0], &t.avg[1], &t.px[0], &t.px[1], &t.px[2], &t.upright, &t.pxCounts[0],
                          &t.pxCounts[1], &t.pxCounts[2]),
              18)
        << line;
    if (const char* fall = std::strstr(s, ", FALL [")) {
        t.hasFall =
            std::sscanf(fall, ", FALL [%d, %d, %d, %d, %d(%d), %d, %d : %d]", &t.fall[0], &t.fall[1], &t.fall[2],
                        &t.fall[3], &t.fall[4], &t.fall[5], &t.fall[6], &t.fall[7], &t.fall[8]) == 9;
        EXPECT_TRUE(t.hasFall) << line;
    }
    if (const char* tf = std::strstr(s, ", TF <")) {
        t.hasTumble = std::sscanf(tf, ", TF <%d, %d>", &t.tumble[0], &t.tumble[1]) >= 1;
        const char* sums = std::strstr(tf, ", 3S <");
        EXPECT_TRUE(t.hasTumble && sums != nullptr && std::sscanf(sums, ", 3S <%d, %d>", &t.sums[0], &t.sums[1]) == 2)
            << line;
    }
    return t;
}

// Runs samples through a default detector and compares each sample's
// snapshot with its trace line; adds the number of samples compared to
// *compared.
void CompareWithTrace(const std::vector<ImuSample>& samples, const std::string& what, size_t* compared)
{
    TraceCapture capture;
    Detector detector;
    std::vector<TumblewatchSnapshotRecord> snapshots(samples.size());
    std::vector<bool> firstDeep(samples.size(), false);
    std::vector<bool> phaseStart(samples.size(), false);
    std::vector<bool> jumpCleared(samples.size(), false);
    for (size_t i = 0; i < samples.size(); ++i) {
        const uint16_t deepBefore = detector.ctx.fallDeepCount;
        const uint16_t lengthBefore = detector.ctx.fallLength;
        const uint16_t peakBefore = detector.ctx.jumpPeak;
        TumblewatchProcess(&detector.ctx, &samples[i]);
        firstDeep[i] = deepBefore == 0 && detector.ctx.fallDeepCount == 1;
        phaseStart[i] = i >= 40 && detector.ctx.fallStartSample == i;
        jumpCleared[i] =
            lengthBefore > 6 && detector.ctx.fallLength == 0 && peakBefore != 0 && detector.ctx.jumpPeak == 0;
        EXPECT_EQ(TumblewatchSnapshot(&detector.ctx, &snapshots[i]), 0);
    }
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(lines.size(), samples.size()) << what;
    *compared += lines.size();
    for (size_t i = 0; i < lines.size() && i < samples.size(); ++i) {
        const TracedLine t = ParseLine(lines[i]);
        const TumblewatchSnapshotRecord& r = snapshots[i];
        const std::string where = what + ", sample " + std::to_string(i) + ": " + lines[i];
        ASSERT_EQ(static_cast<int>(r.sample), t.sample) << where;
        const int rms[5] = {r.accRawMag, r.accLpfMag, r.accLpf2Mag, r.gyroRawMag, r.gyroLpfMag};
        // The first deep sample of a phase clears the jump area, a phase
        // that closes after a strong sample the whole jump, after the line
        // showed them.
        const bool cleared = jumpCleared[i];
        const int jump[4] = {cleared ? t.jump[0] : r.jumpPeak, static_cast<int>(r.jumpLastSample),
                             cleared ? t.jump[2] : r.jumpScore, cleared || firstDeep[i] ? t.jump[3] : r.jumpArea};
        const int avg[2] = {r.accLpfAvg, r.gyroLpfAvg5};
        // The first sample of a phase sets the start tilt after the line
        // showed the turn from the one before.
        const int px[3] = {r.pitch, r.tilt, phaseStart[i] ? t.px[2] : r.turn};
        const int counts[3] = {r.gyroXRiseCount, r.gyroXDropCount, r.gyroXPrev};
        for (int k = 0; k < 5; ++k) {
            ASSERT_EQ(rms[k], t.rms[k]) << where;
        }
        for (int k = 0; k < 4; ++k) {
            ASSERT_EQ(jump[k], t.jump[k]) << where;
        }
        if (firstDeep[i] || cleared) {
            ASSERT_EQ(r.jumpArea, 0) << where;
        }
        if (cleared) {
            ASSERT_EQ(r.jumpScore, 0) << where;
        }
        if (phaseStart[i]) {
            ASSERT_EQ(r.turn, 0) << where;
        }
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(px[k], t.px[k]) << where;
            ASSERT_EQ(counts[k], t.pxCounts[k]) << where;
        }
        ASSERT_EQ(avg[0], t.avg[0]) << where;
        ASSERT_EQ(avg[1], t.avg[1]) << where;
        ASSERT_EQ(r.upright ? 'O' : 'X', t.upright) << where;
        if (t.hasFall) {
            const int fall[9] = {r.fallLength, r.quietRun,     r.fallDeepCount, r.fallRecoverCount, r.fallDepthSum,
                                 r.fallDepth,  r.gyroXHighRun, r.fallScore,     r.fallLengthNow};
            for (int k = 0; k < 9; ++k) {
                ASSERT_EQ(fall[k], t.fall[k]) << where << " (FALL field " << k << ")";
            }
        }
        if (t.hasTumble) {
            ASSERT_EQ(r.tumbleRun, t.tumble[0]) << where;
            ASSERT_EQ(r.tumbleThreshold, t.tumble[1]) << where;
            ASSERT_EQ(r.accRawSum3, t.sums[0]) << where;
            ASSERT_EQ(r.gyroLpfSum3, t.sums[1]) << where;
        } else {
            // Warm-up: the decision trackers are at rest.
            ASSERT_LT(i, 40u) << where;
            ASSERT_EQ(r.tumbleRun, 0) << where;
            ASSERT_EQ(r.fallLength, 0) << where;
            ASSERT_EQ(r.jumpScore, 0) << where;
        }
    }
}

TEST(Snapshot, EveryTracedValueOfEveryGeneratedRecording)
{
    size_t compared = 0;
    for (const recgen::Scenario& scenario : recgen::Scenarios()) {
        CompareWithTrace(recgen::MakeRecording(scenario).samples, scenario.name, &compared);
        if (HasFatalFailure()) {
            return;
        }
    }
    EXPECT_GT(compared, 70000u);
}

TEST(Snapshot, RandomAndSaturatedInput)
{
    // Tumbles, jumps and impacts that daily life rarely gives: random
    // values across the whole range, then runs of saturated samples.
    std::mt19937 rng(13);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::vector<ImuSample> samples;
    for (int i = 0; i < 4000; ++i) {
        const bool saturated = (i / 100) % 3 == 1;
        auto value = [&] { return static_cast<int16_t>(saturated ? (any(rng) < 0 ? -32768 : 32767) : any(rng)); };
        samples.push_back(ImuSample{value(), value(), value(), value(), value(), value()});
    }
    size_t compared = 0;
    CompareWithTrace(samples, "random", &compared);
    EXPECT_EQ(compared, samples.size());
}

TEST(Snapshot, RefusesWhatItCannotRead)
{
    Detector detector;
    TumblewatchSnapshotRecord record{};
    record.sample = 77;
    EXPECT_EQ(TumblewatchSnapshot(&detector.ctx, &record), -1);  // no sample yet
    EXPECT_EQ(record.sample, 77u);
    detector.Feed(kUpright);
    EXPECT_EQ(TumblewatchSnapshot(&detector.ctx, nullptr), -1);
    EXPECT_EQ(TumblewatchSnapshot(nullptr, &record), -1);
    ASSERT_EQ(TumblewatchSnapshot(&detector.ctx, &record), 0);
    EXPECT_EQ(record.sample, 0u);
    EXPECT_EQ(record.accRawMag, 100);
}

}  // namespace
