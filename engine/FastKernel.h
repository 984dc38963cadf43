// The sub-block kernel, written once for every width and instruction set.
// A kernel translation unit includes it after its target switch and runs
// runFastLanes<W, isa> from its entry point. Everything here has internal
// linkage, and the line steps it runs (LineSteps.h) are always inlined, so
// no code built for a wider instruction set can be shared with the baseline
// build.
//
// The float operations are the line steps DelayLine::tick runs, on vectors
// of lanes or of samples; only the scheduling differs.
//
// Vectors are W floats wide (VecOps.h); the sixteen lanes or samples are
// walked in chunks of W.
#pragma once

#include <cstdint>

#include "FastPath.h"
#include "LineSteps.h"
#include "VecOps.h"

namespace {

constexpr int32_t kRing = static_cast<int32_t>(kRingSize);
constexpr int32_t kGuard = static_cast<int32_t>(kGuardSlots);
// Window loads cover taps whose offsets from "first tap + t" differ by at
// most this much within a sub-block; modulation and length changes move them
// by one or two.
constexpr int32_t kMaxTapSpread = 4;

static_assert(kFastLanes == 16 && kFastBlock == 16, "the scratch and transposes are 16 x 16");

struct alignas(64) Scratch {
    union {
        int32_t index[16][16];  // [t][lane]: first tap slot
        float dampIn[16][16];   // [t][lane]: v on its way to the damping filters
    };
    int32_t indexT[16][16];     // [lane][t], for lanes that are not plain
    union {
        float frac[16][16];     // [t][lane]: fraction of the read point
        float writtenT[16][16]; // [lane][t]: what enters the ring
    };
    float fracT[16][16];        // [lane][t]
    union {
        float gain[16][16];     // [t][lane]: the feedback in force at sample t
        float written[16][16];  // [t][lane]
    };
    float v[16][16];            // [lane][t]: allpass state to be damped
    int32_t startWrite[16];
    int32_t conflict[16];       // mask: taps reach into this sub-block's writes
    int32_t changed[16];        // mask: the feedback changes within the sub-block
    int32_t spanLo[16];         // least and greatest first tap slot less t
    int32_t spanHi[16];
    int32_t plain[16];          // mask: taps in step with t, clear of this sub-block's writes
};

// Where the first taps of the sixteen samples lie relative to "first tap of
// sample 0, plus t": they move with the write index give or take a slot.
struct TapSpread {
    int32_t lo, hi;
};

[[gnu::always_inline]] inline TapSpread tapSpread(const Scratch& S, int lane)
{
    const int32_t i0 = S.index[0][lane];
    return {S.spanLo[lane] - i0, S.spanHi[lane] - i0};
}

// Whether a tap of this sub-block reads a slot written earlier in it: the
// six slots i..i+5 of sample t, taken modulo the ring (the guard slots alias
// 0..4), against the slots w0..w0+t-1.
[[gnu::always_inline]] inline bool readsOwnWrites(const Scratch& S, int lane, const TapSpread& spread, int n)
{
    const int32_t* index = S.indexT[lane];
    const int32_t w0 = S.startWrite[lane];
    int32_t a = index[0] - w0;
    if (a < 0)
        a += kRing;
    // Every slot read lies at a + t + delta + m (m < 6) from w0: when none of
    // these reaches below 15 or past the ring, no sample can meet its writes.
    if (a + spread.lo >= 16 && a + spread.hi + 20 < kRing)
        return false;
    for (int t = 1; t < n; ++t) {
        int32_t rel = index[t] - w0;
        if (rel < 0)
            rel += kRing;
        int32_t q = rel + kGuard;
        if (q >= kRing)
            q -= kRing;
        if (q < t + kGuard)
            return true;
    }
    return false;
}

template <typename V>
struct LaneKernel {
    using nf = typename V::F;
    using ni = typename V::I;
    static constexpr int W = kLanesOf<nf>;
    static constexpr int kChunks = kFastLanes / W;
    static_assert(kChunks * W == kFastLanes, "the lanes split into whole vectors");

