// The plug-in's editor through a host's life: bogus and vanishing parent
// windows, opening and closing over and over, two instances side by side.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "DrawingCaches.h"
#include "TestSupport.h"
#include "X11Fixture.h"
#include "ui/EditorSnapshot.h"

namespace {

using testing_support::startedPlugin;
using x11test::pumpFor;
using x11test::pumpUntil;

constexpr uint32_t kHostBackground = 0x202020;

// A host's own error handler, which must neither fire for the editor's
// errors nor be left replaced.
int hostErrors = 0;
int hostHandler(Display*, XErrorEvent*) {
    ++hostErrors;
    return 0;
}

class EditorLifecycleTest : public x11test::X11Test {
protected:
    void SetUp() override {
        X11Test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        hostErrors = 0;
        previousHandler = XSetErrorHandler(&hostHandler);
        handlerInstalled = true;
        plugin = startedPlugin();
        ASSERT_TRUE(plugin);
    }
    void TearDown() override {
        plugin.reset();
        if (handlerInstalled) {
            EXPECT_EQ(XSetErrorHandler(previousHandler), &hostHandler) << "the host's error handler was replaced";
            EXPECT_EQ(hostErrors, 0);
        }
    }
    intptr_t openInto(unsigned long parent) {
        return plugin->dispatch(vst2::effEditOpen, 0, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(parent)));
    }
    std::function<void()> idler(vsthost::Plugin& p) {
        return [&p, this] {
            p.dispatch(vst2::effEditIdle);
            host->processEvents();
        };
    }

    XErrorHandler previousHandler = nullptr;
    bool handlerInstalled = false;
    std::unique_ptr<vsthost::Plugin> plugin;
};

TEST_F(EditorLifecycleTest, ABogusParentLeavesAnOpenEditorThatShowsNothing) {
    for (unsigned long parent : {0x1fffffffUL, 0x7fffffffUL, 0xdeadbeefUL, 1UL}) {
        EXPECT_EQ(openInto(parent), 1) << parent;
        pumpFor(idler(*plugin), 10);
        plugin->dispatch(vst2::effEditClose);
    }
    // And the next open into a real window works as usual.
    EXPECT_EQ(openInto(host->window()), 1);
    EXPECT_TRUE(pumpUntil(idler(*plugin), [&] { return host->pixel(2, 2) == kBackground; }));
    plugin->dispatch(vst2::effEditClose);
    EXPECT_TRUE(pumpUntil(idler(*plugin), [&] { return host->pixel(2, 2) == kHostBackground; }));
}

TEST_F(EditorLifecycleTest, TheHostDestroyingItsWindowBeforeClosingIsSurvived) {
    ASSERT_EQ(openInto(host->window()), 1);
    pumpFor(idler(*plugin), 20);
    host->destroyWindow();
    pumpFor(idler(*plugin), 20);
    plugin->dispatch(vst2::effEditClose);
    pumpFor(idler(*plugin), 10);
    // Effect deleted while its editor was open in a window that is gone.
    std::string error;
    host = x11host::HostWindow::create(305, 370, error);
    ASSERT_TRUE(host) << error;
    ASSERT_EQ(openInto(host->window()), 1);
    host->destroyWindow();
    plugin->close();
}

TEST_F(EditorLifecycleTest, DeletingTheEffectWithItsEditorOpenTakesTheWindowAlong) {
    const int descriptors = x11test::openFileDescriptors();
    ASSERT_EQ(openInto(host->window()), 1);
    EXPECT_EQ(x11test::openFileDescriptors(), descriptors + 1);  // the editor's own connection
    EXPECT_TRUE(pumpUntil(idler(*plugin), [&] { return host->pixel(2, 2) == kBackground; }));
    plugin->close();
    EXPECT_EQ(x11test::openFileDescriptors(), descriptors);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(host->display(), host->window(), &root, &parent, &children, &count);
    XFree(children);
    EXPECT_EQ(count, 0u);
}

TEST_F(EditorLifecycleTest, OpeningAndClosingAHundredTimesGrowsNothing) {
    auto cycle = [&] {
        ASSERT_EQ(openInto(host->window()), 1);
        plugin->dispatch(vst2::effEditIdle);
        plugin->dispatch(vst2::effEditClose);
    };
    // Fonts, caches and the like are set up once, in the first rounds.
    for (int i = 0; i < 10; ++i)
        cycle();
    const int descriptors = x11test::openFileDescriptors();
    const auto heap = mallinfo2().uordblks;
    for (int i = 0; i < 100; ++i)
        cycle();
    EXPECT_EQ(x11test::openFileDescriptors(), descriptors);
#if !defined(__SANITIZE_ADDRESS__)
    // Allocated bytes in use; the leak checker covers sanitized builds.
    const auto grown = mallinfo2().uordblks > heap ? mallinfo2().uordblks - heap : 0;
    EXPECT_LT(grown, 16u * 1024u) << grown << " bytes more in use after 100 rounds";
    RecordProperty("heap_growth_bytes", static_cast<int>(grown));
#else
    (void)heap;
#endif
    // Open once more: it still works.
    ASSERT_EQ(openInto(host->window()), 1);
    EXPECT_TRUE(pumpUntil(idler(*plugin), [&] { return host->pixel(2, 2) == kBackground; }));
}

