// Where a control's value sits along the travel of its knob, 0 at the
// minimum and 1 at the maximum, by the scale the port table gives it, and
// how the editor shows and steps it. Free of X11 and cairo.
#pragma once

#include <cstddef>

#include "../plugin/Ports.h"

// The value held to the port's range (a NaN gives the default), whole for
// a count, 0 or 1 for a switch.
float clampToPort(const PortInfo& port, float value);

// 0..1 along the travel: even steps of the value, or of its logarithm on a
// logarithmic port.
double travelOf(const PortInfo& port, float value);
float valueAtTravel(const PortInfo& port, double travel);

// A hundredth of the travel per step, a thousandth when fine; one whole
// number on a count; a switch flips on any step.
float stepBy(const PortInfo& port, float value, int steps, bool fine);

// The value with its unit as the README writes it ("815 ms", "6.4 %",
// "9700 Hz", "8 lines", "on"), at most three significant digits past the
// whole part.
void formatValue(const PortInfo& port, float value, char* text, size_t size);
