// The module's factory: the processor and controller classes.
#pragma once

#include "abi/vst3.h"

namespace veltrosa::vst3edge {

vst3::PluginFactory2* factory();

}  // namespace veltrosa::vst3edge
