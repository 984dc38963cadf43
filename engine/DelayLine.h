// One modulated allpass delay with a damping high-pass/low-pass pair in its
// loop, its ring held by value.
#pragma once

#include <cmath>
#include <cstdint>

#include "Feedback.h"
#include "Pole.h"

constexpr uint64_t kRingSize = 16000;
// The ring keeps five guard slots behind slot 15999 that mirror slots 0..4,
// so the 6-point read starting anywhere in 0..15999 never wraps.
constexpr uint64_t kGuardSlots = 5;

constexpr float kRingSizeF = 16000.0f;

// The modulation offset stays this many slots below the line's length, so
// the six slots read always lie behind the one about to be written.
constexpr uint64_t kReadReserve = 9;
constexpr float kReadReserveF = 9.0f;

// Input samples beyond +-1e30 (NaN and infinities included) enter the filters
// and rings as silence: such a value is garbage from upstream, and anything
// much larger could overflow inside the loops a line length later. The dry
// path still passes the sample as it came.
constexpr float kLargestInput = 1e30f;

// A length change moves the read pointer slower (grow) or faster (shrink)
// than the write pointer until the distance is the requested length.
constexpr float kGrowSpeed = 0.9f;
constexpr float kShrinkSpeed = 1.11f;

// Coefficients of the 6-point, 5th-order B-spline, single precision.
constexpr float kDiv120 = 1.0f / 120.0f;
constexpr float k13Over60 = 13.0f / 60.0f;
constexpr float k11Over20 = 0.55f;
constexpr float kDiv24 = 1.0f / 24.0f;
constexpr float k5Over12 = 5.0f / 12.0f;
constexpr float kDiv12 = 1.0f / 12.0f;
constexpr float kDiv6 = 1.0f / 6.0f;

struct DelayLine {
    float lowpassCoef = frequencyToPole(kHighCutDefault);  // never changed later
    float lowpassState = 0.0f;
    float highpassCoef = frequencyToPole(kLowCutDefault);  // never changed later
    float highpassState = 0.0f;
    float sampleRate = 48000.0f;
    float feedback = 0.0f;
    float readPos = 0.0f;
    uint64_t writeIndex = 0;
    float decayMs = 100.0f;
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

    void updateFeedback(float decay)
    {
        decayMs = decay;
        feedback = feedbackForDecay(decayMs, sampleRate, length);
        logFeedback(feedback, length);
    }

    // Silences the loop after its state turned non-finite; length, pointers,
    // LFO and any running length change carry on.
    void clearSignal();

    bool signalIsFinite() const
    {
        return std::isfinite(lowpassState) && std::isfinite(highpassState);
    }

    float tick(float input);
};

inline float DelayLine::tick(float input)
{
    fresh = false;
    lfoPhase += lfoIncrement;
    if (lfoPhase >= 1.0f)
        lfoPhase -= 2.0f;

    const float r = readPos;
    // Deep modulation on a short line could carry the read point past the
    // write index, a whole ring late; it stops nine slots short of it.
    float offset = modDepth * (std::fabs(lfoPhase) + 1.0f);
    const float reach = length > kReadReserve ? static_cast<float>(length) - kReadReserveF : 0.0f;
    if (offset > reach)
        offset = reach;
    float p = (r + 1.0f) + offset;
    if (p >= kRingSizeF)
        p -= kRingSizeF;

    // Integer part and fraction as modff gives them. The modulation setters
    // keep p in [0, 16000); the test guards the conversion all the same.
    uint64_t i = 0;
    float x = 0.0f;
    if (p >= 0.0f && p < kRingSizeF) {
        i = static_cast<uint64_t>(p);
        x = p - static_cast<float>(i);
    }

    const float* y = buffer + i;
    const float ym2 = y[0], ym1 = y[1], y0 = y[2], y1 = y[3], y2 = y[4], y3 = y[5];
    const float c0 = (ym2 + y2) * kDiv120 + (ym1 + y1) * k13Over60 + y0 * k11Over20;
    const float c1 = (y2 - ym2) * kDiv24 + (y1 - ym1) * k5Over12;
    const float c2 = (ym2 + y2) * kDiv12 + (ym1 + y1) * kDiv6 - y0 * 0.5f;
    const float c3 = (y2 - ym2) * kDiv12 - (y1 - ym1) * kDiv6;
    const float c4 = (ym2 + y2) * kDiv24 - (ym1 + y1) * kDiv6 + y0 * 0.25f;
    const float c5 = (y3 - ym2) * kDiv120 + (ym1 - y2) * kDiv24 + (y1 - y0) * kDiv12;
    const float s = ((((c5 * x + c4) * x + c3) * x + c2) * x + c1) * x + c0;

    const float g = feedback;
    const float v = input - g * s;
    const float output = s + g * v;

    const float d = highpassState - v;
    highpassState = v + highpassCoef * d;
    lowpassState = lowpassCoef * (lowpassState + highpassCoef * d) - highpassCoef * d;

    const float written = lowpassState * writeGain;
    buffer[writeIndex] = written;
    if (writeIndex < kGuardSlots)
        buffer[kRingSize + writeIndex] = written;

    uint64_t w = writeIndex + 1;
    if (w >= kRingSize)
        w = 0;
    writeIndex = w;

    if (resizing) {
        const uint64_t readIndex = static_cast<uint64_t>(r);  // r lies in [0, 16000)
        length = (r < static_cast<float>(w)) ? w - readIndex : w + kRingSize - readIndex;
        if (length == targetLength) {
            resizing = false;
            readSpeed = 1.0f;
            feedback = feedbackAtResizeEnd(decayMs, sampleRate, length);
            logFeedback(feedback, length);
        }
    } else if (pendingLength != 0) {
        const uint64_t request = pendingLength;
        pendingLength = 0;
        // A request for the length the line already has (a knob that came
        // back) is dropped: starting a shrink there could glide once around
        // the whole ring.
        if (request != length) {
            targetLength = request;
            resizing = true;
            readSpeed = (request > length) ? kGrowSpeed : kShrinkSpeed;
        }
    }

    float next = readPos + readSpeed;
    if (next >= kRingSizeF)
        next -= kRingSizeF;
    readPos = next;

    return output;
}
