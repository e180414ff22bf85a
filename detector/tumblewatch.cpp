// Configuration defaults and the detector's lifecycle: set-up, close, version.
#include <cstring>

#include "lpf.h"
#include "orientation_filter.h"
#include "tumblewatch.h"

namespace {

// Defaults in field order.
constexpr int32_t kDefaults[35] = {
    20, 60, 140,  400, 160, 360, 40, 50,  65,  -180, -90, 35, 4,  37, 60, 90,  55, 1750,
    5,  3,  1350, 5,   7,   -3,  1,  150, 150, 19,   10,  9,  25, 5,  20, 400, 25,
};

}  // namespace

int TumblewatchDefault(TumblewatchConfig* cfg)
{
    static_assert(sizeof(kDefaults) == sizeof(TumblewatchConfig), "one default per field");
    std::memcpy(cfg, kDefaults, sizeof(kDefaults));
    return 0;
}

int TumblewatchSet(TumblewatchContext* ctx, const TumblewatchConfig* cfg)
{
    // Refuse what would divide by zero or run the window past the ring.
    if (ctx == nullptr || cfg == nullptr) {
        return -1;
    }
    if (cfg->fallWindow < 1 || cfg->fallWindow > 63 || cfg->tiltLimit == 15) {
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
    return "J6-Tumblewatch-2.1.1";
}
