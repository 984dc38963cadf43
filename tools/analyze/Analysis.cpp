// The measures of Analysis.h. Signals are handled in double precision; every
// transform is an FFTW real transform planned with FFTW_ESTIMATE (quick to
// plan, the same result on every run).
#include "Analysis.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>

namespace {

using Spectrum = std::vector<std::complex<double>>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;
constexpr double kFloorDb = -300.0;              // stands for "no energy"
constexpr double kLn1e6 = 13.815510557964274;    // ln(10^6): energy falls by e^-13.8 over a T60
constexpr double kErfcInvSqrt2 = 0.31731050786291415; // erfc(1/sqrt 2): share of Gaussian samples beyond 1 sigma

// 10 log10(a / b), floored at -300 dB; NaN when b holds no energy.
double dbRatio(double a, double b)
{
    if (!(b > 0))
        return kNaN;
    return std::max(10.0 * std::log10(a / b), kFloorDb);
}

size_t samples(double seconds, double rate) { return size_t(std::lround(seconds * rate)); }

// The smallest even 2^a 3^b 5^c at or above n: sizes FFTW transforms fast.
size_t fftSize(size_t n)
{
    size_t best = 2;
    while (best < n)
        best *= 2;
    for (size_t p3 = 1; p3 < best; p3 *= 3)
        for (size_t p35 = p3; p35 < best; p35 *= 5) {
            // Even: a real transform in place holds n + 2 values in its
            // n / 2 + 1 bins only when n is even.
            size_t m = 2 * p35;
            while (m < n)
                m *= 2;
            best = std::min(best, m);
        }
    return best;
}

// A buffer that holds either n real samples or their n/2 + 1 complex bins,
// so every transform runs in place.
struct FftBuffer {
    size_t n;
    Spectrum bins;
    explicit FftBuffer(size_t size) : n(size), bins(size / 2 + 1) {}
    double* real() { return reinterpret_cast<double*>(bins.data()); }
    fftw_complex* complex() { return reinterpret_cast<fftw_complex*>(bins.data()); }
    // Real samples to bins.
    void forward()
    {
        fftw_plan plan = fftw_plan_dft_r2c_1d(int(n), real(), complex(), FFTW_ESTIMATE);
        fftw_execute(plan);
        fftw_destroy_plan(plan);
    }
    // Bins to real samples, scaled back by 1/n.
    void inverse()
    {
        fftw_plan plan = fftw_plan_dft_c2r_1d(int(n), complex(), real(), FFTW_ESTIMATE);
        fftw_execute(plan);
        fftw_destroy_plan(plan);
        double* x = real();
        for (size_t i = 0; i < n; ++i)
            x[i] /= double(n);
    }
};

// The spectrum (n/2 + 1 bins) of x, zero-padded to n samples.
template <typename Sample>
Spectrum forward(const std::vector<Sample>& x, size_t n)
{
    FftBuffer b(n);
    std::fill_n(b.real(), n + 2, 0.0);
    std::copy_n(x.begin(), std::min(x.size(), n), b.real());
    b.forward();
    return std::move(b.bins);
}

using Channels = std::vector<std::vector<float>>;

// h^2 summed over the channels, frame by frame.
std::vector<double> energy(const Channels& channels)
{
    std::vector<double> e(channels.empty() ? 0 : channels[0].size(), 0.0);
    for (const auto& h : channels)
        for (size_t i = 0; i < e.size(); ++i)
            e[i] += double(h[i]) * double(h[i]);
    return e;
}

// Turns energies, frame by frame, into their Schroeder backward integral in
// dB re its start; `rest` is the energy after the last frame.
void toDecayCurve(std::vector<double>& e, double rest = 0.0)
{
    double sum = rest;
    for (size_t i = e.size(); i-- > 0;)
        e[i] = sum += e[i];
    const double total = sum;
    for (double& v : e)
        v = total > 0 ? dbRatio(v, total) : kFloorDb;
}

// The first frame where the decay curve is at or below `db`; its size if never.
size_t firstAtOrBelow(const std::vector<double>& edc, double db)
{
    return size_t(std::find_if(edc.begin(), edc.end(), [db](double v) { return v <= db; }) - edc.begin());
}

// The time to fall 60 dB along the least-squares line through the decay
// curve from its last frame at or above `upper` dB (and not before `onset`)
// to its first frame at or below `lower` dB; NaN when the curve does not
// reach `lower`.
double decayTime(const std::vector<double>& edc, double rate, double upper, double lower, size_t onset = 0)
{
    const size_t end = firstAtOrBelow(edc, lower);
    if (end >= edc.size())
        return kNaN;
    const size_t below = size_t(std::find_if(edc.begin(), edc.end(), [upper](double v) { return v < upper; }) -
                                edc.begin());
    const size_t begin = std::max(below > 0 ? below - 1 : 0, onset);
    if (end <= begin)
        return kNaN;
    const double n = double(end - begin + 1), meanT = 0.5 * double(begin + end) / rate;
    const double meanY = std::accumulate(edc.begin() + long(begin), edc.begin() + long(end) + 1, 0.0) / n;
    double sxy = 0.0, sxx = 0.0;
    for (size_t i = begin; i <= end; ++i) {
        const double dt = double(i) / rate - meanT;
        sxy += dt * (edc[i] - meanY);
        sxx += dt * dt;
    }
    const double slope = sxy / sxx; // dB per second
    return slope < 0 ? -60.0 / slope : kNaN;
}

// The energy of a channel band-limited to the octave around `centre`,
// frame by frame, added to `sum`: a zero-phase mask cos(pi/2 log2(f/centre))
// over two octaves, 3 dB down at the octave's edges (neighbouring bands add
// up to the whole power). The signal is padded by up to a second so the
// mask's ringing does not wrap around onto the tail.
void addOctaveBandEnergy(const Spectrum& spectrum, FftBuffer& band, double rate, double centre,
                         std::vector<double>& sum)
{
    for (size_t k = 0; k < spectrum.size(); ++k) {
        const double x = k == 0 ? -2.0 : std::log2(double(k) * rate / double(band.n) / centre);
        band.bins[k] = spectrum[k] * (std::fabs(x) < 1.0 ? std::cos(0.5 * kPi * x) : 0.0);
    }
    band.inverse();
    const double* h = band.real();
    for (size_t i = 0; i < sum.size(); ++i)
        sum[i] += h[i] * h[i];
}

void octaveDecayTimes(const Channels& channels, double rate, Analysis& a)
{
    const size_t frames = channels[0].size(), n = fftSize(frames + std::min(frames, samples(1.0, rate)));
    std::vector<Spectrum> spectra;
    for (const auto& h : channels)
        spectra.push_back(forward(h, n));
    FftBuffer band(n);
    std::vector<double> sum(frames), own(frames);
    double level[kOctaveBands];
    for (int b = 0; b < kOctaveBands; ++b) {
        a.octaveT30[b] = a.channelOctaveT30[0][b] = a.channelOctaveT30[1][b] = level[b] = kNaN;
        if (2.0 * kOctaveCentres[b] > 0.5 * rate) // the mask would reach past Nyquist
            continue;
        std::fill(sum.begin(), sum.end(), 0.0);
        for (size_t c = 0; c < spectra.size(); ++c) {
            std::fill(own.begin(), own.end(), 0.0);
            addOctaveBandEnergy(spectra[c], band, rate, kOctaveCentres[b], own);
            for (size_t i = 0; i < frames; ++i)
                sum[i] += own[i];
            toDecayCurve(own);
            a.channelOctaveT30[c][b] = decayTime(own, rate, -5.0, -35.0);
        }
        level[b] = std::accumulate(sum.begin(), sum.end(), 0.0);
        toDecayCurve(sum);
        a.octaveT30[b] = decayTime(sum, rate, -5.0, -35.0);
    }
    for (int b = 0; b < kOctaveBands; ++b)
        a.octaveLevelDb[b] = std::isnan(level[b]) ? kNaN : dbRatio(level[b], level[3]);
    for (int c = 0; c < 2; ++c)
        a.bassRatio[c] = a.channelOctaveT30[c][0] / a.channelOctaveT30[c][3];
}

// Abel and Huang's echo density in the Hann window w centred on frame c:
// the weighted share of samples beyond the window's rms, over the share a
// Gaussian has beyond its sigma.
double echoDensity(const std::vector<float>& h, const std::vector<double>& w, size_t c)
{
    const size_t first = c - w.size() / 2;
    double sw = 0.0, swh2 = 0.0;
    for (size_t i = 0; i < w.size(); ++i) {
        sw += w[i];
        swh2 += w[i] * double(h[first + i]) * double(h[first + i]);
    }
    const double sigma = std::sqrt(swh2 / sw);
    double beyond = 0.0;
    for (size_t i = 0; i < w.size(); ++i)
        beyond += std::fabs(h[first + i]) > sigma ? w[i] : 0.0;
    return beyond / sw / kErfcInvSqrt2;
}

// Echo density in 20 ms windows every 5 ms (centres from 10 ms, windows
// inside the file), the mean of the channels' values.
void densityCurve(const Channels& channels, double rate, Analysis& a)
{
    const size_t half = std::max<size_t>(1, samples(0.010, rate)), hop = std::max<size_t>(1, samples(0.005, rate));
    std::vector<double> w(2 * half + 1);
    for (size_t i = 0; i < w.size(); ++i) // sin^2 with its zeros just outside the window
        w[i] = std::pow(std::sin(kPi * double(i + 1) / double(w.size() + 1)), 2);
    a.densityReach09 = kNaN;
    for (size_t c = half; c + half < channels[0].size(); c += hop) {
        double sum = 0.0;
        for (const auto& h : channels)
            sum += echoDensity(h, w, c);
        a.densityTime.push_back(double(c) / rate);
        a.density.push_back(sum / double(channels.size()));
        if (std::isnan(a.densityReach09) && a.density.back() >= 0.9)
            a.densityReach09 = a.densityTime.back();
    }
}

// Periodicity of the energy envelope (smoothed over 1 ms, the decay undone
// with exp(13.8 t / T)) from 20 ms to where the decay curve passes -30 dB:
// the largest autocorrelation at lags of 2..100 ms (at most half the
// window), each lag normalised by the energies of the two parts it overlaps,
// so a short window does not favour short lags.
void flutter(const std::vector<double>& e, const std::vector<double>& edc, double decay, double rate, Analysis& a)
{
    a.flutter = a.flutterLagMs = kNaN;
    const size_t begin = samples(0.020, rate), end = firstAtOrBelow(edc, -30.0);
    if (end <= begin)
        return;
    const size_t w = end - begin, lagMin = std::max<size_t>(1, samples(0.002, rate));
    const size_t lagMax = std::min(samples(0.100, rate), w / 2);
    if (lagMax < lagMin)
        return;
    FftBuffer buffer(fftSize(2 * w)); // padded: a linear, not circular, autocorrelation
    double* x = buffer.real();
    std::fill_n(x, buffer.n + 2, 0.0);
    // The envelope: a centred running mean over `width` frames (shorter at
    // the file's edges), the decay undone, the mean taken out.
    const size_t width = std::max<size_t>(1, samples(0.001, rate));
    const double rise = std::isfinite(decay) ? kLn1e6 / decay : 0.0; // no measurable decay: nothing to undo
    size_t lo = 0, hi = 0;
    double running = 0.0, mean = 0.0;
    for (size_t i = begin; i < end; ++i) {
        const size_t from = i >= width / 2 ? i - width / 2 : 0, to = std::min(e.size(), from + width);
        for (; hi < to; ++hi)
            running += e[hi];
        for (; lo < from; ++lo)
            running -= e[lo];
        x[i - begin] = running / double(to - from) * std::exp(rise * double(i) / rate);
        mean += x[i - begin] / double(w);
    }
    // The energies of the first and last `lag` values, for the normalisation.
    std::vector<double> head(lagMax + 1, 0.0), tail(lagMax + 1, 0.0);
    double whole = 0.0;
    for (size_t i = 0; i < w; ++i) {
        x[i] -= mean;
        whole += x[i] * x[i];
    }
    for (size_t lag = 1; lag <= lagMax; ++lag) {
        head[lag] = head[lag - 1] + x[lag - 1] * x[lag - 1];
        tail[lag] = tail[lag - 1] + x[w - lag] * x[w - lag];
    }
    buffer.forward();
    for (auto& bin : buffer.bins)
        bin = std::norm(bin);
    buffer.inverse();
    const double* r = buffer.real();
    a.flutter = -1.0;
    for (size_t lag = lagMin; lag <= lagMax; ++lag) {
        const double norm = std::sqrt((whole - tail[lag]) * (whole - head[lag]));
        const double rho = norm > 0 ? r[lag] / norm : 0.0;
        if (rho > a.flutter) {
            a.flutter = rho;
            a.flutterLagMs = 1000.0 * double(lag) / rate;
        }
    }
}

// Spectral flatness of the tail frames [begin, end): the Welch average of
// Hann frames of 4096 (or the whole tail if shorter) with 50 % overlap, over
// channels too; the geometric over the arithmetic mean of its bins between
// 100 Hz and min(16 kHz, 0.45 rate).
double flatness(const Channels& channels, size_t begin, size_t end, double rate)
{
    const size_t frame = std::min<size_t>(4096, end - begin);
    std::vector<double> w(frame), power(frame / 2 + 1, 0.0);
    for (size_t i = 0; i < frame; ++i)
        w[i] = 0.5 - 0.5 * std::cos(2.0 * kPi * double(i) / double(frame));
    for (const auto& h : channels)
        for (size_t s = begin; s + frame <= end; s += frame / 2) {
            std::vector<double> x(frame);
            for (size_t i = 0; i < frame; ++i)
                x[i] = w[i] * h[s + i];
            const Spectrum bins = forward(x, frame);
            for (size_t k = 0; k < bins.size(); ++k)
                power[k] += std::norm(bins[k]);
        }
    const double binHz = rate / double(frame);
    const size_t lo = size_t(std::ceil(100.0 / binHz));
    const size_t hi = std::min(power.size() - 1, size_t(std::min(16000.0, 0.45 * rate) / binHz));
    if (hi <= lo)
        return kNaN;
    double logSum = 0.0, sum = 0.0;
    for (size_t k = lo; k <= hi; ++k) {
        logSum += std::log(power[k]);
        sum += power[k];
    }
    const double count = double(hi - lo + 1);
    return sum > 0 ? std::exp(logSum / count) / (sum / count) : kNaN;
}

// Pearson correlation of l and r over [begin, end).
double correlation(const std::vector<float>& l, const std::vector<float>& r, size_t begin, size_t end)
{
    const double n = double(end - begin);
    const double ml = std::accumulate(l.begin() + long(begin), l.begin() + long(end), 0.0) / n;
    const double mr = std::accumulate(r.begin() + long(begin), r.begin() + long(end), 0.0) / n;
    double slr = 0.0, sll = 0.0, srr = 0.0;
    for (size_t i = begin; i < end; ++i) {
        const double dl = double(l[i]) - ml, dr = double(r[i]) - mr;
        slr += dl * dr;
        sll += dl * dl;
        srr += dr * dr;
    }
    return sll > 0 && srr > 0 ? slr / std::sqrt(sll * srr) : kNaN;
}

// Energy of (L+R)/2 against the mean of the L and R energies over [begin, end).
double monoLoss(const std::vector<float>& l, const std::vector<float>& r, size_t begin, size_t end)
{
    double mid = 0.0, sides = 0.0;
    for (size_t i = begin; i < end; ++i) {
        const double li = l[i], ri = r[i];
        mid += 0.25 * (li + ri) * (li + ri);
        sides += 0.5 * (li * li + ri * ri);
    }
    return dbRatio(mid, sides);
}

// The tail: from max(50 ms, where the decay curve passes -5 dB) to where it
// passes -35 dB (or the end). Shorter than 256 frames counts as no tail.
void tail(const Channels& channels, const std::vector<double>& edc, double rate, Analysis& a)
{
    a.flatness = a.tailCorrelation = a.monoLossDb = kNaN;
    const size_t begin = std::max(samples(0.050, rate), firstAtOrBelow(edc, -5.0));
    const size_t end = firstAtOrBelow(edc, -35.0);
    if (end < begin + 256)
        return;
    a.flatness = flatness(channels, begin, end, rate);
    if (channels.size() == 2) {
        a.tailCorrelation = correlation(channels[0], channels[1], begin, end);
        a.monoLossDb = monoLoss(channels[0], channels[1], begin, end);
    }
}

// The median of x[lo, hi).
double median(const std::vector<double>& x, size_t lo, size_t hi, std::vector<double>& scratch)
{
    scratch.assign(x.begin() + long(lo), x.begin() + long(hi));
    const auto middle = scratch.begin() + long(scratch.size() / 2);
    std::nth_element(scratch.begin(), middle, scratch.end());
    return *middle;
}

// Narrow peaks of the channel's tail, from max(50 ms, -5 dB) to -45 dB of
// its own decay curve, the decay undone with its T30: the Welch average of
// Hann frames (a power of two, 1024..16384, at most a quarter of the tail, so
// at least seven frames at 50 % overlap keep decaying noise well below 6 dB
// over its median) against the running median over +-1/6 octave, from
// 100 Hz (higher where the median would span fewer than 7 bins) to
// min(16 kHz, 0.45 rate), where the median is within 40 dB of its highest.
Coloration coloration(const std::vector<float>& h, const std::vector<double>& edc, double t30, double rate)
{
    Coloration c;
    c.worstDb = c.worstHz = kNaN;
    const size_t begin = std::max(samples(0.050, rate), firstAtOrBelow(edc, -5.0));
    const size_t end = firstAtOrBelow(edc, -45.0);
    if (!std::isfinite(t30) || end <= begin || end - begin < 4 * 1024)
        return c;
    size_t frame = 1024;
    while (frame < 16384 && 2 * frame <= (end - begin) / 4)
        frame *= 2;
    const double rise = 0.5 * kLn1e6 / t30; // the amplitude's decay rate
    std::vector<double> w(frame), power(frame / 2 + 1, 0.0), x(frame);
    for (size_t i = 0; i < frame; ++i)
        w[i] = 0.5 - 0.5 * std::cos(2.0 * kPi * double(i) / double(frame));
    for (size_t s = begin; s + frame <= end; s += frame / 2) {
        for (size_t i = 0; i < frame; ++i)
            x[i] = w[i] * double(h[s + i]) * std::exp(rise * double(s + i) / rate);
        const Spectrum bins = forward(x, frame);
        for (size_t k = 0; k < bins.size(); ++k)
            power[k] += std::norm(bins[k]);
    }
    const double binHz = rate / double(frame), sixth = std::pow(2.0, 1.0 / 6.0);
    const size_t lo = size_t(std::ceil(std::max(100.0, 7.0 * binHz / (sixth - 1.0 / sixth)) / binHz));
    const size_t hi = std::min(power.size() - 2, size_t(std::min(16000.0, 0.45 * rate) / binHz));
    // The running median first: bins whose median lies more than 40 dB
    // under the highest one are far below the audible tail, left out.
    std::vector<double> scratch, medians(hi + 1, 0.0);
    double loudest = 0.0;
    for (size_t k = lo; k <= hi; ++k) {
        const size_t from = size_t(std::floor(double(k) / sixth)), to = size_t(std::ceil(double(k) * sixth)) + 1;
        medians[k] = median(power, from, std::min(to, power.size()), scratch);
        loudest = std::max(loudest, medians[k]);
    }
    double runTop = 0.0;
    bool inRun = false;
    for (size_t k = lo; k <= hi; ++k) {
        const double m = medians[k];
        const bool audible = m > 1e-4 * loudest && power[k] > 0;
        const double above = audible ? 10.0 * std::log10(power[k] / m) : 0.0;
        if (audible && !(above <= c.worstDb))
            c.worstDb = above, c.worstHz = double(k) * binHz;
        if (above > 6.0) {
            runTop = inRun ? std::max(runTop, above) : above;
            inRun = true;
        } else if (inRun) {
            inRun = false;
            c.peaks6 += 1;
            c.peaks10 += runTop > 10.0;
        }
    }
    if (inRun) {
        c.peaks6 += 1;
        c.peaks10 += runTop > 10.0;
    }
    return c;
}

// Per channel: T30 from the channel's own decay curve and the coloration of
// its tail; for stereo, the late balance of left against right (where the
// summed decay curve lies from -35 to -50 dB, past the T30 range).
void channelMeasures(const Channels& channels, const std::vector<double>& edc, const Remainder& rest, double rate,
                     Analysis& a)
{
    a.channelT30[1] = a.lateBalanceDb = kNaN;
    a.coloration[1] = Coloration{0, 0, kNaN, kNaN};
    for (size_t c = 0; c < channels.size(); ++c) {
        std::vector<double> own = energy({channels[c]});
        toDecayCurve(own, rest.energy[c]);
        a.channelT30[c] = decayTime(own, rate, -5.0, -35.0);
        a.coloration[c] = coloration(channels[c], own, a.channelT30[c], rate);
    }
    if (channels.size() != 2)
        return;
    const size_t begin = firstAtOrBelow(edc, -35.0), end = firstAtOrBelow(edc, -50.0);
    double left = 0.0, right = 0.0;
    for (size_t i = begin; i < end; ++i) {
        left += double(channels[0][i]) * double(channels[0][i]);
        right += double(channels[1][i]) * double(channels[1][i]);
    }
    a.lateBalanceDb = end > begin ? dbRatio(left, right) : kNaN;
}

void checkInput(const std::vector<std::vector<float>>& channels, double rate)
{
    if (channels.empty() || channels.size() > 2)
        throw std::invalid_argument("analysis takes one or two channels, not " + std::to_string(channels.size()));
    if (channels.size() == 2 && channels[0].size() != channels[1].size())
        throw std::invalid_argument("the two channels differ in length");
    if (!(rate > 0) || !std::isfinite(rate))
        throw std::invalid_argument("the sample rate must be a positive number");
}

} // namespace

