// The one symbol the module exports: the entry hosts look up by name.
#include <atomic>
#include <cstring>

#include "clap/Factories.h"

#if defined(_WIN32)
#define VELTROSA_CLAP_EXPORT __declspec(dllexport)
#else
#define VELTROSA_CLAP_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Hosts may call init more than once; each init pairs with one deinit.
std::atomic<int> initCount{0};

bool CLAPCALL entryInit(const char* path) {
    if (path == nullptr)
        return false;
    initCount.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

void CLAPCALL entryDeinit() {
    int count = initCount.load(std::memory_order_acquire);
    while (count > 0 && !initCount.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel)) {
    }
}

const void* CLAPCALL entryFactory(const char* id) {
    if (id == nullptr || initCount.load(std::memory_order_acquire) == 0)
        return nullptr;
    if (std::strcmp(id, clap::kPluginFactoryId) == 0)
        return veltrosa::clapedge::pluginFactory();
    if (std::strcmp(id, clap::kPresetDiscoveryFactoryId) == 0 ||
        std::strcmp(id, clap::kPresetDiscoveryFactoryIdCompat) == 0)
        return veltrosa::clapedge::presetDiscoveryFactory();
    return nullptr;
}

}  // namespace

extern "C" VELTROSA_CLAP_EXPORT const clap::PluginEntry clap_entry{clap::kVersion, entryInit, entryDeinit,
                                                                    entryFactory};
