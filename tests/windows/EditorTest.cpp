// The editor in a real window, as a Windows host shows it: a parent window of
// the host's, effEditOpen into it, mouse messages to the editor's window, and
// the pixels it painted read back.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "WindowsSupport.h"

using namespace windows_support;

namespace {

constexpr COLORREF kBackground = RGB(130, 180, 170);
constexpr COLORREF kLight = RGB(250, 250, 250);
constexpr COLORREF kBlack = RGB(0, 0, 0);

// A top-down 32-bit copy of a window's client area.
class Picture {
public:
    explicit Picture(HWND window) {
        RECT client{};
        GetClientRect(window, &client);
        width = client.right;
        height = client.bottom;
        pixels.assign(static_cast<std::size_t>(width * height), 0);
        const BITMAPINFO info = topDownBitmap(width, height);
        void* bits = nullptr;
        HDC windowDc = GetDC(window);
        HDC memoryDc = CreateCompatibleDC(windowDc);
        HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ previous = SelectObject(memoryDc, bitmap);
        BitBlt(memoryDc, 0, 0, width, height, windowDc, 0, 0, SRCCOPY);
        GdiFlush();
        std::memcpy(pixels.data(), bits, pixels.size() * sizeof(uint32_t));
        SelectObject(memoryDc, previous);
        DeleteObject(bitmap);
        DeleteDC(memoryDc);
        ReleaseDC(window, windowDc);
    }

    COLORREF at(int x, int y) const {
        const uint32_t p = pixels[static_cast<std::size_t>(y * width + x)];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    int count(const RECT& r, COLORREF colour) const {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                n += at(x, y) == colour ? 1 : 0;
        return n;
    }
    // For looking at when a test fails.
    void saveBmp(const std::string& path) const {
        BITMAPFILEHEADER file{};
        const BITMAPINFOHEADER header = topDownBitmap(width, height).bmiHeader;
        const DWORD dataSize = static_cast<DWORD>(pixels.size() * sizeof(uint32_t));
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + dataSize;
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(&file, sizeof file, 1, f);
            std::fwrite(&header, sizeof header, 1, f);
            std::fwrite(pixels.data(), 1, dataSize, f);
            std::fclose(f);
        }
    }

    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

std::string hex(COLORREF c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

class EditorWindow : public testing::Test {
protected:
    void SetUp() override {
        plugin = loadPlugin();
        ASSERT_TRUE(plugin);
        plugin->start(44100.0f, 512);
        ASSERT_NE(host, nullptr);
        ASSERT_EQ(plugin->dispatch(vst2::effEditOpen, 0, 0, host), 1);
        editor = FindWindowExA(host, nullptr, "OwlGui", nullptr);
        ASSERT_NE(editor, nullptr);
        pumpMessages();
        plugin->clearCalls();
    }
    void TearDown() override {
        if (plugin && plugin->isOpen())
            plugin->dispatch(vst2::effEditClose);
        pumpMessages();
    }

    void send(UINT message, int x, int y, WPARAM wParam = 0) { SendMessageA(editor, message, wParam, point(x, y)); }
    void wheel(int clientX, int clientY, int16_t delta) {
        POINT p{clientX, clientY};
        ClientToScreen(editor, &p);
        SendMessageA(editor, WM_MOUSEWHEEL, static_cast<WPARAM>(static_cast<uint16_t>(delta)) << 16, point(p.x, p.y));
    }
    std::vector<std::pair<int32_t, float>> automation() const {
        std::vector<std::pair<int32_t, float>> result;
        for (const auto& call : plugin->callsWithOpcode(vst2::audioMasterAutomate))
            result.emplace_back(call.index, call.opt);
        return result;
    }
    Picture picture(const char* name) {
        pumpMessages();
        Picture p(editor);
        p.saveBmp(std::string("editor-") + (sizeof(void*) == 4 ? "win32-" : "win64-") + name + ".bmp");
        return p;
    }

    std::unique_ptr<vsthost::Plugin> plugin;
    HWND host = hostWindow(0);
    HWND editor = nullptr;
};

}  // namespace

TEST(Editor, RectBeforeOpenAndFlag) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->effect()->flags & vst2::effFlagsHasEditor, vst2::effFlagsHasEditor);
    vst2::ERect* rect = nullptr;
    ASSERT_EQ(plugin->dispatch(vst2::effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, kHeight);
    EXPECT_EQ(rect->right, kWidth);
}

TEST_F(EditorWindow, ChildWindowOfAGlobalClassOnTheDllsHandle) {
    HMODULE dll = GetModuleHandleA("Veltrosa.dll");
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(GetClassInfoExA(dll, "OwlGui", &wc)) << "registered on the handle DllMain stored";
    EXPECT_EQ(wc.style, static_cast<UINT>(CS_GLOBALCLASS));
    EXPECT_EQ(wc.hbrBackground, nullptr);
    EXPECT_EQ(wc.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, 0);
    EXPECT_EQ(reinterpret_cast<HMODULE>(GetClassLongPtrA(editor, GCLP_HMODULE)), dll);

    const LONG_PTR style = GetWindowLongPtrA(editor, GWL_STYLE);
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_EQ(GetParent(editor), host);
    EXPECT_NE(GetWindowLongPtrA(editor, GWLP_USERDATA), 0);
    RECT client{};
    GetClientRect(editor, &client);
    EXPECT_EQ(client.right, kWidth);
    EXPECT_EQ(client.bottom, kHeight);
    POINT origin{0, 0};
    ClientToScreen(editor, &origin);
    EXPECT_EQ(origin.x, kParentX);
    EXPECT_EQ(origin.y, kParentY);
}

TEST_F(EditorWindow, CloseDestroysTheWindowAndUnregistersTheClass) {
    plugin->dispatch(vst2::effEditClose);
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(FindWindowExA(host, nullptr, "OwlGui", nullptr), nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA("Veltrosa.dll"), "OwlGui", &wc));
    // And opens again.
    ASSERT_EQ(plugin->dispatch(vst2::effEditOpen, 0, 0, host), 1);
    editor = FindWindowExA(host, nullptr, "OwlGui", nullptr);
    EXPECT_NE(editor, nullptr);
}

