// Flush-to-zero and denormals-are-zero for the life of the guard; the
// caller's floating-point state comes back on every exit path. Audio thread.
#pragma once

#if defined(__SSE__) || defined(_M_X64) || defined(_M_IX86_FP)
#include <xmmintrin.h>
#define VELTROSA_HAS_MXCSR 1
#elif defined(__aarch64__)
#include <cstdint>
#define VELTROSA_HAS_FPCR 1
#endif

namespace veltrosa {

class DenormalGuard {
public:
#ifdef VELTROSA_HAS_MXCSR
    DenormalGuard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero); }
    ~DenormalGuard() { _mm_setcsr(saved_); }
#elif defined(VELTROSA_HAS_FPCR)
    // FPCR.FZ flushes denormal inputs and results alike, scalar and vector.
    DenormalGuard() : saved_(fpcr()) { setFpcr(saved_ | kFlushToZero); }
    ~DenormalGuard() { setFpcr(saved_); }
#else
    // Nothing to switch (WebAssembly has no such mode): user-provided, so
    // that an unused guard is no warning.
    DenormalGuard() {}
#endif
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

#ifdef VELTROSA_HAS_FPCR
    static constexpr uint64_t kFlushToZero = uint64_t{1} << 24;
    static uint64_t fpcr() {
        uint64_t value;
        __asm__ volatile("mrs %0, fpcr" : "=r"(value));
        return value;
    }

private:
    static void setFpcr(uint64_t value) { __asm__ volatile("msr fpcr, %0" : : "r"(value) : "memory"); }
    uint64_t saved_;
#endif

private:
#ifdef VELTROSA_HAS_MXCSR
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;
    unsigned saved_;
#endif
};

}  // namespace veltrosa
