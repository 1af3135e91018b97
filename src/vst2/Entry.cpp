#include "vst2/Entry.h"

#include "vst2/EffectBase.h"

#if defined(_WIN32)
#include <windows.h>
#define VELTROSA_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#define VELTROSA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace veltrosa::vst2edge {

void* moduleHandle = nullptr;

namespace {

vst2::AEffect* entry(vst2::HostCallback host) {
    if (host == nullptr)
        return nullptr;
#if !defined(_WIN32)
    if (moduleHandle == nullptr) {
        // No library entry routine here: the address of this very function
        // names the shared object it lives in.
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&entry), &info) != 0)
            moduleHandle = info.dli_fbase;
    }
#endif
    if (host(nullptr, vst2::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    EffectBase* effect = createEffectInstance(host);
    return effect != nullptr ? effect->getAeffect() : nullptr;
}

}  // namespace

}  // namespace veltrosa::vst2edge

VELTROSA_EXPORT vst2::AEffect* VSTCALL VSTPluginMain(vst2::HostCallback host) {
    try {
        return veltrosa::vst2edge::entry(host);
    } catch (...) {
        return nullptr;
    }
}

#if defined(_WIN32)
// The C run-time's start-up code calls this by its C name for every
// notification; the editor registers its window class with the handle.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
    veltrosa::vst2edge::moduleHandle = instance;
    return TRUE;
}
#else
// Older hosts look for "main": the same routine under a second name, which C++
// only lets us spell through an assembler label.
extern "C" __attribute__((visibility("default"), alias("VSTPluginMain"))) vst2::AEffect* VSTCALL
veltrosaMainAlias(vst2::HostCallback host) __asm__("main");
#endif
