// Impact test: a large three-sample acceleration sum during or right after
// a low-g spell (code 6 hard, code 16 moderate with the sensor tilted).
#include "criteria.h"
#include "trace.h"

bool CheckRecentLowPhase(const TumblewatchContext* ctx, int32_t window, int32_t length)
{
    // The limits are compared unsigned, as stored.
    if (ctx->quietRun >= static_cast<uint32_t>(length)) {
        return true;
    }
    const FallEvent& event = ctx->fallEvents[(ctx->fallEventNext - 1u) & 31u];
    if (ctx->sampleCount - event.sample > static_cast<uint32_t>(window)) {
        return false;
    }
    return event.length >= static_cast<uint32_t>(length);
}

int CheckImpact(TumblewatchContext* ctx)
{
    const TumblewatchConfig* cfg = ctx->config;
    const int32_t s = ctx->accRawSum3;

    if (s >= cfg->impactHardSum) {
        // The soft test is not tried after a hard sum.
        if (CheckRecentLowPhase(ctx, cfg->impactHardWindow, cfg->impactHardLength)) {
            return FinishSample(ctx, 6);
        }
        return 0;
    }
    const bool tilted = ctx->pitch < -55 || ctx->pitch > 55 || ctx->tilt > 45;
    if (s >= cfg->impactSoftSum && tilted) {
        if (CheckRecentLowPhase(ctx, cfg->impactSoftWindow, cfg->impactSoftLength)) {
            return FinishSample(ctx, 16);
        }
    }
    return 0;
}
