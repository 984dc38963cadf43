// Controls: the length distribution, the modulation spread and the port
// dispatch with its mappings and guards.
#include "Harness.h"
#include "engine/Distribution.h"

#include <cstring>
#include <random>
#include <vector>

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// The lengths of all eight lines of a bank that has not run yet: every
// request placed its line at once, lines beyond the count keep 8000.
std::vector<uint64_t> placed(const LineBank& bank)
{
    std::vector<uint64_t> lengths;
    for (const DelayLine& line : bank.lines)
        lengths.push_back(line.pendingLength == 0 ? line.length : 0);
    return lengths;
}

TEST(Distribution, PrimeLengthsByBank)
{
    struct Case { float count, minM, maxM, spread; std::vector<uint64_t> left, right; };
    const std::vector<uint64_t> four = {293, 5051, 9803, 14549};
    const Case cases[] = {
        {4, 2, 100, 0, four, four},
        {6, 2, 100, 0, {293, 3163, 6007, 8849, 11699, 14549}, {293, 3163, 6007, 8849, 11699, 14549}},
        {8, 2, 100, 0, {293, 2333, 4363, 6421, 8443, 10477, 12511, 14549},
            {293, 2333, 4363, 6421, 8443, 10477, 12511, 14549}},
        {2, 2, 100, 0, {293, 14549}, {293, 14549}},
        {1, 2, 100, 0, {293}, {293}},
        {4, 2, 100, 30, four, {251, 4793, 10289, 15999}},
        {1, 2, 100, 30, {293}, {269}},
        {4, 50, 10, 0, {7283, 5333, 3407, 1459}, {7283, 5333, 3407, 1459}},
        {4, 0.7f, 0.7f, 0, {101, 101, 101, 101}, {101, 101, 101, 101}},
        {4, 0, 0, 0, {101, 101, 101, 101}, {101, 101, 101, 101}},
        {4, -5, -5, 0, {101, 101, 101, 101}, {101, 101, 101, 101}},
        {4, 2, 1000, 0, {293, 15999, 15999, 15999}, {293, 15999, 15999, 15999}},
        {1, 109.98969f, 0, 0, {15999}, {15999}},  // 15998.5 samples: 16001 is the next prime
        {1, 109.932625f, 0, 0, {15991}, {15991}}, // 15990.2 samples: 15991 is prime
        {1, 0.678563f, 0, 0, {101}, {101}},       // 98.7 samples
    };
    auto padded = [](std::vector<uint64_t> lengths) { return lengths.resize(kMaxLines, 8000), lengths; };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " lines, " << c.minM << ".." << c.maxM << " m, " << c.spread);
        auto engine = std::make_unique<Engine>();
        engine->setLineCount(c.count);
        engine->setMinDistance(c.minM);
        engine->setMaxDistance(c.maxM);
        engine->setSpread(c.spread);
        EXPECT_EQ(placed(engine->left), padded(c.left));
        EXPECT_EQ(placed(engine->right), padded(c.right));
        EXPECT_EQ(engine->shapeOf(engine->right).spread, c.spread * 0.01f);
        EXPECT_EQ(engine->shapeOf(engine->left).spread, 0.0f);
    }
    EXPECT_EQ(nextPrime(15999), 16001u);
    EXPECT_EQ(nextPrime(15991), 15991u);
    EXPECT_EQ(nextPrime(99), 101u);
}

// Each distribution logs every active line twice per bank, each time with
// the length the line has: a fresh line already the one just placed.
TEST(Distribution, EveryRedistributionLogsFourLinesPerLine)
{
    LogFileGuard guard;
    guard.enable("1\n");
    auto engine = std::make_unique<Engine>();
    const std::string four = "fdbk: 0.014749 sz: 293\nfdbk: 0.000000 sz: 5051\nfdbk: 0.000000 sz: 9803\n"
                             "fdbk: 0.000000 sz: 14549\n";
    const std::string once = four + four + four + four;
    engine->setLineCount(4.0f);
    writeLogEvents(engine->context.events);
    EXPECT_EQ(LogFileGuard::text(), "1\n### log is active now ### \n" + once);
    engine->setLineCount(4.5f);  // same count: still redistributed
    writeLogEvents(engine->context.events);
    EXPECT_EQ(LogFileGuard::text(), "1\n### log is active now ### \n" + once + once);
}

