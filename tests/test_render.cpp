// Presets through lilv's state API, and the render tool against lv2apply.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "Host.h"
#include "Harness.h"

namespace {

const double kRate = 48000.0;
const float kMinus12dB = 0.25118864f;

std::vector<float> impulse(size_t frames, float amplitude)
{
    std::vector<float> x(frames, 0.0f);
    x[0] = amplitude;
    return x;
}

// The largest magnitude of a[from..].
float peak(const std::vector<float>& a, size_t from = 0)
{
    float p = 0.0f;
    for (size_t i = from; i < a.size(); ++i)
        p = std::max(p, std::fabs(a[i]));
    return p;
}

// -12 dBFS material with a second of silence after each piece: an impulse,
// a white-noise burst, a 40 Hz..8 kHz sine sweep and a decaying plucked chord.
std::vector<float> testMaterial()
{
    std::vector<float> x, gap(48000, 0.0f);
    auto append = [&](std::vector<float> piece) {
        const float top = peak(piece);
        for (float& v : piece)
            x.push_back(v * kMinus12dB / top);
        x.insert(x.end(), gap.begin(), gap.end());
    };
    append(impulse(1, 1.0f));
    append(support::whiteNoise(14400, 1.0f, 1));
    std::vector<float> sweep(96000), pluck(72000);
    double phase = 0.0;
    for (size_t i = 0; i < sweep.size(); ++i) {
        phase += 2 * M_PI * 40.0 * std::pow(200.0, double(i) / sweep.size()) / kRate;
        sweep[i] = float(std::sin(phase));
    }
    for (size_t i = 0; i < pluck.size(); ++i)
        for (double f : {130.8, 164.8, 196.0})
            for (int h = 1; h <= 8; ++h)
                pluck[i] += float(std::exp(-double(i) * h / 12000.0) * std::sin(2 * M_PI * f * h * i / kRate) / h);
    append(sweep);
    append(pluck);
    return x;
}

std::vector<float> withPreset(Host& host, const Preset& preset, float mix)
{
    std::vector<float> values = host.defaults();
    for (const auto& [position, value] : host.presetValues(preset))
        values[position] = value;
    values[host.findControl("mix") - host.controls().data()] = mix;
    return values;
}

double rmsDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += (a[i] - b[i]) * double(a[i] - b[i]);
    return std::sqrt(sum / a.size());
}

double rms(const std::vector<float>& a)
{
    return rmsDifference(a, std::vector<float>(a.size(), 0.0f));
}

TEST(Presets, SetEveryControlButTheMixWithinRange)
{
    Host host(STREUWOLKE_TEST_BUNDLE);
    ASSERT_GE(host.presets().size(), 6u);
    ASSERT_LE(host.presets().size(), 10u);
    for (const Preset& preset : host.presets()) {
        SCOPED_TRACE(preset.uri);
        EXPECT_EQ(preset.uri.rfind("https://plonkbrett.org/presets/", 0), 0u);
        EXPECT_FALSE(preset.label.empty());
        std::vector<int> seen(host.controls().size(), 0);
        for (const auto& [position, value] : host.presetValues(preset)) {
            const Control& c = host.controls()[position];
            ++seen[position];
            EXPECT_GE(value, c.min) << c.symbol;
            EXPECT_LE(value, c.max) << c.symbol;
        }
        for (size_t i = 0; i < seen.size(); ++i)
            EXPECT_EQ(seen[i], host.controls()[i].symbol == "mix" ? 0 : 1) << host.controls()[i].symbol;
    }
}

// Each preset reaches the ports: its impulse response differs clearly from
// the defaults' and from every other preset's.
TEST(Presets, EachSoundsDifferent)
{
    Host host(STREUWOLKE_TEST_BUNDLE);
    std::vector<float> defaults = host.defaults();
    defaults[host.findControl("mix") - host.controls().data()] = 100.0f;
    std::vector<std::vector<float>> responses{render(host, kRate, defaults, impulse(1, 1.0f), 96000)};
    for (const Preset& preset : host.presets())
        responses.push_back(render(host, kRate, withPreset(host, preset, 100.0f), impulse(1, 1.0f), 96000));
    for (size_t i = 0; i < responses.size(); ++i)
        for (size_t j = 0; j < i; ++j) {
            const std::string a = i ? host.presets()[i - 1].label : "defaults";
            const std::string b = j ? host.presets()[j - 1].label : "defaults";
            EXPECT_GT(rmsDifference(responses[i], responses[j]),
                      0.3 * std::max(rms(responses[i]), rms(responses[j])))
                << a << " vs " << b;
        }
}

