// The control values, one field per control in the order they are applied.
// The plug-in copies its ports into one of these for every block; the engine
// keeps the values in force in another and applies what changed.
#pragma once

#include <limits>

struct Settings {
    float mix;          // percent wet, ramped
    float lines;        // active lines per bank
    float decay;        // ms, ramped
    float minDistance;  // m
    float maxDistance;  // m
    float spread;       // percent
    float parallel;     // 0 series, otherwise parallel
    float lowCut;       // Hz
    float highCut;      // Hz
    float depthMin;     // percent
    float depthMax;     // percent
    float rateMin;      // Hz
    float rateMax;      // Hz
};

constexpr unsigned kSettingCount = sizeof(Settings) / sizeof(float);

// NaN means "no value": the engine keeps what it applied last.
constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();
constexpr Settings kNoSettings = {kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue,
    kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue};

// What a new engine holds before any control is applied. The mix and decay
// are where their ramps start from.
constexpr Settings kConstructionSettings = {70.0f, 4.0f, 300.0f, 2.0f, 100.0f, 0.0f, 0.0f, 20.0f, 12000.0f,
    0.0f, 0.0f, 0.1f, 1.1f};
