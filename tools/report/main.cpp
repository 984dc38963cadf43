// streuwolke-report: measures the defaults and every preset (and, given a
// folder of their renders, the peer reverbs) and prints the README's
// measured tables, each section headed by a line "<!-- section NAME -->"
// that tools/report.sh puts between the README's marks of that name.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <unistd.h>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Report.h"
#include "SoundTool.h"

using namespace soundtool;

namespace {

const char* const kUsage =
    "usage: streuwolke-report MATERIAL.wav [--peers DIR] [--curves FILE] [--bundle DIR]\n"
    "\n"
    "Prints the README's measured tables, each after a line <!-- section NAME -->:\n"
    "  presets   the defaults and every preset: the impulse response at mix 100 % (T30,\n"
    "            EDT, time to echo density 0.9, flutter, tail correlation, flatness,\n"
    "            undelayed part), the wet gain on MATERIAL (mono, 48 kHz) at mix 100 %\n"
    "            and its peaks normalised to -6 dBFS at mix 50 and 100 %; then the peers\n"
    "  channels  per channel: T30, late balance, tail peaks, bass ratio, the wobble of a\n"
    "            sustained 1 kHz tone, T30 with a distance moved 2 %, and the targets a\n"
    "            reverb misses; then the peers\n"
    "  onset     the first 100 ms: first arrival and echo density (the defaults at 2 s)\n"
    "  undelayed the undelayed part against the decay time\n"
    "  bends     what moving a control does to a sustained tone: pitch bend and click\n"
    "  rates     every setting at 44.1, 48 and 96 kHz\n"
    "  --peers   a folder of peer renders at 48 kHz: NAME.wav the impulse response,\n"
    "            NAME-tone.wav the sustained tone (tools/peers.sh writes both)\n"
    "  --curves  writes each setting's decay curve and echo density over time to FILE\n"
    "            (gnuplot data blocks, one per setting, in table order)\n"
    "  --bundle  the plug-in bundle folder (otherwise as streuwolke-render finds it)\n";

constexpr double kRate = 48000.0;

std::string fixed(double v, int digits)
{
    if (!std::isfinite(v))
        return "—";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

std::string milliseconds(double seconds) { return std::isfinite(seconds) ? fixed(1000 * seconds, 0) : "never"; }
std::string pair(double left, double right, int digits) { return fixed(left, digits) + " / " + fixed(right, digits); }

// Marks an EDT that is the fall of the undelayed spike.
const char* const kUndelayedMark = " ‡";
const char* const kUndelayedNote =
    "‡ Most of this response is the input passed straight through (the undelayed column), so its EDT is the "
    "fall of that spike, not of the reverb.\n";

// The columns both tables share, from an impulse response.
std::string impulseColumns(const Analysis& a)
{
    return fixed(a.t30, 2) + " | " + fixed(a.edt, 2) + (undelayedDominates(a) ? kUndelayedMark : "") + " | " +
           milliseconds(a.densityReach09) + " | " + fixed(a.flutter, 2) + " | " + fixed(a.tailCorrelation, 2) +
           " | " + fixed(a.flatness, 3) + " | " +
           (a.undelayedDb <= -100 ? std::string("none") : fixed(a.undelayedDb, 1));
}
const char* const kImpulseHeader = "T30 (s) | EDT (s) | density 0.9 (ms) | flutter | tail ρ | flatness | undelayed (dB)";

// The per-channel columns both tables share (wobble given apart: a peer's
// comes from its own tone render).
std::string channelColumns(const Analysis& a, const double wobble[2])
{
    const Coloration &l = a.coloration[0], &r = a.coloration[1];
    return pair(a.channelT30[0], a.channelT30[1], 2) + " | " + fixed(a.lateBalanceDb, 1) + " | " +
           pair(l.worstDb, r.worstDb, 1) + " (" + fixed(l.worstDb >= r.worstDb ? l.worstHz : r.worstHz, 0) +
           " Hz) | " + std::to_string(l.peaks10) + " / " + std::to_string(r.peaks10) + " | " +
           pair(a.bassRatio[0], a.bassRatio[1], 2) + " | " + pair(wobble[0], wobble[1], 1);
}
const char* const kChannelHeader = "T30 L / R (s) | late L/R (dB) | worst tail peak L / R (dB) | peaks > 10 dB L / R | "
                                   "bass ratio L / R | wobble L / R (cents)";

void writeCurves(std::ofstream& out, const std::string& label, const Analysis& a, const std::vector<double>& decay)
{
    out << "# " << label << "\n";
    for (size_t i = 0; i < a.density.size(); ++i) {
        const size_t frame = std::min(decay.size() - 1, size_t(std::lround(a.densityTime[i] * a.rate)));
        out << a.densityTime[i] << ' ' << decay[frame] << ' ' << a.density[i] << '\n';
    }
    out << "\n\n";
}

struct Peer {
    std::string name;
    Analysis impulse;
    double wobble[2] = {NAN, NAN};
};

std::vector<Peer> readPeers(const std::string& folder)
{
    std::vector<std::string> files;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0 &&
                name.find("-tone.wav") == std::string::npos)
                files.push_back(name.substr(0, name.size() - 4));
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    std::vector<Peer> peers;
    for (const std::string& name : files) {
        Peer p;
        p.name = name;
        const Sound ir = readSound(folder + "/" + name + ".wav");
        p.impulse = analyze(ir.channels, ir.rate);
        if (access((folder + "/" + name + "-tone.wav").c_str(), R_OK) == 0) {
            const Sound tone = readSound(folder + "/" + name + "-tone.wav");
            toneWobble(tone.channels, tone.rate, p.wobble);
        }
        peers.push_back(p);
    }
    return peers;
}

size_t position(const Host& host, const char* symbol) { return controlPosition(host, symbol); }

// The decay that gives the controls a T30 of `seconds` (two corrections).
float decayFor(const Host& host, const Renderer& renderChannels, std::vector<float> controls, double seconds)
{
    const size_t decay = position(host, "decay");
    for (int k = 0; k < 2; ++k) {
        const double t30 = analyze(renderChannels(kRate, controls, {1.0f}, size_t(8 * kRate)), kRate).t30;
        controls[decay] = float(std::round(controls[decay] * seconds / t30));
    }
    return controls[decay];
}

struct Measured {
    Setting setting;
    SettingReport report;
};

void printPresets(const std::vector<Measured>& all, const std::vector<Peer>& peers)
{
    std::printf("<!-- section presets -->\n");
    std::printf("| Setting | Kind | %s | wet gain (dB) | peak at mix 50 / 100 %% (dBFS) |\n", kImpulseHeader);
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    bool marked = false;
    for (const Measured& m : all) {
        const SettingReport& r = m.report;
        marked = marked || undelayedDominates(r.impulse);
        std::printf("| %s | %s | %s | %s | %s / %s |\n", m.setting.label.c_str(),
                    m.setting.name == "defaults" ? "—" : kindName(kindOf(m.setting.label)),
                    impulseColumns(r.impulse).c_str(), fixed(r.wetGainDb, 1).c_str(), fixed(r.peakDb[0], 1).c_str(),
                    fixed(r.peakDb[1], 1).c_str());
    }
    if (marked)
        std::printf("\n%s", kUndelayedNote);
    if (peers.empty())
        return;
    std::printf("\n| Peer (about 2 s, wet only) | %s |\n|---|---|---|---|---|---|---|---|\n", kImpulseHeader);
    for (const Peer& p : peers)
        std::printf("| %s | %s |\n", p.name.c_str(), impulseColumns(p.impulse).c_str());
}

void printChannels(const std::vector<Measured>& all, const std::vector<Peer>& peers, double flutterLimit)
{
    std::printf("<!-- section channels -->\n");
    std::printf("| Setting | %s | T30 shift, a distance ±2 %% | targets |\n", kChannelHeader);
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const Measured& m : all) {
        const SettingReport& r = m.report;
        const Kind kind = m.setting.name == "defaults" ? Kind::Reverb : kindOf(m.setting.label);
        std::string targets = "effect";
        if (kind != Kind::Effect) {
            targets.clear();
            for (const Miss& miss : missedTargets(r, kind, flutterLimit))
                targets += (targets.empty() ? "best reached: " : "; ") + miss.target + " " + miss.reached;
            if (targets.empty())
                targets = "all met";
        }
        std::printf("| %s | %s | %s %% | %s |\n", m.setting.label.c_str(), channelColumns(r.impulse, r.wobbleCents).c_str(),
                    fixed(100 * r.distanceShift, 0).c_str(), targets.c_str());
    }
    if (peers.empty())
        return;
    std::printf("\n| Peer (about 2 s, wet only) | %s |\n|---|---|---|---|---|---|---|\n", kChannelHeader);
    for (const Peer& p : peers)
        std::printf("| %s | %s |\n", p.name.c_str(), channelColumns(p.impulse, p.wobble).c_str());
}

