// The whole signal state of one instance: input conditioning, dry/wet gains
// and the two line banks. Allocated once, in one piece.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "LineBank.h"
#include "Pole.h"

constexpr float kSqrtHalf = 0.70710677f;

// Control values change between sub-blocks of 16 samples, never inside one.
constexpr uint32_t kSubBlockFrames = 16;

// Calls piece(start, frames) for consecutive sub-blocks that cover frames
// 0..total-1, the last one short when total is not a multiple of 16. The
// position only ever grows to total, so it cannot wrap, whatever the total.
template <typename Piece>
inline void forEachSubBlock(uint32_t total, Piece piece)
{
    for (uint32_t start = 0; start < total;) {
        const uint32_t frames = total - start < kSubBlockFrames ? total - start : kSubBlockFrames;
        piece(start, frames);
        start += frames;
    }
}

struct Engine {
    float inputLowpassCoef = frequencyToPole(kHighCutDefault);
    float inputLowpassState = 0.0f;
    float inputHighpassCoef = frequencyToPole(kLowCutDefault);
    float inputHighpassState = 0.0f;
    float sampleRate = 48000.0f;
    float mix = 1.0f;
    float dryGain = 1.0f;
    float wetGain = 1.0f;
    LineBank left;
    LineBank right;

    // The host rate goes to the engine, both banks and all sixteen lines;
    // nothing is recomputed from it.
    void setSampleRate(float rate);

    // Controls.
    void setLineCount(float value);
    void setMinDistance(float metres);
    void setMaxDistance(float metres);
    void setSpread(float percent);
    void setParallel(float value);
    void setInputHighpass(float hz);
    void setInputLowpass(float hz);
    void setModDepthMin(float percent);
    void setModDepthMax(float percent);
    void setModRateMin(float hz);
    void setModRateMax(float hz);

    // Ramped values.
    void setMix(float m);
    void setDecay(float ms);

    // Output stage for up to one sub-block: both outputs get the dry input
    // plus their bank's result. Reads each input sample once, so the input
    // may share a buffer with either output. Runs block-wise (FastPath.h)
    // with the same float bits as processReference.
    void process(const float* input, float* outLeft, float* outRight, uint32_t frames);

    // The same, sample by sample and line by line with DelayLine::tick.
    void processReference(const float* input, float* outLeft, float* outRight, uint32_t frames);

    // Clears the input filters' states when they turned non-finite.
    void recoverInputFilter();

    // Silence in every ring and filter state (the host restarts the
    // plug-in); lengths, running length changes, LFOs, positions and
    // settings stay.
    void clearAudio();
};
