// Helpers of the Windows tests: where the DLL is, the host's windows, and the
// Linux reference.
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

// The editor's size at scale 1, and where the host's windows put it: away
// from the screen's corner, so that screen and client coordinates differ.
constexpr int kWidth = 305;
constexpr int kHeight = 370;
constexpr int kParentX = 40;
constexpr int kParentY = 30;

// Pointer positions as mouse messages carry them: two signed 16-bit halves.
inline LPARAM point(int x, int y) {
    return static_cast<LPARAM>(static_cast<uint16_t>(static_cast<int16_t>(x))) |
           (static_cast<LPARAM>(static_cast<uint16_t>(static_cast<int16_t>(y))) << 16);
}

// The host's message loop, one turn.
inline void pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// The windows a host would offer: plain top-level windows, one per editor
// open at a time. Made once and left to the end of the process: without a
// window manager (Xvfb), Wine waits two seconds for every top-level window it
// destroys.
inline HWND hostWindow(int which) {
    static HWND windows[2] = {};
    if (windows[which] == nullptr) {
        // The real pointer away from the windows, so that only the messages
        // the tests send move it over the editor.
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VeltrosaTestHost";
        RegisterClassA(&wc);
        windows[which] =
            CreateWindowExA(0, "VeltrosaTestHost", "host", WS_POPUP | WS_VISIBLE, kParentX + which * 400, kParentY,
                            kWidth, kHeight, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    return windows[which];
}

// The snapshot the Linux module wrote (Snapshot.h), named by the runner.
inline const char* referencePath() { return std::getenv("VELTROSA_REFERENCE"); }

}  // namespace windows_support
