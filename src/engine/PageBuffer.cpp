#include "engine/PageBuffer.h"

#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

// Under AddressSanitizer the buffers come from the heap instead, where the
// sanitizer guards their bounds, as it cannot guard pages from the system.
#if defined(__SANITIZE_ADDRESS__)
#define VELTROSA_HEAP_PAGES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELTROSA_HEAP_PAGES 1
#endif
#endif

namespace veltrosa {

PageBuffer::PageBuffer(std::size_t floats) noexcept {
    if (floats == 0)
        return;
    const std::size_t bytes = floats * sizeof(float);
#if defined(VELTROSA_HEAP_PAGES)
    void* pages = new (std::nothrow) float[floats]();
    if (pages == nullptr)
        return;
#elif defined(_WIN32)
    void* pages = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (pages == nullptr)
        return;
#else
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        return;
#endif
    data_ = static_cast<float*>(pages);
    bytes_ = bytes;
}

PageBuffer::~PageBuffer() {
    if (data_ == nullptr)
        return;
#if defined(VELTROSA_HEAP_PAGES)
    delete[] data_;
#elif defined(_WIN32)
    VirtualFree(data_, 0, MEM_RELEASE);
#else
    munmap(data_, bytes_);
#endif
}

}  // namespace veltrosa
