// The kernel for x86-64 processors with AVX-512 (F, BW, DQ and VL), sixteen
// floats wide, one vector for all sixteen lanes; chosen at run time. FMA is
// deliberately not used: every product is rounded before its sum, and the
// engine is built without contraction.
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
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")
#endif

#include "FastKernel.h"

void fastKernelAvx512(FastLanes& lanes)
{
    runFastLanes<16, Isa::avx512>(lanes);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
