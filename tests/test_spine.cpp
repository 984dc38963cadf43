// A new engine at the host rate, and the diagnostic log switch.
#include "Harness.h"

#include <climits>

namespace {

// A new engine holds the construction settings: its first distribution
// runs at the host rate, and the first steps of its ramps apply the
// construction decay (to every line, active or not) and mix, as both start
// just off their targets. Its lines damp at 12 kHz and 20 Hz whatever the
// host rate, and no control changes that later.
TEST(Spine, NewEngineAppliesItsConstructionSettingsAtTheHostRate)
{
    for (float rate : {48000.0f, 44100.0f}) {
        SCOPED_TRACE(rate);
        const auto e = std::make_unique<Engine>();
        e->setSampleRate(rate);
        e->setLineCount(kConstructionSettings.lines);
        EXPECT_EQ(e->left.lines[0].length, rate == 48000.0f ? 293u : 269u);
        LogEvents& events = e->context.events;
        events.clear();
        e->stepRamps();  // the decay ramp steps at every sub-block
        EXPECT_EQ(e->context.decayMs, kConstructionSettings.decay);
        ASSERT_EQ(events.count, 2 * kMaxLines);
        for (uint32_t k = 0; k < events.count; ++k)
            EXPECT_EQ(events.feedback[k].feedback, feedbackForDecay(300.0f, rate, events.feedback[k].length)) << k;
        e->stepRamps();
        EXPECT_EQ(e->mix, 1.0f);  // the mix ramp steps at every third
        e->stepRamps();
        EXPECT_EQ(e->mix, mixPosition(kConstructionSettings.mix));
        for (const LineBank* b : {&e->left, &e->right})
            for (const DelayLine& l : b->lines) {
                EXPECT_NEAR(l.lowpassCoef, 0.2078796f, 1e-7);
                EXPECT_NEAR(l.highpassCoef, 0.9973854f, 1e-7);
            }
    }
}

// The log file decides the level; a link, a second name of another file or
// someone else's file at the path is never read or written through, and a
// deleted log stays deleted.
TEST(Spine, LogLevelAndAppendedLines)
{
    enum Kind { Absent, Regular, Link, HardLink, Foreign };
    struct Case { Kind kind; const char* text; int level; };
    const Case cases[] = {{Absent, "", 0}, {Regular, "2\n", 2}, {Regular, "0\n", 0}, {Regular, "-1\n", -1},
        {Regular, "", 1}, {Regular, "hello\n", 1}, {Regular, "999999999999\n", INT_MAX},
        {Regular, "2147483648\n", INT_MAX}, {Regular, "-99999999999\n", INT_MIN}, {Link, "2\n", 0},
        {HardLink, "2\n", 0}, {Foreign, "2\n", 0}};
    const std::string target = "/tmp/plonkbrett-units-target." + std::to_string(getpid());
    const auto logOneEvent = [] {
        LogEvents events;
        events.recordFeedback(0.0215444f, 8000);
        writeLogEvents(events);
        EXPECT_EQ(events.count, 0u);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " text " << c.text);
        LogFileGuard guard;
        struct Remove { const std::string& path; ~Remove() { unlink(path.c_str()); } } removeTarget{target};
        const bool viaTarget = c.kind == Link || c.kind == HardLink;
        if (c.kind != Absent)
            std::ofstream(viaTarget ? target : std::string(kLogPath)) << c.text;
        ASSERT_TRUE(c.kind != Link || symlink(target.c_str(), kLogPath) == 0);
        ASSERT_TRUE(c.kind != HardLink || link(target.c_str(), kLogPath) == 0);
        ASSERT_TRUE(c.kind != Foreign || chown(kLogPath, 65534, 65534) == 0) << "tests run as root";
        const char* watched = viaTarget ? target.c_str() : kLogPath;

        g_logLevel = 7;
        readLogLevel();
        EXPECT_EQ(g_logLevel, c.level);
        std::string expected = c.text;
        if (c.kind == Regular && c.level >= 0)
            expected += "### log is active now ### \n";
        EXPECT_EQ(readFile(watched), expected);

        if (c.kind != Regular)
            g_logLevel = 1;  // untouched even when the level admits the line
        logOneEvent();
        if (c.kind == Regular && c.level >= 1)
            expected += "fdbk: 0.021544 sz: 8000\n";
        EXPECT_EQ(readFile(watched), expected);
        EXPECT_EQ(pathExists(kLogPath), c.kind != Absent);

        unlink(kLogPath);
        logOneEvent();
        EXPECT_FALSE(pathExists(kLogPath));
    }
}

} // namespace
