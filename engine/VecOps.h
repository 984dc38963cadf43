// The vector operations of the block-wise kernels (FastKernel.h): what
// depends on the width in one specialisation per width, what does not
// written once for every width.
//
// Included only by kernel translation units, after their target switch, so
// everything here is compiled for the kernel's instruction set; it all has
// internal linkage, and no copy of it can be shared with another unit.
#pragma once

#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "LineSteps.h"

// Short loops over vector parts, taps and block rows are unrolled so their
// arrays live in registers.
#define FAST_UNROLL _Pragma("GCC unroll 16")

// The instruction set a kernel's translation unit is compiled for, so that
// a width can use the single instructions the unit may use. In C++ neither
// g++ nor clang defines __AVX2__ and the like after a target switch, so the
// unit names its own.
enum class Isa {
    plain,  // generic vector code only (also NEON on aarch64)
    sse2,
    avx2,
    avx512,  // F, BW, DQ and VL
};

namespace {

// One specialisation per width W (floats per vector), each holding the
// vector types and the operations written per width: the horizontal or,
// the any-lane test and the W x W transpose. A width without one does not
// compile. A width may be built for an instruction set with narrower
// registers (16 floats for AVX2): the compiler then splits every vector
// into register-wide parts.
template <int W, Isa isa>
struct VecOps;

template <Isa isa>
struct VecOps<4, isa> {
    typedef float F __attribute__((vector_size(16)));
    typedef int32_t I __attribute__((vector_size(16)));

    // Every lane of the result holds the or of all lanes.
    [[gnu::always_inline]] static I orOf(I v)
    {
        v = v | __builtin_shufflevector(v, v, 2, 3, 0, 1);
        return v | __builtin_shufflevector(v, v, 1, 0, 3, 2);
    }

    // Whether any lane of a mask is set.
    [[gnu::always_inline]] static bool any(I m)
    {
#if defined(__x86_64__)
        if constexpr (isa != Isa::plain)
            return _mm_movemask_ps((__m128)m) != 0;
#endif
        return orOf(m)[0] != 0;
    }

