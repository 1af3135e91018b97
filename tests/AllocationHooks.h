// Counting the allocations of one thread: the test binary that includes this
// (once, in one source file) interposes malloc and friends. Sanitizer
// runtimes own them, so tests using it skip there.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>

#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELTROSA_ALLOC_HOOKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VELTROSA_ALLOC_HOOKS 0
#endif
#endif
#ifndef VELTROSA_ALLOC_HOOKS
#define VELTROSA_ALLOC_HOOKS 1
#endif

namespace {

struct AllocationLog {
    bool counting = false;
    int allocations = 0;
    int frees = 0;
    std::size_t failFrom = 0;  // when non-zero, requests of this size or more fail
};
thread_local AllocationLog tlsLog;

}  // namespace

#if VELTROSA_ALLOC_HOOKS
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void __libc_free(void* p);

void* malloc(std::size_t size) noexcept {
    if (tlsLog.failFrom != 0 && size >= tlsLog.failFrom)
        return nullptr;
    if (tlsLog.counting)
        ++tlsLog.allocations;
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    if (tlsLog.failFrom != 0 && count * size >= tlsLog.failFrom)
        return nullptr;
    if (tlsLog.counting)
        ++tlsLog.allocations;
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) noexcept {
    if (tlsLog.failFrom != 0 && size >= tlsLog.failFrom)
        return nullptr;
    if (tlsLog.counting)
        ++tlsLog.allocations;
    return __libc_realloc(p, size);
}
void free(void* p) noexcept {
    if (tlsLog.counting && p != nullptr)
        ++tlsLog.frees;
    __libc_free(p);
}
// Pages asked of the system directly count as allocations too (the C
// library's own requests do not come through here).
__attribute__((visibility("default")))
void* mmap(void* address, std::size_t bytes, int protection, int flags, int fd, off_t offset) noexcept {
    if (tlsLog.failFrom != 0 && bytes >= tlsLog.failFrom) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    if (tlsLog.counting)
        ++tlsLog.allocations;
    return reinterpret_cast<void*>(syscall(SYS_mmap, address, bytes, protection, flags, fd, offset));
}
__attribute__((visibility("default")))
int munmap(void* address, std::size_t bytes) noexcept {
    if (tlsLog.counting)
        ++tlsLog.frees;
    return static_cast<int>(syscall(SYS_munmap, address, bytes));
}
}
#endif

namespace {

#if VELTROSA_ALLOC_HOOKS
#define SKIP_WITHOUT_HOOKS()
#else
#define SKIP_WITHOUT_HOOKS() GTEST_SKIP() << "the sanitizer runtime owns malloc"
#endif

struct Counting {
    Counting() { tlsLog = {true, 0, 0, 0}; }
    ~Counting() { tlsLog.counting = false; }
};

struct FailingFrom {
    explicit FailingFrom(std::size_t bytes) { tlsLog.failFrom = bytes; }
    ~FailingFrom() { tlsLog.failFrom = 0; }
};

}  // namespace
