// The measures of streuwolke-analyze on signals whose answers are known, and
// the tool's JSON output.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Analysis.h"
#include "Harness.h"

namespace {

const double kRate = 48000.0;

// Gaussian noise (or, with a click period, a click every period), its
// amplitude falling by 60 dB over t60 (an infinite t60: steady).
std::vector<float> decaying(double seconds, double t60, uint32_t seed, double clickPeriod = 0)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 0.25);
    const size_t period = size_t(std::lround(clickPeriod * kRate));
    std::vector<float> x(size_t(seconds * kRate));
    for (size_t i = 0; i < x.size(); ++i) {
        const double source = period ? (i % period == 0 ? 0.5 : 0.0) : gauss(rng);
        x[i] = float(source * std::exp(-6.907755 * double(i) / kRate / t60)); // ln 1000: 60 dB in amplitude
    }
    return x;
}

TEST(Analysis, DecayTimesOfDecayingNoise)
{
    for (const double t60 : {0.5, 2.0}) {
        SCOPED_TRACE(t60);
        // Two independent noises: their summed energy fluctuates less in the low bands.
        const Analysis a = analyze({decaying(1.2 * t60, t60, 1), decaying(1.2 * t60, t60, 2)}, kRate);
        EXPECT_NEAR(a.t30, t60, 0.03 * t60);
        EXPECT_NEAR(a.t20, t60, 0.05 * t60);
        EXPECT_NEAR(a.edt, t60, 0.10 * t60);
        for (int b = 0; b < kOctaveBands; ++b) {
            EXPECT_NEAR(a.octaveT30[b], t60, 0.10 * t60) << kOctaveCentres[b] << " Hz";
            // White: an octave's power grows with its width.
            EXPECT_NEAR(a.octaveLevelDb[b], 10 * std::log10(kOctaveCentres[b] / 1000), 1.0) << kOctaveCentres[b];
        }
        EXPECT_LT(a.flutter, 0.3); // nothing periodic in noise
    }
    // The 8 kHz band reaches past Nyquist at 22.05 kHz.
    const Analysis low = analyze({decaying(1.0, 0.5, 3)}, 22050.0);
    EXPECT_TRUE(std::isnan(low.octaveT30[6]));
    EXPECT_NEAR(low.octaveT30[5], 0.5 * 48000.0 / 22050.0, 0.05); // the same samples, played slower
}

// EDT starts at the first arrival: a quiet undelayed spike (more than 20 dB
// below the loudest) and the silence after it are no decay.
TEST(Analysis, EarlyDecayFromTheFirstArrival)
{
    std::vector<float> late(size_t(0.3 * kRate), 0.0f);
    late[0] = 0.03f;
    const std::vector<float> decay = decaying(1.2, 1.0, 1);
    late.insert(late.end(), decay.begin(), decay.end());
    const Analysis a = analyze({late}, kRate);
    EXPECT_NEAR(a.edt, 1.0, 0.1);
    EXPECT_NEAR(a.firstArrival, 0.3, 0.001);
}

// A file handed over in part (a decay, then a second of quiet noise): the
// rest's energy makes the decay curve, the undelayed part and the wet gain
// those of the whole file.
TEST(Analysis, RemainderCountsAsTheFileEnd)
{
    std::vector<std::vector<float>> whole = {decaying(1.0, 0.5, 1), decaying(1.0, 0.5, 2)}, held = whole;
    Remainder rest;
    rest.frames = size_t(kRate);
    for (int c = 0; c < 2; ++c) {
        std::vector<float> quiet = decaying(1.0, INFINITY, uint32_t(3 + c));
        for (float& v : quiet)
            v *= 0.003f;
        rest.energy[c] = energyOf(quiet);
        whole[size_t(c)].insert(whole[size_t(c)].end(), quiet.begin(), quiet.end());
    }
    const Analysis all = analyze(whole, kRate, 10.0), part = analyze(held, kRate, 10.0, rest);
    EXPECT_EQ(part.frames, all.frames);
    for (double Analysis::*m : {&Analysis::t30, &Analysis::edt, &Analysis::undelayedDb, &Analysis::wetGainDb})
        EXPECT_NEAR(part.*m, all.*m, 1e-6 * std::fabs(all.*m));
}

