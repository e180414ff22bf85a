// Tumble test: a run of strong acceleration with fast rotation, long
// enough for its share of upright samples (code 5).
#include "criteria.h"
#include "feature_stages.h"
#include "trace.h"

void CountTumble(TumblewatchContext* ctx)
{
    const TumblewatchConfig* cfg = ctx->config;
    if (ctx->accRawMag > cfg->tumbleAccel && ctx->gyroRawMag > cfg->tumbleGyro) {
        ctx->tumbleRun = static_cast<uint16_t>(ctx->tumbleRun + 1);
    } else {
        ctx->tumbleRun = 0;
    }
}

int CheckTumble(TumblewatchContext* ctx)
{
    const int32_t length = ctx->config->tumbleLength;
    const uint32_t r = ctx->tumbleRun;
    if (static_cast<int32_t>(r) < length) {
        return 0;
    }
    // Half the upright samples of the run; the window wraps modulo 64.
    const uint32_t h = UprightCount(ctx, r) >> 1;
    if (r >= static_cast<uint32_t>(length) + h) {
        return FinishSample(ctx, 5);
    }
    return 0;
}
