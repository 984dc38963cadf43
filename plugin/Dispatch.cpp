#include <cmath>

#include "PluginInstance.h"

// Ports read NaN are skipped: the control keeps the value applied last
// instead of pushing NaN into a ramp, a filter state or a read position.
template <typename Apply>
static void applyIfChanged(CachedControl& control, Apply apply)
{
    if (!control.port)
        return;
    const float x = *control.port;
    if (std::isnan(x) || x == control.cached)
        return;
    control.cached = x;
    apply(x);
}

void dispatchControls(PluginInstance& self)
{
    Engine& engine = *self.engine;

    if (self.mixPort) {
        float percent = *self.mixPort;
        if (!std::isnan(percent)) {
            // Outside 0..100 % the gains would rotate into sign-flipped values.
            percent = percent < 0.0f ? 0.0f : (percent > 100.0f ? 100.0f : percent);
            const float m = mixPosition(percent);
            if (m != self.mixRamp.target)
                self.mixRamp.target = m;
        }
    }
    applyIfChanged(self.lineCount, [&](float x) { engine.setLineCount(x); });
    if (self.decayPort) {
        const float ms = *self.decayPort;
        if (!std::isnan(ms) && ms != self.decayRamp.target)
            self.decayRamp.target = ms;
    }
    applyIfChanged(self.minDistance, [&](float x) { engine.setMinDistance(x); });
    applyIfChanged(self.maxDistance, [&](float x) { engine.setMaxDistance(x); });
    applyIfChanged(self.spread, [&](float x) { engine.setSpread(x); });
    applyIfChanged(self.parallel, [&](float x) { engine.setParallel(x); });
    applyIfChanged(self.lowCut, [&](float x) { engine.setInputHighpass(x); });
    applyIfChanged(self.highCut, [&](float x) { engine.setInputLowpass(x); });
    applyIfChanged(self.depthMin, [&](float x) { engine.setModDepthMin(x); });
    applyIfChanged(self.depthMax, [&](float x) { engine.setModDepthMax(x); });
    applyIfChanged(self.rateMin, [&](float x) { engine.setModRateMin(x); });
    applyIfChanged(self.rateMax, [&](float x) { engine.setModRateMax(x); });
}