TEST_F(EditorWindow, ClosingInTheMiddleOfADragReleasesTheCapture) {
    send(WM_LBUTTONDOWN, 14, 40, MK_LBUTTON);
    ASSERT_EQ(GetCapture(), editor);
    plugin->dispatch(vst2::effEditClose);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(IsWindow(editor));
}

TEST(Editor, HostDestroyingItsWindowFirst) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    // Hosts often hand over a child window of their own and may tear it down
    // before they send effEditClose.
    HWND frame = CreateWindowExA(0, "STATIC", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, kWidth, kHeight, hostWindow(0),
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(plugin->dispatch(vst2::effEditOpen, 0, 0, frame), 1);
    HWND editor = FindWindowExA(frame, nullptr, "OwlGui", nullptr);
    ASSERT_NE(editor, nullptr);
    DestroyWindow(frame);
    EXPECT_FALSE(IsWindow(editor));
    pumpMessages();
    plugin->dispatch(vst2::effEditClose);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA("Veltrosa.dll"), "OwlGui", &wc));
    // And it opens again in a new window.
    HWND second = CreateWindowExA(0, "STATIC", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, kWidth, kHeight, hostWindow(0),
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_EQ(plugin->dispatch(vst2::effEditOpen, 0, 0, second), 1);
    EXPECT_NE(FindWindowExA(second, nullptr, "OwlGui", nullptr), nullptr);
    plugin->dispatch(vst2::effEditClose);
    DestroyWindow(second);
}

TEST(Editor, ParentThatIsNoWindowOpensWithoutOne) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    // A host handing over something that is not a window: nothing to show,
    // nothing to crash on.
    EXPECT_EQ(plugin->dispatch(vst2::effEditOpen, 0, 0, reinterpret_cast<void*>(0x1234)), 1);
    plugin->dispatch(vst2::effEditIdle);
    plugin->dispatch(vst2::effEditClose);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA("Veltrosa.dll"), "OwlGui", &wc));
}

