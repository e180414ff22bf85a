// The per-sample pipeline in its two halves, for programs that run one
// recording under many configurations (the workbench's sweep):
//
//   TumblewatchFrontEnd   reads no parameter: scaling, the low-pass filters,
//                         the magnitudes, the orientation filter and the
//                         attitude, the calibration, the gyro-X rise count,
//                         the rings and the parameter-free window sums;
//   TumblewatchDecide     the rest: the fallWindow average, the upright
//                         count (pitchLimit, tiltLimit), the warm-up end
//                         and the decision cascade, with the trace.
//
// TumblewatchProcess is TumblewatchFrontEnd then TumblewatchDecide. What
// the front end leaves for the decisions of a sample is the same under
// every configuration, so it can be computed once per recording
// (TumblewatchFrontEndRecord) and put back into a context before each
// TumblewatchDecide (TumblewatchFrontEndLoad): the decisions, their codes
// and every member they write come out exactly as from TumblewatchProcess.
#ifndef TUMBLEWATCH_FRONT_END_H
#define TUMBLEWATCH_FRONT_END_H

#include <cstddef>
#include <cstdint>

#include "tumblewatch.h"

// What the decision half reads of the front end's work on one sample: the
// context members of the same names, as the front end leaves them.
struct TumblewatchFrontEndValues {
    uint16_t accRawMag;       // 0.01 g
    uint16_t accLpfMag;       // 0.01 g (also the accLpfRing entry of the sample)
    uint16_t accLpf2Mag;      // 0.01 g
    uint16_t gyroRawMag;      // deg/s
    uint16_t gyroLpfAvg5;     // deg/s
    int16_t pitch;            // degrees, calibrated
    int16_t tilt;             // degrees, calibrated
    uint16_t gyroXRiseCount;  // rises
    uint16_t accRawSum3;      // 0.01 g
};
static_assert(sizeof(TumblewatchFrontEndValues) == 18, "the front end keeps 18 bytes per sample");

// The parameter-free half of TumblewatchProcess on a set-up context. Reads
// nothing of ctx->config. Leaves the sample open: TumblewatchDecide ends
// it.
void TumblewatchFrontEnd(TumblewatchContext* ctx, const ImuSample* sample);

// The parameter-dependent half: after TumblewatchFrontEnd (or
// TumblewatchFrontEndLoad) of the same sample, runs the windows that read
// the configuration, the warm-up end or the decision cascade, writes the
// sample's trace line when fpTrace is set, ends the sample and returns its
// fall code. Allocates nothing.
int TumblewatchDecide(TumblewatchContext* ctx, const ImuSample* sample);

// Copies what the decision half reads of the front end's work out of ctx,
// after TumblewatchFrontEnd of a sample.
void TumblewatchFrontEndSave(const TumblewatchContext* ctx, TumblewatchFrontEndValues* values);

// Puts a sample's saved values into a set-up context in place of its own
// front end (and writes the sample's accLpfRing entry). The members that
// only the trace shows of the front end (gyroLpfMag, gyroXDropCount,
// gyroXPrev, gyroLpfSum3) and the filters' state are not restored: a
// context run this way must not be traced (fpTrace null), and only its
// decisions, not its snapshot, match TumblewatchProcess.
void TumblewatchFrontEndLoad(TumblewatchContext* ctx, const TumblewatchFrontEndValues* values);

// Called for each sample whose decisions returned a fall code: its 0-based
// number and the code; user is the caller's.
using TumblewatchAlarmFn = void (*)(void* user, uint32_t sample, int code);

// TumblewatchFrontEndLoad then TumblewatchDecide for every sample of
// samples[0, count), whose saved values are values[0, count), on a context
// just set up with the configuration to run; calls onAlarm (with user) for
// every positive code. Afterwards ctx holds the state after the last
// sample. Allocates nothing; fpTrace must be null.
void TumblewatchDecideRecording(TumblewatchContext* ctx, const ImuSample* samples,
                                const TumblewatchFrontEndValues* values, std::size_t count, TumblewatchAlarmFn onAlarm,
                                void* user);

// Runs the front end alone over samples[0, count) on a fresh detector (set
// up with the defaults: the front end reads none of them) and writes each
// sample's values to values[0, count). The temporary context's quaternion
// is freed before it returns; nothing else is allocated.
void TumblewatchFrontEndRecord(const ImuSample* samples, std::size_t count, TumblewatchFrontEndValues* values);

#endif
