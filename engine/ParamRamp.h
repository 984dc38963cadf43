// Linear control-rate ramp, stepped once per 16-sample sub-block.
#pragma once

#include <cstdint>

struct ParamRamp {
    uint64_t period;   // sub-blocks between two steps
    uint64_t counter;  // sub-blocks since the last step
    float target;
    float current;
    float step;        // largest change of current per step

    // Moves current one step toward target; true when a new value is to be
    // applied. Far enough from zero the step is below half a float's spacing
    // (a decay of 1e30 less 200 rounds back to 1e30): such a step lands on
    // the target instead of leaving the ramp stuck where it is for good.
    bool advance()
    {
        if (++counter < period)
            return false;
        counter = 0;
        if (current == target)
            return false;
        if (current < target) {
            const float c = current + step;
            current = (c >= target || c == current) ? target : c;
        } else {
            const float c = current - step;
            current = (c <= target || c == current) ? target : c;
        }
        return true;
    }

    void land() { current = target; }
};
