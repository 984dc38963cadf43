#include "FastPath.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "Engine.h"
#include "Feedback.h"

// The length-change step of tick for one lane, on the lane record: the end
// of a change (the new length was met) or the take-up of a pending request.
void fastLengthEvent(FastLanes& L, int lane, int t)
{
    if (L.resizing[lane]) {
        const uint64_t length = static_cast<uint64_t>(L.length[lane]);
        L.resizing[lane] = 0;
        L.readSpeed[lane] = 1.0f;
        L.feedback[lane] = feedbackAtResizeEnd(L.decayMs, L.sampleRate, length);
        L.endedLanes[t] |= 1u << lane;
        L.anyEnded = true;
        L.endedFeedback[t][lane] = L.feedback[lane];
        L.endedLength[t][lane] = L.length[lane];
        return;
    }
    if (takeUpRequest(L.pendingLength[lane], L.length[lane], L.targetLength[lane], L.readSpeed[lane]))
        L.resizing[lane] = -1;
}

// The kernels' entry points, each in a translation unit of its own.
void fastKernelBaseline(FastLanes& lanes);
#if defined(__x86_64__)
void fastKernelAvx2(FastLanes& lanes);
void fastKernelAvx2x16(FastLanes& lanes);
void fastKernelAvx512(FastLanes& lanes);
#endif

namespace {

bool always()
{
    return true;
}

#if defined(__x86_64__)
bool runsAvx2()
{
    __builtin_cpu_init();  // may run before the constructor that would do it
    return __builtin_cpu_supports("avx2");
}

bool runsAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
}
#endif

}  // namespace

extern const FastKernelInfo kFastKernels[] = {
    {"baseline", 4, true, always, fastKernelBaseline},
#if defined(__x86_64__)
    {"avx2", 8, true, runsAvx2, fastKernelAvx2},
    {"avx2-16", 16, false, runsAvx2, fastKernelAvx2x16},
    {"avx512", 16, true, runsAvx512, fastKernelAvx512},
#endif
};
extern const size_t kFastKernelCount = std::size(kFastKernels);

FastKernel bestFastKernel()
{
    const char* simd = std::getenv("STREUWOLKE_SIMD");
    const FastKernelInfo* best = nullptr;
    for (const FastKernelInfo& kernel : kFastKernels) {
        if (!kernel.available())
            continue;
        if (simd != nullptr && std::strcmp(simd, kernel.name) == 0)
            return kernel.run;
        // Of equal widths the later row wins.
        if (kernel.automatic && (best == nullptr || kernel.width >= best->width))
            best = &kernel;
    }
    return best->run;  // the baseline always runs
}

namespace {

// Chosen once, when the library loads, never on the audio thread.
const FastKernel g_kernel = bestFastKernel();

} // namespace

FastKernel chosenFastKernel()
{
    return g_kernel;
}

