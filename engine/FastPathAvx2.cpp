// The kernel for x86-64 processors with AVX2, eight floats wide, chosen at
// run time. FMA is deliberately not enabled: every product is rounded
// before its sum.
//
// Every header from outside the kernel comes before the target switch, so
// any inline code it brings stays baseline. The kernel's own headers
// (FastKernel.h, VecOps.h, LineSteps.h) come after it: they hold only code
// with internal linkage or always inlined, which never leaves this unit.
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

#include "FastKernel.h"

void fastKernelAvx2(FastLanes& lanes)
{
    runFastLanes<8, Isa::avx2>(lanes);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
