// The block-wise output stage against the per-sample one: every output bit,
// every byte of engine state and every log line, over long random sessions
// with hostile input and controls that change all the time.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Harness.h"
#include "engine/Engine.h"
#include "engine/FastPath.h"
#include "engine/FloatMode.h"

namespace {

struct Kernel {
    const char* name;
    FastKernel run;
};

// Every kernel of the library's table that this processor runs; the others
// are named as skipped.
std::vector<Kernel> kernels()
{
    std::vector<Kernel> list;
    for (size_t k = 0; k < kFastKernelCount; ++k) {
        const FastKernelInfo& info = kFastKernels[k];
        if (info.available())
            list.push_back({info.name, info.run});
        else
            std::printf("skipped: kernel %s, which this processor does not run\n", info.name);
    }
    return list;
}

struct Trace {
    std::vector<float> left, right;
    std::unique_ptr<Engine> engine;
    FastStats stats;
    uint64_t resizeEnds = 0;
    std::string log;  // the engine's log events, drained after every call
};

void drainEvents(Engine& e, std::string& log)
{
    LogEvents& events = e.context.events;
    EXPECT_EQ(events.lost, 0u);
    for (uint32_t k = 0; k < events.count; ++k)
        log += std::to_string(events.feedback[k].feedback) + " " + std::to_string(events.feedback[k].length) + "\n";
    events.clear();
}

// One random control change. Short lines with deep modulation make taps that
// reach into the sub-block's own writes; distance nudges start short length
// changes that end soon, jumps start long ones; a knob blip asks for a length
// and takes it back; count changes bring back lines that start afresh; and
// the host switches the plug-in off and on (activate).
void randomControl(std::mt19937& rng, Engine& e)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float u = unit(rng);
    const float nudge = 0.1f * unit(rng) - 0.05f;
    switch (rng() % 14) {
    case 0: e.setLineCount(1.0f + 8.0f * u); break;
    case 1: e.setMinDistance(u < 0.3f ? 0.5f + 2.0f * u : e.settings.minDistance + nudge); break;
    case 2: e.setMaxDistance(u < 0.3f ? 110.0f * u : e.settings.maxDistance + nudge); break;
    case 3: e.setSpread(u < 0.3f ? 100.0f * u : e.settings.spread + nudge); break;
    case 4: e.setParallel(u < 0.5f ? 0.0f : 1.0f); break;
    case 5: e.setModDepthMin(u < 0.2f ? 0.0f : 100.0f * u); break;
    case 6: e.setModDepthMax(u < 0.2f ? 0.0f : 100.0f * u); break;
    case 7: e.setModRateMin(0.01f + 10.0f * u); break;
    case 8: e.setModRateMax(0.01f + 10.0f * u); break;
    case 9: e.setDecay(u < 0.1f ? 0.0f : 10000.0f * u * u); break;
    case 10: e.setMix(2.0f * u - 1.0f); break;
    case 11: {
        const float was = e.settings.maxDistance;
        e.setMaxDistance(110.0f * u);
        e.setMaxDistance(was);
        break;
    }
    case 12: e.clearAudio(); break;
    default: e.setMinDistance(e.settings.minDistance + nudge); break;
    }
}

// White noise at a random level, with now and then a burst of NaN,
// infinities, denormals or huge values of alternating sign.
struct Noise {
    std::mt19937& rng;
    float level = 1.0f;
    int burst = 0;
    float hostile = 0.0f;

    float next()
    {
        static const float kHostile[] = {NAN, INFINITY, -INFINITY, 1e30f, 3e38f, 1e-40f};
        if (burst == 0 && rng() % 4000 == 0) {
            burst = 1 + static_cast<int>(rng() % 8);
            hostile = kHostile[rng() % std::size(kHostile)];
        }
        if (burst > 0) {
            --burst;
            hostile = -hostile;
            return hostile;
        }
        return level * std::uniform_real_distribution<float>(-1.0f, 1.0f)(rng);
    }
};