namespace {

// Copies the lines into the lane record. False when a line holds values the
// lane record cannot carry (never the case for values the setters and tick
// produce); the per-sample code then does the whole call.
bool gatherLanes(Engine& engine, FastLanes& L)
{
    const LineBank* banks[2] = {&engine.left, &engine.right};
    if (engine.left.count > kMaxLines || engine.right.count > kMaxLines)
        return false;
    // The lanes of lines beyond the count run along without effect; zeros
    // keep them in range.
    std::memset(&L, 0, offsetof(FastLanes, dry));
    L.count[0] = static_cast<uint32_t>(engine.left.count);
    L.count[1] = static_cast<uint32_t>(engine.right.count);
    L.parallel[0] = engine.left.parallel;
    L.parallel[1] = engine.right.parallel;
    L.pendingFrames = 0;
    // The one-line road writes only lanes 0 and 1 of the pending damping.
    std::memset(L.pendingIn, 0, sizeof L.pendingIn);
    for (uint32_t& lanes : L.endedLanes)
        lanes = 0;
    uint64_t lengths = 0;
    uint64_t requests = 0;
    for (int b = 0; b < 2; ++b) {
        for (uint32_t k = 0; k < L.count[b]; ++k) {
            const int lane = 2 * static_cast<int>(k) + b;
            DelayLine& line = const_cast<DelayLine&>(banks[b]->lines[k]);
            // Every line that is copied in runs in the call.
            line.fresh = false;
            L.line[lane] = &line;
            L.buffer[lane] = line.buffer;
            lengths |= line.length | line.targetLength;
            requests |= line.pendingLength;
            L.lfoPhase[lane] = line.lfoPhase;
            L.lfoIncrement[lane] = line.lfoIncrement;
            L.modDepth[lane] = line.modDepth;
            L.readPos[lane] = line.readPos;
            L.readSpeed[lane] = line.readSpeed;
            L.feedback[lane] = line.feedback;
            L.highpassCoef[lane] = line.highpassCoef;
            L.lowpassCoef[lane] = line.lowpassCoef;
            L.writeGain[lane] = line.writeGain;
            L.writeIndex[lane] = static_cast<int32_t>(line.writeIndex);
            L.length[lane] = static_cast<int32_t>(line.length);
            L.targetLength[lane] = static_cast<int32_t>(line.targetLength);
            L.pendingLength[lane] = static_cast<int32_t>(line.pendingLength);
            L.resizing[lane] = line.resizing ? -1 : 0;
            L.active[lane] = -1;
        }
    }
    // Lengths must fit the lanes' 32-bit integers (a request can be any
    // number). The write index and read pointer stay in the ring by
    // construction.
    return ((lengths | requests) >> 31) == 0;
}

// The lines whose lanes are in use, lane by lane.
template <typename Visit>
void forEachLine(FastLanes& L, Visit visit)
{
    for (int b = 0; b < 2; ++b)
        for (uint32_t k = 0; k < L.count[b]; ++k) {
            const int lane = 2 * static_cast<int>(k) + b;
            visit(lane, *L.line[lane]);
        }
}

// The damping states, which the records hold between calls.
void gatherDampingStates(FastLanes& L)
{
    forEachLine(L, [&](int lane, DelayLine& line) {
        L.highpassState[lane] = line.highpassState;
        L.lowpassState[lane] = line.lowpassState;
    });
}

void scatterDampingStates(FastLanes& L)
{
    forEachLine(L, [&](int lane, DelayLine& line) {
        line.highpassState = L.highpassState[lane];
        line.lowpassState = L.lowpassState[lane];
    });
}

// Whether a length change is running or requested on a lane.
bool lengthWork(const FastLanes& L)
{
    int32_t work = 0;
    for (int lane = 0; lane < kFastLanes; ++lane)
        work |= L.resizing[lane] | L.pendingLength[lane];
    return work != 0;
}

// The length-change fields, and the feedback a change ends with.
void scatterLengthFields(FastLanes& L)
{
    forEachLine(L, [&](int lane, DelayLine& line) {
        line.readSpeed = L.readSpeed[lane];
        line.feedback = L.feedback[lane];
        line.length = static_cast<uint64_t>(L.length[lane]);
        line.targetLength = static_cast<uint64_t>(L.targetLength[lane]);
        line.pendingLength = static_cast<uint64_t>(L.pendingLength[lane]);
        line.resizing = L.resizing[lane] != 0;
    });
}

// The pending damping of the last sub-block, line by line on the records:
// the same steps the kernels run on vectors.
void finishPendingDamping(FastLanes& L)
{
    const uint32_t n = L.pendingFrames;
    forEachLine(L, [&](int lane, DelayLine& line) {
        if (!L.pendingLanes[lane])
            return;
        int32_t w = L.pendingWrite[lane];
        for (uint32_t t = 0; t < n; ++t) {
            writeRing(line.buffer, w, dampedWrite(L.pendingIn[t][lane], line.highpassCoef, line.lowpassCoef,
                line.writeGain, line.highpassState, line.lowpassState));
            w = nextWriteIndex(w);
        }
    });
    L.pendingFrames = 0;
}

// One channel of the dry/wet mix of a sub-block, four samples at a time (the
// compiler leaves the plain loop scalar at -O2); the same products and sum as
// the per-sample code, sample by sample.
void mixInto(float* out, const float* dry, const float* wet, float dryGain, float wetGain)
{
    typedef float Quad __attribute__((vector_size(16)));
    for (int t = 0; t < kFastBlock; t += 4) {
        Quad d, w;
        std::memcpy(&d, dry + t, sizeof d);
        std::memcpy(&w, wet + t, sizeof w);
        const Quad mixed = dryGain * d + wetGain * w;
        std::memcpy(out + t, &mixed, sizeof mixed);
    }
}

// The feedback of the length changes that ended in the last kernel call, in
// the order the per-sample code records them: by sample, then left bank
// before right, then line by line.
void recordEndedChanges(FastLanes& L, LogEvents& events)
{
    for (uint32_t t = 0; t < L.frames; ++t) {
        if (L.endedLanes[t] == 0)
            continue;
        for (int b = 0; b < 2; ++b)
            for (uint32_t k = 0; k < L.count[b]; ++k) {
                const int lane = 2 * static_cast<int>(k) + b;
                if (L.endedLanes[t] & (1u << lane))
                    events.recordFeedback(L.endedFeedback[t][lane], static_cast<uint64_t>(L.endedLength[t][lane]));
            }
        L.endedLanes[t] = 0;
    }
    L.anyEnded = false;
}

}  // namespace

