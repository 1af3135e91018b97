// The CLAP edition's editor in a real X server: embedded in a host window,
// pumped only through the descriptor and timer it registered with the host
// (the test plays the host's main loop), and driven by real XTEST input.
#include <gtest/gtest.h>

#include <poll.h>

#include <filesystem>

#include "ClapHost.h"
#include "DrawingCaches.h"
#include "X11Fixture.h"
#include "core/Parameters.h"

namespace {


class ClapEditorTest : public x11test::X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        placeAwayFromCorner();
        std::string error;
        library = claphost::Library::open(VELTROSA_CLAP_PATH, error);
        ASSERT_TRUE(library) << error;
        instance = claphost::Instance::create(*library, error);
        ASSERT_TRUE(instance) << error;
        gui = instance->extension<clap::PluginGui>(clap::kExtGui);
        ASSERT_NE(gui, nullptr);
        fdSupport = instance->extension<clap::PluginPosixFdSupport>(clap::kExtPosixFdSupport);
        timerSupport = instance->extension<clap::PluginTimerSupport>(clap::kExtTimerSupport);
        ASSERT_NE(fdSupport, nullptr);
        ASSERT_NE(timerSupport, nullptr);
    }
    void TearDown() override {
        if (gui != nullptr)
            gui->destroy(instance->plugin());
        instance.reset();
        library.reset();
    }
    // The host's main loop: the timer, and the descriptor whenever it is readable.
    void step() {
        pollfd watched{instance->registeredFd(), POLLIN, 0};
        if (poll(&watched, 1, 0) > 0)
            fdSupport->onFd(instance->plugin(), watched.fd, clap::kFdRead);
        timerSupport->onTimer(instance->plugin(), instance->registeredTimer());
        host->processEvents();
    }
    bool open(double scale) {
        const clap::Plugin* p = instance->plugin();
        if (!gui->isApiSupported(p, clap::kWindowApiX11, false) || !gui->create(p, clap::kWindowApiX11, false) ||
            !gui->setScale(p, scale))
            return false;
        clap::Window window{};
        window.api = clap::kWindowApiX11;
        window.x11 = host->window();
        return gui->setParent(p, &window) && gui->show(p);
    }

    std::unique_ptr<claphost::Library> library;
    std::unique_ptr<claphost::Instance> instance;
    const clap::PluginGui* gui = nullptr;
    const clap::PluginPosixFdSupport* fdSupport = nullptr;
    const clap::PluginTimerSupport* timerSupport = nullptr;
};

}  // namespace

TEST_F(ClapEditorTest, OpensAtItsSizeTimesTheScaleAndRegistersItsDescriptorAndTimer) {
    const clap::Plugin* p = instance->plugin();
    EXPECT_FALSE(gui->isApiSupported(p, clap::kWindowApiX11, true));
    EXPECT_FALSE(gui->isApiSupported(p, clap::kWindowApiWin32, false));
    ASSERT_TRUE(open(2.0));
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui->getSize(p, &w, &h));
    EXPECT_EQ(w, 610u);
    EXPECT_EQ(h, 740u);
    EXPECT_FALSE(gui->canResize(p));
    EXPECT_FALSE(gui->setSize(p, 300, 300));
    EXPECT_GE(instance->registeredFd(), 0);
    EXPECT_NE(instance->registeredTimer(), clap::kInvalidId);
    gui->destroy(p);
    gui = nullptr;
    EXPECT_EQ(instance->registeredFd(), -1);
    EXPECT_EQ(instance->registeredTimer(), clap::kInvalidId);
}

TEST_F(ClapEditorTest, ADragReachesTheHostThroughAFlushAndMarksTheStateDirty) {
    ASSERT_TRUE(open(1.0));
    ASSERT_TRUE(x11test::pumpUntil([&] { step(); }, [&] { return host->pixel(2, 2) == kBackground; }));
    pointer->drag(kResBoxX, kResBoxY, kResBoxX, kResBoxY - 10);
    ASSERT_TRUE(x11test::pumpUntil([&] { step(); }, [&] { return instance->flushRequests() >= 10; }));
    x11test::pumpFor([&] { step(); });
    EXPECT_GE(instance->dirtyMarks(), 10);
    // Nothing reached the host from the window's thread; it learns at its flush.
    EXPECT_TRUE(instance->paramEvents().empty());
    instance->flushParams();
    const auto& events = instance->paramEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().type, clap::kEventParamGestureBegin);
    EXPECT_EQ(events.back().type, clap::kEventParamGestureEnd);
    bool valueSent = false;
    for (const auto& e : events) {
        EXPECT_EQ(e.id, static_cast<clap::Id>(veltrosa::kParamResonance));
        if (e.type == clap::kEventParamValue) {
            valueSent = true;
            EXPECT_NEAR(e.value, 0.05, 1e-6);  // ten half-hundredth steps up from 0
        }
    }
    EXPECT_TRUE(valueSent);
}
