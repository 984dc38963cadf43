// The delay line: ring edges, the steady delay, length changes and the
// feedback formula with its log line.
#include "Harness.h"

#include <vector>

namespace {

// A line with the context it reads: 48 kHz and a decay time of 100 ms.
struct TestLine : DelayLine {
    LineContext context{48000.0f, 100.0f, {}};
    float tick(float input) { return DelayLine::tick(input, context); }
};

// A line in steady state: no modulation, no feedback, an integral read
// pointer `length` - 1 slots behind the write index (the recorded length
// counts the write index after its advance).
std::unique_ptr<TestLine> steadyLine(uint64_t length, uint64_t writeIndex = 1000)
{
    auto line = std::make_unique<TestLine>();
    line->fresh = false;
    line->writeIndex = writeIndex;
    line->readPos = static_cast<float>((writeIndex + kRingSize - (length - 1)) % kRingSize);
    line->length = length;
    line->modDepth = 0.0f;
    line->lfoIncrement = 0.0f;
    return line;
}

TEST(Line, GuardSlotsMirrorTheFirstFiveSlots)
{
    for (uint64_t w : {0u, 1u, 4u, 5u, 6u, 15999u}) {
        SCOPED_TRACE(w);
        auto line = steadyLine(100, w);
        line->tick(1.0f);
        const float written = line->buffer[w];
        EXPECT_NE(written, 0.0f);
        for (uint64_t g = 0; g < kGuardSlots; ++g)
            EXPECT_EQ(line->buffer[kRingSize + g], g == w ? written : 0.0f) << g;
        EXPECT_EQ(line->writeIndex, (w + 1) % kRingSize);
    }
}

TEST(Line, ReadPointerAndPhaseWrapExactly)
{
    auto line = steadyLine(100);
    line->readPos = 15999.0f;  // read point 15999 + 1 lands on 16000, which is slot 0
    line->buffer[2] = 1.0f;    // the centre slot of the six read from slot 0
    line->lfoPhase = 0.75f;
    line->lfoIncrement = 0.25f;
    EXPECT_EQ(line->tick(0.0f), 0.55f);
    EXPECT_EQ(line->readPos, 0.0f);
    EXPECT_EQ(line->lfoPhase, -1.0f);
}

TEST(Line, SteadyDelayIsLengthLessFourLessModulation)
{
    struct Case { uint64_t length; float depth; size_t peak; };
    for (const Case& c : {Case{100, 0, 96}, Case{100, 10, 86}, Case{1000, 0, 996}, Case{1000, 100, 896}}) {
        SCOPED_TRACE(c.length + c.depth);
        auto line = steadyLine(c.length);
        line->modDepth = c.depth;  // phase stays 0: an offset of exactly modDepth
        std::vector<float> out;
        for (uint64_t n = 0; n < 2 * c.length; ++n)
            out.push_back(std::fabs(line->tick(n == 0 ? 1.0f : 0.0f)));
        EXPECT_EQ(static_cast<size_t>(std::max_element(out.begin(), out.end()) - out.begin()), c.peak);
    }
}

// A line that has never run takes its first length at once, its read
// pointer where a finished change would leave it; from its first sample on,
// requests wait their turn again.
TEST(Line, FreshLineTakesItsFirstLengthAtOnce)
{
    for (uint64_t w : {0u, 15990u})
        for (uint64_t n : {101u, 1000u, 15999u}) {
            SCOPED_TRACE(w * 100000 + n);
            auto line = std::make_unique<TestLine>();
            line->writeIndex = w;
            line->modDepth = 0.0f;
            line->requestLength(n);
            EXPECT_EQ(line->length, n);
            EXPECT_EQ(line->pendingLength, 0u);
            EXPECT_FALSE(line->resizing);
            EXPECT_EQ(line->readPos, static_cast<float>((w + 1 + kRingSize - n) % kRingSize));
            size_t peak = 0;
            float loudest = 0.0f;
            for (uint64_t t = 0; t < n; ++t) {
                const float out = std::fabs(line->tick(t == 0 ? 1.0f : 0.0f));
                if (out > loudest)
                    loudest = out, peak = t;
            }
            EXPECT_EQ(peak, n - 4);
            line->requestLength(n == 1000 ? 1100 : 1000);
            EXPECT_EQ(line->length, n);
            EXPECT_NE(line->pendingLength, 0u);
        }
}

// A knob that goes somewhere and comes back before the line moved leaves
// it where it is: the request for its present length drops the older one.
TEST(Line, RequestForThePresentLengthDropsAnOlderOne)
{
    auto line = steadyLine(200);
    line->requestLength(250);
    line->requestLength(200);
    EXPECT_EQ(line->pendingLength, 0u);
    for (int n = 0; n < 3000; ++n)
        line->tick(0.0f);
    EXPECT_EQ(line->length, 200u);
    EXPECT_FALSE(line->resizing);
}

TEST(Line, LengthChangeEndsOnTargetAndRecordsItsFeedbackOnce)
{
    struct Case { uint64_t to; std::vector<uint64_t> later; uint64_t waiting, final; uint32_t events; };
    const Case cases[] = {
        {210, {}, 0, 210, 1},             // grow
        {150, {}, 0, 150, 1},             // shrink
        {210, {220, 230}, 230, 230, 2},   // requests during a change wait; the last one wins
        {210, {230, 210}, 0, 210, 1},     // back to where the change goes: the waiting one is dropped
        {210, {200}, 200, 200, 2},        // back to where it came from: it glides back
    };
    auto settle = [](TestLine& line) {
        for (int n = 0; n < 5000 && line.resizing; ++n)
            line.tick(0.0f);
        return !line.resizing;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to * 1000 + c.final);
        auto line = steadyLine(200);
        line->requestLength(c.to);
        line->tick(0.0f);
        EXPECT_TRUE(line->resizing);
        EXPECT_EQ(line->readSpeed, c.to > 200 ? 0.9f : 1.11f);
        for (int n = 0; n < 20; ++n)
            line->tick(0.0f);
        for (uint64_t request : c.later)
            line->requestLength(request);
        ASSERT_TRUE(settle(*line));
        EXPECT_EQ(line->length, c.to);
        EXPECT_EQ(line->pendingLength, c.waiting);  // the ending step leaves it
        line->tick(0.0f);
        ASSERT_TRUE(settle(*line));
        for (int n = 0; n < 2000; ++n)
            line->tick(0.0f);
        EXPECT_FALSE(line->resizing);
        EXPECT_EQ(line->length, c.final);
        EXPECT_EQ(line->readSpeed, 1.0f);
        EXPECT_NEAR(line->feedback, std::pow(0.001, c.final / 4800.0), 1e-6);
        const LogEvents& events = line->context.events;
        EXPECT_EQ(events.count, c.events);
        EXPECT_EQ(std::count_if(events.feedback, events.feedback + events.count,
                      [&](const FeedbackEvent& e) { return e.feedback == line->feedback && e.length == c.final; }),
            1);
    }
}

