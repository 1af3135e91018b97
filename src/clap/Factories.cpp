// The plug-in's description, the factory that makes instances, and the
// preset-discovery factory that lists the factory bank for a host's browser.
#include <cstring>
#include <new>

#include "clap/Gui.h"
#include "clap/Factories.h"
#include "clap/Instrument.h"
#include "core/Identity.h"
#include "presets/Bank.h"

namespace veltrosa::clapedge {

namespace {

// The release's version, as the package and the other new editions give it.
constexpr const char* kVersionText = VELTROSA_VERSION;

constexpr const char* kFeatures[] = {"instrument", "synthesizer", "stereo", nullptr};

const clap::PluginDescriptor kDescriptor{
    clap::kVersion, kPluginId, kEffectName, kVendor, "", "", "", kVersionText,
    "A polyphonic pad synthesiser: 32 harmonics, a filter and an amplifier", kFeatures};

uint32_t CLAPCALL factoryCount(const clap::PluginFactory*) { return 1; }

const clap::PluginDescriptor* CLAPCALL factoryDescriptor(const clap::PluginFactory*, uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}

const clap::Plugin* CLAPCALL factoryCreate(const clap::PluginFactory*, const clap::Host* host, const char* id) {
    if (host == nullptr || id == nullptr || !clap::compatible(host->version) || std::strcmp(id, kPluginId) != 0)
        return nullptr;
    try {
        return (new Instrument(host))->plugin();
    } catch (...) {
        return nullptr;
    }
}

const clap::PluginFactory kPluginFactory{factoryCount, factoryDescriptor, factoryCreate};

// ---- preset discovery: the bank lives inside the plug-in ----

constexpr const char* kProviderId = "com.bramblers.veltrosa.factory-presets";
const clap::PresetProviderDescriptor kProviderDescriptor{clap::kVersion, kProviderId, "Veltrosa factory presets",
                                                         kVendor};

bool CLAPCALL providerInit(const clap::PresetProvider* provider) {
    const auto* indexer = static_cast<const clap::PresetIndexer*>(provider->providerData);
    if (indexer->declareLocation == nullptr)
        return false;
    const clap::PresetLocation location{clap::kPresetIsFactoryContent, "Factory presets", clap::kLocationPlugin,
                                        nullptr};
    return indexer->declareLocation(indexer, &location);
}

void CLAPCALL providerDestroy(const clap::PresetProvider* provider) { delete provider; }

bool CLAPCALL providerMetadata(const clap::PresetProvider*, uint32_t kind, const char* location,
                               const clap::MetadataReceiver* receiver) {
    if (kind != clap::kLocationPlugin || location != nullptr || receiver == nullptr ||
        receiver->beginPreset == nullptr)
        return false;
    try {
        const clap::UniversalPluginId plugin{"clap", kPluginId};
        for (const presets::Preset& preset : presets::factoryBank()) {
            // The host stops the listing by answering false.
            if (!receiver->beginPreset(receiver, preset.name.c_str(), preset.name.c_str()))
                break;
            if (receiver->addPluginId != nullptr)
                receiver->addPluginId(receiver, &plugin);
            if (receiver->setFlags != nullptr)
                receiver->setFlags(receiver, clap::kPresetIsFactoryContent);
            if (receiver->setDescription != nullptr)
                receiver->setDescription(receiver, preset.about.c_str());
        }
    } catch (...) {
        return false;
    }
    return true;
}

const void* CLAPCALL providerExtension(const clap::PresetProvider*, const char*) { return nullptr; }

uint32_t CLAPCALL discoveryCount(const clap::PresetDiscoveryFactory*) { return 1; }

const clap::PresetProviderDescriptor* CLAPCALL discoveryDescriptor(const clap::PresetDiscoveryFactory*,
                                                                   uint32_t index) {
    return index == 0 ? &kProviderDescriptor : nullptr;
}

const clap::PresetProvider* CLAPCALL discoveryCreate(const clap::PresetDiscoveryFactory*,
                                                     const clap::PresetIndexer* indexer, const char* id) {
    if (indexer == nullptr || id == nullptr || std::strcmp(id, kProviderId) != 0)
        return nullptr;
    auto* provider = new (std::nothrow) clap::PresetProvider{&kProviderDescriptor, const_cast<clap::PresetIndexer*>(indexer),
                                                             providerInit, providerDestroy, providerMetadata,
                                                             providerExtension};
    return provider;
}

const clap::PresetDiscoveryFactory kDiscoveryFactory{discoveryCount, discoveryDescriptor, discoveryCreate};

}  // namespace

const clap::PluginDescriptor* descriptor() { return &kDescriptor; }
const clap::PluginFactory* pluginFactory() { return &kPluginFactory; }
const clap::PresetDiscoveryFactory* presetDiscoveryFactory() { return &kDiscoveryFactory; }

}  // namespace veltrosa::clapedge
