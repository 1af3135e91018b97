// Who the instrument is to hosts and to the files they keep: every edition
// and every preset file says the same.
#pragma once

#include <cstdint>

namespace veltrosa {

constexpr int32_t kUniqueId = 0x546F6F74;  // the four characters "Toot"
constexpr int32_t kVendorVersion = 1000;
// The VST 2 record's own version field, which hosts write into preset files.
constexpr int32_t kRecordVersion = 1;
constexpr const char* kEffectName = "Veltrosa";
constexpr const char* kVendor = "Bramblers Global Entertainment";

}  // namespace veltrosa
