// Several instances processing on several threads at once, while another
// thread creates and destroys more of them and switches the diagnostic log
// on and off between instantiations. Instances share nothing but the log
// level, so each audio thread's output must be exactly what the same work
// gives on one thread alone.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "Harness.h"

using namespace support;

namespace {

constexpr uint32_t kSizes[] = {0, 1, 15, 16, 17, 64, 256, 1000};

struct Work {
    uint32_t seed;
    long blocks = 0;         // how many blocks the threaded run managed
    std::atomic<long> progress{0};  // the same, while it runs
    uint64_t digest = 0;     // of every output sample, FNV-1a over the bits
    bool finite = true;
};

// One instance, `blocks` blocks of random size, the controls moving every
// few blocks, now and then to a hostile value; with blocks < 0, as many
// blocks as fit before `stop`.
void process(Work& work, long blocks, const std::atomic<bool>* stop)
{
    Instance instance;
    std::mt19937 rng(work.seed);
    const std::vector<float> input = whiteNoise(1000, 0.5f, work.seed);
    std::vector<float> left(1000), right(1000);
    instance.connectAudio(input.data(), left.data(), right.data());
    uint64_t digest = 1469598103934665603ULL;
    long done = 0;
    for (; blocks < 0 ? !stop->load(std::memory_order_relaxed) : done < blocks; ++done) {
        if (rng() % 4 == 0)
            instance.randomControls(rng);
        if (rng() % 16 == 0)
            instance.hostileControl(rng);
        const uint32_t n = kSizes[rng() % std::size(kSizes)];
        instance.run(n);
        for (uint32_t i = 0; i < n; ++i) {
            work.finite = work.finite && std::isfinite(left[i]) && std::isfinite(right[i]);
            uint32_t bits[2];
            std::memcpy(&bits[0], &left[i], 4);
            std::memcpy(&bits[1], &right[i], 4);
            digest = (digest ^ bits[0]) * 1099511628211ULL;
            digest = (digest ^ bits[1]) * 1099511628211ULL;
        }
        work.progress.store(done + 1, std::memory_order_relaxed);
    }
    work.blocks = done;
    work.digest = digest;
}

TEST(Threads, InstancesRunConcurrentlyWithLifecycleAndLogSwitching)
{
    LogFile log;
    LogFile::switchOff();
    std::atomic<bool> stop{false};
    Work audio[3] = {{101}, {202}, {303}};
    std::vector<std::thread> threads;
    for (Work& work : audio)
        threads.emplace_back([&work, &stop] { process(work, -1, &stop); });

    std::atomic<long> lifecycles{0};
    bool logged = false;
    std::thread lifecycle([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            const bool on = lifecycles++ % 2 == 0;
            if (on)
                LogFile::switchOn("1\n");
            else
                LogFile::switchOff();
            Work extra{static_cast<uint32_t>(lifecycles)};
            process(extra, 8, nullptr);
            logged = logged || (on && LogFile::text().find("fdbk:") != std::string::npos);
        }
        LogFile::switchOff();
    });

    // Until every thread has done enough work alongside the others, however
    // slow the machine (an emulator, a loaded CI runner); the deadline only
    // keeps a hang from running for ever.
    const auto enough = [&] {
        for (const Work& work : audio)
            if (work.progress.load(std::memory_order_relaxed) <= 40)
                return false;
        return lifecycles.load(std::memory_order_relaxed) > 8;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    while (!enough() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop = true;
    lifecycle.join();
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_GT(lifecycles.load(), 8);
    EXPECT_TRUE(logged);
    for (const Work& work : audio) {
        EXPECT_GT(work.blocks, 40);
        EXPECT_TRUE(work.finite);
        Work alone{work.seed};
        process(alone, work.blocks, nullptr);
        EXPECT_EQ(alone.digest, work.digest) << "seed " << work.seed << ", " << work.blocks << " blocks";
    }
    std::printf("%ld lifecycles; audio blocks %ld, %ld, %ld\n", lifecycles.load(), audio[0].blocks, audio[1].blocks,
                audio[2].blocks);
}

} // namespace
