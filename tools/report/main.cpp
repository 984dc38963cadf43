// streuwolke-report: measures the defaults and every preset (and, given a
// folder of their impulse responses, the peer reverbs) and prints Markdown
// tables for the README; tools/report.sh runs it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <fstream>
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
    "Prints a Markdown table of the defaults and every preset: the impulse response\n"
    "at mix 100 % (T30, EDT, time to echo density 0.9, flutter, tail correlation,\n"
    "flatness, undelayed part), the wet gain on MATERIAL (mono, 48 kHz) at mix\n"
    "100 % and the peaks of MATERIAL normalised to -6 dBFS at mix 50 and 100 %.\n"
    "  --peers   also a table of the impulse responses DIR/*.wav (48 kHz)\n"
    "  --curves  writes each setting's decay curve and echo density over time to FILE\n"
    "            (gnuplot data blocks, one per setting, in table order)\n"
    "  --bundle  the plug-in bundle folder (otherwise as streuwolke-render finds it)\n";

std::string fixed(double v, int digits)
{
    if (!std::isfinite(v))
        return "—";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

std::string milliseconds(double seconds) { return std::isfinite(seconds) ? fixed(1000 * seconds, 0) : "never"; }

// Marks an EDT that is the fall of the undelayed spike.
const char* const kUndelayedMark = " ‡";
const char* const kUndelayedNote =
    "‡ Most of this response is the input passed straight through (the undelayed column), so its EDT is the "
    "fall of that spike, not of the reverb.\n";

// The columns both tables share, from an impulse response.
std::string impulseColumns(const Analysis& a)
{
    return fixed(a.t30, 2) + " | " + fixed(a.edt, 2) + (undelayedDominates(a) ? kUndelayedMark : "") + " | " + milliseconds(a.densityReach09) + " | " +
           fixed(a.flutter, 2) + " | " + fixed(a.tailCorrelation, 2) + " | " + fixed(a.flatness, 3) + " | " +
           (a.undelayedDb <= -100 ? std::string("none") : fixed(a.undelayedDb, 1));
}
const char* const kImpulseHeader = "T30 (s) | EDT (s) | density 0.9 (ms) | flutter | tail ρ | flatness | undelayed (dB)";

void writeCurves(std::ofstream& out, const std::string& label, const Analysis& a, const std::vector<double>& decay)
{
    out << "# " << label << "\n";
    for (size_t i = 0; i < a.density.size(); ++i) {
        const size_t frame = std::min(decay.size() - 1, size_t(std::lround(a.densityTime[i] * a.rate)));
        out << a.densityTime[i] << ' ' << decay[frame] << ' ' << a.density[i] << '\n';
    }
    out << "\n\n";
}

void run(const std::string& materialPath, const std::string& peers, const std::string& curves,
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
    std::printf("| Setting | Kind | %s | wet gain (dB) | peak at mix 50 / 100 %% (dBFS) |\n", kImpulseHeader);
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    bool marked = false;
    for (const Setting& s : settings(host)) {
        const SettingReport r = measure(host, s, material);
        marked = marked || undelayedDominates(r.impulse);
        std::printf("| %s | %s | %s | %s | %s / %s |\n", s.label.c_str(), s.name == "defaults" ? "—" : kindName(kindOf(s.label)),
                    impulseColumns(r.impulse).c_str(), fixed(r.wetGainDb, 1).c_str(), fixed(r.peakDb[0], 1).c_str(),
                    fixed(r.peakDb[1], 1).c_str());
        if (curveFile)
            writeCurves(curveFile, s.label, r.impulse, r.decayDb);
    }
    if (marked)
        std::printf("\n%s", kUndelayedNote);
    if (peers.empty())
        return;
    std::vector<std::string> files;
    if (DIR* dir = opendir(peers.c_str())) {
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0)
                files.push_back(name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    std::printf("\n| Peer (about 2 s, wet only) | %s |\n|---|---|---|---|---|---|---|---|\n", kImpulseHeader);
    for (const std::string& name : files) {
        const Sound peer = readSound(peers + "/" + name);
        const Analysis a = analyze(peer.channels, peer.rate);
        std::printf("| %s | %s |\n", name.substr(0, name.size() - 4).c_str(), impulseColumns(a).c_str());
    }
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
        const std::string& material = args.positional[0];
        run(material, peers, curves, bundle);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "streuwolke-report: %s\n", e.what());
        return 1;
    }
    return 0;
}
