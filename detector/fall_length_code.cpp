// The length tests of a low phase confirmed in this sample: codes 1, 2, 3,
// 4, 9 and 12, chosen by the mean rotation, the jump score and the score
// of the phase.
#include "criteria.h"

int FallLengthCode(const TumblewatchContext* ctx)
{
    // Signed comparisons; 64 bits keep the sums with the configured values
    // from overflowing.
    const TumblewatchConfig* cfg = ctx->config;
    const int64_t L = ctx->fallLengthNow;
    const int64_t P = cfg->fallWindow;
    const int64_t A = ctx->fallScore;
    const int64_t J = ctx->jumpScore;
    const int64_t G = ctx->gyroLpfAvg5;
    const int32_t M = ctx->accLpfAvg;
    const int64_t T = P - A + J;

    if (G < cfg->rotationLow) {
        if (L >= T) {
            return J != 0 ? 3 : 1;
        }
    } else if (L >= T) {
        return 12;
    } else if (G < cfg->rotationHigh) {
        // Rotation-weighted mean acceleration.
        const int64_t d = G - cfg->rotationLow;
        const float w = static_cast<float>(d) * 0.2f / 200.0f;
        const float mf = static_cast<float>(M);
        const int32_t V = static_cast<int32_t>(mf - mf * w);
        if (V < cfg->weightedAccelMax && L >= (P + 1) / 4) {
            return J != 0 ? 4 : 2;
        }
    }
    if (L >= P + 18) {
        return 9;
    }
    return 0;
}