TEST(Presets, NeverClipMinus12dBFS)
{
    Host host(STREUWOLKE_TEST_BUNDLE);
    const std::vector<float> material = testMaterial();
    for (const Preset& preset : host.presets())
        for (float mix : {100.0f, 50.0f}) {
            const std::vector<float> out = render(host, kRate, withPreset(host, preset, mix), material, 0);
            EXPECT_LT(peak(out), 1.0f) << preset.label << " at mix " << mix;
        }
}

// Energy of one channel of interleaved stereo, frames [from, to), that lies
// more than 60 cents away from 1 kHz: Hann-windowed frames of 4096 (hop
// 2048), their whole energy less that of the bins within the band.
double offPitchEnergy(const std::vector<float>& stereo, int channel, size_t from, size_t to)
{
    constexpr size_t kFrame = 4096, kHop = 2048;
    const double cents = std::pow(2.0, 60.0 / 1200.0);
    const size_t low = size_t(std::ceil(1000.0 / cents * kFrame / kRate));
    const size_t high = size_t(std::floor(1000.0 * cents * kFrame / kRate));
    double off = 0.0;
    std::vector<double> x(kFrame);
    for (size_t start = from; start + kFrame <= to; start += kHop) {
        double total = 0.0;
        for (size_t n = 0; n < kFrame; ++n) {
            const double w = 0.5 - 0.5 * std::cos(2 * M_PI * double(n) / kFrame);
            x[n] = w * stereo[2 * (start + n) + channel];
            total += x[n] * x[n];
        }
        double band = 0.0;
        for (size_t k = low; k <= high; ++k) {
            double re = 0.0, im = 0.0;
            for (size_t n = 0; n < kFrame; ++n) {
                const double phase = 2 * M_PI * double(k * n % kFrame) / kFrame;
                re += x[n] * std::cos(phase);
                im -= x[n] * std::sin(phase);
            }
            band += 2 * (re * re + im * im) / kFrame;  // the bin and its mirror
        }
        off += total - band;
    }
    return off;
}

// A freshly loaded instance starts at its lengths and mix: a 1 kHz tone
// from the first sample on is no more off pitch in its first four seconds than in
// the next four (where every line has long reached its length), and a
// wet-only setting lets no dry signal through from the first frame on.
TEST(Presets, FreshInstanceStartsAtItsSettings)
{
    Host host(STREUWOLKE_TEST_BUNDLE);
    const size_t mix = host.findControl("mix") - host.controls().data();
    // The tone rises over its first 100 ms, so neither it nor its echoes
    // start with a click, whose spectrum would be off pitch too.
    std::vector<float> tone(size_t(8 * kRate));
    const size_t rise = size_t(0.1 * kRate);
    for (size_t i = 0; i < tone.size(); ++i) {
        const double fade = i < rise ? 0.5 - 0.5 * std::cos(M_PI * double(i) / rise) : 1.0;
        tone[i] = kMinus12dB * float(fade * std::sin(2 * M_PI * 1000.0 * double(i) / kRate));
    }
    // Input beyond 1e30 reaches the dry path only (the network takes it for
    // silence), so these frames show the dry gain alone.
    const std::vector<float> beyond(48, 3e30f);
    std::vector<std::vector<float>> settings{host.defaults()};
    for (const Preset& preset : host.presets())
        settings.push_back(withPreset(host, preset, 50.0f));
    for (size_t i = 0; i < settings.size(); ++i) {
        const std::string name = i ? host.presets()[i - 1].label : "defaults";
        std::vector<float> wet = settings[i];
        wet[mix] = 100.0f;
        for (const std::vector<float>* controls : {&settings[i], &wet}) {
            const std::vector<float> out = render(host, kRate, *controls, tone, 0);
            for (int channel = 0; channel < 2; ++channel) {
                const double early = offPitchEnergy(out, channel, 0, tone.size() / 2);
                const double late = offPitchEnergy(out, channel, tone.size() / 2, tone.size());
                EXPECT_LE(early, 2.0 * late) << name << " at mix " << (*controls)[mix] << ", channel " << channel
                                             << ": " << 10 * std::log10(early / late) << " dB";
            }
        }
        EXPECT_LT(peak(render(host, kRate, wet, beyond, 0)), 1e-6f * 3e30f) << name;
    }
}

