// The previous implementation, kept for comparison (see previous.h): the
// per-sample pipeline in one piece, as it was before it was split into the
// parameter-free front end and the decisions.
// The per-sample pipeline: conditioning, orientation, feature stages, ring
// windows, and from sample number 40 on the decision cascade.
#include <cassert>

#include "criteria.h"
#include "feature_stages.h"
#include "lpf.h"
#include "trace.h"
#include "update_orientation.h"

namespace {

// Samples below this number only warm the filters and windows up.
constexpr uint32_t kWarmUpSamples = 40;

// The scales in single precision, as the signal path divides by them.
constexpr float kAccelScale = static_cast<float>(kTumblewatchAccelCountsPerG);
constexpr float kGyroScale = static_cast<float>(kTumblewatchGyroCountsPerDps);

void ConditionSample(TumblewatchContext* ctx, const ImuSample* sample)
{
    const float ax = static_cast<float>(sample->accX) / kAccelScale;
    const float ay = static_cast<float>(sample->accY) / kAccelScale;
    const float az = static_cast<float>(sample->accZ) / kAccelScale;
    const float gx = static_cast<float>(sample->gyroX) / kGyroScale;
    const float gy = static_cast<float>(sample->gyroY) / kGyroScale;
    const float gz = static_cast<float>(sample->gyroZ) / kGyroScale;

    // LpfStep leaves its input untouched: lpf_X..lpf_Z stay the scaled raw
    // values and feed the second accelerometer filter below.
    const float lpf_X = ax;
    const float lpf_Y = ay;
    const float lpf_Z = az;
    LpfStep(&lpf_X, &ctx->accLpf[0].out, &ctx->accLpf[0].inPrev, &ctx->accLpf[0].outPrev);
    LpfStep(&lpf_Y, &ctx->accLpf[1].out, &ctx->accLpf[1].inPrev, &ctx->accLpf[1].outPrev);
    LpfStep(&lpf_Z, &ctx->accLpf[2].out, &ctx->accLpf[2].inPrev, &ctx->accLpf[2].outPrev);
    ctx->accLpfMag = AccelMagnitude(ctx->accLpf[0].out, ctx->accLpf[1].out, ctx->accLpf[2].out);
    ctx->accRawMag = AccelMagnitude(ax, ay, az);

    const float lpf_gyX = gx;
    const float lpf_gyY = gy;
    const float lpf_gyZ = gz;
    LpfStep(&lpf_gyX, &ctx->gyroLpf[0].out, &ctx->gyroLpf[0].inPrev, &ctx->gyroLpf[0].outPrev);
    LpfStep(&lpf_gyY, &ctx->gyroLpf[1].out, &ctx->gyroLpf[1].inPrev, &ctx->gyroLpf[1].outPrev);
    LpfStep(&lpf_gyZ, &ctx->gyroLpf[2].out, &ctx->gyroLpf[2].inPrev, &ctx->gyroLpf[2].outPrev);
    ctx->gyroLpfMag = GyroMagnitude(ctx->gyroLpf[0].out, ctx->gyroLpf[1].out, ctx->gyroLpf[2].out);
    ctx->gyroRawMag = GyroMagnitude(gx, gy, gz);

    UpdateOrientation(ctx);
    CalibrateAttitude(ctx);
    TrackRotation(ctx, sample);

    TriAxisLpfStep(&ctx->accLpf2, lpf_X, lpf_Y, lpf_Z);
    ctx->accLpf2Mag = AccelMagnitude(ctx->accLpf2.out[0], ctx->accLpf2.out[1], ctx->accLpf2.out[2]);
    ctx->upright = 0;
}

// Writes the current magnitudes into the rings and updates the windows.
// Each sum covers the current sample and the window length minus one
// samples before it.
void UpdateWindows(TumblewatchContext* ctx)
{
    const unsigned ri = ctx->ringIndex;
    ctx->accLpfRing[ri] = ctx->accLpfMag;
    ctx->accRawRing[ri] = ctx->accRawMag;
    ctx->gyroLpfRing[ri] = ctx->gyroLpfMag;

    const unsigned j5 = (ri - 5u) & 63u;
    ctx->gyroLpfSum5 = static_cast<uint16_t>(ctx->gyroLpfSum5 - ctx->gyroLpfRing[j5]);
    ctx->gyroLpfSum5 = static_cast<uint16_t>(ctx->gyroLpfSum5 + ctx->gyroLpfMag);
    ctx->gyroLpfAvg5 = static_cast<uint16_t>(ctx->gyroLpfSum5 / 5);

    const int32_t window = ctx->config->fallWindow;
    assert(window >= 1 && window <= 63 && "fallWindow must lie in 1..63");
    const unsigned jw = static_cast<unsigned>(static_cast<int32_t>(ri) - window) & 63u;
    ctx->accLpfSum = static_cast<uint16_t>(ctx->accLpfSum - ctx->accLpfRing[jw]);
    ctx->accLpfSum = static_cast<uint16_t>(ctx->accLpfSum + ctx->accLpfMag);
    ctx->accLpfAvg = static_cast<uint16_t>(static_cast<int32_t>(ctx->accLpfSum) / window);

    TrackUpright(ctx);
    UpdateShortSums(ctx);
}

// The post-event peak: the highest raw magnitude inside the window that
// follows a recorded low phase.
void TrackPeak(TumblewatchContext* ctx)
{
    if (ctx->sampleCount < ctx->peakWindowEnd && ctx->accRawMag > ctx->peakValue) {
        ctx->peakValue = ctx->accRawMag;
        ctx->peakSample = ctx->sampleCount;
    }
}

}  // namespace

int TumblewatchProcess(TumblewatchContext* ctx, const ImuSample* sample)
{
    ConditionSample(ctx, sample);
    UpdateWindows(ctx);

    if (ctx->sampleCount < kWarmUpSamples) {
        TraceSample(ctx, sample, 1);
        TraceResult(ctx, 0);
        ctx->ringIndex = static_cast<uint16_t>((ctx->ringIndex + 1) & 63);
        ctx->sampleCount += 1;
        return 0;
    }

    ctx->fallLengthNow = 0;
    TrackJump(ctx);
    TraceSample(ctx, sample, 1);

    int code = TrackFall(ctx, sample);
    if (code > 0) {
        return code;
    }
    TrackPeak(ctx);

    code = CheckRotationFall(ctx, sample);
    if (code > 0) {
        return code;
    }

    if (ctx->fallLengthNow == 0) {
        TraceSample(ctx, sample, 2);
    } else {
        ScoreFall(ctx, sample);
        TraceSample(ctx, sample, 2);
        code = FallLengthCode(ctx);
        if (code > 0) {
            return FinishSample(ctx, code);
        }
    }

    CountTumble(ctx);
    code = CheckTumble(ctx);
    if (code > 0) {
        return code;
    }
    code = CheckImpact(ctx);
    if (code > 0) {
        return code;
    }
    // No fall: the same end of a sample as after a fall, with a bare newline.
    return FinishSample(ctx, 0);
}
