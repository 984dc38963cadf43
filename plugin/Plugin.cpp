// The LV2 entry points: one static descriptor and its operations.
#include <cstdlib>
#include <limits>
#include <new>

#include <lv2/core/lv2.h>

#include "../log/Log.h"
#include "PluginInstance.h"
#include "Uri.h"

namespace {

// The instance and its engine live in one allocation, made by instantiate
// and released by cleanup; nothing is allocated in between.
struct InstanceStorage {
    PluginInstance instance;
    Engine engine;
};

// Instantiation class: never called together with another function of the
// same instance.
LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const*)
{
    // A rate that is not a positive number a float can hold has no meaning
    // (a negative one would pin every feedback at its limit): refused, the
    // LV2 way, before anything is logged.
    if (!(rate > 0.0 && rate <= std::numeric_limits<float>::max()))
        return nullptr;
    readLogLevel();

    void* memory = nullptr;
    if (posix_memalign(&memory, 64, sizeof(InstanceStorage)) != 0)
        return nullptr;
    InstanceStorage* storage = new (memory) InstanceStorage();
    PluginInstance* self = &storage->instance;
    self->engine = &storage->engine;
    self->engine->setSampleRate(static_cast<float>(rate));
    return self;
}

// Audio class, like run: the host calls it between runs, never during one.
// Control ports are read at the start of each run; an index beyond the
// table is ignored.
void connect_port(LV2_Handle instance, uint32_t port, void* data)
{
    PluginInstance* self = static_cast<PluginInstance*>(instance);
    float* buffer = static_cast<float*>(data);
    switch (port) {
    case kPortInput: self->input = buffer; break;
    case kPortOutputLeft: self->outputLeft = buffer; break;
    case kPortOutputRight: self->outputRight = buffer; break;
    default:
        if (port < kPortCount)
            self->controls[port] = buffer;
        break;
    }
}

// Instantiation class. A host that switches the plug-in off and on again
// hears no old tail: activate silences the rings and filters. Settings, lengths and LFO phases
// carry over.
void activate(LV2_Handle instance)
{
    static_cast<PluginInstance*>(instance)->engine->clearAudio();
}

// Instantiation class; nothing to do.
void deactivate(LV2_Handle) {}

// Audio class: real-time, no allocation, lock or system call (the
// diagnostic log, when switched on, aside).
void run(LV2_Handle instance, uint32_t frames)
{
    runBlock(*static_cast<PluginInstance*>(instance), frames);
}

// Instantiation class.
void cleanup(LV2_Handle instance)
{
    // The instance is the first member of its storage.
    InstanceStorage* storage = reinterpret_cast<InstanceStorage*>(instance);
    storage->~InstanceStorage();
    free(storage);
}

// Discovery class, like lv2_descriptor: callable at any time from any
// thread.
const void* extension_data(const char*)
{
    return nullptr;
}

const LV2_Descriptor descriptor = {
    kPluginUri, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

} // namespace

// Discovery class.
// LV2_SYMBOL_EXPORT brings the C linkage.
LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}
