// One modulated allpass delay with a damping high-pass/low-pass pair in its
// loop, its ring held by value.
#pragma once

#include <cmath>
#include <cstdint>

#include "Feedback.h"
#include "LineSteps.h"
#include "LogEvents.h"
#include "Pole.h"

struct DelayLine {
    float lowpassCoef = frequencyToPole(kHighCutDefault);  // never changed later
    float lowpassState = 0.0f;
    float highpassCoef = frequencyToPole(kLowCutDefault);  // never changed later
    float highpassState = 0.0f;
    float feedback = 0.0f;
    float readPos = 0.0f;
    uint64_t writeIndex = 0;
    uint64_t length = 8000;
    uint64_t targetLength = 0;
    uint64_t pendingLength = 0;
    bool resizing = false;
    bool fresh = true;  // has not run yet: a request places the line at once
    float readSpeed = 1.0f;
    float writeGain = 1.0f;
    float modDepth = 15.0f;
    float lfoIncrement = 0.0f;
    float lfoPhase = 0.0f;
    float buffer[kRingSize + kGuardSlots] = {};

    // A line that has not run yet takes the length at once. Otherwise a
    // later request overwrites one not yet taken up, and a request for the
    // length the line already ends at (after a running change, or as it
    // stands) drops any older one: a knob that comes back is never lost.
    void requestLength(uint64_t n)
    {
        if (fresh) {
            placeAt(n);
            return;
        }
        const uint64_t destination = resizing ? targetLength : length;
        pendingLength = (n == destination) ? 0 : n;
    }

    // The read pointer n - 1 slots behind the write index, as a finished
    // length change leaves it.
    void placeAt(uint64_t n)
    {
        length = n;
        targetLength = n;
        pendingLength = 0;
        resizing = false;
        readSpeed = 1.0f;
        const uint64_t ahead = writeIndex + 1;
        readPos = static_cast<float>(ahead >= n ? ahead - n : ahead + kRingSize - n);
    }

    // Back to silence, as a line that never ran: the ring and the damping
    // states cleared, the next request placing it at once.
    void makeFresh()
    {
        clearSignal();
        fresh = true;
    }

    // The feedback for the decay time in force at the line's present length.
    void updateFeedback(LineContext& context)
    {
        feedback = feedbackForDecay(context.decayMs, context.sampleRate, length);
        context.events.recordFeedback(feedback, length);
    }

    // Silences the loop after its state turned non-finite; length, pointers,
    // LFO and any running length change carry on.
    void clearSignal();

    bool signalIsFinite() const
    {
        return std::isfinite(lowpassState) && std::isfinite(highpassState);
    }

    // One sample through the line; a length change that ends here takes
    // its feedback from the context and records it there.
    float tick(float input, LineContext& context);
};

inline float DelayLine::tick(float input, LineContext& context)
{
    fresh = false;
    lfoPhase = stepLfo(lfoPhase, lfoIncrement);

    const float r = readPos;
    const float offset = modulationOffset(lfoPhase, modDepth, length);
    const TapPoint<float> at = splitReadPoint(readPoint(r, offset));
    const float s = splineAt(buffer + at.index, at.fraction);

    const float g = feedback;
    const float v = allpassState(input, g, s);
    const float output = allpassOutput(s, g, v);

    writeRing(buffer, writeIndex, dampedWrite(v, highpassCoef, lowpassCoef, writeGain, highpassState, lowpassState));
    const uint64_t w = nextWriteIndex(writeIndex);
    writeIndex = w;

    if (resizing) {
        length = lineDistance(r, w);
        if (length == targetLength) {
            resizing = false;
            readSpeed = 1.0f;
            feedback = feedbackAtResizeEnd(context.decayMs, context.sampleRate, length);
            context.events.recordFeedback(feedback, length);
        }
    } else if (pendingLength != 0) {
        resizing = takeUpRequest(pendingLength, length, targetLength, readSpeed);
    }

    readPos = nextReadPos(readPos, readSpeed);

    return output;
}
