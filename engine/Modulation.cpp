#include <cmath>

#include "Engine.h"

constexpr float kPercent = 0.01f;
constexpr float kDepthSamples = 150.0f;  // depth 100 % sweeps 150 samples
constexpr float kRateToIncrement = 1.0f / 24000.0f;

// tick reads up to 1 + 2 * modDepth slots ahead of its read pointer, which
// must stay inside the ring; the LFO phase stays in [-1, 1) only while its
// increment is below 2.
constexpr float kMaxModDepth = 7999.0f;
constexpr float kMaxLfoIncrement = 1.99999988f;  // the float just below 2

static float boundedDepth(float depth)
{
    if (!(depth >= 0.0f))  // negative or NaN
        return 0.0f;
    return depth > kMaxModDepth ? kMaxModDepth : depth;
}

static float boundedIncrement(float increment)
{
    if (!(increment >= 0.0f))
        return 0.0f;
    return increment > kMaxLfoIncrement ? kMaxLfoIncrement : increment;
}

void LineBank::spreadModulation()
{
    const uint64_t n = count;
    if (n == 0)
        return;
    const float step = (n > 1) ? 1.0f / static_cast<float>(n - 1) : 0.0f;
    const float depthRange = modDepthMax - modDepthMin;
    const float rateRange = modRateMax - modRateMin;
    for (uint64_t k = 0; k < n; ++k) {
        const float t = (n == 1) ? 0.0f : static_cast<float>(k) * step;
        lines[k].modDepth = boundedDepth(std::fma(depthRange, t, modDepthMin) * kDepthSamples);
        lines[k].lfoIncrement = boundedIncrement(std::fma(rateRange, t, modRateMin) * kRateToIncrement);
    }
}

// A corner below 0 Hz would give a pole above 1 and an unstable filter.
static float nonNegative(float hz)
{
    return (hz >= 0.0f) ? hz : 0.0f;
}

void Engine::setInputHighpass(float hz)
{
    inputHighpassCoef = frequencyToPole(nonNegative(hz));
}

void Engine::setInputLowpass(float hz)
{
    inputLowpassCoef = frequencyToPole(nonNegative(hz));
}

void Engine::setModDepthMin(float percent)
{
    const float depth = percent * kPercent;
    for (LineBank* bank : {&left, &right}) {
        bank->modDepthMin = depth;
        bank->spreadModulation();
    }
}

void Engine::setModDepthMax(float percent)
{
    const float depth = percent * kPercent;
    for (LineBank* bank : {&left, &right}) {
        bank->modDepthMax = depth;
        bank->spreadModulation();
    }
}

// The right bank's first line runs 10 % faster and its last 10 % slower, so
// the two channels' modulations drift apart. The factor is applied afresh
// from the port value each time, in double precision.
void Engine::setModRateMin(float hz)
{
    left.modRateMin = hz;
    left.spreadModulation();
    right.modRateMin = static_cast<float>(static_cast<double>(hz) * 1.1);
    right.spreadModulation();
}

void Engine::setModRateMax(float hz)
{
    left.modRateMax = hz;
    left.spreadModulation();
    right.modRateMax = static_cast<float>(static_cast<double>(hz) * 0.9);
    right.spreadModulation();
}
