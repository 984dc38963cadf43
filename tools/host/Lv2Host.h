// The lilv host of the sound tools, their tests and the peer benchmark:
// finds an LV2 plug-in (ours, or any installed one such as the peer reverbs
// we compare ours with), reads its ports and presets, and runs instances of
// it that feed one mono signal to all its audio inputs and collect its one
// or two audio outputs.
// Every failure is a std::runtime_error with a one-line message; a plug-in
// that lilv does not find is a PluginNotFound.
//
// Each Plugin has its own lilv world and URID map, and each Instance its
// own buffers. The instances of one Plugin share its map, so they run on
// one thread; instances of different Plugins may run on a thread each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct Port {
    enum class Kind { Audio, Control, Atom, Cv, Other };
    uint32_t index = 0;
    std::string symbol, name;
    Kind kind = Kind::Other;
    bool input = false;
    // NaN where the plug-in gives none. A Plugin lists them as declared,
    // where `rateRelative` (lv2:sampleRate) as fractions of the rate; an
    // Instance in Hz at its rate.
    float min, max, def;
    bool rateRelative = false;
    // Controls: the value in use (a Plugin's list: the one an instance
    // starts with; outputs: the last one written).
    float value = 0.0f;
    int32_t minimumSize = 0;  // atom ports: rsz:minimumSize in bytes, 0 when not given
    std::vector<std::pair<float, std::string>> scalePoints;

    bool isControlInput() const { return kind == Kind::Control && input; }
    // Within min..max, where the plug-in gives them.
    bool admits(double v) const;
    std::string range() const;  // "min..max"
};

struct Preset {
    std::string uri;
    std::string label;
    std::string comment;  // its rdfs:comment, the description hosts show
};

// The URI names no plug-in lilv finds (not installed, or not on LV2_PATH).
struct PluginNotFound : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Plugin {
public:
    // Any installed plug-in: lilv's search path (LV2_PATH, or lilv's
    // default), and Ardour's own bundle folders when that lacks it.
    explicit Plugin(const std::string& uri);
    // Ours: from bundleDir alone when given; otherwise LV2_PATH if set, else
    // (or when LV2_PATH lacks the plug-in) the bundle beside the executable
    // (build tree or install prefix), else lilv's default search path.
    static Plugin ours(const std::string& bundleDir = "");
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    std::string uri() const;
    std::string name() const;
    // The plug-in's shared library, as lilv found it.
    std::string libraryPath() const;
    // The files the plug-in is loaded from: its bundle's manifest, the
    // Turtle that describes it and its presets, and the library.
    std::vector<std::string> files() const;

    const std::vector<Port>& ports() const;
    // The control inputs, in port order; "control position" below means a
    // place in this list.
    const std::vector<Port>& controls() const;
    // The value of each control an instance starts with.
    std::vector<float> defaults() const;
    // nullptr when unknown.
    const Port* findControl(const std::string& symbol) const;

    // In URI order. A preset matches by label or by the last part of its
    // URI, ignoring case; nullptr when none does.
    const std::vector<Preset>& presets() const;
    const Preset* findPreset(const std::string& name) const;
    // The preset's port values as (control position, value), read through
    // lilv's state API.
    std::vector<std::pair<size_t, float>> presetValues(const Preset& preset) const;

    struct World;

private:
    enum class Search { Installed, Ours };
    Plugin(const std::string& uri, Search search, const std::string& bundleDir);
    friend class Instance;
    std::unique_ptr<World> world_;
};

struct RunSettings {
    double rate = 48000;
    uint32_t block = 256;  // frames of every run call (with fixedBlocks), or the most
    // Control inputs by symbol; the others start at their defaults (or the
    // plug-in's default state).
    std::vector<std::pair<std::string, float>> controls;
    // The plug-in is promised run calls of exactly `block` frames: process()
    // keeps a rest shorter than a block for the next call. Otherwise every
    // process() call runs at once, its last run call shorter.
    bool fixedBlocks = true;
    // Flush denormals to zero while the plug-in runs, as DAWs do; some
    // reverbs slow down a lot in their tails without it.
    bool flushDenormals = true;
};

// One instance of a plug-in, with the features a plug-in commonly needs to
// instantiate. The Plugin must outlive it.
class Instance {
public:
    Instance(const Plugin& plugin, const RunSettings& settings);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Runs the plug-in over `frames` of mono input; outputs() grows by the
    // frames it ran. With fixed blocks a rest shorter than a block waits for
    // the next call, so process() called with whole blocks gives output at
    // once and without delay.
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

    // A control input by symbol, for the next run call; refused outside its
    // range.
    void setControl(const std::string& symbol, float value);
    // Every control, in control positions, as a host's automation or a
    // preset recall gives them.
    void setControls(const std::vector<float>& values);

    // One vector per audio output (one or two), in port order.
    const std::vector<std::vector<float>>& outputs() const;
    void clearOutputs();

    size_t audioInputCount() const;
    const std::vector<Port>& ports() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Renders mono input through a fresh instance of a plug-in with two
// outputs (ours), at most `block` frames a run call, without flush-to-zero
// from the host, controls in control positions; the result holds left and
// right interleaved, input length plus tailFrames.
std::vector<float> render(const Plugin& plugin, double rate, const std::vector<float>& controls,
                          const std::vector<float>& input, size_t tailFrames, uint32_t block = 256);