// The lengths need no random numbers, so the host's own rand() sequence
// goes on undisturbed whatever the knobs do.
TEST(Distribution, LeavesTheHostsRandomSequenceAlone)
{
    auto engine = std::make_unique<Engine>();
    srand(7);
    const int first = rand(), second = rand();
    srand(7);
    EXPECT_EQ(rand(), first);
    engine->setLineCount(6);
    engine->setSpread(30);
    engine->setMaxDistance(50);
    EXPECT_EQ(rand(), second);
}

TEST(Modulation, SpreadOverActiveLinesOnly)
{
    auto engine = std::make_unique<Engine>();
    for (LineBank* bank : {&engine->left, &engine->right})
        for (DelayLine& line : bank->lines)
            line.lfoPhase = 0.25f, line.modDepth = -7.0f, line.lfoIncrement = -7.0f;
    engine->setModDepthMin(0);
    engine->setModDepthMax(100);
    engine->setModRateMin(0.5f);
    engine->setModRateMax(2.0f);
    // Depth in samples and rate in Hz of lines 0..3 (left, right); lines 4..7 keep what they had.
    const float expected[4][3] = {{0, 0.5f, 0.55f}, {50, 1, 0.9666667f}, {100, 1.5f, 1.3833333f}, {150, 2, 1.8f}};
    for (uint64_t k = 0; k < kMaxLines; ++k) {
        for (int b = 0; b < 2; ++b) {
            SCOPED_TRACE(testing::Message() << "line " << k << " bank " << b);
            const DelayLine& line = (b ? engine->right : engine->left).lines[k];
            EXPECT_EQ(line.lfoPhase, 0.25f);
            EXPECT_FLOAT_EQ(line.modDepth, k < 4 ? expected[k][0] : -7.0f);
            EXPECT_FLOAT_EQ(line.lfoIncrement, k < 4 ? expected[k][1 + b] * 4.1666666e-5f : -7.0f);
        }
    }
    engine->setModDepthMin(10);
    EXPECT_EQ(engine->left.lines[0].modDepth, 14.999999f);
}

// A port and one engine field it writes, poked to a value no port gives.
// Every length port redistributes all lines, so one placed length stands
// for the four of them.
struct Probe {
    uint32_t port;
    void (*poke)(Engine&);
    bool (*poked)(const Engine&);
};
#define PROBE(port, field, value) \
    Probe { port, [](Engine& e) { e.field = value; }, [](const Engine& e) { return e.field == value; } }
const Probe kProbes[] = {PROBE(4, left.count, 7u), PROBE(6, right.lines[1].length, 77u),
    PROBE(9, right.parallel, true), PROBE(10, inputHighpassCoef, 0.77f), PROBE(11, inputLowpassCoef, 0.77f),
    PROBE(12, right.modulation.depthMin, 0.77f), PROBE(13, left.modulation.depthMax, 0.77f),
    PROBE(14, right.modulation.rateMin, 7.7f), PROBE(15, left.modulation.rateMax, 7.7f)};

TEST(Dispatch, FirstRunAppliesEveryPortAndLaterRunsOnlyChangedOnes)
{
    for (const Probe& probe : kProbes) {
        SCOPED_TRACE(probe.port);
        auto rig = makeRig();
        probe.poke(rig->engine);
        rig->run(0);
        EXPECT_FALSE(probe.poked(rig->engine));
        probe.poke(rig->engine);
        rig->run(0);
        EXPECT_TRUE(probe.poked(rig->engine));
    }
}

TEST(Dispatch, NaNLeavesTheEngineAsItWas)
{
    auto rig = makeRig();
    rig->run(16);
    std::vector<unsigned char> before(sizeof(Engine));
    for (uint32_t port = kPortMix; port < kPortCount; ++port) {
        SCOPED_TRACE(port);
        std::memcpy(before.data(), &rig->engine, sizeof(Engine));
        rig->control[port] = kNaN;
        rig->run(0);
        EXPECT_EQ(std::memcmp(before.data(), &rig->engine, sizeof(Engine)), 0);  // ramps and settings included
        rig->control[port] = kDefaults[port];
    }
}

