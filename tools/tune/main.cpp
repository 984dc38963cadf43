// streuwolke-tune: measures the defaults and the presets the way the preset
// test holds them (per channel), and searches the thirteen controls for a
// setting that meets the reverb targets. It drives the engine in-process,
// far faster than rendering files through a host, and takes the preset
// values from the bundle through lilv.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Analysis.h"
#include "Host.h"
#include "Report.h"
#include "SoundTool.h"
#include "engine/Engine.h"
#include "engine/FloatMode.h"
#include "plugin/Ports.h"

using namespace soundtool;

namespace {

const char* const kUsage =
    "usage: streuwolke-tune [--material FILE] [--bundle DIR]\n"
    "       streuwolke-tune --search NAME [--evaluations N] [--seed N] [--material FILE] [--bundle DIR]\n"
    "\n"
    "Without --search: a table of the defaults and every preset, per channel (T30 left and\n"
    "right, late balance, the worst tail peak and the peaks over 10 dB, the bass ratio,\n"
    "the wobble of a sustained 1 kHz tone, T30's shift when a distance moves 2 %, density,\n"
    "flutter, tail correlation, undelayed part, and with --material the wet gain and peaks).\n"
    "--search NAME (a preset or \"defaults\") starts from its controls and searches for a\n"
    "setting that meets the targets of a reverb (a room where the name says so) near its T30\n"
    "(--undelayed-first: the undelayed part before all other targets). --set SYMBOL=VALUE\n"
    "changes a control of every setting first; --grid NAME tries a grid of distances.\n";

constexpr float kRate = 48000.0f;

// Controls in Host::controls() order to the engine's settings.
Settings toSettings(const Host& host, const std::vector<float>& controls)
{
    Settings s = kNoSettings;
    for (size_t i = 0; i < host.controls().size(); ++i)
        for (uint32_t p = kFirstControlPort; p < kPortCount; ++p)
            if (host.controls()[i].symbol == kPorts[p].symbol)
                s.*kPorts[p].setting = controls[i];
    return s;
}

// A fresh engine over the input and `tail` frames of silence, as the plug-in
// runs a fresh instance.
std::vector<std::vector<float>> renderEngine(const Settings& s, const std::vector<float>& input, size_t tail, float rate)
{
    ScopedFlushDenormals flush;
    std::unique_ptr<Engine> e(new Engine());
    e->setSampleRate(rate);
    e->applySettings(s);
    e->landRamps();
    e->context.events.clear();
    std::vector<float> in(input);
    in.resize(input.size() + tail, 0.0f);
    std::vector<std::vector<float>> out(2, std::vector<float>(in.size()));
    forEachSubBlock(uint32_t(in.size()), [&](uint32_t start, uint32_t n) {
        e->stepRamps();
        e->process(in.data() + start, out[0].data() + start, out[1].data() + start, n);
        e->context.events.clear();
    });
    return out;
}

Renderer engineRenderer(const Host& host)
{
    return [&host](double rate, const std::vector<float>& controls, const std::vector<float>& input, size_t tail) {
        return renderEngine(toSettings(host, controls), input, tail, float(rate));
    };
}

double worstPeak(const Analysis& a) { return std::fmax(a.coloration[0].worstDb, a.coloration[1].worstDb); }
int peaks10(const Analysis& a) { return std::max(a.coloration[0].peaks10, a.coloration[1].peaks10); }
double bass(const Analysis& a) { return std::fmax(a.bassRatio[0], a.bassRatio[1]); }
double channelRatio(const Analysis& a)
{
    return std::fmax(a.channelT30[0], a.channelT30[1]) / std::fmin(a.channelT30[0], a.channelT30[1]);
}
double wobble(const SettingReport& r) { return std::fmax(r.wobbleCents[0], r.wobbleCents[1]); }

struct Tuner {
    const Host& host;
    Renderer render;
    std::vector<float> material;
    double irSeconds = kImpulseSeconds;

    explicit Tuner(const Host& h) : host(h), render(engineRenderer(h)) {}
    size_t position(const char* symbol) const { return controlPosition(host, symbol); }

