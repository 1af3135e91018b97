#include "ui/EmbeddedEditor.h"

#include <bit>

namespace veltrosa {

Rect EmbeddedEditor::pixelSize(double scale) {
    const double factor = usableScale(scale);
    return {0, 0, unitsToPixels(Editor::kWidth, factor), unitsToPixels(Editor::kHeight, factor)};
}

EmbeddedEditor::EmbeddedEditor(ParameterHost& parameters, TriggerRelease release)
    : parameters_(parameters), release_(release), editor_(static_cast<ParameterHost*>(this)) {
    // On Windows a class of this module's own: the VST 2 edition's shared
    // one would hand these windows to its DLL, which may unload first.
    editor_.setWindowLayerFactory([] { return createWindowLayer(WindowClassScope::Module); });
}

EmbeddedEditor::~EmbeddedEditor() { close(); }

bool EmbeddedEditor::open(void* parent, double scale, HostLoop* loop) {
    close();
    editor_.setScale(scale);
    showAll();
    editor_.open(parent);
    WindowLayer* layer = editor_.windowLayer();
    if (layer == nullptr || layer->nativeWindow() == 0) {
        editor_.close();
        return false;
    }
    open_ = true;
    if (layer->startTimer(kTimerMs, [this] { onTimer(); }))
        timer_ = Timer::Window;
    if (loop == nullptr)
        return true;
    loop_ = loop;
    if (timer_ == Timer::Off && loop->startTimer(kTimerMs))
        timer_ = Timer::Host;
    if (const int fd = layer->eventFd(); fd >= 0 && loop->watchFd(fd))
        fd_ = fd;
    return true;
}

void EmbeddedEditor::close() {
    releaseTrigger(true);
    if (loop_ != nullptr) {
        if (fd_ >= 0)
            loop_->unwatchFd(fd_);
        if (timer_ == Timer::Host)
            loop_->stopTimer();
    }
    loop_ = nullptr;
    fd_ = -1;
    timer_ = Timer::Off;
    open_ = false;
    editor_.close();  // ends a drag, and with it its gesture; the window's timer goes with it
}

uintptr_t EmbeddedEditor::nativeWindow() {
    const WindowLayer* layer = editor_.windowLayer();
    return open_ && layer != nullptr ? layer->nativeWindow() : 0;
}

bool EmbeddedEditor::onFd(int fd) noexcept { return !open_ || fd < 0 || fd != fd_ || turn(false); }

bool EmbeddedEditor::onTimer() noexcept { return !open_ || turn(true); }

bool EmbeddedEditor::turn(bool timed) noexcept {
    try {
        releaseTrigger(false);
        if (timed)
            showChanged();
        editor_.idle();
        editor_.redrawDirty();
    } catch (...) {
        return false;
    }
    return true;
}

void EmbeddedEditor::showAll() {
    for (int32_t i = 0; i < kNumParams; ++i)
        takeAsShown(i);
    editor_.refreshControls();
}

void EmbeddedEditor::takeAsShown(int32_t index) {
    if (isParam(index))
        shown_[static_cast<std::size_t>(index)] = std::bit_cast<uint32_t>(parameters_.parameterValue(index));
}

void EmbeddedEditor::showChanged() {
    for (int32_t i = 0; i < kNumParams; ++i) {
        const float value = parameters_.parameterValue(i);
        uint32_t& shown = shown_[static_cast<std::size_t>(i)];
        if (std::bit_cast<uint32_t>(value) != shown) {
            shown = std::bit_cast<uint32_t>(value);
            editor_.parameterChanged(i, value);
        }
    }
}

float EmbeddedEditor::parameterValue(int32_t index) { return parameters_.parameterValue(index); }

void EmbeddedEditor::setParameterFromUi(int32_t index, float value, bool record) {
    if (release_ == TriggerRelease::Editor && isTrigger(index)) {
        // A press while one is held is the same press.
        if (held_)
            return;
        parameters_.beginGesture(index);
        held_ = HeldTrigger{index, record, Clock::now() + kTriggerHold};
    }
    parameters_.setParameterFromUi(index, value, record);
    takeAsShown(index);
}

void EmbeddedEditor::releaseTrigger(bool now) {
    if (!held_ || (!now && Clock::now() < held_->due))
        return;
    const HeldTrigger held = *held_;
    held_.reset();
    parameters_.setParameterFromUi(held.index, 0.0f, held.record);
    parameters_.endGesture(held.index);
    takeAsShown(held.index);
}

std::string EmbeddedEditor::parameterName(int32_t index) { return parameters_.parameterName(index); }

void EmbeddedEditor::beginGesture(int32_t index) { parameters_.beginGesture(index); }

void EmbeddedEditor::endGesture(int32_t index) { parameters_.endGesture(index); }

}  // namespace veltrosa
