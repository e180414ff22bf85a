// First-order low-pass H(s) = wc / (s + wc), bilinear transform without
// pre-warping, wc = 6.28 * cut-off. (The magnitude rules are in
// magnitude.cpp.)
#include "lpf.h"

#include <mutex>

float lpfCutoff = 10.0f;
float lpfRate = 500.0f;
float a1 = 0.0f;
float b0 = 0.0f;
float b1 = 0.0f;

namespace {

void ComputeCoefficients()
{
    const float wc = 6.28f * lpfCutoff;
    const float k = 2.0f * lpfRate;
    a1 = (wc - k) / (k + wc);
    b0 = wc / (k + wc);
    b1 = b0;
}

}  // namespace

void LpfInit()
{
    // Computed once: every set-up would store the same values, and storing
    // them again while other threads filter would be a data race.
    static std::once_flag once;
    std::call_once(once, ComputeCoefficients);
}

void LpfStep(const float* input, float* out, float* inPrev, float* outPrev)
{
    *out = (b0 * *input + b1 * *inPrev) - a1 * *outPrev;
    *outPrev = *out;
    *inPrev = *input;
}

int TriAxisLpfInit(TriAxisLpf* filter, int32_t rate, int32_t cutoff)
{
    const float wc = static_cast<float>(cutoff) * 6.28f;
    const float k = static_cast<float>(rate) * 2.0f;
    filter->a1 = (wc - k) / (k + wc);
    filter->b0 = wc / (k + wc);
    filter->b1 = filter->b0;
    for (int i = 0; i < 3; ++i) {
        filter->inPrev[i] = 0.0f;
        filter->out[i] = 0.0f;
    }
    return 0;
}

int TriAxisLpfStep(TriAxisLpf* filter, float x, float y, float z)
{
    const float in[3] = {x, y, z};
    for (int i = 0; i < 3; ++i) {
        filter->out[i] = (filter->b0 * in[i] + filter->b1 * filter->inPrev[i]) - filter->a1 * filter->out[i];
        filter->inPrev[i] = in[i];
    }
    return 0;
}
