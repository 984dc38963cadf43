// One instance through a long session: random block sizes (0, 1, 15, 16,
// 17, 4096 and anything between), a few controls changed every few blocks,
// mostly within their declared ranges and now and then to a hostile value,
// and finite input of every level from silence to full scale. Reports the
// frames processed, the peak output level, whether any non-finite sample
// came out, and the slowest block against its real-time budget (in thread
// CPU time, so that other processes on the machine do not count).
//
//   streuwolke_soak [seconds of audio, default 3600] [seed]
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Harness.h"

using namespace support;

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3600.0;
    const uint32_t seed = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 1;
    constexpr double kRate = 48000.0;
    constexpr uint32_t kMaxBlock = 4096;
    constexpr uint32_t kSizes[] = {0, 1, 15, 16, 17, kMaxBlock};
    const auto total = static_cast<uint64_t>(seconds * kRate);

    std::mt19937 rng(seed);
    const std::vector<float> noise = whiteNoise(8 * kMaxBlock, 1.0f, seed);
    std::vector<float> input(kMaxBlock), left(kMaxBlock), right(kMaxBlock);
    const bool logged = LogFile::exists();  // instantiate reads the switch
    Instance instance;
    instance.connectAudio(input.data(), left.data(), right.data());

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    uint64_t frames = 0, blocks = 0, changes = 0, hostile = 0, nonFinite = 0;
    float peak = 0.0f, level = 0.1f;
    double worstLoad = 0.0;  // block time over block duration
    uint32_t worstBlock = 0;
    bool worstMoved = false;
    while (frames < total) {
        const bool moved = rng() % 4 == 0;
        if (moved) {
            // A few ports to new in-range values, or one to a hostile value.
            if (rng() % 10 == 0) {
                instance.hostileControl(rng);
                ++hostile;
            } else {
                const auto kept = instance.controls;
                instance.randomControls(rng);
                for (uint32_t p = kFirstControlPort; p < kPortCount; ++p)
                    if (rng() % 4 != 0)
                        instance.controls[p] = kept[p];
            }
            ++changes;
        }
        if (rng() % 64 == 0)  // a new input level, from silence to full scale
            level = rng() % 8 == 0 ? 0.0f : std::pow(10.0f, -6.0f * std::uniform_real_distribution<float>()(rng));

        const uint32_t n = rng() % 2 ? kSizes[rng() % std::size(kSizes)] : 1 + rng() % kMaxBlock;
        const size_t at = rng() % (noise.size() - kMaxBlock);
        for (uint32_t i = 0; i < n; ++i)
            input[i] = level * noise[at + i];

        timespec t0, t1;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
        instance.run(n);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
        const double load =
            (static_cast<double>(t1.tv_sec - t0.tv_sec) + 1e-9 * static_cast<double>(t1.tv_nsec - t0.tv_nsec)) * kRate /
            std::max(n, 1u);
        if (n >= 256 && load > worstLoad) {
            worstLoad = load;
            worstBlock = n;
            worstMoved = moved;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const float a = std::fabs(left[i]), b = std::fabs(right[i]);
            nonFinite += !std::isfinite(a) + !std::isfinite(b);
            peak = std::max({peak, std::isfinite(a) ? a : 0.0f, std::isfinite(b) ? b : 0.0f});
        }
        frames += n;
        ++blocks;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();

    std::printf("audio          %.0f s at 48 kHz, seed %u, diagnostic log %s\n", static_cast<double>(frames) / kRate,
                seed, logged ? "ON (its writes are in the times)" : "off");
    std::printf("frames         %llu in %llu blocks\n", static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(blocks));
    std::printf("control moves  %llu (%llu hostile)\n", static_cast<unsigned long long>(changes),
                static_cast<unsigned long long>(hostile));
    std::printf("wall time      %.1f s (%.0f x real time, %.1f ns per frame)\n", wall, frames / kRate / wall,
                wall * 1e9 / static_cast<double>(frames));
    std::printf("slowest block  %.3f of its real-time budget in CPU time (%u frames, controls %s)\n", worstLoad,
                worstBlock, worstMoved ? "moved" : "unchanged");
    std::printf("peak output    %g (%.1f dBFS)\n", static_cast<double>(peak), 20.0 * std::log10(peak));
    std::printf("non-finite     %llu output samples\n", static_cast<unsigned long long>(nonFinite));
    return nonFinite == 0 ? 0 : 1;
}