// Recalling one preset and then another, as a host does from its preset
// menu, ends at the second preset's lengths: the lengths a fresh instance
// takes for it. The log shows them, as a decay step logs every line.
TEST(Presets, RecallOneAfterAnotherEndsAtTheLastOnesLengths)
{
    constexpr double kRate96 = 96000;
    Host host(STREUWOLKE_TEST_BUNDLE);
    support::LogFile log;
    std::vector<float> silence(size_t(8 * kRate96)), left(silence.size()), right(silence.size());
    auto lengthsAfterDecayStep = [&](Processor& processor, std::vector<float> controls) {
        controls[host.findControl("decay") - host.controls().data()] += 1.0f;
        processor.setControls(controls);
        const size_t before = log.text().size();
        processor.process(silence.data(), left.data(), right.data(), 16);
        std::istringstream lines(log.text().substr(before));
        std::vector<std::string> sizes;
        for (std::string line; std::getline(lines, line);)
            sizes.push_back(line.substr(line.find("sz:")));
        return sizes;
    };
    const std::vector<float> hall = withPreset(host, *host.findPreset("hall"), 50.0f);
    const std::vector<float> dark = withPreset(host, *host.findPreset("dark-wash"), 50.0f);
    log.switchOn("1\n");
    Processor recalled(host, kRate96, hall, 256);
    recalled.process(silence.data(), left.data(), right.data(), 256);
    recalled.setControls(dark);
    recalled.process(silence.data(), left.data(), right.data(), silence.size());
    const std::vector<std::string> reached = lengthsAfterDecayStep(recalled, dark);
    Processor fresh(host, kRate96, dark, 256);
    fresh.process(silence.data(), left.data(), right.data(), 256);
    EXPECT_EQ(reached.size(), 16u);
    EXPECT_EQ(reached, lengthsAfterDecayStep(fresh, dark));
}

// The command-line tool, run as a user would.
struct Sound {
    int rate = 0, channels = 0;
    std::vector<float> samples;
    size_t frames() const { return channels ? samples.size() / channels : 0; }
};

Sound readSound(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    Sound s;
    if (!f)
        return s;
    s.rate = info.samplerate;
    s.channels = info.channels;
    s.samples.resize(size_t(info.frames) * info.channels);
    sf_readf_float(f, s.samples.data(), info.frames);
    sf_close(f);
    return s;
}

void writeSound(const std::string& path, const std::vector<float>& samples, int rate, int channels)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(f) << path;
    sf_writef_float(f, samples.data(), sf_count_t(samples.size() / channels));
    sf_close(f);
}

