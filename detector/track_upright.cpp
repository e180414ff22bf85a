// Upright flag and the cumulative upright count kept per ring slot.
#include "feature_stages.h"

void TrackUpright(TumblewatchContext* ctx)
{
    const TumblewatchConfig* cfg = ctx->config;
    // 64 bits: the negated limit cannot overflow.
    const int64_t pitchLimit = cfg->pitchLimit;
    if (ctx->pitch > -pitchLimit && ctx->pitch < pitchLimit && ctx->tilt < cfg->tiltLimit) {
        ctx->upright = 1;
        ctx->uprightTotal += 1;
    } else {
        ctx->upright = 0;
    }
    ctx->uprightRing[ctx->ringIndex] = ctx->uprightTotal;
}

uint32_t UprightCount(const TumblewatchContext* ctx, uint32_t n)
{
    return ctx->uprightRing[ctx->ringIndex] - ctx->uprightRing[(ctx->ringIndex - n) & 63u];
}
