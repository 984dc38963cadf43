// Flush-to-zero and denormals-are-zero for the audio path: a decaying tail
// would otherwise spend its last seconds in slow denormal arithmetic.
#pragma once

#include <cstdint>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>

constexpr uint32_t kFlushToZero = 0x8000;      // MXCSR.FTZ
constexpr uint32_t kDenormalsAreZero = 0x0040;  // MXCSR.DAZ

inline uint32_t floatMode() { return _mm_getcsr(); }
inline void setFloatMode(uint32_t mode) { _mm_setcsr(mode); }

#elif defined(__aarch64__)

constexpr uint64_t kFlushToZero = uint64_t{1} << 24;  // FPCR.FZ, flushes inputs too
constexpr uint64_t kDenormalsAreZero = 0;

inline uint64_t floatMode()
{
    uint64_t fpcr;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
    return fpcr;
}
inline void setFloatMode(uint64_t mode) { __asm__ __volatile__("msr fpcr, %0" : : "r"(mode)); }

#elif defined(__arm__) && defined(__ARM_FP)

constexpr uint32_t kFlushToZero = uint32_t{1} << 24;  // FPSCR.FZ, flushes inputs too
constexpr uint32_t kDenormalsAreZero = 0;

inline uint32_t floatMode()
{
    uint32_t fpscr;
    __asm__ __volatile__("vmrs %0, fpscr" : "=r"(fpscr));
    return fpscr;
}
inline void setFloatMode(uint32_t mode) { __asm__ __volatile__("vmsr fpscr, %0" : : "r"(mode)); }

#else

constexpr uint32_t kFlushToZero = 0;
constexpr uint32_t kDenormalsAreZero = 0;
inline uint32_t floatMode() { return 0; }
inline void setFloatMode(uint32_t) {}

#endif

// Sets flush-to-zero and denormals-are-zero for its scope and gives the
// caller's thread its own mode back at the end.
class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() : saved_(floatMode()) { setFloatMode(saved_ | kFlushToZero | kDenormalsAreZero); }
    ~ScopedFlushDenormals() { setFloatMode(saved_); }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    decltype(floatMode()) saved_;
};
