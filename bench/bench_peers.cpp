// streuwolke_bench_peers: the CPU cost of our plug-in beside the peer
// reverbs, in ns per frame of the plug-ins' run(), all loaded through lilv
// by the tools' host (tools/host).
//
// Every plug-in gets the same white noise on every audio input, 48 kHz,
// fixed blocks, flush-to-zero on, its default controls. Each is warmed up
// first (reverb tails and their denormal regimes are reached), then the
// repetitions go round the plug-ins in turn, A B C ... A B C ..., so that
// whatever else the machine does falls on all of them alike. A repetition's
// time is the sum of its run calls alone: the noise is made and copied in
// between, outside the timer.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Lv2Host.h"
#include "engine/FastPath.h"
#include "plugin/Uri.h"

#ifndef STREUWOLKE_BUNDLE_DIR
#error "STREUWOLKE_BUNDLE_DIR: the plug-in bundle of the build tree"
#endif
#ifndef STREUWOLKE_SYSTEM_LV2_PATH
#define STREUWOLKE_SYSTEM_LV2_PATH "~/.lv2:/usr/lib/lv2:/usr/local/lib/lv2"
#endif

namespace {

const double kRate = 48000;

struct Known {
    const char* label;
    const char* uri;
};

// Ours first: it is the reference of the ratios.
const Known kPlugins[] = {
    {"Streuwolke (ours)", kPluginUri},
    {"mda Ambience", "http://drobilla.net/plugins/mda/Ambience"},
    {"Ardour a-reverb", "urn:ardour:a-reverb"},
    {"swh Plate", "http://plugin.org.uk/swh-plugins/plate"},
    {"Dragonfly Plate", "urn:dragonfly:plate"},
    {"Calf Reverb", "http://calf.sourceforge.net/plugins/Reverb"},
};

const char* const kUsage =
    "usage: streuwolke_bench_peers [--seconds S] [--repeats N] [--warmup S] [--block N] [--only URI ...]\n"
    "\n"
    "Times our plug-in (the build tree's bundle) and the installed peer reverbs\n"
    "through lilv: white noise at -12 dBFS RMS on every audio input, 48 kHz,\n"
    "flush-to-zero on, default controls. Prints min and median ns per frame of\n"
    "run() over the repetitions, and min/min against ours.\n"
    "  --seconds  seconds of audio per repetition (default 2)\n"
    "  --repeats  repetitions per plug-in, interleaved (default 31)\n"
    "  --warmup   seconds of audio through each plug-in before timing (default 10)\n"
    "  --block    frames per run call (default 256)\n"
    "  --only     time only this plug-in (any LV2 URI; repeatable, or several\n"
    "             URIs after one --only)\n"
    "A peer that is not installed is listed and skipped.\n";

struct Options {
    double seconds = 2;
    int repeats = 31;
    double warmup = 10;
    uint32_t block = 256;
    std::vector<std::string> only;
};

double number(const char* text, const char* option, double low, double high)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= low && v <= high))
        throw std::runtime_error(std::string(option) + " takes a number in " + std::to_string(low) + ".." +
                                 std::to_string(high) + ", not '" + text + "'");
    return v;
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--seconds") {
            o.seconds = number(value(), "--seconds", 0.01, 3600);
        } else if (a == "--repeats") {
            o.repeats = int(number(value(), "--repeats", 1, 10000));
        } else if (a == "--warmup") {
            o.warmup = number(value(), "--warmup", 0, 3600);
        } else if (a == "--block") {
            o.block = uint32_t(number(value(), "--block", 1, 65536));
        } else if (a == "--only") {
            o.only.push_back(value());
            while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0)
                o.only.push_back(argv[++i]);
        } else {
            throw std::runtime_error("unknown argument " + a + " (see --help)");
        }
    }
    return o;
}

std::string cpuModel()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

// The engine linked in here chooses its kernel as the plug-in's copy does,
// from the same processor and the same environment.
std::string kernelName()
{
    const FastKernel chosen = chosenFastKernel();
    for (size_t i = 0; i < kFastKernelCount; ++i)
        if (kFastKernels[i].run == chosen)
            return kFastKernels[i].name;
    return "unknown";
}

std::string canonical(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    const std::string result = real ? real : path;
    std::free(real);
    return result;
}

// lilv reads LV2_PATH when a world loads everything: the build tree's
// bundle folder first, then what the caller had (or the system folders).
void setLv2Path()
{
    std::string bundles = STREUWOLKE_BUNDLE_DIR;
    bundles.erase(bundles.find_last_of('/'));
    const char* before = std::getenv("LV2_PATH");
    const std::string path = bundles + ":" + (before && *before ? before : STREUWOLKE_SYSTEM_LV2_PATH);
    setenv("LV2_PATH", path.c_str(), 1);
}

// White noise, uniform, at -12 dBFS RMS (peaks at -7.2 dBFS); every
// plug-in gets its own generator with the same seed, so the same noise.
struct Noise {
    uint64_t state = 0x9e3779b97f4a7c15ull;
    void fill(float* out, size_t n)
    {
        const float amplitude = 0.2511886f * 1.7320508f; // 10^(-12/20) * sqrt(3)
        for (size_t i = 0; i < n; ++i) {
            state ^= state << 13; // xorshift64
            state ^= state >> 7;
            state ^= state << 17;
            const float unit = float(state >> 40) * (1.0f / 16777216.0f); // 24 bits, [0, 1)
            out[i] = amplitude * (2.0f * unit - 1.0f);
        }
    }
};

