#include "Engine.h"

#include <cmath>
#include <initializer_list>

#include "FastPath.h"

constexpr float kPercent = 0.01f;

namespace {

// Field index of each setting, for the applied-once bits.
enum SettingBit : unsigned {
    kBitLines = 1, kBitMinDistance = 3, kBitMaxDistance, kBitSpread, kBitParallel, kBitLowCut, kBitHighCut,
    kBitDepthMin, kBitDepthMax, kBitRateMin, kBitRateMax,
};

// A corner below 0 Hz would give a pole above 1 and an unstable filter.
float nonNegative(float hz)
{
    return (hz >= 0.0f) ? hz : 0.0f;
}

} // namespace

void Engine::applySettings(const Settings& next)
{
    if (!std::isnan(next.mix)) {
        // Outside 0..100 % the gains would rotate into sign-flipped values.
        const float percent = next.mix < 0.0f ? 0.0f : (next.mix > 100.0f ? 100.0f : next.mix);
        settings.mix = percent;
        const float m = mixPosition(percent);
        if (m != mixRamp.target)
            mixRamp.target = m;
    }
    // A value that equals the one applied last changes nothing.
    const auto take = [&](float Settings::*field, unsigned bit, void (Engine::*set)(float)) {
        const float x = next.*field;
        if (std::isnan(x) || (((appliedOnce >> bit) & 1u) != 0 && x == settings.*field))
            return;
        appliedOnce |= 1u << bit;
        (this->*set)(x);
    };
    take(&Settings::lines, kBitLines, &Engine::setLineCount);
    if (!std::isnan(next.decay) && next.decay != decayRamp.target) {
        decayRamp.target = next.decay;
        settings.decay = next.decay;
    }
    take(&Settings::minDistance, kBitMinDistance, &Engine::setMinDistance);
    take(&Settings::maxDistance, kBitMaxDistance, &Engine::setMaxDistance);
    take(&Settings::spread, kBitSpread, &Engine::setSpread);
    take(&Settings::parallel, kBitParallel, &Engine::setParallel);
    take(&Settings::lowCut, kBitLowCut, &Engine::setInputHighpass);
    take(&Settings::highCut, kBitHighCut, &Engine::setInputLowpass);
    take(&Settings::depthMin, kBitDepthMin, &Engine::setModDepthMin);
    take(&Settings::depthMax, kBitDepthMax, &Engine::setModDepthMax);
    take(&Settings::rateMin, kBitRateMin, &Engine::setModRateMin);
    take(&Settings::rateMax, kBitRateMax, &Engine::setModRateMax);
}

void Engine::stepRamps()
{
    if (mixRamp.advance() && mix != mixRamp.current)
        setMix(mixRamp.current);
    if (decayRamp.advance())
        setDecay(decayRamp.current);
}

void Engine::landRamps()
{
    mixRamp.land();
    setMix(mixRamp.current);
    decayRamp.land();
    setDecay(decayRamp.current);
}

BankShape Engine::shapeOf(const LineBank& bank) const
{
    const float spread = (&bank == &right) ? settings.spread * kPercent : 0.0f;
    return {settings.minDistance, settings.maxDistance, spread};
}

void Engine::distributeBoth()
{
    for (LineBank* bank : {&left, &right}) {
        bank->distributeLengths(shapeOf(*bank), context);
        bank->refreshFeedback(context);
    }
}

void Engine::setLineCount(float value)
{
    syncLines();
    settings.lines = value;
    uint64_t n;
    if (!(value >= 1.0f))  // below 1, negative or NaN
        n = 1;
    else if (value >= 9.0f)
        n = kMaxLines;
    else
        n = static_cast<uint64_t>(value);
    for (LineBank* bank : {&left, &right}) {
        // Lines that come back start from silence at their new lengths
        // instead of playing what they held when they were switched off.
        for (uint64_t k = bank->count; k < n; ++k)
            bank->lines[k].makeFresh();
        bank->count = n;
        bank->distributeLengths(shapeOf(*bank), context);
        bank->refreshFeedback(context);
        bank->spreadModulation();
    }
}

void Engine::setMinDistance(float metres)
{
    syncLines();
    settings.minDistance = metres;
    distributeBoth();
}

void Engine::setMaxDistance(float metres)
{
    syncLines();
    settings.maxDistance = metres;
    distributeBoth();
}

void Engine::setSpread(float percent)
{
    syncLines();
    settings.spread = percent;
    distributeBoth();
}

void Engine::setParallel(float value)
{
    syncLines();
    settings.parallel = value;
    const bool on = (value != 0.0f);
    left.parallel = on;
    right.parallel = on;
}

void Engine::setInputHighpass(float hz)
{
    settings.lowCut = hz;
    inputHighpassCoef = frequencyToPole(nonNegative(hz));
}

void Engine::setInputLowpass(float hz)
{
    settings.highCut = hz;
    inputLowpassCoef = frequencyToPole(nonNegative(hz));
}

void Engine::setModDepthMin(float percent)
{
    settings.depthMin = percent;
    setBankDepths(&BankModulation::depthMin, percent);
}

void Engine::setModDepthMax(float percent)
{
    settings.depthMax = percent;
    setBankDepths(&BankModulation::depthMax, percent);
}

void Engine::setBankDepths(float BankModulation::*end, float percent)
{
    syncLines();
    for (LineBank* bank : {&left, &right}) {
        bank->modulation.*end = percent * kPercent;
        bank->spreadModulation();
    }
}

// The right bank's first line runs 10 % faster and its last 10 % slower, so
// the two channels' modulations drift apart. The factor is applied afresh
// from the control value each time, in double precision.
void Engine::setModRateMin(float hz)
{
    settings.rateMin = hz;
    setBankRates(&BankModulation::rateMin, hz, 1.1);
}

void Engine::setModRateMax(float hz)
{
    settings.rateMax = hz;
    setBankRates(&BankModulation::rateMax, hz, 0.9);
}

void Engine::setBankRates(float BankModulation::*end, float hz, double rightFactor)
{
    syncLines();
    left.modulation.*end = hz;
    left.spreadModulation();
    right.modulation.*end = static_cast<float>(static_cast<double>(hz) * rightFactor);
    right.spreadModulation();
}

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

// Every line of both banks, active or not, so lines that come back with a
// larger count are ready.
void Engine::setDecay(float ms)
{
    syncLines();
    context.decayMs = ms;
    for (LineBank* bank : {&left, &right})
        for (DelayLine& line : bank->lines)
            line.updateFeedback(context);
}

void Engine::process(const float* input, float* outLeft, float* outRight, uint32_t frames)
{
    processFast(*this, input, outLeft, outRight, frames, chosenFastKernel(), nullptr);
}

void Engine::processReference(const float* input, float* outLeft, float* outRight, uint32_t frames)
{
    syncLines();
    for (uint32_t j = 0; j < frames; ++j) {
        const float x = input[j];
        const float y = stepFilterPair(guardInput(x), inputHighpassCoef, inputLowpassCoef, inputHighpassState,
            inputLowpassState);

        const float wetLeft = left.process(y, context);
        outLeft[j] = dryGain * x + wetGain * wetLeft;
        const float wetRight = right.process(y, context);
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
    syncLines();
    inputHighpassState = 0.0f;
    inputLowpassState = 0.0f;
    for (LineBank* bank : {&left, &right})
        for (DelayLine& line : bank->lines)
            line.clearSignal();
}
