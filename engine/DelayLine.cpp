#include "DelayLine.h"

#include <cstring>

void DelayLine::clearSignal()
{
    lowpassState = 0.0f;
    highpassState = 0.0f;
    std::memset(buffer, 0, sizeof buffer);
}
