// The sub-block kernel, written once for every width and instruction set.
// A kernel translation unit includes it after its target switch and runs
// runFastLanes<W, isa> from its entry point. Everything here has internal
// linkage, and the line steps it runs (LineSteps.h) are always inlined, so
// no code built for a wider instruction set can be shared with the baseline
// build.
//
// The float operations are the line steps DelayLine::tick runs, on vectors
// of lanes or of samples; only the scheduling differs. A sub-block runs in
// three passes:
//   1. the serial pass, one loop over the samples with vectors across lanes:
//      the control of this sub-block (LFO, read point, length change), the
//      input filters, and the damping filters of the previous sub-block,
//      which waited for it (FastLanes::pendingIn); then the previous
//      sub-block's ring writes, before any tap of this one is read;
//   2. the signal pass, line by line with vectors in time: taps, spline and
//      allpass, in series or in parallel;
//   3. its allpass states turned across lanes, waiting for the next serial
//      pass (or for syncFastLanes).
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
    int32_t index[16][16];      // [t][lane]: first tap slot
    float frac[16][16];         // [t][lane]: fraction of the read point
    float gain[16][16];         // [t][lane]: the feedback in force at sample t (row 0 only, unless changed)
    float fracT[16][16];        // [lane][t]
    union {
        float written[16][16];  // [t][lane]: what the previous sub-block writes into the ring
        float v[16][16];        // [lane][t]: allpass state to be damped
    };
    union {
        float writtenT[16][16]; // [lane][t]
        int32_t indexT[16][16]; // [lane][t], for lanes that are not plain
    };
    int32_t startWrite[16];
    int32_t conflict[16];       // mask: taps reach into this sub-block's writes
    int32_t changed[16];        // mask: the feedback changes within the sub-block
    int32_t spanLo[16];         // least and greatest first tap slot less t
    int32_t spanHi[16];
    int32_t plain[16];          // mask: taps in step with t, clear of this sub-block's writes
    int32_t broken[16];         // mask: a damping state is not finite
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
    // Whether the steady pass of a single chunk keeps the lanes' constants
    // in registers. Measured: it pays with 4 and 16 floats a vector; with 8
    // the loads in the loop run faster.
    static constexpr bool kHoistOne = W != 8;

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

    // Rows 0 and 1 of the transpose of a 16 x 16 matrix of 32-bit values
    // ([t][lane] to [lane][t]): all a sub-block needs when only lanes 0 and
    // 1 are in use (one line per bank).
    [[gnu::always_inline]] static void transposeTwo(const void* src, void* dst)
    {
        columnsToRows(src, dst, static_cast<char*>(dst) + 16 * 4);
    }

    // The serial pass of a steady sub-block, all chunks in one loop: a whole
    // sub-block after a whole one, no length change running or requested,
    // so the write index and the feedback are known for the whole
    // sub-block. The lanes that have no damping to do run it all the same
    // and keep their old states at the end. The loop holds little besides
    // the recursions' states, so that they stay in registers, and all
    // chunks' recursions overlap with the input filters'.
    //
    // The LFO phase and the read pointer only grow until they wrap, and most
    // sub-blocks see no wrap: the loop leaves the wrap out (the same
    // additions), and a pass in which one was due runs again with it.
    //
    // kOne: a single chunk is in use (the loop then tests no chunk count);
    // kHoist: its constants are held in registers.
    template <bool kOne, bool kHoist>
    [[gnu::always_inline]] static void steadyPass(FastLanes& L, Scratch& S, int chunks)
    {
        if (kOne)
            chunks = 1;
        alignas(64) float guarded[16];
        FAST_UNROLL
        for (int c = 0; c < kChunks; ++c)
            store(guarded + c * W, guardInput(load<nf>(L.dry + c * W)));
        const float hpCoef = L.inputHighpassCoef;
        const float lpCoef = L.inputLowpassCoef;
        float hpState = L.inputHighpassState;
        float lpState = L.inputLowpassState;
        // All chunks step together, so their recursions overlap too.
        nf phase[kChunks] = {}, r[kChunks] = {}, hs[kChunks] = {}, lp[kChunks] = {};
        FAST_UNROLL
        for (int c = 0; c < kChunks; ++c) {
            if (c < chunks) {
                const int o = c * W;
                phase[c] = load<nf>(L.lfoPhase + o);
                r[c] = load<nf>(L.readPos + o);
                hs[c] = load<nf>(L.highpassState + o);
                lp[c] = load<nf>(L.lowpassState + o);
            }
        }
        // No length changes here: the modulation limit is taken once.
        alignas(64) float reach[16];
        FAST_UNROLL
        for (int c = 0; c < kChunks; ++c)
            store(reach + c * W, modulationReach<nf>(load<ni>(L.length + c * W)));
        // With a single chunk the lanes' constants fit in registers besides
        // the states; the stores of the loop would otherwise have them loaded
        // again sample by sample.
        nf depthOne{}, incOne{}, speedOne{}, hpOne{}, lpOne{}, gainOne{}, reachOne{};
        if (kHoist) {
            depthOne = load<nf>(L.modDepth);
            reachOne = load<nf>(reach);
            incOne = load<nf>(L.lfoIncrement);
            speedOne = load<nf>(L.readSpeed);
            hpOne = load<nf>(L.highpassCoef);
            lpOne = load<nf>(L.lowpassCoef);
            gainOne = load<nf>(L.writeGain);
        }
        auto tapPointAt = [&](int c, int t) __attribute__((always_inline)) {
            const int o = c * W;
            const TapPoint<nf> at = splitReadPoint(readPoint(r[c],
                limitedOffset(phase[c], kHoist ? depthOne : load<nf>(L.modDepth + o),
                    kHoist ? reachOne : load<nf>(reach + o))));
            store(S.index[t] + o, at.index);
            store(S.frac[t] + o, at.fraction);
        };
        for (int t = 0; t < 16; ++t) {
            L.input[t] = stepFilterPair(guarded[t], hpCoef, lpCoef, hpState, lpState);
            FAST_UNROLL
            for (int c = 0; c < kChunks; ++c) {
                if (c < chunks) {
                    const int o = c * W;
                    phase[c] = phase[c] + (kHoist ? incOne : load<nf>(L.lfoIncrement + o));
                    tapPointAt(c, t);
                    r[c] = r[c] + (kHoist ? speedOne : load<nf>(L.readSpeed + o));
                    store(S.written[t] + o, dampedWrite(load<nf>(L.pendingIn[t] + o),
                        kHoist ? hpOne : load<nf>(L.highpassCoef + o), kHoist ? lpOne : load<nf>(L.lowpassCoef + o),
                        kHoist ? gainOne : load<nf>(L.writeGain + o), hs[c], lp[c]));
                }
            }
        }
        L.inputHighpassState = hpState;
        L.inputLowpassState = lpState;
        FAST_UNROLL
        for (int c = 0; c < kChunks; ++c) {
            if (c >= chunks)
                continue;
            const int o = c * W;
            if (V::any((ni)((phase[c] >= 1.0f) | (r[c] >= kRingSizeF)))) {
                const nf inc = load<nf>(L.lfoIncrement + o);
                const nf speed = load<nf>(L.readSpeed + o);
                phase[c] = load<nf>(L.lfoPhase + o);
                r[c] = load<nf>(L.readPos + o);
                for (int t = 0; t < 16; ++t) {
                    phase[c] = stepLfo(phase[c], inc);
                    tapPointAt(c, t);
                    r[c] = nextReadPos(r[c], speed);
                }
            }
            store(L.lfoPhase + o, phase[c]);
            store(L.readPos + o, r[c]);
            const ni damped = load<ni>(L.pendingLanes + o);
            store(L.highpassState + o, sel(damped, hs[c], load<nf>(L.highpassState + o)));
            store(L.lowpassState + o, sel(damped, lp[c], load<nf>(L.lowpassState + o)));
            const ni w0 = load<ni>(L.writeIndex + o);
            store(S.startWrite + o, w0);
            const ni w = w0 + 16;
            store(L.writeIndex + o, sel(w >= kRing, w - kRing, w));
            store(S.gain[0] + o, load<nf>(L.feedback + o));
            store(S.changed + o, ni{});
            finishChunk(L, S, o);
        }
    }

    // Whether the chunks qualify for steadyPass.
    [[gnu::always_inline]] static bool steady(const FastLanes& L, int chunks)
    {
        if (L.frames != 16 || L.pendingFrames != 16)
            return false;
        ni work = ni{};
        for (int c = 0; c < chunks; ++c) {
            const int o = c * W;
            work |= load<ni>(L.active + o) & (load<ni>(L.resizing + o) | (load<ni>(L.pendingLength + o) != 0));
        }
        return !V::any(work);
    }

    // The serial pass for the W lanes from o on, sample by sample: the
    // control part of tick (LFO, read point, write index, length change,
    // read pointer advance), which does not depend on the signal; the
    // damping of the previous sub-block's allpass states; and in the first
    // chunk the input filters. The three recursions are independent, so
    // they overlap. Samples from `frames` to 15 continue the read point
    // without changing any state, so that short sub-blocks can run the same
    // vector code.
    [[gnu::always_inline]] static void serialChunk(FastLanes& L, Scratch& S, int o, bool withInput)
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
        const int pn = static_cast<int>(L.pendingFrames);
        ni changed = ni{};

        // The previous sub-block's damping, on its vector lanes.
        const ni damped = load<ni>(L.pendingLanes + o);
        const bool damping = pn > 0 && V::any(damped);
        const nf hpCoefs = load<nf>(L.highpassCoef + o);
        const nf lpCoefs = load<nf>(L.lowpassCoef + o);
        const nf writeGain = load<nf>(L.writeGain + o);
        const nf hsBefore = load<nf>(L.highpassState + o);
        const nf lpBefore = load<nf>(L.lowpassState + o);
        nf hs = hsBefore;
        nf lp = lpBefore;

        // The input filters' recursion; the guard on its input runs ahead
        // on vectors.
        alignas(64) float guarded[16];
        if (withInput)
            FAST_UNROLL
            for (int c = 0; c < kChunks; ++c)
                store(guarded + c * W, guardInput(load<nf>(L.dry + c * W)));
        auto input = [&](int t) __attribute__((always_inline)) {
            if (withInput)
                L.input[t] = stepFilterPair(guarded[t], hpCoef, lpCoef, hpState, lpState);
        };
        // Without length work the length holds still: its limit is taken once.
        const nf steadyReach = modulationReach<nf>(length);
        // The read point of one sample at the LFO phase: the first tap slot
        // and the fraction.
        auto tapPointAt = [&](int t) __attribute__((always_inline)) {
            const nf offset = control ? modulationOffset(phase, depth, length) : limitedOffset(phase, depth, steadyReach);
            const TapPoint<nf> at = splitReadPoint(readPoint(r, offset));
            store(S.index[t] + o, at.index);
            store(S.frac[t] + o, at.fraction);
            if (control)
                store(S.gain[t] + o, feedback);
        };
        // The same one sample on.
        auto tapPoint = [&](int t) __attribute__((always_inline)) {
            phase = stepLfo(phase, inc);
            tapPointAt(t);
        };
        auto dampAll = [&](int t) __attribute__((always_inline)) {
            store(S.written[t] + o, dampedWrite(load<nf>(L.pendingIn[t] + o), hpCoefs, lpCoefs, writeGain, hs, lp));
        };
        auto damp = [&](int t) __attribute__((always_inline)) {
            if (damping && t < pn)
                dampAll(t);
        };
        // The length-change state back into the lane record, for
        // fastLengthEvent and for the next call.
        auto storeLengthState = [&]() __attribute__((always_inline)) {
            store(L.resizing + o, resizing);
            store(L.length + o, length);
            store(L.targetLength + o, target);
            store(L.pendingLength + o, pending);
            store(L.readSpeed + o, speed);
            store(L.feedback + o, feedback);
        };

        if (!control) {
            for (int t = 0; t < n; ++t) {
                input(t);
                tapPoint(t);
                r = nextReadPos(r, speed);
                damp(t);
            }
            w = w + n;
            w = sel(w >= kRing, w - kRing, w);
            store(S.gain[0] + o, feedback);
        } else {
            for (int t = 0; t < n; ++t) {
                input(t);
                tapPoint(t);
                w = nextWriteIndex(w);
                length = sel(resizing, lineDistance(r, w), length);
                const ni event = active & ((resizing & (length == target)) | (~resizing & (pending != 0)));
                if (V::any(event)) {
                    storeLengthState();
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
                r = nextReadPos(r, speed);
                damp(t);
            }
        }
        store(L.lfoPhase + o, phase);
        store(L.readPos + o, r);
        store(L.writeIndex + o, w);
        store(S.startWrite + o, w0);
        store(S.changed + o, changed);
        if (control)
            storeLengthState();
        if (withInput) {
            L.inputHighpassState = hpState;
            L.inputLowpassState = lpState;
            for (int t = n; t < 16; ++t)
                L.input[t] = 0.0f;
        }

        for (int t = n; t < 16; ++t) {
            tapPoint(t);
            r = nextReadPos(r, speed);
            damp(t);
        }
        if (damping) {
            store(L.highpassState + o, sel(damped, hs, hsBefore));
            store(L.lowpassState + o, sel(damped, lp, lpBefore));
        }
        finishChunk(L, S, o);
    }

    // What both serial passes leave to the end: how far the first taps
    // stray from i0 + t, which lanes take the common road, and which have a
    // damping state that is no longer finite.
    [[gnu::always_inline]] static void finishChunk(FastLanes& L, Scratch& S, int o)
    {
        ni spanLo = load<ni>(S.index[0] + o);
        ni spanHi = spanLo;
        FAST_UNROLL
        for (int t = 1; t < 16; ++t) {
            const ni moved = load<ni>(S.index[t] + o) - t;
            spanLo = (moved < spanLo) ? moved : spanLo;
            spanHi = (moved > spanHi) ? moved : spanHi;
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
        ni ahead = i0 - load<ni>(S.startWrite + o);
        ahead = ahead + (kRing & (ahead < 0));
        store(S.plain + o, (spanLo == spanHi) & (i0 + 20 < kRing + kGuard) & (ahead + 20 < kRing));
        const nf hs = load<nf>(L.highpassState + o);
        const nf lp = load<nf>(L.lowpassState + o);
        store(S.broken + o, load<ni>(L.active + o) & (nonFinite(hs) | nonFinite(lp)));
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

    // A line's sixteen samples of signal, kept in registers from line to
    // line.
    struct Block {
        nf chunk[kChunks];
    };

    // The allpass of W samples of a lane, with the taps y: its output, and
    // v kept for the damping pass.
    [[gnu::always_inline]] static nf allpassChunk(Scratch& S, int lane, int k, const nf (&y)[6],
        const Gains& gains, nf in)
    {
        const nf g = gains.changes ? load<nf>(gains.each + k * W) : gains.first;
        const nf s = spline(y[0], y[1], y[2], y[3], y[4], y[5], load<nf>(S.fracT[lane] + k * W));
        const nf v = allpassState(in, g, s);
        store(S.v[lane] + k * W, v);
        return allpassOutput(s, g, v);
    }

    // One line over the sub-block: taps, spline and allpass as vectors in
    // time; its v goes to the damping pass. With the tap spread small, a few
    // unaligned loads and selects find the taps; wider spreads (a wrap of
    // the read point) fetch them one by one.
    [[gnu::always_inline]] static void vectorLane(FastLanes& L, Scratch& S, int lane, const TapSpread& spread,
        const Block& in, Block& out)
    {
        const float* buffer = L.buffer[lane];
        const int32_t i0 = S.index[0][lane];
        const int32_t lo = spread.lo;
        const int32_t hi = spread.hi;
        const bool window = hi - lo <= kMaxTapSpread && i0 + lo >= 0 && i0 + hi + 20 < kRing + kGuard;
        const int32_t* index = S.indexT[lane];
        __builtin_prefetch(buffer + i0 + 64);
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
            out.chunk[k] = allpassChunk(S, lane, k, y, gains, in.chunk[k]);
        }
    }

    // The common case of vectorLane: six aligned-in-time loads per chunk.
    [[gnu::always_inline]] static void plainLane(FastLanes& L, Scratch& S, int lane, const Block& in, Block& out)
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
            out.chunk[k] = allpassChunk(S, lane, k, y, gains, in.chunk[k]);
        }
    }

    // A lane whose taps reach into this sub-block's writes runs tick's signal
    // part sample by sample, reading and writing its ring in turn.
    [[gnu::always_inline]] static void perSampleLane(FastLanes& L, Scratch& S, int lane, const Block& inBlock,
        Block& outBlock)
    {
        alignas(64) float in[16], out[16];
        FAST_UNROLL
        for (int k = 0; k < kChunks; ++k)
            store(in + k * W, inBlock.chunk[k]);
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
            const float g = S.changed[lane] ? S.gain[t][lane] : S.gain[0][lane];
            const float v = allpassState(in[t], g, s);
            out[t] = allpassOutput(s, g, v);
            writeRing(buffer, w, dampedWrite(v, hc, lc, wg, hs, lp));
            w = nextWriteIndex(w);
        }
        L.highpassState[lane] = hs;
        L.lowpassState[lane] = lp;
        FAST_UNROLL
        for (int k = 0; k < kChunks; ++k)
            outBlock.chunk[k] = load<nf>(out + k * W);
        ++L.perSampleLaneBlocks;
    }

    // Zeros for the allpass states of lanes from..to-1 that the damping must
    // not take: lines beyond the counts, and lines that ran sample by sample.
    [[gnu::always_inline]] static void dropStates(const FastLanes& L, Scratch& S, int from, int to)
    {
        for (int lane = from; lane < to; ++lane)
            if (!L.active[lane] || S.conflict[lane])
                for (int t = 0; t < 16; ++t)
                    S.v[lane][t] = 0.0f;
    }

    // A lane's n ring writes from slot w0 on.
    [[gnu::always_inline]] static void writeRow(float* buffer, int32_t w0, const float* row, int n)
    {
        // Clear of the guard slots and of the wrap, the row goes in whole.
        if (w0 >= kGuard && w0 + n <= kRing) {
            __builtin_prefetch(buffer + w0 + 64, 1);
            if (n == 16)
                __builtin_memcpy(buffer + w0, row, sizeof(float) * 16);
            else
                __builtin_memcpy(buffer + w0, row, sizeof(float) * static_cast<unsigned>(n));
            return;
        }
        int32_t w = w0;
        for (int t = 0; t < n; ++t) {
            writeRing(buffer, w, row[t]);
            w = nextWriteIndex(w);
        }
    }

    // The ring writes of the previous sub-block's vector lanes, from the
    // serial pass.
    [[gnu::always_inline]] static void writePending(FastLanes& L, Scratch& S, int chunks, bool two)
    {
        const int n = static_cast<int>(L.pendingFrames);
        if (two) {
            // Lanes 0 and 1 only: their columns turned into two rows.
            alignas(16) float rows[2][16];
            transposeTwo(S.written, rows);
            for (int lane = 0; lane < 2; ++lane)
                if (L.pendingLanes[lane])
                    writeRow(L.buffer[lane], L.pendingWrite[lane], rows[lane], n);
            return;
        }
        for (int t = n; t < 16; ++t)
            for (int c = 0; c < chunks; ++c)
                store(S.written[t] + c * W, nf{});
        transpose(S.written, S.writtenT, kChunks, chunks);
        for (int c = 0; c < chunks; ++c) {
            const int o = c * W;
            // The common case, tested for the chunk at once: sixteen writes
            // on every lane, all clear of the guard slots and of the wrap.
            const ni w0 = load<ni>(L.pendingWrite + o);
            const ni clear = load<ni>(L.pendingLanes + o) & (w0 >= kGuard) & (w0 + 16 <= kRing);
            if (n == 16 && !V::any(~clear)) {
                FAST_UNROLL
                for (int lane = o; lane < o + W; ++lane) {
                    float* to = L.buffer[lane] + L.pendingWrite[lane];
                    __builtin_prefetch(to + 64, 1);
                    __builtin_memcpy(to, S.writtenT[lane], sizeof(float) * 16);
                }
                continue;
            }
            for (int lane = o; lane < o + W; ++lane)
                if (L.pendingLanes[lane])
                    writeRow(L.buffer[lane], L.pendingWrite[lane], S.writtenT[lane], n);
        }
    }

    static void run(FastLanes& L)
    {
        Scratch S;
        // The glue hands over at most eight lines per bank, sixteen lanes;
        // the bound lets the compiler see that too.
        const uint32_t count = L.count[0] > L.count[1] ? L.count[0] : L.count[1];
        const int chunks = count <= kFastLanes / 2 ? static_cast<int>((2 * count + W - 1) / W) : kChunks;
        if (steady(L, chunks)) {
            if (chunks == 1)
                steadyPass<true, kHoistOne>(L, S, chunks);
            else
                steadyPass<false, false>(L, S, chunks);
        } else {
            serialChunk(L, S, 0, true);
            for (int c = 1; c < chunks; ++c)
                serialChunk(L, S, c * W, false);
        }
        // One line per bank: only lanes 0 and 1 are in use. Their rows are
        // turned first, so that the scalar stores have gone out before the
        // signal pass loads them as vectors.
        const bool two = count <= 1;
        // The other lanes need their first taps sample by sample.
        ni others = ni{};
        for (int c = 0; c < chunks; ++c)
            others |= load<ni>(L.active + c * W) & ~load<ni>(S.plain + c * W);
        const bool anyOthers = V::any(others);
        if (two) {
            transposeTwo(S.frac, S.fracT);
            if (anyOthers)
                transposeTwo(S.index, S.indexT);
        }
        if (L.pendingFrames != 0) {
            writePending(L, S, chunks, two);
            // The clean-up after a call, before anything reads the rings.
            if (L.pendingEndsCall) {
                ni broken = ni{};
                for (int c = 0; c < chunks; ++c)
                    broken |= load<ni>(S.broken + c * W);
                if (V::any(broken))
                    fastRecoverLanes(L);
            }
        }
        if (!two) {
            transpose(S.frac, S.fracT, kChunks, chunks);
            if (anyOthers)
                transpose(S.index, S.indexT, kChunks, chunks);
        }

        for (int lane = 0; lane < kFastLanes; ++lane)
            S.conflict[lane] = 0;
        const int n = static_cast<int>(L.frames);
        for (int bank = 0; bank < 2; ++bank) {
            // Series: each line's output is the next one's input. Parallel:
            // every line gets the input and the outputs add up from +0.0 in
            // line order.
            Block signal, sum = {};
            FAST_UNROLL
            for (int c = 0; c < kChunks; ++c)
                signal.chunk[c] = load<nf>(L.input + c * W);
            const bool parallel = L.parallel[bank];
            for (uint32_t k = 0; k < L.count[bank]; ++k) {
                const int lane = static_cast<int>(2 * k) + bank;
                Block out;
                const TapSpread spread = tapSpread(S, lane);
                if (S.plain[lane]) {
                    plainLane(L, S, lane, signal, out);
                } else if (readsOwnWrites(S, lane, spread, n)) {
                    S.conflict[lane] = -1;
                    perSampleLane(L, S, lane, signal, out);
                } else {
                    vectorLane(L, S, lane, spread, signal, out);
                }
                FAST_UNROLL
                for (int c = 0; c < kChunks; ++c) {
                    if (parallel)
                        sum.chunk[c] = sum.chunk[c] + out.chunk[c];
                    else
                        signal.chunk[c] = out.chunk[c];
                }
            }
            FAST_UNROLL
            for (int c = 0; c < kChunks; ++c)
                store(L.wet[bank] + c * W, parallel ? sum.chunk[c] : signal.chunk[c]);
        }
        L.laneBlocks += L.count[0] + L.count[1];

        // The allpass states wait across lanes for the next serial pass; the
        // lanes that ran sample by sample did their own damping, and the
        // lanes beyond the counts have none.
        if (two) {
            // Lanes 0 and 1 from their rows, the rest of the first chunk
            // zeros (the gather clears them, and nothing writes them here).
            dropStates(L, S, 0, 2);
            rowsToColumns(S.v[0], S.v[1], L.pendingIn);
        } else {
            for (int c = 0; c < chunks; ++c) {
                const int o = c * W;
                if (V::any(~load<ni>(L.active + o) | load<ni>(S.conflict + o)))
                    dropStates(L, S, o, o + W);
            }
            transpose(S.v, L.pendingIn, chunks, kChunks);
        }
        FAST_UNROLL
        for (int c = 0; c < kChunks; ++c) {
            const int o = c * W;
            store(L.pendingLanes + o, load<ni>(L.active + o) & ~load<ni>(S.conflict + o));
            if (c < chunks)
                store(L.pendingWrite + o, load<ni>(S.startWrite + o));
        }
        L.pendingFrames = L.frames;
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
