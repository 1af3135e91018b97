// The edition's class IDs, written once from the instrument's identity: its
// unique ID, its name, and which half of the split each class is.
#pragma once

#include "abi/vst3.h"
#include "core/Identity.h"

namespace veltrosa::vst3edge {

inline constexpr uint32_t kVelt = 0x56656C74;  // "Velt"
inline constexpr uint32_t kRosa = 0x726F7361;  // "rosa"
// The processor's ID as words, also the text preset files name it by.
inline constexpr uint32_t kProcessorWords[4] = {static_cast<uint32_t>(kUniqueId), kVelt, kRosa, 0x50726F63};  // "Proc"
inline constexpr vst3::Guid kProcessorId =
    vst3::makeUid(kProcessorWords[0], kProcessorWords[1], kProcessorWords[2], kProcessorWords[3]);
inline constexpr vst3::Guid kControllerId =
    vst3::makeUid(static_cast<uint32_t>(kUniqueId), kVelt, kRosa, 0x4374726C);  // "Ctrl"

// Not a format's: how the controller finds the processor behind a
// connection point the host hands it, when both are this module's.
inline constexpr vst3::Guid kPeerId =
    vst3::makeUid(static_cast<uint32_t>(kUniqueId), kVelt, kRosa, 0x50656572);  // "Peer"

// The factory presets as one more parameter, after the instrument's own:
// the program list hosts offer.
inline constexpr vst3::ParamId kProgramParam = kNumParams;
inline constexpr int32_t kProgramList = 1;

inline bool sameId(const char* a, const vst3::Guid& b) {
    if (a == nullptr)
        return false;
    for (int i = 0; i < 16; ++i)
        if (a[i] != b.bytes[i])
            return false;
    return true;
}

}  // namespace veltrosa::vst3edge
