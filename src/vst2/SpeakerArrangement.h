// Speaker arrangements as the published interface lays them out: an 8-byte
// header (type, channel count) followed by exactly numChannels 112-byte
// speaker records. The declared struct shows eight speakers; blocks built
// here hold as many as asked, so speakers are reached through speakerAt and
// never through the declared array.
//
// Parameter or user-interface thread: these allocate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/vst2.h"

namespace veltrosa::vst2edge::speakers {

// Zero-filled memory for count objects of size bytes, or null; calloc's shape.
using ZeroedAllocator = void* (*)(std::size_t count, std::size_t size);

// Bytes of an arrangement with the given number of channels.
std::size_t blockSize(int32_t channels);

// The speaker at position channel, counted from the first one after the
// header; the caller keeps channel below the block's channel count.
vst2::VstSpeakerProperties* speakerAt(vst2::VstSpeakerArrangement* arrangement, int32_t channel);
const vst2::VstSpeakerProperties* speakerAt(const vst2::VstSpeakerArrangement* arrangement, int32_t channel);

// Releases whatever *where holds, then stores a zero-filled arrangement of
// `channels` speakers (its count written in). False, with *where null, when
// the memory cannot be had or the count is negative; false for a null where.
bool allocate(vst2::VstSpeakerArrangement** where, int32_t channels, ZeroedAllocator zeroed = nullptr);

// Releases the arrangement in *where (if any) and stores null. False only for
// a null where.
bool release(vst2::VstSpeakerArrangement** where);

// Copies one speaker; its name keeps at most 63 characters and ends in NUL.
bool copySpeaker(vst2::VstSpeakerProperties* to, const vst2::VstSpeakerProperties* from);

// Makes *to a copy of from: released, allocated for from's channel count, the
// type and every speaker copied.
bool match(vst2::VstSpeakerArrangement** to, const vst2::VstSpeakerArrangement* from, ZeroedAllocator zeroed = nullptr);

}  // namespace veltrosa::vst2edge::speakers
