// Jump tracking: episodes of raised acceleration condensed into a score
// 0..13 that lengthens the fall tests.
#include <cstddef>
#include <cstring>

#include "criteria.h"

namespace {

// Score of a jump's peak magnitude.
uint16_t PeakScore(int32_t p)
{
    if (p > 250) {
        return 13;
    }
    if (p > 200) {
        return static_cast<uint16_t>((p - 200) * 5 / 50 + 8);
    }
    if (p > 160) {
        return static_cast<uint16_t>((p - 160) * 5 / 40 + 3);
    }
    return 0;
}

void ScoreJump(TumblewatchContext* ctx)
{
    if (ctx->jumpPeak > ctx->jumpScoredPeak) {
        ctx->jumpScoredPeak = ctx->jumpPeak;
        ctx->jumpScore = PeakScore(ctx->jumpPeak);  // may lower the score
    }
    if (ctx->jumpArea >= 1080) {
        int32_t k = ctx->jumpArea / 60 - 17;
        if (k > 13) {
            k = 13;
        }
        if (k > ctx->jumpScore) {
            ctx->jumpScore = static_cast<uint16_t>(k);
        }
    }
}

}  // namespace

void ResetJump(TumblewatchContext* ctx)
{
    static_assert(offsetof(TumblewatchContext, jumpScore) == offsetof(TumblewatchContext, jumpPeak) + 2 &&
                      offsetof(TumblewatchContext, jumpArea) == offsetof(TumblewatchContext, jumpPeak) + 4 &&
                      offsetof(TumblewatchContext, jumpScoredPeak) == offsetof(TumblewatchContext, jumpPeak) + 6,
                  "the four jump members are consecutive");
    if (ctx->jumpPeak != 0) {
        std::memset(&ctx->jumpPeak, 0, 4 * sizeof(uint16_t));
    }
}

void TrackJump(TumblewatchContext* ctx)
{
    const TumblewatchConfig* cfg = ctx->config;
    const int32_t a = ctx->accRawMag;
    const uint32_t n = ctx->sampleCount;

    if (a > cfg->jumpBandLow && a < cfg->jumpBandHigh) {
        if (ctx->jumpScore > 0 && ctx->fallLength > 3 && a > 190 && ctx->accLpfMag > 60) {
            ResetJump(ctx);
        }
        if (ctx->jumpArea == 0) {
            ctx->jumpSamples = 1;
        } else {
            ctx->jumpSamples = static_cast<uint16_t>(ctx->jumpSamples + 1);
        }
        ctx->jumpLastSample = n;
        ctx->jumpArea = static_cast<uint16_t>(ctx->jumpArea + a - 100);
        if (a > ctx->jumpPeak) {
            ctx->jumpPeak = static_cast<uint16_t>(a);
        }
        if (ctx->jumpSamples >= 3) {
            ScoreJump(ctx);
        }
        ctx->jumpGap = 0;
    } else {
        if (ctx->jumpScore > 0 && n > ctx->jumpLastSample + 9u && ctx->fallLength == 0) {
            ResetJump(ctx);
        }
        if (ctx->jumpArea > 0) {
            ctx->jumpGap = static_cast<uint16_t>(ctx->jumpGap + 1);
            if (ctx->jumpGap > 3) {
                // The jump has ended; its score and scored peak stay.
                ctx->jumpArea = 0;
                ctx->jumpPeak = 0;
            }
        }
    }

    if (ctx->jumpScore > 0 && n > ctx->jumpLastSample + 50u) {
        ResetJump(ctx);
    }
}