double densityAt(const Analysis& a, double seconds)
{
    for (size_t i = 0; i < a.densityTime.size(); ++i)
        if (a.densityTime[i] >= seconds - 1e-9)
            return a.density[i];
    return NAN;
}

void printOnset(const Host& host, const Renderer& renderChannels, const std::vector<Measured>& all,
                const std::vector<Peer>& peers)
{
    std::printf("<!-- section onset -->\n");
    std::printf("| Setting | T30 (s) | first arrival (ms) | echo density at 20 / 50 / 100 ms | density 0.9 (ms) |\n");
    std::printf("|---|---|---|---|---|\n");
    const auto row = [](const std::string& label, const Analysis& a) {
        std::printf("| %s | %s | %s | %s / %s / %s | %s |\n", label.c_str(), fixed(a.t30, 2).c_str(),
                    fixed(1000 * a.firstArrival, 1).c_str(), fixed(densityAt(a, 0.02), 2).c_str(),
                    fixed(densityAt(a, 0.05), 2).c_str(), fixed(densityAt(a, 0.1), 2).c_str(),
                    milliseconds(a.densityReach09).c_str());
    };
    std::vector<float> atTwo = all.front().setting.controls;
    atTwo[position(host, "decay")] = decayFor(host, renderChannels, atTwo, 2.0);
    atTwo[position(host, "mix")] = 100.0f;
    row("Defaults at decay " + fixed(atTwo[position(host, "decay")], 0) + " ms",
        analyze(renderChannels(kRate, atTwo, {1.0f}, size_t(12 * kRate)), kRate));
    for (const Measured& m : all)
        if (m.setting.name != "defaults" && kindOf(m.setting.label) != Kind::Effect)
            row(m.setting.label, m.report.impulse);
    for (const Peer& p : peers)
        row(p.name, p.impulse);
}