TEST(Line, FeedbackFromDecayTime)
{
    LogFileGuard guard;
    guard.enable("1\n");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case { float decayMs; uint64_t length; double g; double tolerance; const char* text; };
    const Case cases[] = {
        {300, 8000, 0.021544347, 1e-7, "fdbk: 0.021544 sz: 8000"},
        {1000, 8000, 0.316227766, 1e-6, "fdbk: 0.316228 sz: 8000"},
        {10, 293, 0.014748573, 1e-7, "fdbk: 0.014749 sz: 293"},
        {10, 8000, 0, 0, "fdbk: 0.000000 sz: 8000"},
        {0, 8000, 0, 0, "fdbk: 0.000000 sz: 8000"},
        {-300, 8000, 0.99999f, 0, "fdbk: 0.999990 sz: 8000"},
        {nan, 8000, 0, 0, "fdbk: 0.000000 sz: 8000"},
    };
    std::string expected = readFile(kLogPath);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto line = steadyLine(c.length);
        line->context.decayMs = c.decayMs;
        line->updateFeedback(line->context);
        writeLogEvents(line->context.events);
        EXPECT_NEAR(line->feedback, c.g, c.tolerance);
        expected += std::string(c.text) + "\n";
        EXPECT_EQ(readFile(kLogPath), expected);
    }
}

} // namespace
