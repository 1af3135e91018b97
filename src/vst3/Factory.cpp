#include "vst3/Factory.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "core/Identity.h"
#include "vst3/Controller.h"
#include "vst3/Ids.h"
#include "vst3/Processor.h"

namespace veltrosa::vst3edge {

namespace {

void copyName(char* dest, std::size_t capacity, const char* source) { std::snprintf(dest, capacity, "%s", source); }

// One object for the module's life: hosts count references on it, but it
// is never freed.
class Factory final : public vst3::PluginFactory2 {
public:
    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override {
        if (object == nullptr)
            return vst3::kInvalidArgument;
        *object = nullptr;
        if (!sameId(iid, vst3::kIidUnknown) && !sameId(iid, vst3::kIidPluginFactory) &&
            !sameId(iid, vst3::kIidPluginFactory2))
            return vst3::kNoInterface;
        *object = static_cast<vst3::PluginFactory2*>(this);
        return vst3::kOk;
    }
    uint32_t VST3CALL addRef() override { return 1; }
    uint32_t VST3CALL release() override { return 1; }

    vst3::Result VST3CALL getFactoryInfo(vst3::FactoryInfo* info) override {
        if (info == nullptr)
            return vst3::kInvalidArgument;
        *info = {};
        copyName(info->vendor, sizeof info->vendor, kVendor);
        return vst3::kOk;
    }

    int32_t VST3CALL countClasses() override { return 2; }

    vst3::Result VST3CALL getClassInfo(int32_t index, vst3::ClassInfo* info) override {
        vst3::ClassInfo2 full{};
        if (info == nullptr || getClassInfo2(index, &full) != vst3::kOk)
            return vst3::kInvalidArgument;
        *info = {};
        std::memcpy(info->cid, full.cid, sizeof info->cid);
        info->cardinality = full.cardinality;
        std::memcpy(info->category, full.category, sizeof info->category);
        std::memcpy(info->name, full.name, sizeof info->name);
        return vst3::kOk;
    }

    vst3::Result VST3CALL getClassInfo2(int32_t index, vst3::ClassInfo2* info) override {
        if (info == nullptr || index < 0 || index > 1)
            return vst3::kInvalidArgument;
        *info = {};
        const bool processor = index == 0;
        std::memcpy(info->cid, (processor ? kProcessorId : kControllerId).bytes, sizeof info->cid);
        info->cardinality = vst3::kManyInstances;
        copyName(info->category, sizeof info->category,
                 processor ? vst3::kCategoryAudioEffect : vst3::kCategoryController);
        copyName(info->name, sizeof info->name, kEffectName);
        info->classFlags = 0;
        copyName(info->subCategories, sizeof info->subCategories, processor ? "Instrument|Synth" : "");
        copyName(info->vendor, sizeof info->vendor, kVendor);
        copyName(info->version, sizeof info->version, VELTROSA_VERSION);
        copyName(info->sdkVersion, sizeof info->sdkVersion, vst3::kSdkVersion);
        return vst3::kOk;
    }

    vst3::Result VST3CALL createInstance(const char* cid, const char* iid, void** object) override {
        if (object == nullptr)
            return vst3::kInvalidArgument;
        *object = nullptr;
        vst3::Unknown* made = nullptr;
        try {
            if (sameId(cid, kProcessorId))
                made = static_cast<vst3::Component*>(new Processor);
            else if (sameId(cid, kControllerId))
                made = static_cast<vst3::EditController*>(new Controller);
            else
                return vst3::kInvalidArgument;
        } catch (...) {
            return vst3::kOutOfMemory;
        }
        const vst3::Result result = made->queryInterface(iid, object);
        made->release();
        return result;
    }
};

}  // namespace

vst3::PluginFactory2* factory() {
    static Factory instance;
    return &instance;
}

}  // namespace veltrosa::vst3edge
