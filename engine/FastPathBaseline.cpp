// The baseline kernel, four floats wide: SSE2 on x86-64 (every such
// processor has it), NEON on aarch64, plain code elsewhere. It is built for
// the processor the whole library is built for.
#include "FastKernel.h"

#if defined(__x86_64__)
constexpr Isa kBaselineIsa = Isa::sse2;
#else
constexpr Isa kBaselineIsa = Isa::plain;
#endif

void fastKernelBaseline(FastLanes& lanes)
{
    runFastLanes<4, kBaselineIsa>(lanes);
}
