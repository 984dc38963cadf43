// Construction values of the engine, its banks and lines, the instance
// ramps, the host rate hand-over, and the diagnostic log switch.
#include "test_units.h"

#include <climits>

namespace {

const float kLowpassPole = expf(12000.0f * (-6.2831855f / 48000.0f));
const float kHighpassPole = expf(20.0f * (-6.2831855f / 48000.0f));
constexpr float kIncrements[kMaxLines] = {4.1666666e-5f, 3.9062499e-5f, 3.6458332e-5f, 3.3854165e-5f,
    3.1249998e-5f, 2.8645833e-5f, 2.6041667e-5f, 2.3437500e-5f};

// Field values in record order; doubles hold every f32, u64 and bool exactly.
void expectFields(const char* record, std::initializer_list<std::pair<double, double>> fields)
{
    int i = 0;
    for (const auto& [actual, expected] : fields)
        EXPECT_EQ(actual, expected) << record << " field " << i++;
}

TEST(Spine, ConstructionValuesAndHostRate)
{
    EXPECT_NEAR(kLowpassPole, 0.2078796f, 1e-7);
    EXPECT_NEAR(kHighpassPole, 0.9973854f, 1e-7);
    for (float rate : {48000.0f, 44100.0f}) {
        SCOPED_TRACE(rate);
        const auto rig = makeRig(rate);
        const Engine& e = rig->engine;
        expectFields("engine", {{e.inputLowpassCoef, kLowpassPole}, {e.inputLowpassState, 0},
            {e.inputHighpassCoef, kHighpassPole}, {e.inputHighpassState, 0}, {e.sampleRate, rate}, {e.mix, 1},
            {e.dryGain, 1}, {e.wetGain, 1}});
        for (const LineBank* b : {&e.left, &e.right}) {
            expectFields("bank", {{b->sampleRate, rate}, {b->modDepthMin, 0}, {b->modDepthMax, 0},
                {b->modRateMin, 0.1f}, {b->modRateMax, 1.1f}, {b->minDistance, 2}, {b->maxDistance, 100},
                {b->curve, 1}, {b->spread, 0}, {b->count, 4}, {b->parallel, false}, {b->decayMs, 10}});
            for (uint64_t k = 0; k < kMaxLines; ++k) {
                SCOPED_TRACE(k);
                const DelayLine& l = b->lines[k];
                expectFields("line", {{l.lowpassCoef, kLowpassPole}, {l.lowpassState, 0},
                    {l.highpassCoef, kHighpassPole}, {l.highpassState, 0}, {l.sampleRate, rate}, {l.feedback, 0},
                    {l.readPos, 0}, {l.writeIndex, 0}, {l.decayMs, 100}, {l.length, 8000}, {l.targetLength, 0},
                    {l.pendingLength, 0}, {l.resizing, false}, {l.readSpeed, 1}, {l.writeGain, 1},
                    {l.modDepth, 15}, {l.lfoIncrement, kIncrements[k]}, {l.lfoPhase, 0}});
                EXPECT_TRUE(std::all_of(l.buffer, l.buffer + kRingSize + kGuardSlots, [](float v) { return v == 0; }));
            }
        }
    }
}

TEST(Spine, InstanceRampsStartJustOffTheirTargets)
{
    const auto rig = makeRig();
    const ParamRamp& m = rig->self.mixRamp;
    const ParamRamp& d = rig->self.decayRamp;
    EXPECT_EQ(m.target, fmaf(70.0f, 0.02f, -1.0f));
    expectFields("mixRamp", {{m.period, 3}, {m.counter, 0}, {m.target, 0.39999998f},
        {m.current, 0.9999f * 0.39999998f}, {m.step, 1}});
    expectFields("decayRamp", {{d.period, 1}, {d.counter, 0}, {d.target, 300}, {d.current, 0.9999f * 300.0f},
        {d.step, 200}});
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
        logFeedback(0.0215444f, 8000);
        if (c.kind == Regular && c.level >= 1)
            expected += "fdbk: 0.021544 sz: 8000\n";
        EXPECT_EQ(readFile(watched), expected);
        EXPECT_EQ(pathExists(kLogPath), c.kind != Absent);

        unlink(kLogPath);
        logFeedback(0.0215444f, 8000);
        EXPECT_FALSE(pathExists(kLogPath));
    }
}

} // namespace
