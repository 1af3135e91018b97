// Short MIDI messages from one producer thread (the ALSA reader) to one
// consumer (the audio thread): a fixed ring, no allocation, no lock. A full
// ring drops the newest message rather than make either side wait.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace veltrosa::standaloneedge {

struct ShortMessage {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};

template <std::size_t Capacity>
class MidiQueue {
    static_assert((Capacity & (Capacity - 1)) == 0, "a power of two, so the counters may wrap");

public:
    // Producer thread. False when full (the message is dropped).
    bool push(const ShortMessage& message) noexcept {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity)
            return false;
        slots_[tail % Capacity] = message;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer thread, real-time safe. False when empty.
    bool pop(ShortMessage& message) noexcept {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire))
            return false;
        message = slots_[head % Capacity];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<ShortMessage, Capacity> slots_{};
    alignas(64) std::atomic<uint32_t> head_{0};  // next to read
    alignas(64) std::atomic<uint32_t> tail_{0};  // next to write
};

}  // namespace veltrosa::standaloneedge