void printUndelayed(const Host& host, const Renderer& renderChannels, const Setting& defaults)
{
    std::printf("<!-- section undelayed -->\n");
    std::printf("| Decay (ms), the defaults otherwise | T30 (s) | undelayed (dB) |\n|---|---|---|\n");
    for (const float decay : {250.0f, 500.0f, 1000.0f, 2000.0f, 4000.0f, 8000.0f}) {
        std::vector<float> controls = defaults.controls;
        controls[position(host, "decay")] = decay;
        controls[position(host, "mix")] = 100.0f;
        const Analysis a = analyze(renderChannels(kRate, controls, {1.0f}, size_t(20 * kRate)), kRate);
        std::printf("| %s | %s | %s |\n", fixed(decay, 0).c_str(), fixed(a.t30, 2).c_str(), fixed(a.undelayedDb, 1).c_str());
    }
}

// A 4th-order high-pass at 5 kHz (two RBJ biquads, Q 0.54 and 1.31): what
// is left of a 1 kHz tone is 56 dB down, a click passes.
std::vector<double> clickBand(const std::vector<float>& x, double rate)
{
    std::vector<double> y(x.begin(), x.end());
    for (const double q : {0.5412, 1.3066}) {
        const double w = 2.0 * M_PI * 5000.0 / rate, alpha = std::sin(w) / (2.0 * q), c = std::cos(w);
        const double a0 = 1 + alpha, b0 = (1 + c) / 2 / a0, b1 = -(1 + c) / a0, b2 = b0;
        const double a1 = -2 * c / a0, a2 = (1 - alpha) / a0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double& v : y) {
            const double out = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = out, v = out;
        }
    }
    return y;
}

