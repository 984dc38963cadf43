// Hostile input samples: non-finite and huge values must neither poison the
// network for the rest of the instance's life nor change what the rest of
// the signal produces.
#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include <gtest/gtest.h>

#include "Harness.h"

using namespace support;

namespace {

constexpr size_t kBlock = 256;
constexpr size_t kBurstStart = 9600 + 7;  // on no block or sub-block edge
constexpr size_t kTail = 48000;           // one second of silence after the burst
constexpr size_t kSubBlock = 16;

using Burst = std::tuple<uint32_t, bool, float>;  // burst length, parallel, lines

class BadAudio : public testing::TestWithParam<Burst> {
protected:
    // Noise, then `length` samples of `value`, then silence.
    static std::vector<float> signal(float value)
    {
        const uint32_t length = std::get<0>(GetParam());
        std::vector<float> input = whiteNoise(kBurstStart + length + kTail, 0.5f, 7);
        std::fill(input.begin() + kBurstStart, input.end(), 0.0f);
        std::fill(input.begin() + kBurstStart, input.begin() + kBurstStart + length, value);
        return input;
    }

    static Stereo process(const std::vector<float>& input)
    {
        Instance instance;
        const auto [length, parallel, lines] = GetParam();
        for (const auto& [port, value] : {std::pair{kPortMix, 50.0f}, {kPortLines, lines},
                 {kPortParallel, parallel ? 1.0f : 0.0f}, {kPortDepthMin, 5.0f}, {kPortDepthMax, 40.0f},
                 {kPortRateMin, 0.3f}, {kPortRateMax, 2.0f}})
            instance.controls[port] = value;
        return render(instance, input, kBlock);
    }

    static size_t burstEnd() { return kBurstStart + std::get<0>(GetParam()); }
};

// A NaN, an infinity or a sample beyond 1e30 reaches the outputs only through
// the dry term of its own frame; the network sees silence in its place, so
// every other frame is bit for bit what the same signal with zeros there gives.
TEST_P(BadAudio, BrokenSamplesActAsSilence)
{
    const Stereo silent = process(signal(0.0f));
    for (const float value : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), 3e38f, -1.5e30f}) {
        const Stereo out = process(signal(value));
        for (size_t i = 0; i < out.left.size(); ++i) {
            const bool inBurst = i >= kBurstStart && i < burstEnd();
            if (inBurst && !std::isfinite(value)) {
                ASSERT_FALSE(std::isfinite(out.left[i]) || std::isfinite(out.right[i])) << value << " at " << i;
            } else if (!inBurst) {
                ASSERT_TRUE(sameBits(out.left[i], silent.left[i]) && sameBits(out.right[i], silent.right[i]))
                    << value << " at frame " << i << ", burst " << kBurstStart << ".." << burstEnd();
            }
        }
    }
}

// Input near 1e30 is finite and must pass untouched: scaled by 2^-100 it is
// a sane signal, and scaling is exact in floating point, so the huge run is
// that sane run times 2^100, frame for frame, decaying as it does.
TEST_P(BadAudio, HugeFiniteInputBehavesAsScaledSaneInput)
{
    const float scale = std::ldexp(1.0f, 100);
    std::vector<float> input = signal(1e30f / scale);
    const Stereo sane = process(input);
    for (float& x : input)
        x *= scale;
    const Stereo huge = process(input);
    // The network still rings with huge values after the burst.
    const auto after = huge.left.begin() + static_cast<std::ptrdiff_t>(burstEnd());
    const auto loudest = std::max_element(after, after + 2000, [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    ASSERT_GT(std::fabs(*loudest), 1e18f);
    for (size_t i = 0; i < input.size(); ++i)
        ASSERT_TRUE(sameBits(huge.left[i], sane.left[i] * scale) && sameBits(huge.right[i], sane.right[i] * scale))
            << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Bursts, BadAudio,
                         testing::Combine(testing::Values(1u, 1000u), testing::Bool(), testing::Values(1.0f, 8.0f)));

} // namespace
