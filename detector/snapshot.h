// A snapshot of the detector after a sample: the values its trace line
// shows, as a plain record, for programs that chart or inspect the
// detector's state without parsing trace text.
#ifndef TUMBLEWATCH_SNAPSHOT_H
#define TUMBLEWATCH_SNAPSHOT_H

#include <cstdint>

#include "tumblewatch.h"

// The detector's state after the latest sample, field for field what the
// trace line of that sample prints (RMS, JUMP, AVG, PX, FALL, TF, 3S). The
// decision trackers (jump, FALL, tumble) stay at rest during the first 40
// samples, whose trace line ends after PX. The line shows JUMP and PX
// before the low-g tracker runs; where the tracker changes them, the
// record holds the values after it: on the first sample of a low-g phase,
// which sets the start tilt, turn reads 0; on the phase's first deep
// sample, which clears the jump area, jumpArea reads 0; when a phase longer
// than 6 samples closes on a strong sample, which clears the jump, jumpPeak,
// jumpScore and jumpArea read 0.
struct TumblewatchSnapshotRecord {
    uint32_t sample;  // 0-based number of the latest sample (the trace line's number)

    uint16_t accRawMag;   // raw acceleration magnitude, 0.01 g
    uint16_t accLpfMag;   // low-pass filtered acceleration magnitude, 0.01 g
    uint16_t accLpf2Mag;  // second-filtered acceleration magnitude, 0.01 g
    uint16_t gyroRawMag;  // raw rotation magnitude, deg/s
    uint16_t gyroLpfMag;  // filtered rotation magnitude, deg/s

    uint16_t jumpPeak;        // highest raw magnitude of the current jump, 0.01 g
    uint32_t jumpLastSample;  // sample of the latest jump sample
    uint16_t jumpScore;       // jump score, samples
    uint16_t jumpArea;        // jump area, 0.01 g x samples
    uint16_t accLpfAvg;       // filtered acceleration averaged over fallWindow samples, 0.01 g
    uint16_t gyroLpfAvg5;     // filtered rotation averaged over 5 samples, deg/s
    int16_t pitch;            // degrees
    int16_t tilt;             // degrees
    int16_t turn;             // tilt minus the tilt at the start of the low-g phase, degrees
    bool upright;             // within pitchLimit and below tiltLimit
    uint16_t gyroXRiseCount;  // samples
    uint16_t gyroXDropCount;  // samples
    int16_t gyroXPrev;        // previous raw gyro X, counts

    uint16_t fallLength;        // length of the current low-g phase, samples
    uint16_t quietRun;          // samples in a row with filtered acceleration at most quietMagnitude
    uint16_t fallDeepCount;     // deep samples (at most 0.6 g) of the phase
    uint16_t fallRecoverCount;  // samples since the latest deep one
    uint16_t fallDepthSum;      // sum of (100 - magnitude) over the deep samples, 0.01 g
    uint16_t fallDepth;         // fallDepthSum / fallDeepCount (0 without deep samples), 0.01 g
    uint16_t gyroXHighRun;      // samples in a row with |raw gyro X| above 5000 counts
    int16_t fallScore;          // the phase's score adjustment, samples
    uint16_t fallLengthNow;     // length of a phase confirmed in this sample, else 0, samples

    uint16_t tumbleRun;       // samples in a row of strong acceleration with fast rotation
    int32_t tumbleThreshold;  // run the tumble test needs, once tumbleRun reaches tumbleLength, else -1
    uint16_t accRawSum3;      // raw acceleration magnitude summed over 3 samples, 0.01 g
    uint16_t gyroLpfSum3;     // filtered rotation summed over 3 samples, deg/s
};

// Fills *record from a detector that has processed at least one sample
// (ctx->sampleCount > 0) and has not been closed. Reads ctx only; allocates
// nothing, keeps nothing. Returns 0, or -1 (record untouched) for a null
// argument or a detector that has processed no sample.
int TumblewatchSnapshot(const TumblewatchContext* ctx, TumblewatchSnapshotRecord* record);

#endif