    // dst = transpose of the first rowBlocks x colBlocks blocks of src; both
    // are 16 x 16 matrices of 32-bit values.
    [[gnu::always_inline]] static void transpose(const void* src, void* dst, int rowBlocks, int colBlocks)
    {
        const char* s = static_cast<const char*>(src);
        char* d = static_cast<char*>(dst);
        constexpr int kRow = 16 * 4;
        FAST_UNROLL
        for (int bi = 0; bi < kChunks; ++bi) {
            FAST_UNROLL
            for (int bj = 0; bj < kChunks; ++bj) {
                if (bi >= rowBlocks || bj >= colBlocks)
                    continue;
                nf r[W];
                FAST_UNROLL
                for (int k = 0; k < W; ++k)
                    r[k] = load<nf>(s + (bi * W + k) * kRow + bj * W * 4);
                V::transposeBlock(r);
                FAST_UNROLL
                for (int k = 0; k < W; ++k)
                    store(d + (bj * W + k) * kRow + bi * W * 4, r[k]);
            }
        }
    }

    // The control part of tick for W lanes, sample by sample: LFO, read
    // point, write index, length change, read pointer advance. It does not
    // depend on the signal, so it runs ahead of the audio. Samples from
    // `frames` to 15 continue the read point without changing any state, so
    // that short sub-blocks can run the same vector code. The first chunk
    // also runs the input filters, a recursion of their own that overlaps
    // with this one.
    [[gnu::always_inline]] static void controlChunk(FastLanes& L, Scratch& S, int o, bool withInput)
    {
        const float hpCoef = L.inputHighpassCoef;
        const float lpCoef = L.inputLowpassCoef;
        float hpState = L.inputHighpassState;
        float lpState = L.inputLowpassState;
        const int n = static_cast<int>(L.frames);
        const nf inc = load<nf>(L.lfoIncrement + o);
        const nf depth = load<nf>(L.modDepth + o);
        const ni active = load<ni>(L.active + o);
        nf phase = load<nf>(L.lfoPhase + o);
        nf r = load<nf>(L.readPos + o);
        nf speed = load<nf>(L.readSpeed + o);
        nf feedback = load<nf>(L.feedback + o);
        ni w = load<ni>(L.writeIndex + o);
        const ni w0 = w;
        ni resizing = load<ni>(L.resizing + o);
        ni length = load<ni>(L.length + o);
        ni target = load<ni>(L.targetLength + o);
        ni pending = load<ni>(L.pendingLength + o);
        const bool control = V::any(active & (resizing | (pending != 0)));
        ni changed = ni{};
        ni spanLo = ni{} + 0x7fffffff;
        ni spanHi = ni{} - 0x7fffffff;

        // LFO and read point of one sample: the first tap slot and the fraction.
        auto tapPoint = [&](int t) __attribute__((always_inline)) {
            phase = stepLfo(phase, inc);
            const TapPoint<nf> at = splitReadPoint(readPoint(r, modulationOffset(phase, depth, length)));
            store(S.index[t] + o, at.index);
            store(S.frac[t] + o, at.fraction);
            store(S.gain[t] + o, feedback);
            const ni moved = at.index - t;
            spanLo = (moved < spanLo) ? moved : spanLo;
            spanHi = (moved > spanHi) ? moved : spanHi;
        };

        for (int t = 0; t < n; ++t) {
            if (withInput)
                L.input[t] = stepFilterPair(guardInput(L.dry[t]), hpCoef, lpCoef, hpState, lpState);
            tapPoint(t);
            w = nextWriteIndex(w);
            if (control) {
                length = sel(resizing, lineDistance(r, w), length);
                const ni event = active & ((resizing & (length == target)) | (~resizing & (pending != 0)));
                if (V::any(event)) {
                    store(L.resizing + o, resizing);
                    store(L.length + o, length);
                    store(L.targetLength + o, target);
                    store(L.pendingLength + o, pending);
                    store(L.readSpeed + o, speed);
                    store(L.feedback + o, feedback);
                    FAST_UNROLL
                    for (int j = 0; j < W; ++j)
                        if (event[j])
                            fastLengthEvent(L, o + j, t);
                    resizing = load<ni>(L.resizing + o);
                    target = load<ni>(L.targetLength + o);
                    pending = load<ni>(L.pendingLength + o);
                    speed = load<nf>(L.readSpeed + o);
                    feedback = load<nf>(L.feedback + o);
                    changed |= event;
                }
            }
            r = nextReadPos(r, speed);
        }
        store(L.lfoPhase + o, phase);
        store(L.readPos + o, r);
        store(L.writeIndex + o, w);
        store(L.length + o, length);
        store(L.resizing + o, resizing);
        store(L.targetLength + o, target);
        store(L.pendingLength + o, pending);
        store(L.readSpeed + o, speed);
        store(L.feedback + o, feedback);
        store(S.startWrite + o, w0);
        store(S.changed + o, changed);
        if (withInput) {
            L.inputHighpassState = hpState;
            L.inputLowpassState = lpState;
            for (int t = n; t < 16; ++t)
                L.input[t] = 0.0f;
        }

        for (int t = n; t < 16; ++t) {
            tapPoint(t);
            r = nextReadPos(r, speed);
        }
        store(S.spanLo + o, spanLo);
        store(S.spanHi + o, spanHi);

        // The common case, decided for all lanes at once: every first tap is
        // i0 + t (then spanLo is i0), the loads stay inside the ring, and the
        // six slots of sample t, i0 + t .. i0 + t + 5, are not among the t
        // slots written before, w0 .. w0 + t - 1. In step with the writes
        // they can only meet those when they trail them by less than 21 slots
        // around the ring.
        const ni i0 = load<ni>(S.index[0] + o);
        ni ahead = i0 - w0;
        ahead = ahead + (kRing & (ahead < 0));
        store(S.plain + o, (spanLo == spanHi) & (i0 + 20 < kRing + kGuard) & (ahead + 20 < kRing));
    }

