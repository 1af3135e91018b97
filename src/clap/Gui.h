// The editor through the format's GUI extension: embedded in the host's
// window (X11 or Win32), fixed at 305 x 370 times the host's scale. On
// Linux the X connection's descriptor and a timer are registered with the
// host, whose main loop then pumps the window: no thread of our own.
//
// Threads: the host's main thread only.
#pragma once

#include <cstdint>

#include "abi/clap.h"
#include "editor/ParameterHost.h"
#include "ui/EmbeddedEditor.h"

namespace veltrosa::clapedge {

class Instrument;

// The host's descriptor and timer extensions, as the editor's loop.
class HostTimers final : public HostLoop {
public:
    explicit HostTimers(const clap::Host* host);

    bool watchFd(int fd) override;
    void unwatchFd(int fd) override;
    bool startTimer(uint32_t periodMs) override;
    void stopTimer() override;
    // The registered timer's id; kInvalidId when none.
    clap::Id timer() const { return timer_; }

private:
    const clap::Host* host_;
    const clap::HostPosixFdSupport* fdSupport_;
    const clap::HostTimerSupport* timerSupport_;
    clap::Id timer_ = clap::kInvalidId;
};

class Gui final : private ParameterHost {
public:
    Gui(Instrument& instrument, const clap::Host* host);
    ~Gui() override = default;
    Gui(const Gui&) = delete;
    Gui& operator=(const Gui&) = delete;

    static const char* api();
    bool setScale(double scale);
    void size(uint32_t& width, uint32_t& height) const;
    bool setParent(const clap::Window* window);
    bool show();
    bool hide();
    // The host's loop: the window's descriptor turned readable, or the timer fired.
    void onFd(int fd);
    void onTimer(clap::Id id);

private:
    float parameterValue(int32_t index) override;
    void setParameterFromUi(int32_t index, float value, bool record) override;
    void beginGesture(int32_t index) override;
    void endGesture(int32_t index) override;

    Instrument& instrument_;
    HostTimers loop_;
    double scale_ = 1.0;
    EmbeddedEditor editor_;  // last: closed before what it reaches goes
};

}  // namespace veltrosa::clapedge
