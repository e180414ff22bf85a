// Saving the front end's work on a sample and putting it back, and the
// front end alone over a whole recording.
#include "front_end.h"

#include <cassert>

void TumblewatchFrontEndSave(const TumblewatchContext* ctx, TumblewatchFrontEndValues* values)
{
    values->accRawMag = ctx->accRawMag;
    values->accLpfMag = ctx->accLpfMag;
    values->accLpf2Mag = ctx->accLpf2Mag;
    values->gyroRawMag = ctx->gyroRawMag;
    values->gyroLpfAvg5 = ctx->gyroLpfAvg5;
    values->pitch = ctx->pitch;
    values->tilt = ctx->tilt;
    values->gyroXRiseCount = ctx->gyroXRiseCount;
    values->accRawSum3 = ctx->accRawSum3;
}

namespace {

void Load(TumblewatchContext* ctx, const TumblewatchFrontEndValues* values)
{
    ctx->accRawMag = values->accRawMag;
    ctx->accLpfMag = values->accLpfMag;
    ctx->accLpf2Mag = values->accLpf2Mag;
    ctx->gyroRawMag = values->gyroRawMag;
    ctx->gyroLpfAvg5 = values->gyroLpfAvg5;
    ctx->pitch = values->pitch;
    ctx->tilt = values->tilt;
    ctx->gyroXRiseCount = values->gyroXRiseCount;
    ctx->accRawSum3 = values->accRawSum3;
    ctx->accLpfRing[ctx->ringIndex] = values->accLpfMag;
}

}  // namespace

void TumblewatchFrontEndLoad(TumblewatchContext* ctx, const TumblewatchFrontEndValues* values)
{
    assert(fpTrace == nullptr && "a context with a loaded front end cannot be traced");
    Load(ctx, values);
}

void TumblewatchDecideRecording(TumblewatchContext* ctx, const ImuSample* samples,
                                const TumblewatchFrontEndValues* values, std::size_t count, TumblewatchAlarmFn onAlarm,
                                void* user)
{
    assert(fpTrace == nullptr && "a context with a loaded front end cannot be traced");
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t number = ctx->sampleCount;
        Load(ctx, &values[i]);
        const int code = TumblewatchDecide(ctx, &samples[i]);
        if (code > 0) {
            onAlarm(user, number, code);
        }
    }
}

void TumblewatchFrontEndRecord(const ImuSample* samples, std::size_t count, TumblewatchFrontEndValues* values)
{
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    TumblewatchContext ctx;
    const int set = TumblewatchSet(&ctx, &cfg);
    assert(set == 0 && "the defaults are accepted");
    (void)set;
    for (std::size_t i = 0; i < count; ++i) {
        TumblewatchFrontEnd(&ctx, &samples[i]);
        TumblewatchFrontEndSave(&ctx, &values[i]);
        // The end of the sample as TumblewatchDecide would end it: the
        // next sample's front end needs only its number and ring slot.
        ctx.ringIndex = static_cast<uint16_t>((ctx.ringIndex + 1) & 63);
        ctx.sampleCount += 1;
    }
    TumblewatchClose(&ctx);
}
