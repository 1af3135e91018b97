#include "editor/platform/x11/X11Window.h"

#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <cairo-xlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace veltrosa::x11 {

namespace {

// A lost connection must not end the host: Xlib's default exit handler would
// call exit(). The connection is dead afterwards; Xlib refuses further work.
void keepRunning(Display* /*display*/, void* /*data*/) {}

constexpr long kEventMask =
    ExposureMask | PointerMotionMask | ButtonPressMask | ButtonReleaseMask | LeaveWindowMask | StructureNotifyMask;

}  // namespace

double displayScale(Display* display) {
    const char* resources = XResourceManagerString(display);
    if (resources == nullptr)
        return 1.0;
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(resources);
    double scale = 1.0;
    char* type = nullptr;
    XrmValue value{};
    if (database != nullptr && XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr != nullptr)
        scale = std::atof(value.addr) / 96.0;
    if (database != nullptr)
        XrmDestroyDatabase(database);
    return std::isfinite(scale) && scale >= 0.5 && scale <= 4.0 ? scale : 1.0;
}

// Errors are delivered on the thread that reads the reply, which is the
// thread inside the trap.
static thread_local ErrorTrap* activeTrap = nullptr;

ErrorTrap::ErrorTrap(Display* display) : display_(display), outer_(activeTrap) {
    previous_ = XSetErrorHandler(&ErrorTrap::handler);
    previousIo_ = XSetIOErrorHandler(&ErrorTrap::ioHandler);
    activeTrap = this;
}

ErrorTrap::~ErrorTrap() {
    if (!closed_ && NextRequest(display_) - 1 > LastKnownRequestProcessed(display_))
        XSync(display_, False);
    activeTrap = outer_;
    // Someone replaced our handlers meanwhile: leave theirs in place.
    XErrorHandler mine = XSetErrorHandler(previous_);
    if (mine != &ErrorTrap::handler)
        XSetErrorHandler(mine);
    XIOErrorHandler mineIo = XSetIOErrorHandler(previousIo_);
    if (mineIo != &ErrorTrap::ioHandler)
        XSetIOErrorHandler(mineIo);
}

ErrorTrap* ErrorTrap::outermost() {
    ErrorTrap* trap = this;
    while (trap->outer_ != nullptr)
        trap = trap->outer_;
    return trap;
}

bool ErrorTrap::failedAfterSync() {
    XSync(display_, False);
    return errors_ != 0;
}

int ErrorTrap::handler(Display* display, XErrorEvent* event) {
    for (ErrorTrap* trap = activeTrap; trap != nullptr; trap = trap->outer_)
        if (trap->display_ == display) {
            ++trap->errors_;
            return 0;
        }
    ErrorTrap* first = activeTrap != nullptr ? activeTrap->outermost() : nullptr;
    if (first != nullptr && first->previous_ != nullptr && first->previous_ != &ErrorTrap::handler)
        return first->previous_(display, event);
    return 0;
}

int ErrorTrap::ioHandler(Display* display) {
    // Our connection is gone: returning lets keepRunning (the exit handler)
    // end the matter; Xlib marks the connection dead and refuses further
    // work on it. Anyone else's lost connection is their handler's business.
    for (ErrorTrap* trap = activeTrap; trap != nullptr; trap = trap->outer_)
        if (trap->display_ == display)
            return 0;
    ErrorTrap* first = activeTrap != nullptr ? activeTrap->outermost() : nullptr;
    if (first != nullptr && first->previousIo_ != nullptr && first->previousIo_ != &ErrorTrap::ioHandler)
        return first->previousIo_(display);
    return 0;
}

bool X11Window::create(unsigned long parent, int width, int height) {
    destroy();
    if (parent == 0 || width <= 0 || height <= 0)
        return false;
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr)
        return false;
    XSetIOErrorExitHandler(display_, &keepRunning, nullptr);

    bool ok = false;
    {
        ErrorTrap trap(display_);
        XWindowAttributes parentAttributes{};
        // The parent's visual is ours (CopyFromParent); asking for its
        // attributes also tells a real window from a bogus id.
        if (XGetWindowAttributes(display_, static_cast<Window>(parent), &parentAttributes) != 0 &&
            !trap.failedAfterSync()) {
            XSetWindowAttributes attributes{};
            attributes.event_mask = kEventMask;
            // No background: the editor paints every pixel itself.
            attributes.background_pixmap = None;
            window_ = XCreateWindow(display_, static_cast<Window>(parent), 0, 0, static_cast<unsigned>(width),
                                    static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                    CWEventMask | CWBackPixmap, &attributes);
            if (!trap.failedAfterSync()) {
                // An XEmbed client (protocol version 0), mapped by its embedder.
                const long embedInfo[2] = {0, 1};
                XChangeProperty(display_, window_, XInternAtom(display_, "_XEMBED_INFO", False),
                                XInternAtom(display_, "_XEMBED_INFO", False), 32, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(embedInfo), 2);
                visual_ = parentAttributes.visual;
                depth_ = parentAttributes.depth;
                width_ = width;
                height_ = height;
                gc_ = XCreateGC(display_, window_, 0, nullptr);
                ok = !trap.failedAfterSync();
            }
        }
    }
    if (!ok)
        destroy();
    return ok;
}

void X11Window::show() {
    if (window_ == 0)
        return;
    ErrorTrap trap(display_);
    XMapWindow(display_, window_);
}