TEST(Dispatch, PortMappings)
{
    auto rig = makeRig(44100);
    Engine& e = rig->engine;
    auto set = [&](uint32_t port, float value) { rig->control[port] = value, rig->run(0); };
    const std::pair<float, uint64_t> counts[] = {{0, 1}, {0.5f, 1}, {-3, 1}, {2.9f, 2}, {9, 8}, {1000, 8}, {kInf, 8}};
    for (const auto& [value, count] : counts) {
        set(kPortLines, value);
        EXPECT_EQ(e.left.count, count) << value;
        EXPECT_EQ(e.right.count, count) << value;
    }
    const std::pair<float, float> mixes[] = {{50, -2.2351742e-8f}, {100, 0.99999994f}, {150, 0.99999994f}, {-20, -1.0f}, {0, -1.0f}};
    for (const auto& [value, target] : mixes) {
        set(kPortMix, value);
        EXPECT_EQ(rig->engine.mixRamp.target, target) << value;
    }
    set(kPortParallel, 0.5f);
    EXPECT_TRUE(e.left.parallel && e.right.parallel);
    set(kPortParallel, 0.0f);
    EXPECT_FALSE(e.left.parallel || e.right.parallel);
    for (float rate : {0.1f, 0.2f, 0.1f}) {
        set(kPortRateMin, rate);
        EXPECT_EQ(e.right.modulation.rateMin, rate == 0.1f ? 0.11f : 0.22f);
    }
    set(kPortLowCut, 40);
    EXPECT_NEAR(e.inputHighpassCoef, 0.9947777f, 1e-7);
    for (float below : {-5.0f, -1e30f, -kInf}) {
        set(kPortLowCut, below);
        set(kPortHighCut, below);
        EXPECT_EQ(e.inputHighpassCoef, 1.0f) << below;
        EXPECT_EQ(e.inputLowpassCoef, 1.0f) << below;
    }
}

TEST(Dispatch, CountAndDepthInOneCallSpreadTheNewRangeOverTheNewCount)
{
    auto rig = makeRig();
    rig->run(0);
    rig->control[kPortLines] = 8;
    rig->control[kPortDepthMin] = 50;
    rig->run(0);
    for (uint64_t k = 0; k < kMaxLines; ++k)
        for (const LineBank* bank : {&rig->engine.left, &rig->engine.right})
            EXPECT_NEAR(bank->lines[k].modDepth, 75.0f * (1.0f - k / 7.0f), 1e-4) << k;
}

// Runs until every active line has reached its length and no request waits.
void settleLengths(Rig& rig)
{
    auto moving = [&] {
        for (const LineBank* bank : {&rig.engine.left, &rig.engine.right})
            for (uint64_t k = 0; k < bank->count; ++k)
                if (bank->lines[k].resizing || bank->lines[k].pendingLength != 0)
                    return true;
        return false;
    };
    rig.silence(kMaxBlock);  // the controls are applied first
    for (int blocks = 0; blocks < 4000 && moving(); ++blocks)
        rig.silence(kMaxBlock);
    ASSERT_FALSE(moving());
}

// The active lines' lengths, left bank then right.
std::vector<uint64_t> activeLengths(const Engine& e)
{
    std::vector<uint64_t> lengths;
    for (const LineBank* bank : {&e.left, &e.right})
        for (uint64_t k = 0; k < bank->count; ++k)
            lengths.push_back(bank->lines[k].length);
    return lengths;
}

// What a fresh instance with the same control values has from its first run.
std::vector<uint64_t> freshLengths(const Rig& rig)
{
    auto fresh = makeRig(rig.engine.context.sampleRate);
    std::copy(rig.control, rig.control + kPortCount, fresh->control);
    fresh->run(0);
    return activeLengths(fresh->engine);
}

