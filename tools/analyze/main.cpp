// streuwolke-analyze: measures a reverb's impulse response or render (decay
// times, echo density, flutter, the tail's colour and stereo image) and
// prints a table, a JSON object or a picture.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sndfile.h>

#include "Analysis.h"
#include "SoundTool.h"

using namespace soundtool;

namespace {

const char* const kUsage =
    "usage: streuwolke-analyze IN.wav [--json] [--plot OUT.png] [--dry DRY.wav] [--tone HZ]\n"
    "\n"
    "Measures a mono or stereo impulse response or render: T20, T30 and EDT (also T30\n"
    "in the octave bands 125 Hz..8 kHz), echo density over time, flutter (periodicity\n"
    "of the decay-compensated envelope), the tail's spectral flatness, left/right\n"
    "correlation and mono loss, the energy in the first millisecond and the wet gain;\n"
    "per channel T30, the bass ratio (T30 at 125 Hz over 1 kHz) and the narrow peaks\n"
    "of the tail spectrum over its +-1/6-octave median, and the late left/right balance.\n"
    "  --json     print one JSON object instead of the table (null where a value\n"
    "             cannot be measured)\n"
    "  --plot     draw the decay curves, the echo density and the octave-band T30\n"
    "             into a PNG (needs gnuplot)\n"
    "  --dry      the file the input was rendered from (mixed down to mono if it has\n"
    "             more channels), the reference for the wet gain\n"
    "  --tone     the input was a sustained sine of HZ: also the pitch wobble of each\n"
    "             channel (standard deviation of its instantaneous frequency, in cents)\n"
    "\n"
    "Files of any length are read in pieces. Of a file longer than 3000000 frames\n"
    "(62.5 s at 48 kHz) the decay curves, the undelayed part and the wet gain cover\n"
    "the whole file, the other measures its first 3000000 frames.\n";

// The frames held in memory. The transforms of the octave bands and of the
// flutter take some 57 bytes a frame of stereo at their peak: about 170 MB
// (bench/analyze_memory.cpp measures it).
constexpr size_t kHeldFrames = 3000000;

struct Options {
    std::string in, plot, dry;
    double tone = 0;
    bool json = false;
};

Options parseArguments(int argc, char** argv)
{
    Options o;
    Arguments args(argc, argv, kUsage);
    while (args.next()) {
        if (args.is("--json"))
            o.json = true;
        else if (args.is("--plot"))
            o.plot = args.value();
        else if (args.is("--dry"))
            o.dry = args.value();
        else if (args.is("--tone")) {
            o.tone = parseNumber(args.value(), "--tone");
            if (!(o.tone > 0))
                throw std::runtime_error("--tone wants a frequency above 0 Hz");
        }
        else
            args.unknown();
    }
    const std::vector<std::string>& files = args.positional;
    if (files.size() != 1)
        throw std::runtime_error("expects one input file (see --help)");
    o.in = files[0];
    return o;
}

// A mono or stereo file read in pieces: its first `held` frames kept, the
// energy of the rest counted.
struct Held {
    double rate = 0;
    std::vector<std::vector<float>> channels;
    Remainder rest;
};

void openSound(SoundFile& f, const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    f.file = sf_open(path.c_str(), SFM_READ, &f.info);
    if (!f.file)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    if (f.info.samplerate <= 0 || f.info.channels <= 0)
        throw std::runtime_error("cannot read " + path + ": no audio");
}

// Calls take(interleaved, frames) for consecutive pieces of the file.
template <typename Take>
void readPieces(SoundFile& f, const std::string& path, Take take)
{
    constexpr size_t kPiece = 65536;
    std::vector<float> piece(kPiece * size_t(f.info.channels));
    for (;;) {
        const size_t n = size_t(sf_readf_float(f.file, piece.data(), sf_count_t(kPiece)));
        if (sf_error(f.file))
            throw std::runtime_error("cannot read " + path + ": " + sf_strerror(f.file));
        if (n == 0)
            return;
        take(piece.data(), n);
    }
}

Held readHeld(const std::string& path, size_t held)
{
    SoundFile f;
    openSound(f, path);
    const size_t channels = size_t(f.info.channels);
    if (channels > 2)
        throw std::runtime_error(path + " has " + std::to_string(channels) +
                                 " channels; only mono and stereo files can be analysed");
    Held s;
    s.rate = f.info.samplerate;
    s.channels.resize(channels);
    for (auto& c : s.channels)
        c.reserve(std::min(held, size_t(std::max<sf_count_t>(f.info.frames, 0))));
    readPieces(f, path, [&](const float* x, size_t n) {
        for (size_t i = 0; i < n; ++i, x += channels) {
            if (s.channels[0].size() < held) {
                for (size_t c = 0; c < channels; ++c)
                    s.channels[c].push_back(x[c]);
                continue;
            }
            for (size_t c = 0; c < channels; ++c)
                s.rest.energy[c] += double(x[c]) * double(x[c]);
            ++s.rest.frames;
        }
    });
    if (s.channels[0].empty())
        throw std::runtime_error("cannot read " + path + ": no audio");
    return s;
}

// The energy of a file mixed down to mono, read in pieces.
double monoEnergy(const std::string& path, double* rate)
{
    SoundFile f;
    openSound(f, path);
    *rate = f.info.samplerate;
    const int channels = f.info.channels;
    double sum = 0.0;
    readPieces(f, path, [&](const float* x, size_t n) {
        for (size_t i = 0; i < n; ++i, x += channels) {
            float mono = 0.0f;
            for (int c = 0; c < channels; ++c)
                mono += x[c];
            if (channels > 1)
                mono /= float(channels);
            sum += double(mono) * double(mono);
        }
    });
    return sum;
}

std::string number(double v, const char* format = "%.6g")
{
    if (!std::isfinite(v))
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string jsonArray(const double* v, size_t n)
{
    std::string out = "[";
    for (size_t i = 0; i < n; ++i)
        out += (i ? "," : "") + number(v[i]);
    return out + "]";
}

// The channels' values of one measure.
template <typename Value>
std::vector<double> perChannel(const Analysis& a, Value value)
{
    std::vector<double> v;
    for (int c = 0; c < a.channels; ++c)
        v.push_back(value(c));
    return v;
}

void printJson(const std::string& path, const Analysis& a, const std::vector<double>& wobble)
{
    std::string out = "{\"file\":" + jsonString(path);
    auto field = [&out](const char* name, const std::string& value) { out += ",\"" + std::string(name) + "\":" + value; };
    field("rate", number(a.rate));
    field("frames", std::to_string(a.frames));
    field("channels", std::to_string(a.channels));
    field("t20", number(a.t20));
    field("t30", number(a.t30));
    field("edt", number(a.edt));
    field("firstArrival", number(a.firstArrival));
    field("octaveCentres", jsonArray(kOctaveCentres, kOctaveBands));
    field("octaveT30", jsonArray(a.octaveT30, kOctaveBands));
    field("densityTime", jsonArray(a.densityTime.data(), a.densityTime.size()));
    field("density", jsonArray(a.density.data(), a.density.size()));
    field("densityReach09", number(a.densityReach09));
    field("flutter", number(a.flutter));
    field("flutterLagMs", number(a.flutterLagMs));
    field("flatness", number(a.flatness));
    field("tailCorrelation", number(a.tailCorrelation));
    field("monoLossDb", number(a.monoLossDb));
    field("undelayedDb", number(a.undelayedDb));
    field("wetGainDb", number(a.wetGainDb));
    const auto channels = [&](auto value) {
        const std::vector<double> v = perChannel(a, value);
        return jsonArray(v.data(), v.size());
    };
    field("channelT30", channels([&](int c) { return a.channelT30[c]; }));
    field("bassRatio", channels([&](int c) { return a.bassRatio[c]; }));
    field("lateBalanceDb", number(a.lateBalanceDb));
    field("tailPeaksOver6Db", channels([&](int c) { return double(a.coloration[c].peaks6); }));
    field("tailPeaksOver10Db", channels([&](int c) { return double(a.coloration[c].peaks10); }));
    field("worstTailPeakDb", channels([&](int c) { return a.coloration[c].worstDb; }));
    field("worstTailPeakHz", channels([&](int c) { return a.coloration[c].worstHz; }));
    if (!wobble.empty())
        field("pitchWobbleCents", jsonArray(wobble.data(), wobble.size()));
    std::printf("%s}\n", out.c_str());
}

// A value with its unit, or "-" where it cannot be measured.
std::string shown(double v, const char* format, const char* unit = "")
{
    return std::isfinite(v) ? number(v, format) + unit : "-";
}

void printTable(const std::string& path, const Analysis& a, const std::vector<double>& wobble)
{
    std::printf("%-18s %s: %d channel%s, %g Hz, %.3f s\n", "file", path.c_str(), a.channels,
                a.channels == 1 ? "" : "s", a.rate, double(a.frames) / a.rate);
    std::printf("%-18s %s\n", "T20", shown(a.t20, "%.3f", " s").c_str());
    std::printf("%-18s %s\n", "T30", shown(a.t30, "%.3f", " s").c_str());
    std::printf("%-18s %s\n", "first arrival", shown(a.firstArrival * 1000, "%.1f", " ms").c_str());
    std::printf("%-18s %s%s\n", "EDT", shown(a.edt, "%.3f", " s").c_str(),
                undelayedDominates(a) ? " (the fall of the undelayed spike, which holds most of the energy)" : "");
    std::printf("%-18s", "octave band (Hz)");
    for (double centre : kOctaveCentres)
        std::printf(" %7g", centre);
    std::printf("\n%-18s", "  T30 (s)");
    for (double t : a.octaveT30)
        std::printf(" %7s", shown(t, "%.3f").c_str());
    std::printf("\n%-18s %s\n", "density 0.9 at", shown(a.densityReach09, "%.3f", " s").c_str());
    std::printf("%-18s %s at %s\n", "flutter", shown(a.flutter, "%.3f").c_str(),
                shown(a.flutterLagMs, "%.2f", " ms").c_str());
    std::printf("%-18s %s\n", "flatness", shown(a.flatness, "%.3f").c_str());
    std::printf("%-18s %s\n", "tail correlation", shown(a.tailCorrelation, "%.3f").c_str());
    std::printf("%-18s %s\n", "mono loss", shown(a.monoLossDb, "%.2f", " dB").c_str());
    std::printf("%-18s %s\n", "undelayed", shown(a.undelayedDb, "%.1f", " dB").c_str());
    std::printf("%-18s %s\n", "wet gain", shown(a.wetGainDb, "%.2f", " dB").c_str());
    const auto row = [&](const char* name, auto value) {
        std::printf("%-18s", name);
        for (int c = 0; c < a.channels; ++c)
            std::printf(" %s%s", c ? "/ " : "", value(c).c_str());
        std::printf("\n");
    };
    std::printf("per channel%s\n", a.channels == 2 ? " (left / right)" : "");
    row("  T30", [&](int c) { return shown(a.channelT30[c], "%.3f", " s"); });
    row("  bass ratio", [&](int c) { return shown(a.bassRatio[c], "%.2f"); });
    row("  tail peaks", [&](int c) {
        const Coloration& k = a.coloration[c];
        return std::to_string(k.peaks6) + " over 6 dB, " + std::to_string(k.peaks10) + " over 10 dB, worst " +
               shown(k.worstDb, "%.1f", " dB") + " at " + shown(k.worstHz, "%.0f", " Hz");
    });
    if (!wobble.empty())
        row("  pitch wobble", [&](int c) { return shown(wobble[size_t(c)], "%.1f", " cents"); });
    if (a.channels == 2)
        std::printf("%-18s %s\n", "late balance", shown(a.lateBalanceDb, "%+.1f", " dB (left over right)").c_str());
}

// A gnuplot string literal: single quotes, a quote written twice.
std::string gnuplotString(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// At most ~2000 points of each decay curve, as a gnuplot data block.
std::string decayBlock(const Held& s, double* end)
{
    std::vector<std::vector<double>> curves = {decayCurveDb(s.channels, s.rest)};
    if (s.channels.size() == 2)
        for (int c = 0; c < 2; ++c) {
            Remainder own;
            own.energy[0] = s.rest.energy[c];
            curves.push_back(decayCurveDb({s.channels[size_t(c)]}, own));
        }
    const size_t frames = curves[0].size(), step = std::max<size_t>(1, frames / 2000);
    size_t last = frames;
    for (size_t i = 0; i < frames; ++i)
        if (curves[0][i] <= -100.0) {
            last = i + 1;
            break;
        }
    *end = std::max(double(last) / s.rate, 0.01);
    std::ostringstream block;
    block << "$decay << EOD\n";
    for (size_t i = 0; i < frames; i += step) {
        block << double(i) / s.rate;
        for (const auto& c : curves)
            block << ' ' << c[i];
        block << '\n';
    }
    block << "EOD\n";
    return block.str();
}

std::string plotScript(const Options& o, const Held& s, const Analysis& a)
{
    double end = 0;
    std::ostringstream g;
    g << decayBlock(s, &end) << "$density << EOD\n";
    for (size_t i = 0; i < a.density.size(); ++i)
        g << a.densityTime[i] << ' ' << a.density[i] << '\n';
    g << "EOD\n$octaves << EOD\n";
    const char* names[kOctaveBands] = {"125", "250", "500", "1k", "2k", "4k", "8k"};
    for (int b = 0; b < kOctaveBands; ++b)
        g << names[b] << ' ' << (std::isfinite(a.octaveT30[b]) ? number(a.octaveT30[b]) : "NaN") << '\n';
    const std::string name = o.in.substr(o.in.find_last_of('/') + 1);
    g << "EOD\n"
      << "set terminal pngcairo noenhanced size 900,800 font 'DejaVu Sans,10'\n"
      << "set output " << gnuplotString(o.plot) << "\n"
      << "set multiplot layout 3,1 title " << gnuplotString(name) << " font ',12'\n"
      << "set grid lc rgb '#dddddd'\nset lmargin 10\nset xrange [0:" << end << "]\n"
      << "set xlabel 'time (s)'\nset ylabel 'energy decay (dB)'\nset yrange [-100:0]\nset key top right\n"
      << "plot $decay using 1:2 with lines lw 2 lc rgb 'black' title 'sum'"
      << (s.channels.size() == 2 ? ", '' using 1:3 with lines lc rgb '#1f5fa8' title 'left',"
                                   " '' using 1:4 with lines lc rgb '#c0392b' title 'right'"
                                 : "")
      << "\nset ylabel 'echo density'\nset yrange [0:1.4]\n"
      << "plot $density using 1:2 with lines lw 1.5 lc rgb '#1f5fa8' notitle, 1 with lines dt 2 lc rgb 'gray' notitle\n"
      << "set xrange [-0.5:6.5]\nset autoscale y\nset yrange [0:*]\nset xlabel 'octave band (Hz)'\n"
      << "set ylabel 'T30 (s)'\nset style fill solid 0.6\nset boxwidth 0.7\n"
      << "plot $octaves using 0:2:xtic(1) with boxes lc rgb '#1f5fa8' notitle"
      << (std::isfinite(a.t30) ? ", " + number(a.t30) + " with lines dt 2 lc rgb 'black' title 'broadband'" : "")
      << "\nunset multiplot\n";
    return g.str();
}

// Runs gnuplot on the script; on failure, gnuplot's last message goes into the error.
void runGnuplot(const std::string& script, const std::string& output)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/streuwolke-analyze-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    char* dir = buffer.data();
    if (!mkdtemp(dir))
        throw std::runtime_error(std::string("cannot make a temporary folder: ") + std::strerror(errno));
    const std::string scriptPath = std::string(dir) + "/plot.gp", errorPath = std::string(dir) + "/errors";
    std::ofstream(scriptPath) << script;
    int status = -1;
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0)
            dup2(fd, STDERR_FILENO);
        execlp("gnuplot", "gnuplot", scriptPath.c_str(), static_cast<char*>(nullptr));
        std::fprintf(stderr, "cannot run gnuplot: %s\n", std::strerror(errno));
        _exit(127);
    }
    if (child > 0)
        waitpid(child, &status, 0);
    std::ifstream errors(errorPath);
    std::string line, message;
    while (std::getline(errors, line))
        if (line.find_first_not_of(" \t^") != std::string::npos)
            message = line;
    unlink(scriptPath.c_str());
    unlink(errorPath.c_str());
    rmdir(dir);
    if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("gnuplot could not draw " + output + (message.empty() ? "" : ": " + message));
}

