// Three-sample sums of the raw acceleration and filtered rotation
// magnitudes, current sample included.
#include "feature_stages.h"

void UpdateShortSums(TumblewatchContext* ctx)
{
    const unsigned j = (ctx->ringIndex - 3u) & 63u;
    ctx->accRawSum3 = static_cast<uint16_t>(ctx->accRawSum3 - ctx->accRawRing[j]);
    ctx->accRawSum3 = static_cast<uint16_t>(ctx->accRawSum3 + ctx->accRawMag);
    ctx->gyroLpfSum3 = static_cast<uint16_t>(ctx->gyroLpfSum3 - ctx->gyroLpfRing[j]);
    ctx->gyroLpfSum3 = static_cast<uint16_t>(ctx->gyroLpfSum3 + ctx->gyroLpfMag);
}
