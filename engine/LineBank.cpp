#include "LineBank.h"

#include <cmath>

#include "Distribution.h"

// Rate in Hz to LFO phase per sample: two phase units per cycle at 48 kHz.
constexpr float kRateToIncrement = 1.0f / 24000.0f;
constexpr float kDepthSamples = 150.0f;  // depth 100 % sweeps 150 samples

// tick reads up to 1 + 2 * modDepth slots ahead of its read pointer, which
// must stay inside the ring; the LFO phase stays in [-1, 1) only while its
// increment is below 2.
constexpr float kMaxModDepth = 7999.0f;
constexpr float kMaxLfoIncrement = 1.99999988f;  // the float just below 2

// The distribution's curve: 1 spaces the distances evenly.
constexpr float kCurve = 1.0f;

LineBank::LineBank()
{
    // Line k starts at 1 - k/16 Hz (1.0 down to 0.5625), a spread that the
    // first modulation or line-count change replaces.
    for (uint64_t k = 0; k < kMaxLines; ++k)
        lines[k].lfoIncrement = (1.0f - static_cast<float>(k) / 16.0f) * kRateToIncrement;
}

void LineBank::distributeLengths(const BankShape& shape, LineContext& context)
{
    const float a = shape.minDistance;
    const float b = shape.maxDistance;
    const float s = shape.spread;
    if (count == 1) {
        float d = a;
        if (s != 0.0f)
            d = a - 0.25f * a * s;
        lines[0].requestLength(lengthForDistance(context.sampleRate, d));
        lines[0].updateFeedback(context);
        return;
    }
    for (uint64_t i = 0; i < count; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(count - 1);
        const float p = static_cast<float>(std::pow(static_cast<double>(t), static_cast<double>(kCurve)));
        float d = a + (b - a) * p;
        // The skew shortens lines before the middle and lengthens those after.
        if (s != 0.0f)
            d = d + (t - 0.5f) * d * s;
        lines[i].requestLength(lengthForDistance(context.sampleRate, d));
        lines[i].updateFeedback(context);
    }
}

void LineBank::refreshFeedback(LineContext& context)
{
    for (uint64_t k = 0; k < count; ++k)
        lines[k].updateFeedback(context);
}

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
    const BankModulation& m = modulation;
    const float step = (n > 1) ? 1.0f / static_cast<float>(n - 1) : 0.0f;
    const float depthRange = m.depthMax - m.depthMin;
    const float rateRange = m.rateMax - m.rateMin;
    for (uint64_t k = 0; k < n; ++k) {
        const float t = (n == 1) ? 0.0f : static_cast<float>(k) * step;
        lines[k].modDepth = boundedDepth(std::fma(depthRange, t, m.depthMin) * kDepthSamples);
        lines[k].lfoIncrement = boundedIncrement(std::fma(rateRange, t, m.rateMin) * kRateToIncrement);
    }
}

void LineBank::recoverLines()
{
    for (uint64_t k = 0; k < count; ++k)
        if (!lines[k].signalIsFinite())
            lines[k].clearSignal();
}
