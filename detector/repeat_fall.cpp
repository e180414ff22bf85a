// Repeat-fall test: a confirmed low phase shortly after a recorded one,
// with a strong acceleration peak between them (codes 7 and 8).
#include "criteria.h"
#include "feature_stages.h"
#include "trace.h"

namespace {

// Posture bias from the upright samples among the last 17: positive when
// the wearer was mostly not upright, strongly negative when upright.
int32_t PostureBias(uint32_t upright)
{
    if (upright <= 10) {
        return static_cast<int32_t>((17 - upright) / 4);
    }
    return -6 - static_cast<int32_t>(upright / 4);
}

bool InGap(const TumblewatchConfig* cfg, int32_t gap)
{
    return cfg->repeatGapMin <= gap && gap <= cfg->repeatGapMax;
}

// The peak that followed the previous event lies after that event and
// before the start of the current phase.
bool PeakBetween(const TumblewatchContext* ctx, const FallEvent& event)
{
    return ctx->peakValue >= ctx->config->repeatPeak && ctx->peakSample > event.sample &&
           ctx->peakSample < ctx->fallStartSample;
}

}  // namespace

int CheckRepeatFall(TumblewatchContext* ctx)
{
    const TumblewatchConfig* cfg = ctx->config;
    const FallEvent& event = ctx->fallEvents[(ctx->fallEventNext - 1u) & 31u];
    const int64_t L = ctx->fallLengthNow;
    const int32_t length = ctx->fallLength;
    const int64_t eventLength = event.length;

    const int32_t b = PostureBias(UprightCount(ctx, 17));
    const int32_t outside = length - static_cast<int32_t>(UprightCount(ctx, static_cast<uint32_t>(length)));
    const int32_t gap = static_cast<int32_t>(ctx->fallStartSample - event.sample - 1u);

    // First form, with the posture bias (64-bit: the configured limits
    // minus the bias cannot overflow).
    if (L < static_cast<int64_t>(cfg->repeatLength) - b) {
        TraceRepeatCheck(ctx, b, -1, -1, -1);
    } else {
        TraceRepeatCheck(ctx, b, outside, gap, event.length);
        if (InGap(cfg, gap) && eventLength >= static_cast<int64_t>(cfg->repeatPrevLength) - b &&
            outside >= length / 4 && PeakBetween(ctx, event)) {
            return FinishSample(ctx, 7);
        }
    }

    // Second form, without the bias, with a combined-length test.
    if (L >= 5 && InGap(cfg, gap) && eventLength >= cfg->repeatPrevLength && L >= cfg->repeatLength &&
        L + eventLength >= cfg->repeatTotalLength && outside >= length / 3 && PeakBetween(ctx, event)) {
        return FinishSample(ctx, 8);
    }
    return 0;
}
