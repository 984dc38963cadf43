// The editor's parts without a display: how its controls map the travel of
// a knob onto each port and show the value, and the preview, which must be
// exactly what the plug-in plays and what the analysis tool measures.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <cmath>
#include <string>
#include <thread>

#include "Harness.h"
#include "tools/analyze/Analysis.h"
#include "ui/ControlScale.h"
#include "ui/Preview.h"

namespace {

std::string shown(uint32_t port, float value)
{
    char text[32];
    formatValue(kPorts[port], value, text, sizeof text);
    return text;
}

TEST(EditorControls, TravelFollowsEachPortsScale)
{
    for (uint32_t p = kFirstControlPort; p < kPortCount; ++p) {
        const PortInfo& port = kPorts[p];
        SCOPED_TRACE(port.symbol);
        EXPECT_EQ(valueAtTravel(port, 0.0), port.minimum);
        EXPECT_EQ(valueAtTravel(port, 1.0), port.maximum);
        EXPECT_EQ(valueAtTravel(port, -3.0), port.minimum);
        EXPECT_EQ(valueAtTravel(port, 7.0), port.maximum);
        EXPECT_NEAR(valueAtTravel(port, travelOf(port, port.fallback)), port.fallback, 1e-4 * port.maximum);
        const float middle = valueAtTravel(port, 0.5);
        switch (port.scale) {
        case PortScale::Logarithmic: EXPECT_NEAR(middle, std::sqrt(port.minimum * port.maximum), 1e-3 * middle); break;
        case PortScale::Linear: EXPECT_FLOAT_EQ(middle, (port.minimum + port.maximum) / 2); break;
        case PortScale::Integer:
        case PortScale::Toggle:
            for (double t = 0; t <= 1; t += 0.01)
                EXPECT_EQ(valueAtTravel(port, t), std::round(valueAtTravel(port, t))) << t;
            break;
        }
        // A NaN from the host shows the default.
        EXPECT_EQ(clampToPort(port, NAN), clampToPort(port, port.fallback));
    }
}

TEST(EditorControls, StepsStayInRangeAndFineStepsAreSmaller)
{
    for (uint32_t p = kFirstControlPort; p < kPortCount; ++p) {
        const PortInfo& port = kPorts[p];
        SCOPED_TRACE(port.symbol);
        EXPECT_EQ(stepBy(port, port.maximum, 1, false), port.scale == PortScale::Toggle ? 0 : port.maximum);
        EXPECT_EQ(stepBy(port, port.minimum, -1, false), port.scale == PortScale::Toggle ? 1 : port.minimum);
        const float up = stepBy(port, port.fallback, 1, false), fineUp = stepBy(port, port.fallback, 1, true);
        if (port.scale == PortScale::Integer) {
            EXPECT_EQ(up, port.fallback == port.maximum ? port.maximum : port.fallback + 1);
        }
        if (port.scale == PortScale::Linear || port.scale == PortScale::Logarithmic) {
            EXPECT_GT(up, fineUp);
            EXPECT_GT(fineUp, port.fallback);
            EXPECT_NEAR(travelOf(port, up) - travelOf(port, port.fallback), 0.01, 1e-4);
        }
    }
}

// Each default as the README's table of controls writes it (its rows read
// "| 5 | `decay` | Decay | 0 – 10000 ms | 1190 ms | ...").
TEST(EditorControls, ValuesReadAsTheReadmeWritesThem)
{
    std::ifstream readme(STREUWOLKE_README);
    ASSERT_TRUE(readme) << STREUWOLKE_README;
    std::string line, written[kPortCount];
    while (std::getline(readme, line)) {
        unsigned port;
        if (std::sscanf(line.c_str(), "| %u |", &port) != 1 || port < kFirstControlPort || port >= kPortCount ||
            line.find(std::string("| `") + kPorts[port].symbol + "` |") == std::string::npos)
            continue;
        size_t bar = 0;
        for (int column = 0; column < 4 && bar != std::string::npos; ++column)
            bar = line.find('|', bar + 1);
        const size_t end = line.find('|', bar + 1);
        if (bar != std::string::npos && end != std::string::npos)
            written[port] = line.substr(bar + 2, end - bar - 3);
    }
    for (uint32_t p = kFirstControlPort; p < kPortCount; ++p)
        EXPECT_EQ(shown(p, kPorts[p].fallback), written[p]) << kPorts[p].symbol;
    EXPECT_EQ(shown(kPortParallel, 1), "on");
    EXPECT_EQ(shown(kPortDecay, 1234.56f), "1235 ms");
    EXPECT_EQ(shown(kPortMaxDistance, 17.3f), "17.3 m");
    EXPECT_EQ(shown(kPortLines, 100), "8 lines");
}

// The picture is the plug-in's own response, sample for sample, as a host
// would get it at mix 100 % from a fresh instance, and its figures are the
// analysis tool's.
TEST(EditorPreview, IsWhatThePluginPlaysAndTheToolMeasures)
{
    support::LogFile log;  // instances read the log switch
    ControlValues settings = defaultControls();
    for (int round = 0; round < 2; ++round) {
        if (round == 1)
            settings[kPortLines] = 3, settings[kPortParallel] = 1, settings[kPortSpread] = 60,
            settings[kPortDecay] = 2500, settings[kPortMix] = 20;
        SCOPED_TRACE(round);
        Preview preview;
        ASSERT_TRUE(makePreview(settings, 44100, preview));
        const size_t frames = size_t(std::lround(preview.seconds * 44100));
        std::vector<float> impulse(frames);
        impulse[0] = 1;
        support::Instance plugin(44100);
        for (uint32_t p = kFirstControlPort; p < kPortCount; ++p)
            plugin.controls[p] = settings[p];
        plugin.controls[kPortMix] = 100;
        const support::Stereo played = support::render(plugin, impulse, 256);

        const ImpulseResponse ir = renderImpulse(settings, 44100, frames);
        ASSERT_EQ(ir.left.size(), frames);
        for (size_t i = 0; i < frames; ++i) {
            ASSERT_TRUE(support::sameBits(ir.left[i], played.left[i])) << "left, frame " << i;
            ASSERT_TRUE(support::sameBits(ir.right[i], played.right[i])) << "right, frame " << i;
        }
        EXPECT_EQ(preview.lineCount, round == 0 ? 8u : 3u);
        for (int c = 0; c < 2; ++c) {
            const Analysis a = analyze({c == 0 ? played.left : played.right}, 44100);
            EXPECT_EQ(preview.figures[c].t30, a.t30);
            EXPECT_EQ(preview.figures[c].denseAt, a.densityReach09);
            EXPECT_EQ(preview.figures[c].undelayedDb, a.undelayedDb);
            EXPECT_TRUE(std::isfinite(a.t30));
        }
        // The lines' lengths on the time axis: the shortest and longest at
        // the two distances (330 m/s), the right bank skewed by the spread.
        EXPECT_NEAR(preview.lineSeconds[0][0], settings[kPortMinDistance] / 330, 0.001);
        if (round == 1) {
            EXPECT_GT(preview.lineSeconds[1][2], preview.lineSeconds[0][2]);
        }
    }
}

// A burst of requests ends in a preview of the last one; closing while a
// render runs waits for it and no longer.
TEST(EditorPreview, WorkerRendersTheLatestRequest)
{
    PreviewWorker worker(48000);
    ControlValues settings = defaultControls();
    for (float decay : {100.0f, 200.0f, 300.0f, 400.0f}) {
        settings[kPortDecay] = decay;
        worker.request(settings);
    }
    std::unique_ptr<Preview> got;
    for (int wait = 0; wait < 3000 && !(got && got->controls[kPortDecay] == 400.0f); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        worker.take(got);
    }
    ASSERT_TRUE(got);
    EXPECT_EQ(got->controls[kPortDecay], 400.0f);
    EXPECT_FALSE(worker.take(got));  // taken once
    settings[kPortDecay] = 5000;
    worker.request(settings);  // still rendering when the worker goes
}

} // namespace
