// The X11 window layer on its own: embedding, input translation, error
// containment and clean-up, driven with real input in a real X server.
#include <gtest/gtest.h>

#include <vector>

#include <X11/Xutil.h>
#include <cairo.h>

#include "X11Fixture.h"
#include "editor/platform/x11/X11Window.h"

namespace {

using veltrosa::x11::PointerEvent;
using Kind = PointerEvent::Kind;

struct Recorder : veltrosa::x11::WindowListener {
    std::vector<PointerEvent> events;
    int exposures = 0;
    void pointer(const PointerEvent& event) override { events.push_back(event); }
    void exposed() override { ++exposures; }

    int count(Kind kind) const {
        int n = 0;
        for (const auto& e : events)
            n += e.kind == kind ? 1 : 0;
        return n;
    }
    const PointerEvent* last(Kind kind) const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->kind == kind)
                return &*it;
        return nullptr;
    }
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

TEST_F(X11WindowTest, TranslatesPointerInputInClientCoordinates) {
    pointer->moveTo(40, 50);
    ASSERT_TRUE(x11test::pumpUntil(step(), [&] { return recorder.count(Kind::Move) > 0; }));
    EXPECT_EQ(recorder.last(Kind::Move)->x, 40);
    EXPECT_EQ(recorder.last(Kind::Move)->y, 50);

    pointer->press(Button1);
    pointer->release(Button1);
    ASSERT_TRUE(x11test::pumpUntil(step(), [&] { return recorder.count(Kind::LeftUp) == 1; }));
    ASSERT_EQ(recorder.count(Kind::LeftDown), 1);
    EXPECT_EQ(recorder.last(Kind::LeftDown)->x, 40);
    EXPECT_EQ(recorder.last(Kind::LeftUp)->y, 50);
    // The window asks for the keyboard focus before the press itself.
    ASSERT_EQ(recorder.count(Kind::Activate), 1);
    EXPECT_EQ(recorder.events[recorder.events.size() - 3].kind, Kind::Activate);
    // Screen coordinates come along for the wheel.
    int rx = 0, ry = 0;
    host->toRoot(40, 50, rx, ry);
    EXPECT_EQ(recorder.last(Kind::LeftUp)->rootX, rx);
    EXPECT_EQ(recorder.last(Kind::LeftUp)->rootY, ry);
}

TEST_F(X11WindowTest, WheelButtonsBecomeOneStepEachAndSidewaysOnesAreIgnored) {
    pointer->scroll(100, 100, 2);
    pointer->scroll(100, 100, -1);
    pointer->press(6);
    pointer->release(6);
    pointer->press(7);
    pointer->release(7);
    pointer->click(100, 100, Button3);  // a marker after everything above
    ASSERT_TRUE(x11test::pumpUntil(step(), [&] { return recorder.count(Kind::Activate) == 1; }));
    std::vector<int> directions;
    for (const auto& e : recorder.events)
        if (e.kind == Kind::Wheel) {
            directions.push_back(e.direction);
            EXPECT_EQ(e.x, 100);
            EXPECT_EQ(e.y, 100);
        }
    EXPECT_EQ(directions, (std::vector<int>{+1, +1, -1}));
    EXPECT_EQ(recorder.count(Kind::LeftDown), 0);
    EXPECT_EQ(recorder.count(Kind::LeftUp), 0);
}

TEST_F(X11WindowTest, ADragKeepsReportingOutsideTheWindowWithNegativeCoordinates) {
    // The host window sits at the screen's origin, so move it away first to
    // leave room above and left of the editor.
    XMoveWindow(host->display(), host->window(), 100, 100);
    XSync(host->display(), False);
    pointer->drag(20, 20, 20, -30, true);
    pointer->stepTo(-15, -30);
    pointer->release(Button1);
    ASSERT_TRUE(x11test::pumpUntil(step(), [&] { return recorder.count(Kind::LeftUp) == 1; }));
    EXPECT_EQ(recorder.last(Kind::LeftUp)->x, -15);
    EXPECT_EQ(recorder.last(Kind::LeftUp)->y, -30);
    bool sawNegativeMove = false;
    for (const auto& e : recorder.events)
        sawNegativeMove |= e.kind == Kind::Move && e.y == -30 && e.x == -15;
    EXPECT_TRUE(sawNegativeMove);
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

TEST_F(X11WindowTest, SurvivesTheHostDestroyingItsWindowFirst) {
    const XErrorHandler before = XSetErrorHandler(&countingHandler);
    hostErrors = 0;
    host->destroyWindow();
    x11test::pumpFor(step());
    EXPECT_FALSE(window.drawable());
    window.destroy();
    EXPECT_FALSE(window.exists());
    EXPECT_EQ(hostErrors, 0);
    EXPECT_EQ(XSetErrorHandler(before), &countingHandler);
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

TEST_F(X11WindowTest, BogusParentsMakeNoWindowAndNoFuss) {
    const XErrorHandler before = XSetErrorHandler(&countingHandler);
    hostErrors = 0;
    veltrosa::x11::X11Window other;
    for (unsigned long parent : {0x1fffffffUL, 0UL, 1UL}) {
        EXPECT_FALSE(other.create(parent, 305, 370)) << parent;
        EXPECT_FALSE(other.exists());
        EXPECT_EQ(other.display(), nullptr);
    }
    EXPECT_EQ(hostErrors, 0);
    // Our handler came and went; the host's is back.
    EXPECT_EQ(XSetErrorHandler(before), &countingHandler);
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
    EXPECT_TRUE(x11test::pumpUntil(step(), [&] { return pixelOf(host->display(), window.window(), 10, 10) == 0xFF0000; }));
    EXPECT_NE(pixelOf(host->display(), window.window(), 200, 10), 0x00FF00u);
    window.show(image, 0, 0, 305, 370);
    window.flush();
    EXPECT_TRUE(x11test::pumpUntil(step(), [&] { return pixelOf(host->display(), window.window(), 300, 365) == 0xFFFF00; }));
    cairo_surface_destroy(image);
}

TEST_F(X11WindowTest, ShowsImagesInParentsOfAnotherDepthToo) {
    // A 32-bit parent, as a host that draws with alpha may have.
    Display* d = host->display();
    XVisualInfo info{};
    if (XMatchVisualInfo(d, DefaultScreen(d), 32, TrueColor, &info) == 0)
        GTEST_SKIP() << "no 32-bit visual";
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

TEST_F(X11WindowTest, CreatingAndDestroyingAHundredTimesLeavesNoDescriptors) {
    window.destroy();
    const int before = x11test::openFileDescriptors();
    for (int i = 0; i < 100; ++i) {
        veltrosa::x11::X11Window w;
        ASSERT_TRUE(w.create(host->window(), 305, 370));
        w.show();
        w.dispatchEvents(recorder);
    }
    EXPECT_EQ(x11test::openFileDescriptors(), before);
}

}  // namespace
