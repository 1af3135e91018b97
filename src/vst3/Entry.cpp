// The module's exported entry points: the factory, and the load and unload
// calls each system's hosts make around it.
#include "vst3/Factory.h"

#if defined(_WIN32)
#define VELTROSA_VST3_EXPORT __declspec(dllexport)
#else
#define VELTROSA_VST3_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

VELTROSA_VST3_EXPORT vst3::PluginFactory* VST3CALL GetPluginFactory() { return veltrosa::vst3edge::factory(); }

// Nothing is set up at load or torn down at unload: every instance owns
// what it uses.
#if defined(_WIN32)
VELTROSA_VST3_EXPORT bool VST3CALL InitDll() { return true; }
VELTROSA_VST3_EXPORT bool VST3CALL ExitDll() { return true; }
#else
VELTROSA_VST3_EXPORT bool ModuleEntry(void*) { return true; }
VELTROSA_VST3_EXPORT bool ModuleExit() { return true; }
#endif
}
