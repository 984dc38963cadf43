// The instance handed to the host: the engine and the host's port buffers.
#pragma once

#include <cstdint>

#include "../engine/Engine.h"
#include "Ports.h"

struct PluginInstance {
    Engine* engine = nullptr;
    const float* input = nullptr;
    float* outputLeft = nullptr;
    float* outputRight = nullptr;
    const float* controls[kPortCount] = {};  // indexed by port; the audio slots stay null
    bool started = false;                    // the first run lands both ramps on their targets
};

// Copies every connected control port into one settings record and lets
// the engine apply what changed, in ascending port order.
void dispatchControls(PluginInstance& self);

// Writes the engine's log events as log lines, in the order they were
// recorded, and empties the record.
void writeLogEvents(LogEvents& events);

// The whole block: dispatch, then sub-blocks of 16 with the ramps stepping
// at each sub-block start.
void runBlock(PluginInstance& self, uint32_t frames);
