// What a frame costs: the plug-in as a host runs it (blocks of 256 at
// 48 kHz, white noise), the tail of silence after a loud burst against the
// burst itself, and the non-finite guard of the output stage.
#include <time.h>

#include <cfloat>
#include <cmath>
#include <memory>

#include <benchmark/benchmark.h>

#include "Harness.h"
#include "engine/Engine.h"
#include "engine/FloatMode.h"

using namespace support;

namespace {

constexpr uint32_t kBlock = 256;
constexpr size_t kRate = 48000;

struct Setup {
    float lines, parallel, depthMin, depthMax;
};

void configure(Instance& instance, const Setup& setup)
{
    instance.controls[kPortMix] = 50;
    instance.controls[kPortLines] = setup.lines;
    instance.controls[kPortParallel] = setup.parallel;
    instance.controls[kPortDepthMin] = setup.depthMin;
    instance.controls[kPortDepthMax] = setup.depthMax;
}

// Runs `frames` of `input` (cycled) through the instance in host blocks.
// A warm-up of four seconds fills every line's ring (the longest holds a
// third of a second) and lets the decay reach its steady level.
template <typename PerBlock>
void stream(Instance& instance, const std::vector<float>& input, size_t frames, PerBlock perBlock)
{
    static std::vector<float> left(kBlock), right(kBlock);
    for (size_t done = 0; done < frames; done += kBlock) {
        const size_t at = done % (input.size() - kBlock);
        instance.connectAudio(&input[at], left.data(), right.data());
        instance.run(kBlock);
        perBlock(left, right);
    }
}
void stream(Instance& instance, const std::vector<float>& input, size_t frames)
{
    stream(instance, input, frames, [](const std::vector<float>&, const std::vector<float>&) {});
}

benchmark::Counter perFrame(double frames)
{
    return benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Run(benchmark::State& state, Setup setup)
{
    const std::vector<float> noise = whiteNoise(kRate, 0.5f, 1);
    Instance instance;
    configure(instance, setup);
    stream(instance, noise, 4 * kRate);
    size_t frames = 0;
    for (auto _ : state) {
        stream(instance, noise, 16 * kBlock);
        frames += 16 * kBlock;
    }
    state.counters["time/frame"] = perFrame(static_cast<double>(frames));
}
BENCHMARK_CAPTURE(BM_Run, 1_line, Setup{1, 0, 0, 0});
BENCHMARK_CAPTURE(BM_Run, 4_series_depth0, Setup{4, 0, 0, 0});
BENCHMARK_CAPTURE(BM_Run, 8_series_modulated, Setup{8, 0, 10, 30});
BENCHMARK_CAPTURE(BM_Run, 8_parallel_modulated, Setup{8, 1, 10, 30});

// Two seconds of loud noise, then thirty seconds of digital silence, on
// eight modulated lines in series with a one-second decay: the tail falls
// through the whole range of denormal numbers within the silence. Reports
// the silent part's cost per frame against the loud part's (to stay below
// 1.2), both in thread CPU time, and from when on the tail stayed below
// FLT_MIN and at exact zero.
double threadSeconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

void BM_SilenceAfterBurst(benchmark::State& state)
{
    const std::vector<float> loud = whiteNoise(kRate, 1.0f, 2);
    const std::vector<float> silence(kRate, 0.0f);
    double loudSeconds = 0, silentSeconds = 0, belowMin = 0, zero = 0;
    for (auto _ : state) {
        Instance instance;
        configure(instance, Setup{8, 0, 10, 30});
        instance.controls[kPortDecay] = 1000;
        stream(instance, loud, 4 * kRate);
        const double t0 = threadSeconds();
        stream(instance, loud, 2 * kRate);
        const double t1 = threadSeconds();
        size_t at = 0, firstBelowMin = 0, firstZero = 0;
        stream(instance, silence, 30 * kRate, [&](const std::vector<float>& l, const std::vector<float>& r) {
            float peak = 0;
            for (uint32_t i = 0; i < kBlock; ++i)
                peak = std::max({peak, std::fabs(l[i]), std::fabs(r[i])});
            at += kBlock;
            firstBelowMin = (peak < FLT_MIN) ? (firstBelowMin ? firstBelowMin : at) : 0;
            firstZero = (peak == 0) ? (firstZero ? firstZero : at) : 0;
        });
        const double t2 = threadSeconds();
        loudSeconds += t1 - t0;
        silentSeconds += t2 - t1;
        belowMin = static_cast<double>(firstBelowMin) / kRate;
        zero = static_cast<double>(firstZero) / kRate;
        state.SetIterationTime(t2 - t0);
    }
    const double iterations = static_cast<double>(state.iterations());
    const double loudNs = loudSeconds * 1e9 / (iterations * 2 * kRate);
    const double silentNs = silentSeconds * 1e9 / (iterations * 30 * kRate);
    state.counters["loud_ns/frame"] = loudNs;
    state.counters["silent_ns/frame"] = silentNs;
    state.counters["silent/loud"] = silentNs / loudNs;
    state.counters["below_FLT_MIN_at_s"] = belowMin;
    state.counters["zero_at_s"] = zero;
}
BENCHMARK(BM_SilenceAfterBurst)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The output stage alone (Engine::process, eight modulated lines in series),
// with input that is finite throughout, that holds a NaN every 1000th sample
// (the guard swaps it for silence), or that holds a 3e38 sample every 4800th
// (the lines overflow, and the sub-block's end clears them).
void BM_EngineGuard(benchmark::State& state)
{
    std::vector<float> input = whiteNoise(kRate, 0.5f, 3);
    const int64_t kind = state.range(0);
    for (size_t i = 0; kind && i < input.size(); i += kind == 1 ? 1000 : 4800)
        input[i] = kind == 1 ? NAN : 3e38f;
    ScopedFlushDenormals flush;
    const auto engine = std::make_unique<Engine>();
    engine->setLineCount(8);
    engine->setModDepthMin(10);
    engine->setModDepthMax(30);
    engine->setDecay(300);
    engine->setMix(0);
    std::vector<float> left(16), right(16);
    const auto chunk = [&](size_t at) { engine->process(&input[at], left.data(), right.data(), 16); };
    for (size_t at = 0; at + 16 <= 4 * kRate; at += 16)
        chunk(at % input.size());
    size_t frames = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < input.size(); at += 16)
            chunk(at);
        frames += input.size();
    }
    state.counters["time/frame"] = perFrame(static_cast<double>(frames));
}
BENCHMARK(BM_EngineGuard)->ArgName("finite0_nan1_overflow2")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// The guard's own per-sub-block work: the finiteness check of the damping
// states of eight active lines in each bank, spread over the sixteen frames.
void BM_RecoverLinesCheck(benchmark::State& state)
{
    const auto bank = std::make_unique<LineBank>();
    bank->count = 8;
    size_t frames = 0;
    for (auto _ : state) {
        bank->recoverLines();
        bank->recoverLines();  // both banks
        benchmark::ClobberMemory();
        frames += 16;
    }
    state.counters["time/frame"] = perFrame(static_cast<double>(frames));
}
BENCHMARK(BM_RecoverLinesCheck);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (LogFile::exists())
        std::fprintf(stderr, "warning: %s exists, so the instances log and the times include the writes\n",
                     LogFile::kPath);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
