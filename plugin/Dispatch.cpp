#include "PluginInstance.h"

// A port that reads NaN (or is not connected) adds no value: the engine
// keeps what it applied last instead of pushing NaN into a ramp, a filter
// state or a read position.
void dispatchControls(PluginInstance& self)
{
    Settings next = kNoSettings;
    for (uint32_t port = kFirstControlPort; port < kPortCount; ++port)
        if (const float* value = self.controls[port])
            next.*kPorts[port].setting = *value;
    self.engine->applySettings(next);
}