    // The feedback of sample chunk k of a lane: the same for all sixteen
    // samples unless a length change ended within the sub-block.
    struct Gains {
        bool changes;
        nf first;
        alignas(64) float each[16];
    };

    [[gnu::always_inline]] static void gainsOf(const Scratch& S, int lane, Gains& gains)
    {
        gains.changes = S.changed[lane] != 0;
        if (gains.changes)
            for (int t = 0; t < 16; ++t)
                gains.each[t] = S.gain[t][lane];
        gains.first = splat<nf>(S.gain[0][lane]);
    }

    // The allpass of W samples of a lane, with the taps y: its output, and
    // v kept for the damping pass.
    [[gnu::always_inline]] static void allpassChunk(Scratch& S, int lane, int k, const nf (&y)[6],
        const Gains& gains, const float* in, float* out)
    {
        const nf g = gains.changes ? load<nf>(gains.each + k * W) : gains.first;
        const nf s = spline(y[0], y[1], y[2], y[3], y[4], y[5], load<nf>(S.fracT[lane] + k * W));
        const nf v = allpassState(load<nf>(in + k * W), g, s);
        store(S.v[lane] + k * W, v);
        store(out + k * W, allpassOutput(s, g, v));
    }

    // One line over the sub-block: taps, spline and allpass as vectors in
    // time; its v goes to the damping pass. With the tap spread small, a few
    // unaligned loads and selects find the taps; wider spreads (a wrap of
    // the read point) fetch them one by one.
    [[gnu::always_inline]] static void vectorLane(FastLanes& L, Scratch& S, int lane, const TapSpread& spread,
        const float* in, float* out)
    {
        const float* buffer = L.buffer[lane];
        const int32_t i0 = S.index[0][lane];
        const int32_t lo = spread.lo;
        const int32_t hi = spread.hi;
        const bool window = hi - lo <= kMaxTapSpread && i0 + lo >= 0 && i0 + hi + 20 < kRing + kGuard;
        const int32_t* index = S.indexT[lane];
        alignas(64) float taps[6][16];
        if (!window) {
            ++L.gatheredLaneBlocks;
            for (int t = 0; t < 16; ++t)
                FAST_UNROLL
                for (int m = 0; m < 6; ++m)
                    taps[m][t] = buffer[index[t] + m];
        }
        Gains gains;
        gainsOf(S, lane, gains);

        FAST_UNROLL
        for (int k = 0; k < kChunks; ++k) {
            nf y[6];
            const float* base = buffer + i0 + k * W + lo;
            if (window && hi == lo) {
                FAST_UNROLL
                for (int m = 0; m < 6; ++m)
                    y[m] = load<nf>(base + m);
            } else if (window && hi == lo + 1) {
                const ni later = (load<ni>(index + k * W) - (ramp<ni>() + (i0 + k * W)) == hi);
                nf next = load<nf>(base);
                FAST_UNROLL
                for (int m = 0; m < 6; ++m) {
                    const nf here = next;
                    next = load<nf>(base + m + 1);
                    y[m] = sel(later, next, here);
                }
            } else if (window) {
                FAST_UNROLL
                for (int m = 0; m < 6; ++m)
                    y[m] = load<nf>(base + m);
                const ni delta = load<ni>(index + k * W) - (ramp<ni>() + (i0 + k * W));
                for (int32_t d = 1; d <= hi - lo; ++d) {
                    const ni at = (delta == lo + d);
                    FAST_UNROLL
                    for (int m = 0; m < 6; ++m)
                        y[m] = sel(at, load<nf>(base + d + m), y[m]);
                }
            } else {
                FAST_UNROLL
                for (int m = 0; m < 6; ++m)
                    y[m] = load<nf>(taps[m] + k * W);
            }
            allpassChunk(S, lane, k, y, gains, in, out);
        }
    }

