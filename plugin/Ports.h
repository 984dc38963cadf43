// The port table: every port's index, symbol, range and default as the
// bundle declares them, and for each control the setting it feeds. The one
// source for connect_port, the dispatch and the tests; the lilv test checks
// that the Turtle agrees with it.
#pragma once

#include <cstdint>

#include "../engine/Settings.h"

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

constexpr uint32_t kFirstControlPort = kPortMix;

struct PortInfo {
    const char* symbol;
    float minimum;
    float maximum;
    float fallback;           // lv2:default
    bool ramped;              // steps toward a new value instead of jumping
    float Settings::*setting; // null for the audio ports
};

constexpr PortInfo kPorts[kPortCount] = {
    {"in", 0, 0, 0, false, nullptr},
    {"out_left", 0, 0, 0, false, nullptr},
    {"out_right", 0, 0, 0, false, nullptr},
    {"mix", 0, 100, 50, true, &Settings::mix},
    {"lines", 1, 8, 8, false, &Settings::lines},
    {"decay", 0, 10000, 1190, true, &Settings::decay},
    {"min_distance", 0.5f, 110, 1.27f, false, &Settings::minDistance},
    {"max_distance", 0.5f, 110, 10.4f, false, &Settings::maxDistance},
    {"spread", 0, 100, 68.6f, false, &Settings::spread},
    {"parallel", 0, 1, 0, false, &Settings::parallel},
    {"low_cut", 5, 2000, 22, false, &Settings::lowCut},
    {"high_cut", 500, 20000, 5700, false, &Settings::highCut},
    {"depth_min", 0, 100, 0, false, &Settings::depthMin},
    {"depth_max", 0, 100, 18, false, &Settings::depthMax},
    {"rate_min", 0.01f, 10, 0.07f, false, &Settings::rateMin},
    {"rate_max", 0.01f, 10, 1.5f, false, &Settings::rateMax},
};

static_assert(kPortCount - kFirstControlPort == kSettingCount, "one control port per setting");
