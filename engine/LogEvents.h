// What the engine has to say for the diagnostic log, kept as plain values
// until the plug-in layer formats and writes them after processing. The DSP
// itself never touches a file.
#pragma once

#include <cstdint>

// A line took a new feedback coefficient (a decay time, a distribution, or
// the end of a length change); `length` is the line's length at that moment.
struct FeedbackEvent {
    float feedback;
    uint64_t length;
};

// The plug-in drains the record after the control dispatch and after every
// sub-block. Between two drains at most 144 events arrive: four length
// controls in one dispatch record 32 each and the first run's decay 16;
// a sub-block records at most 16 (a decay step) plus two length changes
// ending per line (one running, one requested by the last dispatch).
constexpr uint32_t kLogEventCapacity = 256;

struct LogEvents {
    FeedbackEvent feedback[kLogEventCapacity];
    uint32_t count = 0;
    uint32_t lost = 0;  // events beyond the capacity: never expected, counted all the same

    void recordFeedback(float g, uint64_t length)
    {
        if (count < kLogEventCapacity) {
            // Field by field: the padding after `feedback` keeps its zeros,
            // so two engines that logged alike compare equal byte for byte.
            feedback[count].feedback = g;
            feedback[count].length = length;
            ++count;
        } else
            ++lost;
    }

    void clear()
    {
        count = 0;
        lost = 0;
    }
};

// What every line of both banks reads when it sets its feedback: the host
// rate, the decay time in force, and the record of what it logs.
struct LineContext {
    float sampleRate = 48000.0f;
    float decayMs = 10.0f;  // before any decay time lands, a distribution uses 10 ms
    LogEvents events;
};