TEST_F(EditorWindow, TwoEditorsShareTheClassUntilTheLastCloses) {
    auto second = loadPlugin();
    ASSERT_TRUE(second);
    HWND secondHost = hostWindow(1);
    ASSERT_EQ(second->dispatch(vst2::effEditOpen, 0, 0, secondHost), 1);
    HWND secondEditor = FindWindowExA(secondHost, nullptr, "OwlGui", nullptr);
    ASSERT_NE(secondEditor, nullptr);

    plugin->dispatch(vst2::effEditClose);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    EXPECT_TRUE(GetClassInfoExA(GetModuleHandleA("Veltrosa.dll"), "OwlGui", &wc)) << "still in use";
    // The second editor still works: a click on its first bar.
    SendMessageA(secondEditor, WM_LBUTTONDOWN, MK_LBUTTON, point(14, 40));
    SendMessageA(secondEditor, WM_LBUTTONUP, 0, point(14, 40));
    EXPECT_FLOAT_EQ(second->getParameter(0), 0.5f);

    second->dispatch(vst2::effEditClose);
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA("Veltrosa.dll"), "OwlGui", &wc));
}

TEST_F(EditorWindow, SliderFollowsPressDragAndReleaseOutsideTheWindow) {
    send(WM_LBUTTONDOWN, 14, 40, MK_LBUTTON);  // bar 0 spans y 10..70
    EXPECT_EQ(GetCapture(), editor);
    EXPECT_FLOAT_EQ(plugin->getParameter(0), 0.5f);
    send(WM_MOUSEMOVE, 14, 25, MK_LBUTTON);
    EXPECT_FLOAT_EQ(plugin->getParameter(0), 0.75f);
    // Above the window: the pointer's y arrives as a negative 16-bit number.
    send(WM_MOUSEMOVE, 14, -20, MK_LBUTTON);
    EXPECT_FLOAT_EQ(plugin->getParameter(0), 1.0f);
    send(WM_MOUSEMOVE, 14, 400, MK_LBUTTON);  // below it
    EXPECT_FLOAT_EQ(plugin->getParameter(0), 0.0f);
    send(WM_LBUTTONUP, 14, 400);
    EXPECT_EQ(GetCapture(), nullptr);
    const std::vector<std::pair<int32_t, float>> expected = {{0, 0.5f}, {0, 0.75f}, {0, 1.0f}, {0, 0.0f}};
    EXPECT_EQ(automation(), expected);
    send(WM_MOUSEMOVE, 14, 25);  // no capture any more: hover only
    EXPECT_FLOAT_EQ(plugin->getParameter(0), 0.0f);
}

TEST_F(EditorWindow, ValueBoxDragAndWheelChangeOnlyTheirParameter) {
    const float attack = plugin->getParameter(34);
    send(WM_LBUTTONDOWN, 95, 150, MK_LBUTTON);  // filter Attack box
    for (int step = 1; step <= 10; ++step)
        send(WM_MOUSEMOVE, 95, 150 - step, MK_LBUTTON);
    send(WM_LBUTTONUP, 95, 140);
    EXPECT_NEAR(plugin->getParameter(34), attack + 0.05f, 1e-5f);
    const auto moves = automation();
    ASSERT_EQ(moves.size(), 10u);
    for (const auto& [index, value] : moves)
        EXPECT_EQ(index, 34);
    EXPECT_EQ(moves.back().second, plugin->getParameter(34));

    plugin->clearCalls();
    const float volume = plugin->getParameter(47);
    wheel(265, 270, 120);  // over the Volume box, in screen coordinates
    EXPECT_FLOAT_EQ(plugin->getParameter(47), volume + 0.01f);
    wheel(265, 270, -120);
    wheel(265, 270, -120);
    EXPECT_NEAR(plugin->getParameter(47), volume - 0.01f, 1e-6f);
    const auto turns = automation();
    ASSERT_EQ(turns.size(), 3u);
    for (const auto& [index, value] : turns)
        EXPECT_EQ(index, 47);
    wheel(18, 40, 120);  // between two bars: nothing
    EXPECT_EQ(automation().size(), 3u);
}

