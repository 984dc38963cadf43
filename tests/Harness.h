// What the tests and benchmarks share: a guard for the diagnostic log file,
// a file reader, white noise, a bit-exact sample comparison and the port
// table (plugin/Ports.h). Then one of two ways to drive the plug-in:
//   - with STREUWOLKE_MODULE (the built library's path) a small LV2 host
//     that loads the module with dlopen, as a real host does, and drives
//     instances through the descriptor alone;
//   - without it a rig that wires an instance as instantiate does and calls
//     runBlock directly (for programs linked with streuwolke_plugin).
// The project's headers are included relative to this file, so no include
// path beyond the program's own folder is needed.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "../plugin/Ports.h"

namespace support {

inline std::string readFile(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}
inline std::string readFile(const std::string& path) { return readFile(path.c_str()); }

inline bool pathExists(const char* path)
{
    struct stat st;
    return lstat(path, &st) == 0;
}

inline std::vector<float> whiteNoise(size_t frames, float level, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> uniform(-level, level);
    std::vector<float> signal(frames);
    for (float& x : signal)
        x = uniform(rng);
    return signal;
}

// Equal down to the last bit; with `anyNaN`, any two NaNs count as equal.
inline bool sameBits(float a, float b, bool anyNaN = false)
{
    return (anyNaN && std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// Moves whatever is at the log path aside (file, link, anything) for the
// guard's lifetime and puts it back afterwards.
class LogFile {
public:
    static constexpr const char* kPath = "/tmp/plonkbrett.log";

    LogFile() : saved_(std::string(kPath) + ".test-saved." + std::to_string(getpid()))
    {
        moved_ = std::rename(kPath, saved_.c_str()) == 0;
    }
    ~LogFile()
    {
        unlink(kPath);
        if (moved_)
            std::rename(saved_.c_str(), kPath);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    static void switchOn(const std::string& text) { std::ofstream(kPath, std::ios::trunc) << text; }
    static void switchOff() { std::remove(kPath); }
    static bool exists() { return std::ifstream(kPath).good(); }
    static std::string text() { return readFile(kPath); }

private:
    std::string saved_;
    bool moved_ = false;
};

} // namespace support

#ifdef STREUWOLKE_MODULE

#include <dlfcn.h>

#include <cstdlib>

#include <lv2/core/lv2.h>

namespace support {

inline const LV2_Descriptor* descriptor()
{
    static const LV2_Descriptor* loaded = [] {
        void* module = dlopen(STREUWOLKE_MODULE, RTLD_NOW | RTLD_LOCAL);
        auto entry = module ? reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(module, "lv2_descriptor"))
                            : nullptr;
        if (!entry) {
            std::fprintf(stderr, "cannot load %s: %s\n", STREUWOLKE_MODULE, dlerror());
            std::abort();
        }
        return entry(0);
    }();
    return loaded;
}

// One instance with its own control values, at the Turtle's defaults and
// connected at construction.
class Instance {
public:
    explicit Instance(double rate = 48000.0)
    {
        const LV2_Feature* const features[] = {nullptr};
        handle_ = descriptor()->instantiate(descriptor(), rate, "", features);
        if (!handle_)
            std::abort();
        for (uint32_t p = kFirstControlPort; p < kPortCount; ++p) {
            controls[p] = kPorts[p].fallback;
            descriptor()->connect_port(handle_, p, &controls[p]);
        }
        descriptor()->activate(handle_);
    }
    ~Instance()
    {
        descriptor()->deactivate(handle_);
        descriptor()->cleanup(handle_);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    void connect(uint32_t port, void* data) { descriptor()->connect_port(handle_, port, data); }
    void connectAudio(const float* in, float* left, float* right)
    {
        connect(kPortInput, const_cast<float*>(in));
        connect(kPortOutputLeft, left);
        connect(kPortOutputRight, right);
    }
    void run(uint32_t frames) { descriptor()->run(handle_, frames); }

    // Moves every control port to a random value inside its range.
    template <typename Rng>
    void randomControls(Rng& rng)
    {
        for (uint32_t p = kFirstControlPort; p < kPortCount; ++p)
            controls[p] = std::uniform_real_distribution<float>(kPorts[p].minimum, kPorts[p].maximum)(rng);
    }

    // Sets one control port to a value no host should send.
    template <typename Rng>
    void hostileControl(Rng& rng)
    {
        constexpr float kHostile[] = {NAN, INFINITY, -INFINITY, -3e38f, 3e38f, -1e6f, 1e6f, 0.0f, -1.0f};
        controls[kFirstControlPort + rng() % (kPortCount - kFirstControlPort)] = kHostile[rng() % std::size(kHostile)];
    }

    std::array<float, kPortCount> controls{};

private:
    LV2_Handle handle_ = nullptr;
};

struct Stereo {
    std::vector<float> left, right;
};

// Renders a whole input through separate buffers in blocks of `block`.
inline Stereo render(Instance& instance, const std::vector<float>& input, size_t block)
{
    Stereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
    for (size_t start = 0; start < input.size(); start += block) {
        const size_t n = std::min(block, input.size() - start);
        instance.connectAudio(&input[start], &out.left[start], &out.right[start]);
        instance.run(static_cast<uint32_t>(n));
    }
    return out;
}

} // namespace support

#else

#include <memory>

#include <gtest/gtest.h>

#include "../log/Log.h"
#include "../plugin/PluginInstance.h"

// Natural control values: the engine's construction settings, mix at 50 %.
constexpr std::array<float, kPortCount> kDefaults = [] {
    std::array<float, kPortCount> values{};
    for (uint32_t p = kFirstControlPort; p < kPortCount; ++p)
        values[p] = kConstructionSettings.*kPorts[p].setting;
    values[kPortMix] = 50;
    return values;
}();
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
        engine.setSampleRate(static_cast<float>(rate));
        for (uint32_t p = kFirstControlPort; p < kPortCount; ++p) {
            control[p] = kDefaults[p];
            self.controls[p] = &control[p];
        }
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

#endif
