#include "Engine.h"

#include <cstring>

// Rate in Hz to LFO phase per sample: two phase units per cycle at 48 kHz.
constexpr float kRateToIncrement = 1.0f / 24000.0f;

LineBank::LineBank()
{
    // Line k starts at 1 - k/16 Hz (1.0 down to 0.5625), a spread that the
    // first modulation or line-count change replaces.
    for (uint64_t k = 0; k < kMaxLines; ++k)
        lines[k].lfoIncrement = (1.0f - static_cast<float>(k) / 16.0f) * kRateToIncrement;
}

void LineBank::setSampleRate(float rate)
{
    sampleRate = rate;
    for (DelayLine& line : lines)
        line.sampleRate = rate;
}

void Engine::setSampleRate(float rate)
{
    sampleRate = rate;
    left.setSampleRate(rate);
    right.setSampleRate(rate);
}

void DelayLine::clearSignal()
{
    lowpassState = 0.0f;
    highpassState = 0.0f;
    std::memset(buffer, 0, sizeof buffer);
}

void LineBank::recoverLines()
{
    for (uint64_t k = 0; k < count; ++k)
        if (!lines[k].signalIsFinite())
            lines[k].clearSignal();
}
