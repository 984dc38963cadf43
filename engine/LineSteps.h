// The steps of one delay line, each written once: DelayLine::tick runs them
// on floats, the block-wise kernels (FastKernel.h) on vectors of lanes and,
// for a line that reads its own fresh writes, on floats again. Every float
// operation is the one tick does, in the same order and grouping; that is
// what keeps the kernels' output bit for bit equal to the per-sample code.
//
// A value type F is a float or a GCC vector of floats; its comparisons give
// a bool or a mask of 0 / -1 lanes, and `mask ? a : b` picks per lane.
// Lengths and the write index (type N) are uint64_t in DelayLine and int32
// in the kernels' lanes, a scalar or a vector; the first slot read is an
// int32 everywhere.
//
// Everything here is always inlined and has no out-of-line copy: a kernel
// built for a wider instruction set includes this header after its target
// switch, and a shared copy compiled there could end up in the baseline.
// For the same reason this header brings in no inline code of its own
// includes.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

constexpr uint64_t kRingSize = 16000;
// The ring keeps five guard slots behind slot 15999 that mirror slots 0..4,
// so the 6-point read starting anywhere in 0..15999 never wraps.
constexpr uint64_t kGuardSlots = 5;

constexpr float kRingSizeF = 16000.0f;

// The modulation offset stays this many slots below the line's length, so
// the six slots read always lie behind the one about to be written.
constexpr uint64_t kReadReserve = 9;
constexpr float kReadReserveF = 9.0f;

// Input samples beyond +-1e30 (NaN and infinities included) enter the filters
// and rings as silence: such a value is garbage from upstream, and anything
// much larger could overflow inside the loops a line length later. The dry
// path still passes the sample as it came.
constexpr float kLargestInput = 1e30f;

// A length change moves the read pointer slower (grow) or faster (shrink)
// than the write pointer until the distance is the requested length.
constexpr float kGrowSpeed = 0.9f;
constexpr float kShrinkSpeed = 1.11f;

// Coefficients of the 6-point, 5th-order B-spline, single precision.
constexpr float kDiv120 = 1.0f / 120.0f;
constexpr float k13Over60 = 13.0f / 60.0f;
constexpr float k11Over20 = 0.55f;
constexpr float kDiv24 = 1.0f / 24.0f;
constexpr float k5Over12 = 5.0f / 12.0f;
constexpr float kDiv12 = 1.0f / 12.0f;
constexpr float kDiv6 = 1.0f / 6.0f;

// ---------------------------------------------------------------------------
// The few things a float and a vector do differently.
// ---------------------------------------------------------------------------

// The int32 type that goes with a float type: int32_t for a float, the
// comparison result (a vector of int32 of the same width) for a vector.
template <typename F>
struct LaneInts {
    using type = decltype(F{} < F{});
};
template <>
struct LaneInts<float> {
    using type = int32_t;
};
template <typename F>
using IntsOf = typename LaneInts<F>::type;

// The element type of a scalar (itself) or of a vector.
template <typename T, bool = std::is_arithmetic_v<T>>
struct Element {
    using type = T;
};
template <typename T>
struct Element<T, false> {
    using type = std::remove_reference_t<decltype(std::declval<T&>()[0])>;
};

// A count in the element type of T, so that scalar code compares like types
// and vector code broadcasts it.
template <typename T>
[[gnu::always_inline]] constexpr typename Element<T>::type elementValue(uint64_t n)
{
    return static_cast<typename Element<T>::type>(n);
}

// Value conversion (truncating towards zero into integers). Vectors convert
// lane by lane; a cast between vector types would keep the bits instead.
template <typename To, typename From>
[[gnu::always_inline]] inline To convertTo(From x)
{
    if constexpr (std::is_arithmetic_v<From>)
        return static_cast<To>(x);
    else
        return __builtin_convertvector(x, To);
}

// |x| as fabsf gives it: the sign bit cleared.
template <typename F>
[[gnu::always_inline]] inline F absOf(F x)
{
    if constexpr (std::is_arithmetic_v<F>)
        return __builtin_fabsf(x);
    else
        return (F)((IntsOf<F>)x & 0x7fffffff);
}

// ---------------------------------------------------------------------------
// Modulation and the read point.
// ---------------------------------------------------------------------------

// The LFO: a triangle's phase in [-1, 1), two phase units per cycle.
template <typename F>
[[gnu::always_inline]] inline F stepLfo(F phase, F increment)
{
    phase = phase + increment;
    return (phase >= 1.0f) ? phase - 2.0f : phase;
}

// How far ahead of the read pointer the LFO moves the read point. Deep
// modulation on a short line could carry the read point past the write
// index, a whole ring late; it stops nine slots short of it.
// The limit depends on the length only, so code that holds the length
// still can take it once and use limitedOffset sample by sample.
template <typename F, typename N>
[[gnu::always_inline]] inline F modulationReach(N length)
{
    return (length > elementValue<N>(kReadReserve)) ? convertTo<F>(length) - kReadReserveF : F{};
}

template <typename F>
[[gnu::always_inline]] inline F limitedOffset(F phase, F depth, F reach)
{
    const F offset = depth * (absOf(phase) + 1.0f);
    return (offset > reach) ? reach : offset;
}

template <typename F, typename N>
[[gnu::always_inline]] inline F modulationOffset(F phase, F depth, N length)
{
    return limitedOffset(phase, depth, modulationReach<F>(length));
}