void run(const Options& o)
{
    const Held s = readHeld(o.in, kHeldFrames);
    if (s.rest.frames > 0)
        std::fprintf(stderr,
                     "streuwolke-analyze: note: %s holds %.1f s; the decay curves, the undelayed part and the wet "
                     "gain cover all of it, the other measures its first %.1f s (%zu frames)\n",
                     o.in.c_str(), double(s.channels[0].size() + s.rest.frames) / s.rate,
                     double(s.channels[0].size()) / s.rate, s.channels[0].size());
    double dryEnergy = kNoDryEnergy;
    if (!o.dry.empty()) {
        double dryRate = 0;
        dryEnergy = monoEnergy(o.dry, &dryRate);
        if (dryRate != s.rate)
            throw std::runtime_error(o.dry + " runs at " + number(dryRate) + " Hz, " + o.in + " at " +
                                     number(s.rate) + " Hz");
    }
    const Analysis a = analyze(s.channels, s.rate, dryEnergy, s.rest);
    std::vector<double> wobble;
    if (o.tone > 0)
        for (const auto& c : s.channels)
            wobble.push_back(pitchWobbleCents(c, s.rate, o.tone));
    if (!o.plot.empty())
        runGnuplot(plotScript(o, s, a), o.plot);
    if (o.json)
        printJson(o.in, a, wobble);
    else
        printTable(o.in, a, wobble);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        run(parseArguments(argc, argv));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "streuwolke-analyze: %s\n", e.what());
        return 1;
    }
}
