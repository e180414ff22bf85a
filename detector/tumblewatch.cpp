// Configuration defaults and the detector's lifecycle: set-up, close, version.
#include <cstring>

#include "lpf.h"
#include "orientation_filter.h"
#include "params.h"
#include "tumblewatch.h"

int TumblewatchDefault(TumblewatchConfig* cfg)
{
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        TumblewatchParamSet(cfg, i, TumblewatchParams()[i].defaultValue);
    }
    return 0;
}

int TumblewatchSet(TumblewatchContext* ctx, const TumblewatchConfig* cfg)
{
    // Refuse what would divide by zero or run the window past the ring.
    if (ctx == nullptr || cfg == nullptr) {
        return -1;
    }
    if (TumblewatchCheck(cfg, nullptr) != nullptr) {
        return -1;
    }

    std::memset(static_cast<void*>(ctx), 0, sizeof(*ctx));
    ctx->config = cfg;
    ctx->accRawSum3 = 300;
    ctx->gyroLpfSum3 = 0;
    OrientationFilterInit(&ctx->orient);
    LpfInit();
    TriAxisLpfInit(&ctx->accLpf2, 50, 5);
    for (int i = 0; i < 64; ++i) {
        ctx->accRawRing[i] = 100;
        ctx->accLpfRing[i] = 100;
    }
    ctx->accLpfSum = static_cast<uint16_t>(cfg->fallWindow * 100);
    return 0;
}

int TumblewatchClose(TumblewatchContext* ctx)
{
    if (ctx != nullptr) {
        OrientationFilterRelease(&ctx->orient);
    }
    return 0;
}

const char* TumblewatchVersion()
{
    // TUMBLEWATCH_VERSION is the project's version, set by the build.
    return "J6-Tumblewatch-" TUMBLEWATCH_VERSION;
}
