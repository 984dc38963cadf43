#include <cmath>

#include "Engine.h"

// Equal-power crossfade: m in [-1, 1] turns into an angle in [-pi/4, pi/4].
void Engine::setMix(float m)
{
    mix = m;
    const float theta = static_cast<float>(static_cast<double>(m) * (M_PI / 4.0));
    float s, c;
    sincosf(theta, &s, &c);
    dryGain = (c - s) * kSqrtHalf;
    wetGain = (c + s) * kSqrtHalf;
}

void Engine::processReference(const float* input, float* outLeft, float* outRight, uint32_t frames)
{
    for (uint32_t j = 0; j < frames; ++j) {
        const float x = input[j];
        // A broken sample never enters the filters and rings, or it would
        // circulate there for the rest of the instance's life.
        const float u = (std::fabs(x) <= kLargestInput) ? x : 0.0f;

        const float d = inputHighpassState - u;
        inputHighpassState = u + inputHighpassCoef * d;
        const float y = inputLowpassCoef * (inputLowpassState + inputHighpassCoef * d) - inputHighpassCoef * d;
        inputLowpassState = y;

        const float wetLeft = left.process(y);
        outLeft[j] = dryGain * x + wetGain * wetLeft;
        const float wetRight = right.process(y);
        outRight[j] = dryGain * x + wetGain * wetRight;
    }

    // Should an overflow inside the network still leave a state non-finite,
    // clear that part so the next sub-block is clean.
    recoverInputFilter();
    left.recoverLines();
    right.recoverLines();
}

void Engine::recoverInputFilter()
{
    if (!std::isfinite(inputHighpassState) || !std::isfinite(inputLowpassState)) {
        inputHighpassState = 0.0f;
        inputLowpassState = 0.0f;
    }
}

void Engine::clearAudio()
{
    inputHighpassState = 0.0f;
    inputLowpassState = 0.0f;
    for (LineBank* bank : {&left, &right})
        for (DelayLine& line : bank->lines)
            line.clearSignal();
}
