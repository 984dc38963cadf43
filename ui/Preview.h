// The editor's picture of the current settings: the impulse response of a
// freshly loaded plug-in, rendered by the plug-in's own engine and run
// cycle, measured with the analysis tool's code, and boiled down to what
// the editor draws. A worker thread makes it, so the host's drawing thread
// never waits for a render.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "../engine/LineBank.h"
#include "../plugin/Ports.h"

// Every port's value, indexed by port; the audio slots are unused.
using ControlValues = std::array<float, kPortCount>;

// The Turtle's defaults.
ControlValues defaultControls();

// How long the picture rings out for a decay setting: long enough for the
// decay curve to pass -35 dB well before the end at the defaults, held to
// 2 to 12 seconds.
double previewSeconds(float decayMs);

struct ImpulseResponse {
    std::vector<float> left, right;
    uint64_t lineCount = 0;
    uint64_t lengths[2][kMaxLines] = {};  // samples, left bank then right bank
};

// What a new instance at `rate` with these controls, but wet only (mix
// 100 %), puts out for a unit impulse followed by silence, in blocks of
// 256 frames. A `cancel` that turns true ends it early, with fewer frames.
ImpulseResponse renderImpulse(const ControlValues& controls, double rate, size_t frames,
    const std::atomic<bool>* cancel = nullptr);

// NaN where the response does not allow the measure.
struct ChannelFigures {
    double t30 = 0;          // s
    double denseAt = 0;      // s, where the echo density first reaches 0.9
    double undelayedDb = 0;  // the first millisecond against the whole response
};

constexpr size_t kEnvelopeBins = 400;

struct Preview {
    ControlValues controls{};
    double rate = 0;
    double seconds = 0;                    // the time axis
    std::vector<float> envelopeDb[2];      // rms per bin, dB re the loudest bin of both channels
    std::vector<float> decayDb[2];         // each channel's energy decay curve at the bins' starts
    uint64_t lineCount = 0;
    double lineSeconds[2][kMaxLines] = {}; // each active line's length
    ChannelFigures figures[2];
};

// Renders and measures into `out`; false when `cancel` turned true first.
// Throws only what allocation throws.
bool makePreview(const ControlValues& controls, double rate, Preview& out,
    const std::atomic<bool>* cancel = nullptr);

// Makes previews on a thread of its own. The editor asks for the settings
// it shows; while a render runs, newer requests replace older ones, so a
// knob being dragged costs one render at a time, and a new render starts at
// most every kMinimumInterval. Nothing here waits on the render but the
// destructor, which stops a running render between two blocks (a running
// measurement it lets finish).
class PreviewWorker {
public:
    explicit PreviewWorker(double rate);
    ~PreviewWorker();
    PreviewWorker(const PreviewWorker&) = delete;
    PreviewWorker& operator=(const PreviewWorker&) = delete;

    void request(const ControlValues& controls);
    // The newest finished preview, once: true and `out` replaced when one
    // arrived since the last call.
    bool take(std::unique_ptr<Preview>& out);

    static constexpr std::chrono::milliseconds kMinimumInterval{40};

private:
    void loop();

    const double rate_;
    std::mutex mutex_;
    std::condition_variable wake_;
    ControlValues wanted_{};
    bool hasWanted_ = false;
    std::atomic<bool> stopping_{false};
    std::unique_ptr<Preview> done_;
    std::thread thread_;
};
