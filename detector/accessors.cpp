// What a caller may read of a context.
#include "tumblewatch.h"

uint32_t TumblewatchSampleCount(const TumblewatchContext* ctx)
{
    return ctx->sampleCount;
}

uint16_t TumblewatchAccRawMag(const TumblewatchContext* ctx)
{
    return ctx->accRawMag;
}