TEST_F(EditorWindow, UpdateButtonRegeneratesWithoutTellingTheHost) {
    send(WM_LBUTTONDOWN, 265, 90, MK_LBUTTON);
    send(WM_LBUTTONUP, 265, 90);
    EXPECT_EQ(plugin->getParameter(33), 0.0f);
    EXPECT_TRUE(automation().empty());
}

TEST_F(EditorWindow, MouseActivationTakesTheFocus) {
    SetFocus(host);
    ASSERT_NE(GetFocus(), editor);
    SendMessageA(editor, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(host), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    EXPECT_EQ(GetFocus(), editor);
}

TEST_F(EditorWindow, PaintsTheLayout) {
    const Picture p = picture("open");
    ASSERT_EQ(p.width, kWidth);
    ASSERT_EQ(p.height, kHeight);
    struct Probe {
        const char* what;
        int x, y;
        COLORREF colour;
    };
    // Defaults: harmonics 0 and 1 at 1.0 (handle at the top), 2 at 0.0
    // (handle at the bottom).
    const Probe probes[] = {
        {"background, top left", 2, 2, kBackground},
        {"background between the bars", 18, 40, kBackground},
        {"bar 0 frame", 10, 40, kBlack},
        {"bar 0 handle at the top", 13, 12, kBlack},
        {"bar 0 below its handle", 13, 40, kLight},
        {"bar 2 above its handle", 31, 40, kLight},
        {"bar 2 handle at the bottom", 31, 66, kBlack},
        {"bandwidth name box", 12, 82, kBlack},
        {"bandwidth number box frame", 70, 90, kBlack},
        {"bandwidth number box inside", 72, 82, kLight},
        {"Update button frame", 235, 90, kBlack},
        {"Update button at rest", 237, 82, kLight},
        {"header bar", 2, 114, kBlack},
        {"title bar", 2, 368, kBlack},
        {"background beside the columns", 150, 250, kBackground},
    };
    for (const Probe& probe : probes)
        EXPECT_EQ(hex(p.at(probe.x, probe.y)), hex(probe.colour)) << probe.what << " at " << probe.x << ", " << probe.y;

    // Text: light glyphs on the title bar, dark digits in a number box.
    EXPECT_GT(p.count({0, 340, kWidth, kHeight}, kLight), 20) << "title text";
    EXPECT_GT(p.count({251, 261, 279, 279}, kBlack), 5) << "Volume number";
    EXPECT_GT(p.count({11, 81, 69, 99}, kLight), 5) << "BandW name";
}

TEST_F(EditorWindow, RedrawsWhatChangedAfterMouseMessages) {
    // Pointer over Update: it turns dark with a light caption.
    send(WM_MOUSEMOVE, 265, 90);
    // The host moves bar 2 to the top; it shows at the next mouse message.
    plugin->setParameter(2, 1.0f);
    Picture before = picture("hover");
    EXPECT_EQ(hex(before.at(237, 82)), hex(kBlack)) << "Update under the pointer";
    EXPECT_GT(before.count({236, 81, 294, 99}, kLight), 5) << "its caption";
    EXPECT_EQ(hex(before.at(31, 66)), hex(kBlack)) << "bar 2 not redrawn yet";

    send(WM_MOUSEMOVE, 150, 250);  // leaves Update, redraws what is dirty
    const Picture after = picture("moved");
    EXPECT_EQ(hex(after.at(237, 82)), hex(kLight));
    EXPECT_EQ(hex(after.at(31, 12)), hex(kBlack)) << "bar 2 handle at the top";
    EXPECT_EQ(hex(after.at(31, 66)), hex(kLight));
}
