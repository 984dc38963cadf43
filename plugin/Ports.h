// The port table: every port's index, symbol, name, range, default, scale
// and unit as the bundle declares them, and for each control the setting it
// feeds. The one source for connect_port, the dispatch, the editor and the
// tests; the lilv test checks that the Turtle agrees with it.
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

// How a control's values are laid out along its travel, as the Turtle's
// port properties say: evenly, evenly in the logarithm
// (pprops:logarithmic), in whole numbers (lv2:integer) or off and on
// (lv2:toggled).
enum class PortScale { Linear, Logarithmic, Integer, Toggle };

struct PortInfo {
    const char* symbol;
    float minimum;
    float maximum;
    float fallback;           // lv2:default
    bool ramped;              // steps toward a new value instead of jumping
    float Settings::*setting; // null for the audio ports
    const char* name;         // lv2:name
    PortScale scale;
    const char* unit;         // what the value is shown with ("" for none)
};

constexpr PortInfo kPorts[kPortCount] = {
    {"in", 0, 0, 0, false, nullptr, "In", PortScale::Linear, ""},
    {"out_left", 0, 0, 0, false, nullptr, "Out left", PortScale::Linear, ""},
    {"out_right", 0, 0, 0, false, nullptr, "Out right", PortScale::Linear, ""},
    {"mix", 0, 100, 50, true, &Settings::mix, "Mix", PortScale::Linear, "%"},
    {"lines", 1, 8, 8, false, &Settings::lines, "Lines", PortScale::Integer, "lines"},
    {"decay", 0, 10000, 1190, true, &Settings::decay, "Decay", PortScale::Linear, "ms"},
    {"min_distance", 0.5f, 110, 1.27f, false, &Settings::minDistance, "Min distance", PortScale::Logarithmic, "m"},
    {"max_distance", 0.5f, 110, 10.4f, false, &Settings::maxDistance, "Max distance", PortScale::Logarithmic, "m"},
    {"spread", 0, 100, 68.6f, false, &Settings::spread, "Spread", PortScale::Linear, "%"},
    {"parallel", 0, 1, 0, false, &Settings::parallel, "Parallel", PortScale::Toggle, ""},
    {"low_cut", 5, 2000, 22, false, &Settings::lowCut, "Low cut", PortScale::Logarithmic, "Hz"},
    {"high_cut", 500, 20000, 5700, false, &Settings::highCut, "High cut", PortScale::Logarithmic, "Hz"},
    {"depth_min", 0, 100, 0, false, &Settings::depthMin, "Depth min", PortScale::Linear, "%"},
    {"depth_max", 0, 100, 18, false, &Settings::depthMax, "Depth max", PortScale::Linear, "%"},
    {"rate_min", 0.01f, 10, 0.07f, false, &Settings::rateMin, "Rate min", PortScale::Logarithmic, "Hz"},
    {"rate_max", 0.01f, 10, 1.5f, false, &Settings::rateMax, "Rate max", PortScale::Logarithmic, "Hz"},
};

static_assert(kPortCount - kFirstControlPort == kSettingCount, "one control port per setting");
