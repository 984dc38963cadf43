// The instance handed to the host: the engine, the host's port buffers and
// the last applied control values.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "../engine/Engine.h"

enum PortIndex : uint32_t {
    kPortInput = 0,
    kPortOutputLeft = 1,
    kPortOutputRight = 2,
    kPortMix = 3,
    kPortLines = 4,
    kPortDecay = 5,
    kPortMinDistance = 6,
    kPortMaxDistance = 7,
    kPortSpread = 8,
    kPortParallel = 9,
    kPortLowCut = 10,
    kPortHighCut = 11,
    kPortDepthMin = 12,
    kPortDepthMax = 13,
    kPortRateMin = 14,
    kPortRateMax = 15,
    kPortCount = 16,
};

// Linear control-rate ramp, stepped once per 16-sample sub-block.
struct ParamRamp {
    uint64_t period;   // sub-blocks between two steps
    uint64_t counter;  // sub-blocks since the last step
    float target;
    float current;
    float step;        // largest change of current per step

    // Moves current one step toward target; true when a new value is to be
    // applied.
    bool advance()
    {
        if (++counter < period)
            return false;
        counter = 0;
        if (current == target)
            return false;
        if (current < target) {
            const float c = current + step;
            current = (c >= target) ? target : c;
        } else {
            const float c = current - step;
            current = (c <= target) ? target : c;
        }
        return true;
    }
};

// A NaN never equals anything, so a fresh control applies whatever the
// first run finds on its port.
constexpr float kNotYetApplied = std::numeric_limits<float>::quiet_NaN();

struct CachedControl {
    const float* port = nullptr;
    float cached = kNotYetApplied;
};

// The mix port's percent mapped onto [-1, 1] with one rounding.
inline float mixPosition(float percent)
{
    return std::fma(percent, 0.02f, -1.0f);
}

// The mix ramp starts as if the port had been 70 %, just off its target so
// the first step applies the gains.
constexpr float kMixStartPercent = 70.0f;
constexpr float kRampStartRatio = 0.9999f;

struct PluginInstance {
    Engine* engine = nullptr;
    double sampleRate = 0.0;
    const float* input = nullptr;
    float* outputLeft = nullptr;
    float* outputRight = nullptr;
    const float* mixPort = nullptr;
    ParamRamp mixRamp{3, 0, mixPosition(kMixStartPercent), kRampStartRatio * mixPosition(kMixStartPercent), 1.0f};
    CachedControl lineCount;
    const float* decayPort = nullptr;
    ParamRamp decayRamp{1, 0, 300.0f, kRampStartRatio * 300.0f, 200.0f};
    CachedControl minDistance;
    CachedControl maxDistance;
    CachedControl spread;
    CachedControl parallel;
    CachedControl lowCut;
    CachedControl highCut;
    CachedControl depthMin;
    CachedControl depthMax;
    CachedControl rateMin;
    CachedControl rateMax;
    bool started = false;  // the first run lands both ramps on their targets
};

// Applies every control port whose value changed since it was last applied,
// in ascending port order.
void dispatchControls(PluginInstance& self);

// The whole block: dispatch, then sub-blocks of 16 with the ramps stepping
// at each sub-block start.
void runBlock(PluginInstance& self, uint32_t frames);
