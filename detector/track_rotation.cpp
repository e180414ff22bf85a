// Counts how often the raw gyro X count rises during a run of positive
// values; two consecutive drops are tolerated, the third ends the run.
#include "feature_stages.h"

void TrackRotation(TumblewatchContext* ctx, const ImuSample* sample)
{
    const int16_t g = sample->gyroX;
    if (g > 0) {
        if (g > ctx->gyroXPrev) {
            ctx->gyroXRiseCount = static_cast<uint16_t>(ctx->gyroXRiseCount + 1);
            ctx->gyroXDropCount = 0;
        } else if (g < ctx->gyroXPrev && ctx->gyroXRiseCount != 0) {
            ctx->gyroXDropCount = static_cast<uint16_t>(ctx->gyroXDropCount + 1);
            if (ctx->gyroXDropCount >= 3) {
                ctx->gyroXRiseCount = 0;
                ctx->gyroXDropCount = 0;
            }
        }
        ctx->gyroXPrev = g;
    } else if (ctx->gyroXRiseCount != 0) {
        ctx->gyroXRiseCount = 0;
        ctx->gyroXDropCount = 0;
        ctx->gyroXPrev = 0;
    }
}