// Left rings 1 s, right 0.5 s: their own T30s, and the late tail (-35 to
// -50 dB of the summed curve) is far louder on the left.
TEST(Analysis, ChannelsDecayOnTheirOwn)
{
    const Analysis a = analyze({decaying(1.5, 1.0, 1), decaying(1.5, 0.5, 2)}, kRate);
    EXPECT_NEAR(a.channelT30[0], 1.0, 0.03);
    EXPECT_NEAR(a.channelT30[1], 0.5, 0.015);
    EXPECT_GT(a.lateBalanceDb, 25.0);
    const Analysis same = analyze({decaying(1.5, 1.0, 1), decaying(1.5, 1.0, 2)}, kRate);
    EXPECT_NEAR(same.lateBalanceDb, 0.0, 1.0);
    EXPECT_TRUE(std::isnan(analyze({decaying(1.5, 1.0, 1)}, kRate).lateBalanceDb));
}

// Decaying noise has no narrow peak; a 440 Hz sine that rings twice as long
// stands out, and a ringing bass makes the bass ratio.
TEST(Analysis, ColorationAndBassRatio)
{
    for (const double t60 : {0.6, 2.0}) {
        SCOPED_TRACE(t60);
        const Analysis noise = analyze({decaying(1.2 * t60, t60, 1), decaying(1.2 * t60, t60, 2)}, kRate);
        for (const Coloration& c : noise.coloration) {
            EXPECT_EQ(c.peaks6, 0);
            EXPECT_LT(c.worstDb, 6.0);
        }
        for (const double ratio : noise.bassRatio)
            EXPECT_NEAR(ratio, 1.0, 0.1);
    }
    std::vector<float> ringing = decaying(1.5, 0.6, 1), bass = ringing;
    for (size_t i = 0; i < ringing.size(); ++i) {
        const double t = double(i) / kRate;
        ringing[i] += float(0.02 * std::exp(-6.907755 * t / 1.2) * std::sin(2 * M_PI * 440.0 * t));
        bass[i] += float(0.1 * std::exp(-6.907755 * t / 1.2) * std::sin(2 * M_PI * 125.0 * t));
    }
    const Analysis a = analyze({ringing}, kRate);
    EXPECT_EQ(a.coloration[0].peaks6, 1);
    EXPECT_GT(a.coloration[0].worstDb, 12.0);
    EXPECT_NEAR(a.coloration[0].worstHz, 440.0, 10.0);
    EXPECT_GT(analyze({bass}, kRate).bassRatio[0], 1.5);
}

// A steady 1 kHz sine has no wobble; one with a vibrato of +-10 cents at
// 2 Hz has a standard deviation of 10 / sqrt 2 cents.
TEST(Analysis, PitchWobbleOfASustainedSine)
{
    std::vector<float> steady(size_t(3 * kRate)), vibrato(steady.size());
    double phase = 0.0;
    for (size_t i = 0; i < steady.size(); ++i) {
        const double t = double(i) / kRate;
        steady[i] = float(0.3 * std::sin(2 * M_PI * 1000.0 * t));
        phase += 2 * M_PI * 1000.0 * std::pow(2.0, 10.0 / 1200.0 * std::sin(2 * M_PI * 2.0 * t)) / kRate;
        vibrato[i] = float(0.3 * std::sin(phase));
    }
    EXPECT_LT(pitchWobbleCents(steady, kRate, 1000.0), 0.05);
    EXPECT_NEAR(pitchWobbleCents(vibrato, kRate, 1000.0), 10.0 / std::sqrt(2.0), 0.2);
    const std::vector<double> track = pitchTrackCents(vibrato, kRate, 1000.0);
    EXPECT_NEAR(*std::max_element(track.begin(), track.end()), 10.0, 0.3);
    EXPECT_NEAR(*std::min_element(track.begin(), track.end()), -10.0, 0.3);
    EXPECT_TRUE(std::isnan(pitchWobbleCents(std::vector<float>(100), kRate, 1000.0)));
}

