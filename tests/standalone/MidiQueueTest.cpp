// The hand-over from the ALSA reader to the audio thread. Nothing else runs
// it here: the build machines have no ALSA sequencer.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "standalone/MidiQueue.h"

namespace {

using veltrosa::standaloneedge::ShortMessage;

TEST(MidiQueue, KeepsOrderAcrossThreadsAndDropsWhatAFullRingCannotTake) {
    veltrosa::standaloneedge::MidiQueue<8> queue;
    for (uint8_t i = 0; i < 8; ++i)
        EXPECT_TRUE(queue.push({0x90, i, 100}));
    EXPECT_FALSE(queue.push({0x90, 99, 100}));
    ShortMessage m;
    for (uint8_t i = 0; i < 8; ++i) {
        ASSERT_TRUE(queue.pop(m));
        EXPECT_EQ(m.data1, i);
    }
    EXPECT_FALSE(queue.pop(m));

    // Many times round the ring, one thread on each side.
    constexpr int kCount = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kCount;)
            if (queue.push({0x90, static_cast<uint8_t>(i & 0x7F), static_cast<uint8_t>((i >> 7) & 0x7F)}))
                ++i;
    });
    std::vector<int> received;
    while (static_cast<int>(received.size()) < kCount)
        if (queue.pop(m))
            received.push_back(m.data1 | m.data2 << 7);
    producer.join();
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(received[static_cast<std::size_t>(i)], i & 0x3FFF);
}

}  // namespace
