// The editor's window on Windows: a child of the host's window, of a class
// registered on the plug-in's module handle (the process-wide "OwlGui", or
// one private to the module: WindowClassScope), whose window procedure
// turns USER messages into the toolkit's WindowMessages.
//
// Threads: the host's user-interface thread, which owns the window and
// receives its messages.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>

#include "editor/platform/WindowLayer.h"
#include "editor/platform/win32/GdiSurface.h"

namespace veltrosa {

class Win32WindowLayer final : public WindowLayer {
public:
    explicit Win32WindowLayer(WindowClassScope scope = WindowClassScope::Process);
    ~Win32WindowLayer() override;
    Win32WindowLayer(const Win32WindowLayer&) = delete;
    Win32WindowLayer& operator=(const Win32WindowLayer&) = delete;

    bool create(void* parent, int32_t width, int32_t height, WindowMessageSink& sink) override;
    void show() override;
    // Destroys the window, then unregisters the class, which Windows refuses
    // while another editor's window of the class still exists.
    void destroy() override;

    void setCapture() override;
    void releaseCapture() override;
    void setFocus() override;
    void screenToClient(int32_t& x, int32_t& y) override;

    Surface* beginPaint() override;
    void endPaint() override;
    Surface* getSurface() override;
    void releaseSurface() override;

    HWND handle() const { return window_; }
    uintptr_t nativeWindow() const override { return reinterpret_cast<uintptr_t>(window_); }
    // Through a timer procedure of its own, so the window procedure (and the
    // VST 2 edition's windows) never sees a timer.
    bool startTimer(uint32_t periodMs, std::function<void()> tick) override;

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void CALLBACK timerProcedure(HWND window, UINT message, UINT_PTR id, DWORD time);

    const char* className_;
    UINT classStyle_;
    HWND window_ = nullptr;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;  // from GetDC, between getSurface and releaseSurface
    std::optional<GdiSurface> surface_;
    std::function<void()> tick_;  // while the timer runs
};

}  // namespace veltrosa
