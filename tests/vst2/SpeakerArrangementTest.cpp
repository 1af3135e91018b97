// Speaker arrangements built, copied and released as a host hands them over:
// header plus exactly numChannels speakers, names cut to 63 characters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BaseSupport.h"
#include "vst2/SpeakerArrangement.h"

namespace speakers = veltrosa::vst2edge::speakers;
using vst2::VstSpeakerArrangement;
using vst2::VstSpeakerProperties;

namespace {

void* refuse(std::size_t, std::size_t) { return nullptr; }

// A host's arrangement: its own memory, names filling all 64 bytes.
std::vector<unsigned char> hostArrangement(int32_t channels) {
    std::vector<unsigned char> block(speakers::blockSize(channels));
    auto* arrangement = reinterpret_cast<VstSpeakerArrangement*>(block.data());
    arrangement->type = 42;
    arrangement->numChannels = channels;
    for (int32_t i = 0; i < channels; ++i) {
        VstSpeakerProperties* speaker = speakers::speakerAt(arrangement, i);
        speaker->azimuth = 0.25f * static_cast<float>(i);
        speaker->elevation = -0.5f;
        speaker->radius = 2.0f;
        speaker->reserved = 3.0f;
        std::memset(speaker->name, 'a' + i, sizeof speaker->name);  // no NUL at all
        speaker->type = 100 + i;
        std::memset(speaker->future, 0x30 + i, sizeof speaker->future);
    }
    return block;
}

}  // namespace

TEST(SpeakerArrangement, AllocateGivesAZeroedBlockOfExactlyTheChannels) {
    VstSpeakerArrangement* arrangement = nullptr;
    for (int32_t channels : {0, 2, 8, 20}) {
        // Allocating over an existing block releases it (the leak checker
        // would report it otherwise).
        ASSERT_TRUE(speakers::allocate(&arrangement, channels)) << channels;
        ASSERT_NE(arrangement, nullptr);
        EXPECT_EQ(arrangement->numChannels, channels);
        EXPECT_EQ(arrangement->type, 0);
        const auto* bytes = reinterpret_cast<const unsigned char*>(arrangement);
        for (std::size_t i = 8; i < speakers::blockSize(channels); ++i)
            ASSERT_EQ(bytes[i], 0) << "byte " << i << " of " << channels << " channels";
    }
    EXPECT_EQ(speakers::blockSize(20), 8u + 112u * 20u);
    EXPECT_TRUE(speakers::release(&arrangement));
    EXPECT_EQ(arrangement, nullptr);
    EXPECT_TRUE(speakers::release(&arrangement)) << "releasing twice is harmless";
    EXPECT_EQ(arrangement, nullptr);
}

TEST(SpeakerArrangement, MatchCopiesEverySpeakerAndCutsNames) {
    for (int32_t channels : {1, 8, 12}) {
        auto source = hostArrangement(channels);
        const auto* from = reinterpret_cast<const VstSpeakerArrangement*>(source.data());
        VstSpeakerArrangement* to = nullptr;
        ASSERT_TRUE(speakers::allocate(&to, 3));
        ASSERT_TRUE(speakers::match(&to, from)) << channels;
        ASSERT_NE(to, nullptr);
        EXPECT_EQ(to->type, 42);
        EXPECT_EQ(to->numChannels, channels);
        for (int32_t i = 0; i < channels; ++i) {
            const VstSpeakerProperties* copied = speakers::speakerAt(to, i);
            const VstSpeakerProperties* original = speakers::speakerAt(from, i);
            EXPECT_EQ(copied->azimuth, original->azimuth);
            EXPECT_EQ(copied->elevation, -0.5f);
            EXPECT_EQ(copied->radius, 2.0f);
            EXPECT_EQ(copied->reserved, 3.0f);
            EXPECT_EQ(std::string(copied->name), std::string(63, static_cast<char>('a' + i)));
            EXPECT_EQ(copied->name[63], '\0');
            EXPECT_EQ(copied->type, 100 + i);
            EXPECT_EQ(std::memcmp(copied->future, original->future, sizeof copied->future), 0);
        }
        EXPECT_TRUE(speakers::match(&to, to)) << "matching itself keeps it";
        EXPECT_EQ(to->numChannels, channels);
        speakers::release(&to);
    }
}

TEST(SpeakerArrangement, NullArgumentsAndRefusedMemory) {
    VstSpeakerProperties speaker{};
    EXPECT_FALSE(speakers::allocate(nullptr, 2));
    EXPECT_FALSE(speakers::release(nullptr));
    EXPECT_FALSE(speakers::copySpeaker(nullptr, &speaker));
    EXPECT_FALSE(speakers::copySpeaker(&speaker, nullptr));

    auto source = hostArrangement(2);
    const auto* from = reinterpret_cast<const VstSpeakerArrangement*>(source.data());
    VstSpeakerArrangement* to = nullptr;
    ASSERT_TRUE(speakers::allocate(&to, 2));
    VstSpeakerArrangement* const kept = to;
    EXPECT_FALSE(speakers::match(&to, nullptr));
    EXPECT_EQ(to, kept) << "a refused match leaves the target alone";
    EXPECT_FALSE(speakers::match(nullptr, from));

    // Memory that cannot be had: false, and the target holds null (its old
    // block released).
    EXPECT_FALSE(speakers::allocate(&to, 2, refuse));
    EXPECT_EQ(to, nullptr);
    ASSERT_TRUE(speakers::allocate(&to, 2));
    EXPECT_FALSE(speakers::match(&to, from, refuse));
    EXPECT_EQ(to, nullptr);
    // A negative count is no arrangement either.
    EXPECT_FALSE(speakers::allocate(&to, -1));
    EXPECT_EQ(to, nullptr);
}

TEST(SpeakerArrangement, TheEffectOffersTheHelpers) {
    base_support::BareEffect effect;
    auto source = hostArrangement(3);
    VstSpeakerArrangement* to = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&to, 1));
    ASSERT_TRUE(effect.matchArrangement(&to, reinterpret_cast<const VstSpeakerArrangement*>(source.data())));
    EXPECT_EQ(to->numChannels, 3);
    VstSpeakerProperties single{};
    EXPECT_TRUE(effect.copySpeaker(&single, speakers::speakerAt(to, 2)));
    EXPECT_EQ(single.type, 102);
    EXPECT_TRUE(effect.deallocateArrangement(&to));
    EXPECT_TRUE(effect.deallocateArrangement(&to));
    EXPECT_EQ(to, nullptr);
}