// However the length knobs move (there and back within one block, several
// at once, snapshots recalled one after another before the lines got
// there), the lines end at the lengths the knobs show.
TEST(Dispatch, KnobMovesAreNeverLost)
{
    auto rig = makeRig();
    rig->silence(kMaxBlock);
    rig->control[kPortMaxDistance] = 50;
    rig->run(1);
    rig->control[kPortMaxDistance] = 100;
    settleLengths(*rig);
    EXPECT_EQ(activeLengths(rig->engine), freshLengths(*rig));
    EXPECT_EQ(rig->engine.left.lines[3].length, 14549u);

    rig = makeRig();
    rig->silence(kMaxBlock);
    rig->control[kPortLines] = 2;
    rig->control[kPortMaxDistance] = 34.67f;
    rig->silence(kMaxBlock);
    settleLengths(*rig);
    EXPECT_EQ(activeLengths(rig->engine), (std::vector<uint64_t>{293, 5051, 293, 5051}));

    // Snapshots drawn from a few settings, so knobs often come back to where
    // they were, each held for a moment only or until the lines got there.
    std::mt19937 random(99);
    const float snapshots[][4] = {{4, 2, 100, 25}, {8, 1, 60, 50}, {6, 3, 100, 0}, {2, 2, 34.67f, 25}};
    const uint32_t ports[] = {kPortLines, kPortMinDistance, kPortMaxDistance, kPortSpread};
    for (double rate : {48000.0, 96000.0}) {
        auto recalled = makeRig(rate);
        for (int session = 0; session < 12; ++session) {
            for (int recall = 0; recall < 4; ++recall) {
                const float* snapshot = snapshots[random() % std::size(snapshots)];
                for (int p = 0; p < 4; ++p)
                    recalled->control[ports[p]] = snapshot[p];
                if (random() % 3 == 0)
                    settleLengths(*recalled);
                else
                    recalled->silence(1 + random() % 3000);
            }
            settleLengths(*recalled);
            ASSERT_EQ(activeLengths(recalled->engine), freshLengths(*recalled)) << rate << " Hz, session " << session;
        }
    }
}

// Lines switched off keep what they held; when they come back they start
// from silence, so no old audio plays.
TEST(Dispatch, LinesThatComeBackHoldNoOldAudio)
{
    for (float parallel : {0.0f, 1.0f}) {
        SCOPED_TRACE(parallel);
        auto rig = makeRig();
        rig->control[kPortLines] = 8;
        rig->control[kPortParallel] = parallel;
        rig->control[kPortMix] = 100;
        const std::vector<float> noise = support::whiteNoise(48000, 0.5f, 3);
        rig->play(48000, [&](uint64_t t) { return noise[t]; }, [](uint64_t, float, float) {});
        rig->control[kPortLines] = 2;
        rig->silence(20 * 48000);
        float before = 0.0f, after = 0.0f;
        rig->play(kMaxBlock, [](uint64_t) { return 0.0f; },
            [&](uint64_t, float l, float r) { before = std::max({before, std::fabs(l), std::fabs(r)}); });
        rig->control[kPortLines] = 8;
        rig->play(2 * 48000, [](uint64_t) { return 0.0f; },
            [&](uint64_t, float l, float r) { after = std::max({after, std::fabs(l), std::fabs(r)}); });
        EXPECT_LT(before, 1e-15f);
        EXPECT_LT(after, 1e-15f);  // -300 dBFS
    }
}

// However deep the modulation of a short line, its read point stays behind
// the write index: every impulse of a train comes out within the line's
// length, none a whole ring (16,000 samples) late.
TEST(Modulation, DeepModulationOnShortLinesNeverReadsARingLate)
{
    constexpr uint64_t kSpacing = 1103, kImpulses = 87, kLength = 101;
    for (float depth : {40.0f, 70.0f, 100.0f}) {
        SCOPED_TRACE(depth);
        auto rig = makeRig();
        for (const auto& [port, value] : {std::pair{kPortLines, 1.0f}, {kPortDecay, 0.0f}, {kPortMix, 100.0f},
                 {kPortMinDistance, 0.5f}, {kPortDepthMin, depth}, {kPortRateMin, 1.0f}})
            rig->control[port] = value;
        float echo = 0.0f, stray = 0.0f;
        rig->play(kSpacing * kImpulses + 20000,
            [](uint64_t t) { return t % kSpacing == 0 && t / kSpacing < kImpulses ? 0.5f : 0.0f; },
            [&](uint64_t t, float l, float r) {
                const float level = std::max(std::fabs(l), std::fabs(r));
                const bool expected = t / kSpacing < kImpulses && t % kSpacing <= kLength;
                (expected ? echo : stray) = std::max(expected ? echo : stray, level);
            });
        EXPECT_GT(echo, 0.1f);
        EXPECT_LT(stray, 0.05f * echo);
    }
}

} // namespace
