// Public interface of the Tumblewatch fall detector.
//
// Use: the caller owns a TumblewatchConfig and a TumblewatchContext (any
// storage: automatic, static or heap), and calls, in this order:
//
//   TumblewatchDefault(&cfg);              // the tuned defaults (params.h names them)
//   if (TumblewatchSet(&ctx, &cfg) < 0)    // set up; allocates one quaternion
//       ...                                // refused: nothing to close
//   for each sample, 50 per second:
//       code = TumblewatchProcess(&ctx, &sample);   // 0, or the fall code
//   TumblewatchClose(&ctx);                // frees the quaternion
//
// Every successful TumblewatchSet needs its TumblewatchClose before the
// context is set up again or its storage goes: TumblewatchSet cannot tell a
// set-up context from uninitialised storage, so it never frees an earlier
// quaternion. Do not copy a set-up context: the copy would share its
// quaternion.
//
// Threads: a context, and the configuration it points to, belong to one
// thread at a time; nothing is locked. Different contexts may run side by
// side in different threads (they may share one configuration that no
// thread changes meanwhile). TumblewatchDefault and TumblewatchVersion may
// be called from any thread. The trace handle fpTrace is per thread.
//
// Results: a negative value is a failure, 0 success; TumblewatchProcess
// returns a fall code.
#ifndef TUMBLEWATCH_H
#define TUMBLEWATCH_H

#include <cstdint>
#include <cstdio>

// Scales of the raw counts of an ImuSample.
constexpr double kTumblewatchAccelCountsPerG = 8192.0;   // accelerometer counts per g
constexpr double kTumblewatchGyroCountsPerDps = 65.536;  // gyroscope counts per deg/s

// One raw sample: accelerometer then gyroscope, in counts (scales above).
// The same 12 bytes in memory and on disk.
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
// Units: 0.01 g (100 = 1 g) for acceleration magnitudes and for sums of
// three of them, deg/s for rotation magnitudes, whole degrees for angles,
// samples for lengths, windows and gaps. The ten "not read" fields are set
// by TumblewatchDefault and read by no stage. params.h gives every field's
// name, default and meaning.
struct TumblewatchConfig {
    int32_t fallWindow;         // samples, 1..63
    int32_t quietMagnitude;     // 0.01 g
    int32_t jumpBandLow;        // 0.01 g
    int32_t jumpBandHigh;       // 0.01 g
    int32_t rotationLow;        // deg/s
    int32_t rotationHigh;       // deg/s
    int32_t weightedAccelMax;   // 0.01 g
    int32_t param7;             // not read
    int32_t pitchLimit;         // degrees
    int32_t param9;             // not read
    int32_t param10;            // not read
    int32_t tiltLimit;          // degrees, not 15
    int32_t recordLength;       // samples
    int32_t param13;            // not read
    int32_t param14;            // not read
    int32_t param15;            // not read
    int32_t param16;            // not read
    int32_t impactHardSum;      // 0.01 g, sum of 3 samples
    int32_t impactHardWindow;   // samples
    int32_t impactHardLength;   // samples
    int32_t impactSoftSum;      // 0.01 g, sum of 3 samples
    int32_t impactSoftWindow;   // samples
    int32_t impactSoftLength;   // samples
    int32_t param23;            // not read
    int32_t param24;            // not read
    int32_t tumbleAccel;        // 0.01 g
    int32_t tumbleGyro;         // deg/s
    int32_t tumbleLength;       // samples
    int32_t repeatPrevLength;   // samples
    int32_t repeatLength;       // samples
    int32_t repeatTotalLength;  // samples
    int32_t repeatGapMin;       // samples
    int32_t repeatGapMax;       // samples
    int32_t repeatPeak;         // 0.01 g
    int32_t param34;            // not read
};
static_assert(sizeof(TumblewatchConfig) == 35 * sizeof(int32_t), "TumblewatchConfig holds 35 int32 fields");

// The records below are parts of the context: the detector's own state.

// One channel of the shared-coefficient low-pass filter (unit of its input).
struct LpfState {
    float out;      // latest output
    float inPrev;   // previous input
    float outPrev;  // previous output
};