class Tool : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/streuwolke-render-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(name));
        dir = name;
        std::vector<float> input = impulse(4800, 0.5f);
        for (size_t i = 100; i < 2000; ++i)
            input[i] = 0.2f * std::sin(0.05f * float(i)) * std::exp(-float(i) / 500.0f);
        writeSound(dir + "/in.wav", input, 44100, 1);
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // Runs a shell command in dir; returns its exit status, stderr in err.
    int run(const std::string& command)
    {
        const int status = std::system(("cd '" + dir + "' && " + command + " 2> err.txt").c_str());
        err = support::readFile(dir + "/err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Everything below dir but err.txt: its path, type and (for a file) size.
    std::vector<std::string> files() const
    {
        namespace fs = std::filesystem;
        std::vector<std::string> entries;
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
            const fs::file_type type = e.symlink_status().type();
            const std::string name = e.path().lexically_relative(dir);
            if (name != "err.txt")
                entries.push_back(name + " " + std::to_string(int(type)) + " " +
                                  (type == fs::file_type::regular ? std::to_string(e.file_size()) : ""));
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    std::string dir, err;
    const std::string tool = STREUWOLKE_RENDER_TOOL;
};

// Among the bad requests: rates no audio file has, and every way of making
// the output replace a file the run reads (the input by any name or link,
// the files of a bundle, copied here so the build's own stays whole).
TEST_F(Tool, RefusesBadRequestsWithOneLineAndNoOutput)
{
    std::ofstream(dir + "/text.wav") << "not a sound file\n";
    std::ofstream(dir + "/err.txt");
    writeSound(dir + "/fast.wav", std::vector<float>(16), 2000000000, 1);
    writeSound(dir + "/slow.wav", std::vector<float>(16), 7999, 1);
    ASSERT_EQ(link((dir + "/in.wav").c_str(), (dir + "/hard.wav").c_str()), 0);
    ASSERT_EQ(symlink("in.wav", (dir + "/soft.wav").c_str()), 0);
    ASSERT_EQ(symlink("nowhere.wav", (dir + "/dangling.wav").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo.wav").c_str(), 0644), 0);
    ASSERT_EQ(run("cp -r '" STREUWOLKE_TEST_BUNDLE "' bundle"), 0);
    const std::string input = support::readFile(dir + "/in.wav");
    const std::vector<std::string> before = files();
    const std::string cases[] = {
        "missing.wav out.wav",
        "text.wav out.wav",
        "fast.wav out.wav",
        "slow.wav out.wav",
        "in.wav out.wav --preset no-such-preset",
        "in.wav out.wav --set no_such_control=1",
        "in.wav out.wav --set mix=101",
        "in.wav out.wav --set lines=0",
        "in.wav out.wav --set decay=long",
        "in.wav out.wav --block 0",
        "in.wav missing-folder/out.wav",
        "in.wav in.wav",
        "in.wav ../" + dir.substr(dir.rfind('/') + 1) + "/in.wav",
        "in.wav hard.wav",
        "in.wav soft.wav",
        "soft.wav in.wav",
        "in.wav dangling.wav",
        "in.wav fifo.wav",
        "in.wav bundle/presets.ttl --bundle bundle",
        "in.wav bundle/libplonkbrett-streuwolke.so --bundle bundle --preset hall",
    };
    for (const std::string& args : cases) {
        EXPECT_NE(run(tool + " " + args + " --tail 0"), 0) << args;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << args << ": " << err;
        EXPECT_EQ(err.rfind("streuwolke-render: ", 0), 0u) << args << ": " << err;
        EXPECT_EQ(files(), before) << args << " changed or left a file";
        if (args.rfind("fast", 0) == 0) {
            EXPECT_NE(err.find("outside 8000..768000 Hz"), std::string::npos) << err;
        }
    }
    // Nor is the temporary output opened through a link that is in its way
    // (exec keeps the shell's pid, which names the temporary file).
    EXPECT_NE(run("ln -s in.wav out.wav.partial-$$ && exec " + tool + " in.wav out.wav"), 0);
    EXPECT_FALSE(support::pathExists((dir + "/out.wav").c_str()));
    EXPECT_EQ(support::readFile(dir + "/in.wav"), input);
}

// An output link is written through and stays a link; so is the standard
// output, redirected to a file.
TEST_F(Tool, WritesThroughLinks)
{
    std::ofstream(dir + "/target.wav") << "an older render\n";
    ASSERT_EQ(symlink("target.wav", (dir + "/link.wav").c_str()), 0);
    ASSERT_EQ(run(tool + " in.wav link.wav --tail 0"), 0) << err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.wav"));
    EXPECT_EQ(readSound(dir + "/target.wav").frames(), 4800u);
    ASSERT_EQ(run(tool + " in.wav /proc/self/fd/1 --tail 0 > piped.wav"), 0) << err;
    EXPECT_EQ(readSound(dir + "/piped.wav").frames(), 4800u);
}

// A file cut short renders what it holds, with a warning.
TEST_F(Tool, WarnsOfACutInput)
{
    const std::string whole = support::readFile(dir + "/in.wav");
    std::ofstream(dir + "/cut.wav", std::ios::binary) << whole.substr(0, whole.size() - 4 * 2400);
    ASSERT_EQ(run(tool + " cut.wav out.wav --tail 0"), 0) << err;
    EXPECT_NE(err.find("warning: cut.wav ends after 2400 frames, its header says 4800"), std::string::npos) << err;
    EXPECT_EQ(readSound(dir + "/out.wav").frames(), 2400u);
}

// An impulse of 1e29 under the longest decay stays above -90 dBFS for far
// more than 2^24 frames at 768 kHz: the automatic tail stops there.
TEST_F(Tool, BoundsTheAutomaticTailInFrames)
{
    std::vector<float> loud(16, 0.0f);
    loud[0] = 1e29f;
    writeSound(dir + "/loud.wav", loud, 768000, 1);
    ASSERT_EQ(run(tool + " loud.wav out.wav --set decay=10000 --set mix=100"), 0) << err;
    EXPECT_NE(err.find("tail cut after 21.8 s"), std::string::npos) << err;
    SF_INFO info{};
    sf_close(sf_open((dir + "/out.wav").c_str(), SFM_READ, &info));
    EXPECT_EQ(info.frames, 16 + (1 << 24));
}

TEST_F(Tool, KeepsTheTailAtTheInputRate)
{
    ASSERT_EQ(run(tool + " in.wav out.wav --preset Hall"), 0) << err;
    EXPECT_EQ(err, "");
    const Sound out = readSound(dir + "/out.wav");
    EXPECT_EQ(out.rate, 44100);
    EXPECT_EQ(out.channels, 2);
    ASSERT_GT(out.frames(), 4800u + 44100u);
    EXPECT_GT(peak(out.samples, 4800 * 2), 0.01f);
    EXPECT_LT(peak(out.samples, out.samples.size() - 2 * 22050), 3.2e-5f); // the last half second is below -90 dBFS

    // A stereo input is mixed down, with a note.
    writeSound(dir + "/stereo.wav", std::vector<float>(2 * 4800, 0.1f), 44100, 2);
    ASSERT_EQ(run(tool + " stereo.wav out2.wav --tail 1"), 0) << err;
    EXPECT_NE(err.find("mixed down to mono"), std::string::npos) << err;
    EXPECT_EQ(readSound(dir + "/out2.wav").frames(), 4800u + 44100u);
}

// The tool with one-frame blocks and no tail is a plain host: it agrees
// with lv2apply frame by frame, with the defaults and with a preset given as
// explicit control values to lv2apply.
TEST_F(Tool, AgreesWithLv2apply)
{
    Host host(STREUWOLKE_TEST_BUNDLE);
    const Preset& preset = host.presets().front();
    std::ostringstream controls;
    controls.precision(9);
    for (const auto& [position, value] : host.presetValues(preset))
        controls << " -c " << host.controls()[position].symbol << " " << value;
    const std::string lv2apply = "LV2_PATH=" STREUWOLKE_TEST_LV2_PATH " lv2apply -i in.wav -o ";
    const std::string uri = " https://plonkbrett.org/plugins/plonkbrett-streuwolke";
    ASSERT_EQ(run(lv2apply + "a.wav" + uri), 0) << err;
    ASSERT_EQ(run(lv2apply + "b.wav" + controls.str() + uri), 0) << err;
    const std::string ours = tool + " in.wav --block 1 --tail 0 ";
    ASSERT_EQ(run(ours + "c.wav"), 0) << err;
    ASSERT_EQ(run(ours + "d.wav --preset '" + preset.label + "'"), 0) << err;

    for (const auto& [theirs, mine] : {std::pair{"a.wav", "c.wav"}, std::pair{"b.wav", "d.wav"}}) {
        const Sound a = readSound(dir + "/" + theirs), b = readSound(dir + "/" + mine);
        ASSERT_EQ(a.channels, 2);
        ASSERT_EQ(a.samples.size(), b.samples.size()) << mine;
        size_t differing = 0;
        for (size_t i = 0; i < a.samples.size(); ++i)
            differing += std::fabs(a.samples[i] - b.samples[i]) > 1e-7f;
        EXPECT_EQ(differing, 0u) << mine;
        EXPECT_GT(rms(b.samples), 1e-3) << mine;
    }
}

TEST_F(Tool, ListsPresetsAndControls)
{
    ASSERT_EQ(run(tool + " --list > list.txt"), 0) << err;
    const std::string list = support::readFile(dir + "/list.txt");
    Host host(STREUWOLKE_TEST_BUNDLE);
    for (const Preset& p : host.presets())
        EXPECT_NE(list.find(p.label), std::string::npos) << p.label;
    for (const Control& c : host.controls())
        EXPECT_NE(list.find(c.symbol), std::string::npos) << c.symbol;
}

} // namespace