    // Transpose of a 4 x 4 block of 32-bit values held in 4 vectors.
    [[gnu::always_inline]] static void transposeBlock(F r[4])
    {
        const F t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 1, 5);
        const F t1 = __builtin_shufflevector(r[0], r[1], 2, 6, 3, 7);
        const F t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 1, 5);
        const F t3 = __builtin_shufflevector(r[2], r[3], 2, 6, 3, 7);
        r[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
        r[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
        r[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
        r[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
    }
};

template <Isa isa>
struct VecOps<8, isa> {
    typedef float F __attribute__((vector_size(32)));
    typedef int32_t I __attribute__((vector_size(32)));

    [[gnu::always_inline]] static I orOf(I v)
    {
        v = v | __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3);
        v = v | __builtin_shufflevector(v, v, 2, 3, 0, 1, 6, 7, 4, 5);
        return v | __builtin_shufflevector(v, v, 1, 0, 3, 2, 5, 4, 7, 6);
    }

    [[gnu::always_inline]] static bool any(I m)
    {
#if defined(__x86_64__)
        if constexpr (isa == Isa::avx2)
            return !_mm256_testz_si256((__m256i)m, (__m256i)m);
#endif
        return orOf(m)[0] != 0;
    }

    // Transpose of an 8 x 8 block: pairs, then pairs of pairs, then halves.
    [[gnu::always_inline]] static void transposeBlock(F r[8])
    {
        F t[8], u[8];
        FAST_UNROLL
        for (int k = 0; k < 4; ++k) {
            t[2 * k] = __builtin_shufflevector(r[2 * k], r[2 * k + 1], 0, 8, 1, 9, 4, 12, 5, 13);
            t[2 * k + 1] = __builtin_shufflevector(r[2 * k], r[2 * k + 1], 2, 10, 3, 11, 6, 14, 7, 15);
        }
        FAST_UNROLL
        for (int k = 0; k < 2; ++k) {
            u[4 * k] = __builtin_shufflevector(t[4 * k], t[4 * k + 2], 0, 1, 8, 9, 4, 5, 12, 13);
            u[4 * k + 1] = __builtin_shufflevector(t[4 * k], t[4 * k + 2], 2, 3, 10, 11, 6, 7, 14, 15);
            u[4 * k + 2] = __builtin_shufflevector(t[4 * k + 1], t[4 * k + 3], 0, 1, 8, 9, 4, 5, 12, 13);
            u[4 * k + 3] = __builtin_shufflevector(t[4 * k + 1], t[4 * k + 3], 2, 3, 10, 11, 6, 7, 14, 15);
        }
        FAST_UNROLL
        for (int k = 0; k < 4; ++k) {
            r[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
            r[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
        }
    }
};

template <Isa isa>
struct VecOps<16, isa> {
    typedef float F __attribute__((vector_size(64)));
    typedef int32_t I __attribute__((vector_size(64)));
    typedef int32_t Half __attribute__((vector_size(32)));

    [[gnu::always_inline]] static I orOf(I v)
    {
        v = v | __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
        v = v | __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3, 12, 13, 14, 15, 8, 9, 10, 11);
        v = v | __builtin_shufflevector(v, v, 2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
        return v | __builtin_shufflevector(v, v, 1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    }

    [[gnu::always_inline]] static bool any(I m)
    {
#if defined(__x86_64__)
        if constexpr (isa == Isa::avx512)
            return _mm512_movepi32_mask((__m512i)m) != 0;
        if constexpr (isa == Isa::avx2) {
            const Half low = __builtin_shufflevector(m, m, 0, 1, 2, 3, 4, 5, 6, 7);
            const Half high = __builtin_shufflevector(m, m, 8, 9, 10, 11, 12, 13, 14, 15);
            const Half both = low | high;
            return !_mm256_testz_si256((__m256i)both, (__m256i)both);
        }
#endif
        return orOf(m)[0] != 0;
    }

    // Transpose of a 16 x 16 block: pairs and pairs of pairs within each
    // group of four, which leaves a 4 x 4 block transposed in every quarter;
    // then the quarters, and the halves.
    [[gnu::always_inline]] static void transposeBlock(F r[16])
    {
        F t[16], u[16], q[16];
        FAST_UNROLL
        for (int k = 0; k < 8; ++k) {
            t[2 * k] = __builtin_shufflevector(r[2 * k], r[2 * k + 1],
                0, 16, 1, 17, 4, 20, 5, 21, 8, 24, 9, 25, 12, 28, 13, 29);
            t[2 * k + 1] = __builtin_shufflevector(r[2 * k], r[2 * k + 1],
                2, 18, 3, 19, 6, 22, 7, 23, 10, 26, 11, 27, 14, 30, 15, 31);
        }
        FAST_UNROLL
        for (int k = 0; k < 4; ++k) {
            FAST_UNROLL
            for (int j = 0; j < 2; ++j) {
                u[4 * k + 2 * j] = __builtin_shufflevector(t[4 * k + j], t[4 * k + j + 2],
                    0, 1, 16, 17, 4, 5, 20, 21, 8, 9, 24, 25, 12, 13, 28, 29);
                u[4 * k + 2 * j + 1] = __builtin_shufflevector(t[4 * k + j], t[4 * k + j + 2],
                    2, 3, 18, 19, 6, 7, 22, 23, 10, 11, 26, 27, 14, 15, 30, 31);
            }
        }
        // Quarter i of u[4k + j] now holds column 4i + j of rows 4k..4k+3.
        FAST_UNROLL
        for (int k = 0; k < 4; k += 2) {
            FAST_UNROLL
            for (int j = 0; j < 4; ++j) {
                q[4 * k + j] = __builtin_shufflevector(u[4 * k + j], u[4 * k + 4 + j],
                    0, 1, 2, 3, 16, 17, 18, 19, 8, 9, 10, 11, 24, 25, 26, 27);
                q[4 * k + 4 + j] = __builtin_shufflevector(u[4 * k + j], u[4 * k + 4 + j],
                    4, 5, 6, 7, 20, 21, 22, 23, 12, 13, 14, 15, 28, 29, 30, 31);
            }
        }
        // q[j] (q[8 + j]) holds columns j and 8 + j of rows 0..7 (8..15);
        // q[4 + j] (q[12 + j]) columns 4 + j and 12 + j.
        FAST_UNROLL
        for (int j = 0; j < 4; ++j) {
            FAST_UNROLL
            for (int h = 0; h < 2; ++h) {
                const F a = q[4 * h + j];
                const F b = q[8 + 4 * h + j];
                r[4 * h + j] = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7,
                    16, 17, 18, 19, 20, 21, 22, 23);
                r[8 + 4 * h + j] = __builtin_shufflevector(a, b, 8, 9, 10, 11, 12, 13, 14, 15,
                    24, 25, 26, 27, 28, 29, 30, 31);
            }
        }
    }
};

// ---------------------------------------------------------------------------
// The same code for every width, on a vector type V of 32-bit elements.
// ---------------------------------------------------------------------------

template <typename V>
constexpr int kLanesOf = static_cast<int>(sizeof(V) / 4);

// Unaligned loads and stores.
template <typename V>
[[gnu::always_inline]] inline V load(const void* p)
{
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

template <typename V>
[[gnu::always_inline]] inline void store(void* p, V v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

// Every lane x, bit for bit: an integer vector plus a scalar broadcasts it
// (lane by lane stores make g++ build the vector one lane at a time).
template <typename V>
[[gnu::always_inline]] inline V splat(float x)
{
    typedef decltype(V{} < V{}) Bits;
    return (V)(Bits{} + __builtin_bit_cast(int32_t, x));
}

// Lane j holds j.
template <typename V>
[[gnu::always_inline]] inline V ramp()
{
    V r;
    FAST_UNROLL
    for (int j = 0; j < kLanesOf<V>; ++j)
        r[j] = j;
    return r;
}

// Select: lanes of a where the mask m is -1, of b where it is 0.
template <typename M, typename V>
[[gnu::always_inline]] inline V sel(M m, V a, V b)
{
    return m ? a : b;
}

// The one-line road (one line per bank) moves columns 0 and 1 of a 16 x 16
// matrix of 32-bit values ([t][lane]) to and from two rows of 16 ([lane][t]),
// four rows at a time with 64-bit moves and two shuffles, on any width.
typedef int32_t Quad32 __attribute__((vector_size(16)));
typedef int32_t Pair32 __attribute__((vector_size(8)));

[[gnu::always_inline]] inline void columnsToRows(const void* matrix, void* row0, void* row1)
{
    const char* m = static_cast<const char*>(matrix);
    char* r0 = static_cast<char*>(row0);
    char* r1 = static_cast<char*>(row1);
    FAST_UNROLL
    for (int t = 0; t < 16; t += 4) {
        const Quad32 a = __builtin_shufflevector(load<Pair32>(m + t * 64), load<Pair32>(m + (t + 1) * 64), 0, 1, 2, 3);
        const Quad32 b =
            __builtin_shufflevector(load<Pair32>(m + (t + 2) * 64), load<Pair32>(m + (t + 3) * 64), 0, 1, 2, 3);
        store(r0 + t * 4, __builtin_shufflevector(a, b, 0, 2, 4, 6));
        store(r1 + t * 4, __builtin_shufflevector(a, b, 1, 3, 5, 7));
    }
}

[[gnu::always_inline]] inline void rowsToColumns(const void* row0, const void* row1, void* matrix)
{
    const char* r0 = static_cast<const char*>(row0);
    const char* r1 = static_cast<const char*>(row1);
    char* m = static_cast<char*>(matrix);
    FAST_UNROLL
    for (int t = 0; t < 16; t += 4) {
        const Quad32 a = load<Quad32>(r0 + t * 4);
        const Quad32 b = load<Quad32>(r1 + t * 4);
        const Quad32 lo = __builtin_shufflevector(a, b, 0, 4, 1, 5);
        const Quad32 hi = __builtin_shufflevector(a, b, 2, 6, 3, 7);
        store(m + t * 64, __builtin_shufflevector(lo, lo, 0, 1));
        store(m + (t + 1) * 64, __builtin_shufflevector(lo, lo, 2, 3));
        store(m + (t + 2) * 64, __builtin_shufflevector(hi, hi, 0, 1));
        store(m + (t + 3) * 64, __builtin_shufflevector(hi, hi, 2, 3));
    }
}

// Masks of the lanes whose value is infinite or not a number.
template <typename F>
[[gnu::always_inline]] inline auto nonFinite(F x)
{
    return ~(absOf(x) <= 3.40282347e38f);
}

}  // namespace
