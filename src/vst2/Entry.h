// The library's entry: the exported routine that hosts call, and the module
// handle the editor's window layer registers with.
#pragma once

#include "abi/vst2.h"

namespace veltrosa::vst2edge {

class EffectBase;

// Defined by the instrument: builds the effect, or answers null when it
// cannot be built. Never throws.
EffectBase* createEffectInstance(vst2::HostCallback host);

// The library's module handle: the HINSTANCE on Windows, the handle of the
// loaded shared object elsewhere.
extern void* moduleHandle;

}  // namespace veltrosa::vst2edge
