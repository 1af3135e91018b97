#include "engine/PageBuffer.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace veltrosa {

PageBuffer::PageBuffer(std::size_t floats) noexcept {
    if (floats == 0)
        return;
    const std::size_t bytes = floats * sizeof(float);
#if defined(_WIN32)
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
#if defined(_WIN32)
    VirtualFree(data_, 0, MEM_RELEASE);
#else
    munmap(data_, bytes_);
#endif
}

}  // namespace veltrosa
