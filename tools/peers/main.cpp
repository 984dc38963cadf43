// streuwolke-peer: runs a mono sound file through another LV2 plug-in (one
// of the peer reverbs) and keeps its tail, for comparisons with ours.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <sndfile.h>

#include "Lv2Host.h"
#include "SoundTool.h"

using namespace soundtool;

namespace {

const char* const kUsage =
    "usage: streuwolke-peer URI IN.wav OUT.wav [--set SYMBOL=VALUE ...] [--tail SECONDS] [--block N]\n"
    "       streuwolke-peer URI --list-ports [--set SYMBOL=VALUE ...]\n"
    "\n"
    "Renders the (mono, or mixed down to mono) input at its own sample rate through\n"
    "the LV2 plug-in URI, fed to all its audio inputs, into a 32-bit float WAV with\n"
    "one channel per audio output of the plug-in (one or two). Controls start at\n"
    "their defaults; --set overrides one by its port symbol.\n"
    "  --tail        silence rendered after the input (default 5 s)\n"
    "  --block       frames per run call (default 256)\n"
    "  --list-ports  prints the plug-in's ports and the control values in use\n";

struct Options {
    std::string uri, in, out;
    std::vector<std::pair<std::string, float>> sets;
    double tail = 5.0;
    uint32_t block = 256;
    bool listPorts = false;
};

Options parseArguments(int argc, char** argv)
{
    Options o;
    Arguments arguments(argc, argv, kUsage);
    while (arguments.next()) {
        if (arguments.is("--list-ports")) {
            o.listPorts = true;
        } else if (arguments.is("--set")) {
            const auto [symbol, value] = splitSetting(arguments.value());
            o.sets.emplace_back(symbol, float(parseNumber(value, symbol)));
        } else if (arguments.is("--tail")) {
            o.tail = parseTail(arguments.value());
        } else if (arguments.is("--block")) {
            o.block = parseBlock(arguments.value());
        } else {
            arguments.unknown();
        }
    }
    const std::vector<std::string>& args = arguments.positional;
    if (o.listPorts ? args.size() != 1 : args.size() != 3)
        throw std::runtime_error(o.listPorts ? "--list-ports expects only the URI (see --help)"
                                             : "expects URI, IN and OUT (see --help)");
    o.uri = args[0];
    if (!o.listPorts) {
        o.in = args[1];
        o.out = args[2];
    }
    return o;
}

void listPorts(const Plugin& plugin, const Instance& instance)
{
    static const char* const kinds[] = {"audio", "control", "atom", "cv", "other"};
    std::printf("%s <%s>\n", plugin.name().c_str(), plugin.uri().c_str());
    for (const Port& p : instance.ports()) {
        std::printf("  %3u %-3s %-7s %-18s", p.index, p.input ? "in" : "out", kinds[int(p.kind)], p.symbol.c_str());
        if (p.isControlInput())
            std::printf(" %9g .. %-9g default %-9g value %-9g", p.min, p.max, p.def, p.value);
        std::printf(" %s\n", p.name.c_str());
        for (const auto& [value, label] : p.scalePoints)
            std::printf("        %g = %s\n", value, label.c_str());
    }
}

void renderFile(const Options& o)
{
    SoundFile in;
    openInput(in, o.in, "streuwolke-peer");
    const SF_INFO& inInfo = in.info;

    const Plugin plugin(o.uri);
    const std::string outPath = renderedOutputPath(o.out, o.in, plugin.files());
    Instance instance(plugin, {double(inInfo.samplerate), o.block, o.sets});
    const int outChannels = int(instance.outputs().size());

    SoundFile out;
    openPartialOutput(out, outPath, inInfo.samplerate, outChannels);

    std::vector<float> interleaved;
    auto write = [&] {
        const auto& outputs = instance.outputs();
        const size_t n = outputs[0].size();
        interleaved.resize(n * outChannels);
        for (size_t i = 0; i < n; ++i)
            for (int c = 0; c < outChannels; ++c)
                interleaved[i * outChannels + c] = outputs[c][i];
        writeFrames(out, outPath, interleaved.data(), n);
        instance.clearOutputs();
    };

    const size_t chunk = 65536;
    std::vector<float> raw, mono(chunk);
    for (;;) {
        const size_t n = readMono(in, o.in, raw, mono);
        instance.process(mono.data(), n);
        write();
        if (n < chunk)
            break;
    }
    std::fill(mono.begin(), mono.end(), 0.0f);
    for (size_t tail = size_t(std::llround(o.tail * inInfo.samplerate)); tail > 0;) {
        const size_t n = std::min(chunk, tail);
        instance.process(mono.data(), n);
        write();
        tail -= n;
    }
    instance.finish();
    write();

    commitOutput(out, outPath);
}

} // namespace

int main(int argc, char** argv)
{
    return runTool("streuwolke-peer", [&] {
        const Options o = parseArguments(argc, argv);
        if (o.listPorts) {
            const Plugin plugin(o.uri);
            listPorts(plugin, Instance(plugin, {48000, o.block, o.sets}));
        } else {
            renderFile(o);
        }
    });
}
