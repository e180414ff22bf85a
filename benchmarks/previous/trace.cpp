// The previous implementation, kept for comparison (see previous.h): a
// copy of the unit as it was before the speed-up.
// The trace log: one text line per sample, written in fragments.
#include "trace.h"

#include "feature_stages.h"

thread_local FILE* fpTrace = nullptr;

namespace {

void TracePartOne(TumblewatchContext* ctx, const ImuSample* s)
{
    std::fprintf(fpTrace, "%04d: AG <%6d, %6d, %6d><%6d, %6d, %6d>", static_cast<int>(ctx->sampleCount), s->accX,
                 s->accY, s->accZ, s->gyroX, s->gyroY, s->gyroZ);
    std::fprintf(fpTrace, ", RMS <%3d, %3d, %3d><%3d, %3d>", ctx->accRawMag, ctx->accLpfMag, ctx->accLpf2Mag,
                 ctx->gyroRawMag, ctx->gyroLpfMag);
    std::fprintf(fpTrace, ", JUMP (%3d, %3d, %3d, %4d)", ctx->jumpPeak, static_cast<int>(ctx->jumpLastSample),
                 ctx->jumpScore, ctx->jumpArea);
    std::fprintf(fpTrace, ", AVG <%3d, %3d>, PX <%4d, %4d, %3d, %c><%2d, %2d, %4d>", ctx->accLpfAvg, ctx->gyroLpfAvg5,
                 ctx->pitch, ctx->tilt, ctx->tilt - ctx->fallStartTilt, ctx->upright == 1 ? 'O' : 'X',
                 ctx->gyroXRiseCount, ctx->gyroXDropCount, ctx->gyroXPrev);
    ctx->fallTraced = 0;
}

void TracePartTwo(TumblewatchContext* ctx)
{
    if (ctx->fallTraced != 0) {
        return;
    }
    const int depth = ctx->fallDeepCount == 0 ? 0 : ctx->fallDepthSum / ctx->fallDeepCount;
    std::fprintf(fpTrace, ", FALL [%2d, %2d, %2d, %2d, %4d(%02d), %2d, %2d : %2d]", ctx->fallLength, ctx->quietRun,
                 ctx->fallDeepCount, ctx->fallRecoverCount, ctx->fallDepthSum, depth, ctx->gyroXHighRun, ctx->fallScore,
                 ctx->fallLengthNow);
    ctx->fallTraced = 1;
}

void TracePartThree(const TumblewatchContext* ctx)
{
    const int32_t run = ctx->tumbleRun;
    if (run >= ctx->config->tumbleLength) {
        const uint32_t upright = UprightCount(ctx, run);
        const int threshold = static_cast<int>((upright >> 1) + static_cast<uint32_t>(ctx->config->tumbleLength));
        std::fprintf(fpTrace, ", TF <%2d, %2d>", run, threshold);
    } else {
        std::fprintf(fpTrace, ", TF <%2d>", run);
    }
    std::fprintf(fpTrace, ", 3S <%4d, %3d>", ctx->accRawSum3, ctx->gyroLpfSum3);
}

}  // namespace

void TraceSample(TumblewatchContext* ctx, const ImuSample* sample, int part)
{
    if (fpTrace == nullptr) {
        return;
    }
    switch (part) {
    case 1:
        if (sample != nullptr) {
            TracePartOne(ctx, sample);
        }
        break;
    case 2:
        TracePartTwo(ctx);
        break;
    case 3:
        TracePartThree(ctx);
        break;
    default:
        break;
    }
}

void TraceRepeatCheck(const TumblewatchContext* ctx, int adjust, int outside, int gap, int eventLength)
{
    if (fpTrace == nullptr) {
        return;
    }
    if (eventLength < 0) {
        std::fprintf(fpTrace, ", CF <%2d>", adjust);
    } else {
        std::fprintf(fpTrace, ", CF <%2d, %2d, %2d, %2d, %3d>", adjust, outside, gap, eventLength, ctx->peakValue);
    }
}

void TraceResult(const TumblewatchContext* /*ctx*/, int code)
{
    if (fpTrace == nullptr) {
        return;
    }
    if (code > 0) {
        std::fprintf(fpTrace, " -> (%d)\n", code);
    } else {
        std::fputs("\n", fpTrace);
    }
}

int FinishSample(TumblewatchContext* ctx, int code)
{
    TraceSample(ctx, nullptr, 3);
    TraceResult(ctx, code);
    ctx->ringIndex = static_cast<uint16_t>((ctx->ringIndex + 1) & 63);
    ctx->sampleCount += 1;
    return code;
}
