// Zeroes the mounting attitude once, from a quiet moment early in the
// recording, and keeps tilt in range.
#include "feature_stages.h"

namespace {

// Calibration window: sample numbers 50..59, about 1 g, near the reference
// attitude.
bool InCalibrationWindow(const TumblewatchContext* ctx)
{
    return ctx->sampleCount >= 50u && ctx->sampleCount < 60u && ctx->accRawMag > 95 && ctx->accRawMag < 105 &&
           ctx->pitch > -20 && ctx->pitch < 20 && ctx->tilt > -25 && ctx->tilt < 25;
}

}  // namespace

void CalibrateAttitude(TumblewatchContext* ctx)
{
    // An offset of 0 means "not calibrated yet".
    if (ctx->pitchOffset == 0) {
        if (InCalibrationWindow(ctx)) {
            ctx->pitchOffset = static_cast<int16_t>(-ctx->pitch);
        }
    } else {
        ctx->pitch = static_cast<int16_t>(ctx->pitch + ctx->pitchOffset);
    }

    if (ctx->tilt < -180) {
        ctx->tilt = static_cast<int16_t>(ctx->tilt + 360);
    }

    if (ctx->tiltOffset == 0) {
        if (InCalibrationWindow(ctx)) {
            ctx->tiltOffset = static_cast<int16_t>(-ctx->tilt);
        }
    } else {
        ctx->tilt = static_cast<int16_t>(ctx->tilt + ctx->tiltOffset);
    }
}
