// Shared pieces of the unit tests: an instance wired like instantiate wires
// it, and a guard that parks whatever sits at the log path during a test.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"

#include "log/Log.h"
#include "plugin/PluginInstance.h"

// Natural control values: the construction state of the engine, mix at 50 %.
constexpr float kDefaults[kPortCount] = {0, 0, 0, 50, 4, 300, 2, 100, 0, 0, 20, 12000, 0, 0, 0.1f, 1.1f};
constexpr uint32_t kMaxBlock = 512;
constexpr float kSentinel = 12345.0f;

// Instance and engine as instantiate builds them, plus the host's buffers.
// About 1 MB: always on the heap.
struct Rig {
    PluginInstance self;
    Engine engine;
    float control[kPortCount];
    float in[kMaxBlock], left[kMaxBlock], right[kMaxBlock];

    explicit Rig(double rate = 48000.0) : control(), in(), left(), right()
    {
        self.engine = &engine;
        self.sampleRate = rate;
        engine.setSampleRate(static_cast<float>(rate));
        CachedControl* cached[] = {&self.lineCount, nullptr, &self.minDistance, &self.maxDistance, &self.spread,
            &self.parallel, &self.lowCut, &self.highCut, &self.depthMin, &self.depthMax, &self.rateMin, &self.rateMax};
        for (uint32_t p = kPortMix; p < kPortCount; ++p)
            control[p] = kDefaults[p];
        for (uint32_t p = kPortLines; p < kPortCount; ++p)
            if (cached[p - kPortLines])
                cached[p - kPortLines]->port = &control[p];
        self.mixPort = &control[kPortMix];
        self.decayPort = &control[kPortDecay];
        self.input = in, self.outputLeft = left, self.outputRight = right;
        for (uint32_t j = 0; j < kMaxBlock; ++j)
            in[j] = 0.5f * std::sin(0.05f * static_cast<float>(j)), left[j] = right[j] = kSentinel;
    }
    void run(uint32_t frames) { runBlock(self, frames); }

    // `frames` frames in full blocks: input(t) gives frame t's sample,
    // output(t, left, right) sees what came out.
    template <typename Input, typename Output>
    void play(uint64_t frames, Input input, Output output)
    {
        for (uint64_t start = 0; start < frames; start += kMaxBlock) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kMaxBlock, frames - start));
            for (uint32_t j = 0; j < n; ++j)
                in[j] = input(start + j);
            run(n);
            for (uint32_t j = 0; j < n; ++j)
                output(start + j, left[j], right[j]);
        }
    }
    void silence(uint64_t frames)
    {
        play(frames, [](uint64_t) { return 0.0f; }, [](uint64_t, float, float) {});
    }
};

inline std::unique_ptr<Rig> makeRig(double rate = 48000.0) { return std::make_unique<Rig>(rate); }

using support::pathExists;
using support::readFile;

// The shared guard, with this process's log level at 0 before and after.
class LogFileGuard : public support::LogFile {
public:
    LogFileGuard() { g_logLevel = 0; }
    ~LogFileGuard() { g_logLevel = 0; }
    // A log file with this text, then the level read from it as instantiate does.
    void enable(const std::string& text)
    {
        switchOn(text);
        readLogLevel();
    }
};