// A session is a function of its seed alone, so the two roads get the same
// controls, block lengths, buffer sharing and input. Without a kernel the
// session runs the per-sample code.
Trace session(uint32_t seed, uint64_t frames, FastKernel kernel)
{
    std::mt19937 rng(seed);
    Trace trace;
    trace.engine.reset(new Engine());  // value-initialised: padding bytes are zero
    Engine& e = *trace.engine;
    e.setSampleRate(rng() % 2 ? 48000.0f : 44100.0f);
    const bool flush = rng() % 2;
    // A fresh engine: its lines take their first lengths at once.
    for (int changes = 0; changes < 12; ++changes) {
        randomControl(rng, e);
        drainEvents(e, trace.log);
    }
    Noise noise{rng};
    std::vector<float> in(256), left(256), right(256);
    while (trace.left.size() < frames) {
        if (rng() % 64 == 0)
            for (uint32_t changes = 1 + rng() % 3; changes > 0; --changes)
                randomControl(rng, e);
        if (rng() % 50 == 0)
            noise.level = std::pow(10.0f, -std::uniform_real_distribution<float>(0.0f, 40.0f)(rng));
        const uint32_t pick = rng() % 16;
        const uint32_t n = pick < 10 ? 16 : pick < 14 ? rng() % 17 : rng() % 200;
        for (uint32_t j = 0; j < n; ++j)
            in[j] = noise.next();
        // Now and then a line's state overflows, as only hostile settings
        // can make it: both roads must clear it the same way.
        if (rng() % 400 == 0) {
            e.syncLines();
            LineBank& bank = rng() % 2 ? e.left : e.right;
            DelayLine& line = bank.lines[rng() % bank.count];
            (rng() % 2 ? line.lowpassState : line.highpassState) = rng() % 2 ? INFINITY : NAN;
        }
        // Hosts may hand the input buffer as an output buffer.
        const uint32_t sharing = rng() % 4;
        float* outLeft = left.data();
        float* outRight = right.data();
        const float* input = in.data();
        if (sharing == 1)
            input = outLeft = in.data();
        else if (sharing == 2)
            input = outRight = in.data();
        std::vector<bool> wasResizing;
        for (const LineBank* bank : {&e.left, &e.right})
            for (const DelayLine& line : bank->lines)
                wasResizing.push_back(line.resizing);
        {
            std::unique_ptr<ScopedFlushDenormals> mode(flush ? new ScopedFlushDenormals : nullptr);
            if (kernel)
                processFast(e, input, outLeft, outRight, n, kernel, &trace.stats);
            else
                e.processReference(input, outLeft, outRight, n);
        }
        drainEvents(e, trace.log);
        size_t k = 0;
        for (const LineBank* bank : {&e.left, &e.right})
            for (const DelayLine& line : bank->lines)
                trace.resizeEnds += wasResizing[k++] && !line.resizing;
        trace.left.insert(trace.left.end(), outLeft, outLeft + n);
        trace.right.insert(trace.right.end(), outRight, outRight + n);
    }
    e.syncLines();
    return trace;
}

// Where two engines first differ, by bank, line and field offset. The lane
// record, which only the block-wise road fills, is left out.
std::string firstDifference(const Engine& a, const Engine& b)
{
    const auto* pa = reinterpret_cast<const unsigned char*>(&a);
    const auto* pb = reinterpret_cast<const unsigned char*>(&b);
    const size_t end = offsetof(Engine, lanes);
    size_t at = 0;
    while (at < end && pa[at] == pb[at])
        ++at;
    if (at == end)
        return "none";
    for (const LineBank* bank : {&a.left, &a.right}) {
        const size_t first = reinterpret_cast<const unsigned char*>(&bank->lines[0]) - pa;
        if (at >= first && at < first + sizeof bank->lines) {
            const size_t line = (at - first) / sizeof(DelayLine);
            const size_t inLine = (at - first) % sizeof(DelayLine);
            return std::string(bank == &a.left ? "left" : "right") + " line " + std::to_string(line)
                + " byte " + std::to_string(inLine);
        }
    }
    return "engine byte " + std::to_string(at);
}

