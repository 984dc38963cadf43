#include "Preview.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "../plugin/PluginInstance.h"
#include "../tools/analyze/Analysis.h"

namespace {

constexpr uint32_t kBlockFrames = 256;

// The analysis runs on FFTW, whose planner must not run on two threads at
// once: every editor of the process measures under this one lock.
std::mutex g_analysisLock;

// An instance wired as instantiate and connect_port wire it. About 1 MB,
// so always on the heap.
struct Rig {
    Engine engine;
    PluginInstance self;
    float control[kPortCount] = {};
    float in[kBlockFrames] = {}, left[kBlockFrames] = {}, right[kBlockFrames] = {};

    Rig(const ControlValues& controls, double rate)
    {
        self.engine = &engine;
        engine.setSampleRate(static_cast<float>(rate));
        for (uint32_t p = kFirstControlPort; p < kPortCount; ++p) {
            control[p] = controls[p];
            self.controls[p] = &control[p];
        }
        control[kPortMix] = 100.0f;
        self.input = in, self.outputLeft = left, self.outputRight = right;
    }
};

float toDb(double energy, double reference)
{
    return energy > 0 && reference > 0 ? static_cast<float>(10.0 * std::log10(energy / reference))
                                        : -std::numeric_limits<float>::infinity();
}

ChannelFigures measure(const std::vector<float>& channel, double rate)
{
    std::lock_guard<std::mutex> lock(g_analysisLock);
    const Analysis a = analyze({channel}, rate);
    return {a.t30, a.densityReach09, a.undelayedDb};
}

} // namespace

ControlValues defaultControls()
{
    ControlValues values{};
    for (uint32_t p = kFirstControlPort; p < kPortCount; ++p)
        values[p] = kPorts[p].fallback;
    return values;
}

double previewSeconds(float decayMs)
{
    const double seconds = 0.5 + 2.5 * 0.001 * static_cast<double>(decayMs);
    return std::isfinite(seconds) ? std::clamp(seconds, 2.0, 12.0) : 12.0;
}

ImpulseResponse renderImpulse(const ControlValues& controls, double rate, size_t frames,
    const std::atomic<bool>* cancel)
{
    auto rig = std::make_unique<Rig>(controls, rate);
    ImpulseResponse out;
    out.left.resize(frames);
    out.right.resize(frames);
    for (size_t start = 0; start < frames; start += kBlockFrames) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            out.left.resize(start);
            out.right.resize(start);
            break;
        }
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kBlockFrames, frames - start));
        rig->in[0] = start == 0 ? 1.0f : 0.0f;
        runBlock(rig->self, n);
        std::copy_n(rig->left, n, out.left.begin() + static_cast<long>(start));
        std::copy_n(rig->right, n, out.right.begin() + static_cast<long>(start));
    }
    Engine& engine = rig->engine;
    engine.syncLines();
    out.lineCount = engine.left.count;
    for (uint64_t k = 0; k < out.lineCount; ++k) {
        out.lengths[0][k] = engine.left.lines[k].length;
        out.lengths[1][k] = engine.right.lines[k].length;
    }
    return out;
}

bool makePreview(const ControlValues& controls, double rate, Preview& p, const std::atomic<bool>* cancel)
{
    p.controls = controls;
    p.rate = rate;
    const size_t frames = static_cast<size_t>(std::lround(previewSeconds(controls[kPortDecay]) * rate));
    p.seconds = static_cast<double>(frames) / rate;
    const ImpulseResponse ir = renderImpulse(controls, rate, frames, cancel);
    if (ir.left.size() != frames)
        return false;
    p.lineCount = ir.lineCount;
    for (uint64_t k = 0; k < ir.lineCount; ++k)
        for (int c = 0; c < 2; ++c)
            p.lineSeconds[c][k] = static_cast<double>(ir.lengths[c][k]) / rate;

    const std::vector<float>* channels[2] = {&ir.left, &ir.right};
    std::vector<double> binEnergy[2];
    double loudest = 0;
    for (int c = 0; c < 2; ++c) {
        const std::vector<float>& h = *channels[c];
        binEnergy[c].assign(kEnvelopeBins, 0.0);
        for (size_t i = 0; i < frames; ++i)
            binEnergy[c][i * kEnvelopeBins / frames] += static_cast<double>(h[i]) * h[i];
        const std::vector<double> curve = decayCurveDb({h});
        p.decayDb[c].resize(kEnvelopeBins);
        for (size_t b = 0; b < kEnvelopeBins; ++b) {
            const size_t first = (b * frames + kEnvelopeBins - 1) / kEnvelopeBins;
            const size_t last = ((b + 1) * frames + kEnvelopeBins - 1) / kEnvelopeBins;
            binEnergy[c][b] /= static_cast<double>(std::max<size_t>(1, last - first));
            p.decayDb[c][b] = first < curve.size() ? static_cast<float>(curve[first]) : -300.0f;
            loudest = std::max(loudest, binEnergy[c][b]);
        }
    }
    for (int c = 0; c < 2; ++c) {
        p.envelopeDb[c].resize(kEnvelopeBins);
        for (size_t b = 0; b < kEnvelopeBins; ++b)
            p.envelopeDb[c][b] = toDb(binEnergy[c][b], loudest);
        p.figures[c] = measure(*channels[c], rate);
    }
    return true;
}

PreviewWorker::PreviewWorker(double rate) : rate_(rate), thread_([this] { loop(); }) {}

PreviewWorker::~PreviewWorker()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PreviewWorker::request(const ControlValues& controls)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_ = controls;
        hasWanted_ = true;
    }
    wake_.notify_all();
}

bool PreviewWorker::take(std::unique_ptr<Preview>& out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!done_)
        return false;
    out = std::move(done_);
    return true;
}

void PreviewWorker::loop()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextStart = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_.load() || hasWanted_; });
        // A burst of requests within the interval ends in one render of the last.
        wake_.wait_until(lock, nextStart, [this] { return stopping_.load(); });
        if (stopping_)
            return;
        const ControlValues controls = wanted_;
        hasWanted_ = false;
        nextStart = Clock::now() + kMinimumInterval;
        lock.unlock();
        std::unique_ptr<Preview> made;
        try {
            made = std::make_unique<Preview>();
            if (!makePreview(controls, rate_, *made, &stopping_))
                made.reset();
        } catch (...) {
            // Out of memory: no new picture, the editor keeps the last one.
            made.reset();
        }
        lock.lock();
        if (made)
            done_ = std::move(made);
    }
}
