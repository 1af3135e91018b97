// A host's side of an X11 editor: a top-level window on the host's own
// Display connection, the editor opcodes sent the way Linux hosts send them,
// effEditIdle on a timer, and screenshots of what the window shows.
//
// Threads: everything here runs on the one thread that created the host,
// which plays the host's user-interface thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xlib.h>

namespace vsthost {
class Plugin;
}

namespace x11host {

// Pixels as 0x00RRGGBB, rows top to bottom.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    uint32_t at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
    // PNG through Cairo's image surface; false when the file cannot be written.
    bool writePng(const std::string& path) const;
    static std::optional<Image> readPng(const std::string& path);
};

// The host's top-level window, as a sequencer creates it for a plug-in editor.
class HostWindow {
public:
    // Null when no display can be opened (reason in error).
    static std::unique_ptr<HostWindow> create(int width, int height, std::string& error);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    Display* display() const { return display_; }
    Window window() const { return window_; }
    void resize(int width, int height);
    // Handles the window's own events; notes a close request from the user.
    void processEvents();
    bool closeRequested() const { return closeRequested_; }
    // Destroys the window while leaving the connection open, as a host that
    // tears its window down before it closes the editor.
    void destroyWindow();
    // What the window shows, child windows included. Empty without a window.
    std::optional<Image> capture();
    // One pixel of what the window shows, 0x00RRGGBB; 0 outside it.
    uint32_t pixel(int x, int y);
    // Root-window coordinates of a point in the window.
    void toRoot(int x, int y, int& rootX, int& rootY);

private:
    HostWindow() = default;
    Display* display_ = nullptr;
    Window window_ = 0;
    Atom deleteWindow_ = 0;
    bool closeRequested_ = false;
};

struct EditorOptions {
    bool passDisplay = false;    // our Display* in value of effEditOpen, as some hosts do
    bool rectBeforeOpen = true;  // effEditGetRect first; otherwise after effEditOpen
};

// The editor opcodes, sent into a HostWindow.
class EditorSession {
public:
    EditorSession(vsthost::Plugin& plugin, HostWindow& window, EditorOptions options = {});
    ~EditorSession();
    EditorSession(const EditorSession&) = delete;
    EditorSession& operator=(const EditorSession&) = delete;

    // effEditGetRect and effEditOpen in the configured order; resizes the host
    // window to the rectangle. Answers effEditOpen's answer.
    intptr_t open();
    void idle();
    void close();
    bool isOpen() const { return open_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // effEditIdle at `hz` (clamped to 15..60) for `ms` milliseconds, handling
    // the host window's events between calls; stops early on a close request.
    void run(int ms, int hz);

private:
    bool askRect();

    vsthost::Plugin& plugin_;
    HostWindow& window_;
    EditorOptions options_;
    bool open_ = false;
    int width_ = 305;
    int height_ = 370;
};

}  // namespace x11host