std::string value(float v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", double(v));
    return text;
}

void printBends(Host& host, const Setting& defaults)
{
    std::printf("<!-- section bends -->\n");
    std::printf("| Change at the defaults, a sustained 1 kHz tone at mix 100 %% | largest pitch bend (cents) | "
                "bent for (ms) | click (dB re the tone's peak) |\n|---|---|---|---|\n");
    struct Change {
        const char* name;
        const char* symbol;
        float value;
        const char* unit;
    };
    const auto at = [&](const char* symbol) { return defaults.controls[position(host, symbol)]; };
    const Change changes[] = {{"Min distance", "min_distance", at("min_distance") + 1.0f, " m"},
                              {"Max distance", "max_distance", at("max_distance") + 1.0f, " m"},
                              {"Max distance", "max_distance", 60.0f, " m"},
                              {"Max distance", "max_distance", 4.0f, " m"},
                              {"Spread", "spread", 30.0f, " %"},
                              {"Lines", "lines", 4.0f, ""},
                              {"Parallel", "parallel", 1.0f, ""}};
    std::vector<float> controls = defaults.controls;
    controls[position(host, "mix")] = 100.0f;
    const size_t settle = size_t(3 * kRate), after = size_t(6 * kRate);
    const std::vector<float> tone = sustainedTone(kRate);
    std::vector<float> input(settle + after);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = tone[i % size_t(kRate)]; // whole cycles of 1 kHz: seamless
    for (const Change& change : changes) {
        Processor processor(host, kRate, controls, 256);
        std::vector<std::vector<float>> out(2, std::vector<float>(input.size()));
        processor.process(input.data(), out[0].data(), out[1].data(), settle);
        std::vector<float> changed = controls;
        changed[position(host, change.symbol)] = change.value;
        processor.setControls(changed);
        processor.process(input.data() + settle, out[0].data() + settle, out[1].data() + settle, after);
        double bend = 0, bentFor = 0, click = -300, steady = 0;
        for (const auto& ch : out) {
            const std::vector<double> track = pitchTrackCents(ch, kRate, kToneHz);
            // Bent: more than four times the track's spread before the change.
            const size_t changeAt = size_t(3.0 / kPitchHopSeconds);
            double sum = 0, squares = 0;
            for (size_t i = changeAt / 2; i < changeAt; ++i)
                sum += track[i], squares += track[i] * track[i];
            const double n = double(changeAt - changeAt / 2), mean = sum / n;
            const double limit = 4.0 * std::sqrt(std::max(0.0, squares / n - mean * mean));
            size_t last = changeAt;
            for (size_t i = changeAt; i < track.size(); ++i) {
                bend = std::max(bend, std::fabs(track[i] - mean));
                if (std::fabs(track[i] - mean) > limit)
                    last = i;
            }
            bentFor = std::max(bentFor, double(last - changeAt) * kPitchHopSeconds);
            const std::vector<double> high = clickBand(ch, kRate);
            for (size_t i = settle; i < settle + size_t(0.2 * kRate); ++i)
                click = std::max(click, 20 * std::log10(std::fabs(high[i]) + 1e-30));
            for (size_t i = settle - size_t(kRate); i < settle; ++i)
                steady = std::max(steady, double(std::fabs(ch[i])));
        }
        const std::string from = change.symbol == std::string("parallel") ? (at("parallel") != 0 ? "on" : "off")
                                                                          : value(at(change.symbol)) + change.unit;
        const std::string to = change.symbol == std::string("parallel") ? (change.value != 0 ? "on" : "off")
                                                                        : value(change.value) + change.unit;
        std::printf("| %s %s → %s | %s | %s | %s |\n", change.name, from.c_str(), to.c_str(), fixed(bend, 0).c_str(),
                    fixed(1000 * bentFor, 0).c_str(), fixed(click - 20 * std::log10(steady), 0).c_str());
    }
}

