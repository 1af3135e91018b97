#include "editor/platform/win32/Win32WindowLayer.h"

namespace veltrosa {

namespace {

constexpr const char* kProcessClassName = "OwlGui";
constexpr const char* kModuleClassName = "VeltrosaEditor";

// The module this code lives in (the plug-in's DLL, not the host's program):
// window classes are registered in its name.
HINSTANCE instance() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&instance), &module);
    return module;
}

// Pointer positions arrive as two signed 16-bit halves: negative during a
// capture when the pointer is left of or above the window.
int32_t lowSigned(LPARAM value) { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)); }
int32_t highSigned(uintptr_t value) { return static_cast<int16_t>(static_cast<uint16_t>((value >> 16) & 0xFFFF)); }

}  // namespace

// Hosts on Windows pass their monitor's scale themselves.
double desktopScale() { return 1.0; }

Win32WindowLayer::~Win32WindowLayer() { destroy(); }

Win32WindowLayer::Win32WindowLayer(WindowClassScope scope)
    : className_(scope == WindowClassScope::Process ? kProcessClassName : kModuleClassName),
      classStyle_(scope == WindowClassScope::Process ? CS_GLOBALCLASS : 0u) {}

bool Win32WindowLayer::create(void* parent, int32_t width, int32_t height, WindowMessageSink& sink) {
    WNDCLASSA windowClass{};
    windowClass.style = classStyle_;
    windowClass.lpfnWndProc = &Win32WindowLayer::windowProcedure;
    windowClass.hInstance = instance();
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;  // the toolkit paints every pixel itself
    windowClass.lpszClassName = className_;
    // Refused when another editor already registered it: that class serves.
    RegisterClassA(&windowClass);

    window_ = CreateWindowExA(0, className_, nullptr, WS_CHILD, 0, 0, width, height, static_cast<HWND>(parent), nullptr,
                              instance(), nullptr);
    if (window_ == nullptr) {
        // Windows keeps a DLL's classes past its unloading; a class left
        // behind would send a later copy of the DLL to a stale procedure.
        UnregisterClassA(className_, instance());
        return false;
    }
    // From here on the window procedure hands messages to the toolkit.
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&sink));
    return true;
}

void Win32WindowLayer::show() {
    if (window_ != nullptr)
        ShowWindow(window_, SW_SHOW);
}

void Win32WindowLayer::destroy() {
    if (window_ == nullptr)
        return;
    if (tick_)
        KillTimer(window_, reinterpret_cast<UINT_PTR>(this));
    tick_ = nullptr;
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    window_ = nullptr;
    UnregisterClassA(className_, instance());
}

// The timer's id is the layer it ticks for.
bool Win32WindowLayer::startTimer(uint32_t periodMs, std::function<void()> tick) {
    if (window_ == nullptr || !tick)
        return false;
    tick_ = std::move(tick);
    if (SetTimer(window_, reinterpret_cast<UINT_PTR>(this), periodMs, &Win32WindowLayer::timerProcedure) != 0)
        return true;
    tick_ = nullptr;
    return false;
}

void CALLBACK Win32WindowLayer::timerProcedure(HWND, UINT, UINT_PTR id, DWORD) {
    // Nothing may unwind into the window manager's frames.
    try {
        // A copy: the tick may close the editor, and with it this layer.
        const std::function<void()> tick = reinterpret_cast<Win32WindowLayer*>(id)->tick_;
        if (tick)
            tick();
    } catch (...) {
    }
}

void Win32WindowLayer::setCapture() {
    if (window_ != nullptr)
        SetCapture(window_);
}

void Win32WindowLayer::releaseCapture() { ReleaseCapture(); }

void Win32WindowLayer::setFocus() {
    if (window_ != nullptr)
        SetFocus(window_);
}

void Win32WindowLayer::screenToClient(int32_t& x, int32_t& y) {
    POINT point{x, y};
    if (window_ != nullptr && ScreenToClient(window_, &point)) {
        x = point.x;
        y = point.y;
    }
}

Surface* Win32WindowLayer::beginPaint() {
    if (window_ == nullptr)
        return nullptr;
    HDC dc = BeginPaint(window_, &paint_);
    if (dc == nullptr)
        return nullptr;
    return &surface_.emplace(dc);
}

void Win32WindowLayer::endPaint() {
    surface_.reset();
    EndPaint(window_, &paint_);
}

Surface* Win32WindowLayer::getSurface() {
    if (window_ == nullptr)
        return nullptr;
    dc_ = GetDC(window_);
    if (dc_ == nullptr)
        return nullptr;
    return &surface_.emplace(dc_);
}

void Win32WindowLayer::releaseSurface() {
    surface_.reset();
    if (dc_ != nullptr)
        ReleaseDC(window_, dc_);
    dc_ = nullptr;
}

LRESULT CALLBACK Win32WindowLayer::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* sink = reinterpret_cast<WindowMessageSink*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (sink == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    WindowMessage m;
    m.x = lowSigned(lParam);
    m.y = highSigned(static_cast<uintptr_t>(lParam));
    switch (message) {
    case WM_PAINT:
        m.type = WindowMessageType::Paint;
        break;
    case WM_MOUSEACTIVATE:
        m.type = WindowMessageType::Activate;
        break;
    case WM_MOUSEMOVE:
        m.type = WindowMessageType::MouseMove;
        break;
    case WM_LBUTTONDOWN:
        m.type = WindowMessageType::LeftButtonDown;
        break;
    case WM_LBUTTONUP:
        m.type = WindowMessageType::LeftButtonUp;
        break;
    case WM_MOUSEWHEEL:
        // Screen coordinates; the toolkit converts them.
        m.type = WindowMessageType::Wheel;
        m.wheelDelta = highSigned(static_cast<uintptr_t>(wParam));
        break;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
    // Nothing may unwind into the window manager's frames.
    try {
        sink->handleMessage(m);
    } catch (...) {
    }
    return 0;
}

std::unique_ptr<WindowLayer> createWindowLayer(WindowClassScope scope) {
    try {
        return std::make_unique<Win32WindowLayer>(scope);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace veltrosa
