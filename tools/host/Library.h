// Loading a shared library and finding a symbol in it: the one place the host
// library touches the platform's loader.
#pragma once

#include <memory>
#include <string>

namespace vsthost {

class Library {
public:
    virtual ~Library() = default;
    // Null when the symbol is absent.
    virtual void* symbol(const char* name) = 0;

    // Null on failure, with the loader's reason in error.
    static std::unique_ptr<Library> open(const std::string& path, std::string& error);
};

}  // namespace vsthost
