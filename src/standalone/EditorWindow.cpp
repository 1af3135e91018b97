#include "standalone/EditorWindow.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdint>
#include <exception>

#include "editor/platform/raster/CairoSurface.h"
#include "editor/platform/x11/X11Window.h"

namespace veltrosa::standaloneedge {

float StandaloneParameters::parameterValue(int32_t index) { return shell_.value(index); }

void StandaloneParameters::setParameterFromUi(int32_t index, float value, bool) {
    if (!shell_.setValue(index, static_cast<double>(value)))
        return;
    if (editor_ != nullptr)
        editor_->parameterChanged(index, value);
}

void StandaloneParameters::showAll() {
    if (editor_ != nullptr)
        editor_->refreshControls();
}

namespace {

// Xlib's default reports a lost connection in several lines and exits; the
// program says it in one and quits as usual, saving what it should.
int quietIoError(Display*) { return 0; }

// For the window managers that read only WM_NAME: each character beyond
// ASCII (the dash, a file name's letters) becomes one ASCII stand-in.
std::string asciiTitle(const std::string& utf8) {
    std::string ascii;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80)
            ascii += static_cast<char>(c);
        else if (utf8.compare(i, 3, "\u2014") == 0)
            ascii += '-';
        else if ((c & 0xC0) != 0x80)
            ascii += '?';
    }
    return ascii;
}

}  // namespace

void EditorWindow::connectionLost(Display*, void* self) { static_cast<EditorWindow*>(self)->lost_ = true; }

bool EditorWindow::open(StandaloneParameters& parameters, double scale, const std::string& title,
                        std::string& error) {
    close();
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) {
        error = "cannot open the X display";
        return false;
    }
    lost_ = false;
    XSetIOErrorHandler(quietIoError);
    XSetIOErrorExitHandler(display_, &EditorWindow::connectionLost, this);
    try {
        // The table builder lets Update go.
        editor_ = std::make_unique<EmbeddedEditor>(parameters, EmbeddedEditor::TriggerRelease::Builder);
    } catch (const std::exception& e) {
        error = std::string("cannot build the editor: ") + e.what();
        close();
        return false;
    }
    if (scale <= 0.0)
        scale = x11::displayScale(display_);
    const Rect size = EmbeddedEditor::pixelSize(scale);
    const auto width = static_cast<unsigned>(size.width()), height = static_cast<unsigned>(size.height());
    const int screen = DefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, width, height, 0,
                                  BlackPixel(display_, screen), BlackPixel(display_, screen));
    title_.clear();
    setTitle(title);
    XClassHint classHint{const_cast<char*>("veltrosa"), const_cast<char*>("Veltrosa")};
    XSetClassHint(display_, window_, &classHint);
    if (XSizeHints* hints = XAllocSizeHints()) {
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = static_cast<int>(width);
        hints->min_height = hints->max_height = static_cast<int>(height);
        XSetWMNormalHints(display_, window_, hints);
        XFree(hints);
    }
    deleteWindow_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display_, window_, &deleteWindow_, 1);
    if (XWMHints* wmHints = XAllocWMHints()) {
        wmHints->flags = InputHint;
        wmHints->input = True;  // the keys are ours
        XSetWMHints(display_, window_, wmHints);
        XFree(wmHints);
    }
    // The editor's window selects no keys, so they come up to this one.
    XSelectInput(display_, window_, StructureNotifyMask | KeyPressMask);
    XMapWindow(display_, window_);
    XSync(display_, False);

    parameters_ = &parameters;
    if (!editor_->open(reinterpret_cast<void*>(static_cast<uintptr_t>(window_)), scale)) {
        error = "cannot open the editor in its window";
        close();
        return false;
    }
    // Keys stop at the focus window, and the editor takes the focus when
    // clicked: its window's keys come to this connection as well.
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display_, window_, &root, &parent, &children, &count) != 0) {
        for (unsigned i = 0; i < count; ++i)
            XSelectInput(display_, children[i], KeyPressMask);
        XFree(children);
    }
    // Now, while the editor's window is there: a request still queued when
    // the window is closed again would name a window gone, an error that
    // ends the program.
    XSync(display_, False);
    parameters.setEditor(&editor_->editor());
    return true;
}

bool EditorWindow::idle() {
    if (display_ == nullptr || lost_)
        return false;
    editor_->onTimer();
    bool open = true;
    while (!lost_ && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_)
            open = false;
        if (event.type == KeyPress)
            keyPressed(event.xkey);
        if (event.type == DestroyNotify && event.xdestroywindow.window == window_) {
            window_ = 0;  // gone already: nothing to destroy on close
            open = false;
        }
    }
    return open && !lost_;
}

void EditorWindow::setTitle(const std::string& title) {
    if (display_ == nullptr || window_ == 0 || lost_ || title == title_)
        return;
    title_ = title;
    XStoreName(display_, window_, asciiTitle(title).c_str());
    XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_NAME", False),
                    XInternAtom(display_, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    XFlush(display_);
}

void EditorWindow::keyPressed(XKeyEvent& event) {
    if (!keyHandler_)
        return;
    const KeySym key = XLookupKeysym(&event, 0);
    if (key == XK_Page_Up)
        keyHandler_(WindowKey::PreviousSound);
    else if (key == XK_Page_Down)
        keyHandler_(WindowKey::NextSound);
    else if (key == XK_s && (event.state & ControlMask) != 0)
        keyHandler_(WindowKey::Save);
}

void EditorWindow::close() {
    if (parameters_ != nullptr)
        parameters_->setEditor(nullptr);
    parameters_ = nullptr;
    const bool hadEditor = editor_ != nullptr;
    if (editor_ != nullptr)
        editor_->close();
    editor_.reset();
    if (display_ != nullptr) {
        if (window_ != 0 && !lost_)
            XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    window_ = 0;
    display_ = nullptr;
    // The program's one editor is gone for good: what the font and drawing
    // libraries keep for the process goes too, so a leak checker sees a
    // clean exit.
    if (hadEditor)
        CairoSurface::releaseProcessCaches();
}

}  // namespace veltrosa::standaloneedge