// The read point: one slot past the read pointer plus the offset, in the ring.
template <typename F>
[[gnu::always_inline]] inline F readPoint(F readPos, F offset)
{
    const F p = (readPos + 1.0f) + offset;
    return (p >= kRingSizeF) ? p - kRingSizeF : p;
}

// The first of the six slots read, and the fraction between slots.
template <typename F>
struct TapPoint {
    IntsOf<F> index;
    F fraction;
};

// Integer part and fraction as modff gives them. The modulation setters
// keep p in [0, 16000); the test guards the conversion all the same, and a
// point outside reads slot 0 with fraction 0.
template <typename F>
[[gnu::always_inline]] inline TapPoint<F> splitReadPoint(F p)
{
    const auto inRing = (p >= 0.0f) & (p < kRingSizeF);
    const F at = inRing ? p : F{};
    const IntsOf<F> i = convertTo<IntsOf<F>>(at);
    return {i, at - convertTo<F>(i)};
}

// The read pointer one sample on, at the line's read speed.
template <typename F>
[[gnu::always_inline]] inline F nextReadPos(F readPos, F speed)
{
    const F next = readPos + speed;
    return (next >= kRingSizeF) ? next - kRingSizeF : next;
}

// ---------------------------------------------------------------------------
// The signal: interpolation, allpass, damping, ring.
// ---------------------------------------------------------------------------

// The 6-point B-spline through the slots read, at fraction x.
template <typename F>
[[gnu::always_inline]] inline F spline(F ym2, F ym1, F y0, F y1, F y2, F y3, F x)
{
    const F c0 = (ym2 + y2) * kDiv120 + (ym1 + y1) * k13Over60 + y0 * k11Over20;
    const F c1 = (y2 - ym2) * kDiv24 + (y1 - ym1) * k5Over12;
    const F c2 = (ym2 + y2) * kDiv12 + (ym1 + y1) * kDiv6 - y0 * 0.5f;
    const F c3 = (y2 - ym2) * kDiv12 - (y1 - ym1) * kDiv6;
    const F c4 = (ym2 + y2) * kDiv24 - (ym1 + y1) * kDiv6 + y0 * 0.25f;
    const F c5 = (y3 - ym2) * kDiv120 + (ym1 - y2) * kDiv24 + (y1 - y0) * kDiv12;
    return ((((c5 * x + c4) * x + c3) * x + c2) * x + c1) * x + c0;
}

// The same for one sample, from the six slots at y.
[[gnu::always_inline]] inline float splineAt(const float* y, float x)
{
    return spline(y[0], y[1], y[2], y[3], y[4], y[5], x);
}

// The allpass around the delay: its state v (what goes on into the loop)
// from the input and the delayed sample s, and its output.
template <typename F>
[[gnu::always_inline]] inline F allpassState(F input, F g, F s)
{
    return input - g * s;
}

template <typename F>
[[gnu::always_inline]] inline F allpassOutput(F s, F g, F v)
{
    return s + g * v;
}

// A high-pass/low-pass pair of one-pole filters sharing the difference d:
// the input filters and each line's damping. Returns the low-pass output.
template <typename F>
[[gnu::always_inline]] inline F stepFilterPair(F u, F highpassCoef, F lowpassCoef, F& highpassState, F& lowpassState)
{
    const F d = highpassState - u;
    highpassState = u + highpassCoef * d;
    lowpassState = lowpassCoef * (lowpassState + highpassCoef * d) - highpassCoef * d;
    return lowpassState;
}

// What enters the ring: the allpass state through the damping pair, scaled.
template <typename F>
[[gnu::always_inline]] inline F dampedWrite(F v, F highpassCoef, F lowpassCoef, F writeGain, F& highpassState,
    F& lowpassState)
{
    return stepFilterPair(v, highpassCoef, lowpassCoef, highpassState, lowpassState) * writeGain;
}

// A broken sample never enters the filters and rings, or it would circulate
// there for the rest of the instance's life.
template <typename F>
[[gnu::always_inline]] inline F guardInput(F x)
{
    return (absOf(x) <= kLargestInput) ? x : F{};
}

// One slot written, and its guard slot when it has one.
template <typename N>
[[gnu::always_inline]] inline void writeRing(float* buffer, N w, float value)
{
    buffer[w] = value;
    if (w < elementValue<N>(kGuardSlots))
        buffer[elementValue<N>(kRingSize) + w] = value;
}

// The write index one sample on.
template <typename N>
[[gnu::always_inline]] inline N nextWriteIndex(N w)
{
    w = w + 1;
    return (w >= elementValue<N>(kRingSize)) ? N{} : w;
}

// ---------------------------------------------------------------------------
// Length changes.
// ---------------------------------------------------------------------------

// The distance from the read pointer r (in [0, 16000)) to the write index w
// that was just advanced: the line's length while a change runs.
template <typename F, typename N>
[[gnu::always_inline]] inline N lineDistance(F r, N w)
{
    const N readIndex = convertTo<N>(r);
    return (r < convertTo<F>(w)) ? w - readIndex : w + elementValue<N>(kRingSize) - readIndex;
}

// A pending request taken up: true when a change starts, towards `target`
// at `speed`. A request for the length the line already has (a knob that
// came back) is dropped: starting a shrink there could glide once around
// the whole ring.
template <typename N>
[[gnu::always_inline]] inline bool takeUpRequest(N& pending, N length, N& target, float& speed)
{
    const N request = pending;
    pending = 0;
    if (request == length)
        return false;
    target = request;
    speed = (request > length) ? kGrowSpeed : kShrinkSpeed;
    return true;
}