// Three-channel low-pass filter with coefficients of its own.
struct TriAxisLpf {
    float a1;  // coefficients
    float b0;
    float b1;
    float inPrev[3];  // previous inputs X, Y, Z
    float out[3];     // latest outputs X, Y, Z
};

// A recorded low-g phase.
struct FallEvent {
    uint32_t sample;  // sample number
    uint16_t length;  // samples
};

class Quaternion;

// Orientation filter state; the quaternion lives on the heap.
struct OrientationFilter {
    Quaternion* orientation;  // allocated by TumblewatchSet, freed by TumblewatchClose
    double gyroBias[3];       // deg/s
    double spare[3];
    int32_t biasCount;  // samples in the bias estimate
};

// The whole state of one detector instance. Its members are the detector's
// own state, written by TumblewatchSet and TumblewatchProcess: a caller
// changes none of them and reads them only through the accessors declared
// below. Units: acceleration magnitudes in 0.01 g (100 = 1 g), rotation
// magnitudes in deg/s, angles in whole degrees, all truncated toward zero;
// sample numbers count from 0 at set-up; lengths and runs are samples. The
// five rings of 64 entries share the write position ringIndex; the sums
// wrap modulo 65536.
struct TumblewatchContext {
    // Set-up.
    const TumblewatchConfig* config;  // the caller's record, read at every sample
    OrientationFilter orient;

    // Sample count and histories.
    uint32_t sampleCount;      // samples since set-up; during a sample, its number
    uint16_t accLpfRing[64];   // 0.01 g, accLpfMag
    uint16_t accRawRing[64];   // 0.01 g, accRawMag
    uint16_t gyroLpfRing[64];  // deg/s, gyroLpfMag
    uint32_t uprightTotal;     // upright samples since set-up
    uint32_t uprightRing[64];  // uprightTotal at the end of each sample

    // Jump tracking.
    uint32_t jumpLastSample;  // sample number of the latest in-band sample
    uint16_t jumpPeak;        // 0.01 g; jumpPeak .. jumpScoredPeak are cleared as one block
    uint16_t jumpScore;       // 0..13
    uint16_t jumpArea;        // 0.01 g x samples
    uint16_t jumpScoredPeak;  // 0.01 g
    uint16_t jumpSamples;     // in band
    uint16_t jumpGap;         // out of band

    // Low-g phases.
    uint32_t fallEventNext;      // next slot of fallEvents, 0..31
    uint32_t fallStartSample;    // sample number
    uint32_t fallConfirmSample;  // sample number
    uint16_t fallLength;         // samples
    uint16_t fallDeepCount;      // samples
    uint16_t fallRecoverCount;   // samples
    uint16_t accLpf2Mag;         // 0.01 g, magnitude of accLpf2
    uint16_t fallConfirmLength;  // samples
    uint16_t fallDepthSum;       // 0.01 g x samples
    uint16_t gyroXHighRun;       // samples
    uint16_t fallLongPrelude;    // 0 or 1
    int16_t fallStartTilt;       // degrees
    uint16_t quietRun;           // samples
    FallEvent fallEvents[32];    // ring of recorded low phases

    // Window sums and the tumble run.
    uint16_t ringIndex;    // write position of the rings, 0..63
    uint16_t accLpfSum;    // 0.01 g, latest fallWindow entries of accLpfRing
    uint16_t gyroLpfSum5;  // deg/s, latest 5 entries of gyroLpfRing
    uint16_t accRawSum3;   // 0.01 g, latest 3 accRawMag
    uint16_t gyroLpfSum3;  // deg/s, latest 3 gyroLpfMag
    uint16_t tumbleRun;    // samples

    // Peak after a recorded low phase.
    uint32_t peakWindowEnd;  // sample number, exclusive
    uint16_t peakValue;      // 0.01 g
    uint32_t peakSample;     // full sample number of peakValue

    // Attitude calibration.
    int16_t pitchOffset;  // degrees, 0 until calibrated
    int16_t tiltOffset;   // degrees, 0 until calibrated