    // The common case of vectorLane: six aligned-in-time loads per chunk.
    [[gnu::always_inline]] static void plainLane(FastLanes& L, Scratch& S, int lane, const float* in, float* out)
    {
        const float* base = L.buffer[lane] + S.spanLo[lane];
        // The next sub-blocks read further on; the ring is too big to stay close.
        __builtin_prefetch(base + 64);
        Gains gains;
        gainsOf(S, lane, gains);
        FAST_UNROLL
        for (int k = 0; k < kChunks; ++k) {
            nf y[6];
            FAST_UNROLL
            for (int m = 0; m < 6; ++m)
                y[m] = load<nf>(base + k * W + m);
            allpassChunk(S, lane, k, y, gains, in, out);
        }
    }

    // A lane whose taps reach into this sub-block's writes runs tick's signal
    // part sample by sample, reading and writing its ring in turn.
    [[gnu::always_inline]] static void perSampleLane(FastLanes& L, Scratch& S, int lane, const float* in, float* out)
    {
        float* buffer = L.buffer[lane];
        const float hc = L.highpassCoef[lane];
        const float lc = L.lowpassCoef[lane];
        const float wg = L.writeGain[lane];
        float hs = L.highpassState[lane];
        float lp = L.lowpassState[lane];
        int32_t w = S.startWrite[lane];
        const int n = static_cast<int>(L.frames);
        for (int t = 0; t < 16; ++t)
            out[t] = 0.0f;
        for (int t = 0; t < n; ++t) {
            const float s = splineAt(buffer + S.indexT[lane][t], S.fracT[lane][t]);
            const float g = S.gain[t][lane];
            const float v = allpassState(in[t], g, s);
            out[t] = allpassOutput(s, g, v);
            writeRing(buffer, w, dampedWrite(v, hc, lc, wg, hs, lp));
            w = nextWriteIndex(w);
        }
        L.highpassState[lane] = hs;
        L.lowpassState[lane] = lp;
        for (int t = 0; t < 16; ++t)
            S.v[lane][t] = 0.0f;
        ++L.perSampleLaneBlocks;
    }

