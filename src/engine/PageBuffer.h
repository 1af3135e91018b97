// Floats in whole pages straight from the system. Scratch is sized for the
// largest block a host announces, and most of it is never touched; pages
// from the system stay out of memory until touched, where the C library may
// carve the buffer from pages an earlier allocation touched, which then stay
// resident in every instance.
#pragma once

#include <cstddef>
#include <utility>

namespace veltrosa {

class PageBuffer {
public:
    PageBuffer() noexcept = default;
    // Zero-filled; empty (false) when the system refuses.
    explicit PageBuffer(std::size_t floats) noexcept;
    ~PageBuffer();
    PageBuffer(PageBuffer&& other) noexcept : data_(other.data_), bytes_(other.bytes_) {
        other.data_ = nullptr;
        other.bytes_ = 0;
    }
    PageBuffer& operator=(PageBuffer&& other) noexcept {
        swap(other);
        return *this;
    }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;

    void swap(PageBuffer& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(bytes_, other.bytes_);
    }
    float* get() const noexcept { return data_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }

private:
    float* data_ = nullptr;
    std::size_t bytes_ = 0;
};

}  // namespace veltrosa
