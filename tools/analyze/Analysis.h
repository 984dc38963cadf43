// Measures of a reverb's sound, taken from an impulse response or a render
// (mono or stereo): decay times, echo density, flutter, the colour and the
// stereo image of the tail, the undelayed part and the wet gain. Every
// transform runs on FFTW. Not thread-safe: FFTW's planner is shared.
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

constexpr int kOctaveBands = 7;
constexpr double kOctaveCentres[kOctaveBands] = {125, 250, 500, 1000, 2000, 4000, 8000};

// Narrow peaks of a channel's tail spectrum (the decay undone) above its
// running median over +-1/6 octave: runs of bins more than 6 dB above it,
// each counted once at its highest bin.
struct Coloration {
    int peaks6 = 0, peaks10 = 0;  // peaks more than 6 and more than 10 dB above the median
    double worstDb, worstHz;      // the highest peak (NaN without a tail)
};

// Times in seconds, levels in dB; NaN where a value cannot be measured.
struct Analysis {
    double rate = 0;
    size_t frames = 0;                         // the whole file, the remainder included
    int channels = 0;
    double t20, t30, edt;                      // from the decay curve of the energy summed over the channels
    double firstArrival;                       // the onset EDT starts at: the first moment within 20 dB of the loudest
    double octaveT30[kOctaveBands];            // T30 in the octave bands of kOctaveCentres
    double octaveLevelDb[kOctaveBands];        // each band's energy (summed channels) re the 1 kHz band's
    // Per channel (the second NaN for mono): T30 from the channel's own
    // decay curve, the octave bands' T30, and the bass ratio, T30 at 125 Hz
    // over T30 at 1 kHz.
    double channelT30[2];
    double channelOctaveT30[2][kOctaveBands];
    double bassRatio[2];
    double lateBalanceDb;                      // left over right energy where the summed decay curve is at -35..-50 dB
    Coloration coloration[2];                  // per channel
    std::vector<double> densityTime, density;  // echo density (Gaussian noise: 1), a value every 5 ms
    double densityReach09;                     // first time the density reaches 0.9
    double flutter, flutterLagMs;              // strongest periodicity of the decay-compensated envelope, and its lag
    double flatness;                           // spectral flatness of the tail: 0 a tone, near 1 white noise
    double tailCorrelation;                    // left against right over the tail (NaN for mono)
    double monoLossDb;                         // (L+R)/2 against the mean of L and R: 0 mono, -3 uncorrelated (NaN for mono)
    double undelayedDb;                        // the first 1 ms against the whole file
    double wetGainDb;                          // output (mean over channels) against the dry reference (NaN without one)
};

// The frames of a file that a caller keeps out of memory, after those it
// hands to analyze(): their number and each channel's energy (sum of
// squares) there. The decay curves, the undelayed part and the wet gain then
// refer to the whole file; the other measures see the frames handed over.
struct Remainder {
    size_t frames = 0;
    double energy[2] = {0.0, 0.0};
};

constexpr double kNoDryEnergy = std::numeric_limits<double>::quiet_NaN();

// One or two channels of equal length at `rate` Hz, and optionally the
// energy of the dry signal the file was rendered from. Throws
// std::invalid_argument for no channels, more than two, channels of unequal
// length or a rate that is not a positive number.
Analysis analyze(const std::vector<std::vector<float>>& channels, double rate, double dryEnergy = kNoDryEnergy,
                 const Remainder& rest = {});

// The pitch of a sustained sine of `hz` in a channel, in cents re `hz`, a
// value every 5 ms: its instantaneous frequency (the phase advance of the
// analytic signal, band-limited to half an octave either side, averaged over
// 20 ms windows, weighted by the signal's power). The first and last 50 ms
// are left out; empty for a signal shorter than 0.2 s.
constexpr double kPitchHopSeconds = 0.005;
std::vector<double> pitchTrackCents(const std::vector<float>& x, double rate, double hz);
// Its pitch wobble: the standard deviation of that track (NaN if empty).
double pitchWobbleCents(const std::vector<float>& x, double rate, double hz);

// The sum of squares, in double precision.
double energyOf(const std::vector<float>& x);

// Most of the energy arrived in the first millisecond: the response is
// mostly the input passed straight through, and its EDT is that spike's fall.
inline bool undelayedDominates(const Analysis& a) { return a.undelayedDb > -3.0103; }

// The Schroeder energy decay curve of the energy summed over `channels`
// (and the remainder's, which it reaches last), in dB re its start, one
// value per frame; -300 dB stands for no energy left.
std::vector<double> decayCurveDb(const std::vector<std::vector<float>>& channels, const Remainder& rest = {});