double energyOf(const std::vector<float>& x)
{
    double sum = 0.0;
    for (float v : x)
        sum += double(v) * double(v);
    return sum;
}

std::vector<double> decayCurveDb(const std::vector<std::vector<float>>& channels, const Remainder& rest)
{
    std::vector<double> edc = energy(channels);
    toDecayCurve(edc, rest.energy[0] + rest.energy[1]);
    return edc;
}

Analysis analyze(const std::vector<std::vector<float>>& channels, double rate, double dryEnergy, const Remainder& rest)
{
    checkInput(channels, rate);
    Analysis a;
    a.rate = rate;
    a.frames = channels[0].size() + rest.frames;
    a.channels = int(channels.size());
    const double restEnergy = rest.energy[0] + rest.energy[1];
    // The octave bands first: their transforms need the most memory, and
    // nothing else is held yet.
    octaveDecayTimes(channels, rate, a);

    std::vector<double> edc = energy(channels);
    // The first millisecond: what an allpass passes straight through.
    const size_t first = std::min(channels[0].size(), std::max<size_t>(1, samples(0.001, rate)));
    const double total = std::accumulate(edc.begin(), edc.end(), restEnergy);
    a.undelayedDb = dbRatio(std::accumulate(edc.begin(), edc.begin() + long(first), 0.0), total);
    // Output energy, the mean over channels, against the dry input's.
    a.wetGainDb = std::isnan(dryEnergy) ? kNaN : dbRatio(total / double(a.channels), dryEnergy);
    // The onset, as room acoustics takes it (ISO 3382-1): the first frame
    // within 20 dB of the loudest. Whatever comes before is no decay.
    const double loudest = *std::max_element(edc.begin(), edc.end());
    const size_t onset = size_t(std::find_if(edc.begin(), edc.end(), [&](double v) { return v >= 0.01 * loudest; }) -
                                edc.begin());
    a.firstArrival = double(onset) / rate;
    const std::vector<double> e = edc;
    toDecayCurve(edc, restEnergy);

    a.t20 = decayTime(edc, rate, -5.0, -25.0); // 20 dB of fit, times 3
    a.t30 = decayTime(edc, rate, -5.0, -35.0); // 30 dB of fit, times 2
    // EDT: the first 10 dB of the decay curve taken from the onset on, times 6.
    const double atOnset = onset < edc.size() ? edc[onset] : kFloorDb;
    a.edt = decayTime(edc, rate, atOnset, atOnset - 10.0, onset);
    densityCurve(channels, rate, a);
    const double decay = std::isfinite(a.t30) ? a.t30 : std::isfinite(a.t20) ? a.t20 : a.edt;
    flutter(e, edc, decay, rate, a);
    tail(channels, edc, rate, a);
    channelMeasures(channels, edc, rest, rate, a);
    return a;
}

