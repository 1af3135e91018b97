// The fuzz targets' input: bytes read front to back (missing ones read as
// zero), the values a host or a file may hold, and the failure report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace fuzz {

[[noreturn]] inline void fail(const char* what, long a = 0, long b = 0) {
    std::fprintf(stderr, "fuzz: broken invariant: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

#define FUZZ_CHECK(cond, ...)  \
    do {                       \
        if (!(cond))           \
            fail(__VA_ARGS__); \
    } while (0)

class Input {
public:
    Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    template <class T>
    T raw() {
        unsigned char bytes[sizeof(T)];
        for (auto& b : bytes)
            b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    void fill(void* out, std::size_t n) {
        auto* p = static_cast<unsigned char*>(out);
        for (std::size_t i = 0; i < n; ++i)
            p[i] = byte();
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

inline uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float floatOf(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Values a host or a file may hold, the awkward ones first.
inline float pickFloat(Input& in) {
    const uint8_t k = in.byte();
    switch (k) {
    case 0:
        return std::numeric_limits<float>::quiet_NaN();
    case 1:
        return floatOf(0x7FA00000u);  // signalling NaN
    case 2:
        return floatOf(0xFFC00001u);  // negative NaN with payload
    case 3:
        return std::numeric_limits<float>::infinity();
    case 4:
        return -std::numeric_limits<float>::infinity();
    case 5:
        return 0.0f;
    case 6:
        return -0.0f;
    case 7:
        return 1.0f;
    case 8:
        return 0.95f;
    case 9:
        return 0.9f;
    case 10:
        return std::numeric_limits<float>::denorm_min();
    case 11:
        return std::numeric_limits<float>::max();
    case 12:
        return -1.0f;
    case 13:
        return 2.0f;
    case 14:
        return std::numeric_limits<float>::min();
    case 15:
        return 1e-30f;
    case 16:
        return 1e30f;
    default:
        if (k < 64)
            return floatOf(in.raw<uint32_t>());
        return static_cast<float>(in.raw<uint16_t>()) / 65535.0f;  // nominal 0..1
    }
}

}  // namespace fuzz
