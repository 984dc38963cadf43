// Eight delay lines feeding one output channel; the first `count` are active.
#pragma once

#include <cstdint>

#include "DelayLine.h"
#include "LogEvents.h"

constexpr uint64_t kMaxLines = 8;

// Where a bank puts its lines: from minDistance to maxDistance, skewed by
// `spread` (a fraction; only the right bank gets one).
struct BankShape {
    float minDistance;  // m
    float maxDistance;  // m
    float spread;
};

// The modulation a bank spreads over its lines, depth as a fraction of
// the full sweep, rates in Hz. The right bank's rates are skewed against
// the left bank's, so each bank keeps its own.
struct BankModulation {
    float depthMin = 0.0f;
    float depthMax = 0.0f;
    float rateMin = 0.1f;
    float rateMax = 1.1f;
};

struct LineBank {
    uint64_t count = 4;
    bool parallel = false;
    BankModulation modulation;
    DelayLine lines[kMaxLines];

    LineBank();

    // Runs on the audio thread, like every operation here.
    // New prime lengths for the active lines, requested from the lines, each
    // line's feedback recomputed for its present length.
    void distributeLengths(const BankShape& shape, LineContext& context);
    void refreshFeedback(LineContext& context);
    void spreadModulation();

    // Silences every line whose state turned non-finite.
    void recoverLines();

    // One sample through the active lines, in series or in parallel.
    float process(float input, LineContext& context)
    {
        if (parallel) {
            float sum = 0.0f;  // +0.0, then the lines in order
            for (uint64_t k = 0; k < count; ++k)
                sum += lines[k].tick(input, context);
            return sum;
        }
        float signal = input;
        for (uint64_t k = 0; k < count; ++k)
            signal = lines[k].tick(signal, context);
        return signal;
    }
};
