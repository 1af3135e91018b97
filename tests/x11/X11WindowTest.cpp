// The X11 window layer on its own: embedding, exposure, error containment
// and showing images, in a real X server.
#include <gtest/gtest.h>

#include <vector>

#include <X11/Xutil.h>
#include <cairo.h>

#include "X11Fixture.h"
#include "editor/platform/x11/X11Window.h"

namespace {

using veltrosa::x11::PointerEvent;

struct Recorder : veltrosa::x11::WindowListener {
    std::vector<PointerEvent> events;
    int exposures = 0;
    void pointer(const PointerEvent& event) override { events.push_back(event); }
    void exposed() override { ++exposures; }
};

class X11WindowTest : public x11test::X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(window.create(host->window(), 305, 370));
        window.show();
        // The first exposure of the freshly mapped window.
        ASSERT_TRUE(x11test::pumpUntil(step(), [&] { return recorder.exposures > 0; }));
        recorder = {};
    }
    std::function<void()> step() {
        return [&] { window.dispatchEvents(recorder); };
    }

    veltrosa::x11::X11Window window;
    Recorder recorder;
};

int hostErrors = 0;
int countingHandler(Display*, XErrorEvent*) {
    ++hostErrors;
    return 0;
}

TEST_F(X11WindowTest, IsAShownChildAtTheOriginOfTheHostWindow) {
    Display* d = host->display();
    XWindowAttributes a{};
    ASSERT_NE(XGetWindowAttributes(d, window.window(), &a), 0);
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.y, 0);
    EXPECT_EQ(a.width, 305);
    EXPECT_EQ(a.height, 370);
    EXPECT_EQ(a.map_state, IsViewable);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    ASSERT_NE(XQueryTree(d, window.window(), &root, &parent, &children, &count), 0);
    XFree(children);
    EXPECT_EQ(parent, host->window());
    // Its own connection, not the host's.
    EXPECT_NE(window.display(), d);
}

TEST_F(X11WindowTest, AnExposureBurstAsksForOneRepaint) {
    // Covering and uncovering the editor exposes it in several rectangles.
    Display* d = host->display();
    Window cover = XCreateSimpleWindow(d, host->window(), 10, 10, 50, 50, 0, 0, 0);
    Window cover2 = XCreateSimpleWindow(d, host->window(), 100, 100, 50, 50, 0, 0, 0);
    XMapRaised(d, cover);
    XMapRaised(d, cover2);
    XSync(d, False);
    x11test::pumpFor(step());
    recorder = {};
    XDestroyWindow(d, cover);
    XDestroyWindow(d, cover2);
    XSync(d, False);
    ASSERT_TRUE(x11test::pumpUntil(step(), [&] { return recorder.exposures > 0; }));
    x11test::pumpFor(step());
    EXPECT_EQ(recorder.exposures, 1);
}

TEST_F(X11WindowTest, ErrorsOfOtherConnectionsStillReachTheirHandler) {
    // While our window is being serviced, the host's own errors are the
    // host's business.
    const XErrorHandler before = XSetErrorHandler(&countingHandler);
    hostErrors = 0;
    {
        veltrosa::x11::ErrorTrap trap(window.display());
        XUnmapWindow(host->display(), 0x1fffffff);
        XSync(host->display(), False);
    }
    EXPECT_EQ(hostErrors, 1);
    XSetErrorHandler(before);
}

// The colour of one pixel of any window, read on the host's connection.
uint32_t pixelOf(Display* d, Window w, int x, int y) {
    XSync(d, False);
    XImage* image = XGetImage(d, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr)
        return 0xFFFFFFFFu;
    const auto p = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFFu;
    XDestroyImage(image);
    return p;
}

// An image with a different colour in each quarter.
cairo_surface_t* quarters(int w, int h) {
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(image);
    const double colours[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}};
    for (int q = 0; q < 4; ++q) {
        cairo_set_source_rgb(cr, colours[q][0], colours[q][1], colours[q][2]);
        cairo_rectangle(cr, (q % 2) * w / 2, (q / 2) * h / 2, w / 2, h / 2);
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    return image;
}

TEST_F(X11WindowTest, ShowsOnlyTheAskedPartOfAnImage) {
    cairo_surface_t* image = quarters(305, 370);
    window.show(image, 0, 0, 152, 185);  // the red quarter only
    window.flush();
    EXPECT_TRUE(
        x11test::pumpUntil(step(), [&] { return pixelOf(host->display(), window.window(), 10, 10) == 0xFF0000; }));
    EXPECT_NE(pixelOf(host->display(), window.window(), 200, 10), 0x00FF00u);
    window.show(image, 0, 0, 305, 370);
    window.flush();
    EXPECT_TRUE(
        x11test::pumpUntil(step(), [&] { return pixelOf(host->display(), window.window(), 300, 365) == 0xFFFF00; }));
    cairo_surface_destroy(image);
}

TEST_F(X11WindowTest, ShowsImagesInParentsOfAnotherDepthToo) {
    // A 32-bit parent, as a host that draws with alpha may have.
    Display* d = host->display();
    XVisualInfo info{};
    if (XMatchVisualInfo(d, DefaultScreen(d), 32, TrueColor, &info) == 0)
        SKIP_UNLESS_CI("no 32-bit visual");
    XSetWindowAttributes attributes{};
    attributes.colormap = XCreateColormap(d, DefaultRootWindow(d), info.visual, AllocNone);
    const Window parent = XCreateWindow(d, host->window(), 0, 0, 305, 370, 0, 32, InputOutput, info.visual,
                                        CWColormap | CWBorderPixel | CWBackPixel, &attributes);
    XMapWindow(d, parent);
    XSync(d, False);
    veltrosa::x11::X11Window deep;
    ASSERT_TRUE(deep.create(parent, 305, 370));
    deep.show();
    cairo_surface_t* image = quarters(305, 370);
    deep.show(image, 0, 0, 305, 370);
    deep.flush();
    EXPECT_TRUE(x11test::pumpUntil([&] { deep.dispatchEvents(recorder); },
                                   [&] { return pixelOf(d, deep.window(), 200, 300) == 0xFFFF00; }));
    EXPECT_EQ(pixelOf(d, deep.window(), 10, 300), 0x0000FFu);
    cairo_surface_destroy(image);
    deep.destroy();
    XDestroyWindow(d, parent);
    XFreeColormap(d, attributes.colormap);
}

}  // namespace
