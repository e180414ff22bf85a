// Public interface of the Tumblewatch fall detector.
//
// The caller owns a TumblewatchConfig and a TumblewatchContext, fills the
// configuration with TumblewatchDefault, prepares the context with
// TumblewatchSet, feeds one ImuSample at a time to TumblewatchProcess and
// ends with TumblewatchClose.
#ifndef TUMBLEWATCH_H
#define TUMBLEWATCH_H

#include <cstdint>
#include <cstdio>

// One raw sample: accelerometer (8192 counts per g) then gyroscope
// (65.536 counts per deg/s). The same 12 bytes in memory and on disk.
struct ImuSample {
    int16_t accX;
    int16_t accY;
    int16_t accZ;
    int16_t gyroX;
    int16_t gyroY;
    int16_t gyroZ;
};
static_assert(sizeof(ImuSample) == 12, "ImuSample must be exactly 12 bytes");

// The detector's 35 parameters, in this order and with no other members.
struct TumblewatchConfig {
    int32_t fallWindow;
    int32_t quietMagnitude;
    int32_t jumpBandLow;
    int32_t jumpBandHigh;
    int32_t rotationLow;
    int32_t rotationHigh;
    int32_t weightedAccelMax;
    int32_t param7;
    int32_t pitchLimit;
    int32_t param9;
    int32_t param10;
    int32_t tiltLimit;
    int32_t recordLength;
    int32_t param13;
    int32_t param14;
    int32_t param15;
    int32_t param16;
    int32_t impactHardSum;
    int32_t impactHardWindow;
    int32_t impactHardLength;
    int32_t impactSoftSum;
    int32_t impactSoftWindow;
    int32_t impactSoftLength;
    int32_t param23;
    int32_t param24;
    int32_t tumbleAccel;
    int32_t tumbleGyro;
    int32_t tumbleLength;
    int32_t repeatPrevLength;
    int32_t repeatLength;
    int32_t repeatTotalLength;
    int32_t repeatGapMin;
    int32_t repeatGapMax;
    int32_t repeatPeak;
    int32_t param34;
};
static_assert(sizeof(TumblewatchConfig) == 35 * sizeof(int32_t), "TumblewatchConfig holds 35 int32 fields");

// One channel of the shared-coefficient low-pass filter.
struct LpfState {
    float out;
    float inPrev;
    float outPrev;
};

// Three-channel low-pass filter with coefficients of its own.
struct TriAxisLpf {
    float a1;
    float b0;
    float b1;
    float inPrev[3];
    float out[3];
};

// A recorded low-g phase.
struct FallEvent {
    uint32_t sample;
    uint16_t length;
};

class Quaternion;

// Orientation filter state; the quaternion lives on the heap.
struct OrientationFilter {
    Quaternion* orientation;
    double gyroBias[3];
    double spare[3];
    int32_t biasCount;
};

// The whole state of one detector instance.
struct TumblewatchContext {
    const TumblewatchConfig* config;
    OrientationFilter orient;
    uint32_t sampleCount;
    uint16_t accLpfRing[64];
    uint16_t accRawRing[64];
    uint16_t gyroLpfRing[64];
    uint32_t uprightTotal;
    uint32_t uprightRing[64];
    uint32_t jumpLastSample;
    uint16_t jumpPeak;  // jumpPeak .. jumpScoredPeak are cleared as one block
    uint16_t jumpScore;
    uint16_t jumpArea;
    uint16_t jumpScoredPeak;
    uint16_t jumpSamples;
    uint16_t jumpGap;
    uint32_t fallEventNext;
    uint32_t fallStartSample;
    uint32_t fallConfirmSample;
    uint16_t fallLength;
    uint16_t fallDeepCount;
    uint16_t fallRecoverCount;
    uint16_t accLpf2Mag;
    uint16_t fallConfirmLength;
    uint16_t fallDepthSum;
    uint16_t gyroXHighRun;
    uint16_t fallLongPrelude;
    int16_t fallStartTilt;
    uint16_t quietRun;
    FallEvent fallEvents[32];
    uint16_t ringIndex;
    uint16_t accLpfSum;
    uint16_t gyroLpfSum5;
    uint16_t accRawSum3;
    uint16_t gyroLpfSum3;
    uint16_t tumbleRun;
    uint32_t peakWindowEnd;
    uint16_t peakValue;
    uint32_t peakSample;  // full sample number of peakValue
    int16_t pitchOffset;
    int16_t tiltOffset;
    LpfState accLpf[3];
    LpfState gyroLpf[3];
    uint16_t accRawMag;
    uint16_t accLpfMag;
    uint16_t gyroRawMag;
    uint16_t gyroLpfMag;
    uint16_t accLpfAvg;
    uint16_t gyroLpfAvg5;
    int16_t pitch;
    int16_t tilt;
    uint16_t fallLengthNow;
    int16_t fallScore;
    uint16_t upright;
    uint16_t gyroXRiseCount;
    uint16_t gyroXDropCount;
    int16_t gyroXPrev;
    TriAxisLpf accLpf2;
    int32_t fallTraced;
};

// The trace file of the calling thread: every thread has its own handle,
// null until that thread sets it; the detector writes nothing while it is
// null. The caller opens and closes the file.
extern thread_local FILE* fpTrace;

int TumblewatchDefault(TumblewatchConfig* cfg);
int TumblewatchSet(TumblewatchContext* ctx, const TumblewatchConfig* cfg);
int TumblewatchProcess(TumblewatchContext* ctx, const ImuSample* sample);
int TumblewatchClose(TumblewatchContext* ctx);
const char* TumblewatchVersion();

#endif