void expectSameRun(const Trace& fast, const Trace& reference)
{
    ASSERT_EQ(fast.left.size(), reference.left.size());
    for (size_t j = 0; j < fast.left.size(); ++j) {
        ASSERT_TRUE(support::sameBits(fast.left[j], reference.left[j], true)) << "left frame " << j;
        ASSERT_TRUE(support::sameBits(fast.right[j], reference.right[j], true)) << "right frame " << j;
    }
    EXPECT_EQ(firstDifference(*fast.engine, *reference.engine), "none");
}

TEST(FastPath, EveryBitAsThePerSampleCode)
{
    const std::vector<Kernel> list = kernels();
    std::vector<FastStats> total(list.size());
    uint64_t resizeEnds = 0;
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        const uint64_t frames = 250000;
        const Trace reference = session(seed, frames, nullptr);
        resizeEnds += reference.resizeEnds;
        for (size_t k = 0; k < list.size(); ++k) {
            SCOPED_TRACE(std::string(list[k].name) + " seed " + std::to_string(seed));
            const Trace fast = session(seed, frames, list[k].run);
            expectSameRun(fast, reference);
            total[k].laneBlocks += fast.stats.laneBlocks;
            total[k].perSampleLaneBlocks += fast.stats.perSampleLaneBlocks;
            total[k].gatheredLaneBlocks += fast.stats.gatheredLaneBlocks;
            total[k].recoveries += fast.stats.recoveries;
        }
    }
    // The sessions reach every road of the kernels. Short lines with deep
    // modulation read just behind the write index (the modulation stops
    // there), which only the per-sample road can do; they are frequent here
    // on purpose, and still the per-sample road stays the exception.
    EXPECT_GT(resizeEnds, 500u);
    for (size_t k = 0; k < list.size(); ++k) {
        SCOPED_TRACE(list[k].name);
        EXPECT_GT(total[k].perSampleLaneBlocks, 1000u);
        EXPECT_GT(total[k].gatheredLaneBlocks, 100u);
        EXPECT_GT(total[k].recoveries, 10u);
        EXPECT_LT(total[k].perSampleLaneBlocks * 5, total[k].laneBlocks);
        std::printf("%s: %llu line-sub-blocks, %llu per sample, %llu with scattered taps, %llu recoveries\n",
            list[k].name, static_cast<unsigned long long>(total[k].laneBlocks),
            static_cast<unsigned long long>(total[k].perSampleLaneBlocks),
            static_cast<unsigned long long>(total[k].gatheredLaneBlocks),
            static_cast<unsigned long long>(total[k].recoveries));
    }
}

// STREUWOLKE_SIMD names any kernel this processor runs; any other name leaves
// the choice to the library.
TEST(FastPath, EnvironmentNamesTheKernel)
{
    const char* was = std::getenv("STREUWOLKE_SIMD");
    const std::string saved = was ? was : "";
    unsetenv("STREUWOLKE_SIMD");
    const FastKernel automatic = bestFastKernel();
    for (const Kernel& kernel : kernels()) {
        setenv("STREUWOLKE_SIMD", kernel.name, 1);
        EXPECT_EQ(bestFastKernel(), kernel.run) << kernel.name;
    }
    setenv("STREUWOLKE_SIMD", "no such kernel", 1);
    EXPECT_EQ(bestFastKernel(), automatic);
    if (was)
        setenv("STREUWOLKE_SIMD", saved.c_str(), 1);
    else
        unsetenv("STREUWOLKE_SIMD");
}

// Two lines may end their length changes within one sub-block; the log lines
// still come in the per-sample order.
TEST(FastPath, LogLinesInThePerSampleOrder)
{
    std::string text[2];
    for (int road = 0; road < 2; ++road)
        text[road] = session(7, 100000, road ? nullptr : bestFastKernel()).log;
    EXPECT_GT(std::count(text[1].begin(), text[1].end(), '\n'), 1000);
    EXPECT_TRUE(text[0] == text[1]);
}

}  // namespace
