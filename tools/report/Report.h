// What a setting of the plug-in sounds like, in numbers: its impulse
// response measured by streuwolke-analyze's measures, its wet gain on a
// piece of music and its peaks. Shared by streuwolke-report (the README's
// tables) and the test that holds the defaults and presets to their claims.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Analysis.h"
#include "Host.h"

// A preset's name says what it is: a reverb, a room (a reverb that is dense
// sooner) or an effect.
enum class Kind { Room, Reverb, Effect, Unnamed };
Kind kindOf(const std::string& label);
const char* kindName(Kind kind);

struct Setting {
    std::string name, label, comment;  // "defaults" and its label for the defaults
    std::vector<float> controls;       // in Host::controls() order, mix at its default
};

// The defaults and then every preset, each with every control filled in.
std::vector<Setting> settings(Host& host);

struct SettingReport {
    Analysis impulse;        // response to a unit impulse at mix 100 %, 48 kHz
    std::vector<double> decayDb;  // its energy decay curve, one value per frame
    double wetGainDb;        // the material at mix 100 %: output energy (mean over channels) against the input's
    double peakDb[2];        // peak of the material normalised to -6 dBFS, at mix 50 and 100 %
    double wobbleCents[2];   // per channel, a sustained 1 kHz tone at mix 100 % (kToneSeconds, the first kToneSettle left out)
    double distanceShift;    // the largest |T30 / T30 at the setting - 1| with either distance moved by +-2 %
};

// The sustained tone of the wobble: its level, length and the part left
// out while the reverb builds up.
constexpr double kToneHz = 1000.0;
constexpr float kToneLevel = 0.25f;
constexpr double kToneSeconds = 6.0, kToneSettle = 2.0;
std::vector<float> sustainedTone(double rate);
// The wobble of each channel of a render of sustainedTone() (a peer's too).
void toneWobble(const std::vector<std::vector<float>>& render, double rate, double cents[2]);

// Renders mono input at `rate` through a fresh instance with the controls
// (in Host::controls() order): left and right, the input's length plus
// `tailFrames`.
using Renderer = std::function<std::vector<std::vector<float>>(double rate, const std::vector<float>& controls,
                                                               const std::vector<float>& input, size_t tailFrames)>;
// Through the plug-in, loaded by lilv.
Renderer hostRenderer(Host& host);

// An empty `material` leaves the wet gain and the peaks NaN.
constexpr double kImpulseSeconds = 12.0;  // the longest preset falls by 60 dB within it
SettingReport measure(const Host& host, const Renderer& render, const Setting& setting,
                      const std::vector<float>& material, double impulseSeconds = kImpulseSeconds);

// A control's place in Host::controls().
size_t controlPosition(const Host& host, const char* symbol);

// The promises every reverb (the defaults, a room, a reverb) keeps, each
// with its name: those `r` misses, with what it reached. A preset that
// misses one says so in its description, the defaults miss none; an effect
// without a tail misses them all as one ("tail"). `flutterLimit` is
// Dragonfly Hall's flutter in the same run.
struct Miss {
    std::string target;               // its name in the README's table
    std::string reached;              // e.g. "14.2 dB"
    std::vector<std::string> words;   // a description that says so uses one of these
};
std::vector<Miss> missedTargets(const SettingReport& r, Kind kind, double flutterLimit);

// A mono sound file (a stereo one mixed down) at 48 kHz; throws
// std::runtime_error otherwise.
std::vector<float> readMaterial(const std::string& path);
