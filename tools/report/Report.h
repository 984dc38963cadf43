// What a setting of the plug-in sounds like, in numbers: its impulse
// response measured by streuwolke-analyze's measures, its wet gain on a
// piece of music and its peaks. Shared by streuwolke-report (the README's
// tables) and the test that holds the defaults and presets to their claims.
#pragma once

#include <string>
#include <vector>

#include "Analysis.h"
#include "Lv2Host.h"

// A preset's name says what it is: a reverb, a room (a reverb that is dense
// sooner) or an effect.
enum class Kind { Room, Reverb, Effect, Unnamed };
Kind kindOf(const std::string& label);
const char* kindName(Kind kind);

struct Setting {
    std::string name, label, comment;  // "defaults" and its label for the defaults
    std::vector<float> controls;       // in Plugin::controls() order, mix at its default
};

// The defaults and then every preset, each with every control filled in.
std::vector<Setting> settings(const Plugin& plugin);

struct SettingReport {
    Analysis impulse;        // response to a unit impulse at mix 100 %, 48 kHz
    std::vector<double> decayDb;  // its energy decay curve, one value per frame
    double wetGainDb;        // the material at mix 100 %: output energy (mean over channels) against the input's
    double peakDb[2];        // peak of the material normalised to -6 dBFS, at mix 50 and 100 %
};

SettingReport measure(const Plugin& plugin, const Setting& setting, const std::vector<float>& material);

// A mono sound file (a stereo one mixed down) at 48 kHz; throws
// std::runtime_error otherwise.
std::vector<float> readMaterial(const std::string& path);
