#include "X11Host.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <X11/Xutil.h>
#include <cairo.h>

#include "Host.h"

namespace x11host {

namespace {

// Position of a mask's lowest set bit and its width, for turning an XImage
// pixel into 8-bit channels whatever the visual's layout.
struct Channel {
    int shift = 0;
    int bits = 0;
    explicit Channel(unsigned long mask) {
        if (mask == 0)
            return;
        while ((mask & 1UL) == 0) {
            mask >>= 1;
            ++shift;
        }
        while ((mask & 1UL) != 0) {
            mask >>= 1;
            ++bits;
        }
    }
    uint32_t to8(unsigned long pixel) const {
        if (bits == 0)
            return 0;
        const unsigned long v = (pixel >> shift) & ((1UL << bits) - 1);
        return bits >= 8 ? static_cast<uint32_t>(v >> (bits - 8))
                         : static_cast<uint32_t>(v * 255 / ((1UL << bits) - 1));
    }
};

}  // namespace

bool Image::writePng(const std::string& path) const {
    if (width <= 0 || height <= 0)
        return false;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return false;
    }
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x)
            row[x] = at(x, y) & 0x00FFFFFFu;
    }
    cairo_surface_mark_dirty(surface);
    const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

std::optional<Image> Image::readPng(const std::string& path) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    std::optional<Image> image;
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
        (cairo_image_surface_get_format(surface) == CAIRO_FORMAT_RGB24 ||
         cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32)) {
        cairo_surface_flush(surface);
        image.emplace();
        image->width = cairo_image_surface_get_width(surface);
        image->height = cairo_image_surface_get_height(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < image->height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
            image->pixels.insert(image->pixels.end(), row, row + image->width);
        }
        for (uint32_t& p : image->pixels)
            p &= 0x00FFFFFFu;
    }
    cairo_surface_destroy(surface);
    return image;
}

std::unique_ptr<HostWindow> HostWindow::create(int width, int height, std::string& error) {
    std::unique_ptr<HostWindow> host(new HostWindow());
    host->display_ = XOpenDisplay(nullptr);
    if (host->display_ == nullptr) {
        error = "cannot open the X display (is DISPLAY set?)";
        return nullptr;
    }
    Display* d = host->display_;
    const int screen = DefaultScreen(d);
    host->window_ = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 0, static_cast<unsigned>(std::max(1, width)),
                                        static_cast<unsigned>(std::max(1, height)), 0, BlackPixel(d, screen), 0x202020);
    XStoreName(d, host->window_, "Veltrosa");
    host->deleteWindow_ = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d, host->window_, &host->deleteWindow_, 1);
    XSelectInput(d, host->window_, StructureNotifyMask);
    XMapRaised(d, host->window_);
    // A host shows its window before it embeds the editor; wait until it is
    // on screen so that the editor's first painting is not lost.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        XEvent event;
        if (XCheckTypedWindowEvent(d, host->window_, MapNotify, &event))
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            error = "the host window was never mapped";
            return nullptr;
        }
        pollfd fd{ConnectionNumber(d), POLLIN, 0};
        XFlush(d);
        poll(&fd, 1, 10);
    }
    return host;
}

HostWindow::~HostWindow() {
    if (display_ == nullptr)
        return;
    destroyWindow();
    XCloseDisplay(display_);
}

void HostWindow::resize(int width, int height) {
    if (window_ == 0 || width <= 0 || height <= 0)
        return;
    XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display_, False);
}

void HostWindow::processEvents() {
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == ClientMessage && event.xclient.window == window_ &&
            static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_)
            closeRequested_ = true;
        if (event.type == DestroyNotify && event.xdestroywindow.window == window_)
            closeRequested_ = true;
    }
}

void HostWindow::destroyWindow() {
    if (window_ == 0)
        return;
    XDestroyWindow(display_, window_);
    XSync(display_, False);
    window_ = 0;
}

std::optional<Image> HostWindow::capture() {
    if (window_ == 0)
        return std::nullopt;
    XSync(display_, False);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window_, &attributes) == 0)
        return std::nullopt;
    XImage* ximage = XGetImage(display_, window_, 0, 0, static_cast<unsigned>(attributes.width),
                               static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (ximage == nullptr)
        return std::nullopt;
    const Channel red(ximage->red_mask), green(ximage->green_mask), blue(ximage->blue_mask);
    Image image;
    image.width = attributes.width;
    image.height = attributes.height;
    image.pixels.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const unsigned long p = XGetPixel(ximage, x, y);
            image.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                         static_cast<std::size_t>(x)] = red.to8(p) << 16 | green.to8(p) << 8 | blue.to8(p);
        }
    XDestroyImage(ximage);
    return image;
}

uint32_t HostWindow::pixel(int x, int y) {
    if (window_ == 0)
        return 0;
    XSync(display_, False);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window_, &attributes) == 0 || x < 0 || y < 0 || x >= attributes.width ||
        y >= attributes.height)
        return 0;
    XImage* ximage = XGetImage(display_, window_, x, y, 1, 1, AllPlanes, ZPixmap);
    if (ximage == nullptr)
        return 0;
    const Channel red(ximage->red_mask), green(ximage->green_mask), blue(ximage->blue_mask);
    const unsigned long p = XGetPixel(ximage, 0, 0);
    XDestroyImage(ximage);
    return red.to8(p) << 16 | green.to8(p) << 8 | blue.to8(p);
}

void HostWindow::toRoot(int x, int y, int& rootX, int& rootY) {
    Window child = 0;
    rootX = x;
    rootY = y;
    if (window_ != 0)
        XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), x, y, &rootX, &rootY, &child);
}

EditorSession::EditorSession(vsthost::Plugin& plugin, HostWindow& window, EditorOptions options)
    : plugin_(plugin), window_(window), options_(options) {}

EditorSession::~EditorSession() {
    if (open_)
        close();
}

bool EditorSession::askRect() {
    vst2::ERect* rect = nullptr;
    if (plugin_.dispatch(vst2::effEditGetRect, 0, 0, &rect) == 0 || rect == nullptr)
        return false;
    const int w = rect->right - rect->left;
    const int h = rect->bottom - rect->top;
    if (w <= 0 || h <= 0)
        return false;
    width_ = w;
    height_ = h;
    window_.resize(width_, height_);
    return true;
}

intptr_t EditorSession::open() {
    if (options_.rectBeforeOpen)
        askRect();
    const intptr_t value = options_.passDisplay ? reinterpret_cast<intptr_t>(window_.display()) : 0;
    const intptr_t answer = plugin_.dispatch(vst2::effEditOpen, 0, value,
                                             reinterpret_cast<void*>(static_cast<uintptr_t>(window_.window())));
    open_ = true;
    if (!options_.rectBeforeOpen)
        askRect();
    return answer;
}

void EditorSession::idle() {
    plugin_.dispatch(vst2::effEditIdle);
    window_.processEvents();
}

void EditorSession::close() {
    plugin_.dispatch(vst2::effEditClose);
    open_ = false;
}

void EditorSession::run(int ms, int hz) {
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(1000000 / std::clamp(hz, 15, 60));
    const auto end = clock::now() + std::chrono::milliseconds(std::max(0, ms));
    auto next = clock::now();
    while (clock::now() < end && !window_.closeRequested()) {
        idle();
        next += period;
        std::this_thread::sleep_until(std::min(next, end));
    }
}

}  // namespace x11host
