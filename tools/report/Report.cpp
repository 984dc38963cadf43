#include "Report.h"

#include "SoundTool.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <stdexcept>

namespace {

constexpr double kRate = 48000.0;
constexpr float kMinus6dB = 0.50118723f;

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool has(const std::string& text, std::initializer_list<const char*> words)
{
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return text.find(w) != std::string::npos; });
}

float peak(const std::vector<float>& x)
{
    float p = 0.0f;
    for (float v : x)
        p = std::max(p, std::fabs(v));
    return p;
}

double db(double ratio) { return 10.0 * std::log10(ratio); }

// left and right of render()'s interleaved result.
std::vector<std::vector<float>> split(const std::vector<float>& stereo)
{
    std::vector<std::vector<float>> channels(2, std::vector<float>(stereo.size() / 2));
    for (size_t i = 0; i < channels[0].size(); ++i)
        channels[0][i] = stereo[2 * i], channels[1][i] = stereo[2 * i + 1];
    return channels;
}

std::string fixed(double v, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

} // namespace

Kind kindOf(const std::string& label)
{
    const std::string l = lower(label);
    const bool effect = has(l, {"echo", "slapback", "chorus", "shimmer"});
    const bool reverb = has(l, {"room", "hall", "plate", "chamber", "cloud", "wash"});
    if (effect == reverb)
        return Kind::Unnamed;
    return effect ? Kind::Effect : has(l, {"room"}) ? Kind::Room : Kind::Reverb;
}

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::Room: return "room";
    case Kind::Reverb: return "reverb";
    case Kind::Effect: return "effect";
    case Kind::Unnamed: break;
    }
    return "unnamed";
}

std::vector<Setting> settings(Host& host)
{
    std::vector<Setting> all{{"defaults", "Defaults", "", host.defaults()}};
    for (const Preset& preset : host.presets()) {
        Setting s{preset.uri.substr(preset.uri.find_last_of('/') + 1), preset.label, preset.comment, host.defaults()};
        for (const auto& [position, value] : host.presetValues(preset))
            s.controls[position] = value;
        all.push_back(s);
    }
    return all;
}

std::vector<float> sustainedTone(double rate)
{
    std::vector<float> tone(size_t(kToneSeconds * rate));
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = kToneLevel * float(std::sin(2.0 * M_PI * kToneHz * double(i) / rate));
    return tone;
}

void toneWobble(const std::vector<std::vector<float>>& render, double rate, double cents[2])
{
    for (size_t c = 0; c < 2; ++c) {
        const std::vector<float>& x = render[std::min(c, render.size() - 1)];
        const size_t settle = std::min(x.size(), size_t(kToneSettle * rate));
        cents[c] = pitchWobbleCents(std::vector<float>(x.begin() + long(settle), x.end()), rate, kToneHz);
    }
}

Renderer hostRenderer(Host& host)
{
    return [&host](double rate, const std::vector<float>& controls, const std::vector<float>& input, size_t tail) {
        return split(render(host, rate, controls, input, tail));
    };
}

size_t controlPosition(const Host& host, const char* symbol)
{
    const Control* c = host.findControl(symbol);
    if (!c)
        throw std::runtime_error(std::string("the plug-in has no control ") + symbol);
    return size_t(c - host.controls().data());
}

