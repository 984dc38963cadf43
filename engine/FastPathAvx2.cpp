// The kernel for x86-64 processors with AVX2, chosen at run time. Every
// header is included before the target switch, so any inline code they bring
// stays baseline; the kernel itself lives in a namespace of its own. FMA is
// deliberately not enabled: every product is rounded before its sum.
#include "FastPath.h"

#include "DelayLine.h"

#if defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace fast_avx2 {
#define FAST_WIDTH 8
#include "FastPathKernel.inc"
#undef FAST_WIDTH
}  // namespace fast_avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
