#include "Feedback.h"

#include <cmath>
#include <limits>

constexpr float kSixtyDecibels = 0.001f;
constexpr float kMsToSeconds = 0.001f;

namespace {

// The feedback for a decay time already in samples. A decay time of zero
// (or one that rounds to zero) would divide by zero, which traps in a host
// that runs with floating-point exceptions enabled; the quotient is then
// formed without the division: infinite with the sign of the zero (no
// feedback for +0, the limit for -0), not a number for a length of 0.
float feedbackForDecaySamples(float decaySamples, uint64_t length)
{
    float exponent;
    if (decaySamples != 0.0f)
        exponent = static_cast<float>(length) / decaySamples;
    else if (length != 0)
        exponent = std::copysign(std::numeric_limits<float>::infinity(), decaySamples);
    else
        exponent = std::numeric_limits<float>::quiet_NaN();
    return clampFeedback(powf(kSixtyDecibels, exponent));
}

} // namespace

float feedbackForDecay(float decayMs, float sampleRate, uint64_t length)
{
    return feedbackForDecaySamples(decayMs * kMsToSeconds * sampleRate, length);
}

float feedbackAtResizeEnd(float decayMs, float sampleRate, uint64_t length)
{
    return feedbackForDecaySamples(decayMs * sampleRate * kMsToSeconds, length);
}
