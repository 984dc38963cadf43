#include "Distribution.h"

// Sound travels 330 m per second.
constexpr float kPerMetre = 1.0f / 330.0f;

uint64_t nextPrime(uint64_t start)
{
    for (uint64_t value = start;; value += 2) {
        if (value <= 10 || value % 3 == 0)
            continue;
        if (value <= 24)
            return value;
        if (value % 5 == 0 || value % 7 == 0)
            continue;
        bool prime = true;
        for (uint64_t k = 11; k * k <= value; k += 6) {
            if (value % k == 0 || value % (k + 2) == 0) {
                prime = false;
                break;
            }
        }
        if (prime)
            return value;
    }
}

uint64_t lengthForDistance(float sampleRate, float metres)
{
    const float samples = sampleRate * kPerMetre * metres;
    if (samples >= static_cast<float>(kLongestLength))  // infinity too: no search
        return kLongestLength;
    // samples < 15999 here, so only NaN and negatives need catching.
    const uint64_t start = (samples > 0.0f) ? static_cast<uint64_t>(samples) : 0;
    uint64_t length = nextPrime(start | 1);
    if (length > kLongestLength)
        length = kLongestLength;
    if (length < kShortestLength)
        length = kShortestLength;
    return length;
}