TEST(Analysis, ClickTrainIsSparseAndPeriodic)
{
    const Analysis a = analyze({decaying(1.0, 1.0, 1, 0.010)}, kRate);
    ASSERT_FALSE(a.density.empty());
    for (const double d : a.density)
        EXPECT_LT(d, 0.1);
    EXPECT_TRUE(std::isnan(a.densityReach09));
    EXPECT_GT(a.flutter, 0.8);
    EXPECT_NEAR(a.flutterLagMs, 10.0, 0.01); // within half a sample
}

TEST(Analysis, NoiseIsDenseAndFlatAToneIsNot)
{
    const Analysis noise = analyze({decaying(2.0, INFINITY, 1)}, kRate);
    double mean = 0.0;
    for (const double d : noise.density)
        mean += d / double(noise.density.size());
    EXPECT_GT(mean, 0.9);
    EXPECT_LT(mean, 1.1);
    EXPECT_LT(noise.densityReach09, 0.05);
    EXPECT_GT(noise.flatness, 0.9);

    std::vector<float> tone(48000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = float(0.5 * std::sin(2 * M_PI * 1000.0 * double(i) / kRate));
    EXPECT_LT(analyze({tone}, kRate).flatness, 0.05);
}

TEST(Analysis, StereoImage)
{
    const std::vector<float> left = decaying(1.2, 0.5, 1), right = decaying(1.2, 0.5, 2);
    const Analysis same = analyze({left, left}, kRate);
    EXPECT_NEAR(same.tailCorrelation, 1.0, 1e-9);
    EXPECT_NEAR(same.monoLossDb, 0.0, 1e-9);
    const Analysis apart = analyze({left, right}, kRate);
    EXPECT_LT(std::fabs(apart.tailCorrelation), 0.05);
    EXPECT_NEAR(apart.monoLossDb, -3.01, 0.2);
    const Analysis mono = analyze({left}, kRate);
    EXPECT_TRUE(std::isnan(mono.tailCorrelation) && std::isnan(mono.monoLossDb));
    EXPECT_THROW(analyze({left, left, left}, kRate), std::invalid_argument);
}

TEST(Analysis, UndelayedPartAndWetGain)
{
    std::vector<float> impulse(4800, 0.0f), delayed(4800, 0.0f);
    impulse[0] = 1.0f;
    delayed[480] = 1.0f; // 10 ms
    EXPECT_NEAR(analyze({impulse}, kRate).undelayedDb, 0.0, 1e-9);
    EXPECT_LT(analyze({delayed, delayed}, kRate).undelayedDb, -100.0);

    const std::vector<float> dry = decaying(0.5, 0.3, 1);
    std::vector<float> half = dry;
    for (float& v : half)
        v *= 0.5f;
    EXPECT_NEAR(analyze({half, half}, kRate, energyOf(dry)).wetGainDb, -6.0206, 1e-6);
    EXPECT_TRUE(std::isnan(analyze({half}, kRate).wetGainDb));
}

// Reads one JSON value strictly; collects the member names of the outermost
// object and the length of its arrays.
struct Json {
    explicit Json(const std::string& text) : s(text) {}
    const std::string& s;
    size_t i = 0;
    int depth = 0;
    std::set<std::string> keys;
    std::string key;
    std::map<std::string, size_t> arrayLength;

    void space()
    {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
            ++i;
    }
    bool word(const std::string& w) { return s.compare(i, w.size(), w) == 0 ? (i += w.size(), true) : false; }
    bool string(std::string* out)
    {
        if (!word("\""))
            return false;
        const size_t begin = i;
        while (i < s.size() && s[i] != '"')
            i += s[i] == '\\' ? 2 : 1;
        if (out)
            *out = s.substr(begin, i - begin);
        return word("\"");
    }
    bool number()
    {
        const size_t begin = i;
        while (i < s.size() && std::strchr("+-.eE0123456789", s[i]))
            ++i;
        char* end = nullptr;
        std::strtod(s.c_str() + begin, &end);
        return i > begin && (s[begin] == '-' || std::isdigit(static_cast<unsigned char>(s[begin]))) &&
               end == s.c_str() + i;
    }
    template <typename Item> bool list(char close, Item item, size_t* count)
    {
        space();
        if (word(std::string(1, close)))
            return true;
        do {
            space();
            if (!item())
                return false;
            ++*count;
            space();
        } while (word(","));
        return word(std::string(1, close));
    }
    bool member()
    {
        std::string name;
        if (!string(&name))
            return false;
        space();
        if (depth == 1)
            keys.insert(key = name);
        return word(":") && (space(), value());
    }
    bool value()
    {
        size_t count = 0;
        if (word("{")) {
            ++depth;
            const bool ok = list('}', [this] { return member(); }, &count);
            return --depth, ok;
        }
        if (word("[")) {
            const std::string owner = depth == 1 ? key : "";
            ++depth;
            const bool ok = list(']', [this] { return value(); }, &count);
            arrayLength[owner] = count;
            return --depth, ok;
        }
        return string(nullptr) || word("null") || word("true") || word("false") || number();
    }
};

void writeSound(const std::string& path, const std::vector<std::vector<float>>& channels)
{
    SF_INFO info{};
    info.samplerate = int(kRate);
    info.channels = int(channels.size());
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    std::vector<float> interleaved;
    for (size_t i = 0; i < channels[0].size(); ++i)
        for (const auto& c : channels)
            interleaved.push_back(c[i]);
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(f) << path;
    sf_writef_float(f, interleaved.data(), sf_count_t(channels[0].size()));
    sf_close(f);
}

// Runs the tool in dir with `arguments`; returns its exit status.
int runTool(const std::string& dir, const std::string& arguments)
{
    const int status = std::system(("cd '" + dir + "' && '" STREUWOLKE_ANALYZE_TOOL "' " + arguments +
                                    " > out.txt 2> err.txt").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Tool, JsonPlotAndErrors)
{
    char name[] = "/tmp/streuwolke-analyze-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(name));
    const std::string dir = name;
    writeSound(dir + "/ir.wav", {decaying(0.6, 0.5, 1), decaying(0.6, 0.5, 2)});
    writeSound(dir + "/dry.wav", {decaying(0.1, 0.1, 3)});
    writeSound(dir + "/three.wav", {decaying(0.1, 0.1, 1), decaying(0.1, 0.1, 2), decaying(0.1, 0.1, 3)});

    ASSERT_EQ(runTool(dir, "ir.wav --json --dry dry.wav --plot ir.png --tone 1000"), 0) << support::readFile(dir + "/err.txt");
    const std::string out = support::readFile(dir + "/out.txt");
    Json json(out);
    json.space();
    ASSERT_EQ(out.substr(json.i, 1), "{") << out;
    EXPECT_TRUE(json.value()) << "not JSON at " << json.i;
    json.space();
    EXPECT_EQ(json.i, out.size()) << "more than one value";
    for (const char* field : {"rate", "frames", "channels", "t20", "t30", "edt", "firstArrival", "octaveT30", "densityTime",
                              "density", "densityReach09", "flutter", "flutterLagMs", "flatness",
                              "tailCorrelation", "monoLossDb", "undelayedDb", "wetGainDb", "channelT30", "bassRatio",
                              "lateBalanceDb", "tailPeaksOver6Db", "tailPeaksOver10Db", "worstTailPeakDb",
                              "worstTailPeakHz", "pitchWobbleCents"})
        EXPECT_TRUE(json.keys.count(field)) << field;
    EXPECT_EQ(json.arrayLength["octaveT30"], size_t(kOctaveBands));
    EXPECT_EQ(json.arrayLength["channelT30"], 2u);
    EXPECT_GT(json.arrayLength["density"], 100u);
    EXPECT_EQ(json.arrayLength["density"], json.arrayLength["densityTime"]);
    EXPECT_EQ(support::readFile(dir + "/ir.png").substr(1, 3), "PNG");

    for (const char* bad : {"missing.wav", "three.wav", "ir.wav --frobnicate", "ir.wav --dry", "dry.wav ir.wav", "ir.wav --tone 0"}) {
        EXPECT_EQ(runTool(dir, bad), 1) << bad;
        const std::string err = support::readFile(dir + "/err.txt");
        EXPECT_EQ(err.rfind("streuwolke-analyze: ", 0), 0u) << bad << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << bad << ": " << err;
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

} // namespace
