// Presets through lilv's state API, and the render tool against lv2apply.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "Host.h"
#include "TestSupport.h"

namespace {

const double kRate = 48000.0;
const size_t kSettle = 170000; // the lines' first glide is over by then
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
    std::vector<std::vector<float>> responses{render(host, kRate, defaults, impulse(1, 1.0f), kSettle, 96000)};
    for (const Preset& preset : host.presets())
        responses.push_back(render(host, kRate, withPreset(host, preset, 100.0f), impulse(1, 1.0f), kSettle, 96000));
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
            const std::vector<float> out = render(host, kRate, withPreset(host, preset, mix), material, kSettle, 0);
            EXPECT_LT(peak(out), 1.0f) << preset.label << " at mix " << mix;
        }
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

    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        DIR* d = opendir(dir.c_str());
        while (const dirent* e = readdir(d))
            names.emplace_back(e->d_name);
        closedir(d);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir, err;
    const std::string tool = STREUWOLKE_RENDER_TOOL;
};

TEST_F(Tool, RefusesBadRequestsWithOneLineAndNoOutput)
{
    std::ofstream(dir + "/text.wav") << "not a sound file\n";
    std::ofstream(dir + "/err.txt");
    const std::vector<std::string> before = files();
    const std::string cases[] = {
        "missing.wav out.wav",
        "text.wav out.wav",
        "in.wav out.wav --preset no-such-preset",
        "in.wav out.wav --set no_such_control=1",
        "in.wav out.wav --set mix=101",
        "in.wav out.wav --set lines=0",
        "in.wav out.wav --set decay=long",
        "in.wav out.wav --block 0",
        "in.wav missing-folder/out.wav",
    };
    for (const std::string& args : cases) {
        EXPECT_NE(run(tool + " " + args), 0) << args;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << args << ": " << err;
        EXPECT_EQ(err.rfind("streuwolke-render: ", 0), 0u) << args << ": " << err;
        EXPECT_EQ(files(), before) << args << " left a file behind";
    }
}

TEST_F(Tool, KeepsTheTailAtTheInputRate)
{
    ASSERT_EQ(run(tool + " in.wav out.wav --preset Hall"), 0) << err;
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

// The tool with one-frame blocks and no settling is a plain host: it agrees
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
    const std::string ours = tool + " in.wav --block 1 --settle 0 --tail 0 ";
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
