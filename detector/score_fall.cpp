// The fall adjustment that the final length tests subtract from the
// minimum fall length.
#include <cassert>

#include "criteria.h"

namespace {

int16_t FallAdjustment(const TumblewatchContext* ctx)
{
    const TumblewatchConfig* cfg = ctx->config;
    const int32_t depth = ctx->fallDepthSum / ctx->fallDeepCount;
    const int32_t tilt = ctx->tilt;
    const int32_t turn = tilt - ctx->fallStartTilt;
    const int32_t jump = ctx->jumpScore;
    const int32_t run = ctx->gyroXHighRun;

    // Turned away from upright during the phase.
    if (tilt > 15 && jump == 0 && turn > 5) {
        if (tilt > 23 && (depth > 70 || tilt >= cfg->tiltLimit)) {
            return 5;
        }
        if (depth > 60) {
            // A tiltLimit of 15 is refused at set-up; 64 bits keep
            // tiltLimit - 15 from overflowing.
            assert(cfg->tiltLimit != 15 && "tiltLimit must not be 15");
            const int64_t e = static_cast<int64_t>((tilt - 15) * 5) / (static_cast<int64_t>(cfg->tiltLimit) - 15);
            if (e > 0) {
                return static_cast<int16_t>(e);
            }
        }
    }

    // Fast rotation about X while upright: a penalty, cut so that penalty
    // and jump score together stay within 8.
    if (tilt < 6 && run > 1) {
        int32_t d = run / 2 + 1;
        if (d > 8) {
            d = 8;
        }
        if (jump > 0 && jump + d > 8) {
            d = 8 - jump;
        }
        if (d > 0) {
            return static_cast<int16_t>(-d);
        }
    }

    if (jump == 0 && run == 0) {
        if (depth > 85) {
            return 4;
        }
        if (depth > 75) {
            return 2;
        }
    }

    if (ctx->fallLongPrelude == 1) {
        return 2;
    }
    return 0;
}

}  // namespace

void ScoreFall(TumblewatchContext* ctx, const ImuSample* /*sample*/)
{
    ctx->fallScore = FallAdjustment(ctx);
}
