#include "../engine/FloatMode.h"
#include "PluginInstance.h"

void runBlock(PluginInstance& self, uint32_t frames)
{
    // Hosts run audio on threads other than the one that loaded the library,
    // so the denormal mode is set here and the caller's mode restored after.
    ScopedFlushDenormals flushDenormals;

    dispatchControls(self);
    Engine& engine = *self.engine;
    if (!self.started) {
        // A fresh instance starts at its port values rather than ramping up
        // to them from its construction values.
        self.started = true;
        self.mixRamp.current = self.mixRamp.target;
        engine.setMix(self.mixRamp.current);
        self.decayRamp.current = self.decayRamp.target;
        engine.setDecay(self.decayRamp.current);
    }
    if (frames == 0)
        return;
    if (!self.input || !self.outputLeft || !self.outputRight)
        return;

    forEachSubBlock(frames, [&](uint32_t start, uint32_t length) {
        if (self.mixRamp.advance() && engine.mix != self.mixRamp.current)
            engine.setMix(self.mixRamp.current);
        if (self.decayRamp.advance())
            engine.setDecay(self.decayRamp.current);

        engine.process(self.input + start, self.outputLeft + start, self.outputRight + start, length);
    });
}
