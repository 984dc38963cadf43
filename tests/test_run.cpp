// The run cycle: sub-blocks, the two ramps and the mix gains; and hostile
// control values thrown at a running instance.
#include "Harness.h"

#include <fenv.h>

#include <functional>
#include <random>
#include <sstream>

namespace {

// The decay time in force, and every line of both banks, active or not,
// with the feedback for it at its length.
void expectAllLinesDecay(const Engine& e, float ms)
{
    EXPECT_EQ(e.context.decayMs, ms);
    for (const LineBank* bank : {&e.left, &e.right})
        for (const DelayLine& line : bank->lines)
            EXPECT_EQ(line.feedback, feedbackForDecay(ms, e.context.sampleRate, line.length)) << ms;
}

// The first run, even an empty one, lands both ramps on their port values:
// a fresh instance starts at its settings. After it an empty run applies
// the ports but steps no ramp.
TEST(Run, FirstRunStartsAtThePortsAndEmptyRunsStepNoRamp)
{
    auto rig = makeRig();
    rig->run(0);
    EXPECT_EQ(std::count(rig->left, rig->left + kMaxBlock, kSentinel), kMaxBlock);
    EXPECT_EQ(std::count(rig->right, rig->right + kMaxBlock, kSentinel), kMaxBlock);
    EXPECT_EQ(rig->engine.left.lines[0].length, 293u);
    EXPECT_EQ(rig->engine.mixRamp.current, -2.2351742e-8f);
    EXPECT_EQ(rig->engine.mix, -2.2351742e-8f);
    EXPECT_NEAR(rig->engine.dryGain, 0.70710677f, 1e-6);
    expectAllLinesDecay(rig->engine, 300.0f);

    rig->control[kPortDecay] = 1000;
    rig->control[kPortMix] = 100;
    rig->run(0);
    EXPECT_EQ(rig->engine.decayRamp.target, 1000.0f);
    EXPECT_EQ(rig->engine.mixRamp.target, 0.99999994f);
    EXPECT_EQ(rig->engine.mixRamp.counter, 0u);
    EXPECT_EQ(rig->engine.decayRamp.counter, 0u);
    EXPECT_EQ(rig->engine.mixRamp.current, -2.2351742e-8f);
    expectAllLinesDecay(rig->engine, 300.0f);
}

TEST(Run, SubBlocksWriteExactlyTheFramesAndStepTheRamps)
{
    auto rig = makeRig();  // mix at 50 from the first call
    rig->run(20);
    for (uint32_t j = 0; j < kMaxBlock; ++j) {
        EXPECT_EQ(rig->left[j] == kSentinel, j >= 20) << j;
        EXPECT_EQ(rig->right[j] == kSentinel, j >= 20) << j;
    }
    EXPECT_EQ(rig->engine.mixRamp.counter, 2u);  // two sub-blocks, no mix step yet
    EXPECT_NEAR(rig->engine.dryGain, 0.70710677f, 1e-6);  // there from the first sample
    EXPECT_NEAR(rig->engine.wetGain, 0.70710677f, 1e-6);

    rig->control[kPortMix] = 100;
    rig->run(16);  // the third sub-block lands the mix on its target at once
    EXPECT_EQ(rig->engine.mix, 0.99999994f);
    EXPECT_NEAR(rig->engine.dryGain, 0.0f, 1e-6);
    EXPECT_NEAR(rig->engine.wetGain, 1.0f, 1e-6);

    rig->control[kPortDecay] = 1000;
    for (float ms : {500.0f, 700.0f, 900.0f, 1000.0f, 1000.0f}) {
        rig->run(16);
        expectAllLinesDecay(rig->engine, ms);
    }
}

// Beyond about 4.3e9 ms a decay step of 200 ms rounds away to nothing, and
// a mix step of 1 beyond about 3.4e7: a ramp that starts out there still
// reaches a sane value in one step instead of sticking where it is.
TEST(Run, RampsLeaveValuesTheirStepCannotMove)
{
    for (float huge : {1e30f, -1e30f}) {
        auto rig = makeRig();
        rig->control[kPortDecay] = huge;
        rig->run(16);
        rig->control[kPortDecay] = 815;
        rig->run(16);
        expectAllLinesDecay(rig->engine, 815.0f);

        // The mix ports are held to 0..100 %, so only the ramp itself starts there.
        ParamRamp mix = rig->engine.mixRamp;
        mix.current = huge;
        mix.target = 0.5f;
        while (!mix.advance()) {
        }
        EXPECT_EQ(mix.current, 0.5f) << huge;
    }
}

// A decay time of 0 gives no feedback, in a host that traps division by zero
// too, also where a length change ends.
TEST(Run, DecayZeroDividesByNothing)
{
    if (feenableexcept(FE_DIVBYZERO) == -1)
        GTEST_SKIP() << "this processor cannot trap division by zero";
    auto rig = makeRig();
    rig->control[kPortDecay] = 0;
    rig->run(16);
    rig->control[kPortMinDistance] = 2.1f;  // 293 to 307 samples, about 140 to glide
    rig->run(kMaxBlock);
    fedisableexcept(FE_DIVBYZERO);
    rig->engine.syncLines();
    EXPECT_EQ(rig->engine.left.lines[0].length, 307u);
    for (const LineBank* bank : {&rig->engine.left, &rig->engine.right})
        for (const DelayLine& line : bank->lines)
            EXPECT_TRUE(support::sameBits(line.feedback, 0.0f)) << line.feedback;
}

// Any frame count a host can pass is cut into sub-blocks up to its end,
// the largest included.
TEST(Run, SubBlocksCoverAnyFrameCount)
{
    for (uint32_t total : {0u, 20u, 32u, UINT32_MAX - 15, UINT32_MAX}) {
        uint64_t covered = 0, pieces = 0;
        bool inOrder = true;
        forEachSubBlock(total, [&](uint32_t start, uint32_t frames) {
            inOrder = inOrder && start == covered && frames >= 1 && frames <= 16 && (frames == 16 || start + frames == total);
            covered += frames;
            ++pieces;
        });
        EXPECT_TRUE(inOrder) << total;
        EXPECT_EQ(covered, total);
        EXPECT_EQ(pieces, (uint64_t{total} + 15) / 16);
    }
}

TEST(Run, MixGainsAreEqualPowerOnceSettled)
{
    struct Case { float port, dry, wet; };
    for (const Case& c : {Case{0, 1, 0}, Case{50, 0.70710677f, 0.70710677f}, Case{100, 0, 1}}) {
        auto rig = makeRig();
        rig->control[kPortMix] = c.port;
        rig->run(9 * 16);
        const float dry = rig->engine.dryGain, wet = rig->engine.wetGain;
        EXPECT_NEAR(dry, c.dry, 1e-6) << c.port;
        EXPECT_NEAR(wet, c.wet, 1e-6) << c.port;
        EXPECT_NEAR(dry * dry + wet * wet, 1.0f, 1e-6) << c.port;
    }
}

// The first broken invariant of a running instance, or "". The line records
// are brought up to date first: the block-wise code keeps part of their
// state to itself between calls.
std::string brokenInvariant(Rig& rig, uint32_t frames)
{
    std::ostringstream why;
    auto say = [&](const auto&... parts) { return ((why << parts), ..., why).str(); };
    for (uint32_t j = 0; j < frames; ++j)
        if (!std::isfinite(rig.left[j]) || !std::isfinite(rig.right[j]))
            return say("output ", j, ": ", rig.left[j], ", ", rig.right[j]);
    rig.engine.syncLines();
    const Engine& e = rig.engine;
    for (float v : {e.dryGain, e.wetGain, e.inputHighpassState, e.inputLowpassState})
        if (!std::isfinite(v))
            return say("engine value ", v);
    for (const LineBank* bank : {&e.left, &e.right}) {
        if (bank->count < 1 || bank->count > kMaxLines)
            return say("count ", bank->count);
        for (const DelayLine& l : bank->lines) {
            why << "line " << (&l - bank->lines) << ": read " << l.readPos << " write " << l.writeIndex << " depth "
                << l.modDepth << " inc " << l.lfoIncrement << " phase " << l.lfoPhase << " g " << l.feedback
                << " length " << l.length << " pending " << l.pendingLength;
            const bool ok = l.readPos >= 0.0f && l.readPos < 16000.0f && l.writeIndex < kRingSize &&
                l.modDepth >= 0.0f && 1.0f + 2.0f * l.modDepth < 16000.0f && l.lfoIncrement >= 0.0f &&
                l.lfoIncrement < 2.0f && l.lfoPhase >= -1.0f && l.lfoPhase <= 1.0f &&
                std::fabs(l.feedback) <= 0.99999f && l.length >= 1 && l.length <= kRingSize &&
                (l.pendingLength == 0 || (l.pendingLength >= 101 && l.pendingLength <= 15999)) &&
                std::isfinite(l.lowpassState) && std::isfinite(l.highpassState);
            if (!ok)
                return why.str();
            why.str("");
        }
    }
    return "";
}

TEST(Hostile, ControlValuesNeverBreakTheEngine)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float hostile[] = {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e30f, -1e30f};
    std::mt19937 random(20240607);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    const uint32_t edges[] = {0, 1, 15, 16, 17};
    auto blockSize = [&] { return pick(2) ? edges[pick(5)] : 1 + pick(kMaxBlock); };

