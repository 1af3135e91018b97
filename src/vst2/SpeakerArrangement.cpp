#include "vst2/SpeakerArrangement.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "vst2/Text.h"

namespace veltrosa::vst2edge::speakers {

namespace {

constexpr std::size_t kNameLength = sizeof(vst2::VstSpeakerProperties::name) - 1;  // 63

void* callocZeroed(std::size_t count, std::size_t size) { return std::calloc(count, size); }

}  // namespace

std::size_t blockSize(int32_t channels) {
    return vst2::kSpeakerArrangementHeaderSize +
           sizeof(vst2::VstSpeakerProperties) * static_cast<std::size_t>(channels);
}

vst2::VstSpeakerProperties* speakerAt(vst2::VstSpeakerArrangement* arrangement, int32_t channel) {
    auto* first = reinterpret_cast<vst2::VstSpeakerProperties*>(reinterpret_cast<unsigned char*>(arrangement) +
                                                                vst2::kSpeakerArrangementHeaderSize);
    return first + channel;
}

const vst2::VstSpeakerProperties* speakerAt(const vst2::VstSpeakerArrangement* arrangement, int32_t channel) {
    return speakerAt(const_cast<vst2::VstSpeakerArrangement*>(arrangement), channel);
}

bool allocate(vst2::VstSpeakerArrangement** where, int32_t channels, ZeroedAllocator zeroed) {
    if (where == nullptr)
        return false;
    release(where);
    // On a 32-bit build a large count would wrap the byte count.
    constexpr std::size_t maxChannels =
        (std::numeric_limits<std::size_t>::max() - vst2::kSpeakerArrangementHeaderSize) /
        sizeof(vst2::VstSpeakerProperties);
    if (channels < 0 || static_cast<std::size_t>(channels) > maxChannels)
        return false;
    void* block = (zeroed != nullptr ? zeroed : callocZeroed)(1, blockSize(channels));
    if (block == nullptr)
        return false;
    auto* arrangement = static_cast<vst2::VstSpeakerArrangement*>(block);
    arrangement->numChannels = channels;
    *where = arrangement;
    return true;
}

bool release(vst2::VstSpeakerArrangement** where) {
    if (where == nullptr)
        return false;
    std::free(*where);
    *where = nullptr;
    return true;
}

bool copySpeaker(vst2::VstSpeakerProperties* to, const vst2::VstSpeakerProperties* from) {
    if (to == nullptr || from == nullptr)
        return false;
    to->azimuth = from->azimuth;
    to->elevation = from->elevation;
    to->radius = from->radius;
    to->reserved = from->reserved;
    copyText(to->name, from->name, kNameLength);
    to->type = from->type;
    std::memcpy(to->future, from->future, sizeof to->future);
    return true;
}

bool match(vst2::VstSpeakerArrangement** to, const vst2::VstSpeakerArrangement* from, ZeroedAllocator zeroed) {
    if (from == nullptr || to == nullptr)
        return false;
    // Releasing the target first would free the very source.
    if (*to == from)
        return true;
    if (!allocate(to, from->numChannels, zeroed))
        return false;
    (*to)->type = from->type;
    for (int32_t channel = 0; channel < from->numChannels; ++channel)
        if (!copySpeaker(speakerAt(*to, channel), speakerAt(from, channel)))
            return false;
    return true;
}

}  // namespace veltrosa::vst2edge::speakers
