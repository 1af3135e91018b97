#include "Library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vsthost {

namespace {

#if defined(_WIN32)
class WindowsLibrary final : public Library {
public:
    explicit WindowsLibrary(HMODULE module) : module_(module) {}
    ~WindowsLibrary() override { FreeLibrary(module_); }
    void* symbol(const char* name) override { return reinterpret_cast<void*>(GetProcAddress(module_, name)); }

private:
    HMODULE module_;
};
#else
class PosixLibrary final : public Library {
public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    ~PosixLibrary() override { dlclose(handle_); }
    void* symbol(const char* name) override { return dlsym(handle_, name); }

private:
    void* handle_;
};
#endif

}  // namespace

std::unique_ptr<Library> Library::open(const std::string& path, std::string& error) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    return std::make_unique<WindowsLibrary>(module);
#else
    // Local binding, as hosts load plug-ins: our symbols must not leak into
    // the next plug-in, nor theirs into ours.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : ("cannot load " + path);
        return nullptr;
    }
    return std::make_unique<PosixLibrary>(handle);
#endif
}

}  // namespace vsthost