struct Subject {
    std::string label, uri;
    std::unique_ptr<Plugin> plugin;
    std::unique_ptr<Instance> host;
    std::string status; // "not installed", "failed: ...", or empty
    Noise noise;
    std::vector<float> input;
    std::vector<double> nsPerFrame;
};

// Runs `blocks` blocks; the run calls alone are timed, in ns.
double runBlocks(Subject& s, size_t blocks)
{
    using Clock = std::chrono::steady_clock;
    Clock::duration total{};
    for (size_t b = 0; b < blocks; ++b) {
        s.noise.fill(s.input.data(), s.input.size());
        s.host->setBlockInput(s.input.data());
        const Clock::time_point start = Clock::now();
        s.host->runBlock();
        total += Clock::now() - start;
    }
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(total).count());
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

int run(const Options& o)
{
    setLv2Path();
    std::vector<Subject> subjects;
    if (o.only.empty()) {
        for (const Known& k : kPlugins)
            subjects.push_back({k.label, k.uri, {}, {}, {}, {}, {}, {}});
    } else {
        for (const std::string& uri : o.only) {
            const auto known = std::find_if(std::begin(kPlugins), std::end(kPlugins),
                                            [&](const Known& k) { return uri == k.uri; });
            subjects.push_back({known != std::end(kPlugins) ? known->label : "", uri, {}, {}, {}, {}, {}, {}});
        }
    }

    bool failed = false;
    std::string ourLibrary;
    for (Subject& s : subjects) {
        try {
            s.plugin = std::make_unique<Plugin>(s.uri);
            s.host = std::make_unique<Instance>(*s.plugin, RunSettings{kRate, o.block, {}, true, true});
            if (s.label.empty())
                s.label = s.plugin->name();
            if (s.uri == kPluginUri) {
                // An installed copy found before the build tree's would be
                // timed in its place.
                ourLibrary = s.plugin->libraryPath();
                const std::string folder = ourLibrary.substr(0, ourLibrary.find_last_of('/'));
                if (canonical(folder) != canonical(STREUWOLKE_BUNDLE_DIR))
                    throw std::runtime_error("lilv loaded " + ourLibrary + ", not the build tree's bundle " +
                                             STREUWOLKE_BUNDLE_DIR + " (another copy is on LV2_PATH)");
            }
        } catch (const PluginNotFound&) {
            s.host.reset();
            s.status = "not installed";
            if (s.uri == kPluginUri) {
                s.status = "failed: not found in " STREUWOLKE_BUNDLE_DIR;
                failed = true;
            }
        } catch (const std::exception& e) {
            s.host.reset();
            s.status = std::string("failed: ") + e.what();
            failed = true;
        }
        if (s.label.empty())
            s.label = s.uri;
        s.input.assign(o.block, 0.0f);
    }

    const size_t warmupBlocks = size_t(o.warmup * kRate / o.block + 0.5);
    const size_t blocks = std::max<size_t>(1, size_t(o.seconds * kRate / o.block + 0.5));
    const double frames = double(blocks) * o.block;
    for (Subject& s : subjects)
        if (s.host)
            runBlocks(s, warmupBlocks);
    for (int r = 0; r < o.repeats; ++r)
        for (Subject& s : subjects)
            if (s.host)
                s.nsPerFrame.push_back(runBlocks(s, blocks) / frames);

    const char* simd = std::getenv("STREUWOLKE_SIMD");
    std::printf("CPU:     %s\n", cpuModel().c_str());
    std::printf("kernel:  %s (ours; STREUWOLKE_SIMD%s%s)\n", kernelName().c_str(), simd ? "=" : " unset",
                simd ? simd : "");
    if (!ourLibrary.empty())
        std::printf("ours:    %s\n", ourLibrary.c_str());
    std::printf("run:     %.0f Hz, blocks of %u, flush-to-zero on, white noise at -12 dBFS RMS on every\n"
                "         audio input, default controls; %.2f s warm-up, %d interleaved repetitions of %.2f s\n\n",
                kRate, o.block, double(warmupBlocks) * o.block / kRate, o.repeats, frames / kRate);

    double reference = 0;
    for (const Subject& s : subjects)
        if (s.uri == kPluginUri && !s.nsPerFrame.empty())
            reference = *std::min_element(s.nsPerFrame.begin(), s.nsPerFrame.end());
    int width = 7;
    for (const Subject& s : subjects)
        width = std::max(width, int(s.label.size()));
    std::printf("%-*s %6s %10s %10s %7s\n", width, "plug-in", "in/out", "min ns/fr", "median", "ratio");
    for (const Subject& s : subjects) {
        if (!s.host) {
            std::printf("%-*s %s\n", width, s.label.c_str(), s.status.c_str());
            continue;
        }
        const double min = *std::min_element(s.nsPerFrame.begin(), s.nsPerFrame.end());
        const std::string io =
            std::to_string(s.host->audioInputCount()) + "/" + std::to_string(s.host->outputs().size());
        std::printf("%-*s %6s %10.2f %10.2f", width, s.label.c_str(), io.c_str(), min, median(s.nsPerFrame));
        if (reference > 0)
            std::printf(" %7.2f\n", min / reference);
        else
            std::printf(" %7s\n", "-");
    }
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(parse(argc, argv));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "streuwolke_bench_peers: %s\n", e.what());
        return 1;
    }
}
