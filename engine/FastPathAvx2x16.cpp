// The sixteen-wide kernel built for AVX2: the compiler splits each vector of
// sixteen floats into two registers of eight. It runs the same source as the
// AVX-512 kernel (FastPathAvx512.cpp), so its bits are checked on every
// processor with AVX2, and it is a choice of its own for such processors.
//
// Headers and the target switch as in FastPathAvx2.cpp.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>
#include <type_traits>
#include <utility>

#include "FastPath.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
// Both compilers note that a 64-byte vector passed by value would be passed
// differently with AVX-512. None is: the kernel's functions are all inlined
// into its entry point or local to this unit. g++ notes it when the unit
// ends, so the note stays off to the end.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "FastKernel.h"

void fastKernelAvx2x16(FastLanes& lanes)
{
    runFastLanes<16, Isa::avx2>(lanes);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
