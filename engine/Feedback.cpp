#include "Feedback.h"

#include <cmath>

constexpr float kSixtyDecibels = 0.001f;
constexpr float kMsToSeconds = 0.001f;

float feedbackForDecay(float decayMs, float sampleRate, uint64_t length)
{
    const float decaySamples = decayMs * kMsToSeconds * sampleRate;
    const float exponent = static_cast<float>(length) / decaySamples;
    return clampFeedback(powf(kSixtyDecibels, exponent));
}

float feedbackAtResizeEnd(float decayMs, float sampleRate, uint64_t length)
{
    const float decaySamples = decayMs * sampleRate * kMsToSeconds;
    const float exponent = static_cast<float>(length) / decaySamples;
    return clampFeedback(powf(kSixtyDecibels, exponent));
}
