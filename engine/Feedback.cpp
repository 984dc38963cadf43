#include "Feedback.h"

#include <cinttypes>
#include <cmath>

#include "../log/Log.h"
#include "Engine.h"

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

void logFeedback(float feedback, uint64_t length)
{
    logLine(1, "fdbk: %f sz: %" PRIu64, static_cast<double>(feedback), length);
}

void LineBank::refreshFeedback()
{
    for (uint64_t k = 0; k < count; ++k)
        lines[k].updateFeedback(decayMs);
}

// Every line of both banks, active or not, so lines that come back with a
// larger count are ready.
void Engine::setDecay(float ms)
{
    for (LineBank* bank : {&left, &right}) {
        bank->decayMs = ms;
        for (DelayLine& line : bank->lines)
            line.updateFeedback(ms);
    }
}
