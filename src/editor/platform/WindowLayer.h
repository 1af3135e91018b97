// The window seam: the internal API every platform implementation of the
// editor's window must provide. The toolkit (ControlWindow) never calls the window
// system itself; it asks a WindowLayer, and the layer turns the platform's
// own messages into WindowMessages handed to the toolkit's sink.
//
// A backend provides a class derived from WindowLayer and exactly one
// definition of createWindowLayer(), picked at link time (src/editor/
// CMakeLists.txt): the Win32 layer on Windows, the X11 layer where it is
// built, otherwise the headless raster layer (raster/RasterWindowLayer.h).
//
// Threads: every call, and every message delivered, on the host's
// user-interface thread.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>

#include "editor/platform/Surface.h"

namespace veltrosa {

enum class WindowMessageType {
    Paint,           // the whole client area must be painted again
    Activate,        // the window was clicked while not active: take focus
    MouseMove,       // x, y: client coordinates (outside the window during a capture)
    LeftButtonDown,  // x, y: client coordinates
    LeftButtonUp,    // x, y: client coordinates
    Wheel,           // x, y: SCREEN coordinates; wheelDelta: 120 per notch, positive away from the user
};

struct WindowMessage {
    WindowMessageType type = WindowMessageType::Paint;
    int32_t x = 0;
    int32_t y = 0;
    int32_t wheelDelta = 0;
};

// The toolkit's platform-neutral message handling (the window procedure's
// body). A layer hands every message above to it and answers all others with
// the platform's default handling.
class WindowMessageSink {
public:
    virtual void handleMessage(const WindowMessage& message) = 0;

protected:
    ~WindowMessageSink() = default;
};

// The scale factors layers take; absurd or non-finite ones count as 1.
inline bool scaleInBounds(double factor) { return std::isfinite(factor) && factor >= 0.25 && factor <= 8.0; }
inline double usableScale(double factor) { return scaleInBounds(factor) ? factor : 1.0; }
inline int32_t unitsToPixels(int32_t units, double scale) { return static_cast<int32_t>(std::ceil(units * scale)); }

class WindowLayer {
public:
    // Destroys the window if it still exists.
    virtual ~WindowLayer() = default;

    // Creates the editor's child window, not yet visible, at (0, 0) with the
    // given client size inside the host's parent window, and from then on
    // delivers its messages to sink. False when the platform refuses; the
    // toolkit then shows nothing but carries on.
    virtual bool create(void* parent, int32_t width, int32_t height, WindowMessageSink& sink) = 0;
    virtual void show() = 0;
    // Destroys the window; no message reaches the sink afterwards.
    virtual void destroy() = 0;

    // Mouse capture: moves and the release reach the window even outside it.
    virtual void setCapture() = 0;
    virtual void releaseCapture() = 0;
    virtual void setFocus() = 0;
    // Turns screen coordinates (of a wheel message) into client coordinates.
    virtual void screenToClient(int32_t& x, int32_t& y) = 0;

    // Painting the whole client area (the Paint message and the end of open):
    // the surface is valid until endPaint. Null when there is no window.
    virtual Surface* beginPaint() = 0;
    virtual void endPaint() = 0;
    // Immediate drawing after a mouse message: valid until releaseSurface.
    virtual Surface* getSurface() = 0;
    virtual void releaseSurface() = 0;

    // Called from effEditIdle. Layers whose messages are not dispatched by the
    // host's own event loop read and deliver them here; others do nothing.
    virtual void processPendingMessages() {}
    // The platform's id of the editor's window (an X11 Window id, say), for
    // formats that hand it to the host; 0 when there is none.
    virtual uintptr_t nativeWindow() const { return 0; }
    // A file descriptor that turns readable when messages wait (the window
    // system's connection), for hosts that watch it and then call
    // processPendingMessages; -1 when there is none.
    virtual int eventFd() const { return -1; }
    // A timer of the window's own, where the host's message loop runs the
    // window (Windows): tick every periodMs on this thread until the window
    // goes. False where the platform has none; the host's loop times then.
    virtual bool startTimer(uint32_t /*periodMs*/, std::function<void()> /*tick*/) { return false; }

    // Window pixels per client unit, set before create (1 unless the edge
    // asks for more on a dense screen). A layer that honours it makes the
    // window that much larger, draws through a scaled surface and delivers
    // pointer positions in client units; one that does not stays at 1.
    void setScale(double factor) { scale_ = usableScale(factor); }
    double scaleFactor() const { return scale_; }

protected:
    int32_t toPixels(int32_t units) const { return unitsToPixels(units, scale_); }
    int32_t toUnits(int32_t pixels) const { return static_cast<int32_t>(std::floor(pixels / scale_)); }

private:
    double scale_ = 1.0;
};

// Whose window class a window is of, where the platform has classes
// (Windows): one the whole process shares, registered by the first editor
// open (the VST 2 edition's, as its hosts know it), or one private to the
// module, so that another module's editor, or its unloading, never touches
// this module's windows.
enum class WindowClassScope { Process, Module };

// Provided once per platform at link time. May answer null (no window system
// available); the editor then opens without a window.
std::unique_ptr<WindowLayer> createWindowLayer(WindowClassScope scope = WindowClassScope::Process);
// Provided beside it: the scale the desktop asks of new windows, for edges
// whose host names none; 1 where the platform publishes none.
double desktopScale();

}  // namespace veltrosa
