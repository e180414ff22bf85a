// Orientation update placeholder: the identity attitude.
#include "update_orientation.h"

void UpdateOrientation(TumblewatchContext* ctx)
{
    ctx->pitch = 0;
    ctx->tilt = -90;
}
