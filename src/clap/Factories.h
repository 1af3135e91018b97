// The factories the entry hands out, and the plug-in's description.
#pragma once

#include "abi/clap.h"

namespace veltrosa::clapedge {

const clap::PluginFactory* pluginFactory();
const clap::PresetDiscoveryFactory* presetDiscoveryFactory();
const clap::PluginDescriptor* descriptor();

}  // namespace veltrosa::clapedge
