// Rotation fall: a long rising gyro-X run, fast, with the body tilted and
// a deep low phase under way (code 71).
#include "criteria.h"
#include "trace.h"

int CheckRotationFall(TumblewatchContext* ctx, const ImuSample* sample)
{
    if (ctx->gyroXRiseCount > 20 && sample->gyroX > 6500 && ctx->tilt >= ctx->config->tiltLimit &&
        ctx->fallDeepCount > 6) {
        return FinishSample(ctx, 71);
    }
    return 0;
}
