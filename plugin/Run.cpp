#include <cinttypes>

#include "../engine/FloatMode.h"
#include "../log/Log.h"
#include "PluginInstance.h"

void writeLogEvents(LogEvents& events)
{
    for (uint32_t k = 0; k < events.count; ++k) {
        const FeedbackEvent& e = events.feedback[k];
        if (logWants(1))
            writeLogLine("fdbk: %f sz: %" PRIu64, static_cast<double>(e.feedback), e.length);
    }
    events.clear();
}

void runBlock(PluginInstance& self, uint32_t frames)
{
    // Hosts run audio on threads other than the one that loaded the library,
    // so the denormal mode is set here and the caller's mode restored after.
    ScopedFlushDenormals flushDenormals;

    Engine& engine = *self.engine;
    LogEvents& events = engine.context.events;
    dispatchControls(self);
    writeLogEvents(events);
    if (!self.started) {
        // A fresh instance starts at its port values rather than ramping up
        // to them from its construction values.
        self.started = true;
        engine.landRamps();
        writeLogEvents(events);
    }
    if (frames == 0)
        return;
    if (!self.input || !self.outputLeft || !self.outputRight)
        return;

    forEachSubBlock(frames, [&](uint32_t start, uint32_t length) {
        engine.stepRamps();
        engine.process(self.input + start, self.outputLeft + start, self.outputRight + start, length);
        if (events.count != 0)
            writeLogEvents(events);
    });
}
