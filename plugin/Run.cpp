#include "../engine/FloatMode.h"
#include "PluginInstance.h"

void runBlock(PluginInstance& self, uint32_t frames)
{
    // Hosts run audio on threads other than the one that loaded the library,
    // so the denormal mode is set here and the caller's mode restored after.
    ScopedFlushDenormals flushDenormals;

    dispatchControls(self);
    if (frames == 0)
        return;
    if (!self.input || !self.outputLeft || !self.outputRight)
        return;

    Engine& engine = *self.engine;
    for (uint32_t start = 0; start < frames; start += kSubBlock) {
        const uint32_t remaining = frames - start;
        const uint32_t length = remaining < kSubBlock ? remaining : static_cast<uint32_t>(kSubBlock);

        if (self.mixRamp.advance() && engine.mix != self.mixRamp.current)
            engine.setMix(self.mixRamp.current);
        if (self.decayRamp.advance())
            engine.setDecay(self.decayRamp.current);

        engine.process(self.input + start, self.outputLeft + start, self.outputRight + start, length);
    }
}