    // The damping filters of the vector lanes, sample by sample across
    // lanes, then their ring writes.
    [[gnu::always_inline]] static void dampingPass(FastLanes& L, Scratch& S, int chunks)
    {
        const int n = static_cast<int>(L.frames);
        transpose(S.v, S.dampIn, chunks, kChunks);
        // All chunks step together, so their recursions overlap.
        nf hs[kChunks], lp[kChunks];
        FAST_UNROLL
        for (int c = 0; c < kChunks; ++c) {
            hs[c] = load<nf>(L.highpassState + c * W);
            lp[c] = load<nf>(L.lowpassState + c * W);
        }
        for (int t = 0; t < n; ++t) {
            FAST_UNROLL
            for (int c = 0; c < kChunks; ++c) {
                if (c < chunks) {
                    const int o = c * W;
                    store(S.written[t] + o, dampedWrite(load<nf>(S.dampIn[t] + o), load<nf>(L.highpassCoef + o),
                        load<nf>(L.lowpassCoef + o), load<nf>(L.writeGain + o), hs[c], lp[c]));
                }
            }
        }
        FAST_UNROLL
        for (int c = 0; c < kChunks; ++c) {
            if (c < chunks) {
                const int o = c * W;
                for (int t = n; t < 16; ++t)
                    store(S.written[t] + o, nf{});
                const ni active = load<ni>(L.active + o);
                const ni vectorLanes = active & ~load<ni>(S.conflict + o);
                const nf hsEnd = sel(vectorLanes, hs[c], load<nf>(L.highpassState + o));
                const nf lpEnd = sel(vectorLanes, lp[c], load<nf>(L.lowpassState + o));
                store(L.highpassState + o, hsEnd);
                store(L.lowpassState + o, lpEnd);
                if (V::any(active & (nonFinite(hsEnd) | nonFinite(lpEnd))))
                    L.nonFinite = true;
            }
        }
        transpose(S.written, S.writtenT, kChunks, chunks);
        for (int lane = 0; lane < chunks * W; ++lane) {
            if (!L.active[lane] || S.conflict[lane])
                continue;
            float* buffer = L.buffer[lane];
            const float* row = S.writtenT[lane];
            const int32_t w0 = S.startWrite[lane];
            // Clear of the guard slots and of the wrap, the row goes in whole.
            if (w0 >= kGuard && w0 + n <= kRing) {
                __builtin_prefetch(buffer + w0 + 64, 1);
                if (n == 16)
                    __builtin_memcpy(buffer + w0, row, sizeof(float) * 16);
                else
                    __builtin_memcpy(buffer + w0, row, sizeof(float) * static_cast<unsigned>(n));
                continue;
            }
            int32_t w = w0;
            for (int t = 0; t < n; ++t) {
                writeRing(buffer, w, row[t]);
                w = nextWriteIndex(w);
            }
        }
    }

    static void run(FastLanes& L)
    {
        Scratch S;
        // The glue hands over at most eight lines per bank, sixteen lanes;
        // the bound lets the compiler see that too.
        const uint32_t count = L.count[0] > L.count[1] ? L.count[0] : L.count[1];
        const int chunks = count <= kFastLanes / 2 ? static_cast<int>((2 * count + W - 1) / W) : kChunks;
        controlChunk(L, S, 0, true);
        for (int c = 1; c < chunks; ++c)
            controlChunk(L, S, c * W, false);
        transpose(S.frac, S.fracT, kChunks, chunks);
        // The other lanes need their first taps sample by sample.
        ni others = ni{};
        for (int c = 0; c < chunks; ++c)
            others |= load<ni>(L.active + c * W) & ~load<ni>(S.plain + c * W);
        if (V::any(others))
            transpose(S.index, S.indexT, kChunks, chunks);

        for (int lane = 0; lane < kFastLanes; ++lane)
            S.conflict[lane] = 0;
        const int n = static_cast<int>(L.frames);
        for (int bank = 0; bank < 2; ++bank) {
            // Series: each line's output is the next one's input. Parallel:
            // every line gets the input and the outputs add up from +0.0 in
            // line order.
            alignas(64) float buffers[2][16], sum[16] = {};
            const float* in = L.input;
            for (uint32_t k = 0; k < L.count[bank]; ++k) {
                const int lane = static_cast<int>(2 * k) + bank;
                float* out = buffers[k & 1];
                const TapSpread spread = tapSpread(S, lane);
                if (S.plain[lane]) {
                    plainLane(L, S, lane, in, out);
                } else if (readsOwnWrites(S, lane, spread, n)) {
                    S.conflict[lane] = -1;
                    perSampleLane(L, S, lane, in, out);
                } else {
                    vectorLane(L, S, lane, spread, in, out);
                }
                if (L.parallel[bank]) {
                    FAST_UNROLL
                    for (int c = 0; c < kChunks; ++c)
                        store(sum + c * W, load<nf>(sum + c * W) + load<nf>(out + c * W));
                } else {
                    in = out;
                }
            }
            __builtin_memcpy(L.wet[bank], L.parallel[bank] ? sum : in, sizeof sum);
        }
        for (int lane = 0; lane < chunks * W; ++lane)
            if (!L.active[lane])
                for (int t = 0; t < 16; ++t)
                    S.v[lane][t] = 0.0f;
        L.laneBlocks += L.count[0] + L.count[1];
        dampingPass(L, S, chunks);
    }
};

// The kernel of width W for instruction set isa: what a kernel translation
// unit's entry point runs.
template <int W, Isa isa>
void runFastLanes(FastLanes& L)
{
    LaneKernel<VecOps<W, isa>>::run(L);
}

}  // namespace
