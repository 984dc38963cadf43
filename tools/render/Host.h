// A small lilv host for the render tool and its tests: finds the plug-in,
// lists its controls and presets, and runs one instance over sample buffers.
// Every failure is a std::runtime_error with a one-line message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct Control {
    std::string symbol;
    std::string name;
    uint32_t index;
    float min, max, def;
};

struct Preset {
    std::string uri;
    std::string label;
    std::string comment;  // its rdfs:comment, the description hosts show
};

class Host {
public:
    // bundleDir empty: LV2_PATH if set, else (or when LV2_PATH lacks the
    // plug-in) the bundle beside the executable (build tree or install
    // prefix), else lilv's default search path.
    explicit Host(const std::string& bundleDir = "");
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    const std::vector<Control>& controls() const { return controls_; }
    const std::vector<Preset>& presets() const { return presets_; }
    std::vector<float> defaults() const;

    // nullptr when unknown. A preset matches by label or by the last part of
    // its URI, ignoring case.
    const Control* findControl(const std::string& symbol) const;
    const Preset* findPreset(const std::string& name) const;

    // The preset's port values as (control position, value), read through
    // lilv's state API.
    std::vector<std::pair<size_t, float>> presetValues(const Preset& preset);

    // The files the plug-in is loaded from: its bundle's manifest, the
    // Turtle that describes it and its presets, and the library.
    std::vector<std::string> files() const;

    struct World;

private:
    friend class Processor;
    std::unique_ptr<World> world_;
    std::vector<Control> controls_;
    std::vector<Preset> presets_;
};

// One plug-in instance. process() cuts its input into run() calls of at most
// `block` frames; the control values are those given at construction.
class Processor {
public:
    Processor(Host& host, double rate, const std::vector<float>& controls, uint32_t block);
    ~Processor();
    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    void process(const float* in, float* left, float* right, size_t frames);

    // New control values (in the order of Host::controls()) for the next
    // run call, as a host's automation or a preset recall gives them.
    void setControls(const std::vector<float>& controls);

private:
    struct Instance;
    std::unique_ptr<Instance> instance_;
};

// Renders mono input through a fresh instance; the result holds left and
// right interleaved, input length plus tailFrames.
std::vector<float> render(Host& host, double rate, const std::vector<float>& controls,
                          const std::vector<float>& input, size_t tailFrames, uint32_t block = 256);
