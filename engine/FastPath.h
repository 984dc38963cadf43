// The block-wise output stage: the same float bits as the per-sample code,
// computed sixteen samples and sixteen lines at a time.
//
// Within a sub-block a line's output depends on its own damping state only
// through the ring, a full loop delay later. So the sixteen interpolations and
// allpasses of one line run as one vector in time (line k's sixteen outputs
// are line k + 1's inputs in series), and the truly sequential chains (input
// filters, LFO phase, read pointer, length change, damping) run as vectors
// across the sixteen lines. A line whose taps would read a slot written
// earlier in the same sub-block (a delay of under about 21 samples) runs
// tick's signal part sample by sample instead.
//
// The kernel is written once (FastKernel.h) and built once per width and
// instruction set, each in a translation unit of its own (FastPathBaseline.cpp,
// FastPathAvx2.cpp, FastPathAvx2x16.cpp, FastPathAvx512.cpp); the table below
// lists them. This header holds only plain records and declarations: the
// kernels for other instruction sets include it, and must not pick up inline
// code.
#pragma once

#include <cstddef>
#include <cstdint>

struct DelayLine;
struct Engine;

constexpr int kFastLanes = 16;  // line k of the left bank in lane 2k, of the right in 2k + 1
constexpr int kFastBlock = 16;  // samples per kernel call at most: one sub-block

// The per-lane state a kernel works on, one array per field. Masks are 0 or
// -1. Lanes of lines beyond their bank's count hold zeros and are never
// written back.
//
// The engine keeps this record from call to call (Engine::lanes). While
// `current` is set it holds the truth of the lines it carries, and their
// DelayLine records lag behind in two ways:
//   - the LFO phase, read pointer and write index are the lanes' alone;
//   - the last sub-block's damping is still to be done: the next sub-block
//     does it in the loop that runs its own control and input filters
//     (pendingIn), and writes its ring slots then, before any tap is read.
//     The damping states in the records are one sub-block behind.
// The length-change fields (and the feedback a change ends with) go back at
// the end of every call that had a change running or requested, and the
// damping states are copied in and out at every call: the clean-up clears
// them in the records, and code outside the engine (a test) may break a
// line on purpose between calls. Everything else that touches the lines,
// the per-sample code and every setter, first brings the records up to date
// with syncFastLanes (Engine::syncLines), which leaves the next call to copy
// the lines in afresh. Setters run between sub-blocks only, so they never
// meet a kernel halfway.
struct alignas(64) FastLanes {
    float lfoPhase[kFastLanes];
    float lfoIncrement[kFastLanes];
    float modDepth[kFastLanes];
    float readPos[kFastLanes];
    float readSpeed[kFastLanes];
    float feedback[kFastLanes];
    float highpassState[kFastLanes];
    float lowpassState[kFastLanes];
    float highpassCoef[kFastLanes];
    float lowpassCoef[kFastLanes];
    float writeGain[kFastLanes];
    int32_t writeIndex[kFastLanes];
    int32_t length[kFastLanes];
    int32_t targetLength[kFastLanes];
    int32_t pendingLength[kFastLanes];
    int32_t resizing[kFastLanes];  // mask
    int32_t active[kFastLanes];    // mask: the line's index is below its bank's count

    float dry[kFastBlock];         // the input samples of this call
    float input[kFastBlock];       // the same through the input filters
    float decayMs;                 // in force: a length change that ends takes its feedback from it
    float sampleRate;
    float inputHighpassCoef;
    float inputLowpassCoef;
    float inputHighpassState;
    float inputLowpassState;
    float wet[2][kFastBlock];      // each bank's result

    // Length changes that ended at sample t, with the feedback and length to
    // log; the log lines are written after the call, in the order of the
    // per-sample code.
    uint32_t endedLanes[kFastBlock];  // bit per lane
    bool anyEnded;
    float endedFeedback[kFastBlock][kFastLanes];
    int32_t endedLength[kFastBlock][kFastLanes];

    float* buffer[kFastLanes];
    DelayLine* line[kFastLanes];
    uint32_t count[2];
    bool parallel[2];
    bool lengthWork;               // a line had a length change running or requested
    uint32_t frames;               // 1..16

    // How often a line's sub-block left the plain vector road (for tests and
    // benchmarks).
    uint64_t laneBlocks;
    uint64_t perSampleLaneBlocks;  // a tap read a slot written in the same sub-block
    uint64_t gatheredLaneBlocks;   // taps too scattered for window loads
    uint64_t recoveries;           // lines cleared after their state went non-finite

    // The damping still to be done for the last sub-block: its allpass
    // states, the lanes that take them (vector lanes; a line that ran
    // sample by sample did its own) and where their writes start.
    float pendingIn[kFastBlock][kFastLanes];  // [t][lane]
    int32_t pendingLanes[kFastLanes];         // mask
    int32_t pendingWrite[kFastLanes];
    uint32_t pendingFrames;                   // 0: nothing pending
    // The pending sub-block was the last of a call: the clean-up the
    // per-sample code does at the end of every call follows its damping.
    bool pendingEndsCall;

    bool current;  // the record holds the truth of its lines
};

// The clean-up at the end of a call, for lanes whose damping state is no
// longer finite: their lines are silenced. Called by a kernel after it did
// the damping of a sub-block that ended a call. Defined by the glue.
void fastRecoverLanes(FastLanes& lanes);

// Brings the lines' records up to date (the pending damping included) and
// leaves the next call to copy them in afresh.
void syncFastLanes(Engine& engine);

// One step of the length-change control of a lane whose change ends or whose
// pending request is taken up at sample t (never per sample in steady
// state). Defined by the glue.
void fastLengthEvent(FastLanes& lanes, int lane, int t);

using FastKernel = void (*)(FastLanes&);

// Every kernel built into the library, one row each (FastPath.cpp), the
// baseline first. A new kernel is a VecOps width (VecOps.h), a translation
// unit that builds FastKernel.h for it, and a row.
struct FastKernelInfo {
    const char* name;     // as STREUWOLKE_SIMD names it
    int width;            // floats per vector
    bool automatic;       // a candidate for the choice at load time
    bool (*available)();  // whether this processor runs it
    FastKernel run;
};
extern const FastKernelInfo kFastKernels[];
extern const size_t kFastKernelCount;

// Kernel choice: the widest automatic one the processor runs, unless the
// environment variable STREUWOLKE_SIMD names one it runs ("baseline", "avx2",
// "avx2-16", "avx512") when the library loads. An unknown name leaves the
// choice to the library.
FastKernel bestFastKernel();
// The kernel bestFastKernel chose when the library loaded.
FastKernel chosenFastKernel();

struct FastStats {
    uint64_t laneBlocks = 0;
    uint64_t perSampleLaneBlocks = 0;
    uint64_t gatheredLaneBlocks = 0;
    uint64_t referenceCalls = 0;  // whole calls handed to the per-sample code
    uint64_t recoveries = 0;      // calls after which a line's state was not finite
};

// The output stage through the given kernel: any number of frames, the same
// result as Engine::processReference. Stats may be null.
void processFast(Engine& engine, const float* input, float* outLeft, float* outRight, uint32_t frames,
    FastKernel kernel, FastStats* stats);