    auto rig = makeRig();
    auto runBlocks = [&](int blocks, const std::function<void()>& setPorts) {
        for (int b = 0; b < blocks; ++b) {
            setPorts();
            const uint32_t frames = blockSize();
            rig->run(frames);
            const std::string broken = brokenInvariant(*rig, frames);
            if (!broken.empty())
                return broken + " at block " + std::to_string(b);
        }
        return std::string();
    };

    // One port at a time, over all eight lines, so every line's modulation is spread.
    rig->control[kPortLines] = 8;
    for (uint32_t port = kPortMix; port < kPortCount; ++port)
        for (float value : hostile) {
            rig->control[port] = value;
            ASSERT_EQ(runBlocks(40, [] {}), "") << "port " << port << " = " << value;
            rig->control[port] = port == kPortLines ? 8 : kDefaults[port];
        }
    for (float value : hostile) {
        std::fill(rig->control + kPortMix, rig->control + kPortCount, value);
        ASSERT_EQ(runBlocks(40, [] {}), "") << "every port = " << value;
    }
    // Hostile values mixed with ordinary ones on every port, changing every block.
    ASSERT_EQ(runBlocks(3000, [&] {
        for (uint32_t port = kPortMix; port < kPortCount; ++port)
            rig->control[port] = pick(2) ? hostile[pick(5)] : static_cast<float>(pick(1000)) / 10.0f;
    }), "");
    for (const LineBank* bank : {&rig->engine.left, &rig->engine.right})
        for (const DelayLine& line : bank->lines)
            EXPECT_TRUE(std::all_of(line.buffer, line.buffer + kRingSize + kGuardSlots,
                [](float v) { return std::isfinite(v); }));
}

} // namespace

// A line whose loop overflowed anyway (only hostile settings get there) is
// silenced at the end of its sub-block: the next sub-block is finite again
// and the other lines ring on.
TEST(Hostile, OverflowedLineIsClearedWithinItsSubBlock)
{
    auto rig = makeRig();
    rig->control[kPortDecay] = 3000;
    rig->run(256);
    DelayLine& broken = rig->engine.right.lines[2];
    broken.lowpassState = std::numeric_limits<float>::infinity();
    rig->run(16);
    EXPECT_TRUE(broken.signalIsFinite());
    EXPECT_TRUE(std::all_of(broken.buffer, broken.buffer + kRingSize + kGuardSlots, [](float v) { return v == 0.0f; }));
    rig->run(64);
    for (uint32_t j = 0; j < 64; ++j)
        ASSERT_TRUE(std::isfinite(rig->left[j]) && std::isfinite(rig->right[j])) << j;
    EXPECT_NE(rig->right[63], 0.0f);
}
