// The output stage in sub-blocks of 16 as run drives it, host blocks of 256
// frames of white noise, lines settled: per-sample code against each kernel.
// Counter "ns/frame" covers both channels; "x reference" is how many times
// faster than the per-sample code of the same case in the same run (it needs
// the reference road to run first, as it does unless a filter leaves it out).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <iterator>
#include <memory>
#include <string>
#include <random>
#include <vector>

#include "engine/Engine.h"
#include "engine/FastPath.h"
#include "engine/FloatMode.h"

namespace {

struct Case {
    const char* name;
    float lines;
    float depthMin, depthMax;  // percent
    bool parallel;
    bool resizing;  // the longest distance swings, so every line keeps changing length
    // The plug-in's defaults where these are set; the engine's construction
    // values otherwise (2 to 100 m, 0.1 to 1.1 Hz, no spread, 1.5 s decay).
    float minDistance = NAN, maxDistance = NAN, spread = NAN, rateMin = NAN, rateMax = NAN, decay = 1500.0f;
};

const Case kCases[] = {{"1 line", 1, 0, 0, false, false}, {"4 series", 4, 0, 0, false, false},
    {"8 mod series", 8, 30, 30, false, false}, {"8 mod parallel", 8, 30, 30, true, false},
    {"8 mod resizing", 8, 30, 30, false, true},
    {"defaults", 8, 6.4f, 29, false, false, 1, 17, 28, 0.1f, 0.61f, 815}};
constexpr uint32_t kHostBlock = 256;

// ns per frame of the per-sample code, by case, from this run.
double g_referenceNs[std::size(kCases)];

// Road 0 is the per-sample code, road r > 0 the kernel in row r - 1 of the
// library's table.
void processWith(int road, Engine& e, const float* in, float* l, float* r, uint32_t n, FastStats* stats)
{
    if (road == 0)
        e.processReference(in, l, r, n);
    else
        processFast(e, in, l, r, n, kFastKernels[road - 1].run, stats);
}

void bench(benchmark::State& state)
{
    const Case c = kCases[state.range(0)];
    const int road = static_cast<int>(state.range(1));
    if (road > 0 && !kFastKernels[road - 1].available()) {
        state.SkipWithError("this processor does not run the kernel");
        return;
    }
    ScopedFlushDenormals flush;
    std::unique_ptr<Engine> e(new Engine());
    e->setSampleRate(48000.0f);
    e->setLineCount(c.lines);
    e->setParallel(c.parallel ? 1.0f : 0.0f);
    e->setModDepthMin(c.depthMin);
    e->setModDepthMax(c.depthMax);
    if (!std::isnan(c.minDistance)) {
        e->setMinDistance(c.minDistance);
        e->setMaxDistance(c.maxDistance);
        e->setSpread(c.spread);
        e->setModRateMin(c.rateMin);
        e->setModRateMax(c.rateMax);
    }
    e->setDecay(c.decay);
    e->setMix(0.0f);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> in(kHostBlock), left(kHostBlock), right(kHostBlock);
    for (float& x : in)
        x = noise(rng);
    FastStats stats;
    auto block = [&] {
        for (uint32_t start = 0; start < kHostBlock; start += 16)
            processWith(road, *e, in.data() + start, left.data() + start, right.data() + start, 16, &stats);
    };
    // Past the first length changes from the construction length.
    for (int k = 0; k < 2000; ++k)
        processFast(*e, in.data(), left.data(), right.data(), kHostBlock, bestFastKernel(), nullptr);
    int64_t iteration = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (c.resizing && iteration++ % 64 == 0)
            e->setMaxDistance(iteration % 128 == 1 ? 60.0f : 100.0f);
        block();
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(state.iterations()) * kHostBlock;
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / frames;
    state.counters["ns/frame"] = benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    if (road == 0)
        g_referenceNs[state.range(0)] = ns;
    else if (g_referenceNs[state.range(0)] > 0.0)
        state.counters["x reference"] = g_referenceNs[state.range(0)] / ns;
    if (road > 0 && stats.laneBlocks > 0) {
        const double laneBlocks = static_cast<double>(stats.laneBlocks);
        state.counters["per-sample %"] = 100.0 * static_cast<double>(stats.perSampleLaneBlocks) / laneBlocks;
        state.counters["gathered %"] = 100.0 * static_cast<double>(stats.gatheredLaneBlocks) / laneBlocks;
    }
}

int registerAll()
{
    for (int c = 0; c < static_cast<int>(std::size(kCases)); ++c)
        for (int r = 0; r <= static_cast<int>(kFastKernelCount); ++r) {
            const char* road = r == 0 ? "reference" : kFastKernels[r - 1].name;
            benchmark::RegisterBenchmark((std::string(kCases[c].name) + "/" + road).c_str(), bench)->Args({c, r});
        }
    return 0;
}
const int registered = registerAll();

}  // namespace
