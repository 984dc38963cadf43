// The whole signal state of one instance: input conditioning, dry/wet gains
// with their ramps, the settings in force and the two line banks. Allocated
// once, in one piece.
#pragma once

#include <cmath>
#include <cstdint>

#include "FastPath.h"
#include "LineBank.h"
#include "LogEvents.h"
#include "ParamRamp.h"
#include "Pole.h"
#include "Settings.h"

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

// The mix in percent mapped onto [-1, 1] with one rounding.
inline float mixPosition(float percent)
{
    return std::fma(percent, 0.02f, -1.0f);
}

// Both ramps start just off their construction targets, so their first
// step applies the value.
constexpr float kRampStartRatio = 0.9999f;

struct Engine {
    float inputLowpassCoef = frequencyToPole(kHighCutDefault);
    float inputLowpassState = 0.0f;
    float inputHighpassCoef = frequencyToPole(kLowCutDefault);
    float inputHighpassState = 0.0f;
    float mix = 1.0f;  // the mix position the gains were computed for
    float dryGain = 1.0f;
    float wetGain = 1.0f;
    ParamRamp mixRamp{3, 0, mixPosition(kConstructionSettings.mix),
        kRampStartRatio * mixPosition(kConstructionSettings.mix), 1.0f};
    ParamRamp decayRamp{1, 0, kConstructionSettings.decay, kRampStartRatio * kConstructionSettings.decay, 200.0f};
    Settings settings = kConstructionSettings;  // in force (mix and decay: the ramps' targets)
    uint32_t appliedOnce = 0;                   // bit per setting: applied at least once
    LineContext context;                        // rate, decay time in force, log events
    LineBank left;
    LineBank right;
    // The lines as the block-wise kernels hold them from call to call
    // (FastPath.h), all zero at first: not current. Last, so tests can
    // compare the engine up to it.
    FastLanes lanes{};

    // The lanes point into this engine's own lines, so a copy would run on
    // the original's rings: an engine is never copied.
    Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Instantiation: the host rate, read by the distributions and the
    // feedback formula; nothing is recomputed from it.
    void setSampleRate(float rate) { context.sampleRate = rate; }

    // Everything below runs on the audio thread.

    // Applies every setting that holds a value (NaN holds none) and differs
    // from the one in force, or was never applied, in field order. Mix and
    // decay only set their ramps' targets.
    void applySettings(const Settings& next);

    // At each sub-block start: the ramps step and what they reach is applied.
    void stepRamps();
    // The first run starts at the targets instead of ramping up to them.
    void landRamps();

    // One control each; each records its value in `settings`.
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

    // What the ramps apply: a mix position in [-1, 1] and a decay time.
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

    // Brings every line's record up to date with the block-wise output
    // stage, which keeps part of the lines' state to itself between calls
    // (FastPath.h). Every setter that touches the lines, clearAudio and
    // processReference do it first, and so does code outside the engine
    // before it reads or changes a line's record. Without it the lengths
    // and the feedback are up to date after every call all the same, and a
    // damping state set between calls still takes effect, one sub-block
    // later than in the per-sample code.
    void syncLines() { syncFastLanes(*this); }

    // Silence in every ring and filter state (the host restarts the
    // plug-in); lengths, running length changes, LFOs, positions and
    // settings stay.
    void clearAudio();

    // Where a bank's lines go under the settings in force: the skew only
    // ever acts on the right bank, which sets the channels' lengths apart.
    BankShape shapeOf(const LineBank& bank) const;

private:
    void distributeBoth();
    // One end of the modulation range, in both banks: the depth alike, the
    // rate with the right bank's skew.
    void setBankDepths(float BankModulation::*end, float percent);
    void setBankRates(float BankModulation::*end, float hz, double rightFactor);
};
