// Real input for tests in a real X server (Xvfb under `make test`): a host
// window as a sequencer makes one, and the XTEST extension to move, press,
// drag and scroll the pointer exactly as a user would.
#pragma once

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "X11Host.h"

namespace x11test {

// Synthesised pointer input, in coordinates of the host window.
class Pointer {
public:
    explicit Pointer(x11host::HostWindow& window) : window_(window), display_(window.display()) {}

    void moveTo(int x, int y) {
        int rx = 0, ry = 0;
        window_.toRoot(x, y, rx, ry);
        XTestFakeMotionEvent(display_, DefaultScreen(display_), rx, ry, CurrentTime);
        x_ = x;
        y_ = y;
        XSync(display_, False);
    }
    void press(unsigned button) { button_(button, True); }
    void release(unsigned button) { button_(button, False); }
    void click(int x, int y, unsigned button = Button1) {
        moveTo(x, y);
        press(button);
        release(button);
    }
    // Left button down at (x0, y0), moved one pixel at a time to (x1, y1) in
    // a straight line, released there unless `keepPressed`.
    void drag(int x0, int y0, int x1, int y1, bool keepPressed = false) {
        moveTo(x0, y0);
        press(Button1);
        stepTo(x1, y1);
        if (!keepPressed)
            release(Button1);
    }
    void stepTo(int x1, int y1) {
        const int x0 = x_, y0 = y_;
        const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        for (int i = 1; i <= steps; ++i)
            moveTo(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
    }
    // One wheel notch: button 4 away from the user, 5 towards.
    void scroll(int x, int y, int notches) {
        moveTo(x, y);
        const unsigned button = notches > 0 ? Button4 : Button5;
        for (int i = 0; i < std::abs(notches); ++i) {
            press(button);
            release(button);
        }
    }

private:
    void button_(unsigned button, Bool down) {
        XTestFakeButtonEvent(display_, button, down, CurrentTime);
        XSync(display_, False);
    }

    x11host::HostWindow& window_;
    Display* display_;
    int x_ = 0;
    int y_ = 0;
};

// True when the server offers XTEST.
inline bool haveXTest(Display* d) {
    int event = 0, error = 0, major = 0, minor = 0;
    return XTestQueryExtension(d, &event, &error, &major, &minor) != 0;
}

// Repeats `step` (the host's idle tick) until `done` holds or two seconds
// pass; events from another connection reach ours asynchronously.
inline bool pumpUntil(const std::function<void()>& step, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        step();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Runs `step` for a short while, for checks that something did NOT happen.
inline void pumpFor(const std::function<void()>& step, int ms = 60) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        step();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

inline int openFileDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

// A host window on its own connection, skipping the test without a display
// (failing it under CI).
class X11Test : public ::testing::Test {
protected:
    // Landmarks of the editor at scale 1, the same in every edition.
    static constexpr uint32_t kBackground = 0x82B4AA;    // the editor's (130, 180, 170)
    static constexpr int kResBoxX = 95, kResBoxY = 290;  // the number box of parameter 40

    void SetUp() override {
        if (const char* display = std::getenv("DISPLAY"); display == nullptr || *display == '\0')
            SKIP_UNLESS_CI("no X display");
        std::string error;
        host = x11host::HostWindow::create(305, 370, error);
        ASSERT_TRUE(host) << error;
        if (!haveXTest(host->display()))
            SKIP_UNLESS_CI("the X server has no XTEST extension");
        pointer = std::make_unique<Pointer>(*host);
        // Start from a known place outside the editor's area.
        pointer->moveTo(400, 400);
    }

    // Away from the screen's corner, so that drags can leave the editor
    // upwards and to the left.
    void placeAwayFromCorner() {
        XMoveWindow(host->display(), host->window(), 60, 60);
        XSync(host->display(), False);
    }

    std::unique_ptr<x11host::HostWindow> host;
    std::unique_ptr<Pointer> pointer;
};

}  // namespace x11test
