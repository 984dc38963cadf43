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
    self->sampleRate = rate;
    self->engine->setSampleRate(static_cast<float>(rate));
    return self;
}

void connect_port(LV2_Handle instance, uint32_t port, void* data)
{
    PluginInstance* self = static_cast<PluginInstance*>(instance);
    float* buffer = static_cast<float*>(data);
    switch (port) {
    case kPortInput: self->input = buffer; break;
    case kPortOutputLeft: self->outputLeft = buffer; break;
    case kPortOutputRight: self->outputRight = buffer; break;
    case kPortMix: self->mixPort = buffer; break;
    case kPortLines: self->lineCount.port = buffer; break;
    case kPortDecay: self->decayPort = buffer; break;
    case kPortMinDistance: self->minDistance.port = buffer; break;
    case kPortMaxDistance: self->maxDistance.port = buffer; break;
    case kPortSpread: self->spread.port = buffer; break;
    case kPortParallel: self->parallel.port = buffer; break;
    case kPortLowCut: self->lowCut.port = buffer; break;
    case kPortHighCut: self->highCut.port = buffer; break;
    case kPortDepthMin: self->depthMin.port = buffer; break;
    case kPortDepthMax: self->depthMax.port = buffer; break;
    case kPortRateMin: self->rateMin.port = buffer; break;
    case kPortRateMax: self->rateMax.port = buffer; break;
    default: break;
    }
}

// A host that switches the plug-in off and on again hears no old tail:
// activate silences the rings and filters. Settings, lengths and LFO phases
// carry over.
void activate(LV2_Handle instance)
{
    static_cast<PluginInstance*>(instance)->engine->clearAudio();
}

void deactivate(LV2_Handle) {}

void run(LV2_Handle instance, uint32_t frames)
{
    runBlock(*static_cast<PluginInstance*>(instance), frames);
}

void cleanup(LV2_Handle instance)
{
    // The instance is the first member of its storage.
    InstanceStorage* storage = reinterpret_cast<InstanceStorage*>(instance);
    storage->~InstanceStorage();
    free(storage);
}

const void* extension_data(const char*)
{
    return nullptr;
}

const LV2_Descriptor descriptor = {
    kPluginUri, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}