void X11Window::focus() {
    if (window_ == 0)
        return;
    // Refused (harmlessly) while the window is not viewable.
    ErrorTrap trap(display_);
    XSetInputFocus(display_, window_, RevertToParent, lastPress_);
}

void X11Window::destroy() {
    if (display_ == nullptr)
        return;
    ErrorTrap trap(display_);
    if (surface_ != nullptr) {
        cairo_surface_finish(surface_);
        cairo_surface_destroy(surface_);
        surface_ = nullptr;
    }
    if (gc_ != nullptr)
        XFreeGC(display_, gc_);
    gc_ = nullptr;
    // Fails harmlessly when the host destroyed its window (and ours with it)
    // first.
    if (window_ != 0)
        XDestroyWindow(display_, window_);
    window_ = 0;
    XCloseDisplay(display_);
    trap.displayClosed();
    display_ = nullptr;
}

void X11Window::dispatchEvents(WindowListener& listener) {
    if (display_ == nullptr)
        return;
    ErrorTrap trap(display_);
    bool exposed = false;
    while (window_ != 0 && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        handle(event, listener, exposed);
    }
    if (exposed && window_ != 0)
        listener.exposed();
    flush();
}

void X11Window::handle(const XEvent& event, WindowListener& listener, bool& exposed) {
    if (event.xany.window != window_)
        return;
    switch (event.type) {
    case Expose:
        exposed = true;
        break;
    case MotionNotify:
        listener.pointer({PointerEvent::Kind::Move, event.xmotion.x, event.xmotion.y, event.xmotion.x_root,
                          event.xmotion.y_root, 0});
        break;
    case LeaveNotify:
        // The pointer left for the host's window: a last move outside lets a
        // hovered control know. Crossings caused by grabs are not moves.
        if (event.xcrossing.mode == NotifyNormal)
            listener.pointer({PointerEvent::Kind::Move, event.xcrossing.x, event.xcrossing.y, event.xcrossing.x_root,
                              event.xcrossing.y_root, 0});
        break;
    case ButtonPress: {
        const XButtonEvent& b = event.xbutton;
        // Buttons 6 and 7 (sideways wheel) mean nothing to the editor.
        if (b.button <= Button3) {
            lastPress_ = b.time;
            listener.pointer({PointerEvent::Kind::Activate, b.x, b.y, b.x_root, b.y_root, 0});
        }
        if (b.button == Button1)
            listener.pointer({PointerEvent::Kind::LeftDown, b.x, b.y, b.x_root, b.y_root, 0});
        else if (b.button == Button4)
            listener.pointer({PointerEvent::Kind::Wheel, b.x, b.y, b.x_root, b.y_root, +1});
        else if (b.button == Button5)
            listener.pointer({PointerEvent::Kind::Wheel, b.x, b.y, b.x_root, b.y_root, -1});
        break;
    }
    case ButtonRelease:
        if (event.xbutton.button == Button1)
            listener.pointer({PointerEvent::Kind::LeftUp, event.xbutton.x, event.xbutton.y, event.xbutton.x_root,
                              event.xbutton.y_root, 0});
        break;
    case DestroyNotify:
        // The host destroyed its window and ours went with it.
        if (event.xdestroywindow.window == window_) {
            if (surface_ != nullptr) {
                cairo_surface_finish(surface_);
                cairo_surface_destroy(surface_);
                surface_ = nullptr;
            }
            window_ = 0;
        }
        break;
    default:
        break;
    }
}

void X11Window::show(cairo_surface_t* image, int left, int top, int right, int bottom) {
    if (window_ == 0 || left >= right || top >= bottom)
        return;
    cairo_surface_flush(image);
    const bool plainTrueColour = depth_ == 24 && visual_ != nullptr && visual_->red_mask == 0xFF0000 &&
                                 visual_->green_mask == 0x00FF00 && visual_->blue_mask == 0x0000FF;
    if (plainTrueColour && gc_ != nullptr) {
        // The image's words are already the visual's pixels: straight to the
        // server, no Cairo objects tied to this connection.
        XImage* ximage = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0,
                                      reinterpret_cast<char*>(cairo_image_surface_get_data(image)),
                                      static_cast<unsigned>(cairo_image_surface_get_width(image)),
                                      static_cast<unsigned>(cairo_image_surface_get_height(image)), 32,
                                      cairo_image_surface_get_stride(image));
        if (ximage != nullptr) {
            const uint32_t probe = 1;
            ximage->byte_order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? LSBFirst : MSBFirst;
            XPutImage(display_, window_, gc_, ximage, left, top, left, top, static_cast<unsigned>(right - left),
                      static_cast<unsigned>(bottom - top));
            ximage->data = nullptr;  // Cairo's memory
            XDestroyImage(ximage);
            return;
        }
    }
    // Any other visual: Cairo's Xlib surface converts.
    if (surface_ == nullptr)
        surface_ = cairo_xlib_surface_create(display_, window_, visual_, width_, height_);
    cairo_t* cr = cairo_create(surface_);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_rectangle(cr, left, top, right - left, bottom - top);
    cairo_fill(cr);
    cairo_destroy(cr);
}

void X11Window::flush() {
    if (display_ == nullptr)
        return;
    if (surface_ != nullptr)
        cairo_surface_flush(surface_);
    XFlush(display_);
}

}  // namespace veltrosa::x11
