// Flush-to-zero and denormals-are-zero for the life of the guard; the
// caller's floating-point state comes back on every exit path. Audio thread.
#pragma once

#if defined(__SSE__) || defined(_M_X64) || defined(_M_IX86_FP)
#include <xmmintrin.h>
#define VELTROSA_HAS_MXCSR 1
#endif

namespace veltrosa {

class DenormalGuard {
public:
#ifdef VELTROSA_HAS_MXCSR
    DenormalGuard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero); }
    ~DenormalGuard() { _mm_setcsr(saved_); }
#else
    // Nothing to switch (WebAssembly has no such mode): user-provided, so
    // that an unused guard is no warning.
    DenormalGuard() {}
#endif
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
#ifdef VELTROSA_HAS_MXCSR
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;
    unsigned saved_;
#endif
};

}  // namespace veltrosa