static_assert(kFastBlock == kSubBlockFrames, "a kernel call is one sub-block");

void fastRecoverLanes(FastLanes& L)
{
    forEachLine(L, [&](int lane, DelayLine& line) {
        if (std::isfinite(L.highpassState[lane]) && std::isfinite(L.lowpassState[lane]))
            return;
        line.clearSignal();
        L.highpassState[lane] = 0.0f;
        L.lowpassState[lane] = 0.0f;
        ++L.recoveries;
    });
}

void syncFastLanes(Engine& engine)
{
    FastLanes& L = engine.lanes;
    if (!L.current)
        return;
    L.current = false;
    // Between calls the pending sub-block is always the last of a call: the
    // clean-up that follows the call comes after its damping.
    finishPendingDamping(L);
    gatherDampingStates(L);
    fastRecoverLanes(L);
    forEachLine(L, [&](int lane, DelayLine& line) {
        line.lfoPhase = L.lfoPhase[lane];
        line.readPos = L.readPos[lane];
        line.writeIndex = static_cast<uint64_t>(L.writeIndex[lane]);
    });
    scatterLengthFields(L);
}

void processFast(Engine& engine, const float* input, float* outLeft, float* outRight, uint32_t frames,
    FastKernel kernel, FastStats* stats)
{
    FastLanes& L = engine.lanes;
    if (frames == 0 || !(L.current || gatherLanes(engine, L))) {
        engine.processReference(input, outLeft, outRight, frames);
        if (stats)
            ++stats->referenceCalls;
        return;
    }
    L.current = true;
    gatherDampingStates(L);
    L.lengthWork = lengthWork(L);
    L.pendingEndsCall = true;
    L.laneBlocks = 0;
    L.perSampleLaneBlocks = 0;
    L.gatheredLaneBlocks = 0;
    L.anyEnded = false;

    L.decayMs = engine.context.decayMs;
    L.sampleRate = engine.context.sampleRate;
    L.inputHighpassCoef = engine.inputHighpassCoef;
    L.inputLowpassCoef = engine.inputLowpassCoef;
    L.inputHighpassState = engine.inputHighpassState;
    L.inputLowpassState = engine.inputLowpassState;
    const float dryGain = engine.dryGain;
    const float wetGain = engine.wetGain;
    forEachSubBlock(frames, [&](uint32_t start, uint32_t n) {
        // All inputs of the sub-block are read before any output is written,
        // so the input may share a buffer with either output. The dry path
        // passes non-finite samples as they came.
        float* dry = L.dry;
        if (n == kFastBlock) {
            std::memcpy(dry, input + start, sizeof L.dry);
        } else {
            for (uint32_t t = 0; t < n; ++t)
                dry[t] = input[start + t];
            for (uint32_t t = n; t < kFastBlock; ++t)
                dry[t] = 0.0f;
        }
        L.frames = n;
        kernel(L);
        L.pendingEndsCall = false;
        if (L.anyEnded)
            recordEndedChanges(L, engine.context.events);
        alignas(16) float left[kFastBlock], right[kFastBlock];
        mixInto(left, dry, L.wet[0], dryGain, wetGain);
        mixInto(right, dry, L.wet[1], dryGain, wetGain);
        if (n == kFastBlock) {
            std::memcpy(outLeft + start, left, sizeof left);
            std::memcpy(outRight + start, right, sizeof right);
        } else {
            std::memcpy(outLeft + start, left, sizeof(float) * n);
            std::memcpy(outRight + start, right, sizeof(float) * n);
        }
    });
    L.pendingEndsCall = true;
    engine.inputHighpassState = L.inputHighpassState;
    engine.inputLowpassState = L.inputLowpassState;
    scatterDampingStates(L);
    if (L.lengthWork)
        scatterLengthFields(L);
    if (stats) {
        stats->laneBlocks += L.laneBlocks;
        stats->perSampleLaneBlocks += L.perSampleLaneBlocks;
        stats->gatheredLaneBlocks += L.gatheredLaneBlocks;
        stats->recoveries += L.recoveries;
    }
    L.recoveries = 0;

    // The same clean-up as the per-sample code, once per call; the lines'
    // part follows the damping of the call's last sub-block, in the next
    // call or in syncFastLanes.
    engine.recoverInputFilter();
}
