// The instrument's editor as the CLAP, VST 3 and LV2 editions and the
// standalone window embed it: opened in a parent window at a scale, kept
// showing the values that change elsewhere, and pumped from the host's loop.
// Each edge only translates its format's calls into these.
//
// The edge's parameters stay its own (a ParameterHost); the editor reaches
// them through this, which remembers what it showed and, where the edge asks
// for it, springs a trigger back after a press.
//
// Threads: the host's user-interface thread only.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Parameters.h"
#include "editor/ParameterHost.h"
#include "ui/Editor.h"

namespace veltrosa {

// What a host's loop offers an editor, as the edge has its format say it:
// a descriptor it watches, a timer it fires. Each answers false where the
// host offers none.
class HostLoop {
public:
    virtual bool watchFd(int fd) = 0;
    virtual void unwatchFd(int fd) = 0;
    virtual bool startTimer(uint32_t periodMs) = 0;
    virtual void stopTimer() = 0;

protected:
    ~HostLoop() = default;
};

class EmbeddedEditor final : private ParameterHost {
public:
    // Often enough for the editor to follow automation smoothly.
    static constexpr uint32_t kTimerMs = 30;
    // How long a trigger the editor springs back stays pressed: several
    // cycles of any host, so that the plug-in sees it rise before it falls.
    static constexpr std::chrono::milliseconds kTriggerHold{100};

    // Who lets a pressed trigger (Update) go: the editor, for edges whose
    // host keeps the values (a press is then a gesture: 1, a hold, 0), or
    // the edge's table builder, which springs the engine's value back itself.
    enum class TriggerRelease { Editor, Builder };

    // A scale a host asks for that the editor takes (the window layers'
    // bounds); others are refused, not clamped.
    static bool takesScale(double scale) { return scaleInBounds(scale); }
    // The window's size in pixels at a scale.
    static Rect pixelSize(double scale);

    // parameters: not owned; outlives this. Throws when the editor cannot be built.
    EmbeddedEditor(ParameterHost& parameters, TriggerRelease release);
    ~EmbeddedEditor() override;
    EmbeddedEditor(const EmbeddedEditor&) = delete;
    EmbeddedEditor& operator=(const EmbeddedEditor&) = delete;

    // Opens the window in parent, showing every current value, then has it
    // pumped: by a timer of the window's own where the platform has one
    // (Windows), else by loop's timer, and by loop watching the window
    // system's descriptor. Without a loop the edge pumps (onTimer) itself.
    // False, closed, when no window came of it.
    bool open(void* parent, double scale, HostLoop* loop = nullptr);
    // Lets a held trigger go, leaves the loop and closes the window.
    void close();
    bool isOpen() const { return open_; }
    // Something (a descriptor or a timer) pumps the open window.
    bool pumped() const { return fd_ >= 0 || timer_ != Timer::Off; }
    uintptr_t nativeWindow();

    // The loop's turns, each letting a held trigger go when due. The
    // descriptor turned readable: the window's events. The timer fired: the
    // values changed elsewhere shown, then the window's events. False if
    // that failed.
    bool onFd(int fd) noexcept;
    bool onTimer() noexcept;

    // Every current value shown anew.
    void showAll();

    Editor& editor() { return editor_; }

private:
    enum class Timer { Off, Window, Host };  // whose timer pumps
    using Clock = std::chrono::steady_clock;
    struct HeldTrigger {
        int32_t index;
        bool record;
        Clock::time_point due;
    };

    // The editor's parameters: the edge's, as shown.
    float parameterValue(int32_t index) override;
    void setParameterFromUi(int32_t index, float value, bool record) override;
    std::string parameterName(int32_t index) override;
    void beginGesture(int32_t index) override;
    void endGesture(int32_t index) override;

    // One turn, polling the values when timed; false if it failed.
    bool turn(bool timed) noexcept;
    void takeAsShown(int32_t index);
    void showChanged();
    // Releases the held trigger: when due, or now.
    void releaseTrigger(bool now);

    ParameterHost& parameters_;
    const TriggerRelease release_;
    Editor editor_;
    std::array<uint32_t, kNumParams> shown_{};  // value bits the editor shows
    std::optional<HeldTrigger> held_;
    HostLoop* loop_ = nullptr;  // while open, if any
    int fd_ = -1;               // the descriptor loop_ watches
    Timer timer_ = Timer::Off;
    bool open_ = false;
};

}  // namespace veltrosa
