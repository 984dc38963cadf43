// streuwolke-render: runs a sound file through the plug-in and keeps the
// reverb tail that a frame-by-frame host would cut off at the input's end.
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <sndfile.h>

#include "Host.h"
#include "SoundTool.h"

using namespace soundtool;

namespace {

const char* const kUsage =
    "usage: streuwolke-render IN OUT [--preset NAME] [--set SYMBOL=VALUE ...] [--tail SECONDS|auto]\n"
    "                         [--block N] [--bundle DIR]\n"
    "       streuwolke-render --list [--bundle DIR]\n"
    "\n"
    "Renders the (mono, or mixed down to mono) input at its own sample rate, which\n"
    "must lie in 8000..768000 Hz, into a stereo 32-bit float WAV. OUT is written\n"
    "through links and never replaces IN or a file of the plug-in bundle. Controls\n"
    "start at their defaults; --preset sets every control but the mix; --set\n"
    "overrides single controls after the preset.\n"
    "  --tail     time rendered after the input's end; auto (the default) stops once\n"
    "             the output has stayed below -90 dBFS for 0.5 s, after 60 s or\n"
    "             2^24 frames (21.8 s at 768 kHz) at most\n"
    "  --block    frames per run call (default 256)\n"
    "  --bundle   the plug-in bundle folder; otherwise LV2_PATH, the bundle beside\n"
    "             this program, or lilv's default search path\n";

const double kQuietLevel = 3.1622777e-5; // -90 dBFS
const double kQuietSeconds = 0.5;
// The longest decay (10 s) falls by 90 dB in 15 s, so a minute is ample; in
// frames the tail stops at 2^24 (128 MiB of output) whatever the rate.
const double kTailLimitSeconds = 60.0;
const size_t kTailLimitFrames = size_t(1) << 24;
// The plug-in takes any rate, but its filters and modulation are set for
// 48 kHz and it is tested from 8 kHz to 768 kHz: a header outside that
// range is a damaged file rather than audio.
const int kMinRate = 8000;
const int kMaxRate = 768000;

struct Options {
    std::string in, out, preset, bundle;
    std::vector<std::pair<std::string, std::string>> sets;
    double tail = -1.0; // < 0: auto
    uint32_t block = 256;
    bool list = false;
};

Options parseArguments(int argc, char** argv)
{
    Options o;
    Arguments args(argc, argv, kUsage);
    while (args.next()) {
        if (args.is("--list")) {
            o.list = true;
        } else if (args.is("--preset")) {
            o.preset = args.value();
        } else if (args.is("--bundle")) {
            o.bundle = args.value();
        } else if (args.is("--set")) {
            o.sets.push_back(splitSetting(args.value()));
        } else if (args.is("--tail")) {
            const std::string s = args.value();
            o.tail = s == "auto" ? -1.0 : parseTail(s);
        } else if (args.is("--block")) {
            o.block = parseBlock(args.value());
        } else {
            args.unknown();
        }
    }
    const std::vector<std::string>& files = args.positional;
    if (o.list && files.empty())
        return o;
    if (files.size() != 2)
        throw std::runtime_error("expects IN and OUT files (see --help)");
    o.in = files[0];
    o.out = files[1];
    return o;
}

void list(const Host& host)
{
    std::printf("Presets (--preset NAME, by label or the last part of the URI):\n");
    for (const Preset& p : host.presets())
        std::printf("  %-22s %s\n", p.uri.substr(p.uri.find_last_of("/#") + 1).c_str(), p.label.c_str());
    std::printf("Controls (--set SYMBOL=VALUE):\n");
    for (const Control& c : host.controls())
        std::printf("  %-14s %9g .. %-9g default %-8g %s\n", c.symbol.c_str(), c.min, c.max, c.def,
                    c.name.c_str());
}

std::vector<float> controlValues(Host& host, const Options& o)
{
    std::vector<float> values = host.defaults();
    if (!o.preset.empty()) {
        const Preset* preset = host.findPreset(o.preset);
        if (!preset)
            throw std::runtime_error("unknown preset '" + o.preset + "' (see --list)");
        for (const auto& [position, value] : host.presetValues(*preset))
            values[position] = value;
    }
    for (const auto& [symbol, text] : o.sets) {
        const Control* c = host.findControl(symbol);
        if (!c)
            throw std::runtime_error("unknown control '" + symbol + "' (see --list)");
        const double v = parseNumber(text, symbol);
        if (v < c->min || v > c->max) {
            char range[64];
            std::snprintf(range, sizeof range, "%g..%g", c->min, c->max);
            throw std::runtime_error("value " + text + " for " + symbol + " is outside " + range);
        }
        values[c - host.controls().data()] = float(v);
    }
    return values;
}

void renderFile(Host& host, const Options& o)
{
    const std::vector<float> controls = controlValues(host, o);

    SoundFile in;
    openInput(in, o.in, "streuwolke-render");
    const SF_INFO& inInfo = in.info;
    if (inInfo.samplerate < kMinRate || inInfo.samplerate > kMaxRate)
        throw std::runtime_error(o.in + ": a sample rate of " + std::to_string(inInfo.samplerate) + " Hz is outside " +
                                 std::to_string(kMinRate) + ".." + std::to_string(kMaxRate) + " Hz");
    const double rate = inInfo.samplerate;
    std::vector<ReadFile> reads{{o.in, "the input"}};
    for (const std::string& path : host.files())
        reads.push_back({path, "a file of the plug-in bundle"});
    const std::string outPath = outputPath(o.out, reads);
    SoundFile out;
    openPartialOutput(out, outPath, inInfo.samplerate, 2);

    Processor processor(host, rate, controls, o.block);
    const size_t chunk = o.block * ((8192 + o.block - 1) / o.block);
    std::vector<float> raw, mono(chunk), left(chunk), right(chunk), both(2 * chunk);

    const size_t quietFrames = size_t(kQuietSeconds * rate);
    const size_t tailLimit = o.tail >= 0 ? size_t(std::llround(o.tail * rate))
                                         : std::min(size_t(kTailLimitSeconds * rate), kTailLimitFrames);
    const bool progress = inInfo.frames > 10 * inInfo.samplerate;
    const bool terminal = isatty(STDERR_FILENO);
    int shown = -1;
    size_t quiet = 0, read = 0, tail = 0;
    for (bool inputDone = false;;) {
        size_t n = 0;
        if (!inputDone) {
            n = readMono(in, o.in, raw, mono);
            read += n;
            inputDone = n < chunk;
        }
        if (n < chunk) {
            // After the input: silence, until the tail is long or quiet enough.
            const bool autoTail = o.tail < 0;
            if (tail >= tailLimit || (autoTail && quiet >= quietFrames)) {
                if (autoTail && quiet < quietFrames)
                    std::fprintf(stderr, "streuwolke-render: note: tail cut after %.1f s, still above -90 dBFS\n",
                                 double(tailLimit) / rate);
                if (n == 0)
                    break;
            } else {
                const size_t extra = std::min(chunk - n, tailLimit - tail);
                std::fill(mono.begin() + n, mono.begin() + n + extra, 0.0f);
                tail += extra;
                n += extra;
            }
        }
        processor.process(mono.data(), left.data(), right.data(), n);
        for (size_t i = 0; i < n; ++i) {
            both[2 * i] = left[i];
            both[2 * i + 1] = right[i];
            const bool loud = std::fabs(left[i]) >= kQuietLevel || std::fabs(right[i]) >= kQuietLevel;
            quiet = loud ? 0 : quiet + 1;
        }
        writeFrames(out, outPath, both.data(), n);

        if (progress) {
            const int percent = int(100.0 * double(read) / double(inInfo.frames));
            if (terminal && percent != shown)
                std::fprintf(stderr, "\rrendering %s: %3d %%", o.in.c_str(), percent);
            else if (!terminal && percent / 25 != shown / 25)
                std::fprintf(stderr, "rendering %s: %d %%\n", o.in.c_str(), percent);
            shown = percent;
        }
    }
    if (progress && terminal)
        std::fprintf(stderr, "\rrendering %s: done, %.1f s of tail\n", o.in.c_str(), double(tail) / rate);

    commitOutput(out, outPath);
}

} // namespace

int main(int argc, char** argv)
{
    removePartialOnInterrupt();
    try {
        const Options o = parseArguments(argc, argv);
        Host host(o.bundle);
        if (o.list)
            list(host);
        else
            renderFile(host, o);
        return 0;
    } catch (const std::exception& e) {
        removePartial();
        std::fprintf(stderr, "streuwolke-render: %s\n", e.what());
        return 1;
    }
}
