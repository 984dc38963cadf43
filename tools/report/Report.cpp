#include "Report.h"

#include "SoundTool.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <stdexcept>

namespace {

constexpr double kRate = 48000.0;
constexpr double kImpulseTail = 12.0;  // seconds: the longest preset falls by 60 dB within it
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

std::vector<Setting> settings(const Plugin& plugin)
{
    std::vector<Setting> all{{"defaults", "Defaults", "", plugin.defaults()}};
    for (const Preset& preset : plugin.presets()) {
        Setting s{preset.uri.substr(preset.uri.find_last_of('/') + 1), preset.label, preset.comment, plugin.defaults()};
        for (const auto& [position, value] : plugin.presetValues(preset))
            s.controls[position] = value;
        all.push_back(s);
    }
    return all;
}

SettingReport measure(const Plugin& plugin, const Setting& setting, const std::vector<float>& material)
{
    const size_t mix = size_t(plugin.findControl("mix") - plugin.controls().data());
    std::vector<float> controls = setting.controls;
    controls[mix] = 100.0f;
    SettingReport r;
    std::vector<float> impulse{1.0f};
    const std::vector<std::vector<float>> response = split(render(plugin, kRate, controls, impulse, size_t(kImpulseTail * kRate)));
    r.impulse = analyze(response, kRate);
    r.decayDb = decayCurveDb(response);

    double dry = 0.0, wet = 0.0;
    for (float v : material)
        dry += double(v) * v;
    const std::vector<float> out = render(plugin, kRate, controls, material, size_t(4 * kRate));
    for (float v : out)
        wet += double(v) * v;
    r.wetGainDb = db(wet / 2.0 / dry);

    std::vector<float> loud(material);
    const float scale = kMinus6dB / peak(material);
    for (float& v : loud)
        v *= scale;
    for (int m = 0; m < 2; ++m) {
        controls[mix] = m ? 100.0f : 50.0f;
        r.peakDb[m] = 20.0 * std::log10(peak(render(plugin, kRate, controls, loud, size_t(4 * kRate))));
    }
    return r;
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