SettingReport measure(const Host& host, const Renderer& render, const Setting& setting,
                      const std::vector<float>& material, double impulseSeconds)
{
    const size_t mix = controlPosition(host, "mix");
    std::vector<float> controls = setting.controls;
    controls[mix] = 100.0f;
    SettingReport r;
    const std::vector<float> impulse{1.0f};
    const size_t tail = size_t(impulseSeconds * kRate);
    const std::vector<std::vector<float>> response = render(kRate, controls, impulse, tail);
    r.impulse = analyze(response, kRate);
    r.decayDb = decayCurveDb(response);
    toneWobble(render(kRate, controls, sustainedTone(kRate), 0), kRate, r.wobbleCents);
    r.distanceShift = 0.0;
    for (const char* distance : {"min_distance", "max_distance"})
        for (const float factor : {0.98f, 1.02f}) {
            std::vector<float> moved = controls;
            moved[controlPosition(host, distance)] *= factor;
            const double t30 = analyze(render(kRate, moved, impulse, tail), kRate).t30;
            r.distanceShift = std::max(r.distanceShift, std::fabs(t30 / r.impulse.t30 - 1.0));
        }
    r.wetGainDb = r.peakDb[0] = r.peakDb[1] = NAN;
    if (material.empty())
        return r;
    const auto energy = [](const std::vector<std::vector<float>>& out) { return energyOf(out[0]) + energyOf(out[1]); };
    r.wetGainDb = db(energy(render(kRate, controls, material, size_t(4 * kRate))) / 2.0 / energyOf(material));
    std::vector<float> loud(material);
    const float scale = kMinus6dB / peak(material);
    for (float& v : loud)
        v *= scale;
    for (int m = 0; m < 2; ++m) {
        controls[mix] = m ? 100.0f : 50.0f;
        const std::vector<std::vector<float>> out = render(kRate, controls, loud, size_t(4 * kRate));
        r.peakDb[m] = 20.0 * std::log10(std::max(peak(out[0]), peak(out[1])));
    }
    return r;
}

std::vector<Miss> missedTargets(const SettingReport& r, Kind kind, double flutterLimit)
{
    const Analysis& a = r.impulse;
    std::vector<Miss> missed;
    const auto hold = [&](bool kept, const char* target, const std::string& reached,
                          std::initializer_list<const char*> words) {
        if (!kept)
            missed.push_back({target, reached, std::vector<std::string>(words.begin(), words.end())});
    };
    // An effect that rings for less than 0.1 s has no tail to hold to them.
    if (kind == Kind::Effect && !(a.t30 >= 0.1)) {
        hold(false, "tail", "T30 " + fixed(a.t30, 2) + " s", {"no feedback", "no tail"});
        return missed;
    }
    const double longer = std::max(a.channelT30[0], a.channelT30[1]), shorter = std::min(a.channelT30[0], a.channelT30[1]);
    hold(longer <= 1.1 * shorter, "channels' T30", fixed(longer, 2) + " / " + fixed(shorter, 2) + " s",
         {"channel", "left", "right"});
    hold(std::fabs(a.lateBalanceDb) <= 3.0, "late balance", fixed(a.lateBalanceDb, 1) + " dB",
         {"channel", "left", "right"});
    const double worst = std::max(a.coloration[0].worstDb, a.coloration[1].worstDb);
    const int over10 = std::max(a.coloration[0].peaks10, a.coloration[1].peaks10);
    hold(worst <= 12.0 && over10 <= (kind == Kind::Room ? 2 : 0), "tail peaks",
         fixed(worst, 1) + " dB, " + std::to_string(over10) + " over 10 dB", {"metallic", "colour", "ring"});
    const double bass = std::max(a.bassRatio[0], a.bassRatio[1]);
    hold(bass <= 1.3, "bass ratio", fixed(bass, 2), {"bass"});
    const double wobble = std::max(r.wobbleCents[0], r.wobbleCents[1]);
    hold(wobble <= 8.0, "wobble", fixed(wobble, 1) + " cents", {"wobble", "chorus", "vibrato", "detune"});
    hold(r.distanceShift <= 0.1, "T30 at a distance ±2 %", fixed(100 * r.distanceShift, 0) + " %",
         {"distance"});
    hold(a.densityReach09 <= (kind == Kind::Room ? 0.15 : 0.3), "density", fixed(1000 * a.densityReach09, 0) + " ms",
         {"echo", "repeat", "grain", "sparse"});
    hold(a.undelayedDb <= -10.0, "undelayed", fixed(a.undelayedDb, 1) + " dB", {"undelayed"});
    hold(a.flutter <= flutterLimit, "flutter", fixed(a.flutter, 2), {"echo", "repeat", "flutter"});
    hold(std::fabs(a.tailCorrelation) < 0.2, "tail ρ", fixed(a.tailCorrelation, 2), {"mono", "narrow"});
    return missed;
}

std::vector<float> readMaterial(const std::string& path)
{
    const soundtool::Sound sound = soundtool::readSound(path);
    if (sound.rate != kRate)
        throw std::runtime_error(path + " is not at 48 kHz");
    std::vector<float> mono = soundtool::mixDown(sound);
    if (peak(mono) == 0.0f)
        throw std::runtime_error(path + " is silent");
    return mono;
}
