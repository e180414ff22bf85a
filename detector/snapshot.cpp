// Reading the detector's state after a sample into a plain record.
#include "snapshot.h"

int TumblewatchSnapshot(const TumblewatchContext* ctx, TumblewatchSnapshotRecord* record)
{
    if (ctx == nullptr || record == nullptr || ctx->sampleCount == 0) {
        return -1;
    }
    TumblewatchSnapshotRecord& r = *record;
    r.sample = ctx->sampleCount - 1;

    r.accRawMag = ctx->accRawMag;
    r.accLpfMag = ctx->accLpfMag;
    r.accLpf2Mag = ctx->accLpf2Mag;
    r.gyroRawMag = ctx->gyroRawMag;
    r.gyroLpfMag = ctx->gyroLpfMag;

    r.jumpPeak = ctx->jumpPeak;
    r.jumpLastSample = ctx->jumpLastSample;
    r.jumpScore = ctx->jumpScore;
    r.jumpArea = ctx->jumpArea;
    r.accLpfAvg = ctx->accLpfAvg;
    r.gyroLpfAvg5 = ctx->gyroLpfAvg5;
    r.pitch = ctx->pitch;
    r.tilt = ctx->tilt;
    r.turn = static_cast<int16_t>(ctx->tilt - ctx->fallStartTilt);
    r.upright = ctx->upright == 1;
    r.gyroXRiseCount = ctx->gyroXRiseCount;
    r.gyroXDropCount = ctx->gyroXDropCount;
    r.gyroXPrev = ctx->gyroXPrev;

    r.fallLength = ctx->fallLength;
    r.quietRun = ctx->quietRun;
    r.fallDeepCount = ctx->fallDeepCount;
    r.fallRecoverCount = ctx->fallRecoverCount;
    r.fallDepthSum = ctx->fallDepthSum;
    r.fallDepth = static_cast<uint16_t>(ctx->fallDeepCount == 0 ? 0 : ctx->fallDepthSum / ctx->fallDeepCount);
    r.gyroXHighRun = ctx->gyroXHighRun;
    r.fallScore = ctx->fallScore;
    r.fallLengthNow = ctx->fallLengthNow;

    // The tumble run and its threshold as the trace computes them: half the
    // upright samples of the run, counted back from the latest sample (the
    // ring index has moved on to the next one since).
    r.tumbleRun = ctx->tumbleRun;
    r.tumbleThreshold = -1;
    if (static_cast<int32_t>(ctx->tumbleRun) >= ctx->config->tumbleLength) {
        const unsigned latest = (ctx->ringIndex - 1u) & 63u;
        const uint32_t upright = ctx->uprightRing[latest] - ctx->uprightRing[(latest - ctx->tumbleRun) & 63u];
        r.tumbleThreshold = static_cast<int32_t>((upright >> 1) + static_cast<uint32_t>(ctx->config->tumbleLength));
    }
    r.accRawSum3 = ctx->accRawSum3;
    r.gyroLpfSum3 = ctx->gyroLpfSum3;
    return 0;
}
