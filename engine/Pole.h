#pragma once

#include <cmath>

// -2*pi/48000, formed in single precision. The filter corners are always
// converted for a 48 kHz rate, whatever rate the host runs at.
constexpr float kTwoPi = 6.28318530717958647692f;
constexpr float kPoleFactor = -kTwoPi / 48000.0f;

// Pole of a one-pole low-pass y = (1 - p) * u + p * y1 with its corner at f Hz.
inline float frequencyToPole(float frequency)
{
    return expf(frequency * kPoleFactor);
}

constexpr float kHighCutDefault = 12000.0f;
constexpr float kLowCutDefault = 20.0f;