    // The impulse response alone: the cheap first look at a candidate.
    Analysis impulse(std::vector<float> c) const
    {
        c[position("mix")] = 100;
        return analyze(render(kRate, c, {1.0f}, size_t(irSeconds * kRate)), kRate);
    }
    SettingReport measure(const std::vector<float>& c, bool withMaterial) const
    {
        return ::measure(host, render, Setting{"", "", "", c}, withMaterial ? material : std::vector<float>{},
                         irSeconds);
    }
};

void printHeader()
{
    std::printf("| Setting | T30 (s) | T30 L / R (s) | late L/R (dB) | worst peak (dB) at (Hz) | peaks > 10 dB | bass ratio | "
                "wobble (cents) | T30 shift, distance ±2 %% | density 0.9 (ms) | flutter | ρ | undelayed (dB) | "
                "wet gain (dB) | peak 50 / 100 %% (dBFS) |\n|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
}

void printRow(const std::string& label, const SettingReport& f)
{
    const Analysis& a = f.impulse;
    const int worst = a.coloration[1].worstDb > a.coloration[0].worstDb ? 1 : 0;
    std::printf("| %s | %.2f | %.2f / %.2f | %+.1f | %.1f at %.0f | %d | %.2f | %.1f | %.0f %% | %.0f | %.2f | %.2f | %.1f | "
                "%.1f | %.1f / %.1f |\n",
                label.c_str(), a.t30, a.channelT30[0], a.channelT30[1], a.lateBalanceDb, worstPeak(a),
                a.coloration[worst].worstHz, peaks10(a), bass(a), wobble(f), 100 * f.distanceShift,
                1000 * a.densityReach09, a.flutter, a.tailCorrelation, a.undelayedDb, f.wetGainDb, f.peakDb[0],
                f.peakDb[1]);
    std::fflush(stdout);
}

// How far a setting is from the targets (0: all met with a margin), for a
// reverb or room whose T30 should stay near `goal` seconds. Without the
// tone and the distance moves (NaN) those terms are left out.
// --undelayed-first: a setting with more than -10 dB of undelayed sound
// loses to any that has less.
bool g_undelayedFirst = false;

double cost(const Analysis& a, double wobbleCents, double distanceShift, Kind kind, double goal)
{
    int misses = 0;
    // How far past its aim (a little inside the target) a value lies, in
    // units of `scale`; a miss of the target itself also counts.
    const auto over = [&](double value, double aim, double target, double scale) {
        if (!std::isfinite(value))
            return 10.0;
        misses += value > target;
        return std::fmax(0.0, value - aim) / scale;
    };
    const bool room = kind == Kind::Room;
    double c = 0;
    c += over(channelRatio(a), 1.07, 1.10, 0.05);
    c += over(std::fabs(a.lateBalanceDb), 2.5, 3.0, 2.0);
    c += over(worstPeak(a), room ? 11.5 : 9.5, room ? 12.0 : 10.0, 3.0);
    c += over(peaks10(a), room ? 2 : 0, room ? 2 : 0, 2.0);
    c += over(bass(a), 1.25, 1.3, 0.1);
    if (std::isfinite(wobbleCents))
        c += over(wobbleCents, 7.0, 8.0, 1.0);
    c += over(a.densityReach09, room ? 0.14 : 0.28, room ? 0.15 : 0.30, 0.03);
    c += over(a.undelayedDb, -10.5, -10.0, 2.0) * (g_undelayedFirst ? 100.0 : 1.0);
    c += over(a.flutter, 0.42, 0.45, 0.05);
    c += over(std::fabs(a.tailCorrelation), 0.15, 0.2, 0.05);
    c += over(std::fabs(a.t30 / goal - 1.0), 0.05, 0.1, 0.05);
    if (std::isfinite(distanceShift))
        c += over(distanceShift, 0.08, 0.1, 0.03);
    return c + misses;
}
double cost(const SettingReport& r, Kind kind, double goal)
{
    return cost(r.impulse, wobble(r), r.distanceShift, kind, goal);
}

// The controls the search moves, within their ranges; the cuts only within
// a factor of the start's (they are a preset's colour), the decay follows
// the T30 and the line count and series/parallel stay.
struct Axis {
    const char* symbol;
    bool logarithmic;
    float low, high;
    float fromStart;  // > 0: also within start / fromStart .. start * fromStart
};
const Axis kAxes[] = {{"min_distance", true, 0.5, 40, 0},   {"max_distance", true, 2, 110, 0},
                      {"spread", false, 0, 100, 0},         {"low_cut", true, 5, 400, 2.0f},
                      {"high_cut", true, 1000, 20000, 1.5f}, {"depth_min", false, 0, 100, 0},
                      {"depth_max", false, 0, 100, 0},      {"rate_min", true, 0.01f, 10, 0},
                      {"rate_max", true, 0.01f, 10, 0}};

// Random candidates around the best so far (wide at first, narrower later),
// each with its decay scaled once so its T30 lands on the start's; the
// cheap measures (the impulse response) first, the tone and the distance
// moves only for a candidate that could win.
void search(Tuner& t, const Setting& start, int evaluations, unsigned seed)
{
    const Kind kind = start.name == "defaults" ? Kind::Reverb : kindOf(start.label);
    std::vector<float> best = start.controls;
    const double goal = t.impulse(best).t30;
    t.irSeconds = std::max(3.0, 3.0 * goal);
    SettingReport bestFigures = t.measure(best, false);
    double bestCost = cost(bestFigures, kind, goal);
    std::printf("start: cost %.3f\n", bestCost);
    printHeader();
    printRow(start.label, bestFigures);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const size_t decay = t.position("decay");
    for (int k = 0; k < evaluations; ++k) {
        const double width = k < evaluations / 3 ? 1.0 : k < 2 * evaluations / 3 ? 0.5 : 0.2;
        std::vector<float> next = best;
        const int moves = 1 + int(rng() % 4);
        for (int m = 0; m < moves; ++m) {
            const Axis& axis = kAxes[rng() % (sizeof kAxes / sizeof kAxes[0])];
            const size_t at = t.position(axis.symbol);
            float& v = next[at];
            const double step = (unit(rng) - 0.5) * 2.0 * width;
            v = axis.logarithmic ? float(v * std::exp(step)) : float(v + step * 40.0);
            v = std::fmin(axis.high, std::fmax(axis.low, v));
            if (axis.fromStart > 0)
                v = std::fmin(start.controls[at] * axis.fromStart, std::fmax(start.controls[at] / axis.fromStart, v));
            v = float(std::round(double(v) * 100.0) / 100.0);
        }
        const size_t mn = t.position("min_distance"), mx = t.position("max_distance");
        if (next[mn] > next[mx])
            std::swap(next[mn], next[mx]);
        const double t30 = t.impulse(next).t30;
        if (!std::isfinite(t30))
            continue;
        next[decay] = std::fmin(10000.0f, float(std::round(next[decay] * goal / t30)));
        if (cost(t.impulse(next), NAN, NAN, kind, goal) >= bestCost)
            continue;
        const SettingReport f = t.measure(next, false);
        const double c = cost(f, kind, goal);
        if (c < bestCost) {
            bestCost = c;
            best = next;
            bestFigures = f;
            std::printf("%d: cost %.3f:", k, c);
            for (size_t i = 0; i < best.size(); ++i)
                std::printf(" --set %s=%g", t.host.controls()[i].symbol.c_str(), double(best[i]));
            std::printf("\n");
            printRow(start.label, f);
        }
    }
}

// The distances over a grid (each with its decay scaled so its T30 is the
// start's), impulse measures only.
void grid(Tuner& t, const Setting& start)
{
    std::vector<float> c = start.controls;
    const double goal = t.impulse(c).t30;
    t.irSeconds = std::max(3.0, 3.0 * goal);
    printHeader();
    for (const float low : {0.7f, 1.0f, 1.3f, 1.7f, 2.2f, 3.0f, 4.0f})
        for (const float high : {6.0f, 8.0f, 10.0f, 12.0f, 14.0f, 17.0f, 21.0f, 26.0f}) {
            c[t.position("min_distance")] = low;
            c[t.position("max_distance")] = high;
            const double t30 = t.impulse(c).t30;
            c[t.position("decay")] = float(std::round(c[t.position("decay")] * goal / t30));
            SettingReport r;
            r.impulse = t.impulse(c);
            r.wobbleCents[0] = r.wobbleCents[1] = r.distanceShift = r.wetGainDb = r.peakDb[0] = r.peakDb[1] = NAN;
            printRow(start.label + " " + std::to_string(low).substr(0, 4) + "-" + std::to_string(high).substr(0, 4) +
                         " m, decay " + std::to_string(int(c[t.position("decay")])),
                     r);
        }
}

} // namespace

int main(int argc, char** argv)
{
    try {
        std::string material, bundle, name;
        std::vector<std::pair<std::string, float>> sets;
        int evaluations = 200;
        bool gridOnly = false;
        unsigned seed = 1;
        Arguments args(argc, argv, kUsage);
        while (args.next()) {
            if (args.is("--material"))
                material = args.value();
            else if (args.is("--bundle"))
                bundle = args.value();
            else if (args.is("--search"))
                name = args.value();
            else if (args.is("--undelayed-first"))
                g_undelayedFirst = true;
            else if (args.is("--grid"))
                name = args.value(), gridOnly = true;
            else if (args.is("--evaluations"))
                evaluations = int(parseNumber(args.value(), "--evaluations"));
            else if (args.is("--set")) {
                const auto [symbol, value] = splitSetting(args.value());
                sets.emplace_back(symbol, float(parseNumber(value, symbol)));
            } else if (args.is("--seed"))
                seed = unsigned(parseNumber(args.value(), "--seed"));
            else
                args.unknown();
        }
        Host host(bundle);
        Tuner tuner(host);
        if (!material.empty())
            tuner.material = readMaterial(material);
        if (name.empty())
            printHeader();
        for (Setting s : settings(host)) {
            for (const auto& [symbol, value] : sets) {
                if (!host.findControl(symbol))
                    throw std::runtime_error("unknown control " + symbol);
                s.controls[tuner.position(symbol.c_str())] = value;
            }
            if (!name.empty()) {
                if ((s.name == name || s.label == name) && gridOnly)
                    grid(tuner, s);
                else if (s.name == name || s.label == name)
                    search(tuner, s, evaluations, seed);
                continue;
            }
            printRow(s.label, tuner.measure(s.controls, true));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "streuwolke-tune: %s\n", e.what());
        return 1;
    }
    return 0;
}