TEST_F(EditorLifecycleTest, TwoInstancesEditorsWorkSideBySide) {
    std::string error;
    auto secondHost = x11host::HostWindow::create(305, 370, error);
    ASSERT_TRUE(secondHost) << error;
    XMoveWindow(secondHost->display(), secondHost->window(), 400, 0);
    XSync(secondHost->display(), False);
    auto second = startedPlugin();
    ASSERT_TRUE(second);
    x11host::EditorSession one(*plugin, *host), two(*second, *secondHost);
    ASSERT_EQ(one.open(), 1);
    ASSERT_EQ(two.open(), 1);
    auto both = [&] {
        one.idle();
        two.idle();
    };
    ASSERT_TRUE(
        pumpUntil(both, [&] { return host->pixel(2, 2) == kBackground && secondHost->pixel(2, 2) == kBackground; }));
    plugin->setParameter(7, 0.1f);
    second->setParameter(7, 0.1f);
    plugin->clearCalls();
    second->clearCalls();

    // Bar 7, a quarter down, in the first; three quarters down in the second.
    x11test::Pointer(*host).click(10 + 9 * 7 + 4, 25);
    x11test::Pointer(*secondHost).click(10 + 9 * 7 + 4, 55);
    ASSERT_TRUE(pumpUntil(both, [&] {
        return !plugin->callsWithOpcode(vst2::audioMasterAutomate).empty() &&
               !second->callsWithOpcode(vst2::audioMasterAutomate).empty();
    }));
    EXPECT_FLOAT_EQ(plugin->getParameter(7), 0.75f);
    EXPECT_FLOAT_EQ(second->getParameter(7), 0.25f);

    // Closing one leaves the other working.
    one.close();
    second->clearCalls();
    x11test::Pointer(*secondHost).click(10 + 9 * 8 + 4, 25);
    EXPECT_TRUE(pumpUntil(both, [&] { return second->getParameter(8) == 0.75f; }));
    two.close();
}

}  // namespace

namespace {

// A private X server this test may kill: Xvfb on a display number derived
// from the process id, waited for until it takes clients.
class PrivateServer {
public:
    PrivateServer() {
        const std::string display = ":" + std::to_string(400 + getpid() % 500);
        pid_ = fork();
        if (pid_ == 0) {
            const int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, 1);
            dup2(devNull, 2);
            execlp("Xvfb", "Xvfb", display.c_str(), "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && pid_ > 0; ++i) {
            if (Display* probe = XOpenDisplay(display.c_str())) {
                XCloseDisplay(probe);
                display_ = display;
                return;
            }
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {  // gone: no Xvfb, or the number is taken
                pid_ = -1;
                return;
            }
            usleep(10000);
        }
    }
    ~PrivateServer() { kill(); }
    const std::string& display() const { return display_; }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};

int lostConnections = 0;
int countingIoHandler(Display*) {
    ++lostConnections;
    return 0;
}
void carryOn(Display*, void*) {}

TEST(EditorServerLoss, TheHostSurvivesTheXServerGoingAwayUnderAnOpenEditor) {
    PrivateServer server;
    if (server.display().empty())
        SKIP_UNLESS_CI("no Xvfb to start");
    const char* previous = std::getenv("DISPLAY");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("DISPLAY", server.display().c_str(), 1);

    auto plugin = startedPlugin();
    ASSERT_TRUE(plugin);
    std::string error;
    auto host = x11host::HostWindow::create(305, 370, error);
    ASSERT_TRUE(host) << error << " on " << server.display();
    x11host::EditorSession editor(*plugin, *host);
    ASSERT_EQ(editor.open(), 1);
    plugin->dispatch(vst2::effEditIdle);

    // The host here survives losing its own connection too; count how often
    // its handler is asked, which must not be for the editor's connection.
    const XIOErrorHandler hostIo = XSetIOErrorHandler(&countingIoHandler);
    XSetIOErrorExitHandler(host->display(), &carryOn, nullptr);
    lostConnections = 0;
    server.kill();
    for (int i = 0; i < 5; ++i)
        plugin->dispatch(vst2::effEditIdle);
    editor.close();
    EXPECT_EQ(lostConnections, 0);
    // Opening again without a server: an editor that shows nothing.
    EXPECT_EQ(plugin->dispatch(vst2::effEditOpen, 0, 0, reinterpret_cast<void*>(uintptr_t{0x200001})), 1);
    plugin->dispatch(vst2::effEditIdle);
    plugin->dispatch(vst2::effEditClose);
    plugin.reset();
    EXPECT_EQ(lostConnections, 0);

    host.reset();  // the host's own connection: its handler's business
    XSetIOErrorHandler(hostIo);
    if (saved.empty())
        unsetenv("DISPLAY");
    else
        setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace
