// Allpass feedback from a decay time: the coefficient that lets a signal
// circulating through a line of `length` samples fall by 60 dB (to 0.001)
// within the decay time.
#pragma once

#include <cstdint>

constexpr float kFeedbackLimit = 0.99999f;

// Clamps to +-0.99999 so the allpass stays stable; a value that is not a
// number (a NaN decay time) becomes 0, no feedback.
inline float clampFeedback(float g)
{
    if (g < -kFeedbackLimit)
        g = -kFeedbackLimit;
    else if (g > kFeedbackLimit)
        g = kFeedbackLimit;
    if (g != g)
        g = 0.0f;
    return g;
}

// Decay time in samples formed as (ms * 0.001) * rate: the order used when a
// decay time or a distribution sets the feedback.
float feedbackForDecay(float decayMs, float sampleRate, uint64_t length);

// Decay time in samples formed as (ms * rate) * 0.001: the order used when a
// running length change reaches its target. The two orders round differently.
float feedbackAtResizeEnd(float decayMs, float sampleRate, uint64_t length);
