#include <cmath>

#include "Engine.h"

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

static uint64_t lengthForDistance(float sampleRate, float metres)
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

void LineBank::distributeLengths()
{
    const float a = minDistance;
    const float b = maxDistance;
    const float s = spread;
    if (count == 1) {
        float d = a;
        if (s != 0.0f)
            d = a - 0.25f * a * s;
        lines[0].requestLength(lengthForDistance(sampleRate, d));
        lines[0].updateFeedback(decayMs);
        return;
    }
    for (uint64_t i = 0; i < count; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(count - 1);
        const float p = static_cast<float>(std::pow(static_cast<double>(t), static_cast<double>(curve)));
        float d = a + (b - a) * p;
        // The skew shortens lines before the middle and lengthens those after.
        if (s != 0.0f)
            d = d + (t - 0.5f) * d * s;
        lines[i].requestLength(lengthForDistance(sampleRate, d));
        lines[i].updateFeedback(decayMs);
    }
}

void Engine::setLineCount(float value)
{
    uint64_t n;
    if (!(value >= 1.0f))  // below 1, negative or NaN
        n = 1;
    else if (value >= 9.0f)
        n = kMaxLines;
    else
        n = static_cast<uint64_t>(value);
    for (LineBank* bank : {&left, &right}) {
        // Lines that come back start from silence at their new lengths
        // instead of playing what they held when they were switched off.
        for (uint64_t k = bank->count; k < n; ++k)
            bank->lines[k].makeFresh();
        bank->count = n;
        bank->distributeLengths();
        bank->refreshFeedback();
        bank->spreadModulation();
    }
}

void Engine::setMinDistance(float metres)
{
    for (LineBank* bank : {&left, &right}) {
        bank->minDistance = metres;
        bank->distributeLengths();
        bank->refreshFeedback();
    }
}

void Engine::setMaxDistance(float metres)
{
    for (LineBank* bank : {&left, &right}) {
        bank->maxDistance = metres;
        bank->distributeLengths();
        bank->refreshFeedback();
    }
}

// The skew only ever acts on the right bank, which is what sets the two
// channels' lengths apart.
void Engine::setSpread(float percent)
{
    left.spread = 0.0f;
    left.distributeLengths();
    left.refreshFeedback();
    right.spread = percent * 0.01f;
    right.distributeLengths();
    right.refreshFeedback();
}

void Engine::setParallel(float value)
{
    const bool on = (value != 0.0f);
    left.parallel = on;
    right.parallel = on;
}
