// The output stage in sub-blocks of 16 as run drives it, host blocks of 256
// frames of white noise, lines settled: per-sample code against each kernel.
// Counter "ns/frame" covers both channels. The machines this runs on are
// often shared, so by default every case and road runs 8 times in random
// order, and the table at the end gives each one's least time and how many
// times faster than the per-sample code that is (least against least).
// Google Benchmark's own flags (--benchmark_filter, --benchmark_repetitions,
// ...) still apply.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
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

constexpr int kRoads = 1 + 8;  // the per-sample code and up to eight kernels (more are not run)
// The least ns per frame of each case and road in this run (0: not run).
double g_leastNs[std::size(kCases)][kRoads];

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
    double& least = g_leastNs[state.range(0)][road];
    if (least == 0.0 || ns < least)
        least = ns;
    if (road > 0 && stats.laneBlocks > 0) {
        const double laneBlocks = static_cast<double>(stats.laneBlocks);
        state.counters["per-sample %"] = 100.0 * static_cast<double>(stats.perSampleLaneBlocks) / laneBlocks;
        state.counters["gathered %"] = 100.0 * static_cast<double>(stats.gatheredLaneBlocks) / laneBlocks;
    }
}

// The roads this run knows: the per-sample code and the table's kernels.
int roadCount()
{
    return std::min(kRoads, 1 + static_cast<int>(kFastKernelCount));
}

int registerAll()
{
    for (int c = 0; c < static_cast<int>(std::size(kCases)); ++c)
        for (int r = 0; r < roadCount(); ++r) {
            const char* road = r == 0 ? "reference" : kFastKernels[r - 1].name;
            benchmark::RegisterBenchmark((std::string(kCases[c].name) + "/" + road).c_str(), bench)->Args({c, r});
        }
    return 0;
}
const int registered = registerAll();

void printLeast()
{
    std::printf("\nleast ns per frame (x = times faster than the per-sample code)\n%-16s", "case");
    for (int r = 0; r < roadCount(); ++r)
        std::printf(" %16s", r == 0 ? "per-sample" : kFastKernels[r - 1].name);
    std::printf("\n");
    for (size_t c = 0; c < std::size(kCases); ++c) {
        const double reference = g_leastNs[c][0];
        if (std::all_of(std::begin(g_leastNs[c]), std::end(g_leastNs[c]), [](double ns) { return ns == 0.0; }))
            continue;
        std::printf("%-16s", kCases[c].name);
        for (int r = 0; r < roadCount(); ++r) {
            const double ns = g_leastNs[c][r];
            char cell[32] = "-";
            if (ns > 0.0 && (r == 0 || reference == 0.0))
                std::snprintf(cell, sizeof cell, "%.1f", ns);
            else if (ns > 0.0)
                std::snprintf(cell, sizeof cell, "%.1f (%.1fx)", ns, reference / ns);
            std::printf(" %16s", cell);
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Defaults for a shared machine, unless the command line sets them.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=8";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char minTime[] = "--benchmark_min_time=0.2";
    char aggregates[] = "--benchmark_display_aggregates_only=true";
    auto given = [&](const char* flag) {
        return std::any_of(args.begin() + 1, args.end(), [&](const char* a) { return std::strncmp(a, flag, std::strlen(flag)) == 0; });
    };
    if (!given("--benchmark_repetitions")) {
        args.push_back(repetitions);
        if (!given("--benchmark_enable_random_interleaving"))
            args.push_back(interleave);
    }
    if (!given("--benchmark_min_time"))
        args.push_back(minTime);
    if (!given("--benchmark_display_aggregates_only"))
        args.push_back(aggregates);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printLeast();
    return 0;
}
