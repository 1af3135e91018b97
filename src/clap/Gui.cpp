#include "clap/Gui.h"

#include <cmath>

#include "clap/HostExtension.h"
#include "clap/Instrument.h"

namespace veltrosa::clapedge {

namespace {

// Often enough for the editor to follow automation smoothly.
constexpr uint32_t kTimerMs = 30;

}  // namespace

Gui::Gui(Instrument& instrument, const clap::Host* host)
    : instrument_(instrument), host_(host), editor_(std::make_unique<Editor>(this)) {
    fdSupport_ = hostExtension<clap::HostPosixFdSupport>(host, clap::kExtPosixFdSupport);
    timerSupport_ = hostExtension<clap::HostTimerSupport>(host, clap::kExtTimerSupport);
    // On Windows a class of this module's own: the VST 2 edition's shared
    // one would hand these windows to its DLL, which may unload first.
    editor_->setWindowLayerFactory([] { return createWindowLayer(WindowClassScope::Module); });
    showAll(*editor_);
}

Gui::~Gui() {
    if (fd_ >= 0 && fdSupport_ != nullptr && fdSupport_->unregisterFd != nullptr)
        fdSupport_->unregisterFd(host_, fd_);
    if (timer_ != clap::kInvalidId && timerSupport_ != nullptr && timerSupport_->unregisterTimer != nullptr)
        timerSupport_->unregisterTimer(host_, timer_);
    editor_->close();
}

const char* Gui::api() {
#if defined(_WIN32)
    return clap::kWindowApiWin32;
#else
    return clap::kWindowApiX11;
#endif
}

bool Gui::setScale(double scale) {
    // Fixed once the window exists.
    if (parented_ || !std::isfinite(scale) || scale < 0.25 || scale > 8.0)
        return false;
    scale_ = scale;
    return true;
}

void Gui::size(uint32_t& width, uint32_t& height) const {
    width = static_cast<uint32_t>(std::ceil(Editor::kWidth * scale_));
    height = static_cast<uint32_t>(std::ceil(Editor::kHeight * scale_));
}

bool Gui::setParent(const clap::Window* window) {
    if (parented_ || window == nullptr || window->api == nullptr || std::string_view(window->api) != api())
        return false;
#if defined(_WIN32)
    void* parent = window->win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window->x11));
#endif
    if (parent == nullptr)
        return false;
    editor_->setScale(scale_);
    editor_->open(parent);
    const WindowLayer* layer = editor_->windowLayer();
    if (layer == nullptr || layer->nativeWindow() == 0) {
        editor_->close();
        return false;
    }
    parented_ = true;
    fd_ = layer->eventFd();
    if (fd_ >= 0 && (fdSupport_ == nullptr || fdSupport_->registerFd == nullptr ||
                     !fdSupport_->registerFd(host_, fd_, clap::kFdRead | clap::kFdError)))
        fd_ = -1;
    if (timerSupport_ != nullptr && timerSupport_->registerTimer != nullptr &&
        !timerSupport_->registerTimer(host_, kTimerMs, &timer_))
        timer_ = clap::kInvalidId;
    return true;
}

bool Gui::show() {
    if (!parented_)
        return false;
    if (WindowLayer* layer = editor_->windowLayer())
        layer->show();
    return true;
}

bool Gui::hide() { return parented_; }

void Gui::pump() {
    editor_->idle();
    editor_->redrawDirty();
}

void Gui::onFd(int fd) {
    if (parented_ && fd == fd_)
        pump();
}

void Gui::onTimer(clap::Id id) {
    if (!parented_ || id != timer_)
        return;
    showChanged(*editor_);
    pump();
}

float Gui::parameterValue(int32_t index) {
    return index >= 0 && index < kNumParams ? instrument_.engine().param(index) : 0.0f;
}

void Gui::setParameterFromUi(int32_t index, float value, bool) {
    if (index < 0 || index >= kNumParams)
        return;
    if (instrument_.editorChanged(index, value))
        takeAsShown(index);
}

void Gui::beginGesture(int32_t index) { instrument_.editorGesture(index, true); }

void Gui::endGesture(int32_t index) { instrument_.editorGesture(index, false); }

}  // namespace veltrosa::clapedge
