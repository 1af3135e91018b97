// The editor through the format's GUI extension: embedded in the host's
// window (X11 or Win32), fixed at 305 x 370 times the host's scale. On
// Linux the X connection's descriptor and a timer are registered with the
// host, whose main loop then pumps the window: no thread of our own.
//
// Threads: the host's main thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "abi/clap.h"
#include "ui/Editor.h"
#include "ui/PolledParameters.h"

namespace veltrosa::clapedge {

class Instrument;

class Gui final : public PolledParameters {
public:
    Gui(Instrument& instrument, const clap::Host* host);
    ~Gui() override;
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
    void pump();

    Instrument& instrument_;
    const clap::Host* host_;
    const clap::HostPosixFdSupport* fdSupport_ = nullptr;
    const clap::HostTimerSupport* timerSupport_ = nullptr;
    std::unique_ptr<Editor> editor_;
    double scale_ = 1.0;
    int fd_ = -1;
    clap::Id timer_ = clap::kInvalidId;
    bool parented_ = false;
};

}  // namespace veltrosa::clapedge
