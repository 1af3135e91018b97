// The editor in a top-level window of its own, of fixed size, titled with
// the sound's name: the same editor as in the plug-ins, embedded as they
// embed it, pumped by this program's loop. Closing the window quits the
// program, or under a session manager only hides it. The window's own keys
// (the editor takes none, as plug-in hosts give it none) step through the
// presets and save.
//
// Threads: the main thread only; parameter values reach the audio thread
// through the shell.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <memory>
#include <string>

#include "editor/ParameterHost.h"
#include "shell/Instrument.h"
#include "ui/EmbeddedEditor.h"

namespace veltrosa::standaloneedge {

// The editor's parameters are the shell's.
class StandaloneParameters final : public ParameterHost {
public:
    explicit StandaloneParameters(shell::Instrument& shell) : shell_(shell) {}
    void setEditor(ControlWindow* editor) { editor_ = editor; }

    float parameterValue(int32_t index) override;
    void setParameterFromUi(int32_t index, float value, bool record) override;
    // The editor shows every value anew (the sound was switched).
    void showAll();

private:
    shell::Instrument& shell_;
    ControlWindow* editor_ = nullptr;
};

enum class WindowKey { PreviousSound, NextSound, Save };

class EditorWindow {
public:
    using KeyHandler = std::function<void(WindowKey)>;

    EditorWindow() = default;
    ~EditorWindow() { close(); }
    EditorWindow(const EditorWindow&) = delete;
    EditorWindow& operator=(const EditorWindow&) = delete;

    // False with the reason in one line when there is no display or the
    // editor cannot be built. scale <= 0: from the X server's Xft.dpi.
    bool open(StandaloneParameters& parameters, double scale, const std::string& title, std::string& error);
    // title: UTF-8; window managers without it get an ASCII version.
    void setTitle(const std::string& title);
    void onKey(KeyHandler handler) { keyHandler_ = std::move(handler); }
    // One turn of the user-interface loop: the editor's events, then ours.
    // False once the user closed the window or the display went away.
    bool idle();
    void close();
    bool displayLost() const { return lost_; }

private:
    static void connectionLost(Display* display, void* self);
    void keyPressed(XKeyEvent& event);

    Display* display_ = nullptr;
    Window window_ = 0;
    Atom deleteWindow_ = 0;
    bool lost_ = false;  // the X server went away: the connection is dead
    std::unique_ptr<EmbeddedEditor> editor_;
    StandaloneParameters* parameters_ = nullptr;
    std::string title_;
    KeyHandler keyHandler_;
};

}  // namespace veltrosa::standaloneedge