void printRates(const Host& host, const Renderer& renderChannels, const std::vector<Measured>& all)
{
    std::printf("<!-- section rates -->\n");
    std::printf("| Setting | T30 at 44.1 / 48 / 96 kHz (s) | 8 kHz octave re 1 kHz at 44.1 / 48 / 96 kHz (dB) | "
                "wobble at 44.1 / 48 / 96 kHz (cents) |\n|---|---|---|---|\n");
    for (const Measured& m : all) {
        std::vector<float> controls = m.setting.controls;
        controls[position(host, "mix")] = 100.0f;
        std::string t30, bright, wobble;
        for (const double rate : {44100.0, 48000.0, 96000.0}) {
            const Analysis a = analyze(renderChannels(rate, controls, {1.0f}, size_t(12 * rate)), rate);
            double cents[2];
            toneWobble(renderChannels(rate, controls, sustainedTone(rate), 0), rate, cents);
            const char* sep = rate == 44100.0 ? "" : " / ";
            t30 += sep + fixed(a.t30, 2);
            bright += sep + fixed(a.octaveLevelDb[6], 1);
            wobble += sep + fixed(std::max(cents[0], cents[1]), 1);
        }
        std::printf("| %s | %s | %s | %s |\n", m.setting.label.c_str(), t30.c_str(), bright.c_str(), wobble.c_str());
    }
}

void run(const std::string& materialPath, const std::string& peerFolder, const std::string& curves,
         const std::string& bundle)
{
    Host host(bundle);
    const std::vector<float> material = readMaterial(materialPath);
    std::ofstream curveFile;
    if (!curves.empty()) {
        curveFile.open(curves);
        if (!curveFile)
            throw std::runtime_error("cannot write " + curves);
    }
    const Renderer renderChannels = hostRenderer(host);
    std::vector<Measured> all;
    for (const Setting& s : settings(host)) {
        all.push_back({s, measure(host, renderChannels, s, material)});
        if (curveFile)
            writeCurves(curveFile, s.label, all.back().report.impulse, all.back().report.decayDb);
    }
    const std::vector<Peer> peers = peerFolder.empty() ? std::vector<Peer>{} : readPeers(peerFolder);
    double flutterLimit = NAN;
    for (const Peer& p : peers)
        if (p.name == "dragonfly-hall")
            flutterLimit = p.impulse.flutter;
    printPresets(all, peers);
    printChannels(all, peers, flutterLimit);
    printOnset(host, renderChannels, all, peers);
    printUndelayed(host, renderChannels, all.front().setting);
    printBends(host, all.front().setting);
    printRates(host, renderChannels, all);
}

} // namespace

int main(int argc, char** argv)
{
    std::string peers, curves, bundle;
    try {
        Arguments args(argc, argv, kUsage);
        while (args.next()) {
            if (args.is("--peers"))
                peers = args.value();
            else if (args.is("--curves"))
                curves = args.value();
            else if (args.is("--bundle"))
                bundle = args.value();
            else
                args.unknown();
        }
        if (args.positional.size() != 1)
            throw std::runtime_error("expects one MATERIAL file (see --help)");
        run(args.positional[0], peers, curves, bundle);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "streuwolke-report: %s\n", e.what());
        return 1;
    }
    return 0;
}