std::vector<double> pitchTrackCents(const std::vector<float>& x, double rate, double hz)
{
    const size_t edge = samples(0.050, rate), window = std::max<size_t>(2, samples(0.020, rate));
    const size_t hop = std::max<size_t>(1, samples(kPitchHopSeconds, rate));
    std::vector<double> cents;
    if (x.size() < samples(0.2, rate) || !(hz > 0) || !(hz < 0.5 * rate / std::sqrt(2.0)))
        return cents;
    // The analytic signal of the band around the tone, zero-padded so the
    // transform does not wrap.
    const size_t n = fftSize(2 * x.size());
    Spectrum z = forward(x, n);
    z.resize(n, 0.0);
    for (size_t k = 0; k < n; ++k) {
        const double f = double(k) * rate / double(n);
        const bool inBand = k <= n / 2 && f >= hz / std::sqrt(2.0) && f <= hz * std::sqrt(2.0);
        z[k] = inBand ? 2.0 * z[k] : 0.0;
    }
    fftw_plan plan = fftw_plan_dft_1d(int(n), reinterpret_cast<fftw_complex*>(z.data()),
                                      reinterpret_cast<fftw_complex*>(z.data()), FFTW_BACKWARD, FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    // Each window's power-weighted phase advance per sample: the argument
    // of the sum of z[i] conj(z[i-1]).
    for (size_t start = edge + 1; start + window + edge <= x.size(); start += hop) {
        std::complex<double> sum = 0.0;
        for (size_t i = start; i < start + window; ++i)
            sum += z[i] * std::conj(z[i - 1]);
        cents.push_back(std::abs(sum) > 0 ? 1200.0 * std::log2(std::arg(sum) * rate / (2.0 * kPi) / hz) : 0.0);
    }
    return cents;
}

double pitchWobbleCents(const std::vector<float>& x, double rate, double hz)
{
    const std::vector<double> cents = pitchTrackCents(x, rate, hz);
    if (cents.size() < 2)
        return kNaN;
    const double mean = std::accumulate(cents.begin(), cents.end(), 0.0) / double(cents.size());
    double squares = 0.0;
    for (double c : cents)
        squares += (c - mean) * (c - mean);
    return std::sqrt(squares / double(cents.size()));
}
