#include "ControlScale.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// A logarithm needs a positive minimum; a port without one is laid out evenly.
bool logarithmic(const PortInfo& port)
{
    return port.scale == PortScale::Logarithmic && port.minimum > 0.0f;
}

double clampTravel(double travel)
{
    return travel < 0.0 ? 0.0 : travel > 1.0 ? 1.0 : travel;
}

} // namespace

float clampToPort(const PortInfo& port, float value)
{
    if (std::isnan(value))
        value = port.fallback;
    value = value < port.minimum ? port.minimum : value > port.maximum ? port.maximum : value;
    switch (port.scale) {
    case PortScale::Integer: return std::round(value);
    case PortScale::Toggle: return value > 0.0f ? 1.0f : 0.0f;
    default: return value;
    }
}

double travelOf(const PortInfo& port, float value)
{
    const double v = clampToPort(port, value), lo = port.minimum, hi = port.maximum;
    if (!(hi > lo))
        return 0.0;
    if (logarithmic(port))
        return clampTravel(std::log(v / lo) / std::log(hi / lo));
    return clampTravel((v - lo) / (hi - lo));
}

float valueAtTravel(const PortInfo& port, double travel)
{
    const double t = clampTravel(travel), lo = port.minimum, hi = port.maximum;
    const double v = logarithmic(port) ? lo * std::pow(hi / lo, t) : lo + (hi - lo) * t;
    return clampToPort(port, static_cast<float>(v));
}

float stepBy(const PortInfo& port, float value, int steps, bool fine)
{
    const float now = clampToPort(port, value);
    if (steps == 0)
        return now;
    switch (port.scale) {
    case PortScale::Toggle: return now > 0.0f ? 0.0f : 1.0f;
    case PortScale::Integer: return clampToPort(port, now + static_cast<float>(steps));
    default: return valueAtTravel(port, travelOf(port, now) + steps * (fine ? 0.001 : 0.01));
    }
}

void formatValue(const PortInfo& port, float value, char* text, size_t size)
{
    const float v = clampToPort(port, value);
    if (port.scale == PortScale::Toggle) {
        std::snprintf(text, size, "%s", v > 0.0f ? "on" : "off");
        return;
    }
    const float magnitude = std::fabs(v);
    const int decimals = port.scale == PortScale::Integer || magnitude >= 100.0f ? 0 : magnitude >= 10.0f ? 1 : 2;
    char number[32];
    std::snprintf(number, sizeof number, "%.*f", decimals, static_cast<double>(v));
    // "6.40" reads 6.4 and "1.00" reads 1, as the README writes them.
    if (std::strchr(number, '.')) {
        char* end = number + std::strlen(number);
        while (end[-1] == '0')
            *--end = '\0';
        if (end[-1] == '.')
            end[-1] = '\0';
    }
    if (std::strcmp(number, "-0") == 0)
        std::snprintf(number, sizeof number, "0");
    std::snprintf(text, size, *port.unit ? "%s %s" : "%s", number, port.unit);
}
