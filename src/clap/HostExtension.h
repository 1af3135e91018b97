// One of the host's extensions, or null when the host does not offer it.
#pragma once

#include "abi/clap.h"

namespace veltrosa::clapedge {

template <typename T>
const T* hostExtension(const clap::Host* host, const char* id) {
    if (host == nullptr || host->getExtension == nullptr)
        return nullptr;
    return static_cast<const T*>(host->getExtension(host, id));
}

}  // namespace veltrosa::clapedge
