// Construction values of the engine, its banks and lines, the instance
// ramps, the host rate hand-over, and the diagnostic log switch.
#include "test_units.h"

#include <sys/stat.h>

#include "engine/Feedback.h"

namespace {

const float kLowpassPole = expf(12000.0f * (-6.2831855f / 48000.0f));
const float kHighpassPole = expf(20.0f * (-6.2831855f / 48000.0f));
constexpr float kIncrements[kMaxLines] = {4.1666666e-5f, 3.9062499e-5f, 3.6458332e-5f, 3.3854165e-5f,
    3.1249998e-5f, 2.8645833e-5f, 2.6041667e-5f, 2.3437500e-5f};

TEST(Spine, ConstructionValuesAndHostRate)
{
    EXPECT_NEAR(kLowpassPole, 0.2078796f, 1e-7);
    EXPECT_NEAR(kHighpassPole, 0.9973854f, 1e-7);
    for (float rate : {48000.0f, 44100.0f}) {
        const auto rig = makeRig(rate);
        const Engine& e = rig->engine;
        EXPECT_EQ(e.inputLowpassCoef, kLowpassPole);
        EXPECT_EQ(e.inputHighpassCoef, kHighpassPole);
        EXPECT_EQ(e.inputLowpassState, 0.0f);
        EXPECT_EQ(e.inputHighpassState, 0.0f);
        EXPECT_EQ(e.sampleRate, rate);
        EXPECT_EQ(e.mix, 1.0f);
        EXPECT_EQ(e.dryGain, 1.0f);
        EXPECT_EQ(e.wetGain, 1.0f);
        for (const LineBank* bank : {&e.left, &e.right}) {
            EXPECT_EQ(bank->sampleRate, rate);
            EXPECT_EQ(bank->modDepthMin, 0.0f);
            EXPECT_EQ(bank->modDepthMax, 0.0f);
            EXPECT_EQ(bank->modRateMin, 0.1f);
            EXPECT_EQ(bank->modRateMax, 1.1f);
            EXPECT_EQ(bank->minDistance, 2.0f);
            EXPECT_EQ(bank->maxDistance, 100.0f);
            EXPECT_EQ(bank->curve, 1.0f);
            EXPECT_EQ(bank->spread, 0.0f);
            EXPECT_EQ(bank->count, 4u);
            EXPECT_FALSE(bank->parallel);
            EXPECT_EQ(bank->decayMs, 10.0f);
            for (uint64_t k = 0; k < kMaxLines; ++k) {
                SCOPED_TRACE(k);
                const DelayLine& l = bank->lines[k];
                EXPECT_EQ(l.lowpassCoef, kLowpassPole);
                EXPECT_EQ(l.highpassCoef, kHighpassPole);
                EXPECT_EQ(l.lowpassState, 0.0f);
                EXPECT_EQ(l.highpassState, 0.0f);
                EXPECT_EQ(l.sampleRate, rate);
                EXPECT_EQ(l.feedback, 0.0f);
                EXPECT_EQ(l.readPos, 0.0f);
                EXPECT_EQ(l.writeIndex, 0u);
                EXPECT_EQ(l.decayMs, 100.0f);
                EXPECT_EQ(l.length, 8000u);
                EXPECT_EQ(l.targetLength, 0u);
                EXPECT_EQ(l.pendingLength, 0u);
                EXPECT_FALSE(l.resizing);
                EXPECT_EQ(l.readSpeed, 1.0f);
                EXPECT_EQ(l.writeGain, 1.0f);
                EXPECT_EQ(l.modDepth, 15.0f);
                EXPECT_EQ(l.lfoIncrement, kIncrements[k]);
                EXPECT_EQ(l.lfoPhase, 0.0f);
                EXPECT_EQ(std::count(l.buffer, l.buffer + kRingSize + kGuardSlots, 0.0f),
                    static_cast<long>(kRingSize + kGuardSlots));
            }
        }
    }
}

TEST(Spine, InstanceRampsStartJustOffTheirTargets)
{
    const auto rig = makeRig();
    const ParamRamp& mix = rig->self.mixRamp;
    const ParamRamp& decay = rig->self.decayRamp;
    EXPECT_EQ(mix.period, 3u);
    EXPECT_EQ(mix.counter, 0u);
    EXPECT_EQ(mix.target, 0.39999998f);
    EXPECT_EQ(mix.target, fmaf(70.0f, 0.02f, -1.0f));
    EXPECT_EQ(mix.current, 0.9999f * mix.target);
    EXPECT_EQ(mix.step, 1.0f);
    EXPECT_EQ(decay.period, 1u);
    EXPECT_EQ(decay.counter, 0u);
    EXPECT_EQ(decay.target, 300.0f);
    EXPECT_EQ(decay.current, 0.9999f * 300.0f);
    EXPECT_EQ(decay.step, 200.0f);
}

enum class LogKind { Absent, Regular, Link, Foreign };

struct LogCase {
    const char* name;
    LogKind kind;
    const char* text;
    int level;
};

const std::string kActive = "### log is active now ### \n";
const std::string kFeedbackLine = "fdbk: 0.021544 sz: 8000\n";

class LogSwitch : public testing::TestWithParam<LogCase> {
    LogFileGuard guard_;
};

TEST_P(LogSwitch, LevelAndAppendedLines)
{
    const LogCase& c = GetParam();
    const std::string target = "/tmp/plonkbrett-units-target." + std::to_string(getpid());
    if (c.kind == LogKind::Foreign && geteuid() != 0) {
        GTEST_SKIP() << "needs root to give the file away";
    }
    if (c.kind == LogKind::Link) {
        std::ofstream(target) << c.text;
        ASSERT_EQ(symlink(target.c_str(), kLogPath), 0);
    } else if (c.kind != LogKind::Absent) {
        std::ofstream(kLogPath) << c.text;
        if (c.kind == LogKind::Foreign) {
            ASSERT_EQ(chown(kLogPath, 65534, 65534), 0);
        }
    }
    const bool trusted = c.kind == LogKind::Regular;
    const char* watched = c.kind == LogKind::Link ? target.c_str() : kLogPath;

    g_logLevel = 7;
    readLogLevel();
    EXPECT_EQ(g_logLevel, c.level);
    std::string expected = c.kind == LogKind::Absent ? "" : c.text;
    if (trusted && c.level >= 0)
        expected += kActive;
    EXPECT_EQ(readFile(watched), expected);

    // An untrusted path stays untouched even when the level would admit the line.
    if (c.kind == LogKind::Link || c.kind == LogKind::Foreign)
        g_logLevel = 1;
    logFeedback(0.0215444f, 8000);
    if (trusted && c.level >= 1)
        expected += kFeedbackLine;
    EXPECT_EQ(readFile(watched), expected);
    if (c.kind == LogKind::Absent) {
        EXPECT_FALSE(pathExists(kLogPath));
    }
    unlink(target.c_str());
}

INSTANTIATE_TEST_SUITE_P(Units, LogSwitch,
    testing::Values(LogCase{"absent", LogKind::Absent, "", 0}, LogCase{"two", LogKind::Regular, "2\n", 2},
        LogCase{"zero", LogKind::Regular, "0\n", 0}, LogCase{"minusOne", LogKind::Regular, "-1\n", -1},
        LogCase{"empty", LogKind::Regular, "", 1}, LogCase{"text", LogKind::Regular, "hello\n", 1},
        LogCase{"symlink", LogKind::Link, "2\n", 0}, LogCase{"foreign", LogKind::Foreign, "2\n", 0}),
    [](const testing::TestParamInfo<LogCase>& info) { return std::string(info.param.name); });

} // namespace
