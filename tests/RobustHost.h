// A small LV2 host for the robustness tests and benchmarks: it loads the
// built module with dlopen, as a real host does, and drives instances
// through the descriptor alone.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <lv2/core/lv2.h>

#include "TestSupport.h"

#ifndef STREUWOLKE_MODULE
#error "STREUWOLKE_MODULE must name the built plug-in library"
#endif

namespace robust {

using support::LogFile;
using support::sameBits;
using support::whiteNoise;

enum Port : uint32_t {
    kIn, kOutLeft, kOutRight, kMix, kLines, kDecay, kMinDistance, kMaxDistance,
    kSpread, kParallel, kLowCut, kHighCut, kDepthMin, kDepthMax, kRateMin, kRateMax,
    kPorts
};

// Ranges and defaults of the control ports as the bundle declares them (the
// audio ports have none).
struct Range {
    float low, high, fallback;
};
constexpr Range kRanges[kPorts] = {
    {0, 0, 0}, {0, 0, 0}, {0, 0, 0},
    {0, 100, 50}, {1, 8, 8}, {0, 10000, 815}, {0.5f, 110, 1}, {0.5f, 110, 17},
    {0, 100, 28}, {0, 1, 0}, {5, 2000, 21}, {500, 20000, 9700},
    {0, 100, 6.4f}, {0, 100, 29}, {0.01f, 10, 0.1f}, {0.01f, 10, 0.61f},
};

inline const LV2_Descriptor* descriptor()
{
    static const LV2_Descriptor* loaded = [] {
        void* module = dlopen(STREUWOLKE_MODULE, RTLD_NOW | RTLD_LOCAL);
        auto entry = module ? reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(module, "lv2_descriptor"))
                            : nullptr;
        if (!entry) {
            std::fprintf(stderr, "cannot load %s: %s\n", STREUWOLKE_MODULE, dlerror());
            std::abort();
        }
        return entry(0);
    }();
    return loaded;
}

// One instance with its own control values, connected at construction.
class Instance {
public:
    explicit Instance(double rate = 48000.0)
    {
        const LV2_Feature* const features[] = {nullptr};
        handle_ = descriptor()->instantiate(descriptor(), rate, "", features);
        if (!handle_)
            std::abort();
        for (uint32_t p = kMix; p < kPorts; ++p) {
            controls[p] = kRanges[p].fallback;
            descriptor()->connect_port(handle_, p, &controls[p]);
        }
        descriptor()->activate(handle_);
    }
    ~Instance()
    {
        descriptor()->deactivate(handle_);
        descriptor()->cleanup(handle_);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    void connect(uint32_t port, void* data) { descriptor()->connect_port(handle_, port, data); }
    void connectAudio(const float* in, float* left, float* right)
    {
        connect(kIn, const_cast<float*>(in));
        connect(kOutLeft, left);
        connect(kOutRight, right);
    }
    void run(uint32_t frames) { descriptor()->run(handle_, frames); }

    // Moves every control port to a random value inside its range.
    template <typename Rng>
    void randomControls(Rng& rng)
    {
        for (uint32_t p = kMix; p < kPorts; ++p)
            controls[p] = std::uniform_real_distribution<float>(kRanges[p].low, kRanges[p].high)(rng);
    }

    // Sets one control port to a value no host should send.
    template <typename Rng>
    void hostileControl(Rng& rng)
    {
        constexpr float kHostile[] = {NAN, INFINITY, -INFINITY, -3e38f, 3e38f, -1e6f, 1e6f, 0.0f, -1.0f};
        controls[kMix + rng() % (kPorts - kMix)] = kHostile[rng() % std::size(kHostile)];
    }

    std::array<float, kPorts> controls{};

private:
    LV2_Handle handle_ = nullptr;
};

struct Stereo {
    std::vector<float> left, right;
};

// Renders a whole input through separate buffers in blocks of `block`.
inline Stereo render(Instance& instance, const std::vector<float>& input, size_t block)
{
    Stereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
    for (size_t start = 0; start < input.size(); start += block) {
        const size_t n = std::min(block, input.size() - start);
        instance.connectAudio(&input[start], &out.left[start], &out.right[start]);
        instance.run(static_cast<uint32_t>(n));
    }
    return out;
}

} // namespace robust