    // The current sample's signals.
    LpfState accLpf[3];      // g
    LpfState gyroLpf[3];     // deg/s
    uint16_t accRawMag;      // 0.01 g
    uint16_t accLpfMag;      // 0.01 g
    uint16_t gyroRawMag;     // deg/s
    uint16_t gyroLpfMag;     // deg/s
    uint16_t accLpfAvg;      // 0.01 g, accLpfSum / fallWindow
    uint16_t gyroLpfAvg5;    // deg/s, gyroLpfSum5 / 5
    int16_t pitch;           // degrees
    int16_t tilt;            // degrees
    uint16_t fallLengthNow;  // samples, when a low phase was confirmed in this sample, else 0
    int16_t fallScore;       // samples, length adjustment
    uint16_t upright;        // 0 or 1

    // Rotation about X.
    uint16_t gyroXRiseCount;  // rises
    uint16_t gyroXDropCount;  // drops since the last rise
    int16_t gyroXPrev;        // counts

    // Second accelerometer filter and the trace.
    TriAxisLpf accLpf2;  // g
    int32_t fallTraced;  // 0 or 1
};

// Per-thread storage of fpTrace. GCC and Clang take __thread: the same
// per-thread variable as thread_local for a constant-initialised pointer,
// without the initialisation wrapper that every use of an extern
// thread_local variable goes through (and whose null check GCC 12
// miscompiles under -fsanitize=undefined at -O2).
#if defined(__GNUC__)
#define TUMBLEWATCH_THREAD_LOCAL __thread
#else
#define TUMBLEWATCH_THREAD_LOCAL thread_local
#endif

// The trace file of the calling thread: every thread has its own handle,
// null until that thread sets it; the detector writes nothing while it is
// null. While it is set, every TumblewatchProcess call of that thread
// writes one text line to it. The caller opens, flushes and closes the
// file; the detector only writes.
extern TUMBLEWATCH_THREAD_LOCAL FILE* fpTrace;

// Writes the 35 defaults into *cfg and returns 0. Allocates nothing.
int TumblewatchDefault(TumblewatchConfig* cfg);

// Sets *ctx up for a new recording with the configuration *cfg and returns
// 0; returns -1 when ctx or cfg is null or when TumblewatchCheck (params.h)
// refuses *cfg, and then neither changes *ctx nor allocates anything. On
// success the whole context is overwritten (any earlier content is
// ignored) and one orientation quaternion is allocated, which only
// TumblewatchClose frees. *cfg is not copied: it must stay alive until the
// last TumblewatchProcess on ctx. A change of *cfg takes effect at the next
// sample; fallWindow must stay within 1..63 and tiltLimit other than 15.
int TumblewatchSet(TumblewatchContext* ctx, const TumblewatchConfig* cfg);

// Runs one sample through a context between a successful TumblewatchSet
// and its TumblewatchClose, and returns the sample's fall code: 0 for
// none, otherwise 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16 or 71, the criterion
// that fired. Samples come at 50 per second, in counts. Keeps nothing
// allocated between calls. Writes the sample's trace line when fpTrace is
// set.
int TumblewatchProcess(TumblewatchContext* ctx, const ImuSample* sample);

// Frees the orientation quaternion of a set-up context and returns 0. A
// second call does nothing; null is accepted. The members keep their last
// values and stay readable; the context may be set up again. Never call it
// on a context that TumblewatchSet did not accept.
int TumblewatchClose(TumblewatchContext* ctx);

// The algorithm's version, "J6-Tumblewatch-" and the library's version
// number (e.g. "J6-Tumblewatch-2.1.1"): constant text in static storage,
// valid for the whole process; not to be changed or freed.
const char* TumblewatchVersion();

// Accessors of a set-up (or closed) context.

// Samples processed since set-up: after a TumblewatchProcess call, the
// 1-based number of the sample just processed.
uint32_t TumblewatchSampleCount(const TumblewatchContext* ctx);

// Magnitude of the latest sample's raw acceleration in 0.01 g (100 = 1 g),
// truncated toward zero; 0 before the first sample.
uint16_t TumblewatchAccRawMag(const TumblewatchContext* ctx);

#endif
