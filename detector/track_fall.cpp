// Low-g phase tracking: opens, deepens, confirms and closes phases of
// accLpf2Mag below 0.95 g and records finished phases as events.
#include "criteria.h"
#include "trace.h"

namespace {

constexpr int32_t kLowBand = 95;      // a phase sample is at most 0.95 g
constexpr int32_t kShallowBand = 90;  // above this only a short phase grows
constexpr int32_t kDeepLevel = 60;    // deep samples are at most 0.6 g
constexpr uint16_t kShallowCap = 5;
constexpr uint16_t kLengthCap = 30;

void Increment(uint16_t* counter)
{
    *counter = static_cast<uint16_t>(*counter + 1);
}

// Counts a sample since the last deep one and closes the phase once the
// signal has recovered for five samples.
void CountRecovery(TumblewatchContext* ctx)
{
    Increment(&ctx->fallRecoverCount);
    if (ctx->fallRecoverCount >= 5 && ctx->accLpfMag > kDeepLevel) {
        CloseFall(ctx);
    }
}

// A deep sample of an open phase; returns the repeat-fall code or 0.
int DeepSample(TumblewatchContext* ctx, const ImuSample* sample, int32_t m)
{
    ctx->fallRecoverCount = 0;
    Increment(&ctx->fallDeepCount);
    ctx->fallDepthSum = static_cast<uint16_t>(ctx->fallDepthSum + 100 - m);

    if (ctx->fallDeepCount == 1) {
        // A long shallow prelude restarts the phase at its first deep sample.
        if (ctx->fallLength > 10) {
            ctx->fallLength = 1;
            ctx->fallLongPrelude = 1;
        } else if (ctx->fallLength > 7) {
            ctx->fallLength = 5;
        }
        ctx->jumpArea = 0;
    }

    if (ctx->fallLength >= 5 && ctx->fallDeepCount >= ctx->fallLength / 2) {
        ctx->fallLengthNow = ctx->fallLength;
        ctx->fallConfirmSample = ctx->sampleCount;
        ctx->fallConfirmLength = ctx->fallLength;
        ScoreFall(ctx, sample);
        TraceSample(ctx, sample, 2);
        const int code = CheckRepeatFall(ctx);
        if (code != 0) {
            return code;
        }
    }
    return 0;
}

}  // namespace

int TrackFall(TumblewatchContext* ctx, const ImuSample* sample)
{
    const TumblewatchConfig* cfg = ctx->config;
    const int32_t m = ctx->accLpf2Mag;

    if (ctx->accLpfMag > cfg->quietMagnitude) {
        ctx->quietRun = 0;
    } else {
        Increment(&ctx->quietRun);
    }

    if (sample->gyroX < -5000 || sample->gyroX > 5000) {
        Increment(&ctx->gyroXHighRun);
    } else {
        ctx->gyroXHighRun = 0;
    }

    if (m <= kLowBand) {
        const uint16_t cap = m > kShallowBand ? kShallowCap : kLengthCap;
        if (ctx->fallLength < cap) {
            Increment(&ctx->fallLength);
        }
        if (ctx->fallLength == 1) {
            ctx->fallStartSample = ctx->sampleCount;
            ctx->fallStartTilt = ctx->tilt;
        }
        if (m > kDeepLevel) {
            if (ctx->fallDeepCount > 0) {
                CountRecovery(ctx);
            }
            return 0;
        }
        return DeepSample(ctx, sample, m);
    }

    if (ctx->fallLength > 0) {
        CountRecovery(ctx);
        // Independently of the recovery count: a strong sample ends the phase.
        // When both hold the second close finds no phase and records nothing.
        if (ctx->accRawMag > 170 && ctx->accLpfMag > kDeepLevel) {
            CloseFall(ctx);
        }
    }
    return 0;
}

void CloseFall(TumblewatchContext* ctx)
{
    RecordFall(ctx);
    if (ctx->fallLength > 6 && ctx->accLpf2Mag > 170) {
        ResetJump(ctx);
    }
    ctx->fallLength = 0;
    ctx->fallDeepCount = 0;
    ctx->fallDepthSum = 0;
    ctx->fallLongPrelude = 0;
}

void RecordFall(TumblewatchContext* ctx)
{
    if (ctx->fallLength >= ctx->config->recordLength && ctx->fallDeepCount >= ctx->fallLength / 2) {
        FallEvent& event = ctx->fallEvents[ctx->fallEventNext];
        event.sample = ctx->fallConfirmSample;
        event.length = ctx->fallConfirmLength;
        ctx->fallEventNext = (ctx->fallEventNext + 1) & 31u;

        // A window that ends exactly at the current sample keeps its peak;
        // an open window is extended and keeps the peak found so far.
        if (ctx->peakWindowEnd < ctx->sampleCount) {
            ctx->peakValue = 0;
        }
        ctx->peakWindowEnd = ctx->sampleCount + 20u;
    }
    ctx->quietRun = 0;
}
