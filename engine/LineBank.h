// Eight delay lines feeding one output channel; the first `count` are active.
#pragma once

#include <cstdint>

#include "DelayLine.h"

constexpr uint64_t kMaxLines = 8;
constexpr uint64_t kShortestLength = 101;
constexpr uint64_t kLongestLength = 15999;  // one less than the ring; not prime, used as it is

struct LineBank {
    float sampleRate = 48000.0f;
    float modDepthMin = 0.0f;
    float modDepthMax = 0.0f;
    float modRateMin = 0.1f;
    float modRateMax = 1.1f;
    float minDistance = 2.0f;
    float maxDistance = 100.0f;
    float curve = 1.0f;
    float spread = 0.0f;
    uint64_t count = 4;
    bool parallel = false;
    float decayMs = 10.0f;
    DelayLine lines[kMaxLines];

    LineBank();

    void setSampleRate(float rate);

    // New prime lengths for the active lines, requested from the lines, each
    // line's feedback recomputed for its present length.
    void distributeLengths();
    void refreshFeedback();
    void spreadModulation();

    // Silences every line whose state turned non-finite.
    void recoverLines();

    // One sample through the active lines, in series or in parallel.
    float process(float input)
    {
        if (parallel) {
            float sum = 0.0f;  // +0.0, then the lines in order
            for (uint64_t k = 0; k < count; ++k)
                sum += lines[k].tick(input);
            return sum;
        }
        float signal = input;
        for (uint64_t k = 0; k < count; ++k)
            signal = lines[k].tick(signal);
        return signal;
    }
};

// Smallest value at or above an odd start value that passes the trial
// division; for odd values these are exactly the primes from 11 upward.
uint64_t nextPrime(uint64_t start);
