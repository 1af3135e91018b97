#include "clap/Gui.h"

#include <string_view>

#include "clap/HostExtension.h"
#include "clap/Instrument.h"

namespace veltrosa::clapedge {

HostTimers::HostTimers(const clap::Host* host)
    : host_(host),
      fdSupport_(hostExtension<clap::HostPosixFdSupport>(host, clap::kExtPosixFdSupport)),
      timerSupport_(hostExtension<clap::HostTimerSupport>(host, clap::kExtTimerSupport)) {}

bool HostTimers::watchFd(int fd) {
    return fdSupport_ != nullptr && fdSupport_->registerFd != nullptr &&
           fdSupport_->registerFd(host_, fd, clap::kFdRead | clap::kFdError);
}

void HostTimers::unwatchFd(int fd) {
    if (fdSupport_ != nullptr && fdSupport_->unregisterFd != nullptr)
        fdSupport_->unregisterFd(host_, fd);
}

bool HostTimers::startTimer(uint32_t periodMs) {
    if (timerSupport_ == nullptr || timerSupport_->registerTimer == nullptr ||
        !timerSupport_->registerTimer(host_, periodMs, &timer_))
        timer_ = clap::kInvalidId;
    return timer_ != clap::kInvalidId;
}

void HostTimers::stopTimer() {
    if (timer_ != clap::kInvalidId && timerSupport_ != nullptr && timerSupport_->unregisterTimer != nullptr)
        timerSupport_->unregisterTimer(host_, timer_);
    timer_ = clap::kInvalidId;
}

// The engine's builder lets Update go itself.
Gui::Gui(Instrument& instrument, const clap::Host* host)
    : instrument_(instrument), loop_(host), editor_(*this, EmbeddedEditor::TriggerRelease::Builder) {}

const char* Gui::api() {
#if defined(_WIN32)
    return clap::kWindowApiWin32;
#else
    return clap::kWindowApiX11;
#endif
}

bool Gui::setScale(double scale) {
    // Fixed once the window exists.
    if (editor_.isOpen() || !EmbeddedEditor::takesScale(scale))
        return false;
    scale_ = scale;
    return true;
}

void Gui::size(uint32_t& width, uint32_t& height) const {
    const Rect size = EmbeddedEditor::pixelSize(scale_);
    width = static_cast<uint32_t>(size.width());
    height = static_cast<uint32_t>(size.height());
}

bool Gui::setParent(const clap::Window* window) {
    if (editor_.isOpen() || window == nullptr || window->api == nullptr || std::string_view(window->api) != api())
        return false;
#if defined(_WIN32)
    void* parent = window->win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window->x11));
#endif
    return parent != nullptr && editor_.open(parent, scale_, &loop_);
}

bool Gui::show() {
    if (!editor_.isOpen())
        return false;
    if (WindowLayer* layer = editor_.editor().windowLayer())
        layer->show();
    return true;
}

bool Gui::hide() { return editor_.isOpen(); }

void Gui::onFd(int fd) { editor_.onFd(fd); }

void Gui::onTimer(clap::Id id) {
    if (id != clap::kInvalidId && id == loop_.timer())
        editor_.onTimer();
}

float Gui::parameterValue(int32_t index) { return isParam(index) ? instrument_.engine().param(index) : 0.0f; }

void Gui::setParameterFromUi(int32_t index, float value, bool) {
    if (isParam(index))
        instrument_.editorChanged(index, value);
}

void Gui::beginGesture(int32_t index) { instrument_.editorGesture(index, true); }

void Gui::endGesture(int32_t index) { instrument_.editorGesture(index, false); }

}  // namespace veltrosa::clapedge
