// Helpers of the Windows tests: where the DLL is, and the Linux reference.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "Host.h"

namespace windows_support {

// The plug-ins sit next to the test program, as a host's plug-in folder
// would hold them.
inline std::string besideProgram(const char* name) {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, n);
    return exe.substr(0, exe.find_last_of("\\/") + 1) + name;
}

inline std::string pluginPath() { return besideProgram("Veltrosa.dll"); }

inline std::unique_ptr<vsthost::Plugin> loadPlugin() {
    std::string error;
    auto plugin = vsthost::Plugin::load(pluginPath(), error);
    EXPECT_TRUE(plugin) << error;
    return plugin;
}

// A 32-bit top-down DIB header: pixel (x, y) is word y * width + x, 0x00RRGGBB.
inline BITMAPINFO topDownBitmap(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// The snapshot the Linux module wrote (Snapshot.h), named by the runner.
inline const char* referencePath() { return std::getenv("VELTROSA_REFERENCE"); }

}  // namespace windows_support
