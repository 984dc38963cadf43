// A small lilv host for other people's LV2 plug-ins (the peer reverbs we
// compare ours with): loads any plug-in by URI, gives it the features a
// plug-in commonly needs to instantiate, feeds one mono signal to all its
// audio inputs and collects its one or two audio outputs.
// Every failure is a std::runtime_error with a one-line message; a plug-in
// that lilv does not find is a PeerNotFound.
//
// Each PeerHost has its own lilv world, URID map and buffers, so several
// can live (and run, one per thread) in one process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct PeerSettings {
    std::string uri;
    double rate = 48000;
    uint32_t block = 256; // frames of every run call
    // Control inputs by symbol; the others stay at their defaults.
    std::vector<std::pair<std::string, float>> controls;
    // Flush denormals to zero while the plug-in runs, as DAWs do; some
    // reverbs slow down a lot in their tails without it.
    bool flushDenormals = true;
};

struct PeerPort {
    enum class Kind { Audio, Control, Atom, Cv, Other };
    uint32_t index = 0;
    std::string symbol, name;
    Kind kind = Kind::Other;
    bool input = false;
    float min, max, def; // NaN where the plug-in gives none
    float value = 0.0f;  // controls: the value in use (outputs: the last one written)
    std::vector<std::pair<float, std::string>> scalePoints;
};

// The URI names no plug-in lilv finds (not installed, or not on LV2_PATH).
struct PeerNotFound : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class PeerHost {
public:
    explicit PeerHost(const PeerSettings& settings);
    ~PeerHost();
    PeerHost(const PeerHost&) = delete;
    PeerHost& operator=(const PeerHost&) = delete;

    // Appends `frames` of mono input and runs the plug-in over every full
    // block; outputs() grows by the frames of those blocks. A rest shorter
    // than a block waits for the next call, because the plug-in is promised
    // a fixed block length. So process() called with whole blocks gives
    // output at once and without delay.
    void process(const float* in, size_t frames);
    // Runs the waiting rest padded with silence, keeping as much output as
    // there was input: outputs() then holds exactly the frames given.
    // Call it last; more input after it would follow the padding.
    void finish();

    // One block straight on the port buffers, for benchmarks: setBlockInput
    // copies `block` frames to every audio input (they keep them until the
    // next copy), runBlock runs the plug-in once over them, and
    // blockOutput(c) then holds the `block` frames of audio output c. No
    // staging, no growing vectors: a timer around runBlock sees the
    // plug-in's run (and the work it schedules) and next to nothing else.
    // Independent of process(), whose waiting rest stays waiting.
    void setBlockInput(const float* in);
    void runBlock();
    const float* blockOutput(size_t c) const;

    // A control input by symbol, for the next run call.
    void setControl(const std::string& symbol, float value);

    // One vector per audio output (one or two), in port order.
    const std::vector<std::vector<float>>& outputs() const;
    void clearOutputs();

    std::string name() const;
    std::string uri() const;
    // The plug-in's shared library, as lilv found it.
    std::string libraryPath() const;
    size_t audioInputCount() const;
    const std::vector<PeerPort>& ports() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};
