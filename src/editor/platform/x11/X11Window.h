// The editor's child window in an X11 host: its own Display connection, the
// events the toolkit needs, and showing a Cairo image in the window.
//
// Threads: every call comes from the host's user-interface thread, inside
// the editor opcodes (effEditOpen, effEditIdle, effEditClose) or the effect's
// destruction. Nothing here may be called from parameterChanged.
//
// Errors: the process-wide Xlib error handler belongs to the host. Ours is
// installed only around our own requests, which are synchronised before the
// host's handler comes back, so an error caused by a vanished or bogus parent
// never reaches the host's (by default fatal) handler.
#pragma once

#include <X11/Xlib.h>
#include <cairo.h>

namespace veltrosa::x11 {

// Catches the X errors of one connection while it lives: installs our
// handlers (protocol errors and a lost connection), and on the way out waits
// for the server to answer every request made meanwhile before the previous
// handlers come back. Errors of other connections (the host's) go on to the
// handlers that were there before.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the answers to everything sent so far; true when any request
    // made since the trap was set failed.
    bool failedAfterSync();
    // The connection was closed inside the trap: nothing to wait for.
    void displayClosed() { closed_ = true; }

private:
    static int handler(Display* display, XErrorEvent* event);
    static int ioHandler(Display* display);
    ErrorTrap* outermost();

    Display* display_;
    ErrorTrap* outer_;
    XErrorHandler previous_ = nullptr;
    XIOErrorHandler previousIo_ = nullptr;
    int errors_ = 0;
    bool closed_ = false;
};

// The desktop's font resolution as the X server's resources publish it
// (Xft.dpi), 96 dpi drawing at 1; 1 where it is not set.
double displayScale(Display* display);

// Pointer input in client coordinates of the editor window. During a drag
// (the implicit grab of a pressed button) they may lie outside it.
struct PointerEvent {
    // Activate comes before the press of any of the three main buttons.
    enum class Kind { Move, Activate, LeftDown, LeftUp, Wheel };
    Kind kind = Kind::Move;
    int x = 0;
    int y = 0;
    int rootX = 0;  // the same point on the screen
    int rootY = 0;
    int direction = 0;  // Wheel: +1 away from the user, -1 towards
};

class WindowListener {
public:
    virtual ~WindowListener() = default;
    virtual void pointer(const PointerEvent& event) = 0;
    // Part or all of the window needs painting again; called once per
    // burst of exposures.
    virtual void exposed() = 0;
};

class X11Window {
public:
    X11Window() = default;
    ~X11Window() { destroy(); }
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    // Opens a connection and a width x height child at (0, 0) of parent, not
    // yet shown. False, with nothing left open, when there is no display or
    // the parent is not a window.
    bool create(unsigned long parent, int width, int height);
    void show();
    // Keyboard focus to the window, as of the last button press.
    void focus();
    // Destroys the window and closes the connection; harmless when the host
    // destroyed its window first, or when nothing was created.
    void destroy();

    // Drains the pending events and hands them to the listener in order.
    void dispatchEvents(WindowListener& listener);
    // The window is there to draw in (not destroyed, by us or by the host).
    bool drawable() const { return window_ != 0; }
    // Shows part of a Cairo RGB24 image of the whole window: [left, right) x
    // [top, bottom) of image goes to the same place in the window.
    void show(cairo_surface_t* image, int left, int top, int right, int bottom);
    // Pushes what was drawn to the server at once.
    void flush();

    Display* display() const { return display_; }
    Window window() const { return window_; }

private:
    void handle(const XEvent& event, WindowListener& listener, bool& exposed);

    Display* display_ = nullptr;
    Window window_ = 0;
    cairo_surface_t* surface_ = nullptr;  // made only for visuals other than 24-bit true colour
    Visual* visual_ = nullptr;
    int depth_ = 0;
    int width_ = 0;
    int height_ = 0;
    GC gc_ = nullptr;
    Time lastPress_ = CurrentTime;
};

}  // namespace veltrosa::x11
