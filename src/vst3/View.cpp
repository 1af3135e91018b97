#include "vst3/View.h"

#include <cstring>
#include <initializer_list>

#include "vst3/Controller.h"
#include "vst3/Ids.h"

namespace veltrosa::vst3edge {

namespace {

#if defined(_WIN32)
constexpr const char* kPlatform = vst3::kPlatformHwnd;
#else
constexpr const char* kPlatform = vst3::kPlatformX11;
#endif

// Nothing an entry's body throws crosses to the host.
template <typename Body>
vst3::Result guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return vst3::kInternalError;
    }
}

}  // namespace

// The host's controller lets Update go: the editor springs it back.
View::View(Controller& controller) : controller_(controller), editor_(*this, EmbeddedEditor::TriggerRelease::Editor) {
    controller_.addRef();
}

View::~View() {
    // A host may release the view without removed().
    guarded([this] {
        close();
        return vst3::kOk;
    });
    controller_.release();
}

vst3::Result View::queryInterface(const char* iid, void** object) {
    if (object == nullptr)
        return vst3::kInvalidArgument;
    *object = nullptr;
    if (sameId(iid, vst3::kIidUnknown) || sameId(iid, vst3::kIidPlugView))
        *object = static_cast<vst3::PlugView*>(this);
    else if (sameId(iid, vst3::kIidContentScaleSupport))
        *object = static_cast<vst3::ContentScaleSupport*>(this);
    else if (sameId(iid, vst3::kIidEventHandler))
        *object = static_cast<vst3::EventHandler*>(this);
    else if (sameId(iid, vst3::kIidTimerHandler))
        *object = static_cast<vst3::TimerHandler*>(this);
    else
        return vst3::kNoInterface;
    addRef();
    return vst3::kOk;
}

vst3::Result View::isPlatformTypeSupported(const char* type) {
    return type != nullptr && std::strcmp(type, kPlatform) == 0 ? vst3::kOk : vst3::kFalse;
}

vst3::Result View::attached(void* parent, const char* type) {
    if (parent == nullptr || isPlatformTypeSupported(type) != vst3::kOk)
        return vst3::kInvalidArgument;
    if (parent_ != nullptr)
        return vst3::kFalse;
    return guarded([&] {
        parent_ = parent;
        return open() ? vst3::kOk : vst3::kFalse;
    });
}

vst3::Result View::removed() {
    return guarded([this] {
        close();
        return vst3::kOk;
    });
}

vst3::Result View::getSize(vst3::ViewRect* size) {
    if (size == nullptr)
        return vst3::kInvalidArgument;
    *size = rect();
    return vst3::kOk;
}

// The size is fixed; the host only confirms it.
vst3::Result View::onSize(vst3::ViewRect* newSize) { return newSize != nullptr ? vst3::kOk : vst3::kInvalidArgument; }

vst3::Result View::checkSizeConstraint(vst3::ViewRect* rect) {
    if (rect == nullptr)
        return vst3::kInvalidArgument;
    const vst3::ViewRect size = this->rect();
    rect->right = rect->left + size.right;
    rect->bottom = rect->top + size.bottom;
    return vst3::kOk;
}

vst3::Result View::setFrame(vst3::PlugFrame* frame) {
    frame_ = frame;
    return vst3::kOk;
}

vst3::Result View::setContentScaleFactor(float factor) {
    if (!EmbeddedEditor::takesScale(static_cast<double>(factor)))
        return vst3::kInvalidArgument;
    return guarded([&] {
        if (scale_ == static_cast<double>(factor))
            return vst3::kOk;
        scale_ = static_cast<double>(factor);
        if (parent_ == nullptr)
            return vst3::kOk;
        // The window's size is fixed when it opens: a new one at the new size.
        void* parent = parent_;
        close();
        parent_ = parent;
        if (!open())
            return vst3::kFalse;
        vst3::ViewRect size = rect();
        if (frame_ != nullptr)
            frame_->resizeView(this, &size);
        return vst3::kOk;
    });
}

void View::onFDIsSet(int fd) { editor_.onFd(fd); }

void View::onTimer() { editor_.onTimer(); }

float View::parameterValue(int32_t index) {
    return index >= 0 && index < kNumParams
               ? static_cast<float>(controller_.getParamNormalized(static_cast<vst3::ParamId>(index)))
               : 0.0f;
}

void View::setParameterFromUi(int32_t index, float value, bool) {
    if (index < 0 || index >= kNumParams)
        return;
    const auto id = static_cast<vst3::ParamId>(index);
    // A value outside a gesture is an edit of its own.
    const bool alone = (editing_ & (uint64_t{1} << index)) == 0;
    if (alone)
        controller_.beginEdit(id);
    controller_.performEdit(id, static_cast<double>(value));
    if (alone)
        controller_.endEdit(id);
}

void View::beginGesture(int32_t index) {
    if (index < 0 || index >= kNumParams || (editing_ & (uint64_t{1} << index)) != 0)
        return;
    editing_ |= uint64_t{1} << index;
    controller_.beginEdit(static_cast<vst3::ParamId>(index));
}

void View::endGesture(int32_t index) {
    if (index < 0 || index >= kNumParams || (editing_ & (uint64_t{1} << index)) == 0)
        return;
    editing_ &= ~(uint64_t{1} << index);
    controller_.endEdit(static_cast<vst3::ParamId>(index));
}

double View::scale() {
    if (scale_ <= 0.0)
        scale_ = usableScale(desktopScale());
    return scale_;
}

vst3::ViewRect View::rect() {
    const Rect size = EmbeddedEditor::pixelSize(scale());
    return {0, 0, size.width(), size.height()};
}

bool View::open() {
    if (editor_.open(parent_, scale(), this) && editor_.pumped())
        return true;
    close();
    return false;
}

void View::close() {
    editor_.close();  // ends a drag or a press, and with it its edit
    if (runLoop_ != nullptr)
        runLoop_->release();
    runLoop_ = nullptr;
    parent_ = nullptr;
}

// From the frame as the format has it, or else from the host's context as
// some hosts offer it.
vst3::RunLoop* View::runLoop() {
    for (vst3::Unknown* source : {static_cast<vst3::Unknown*>(frame_), controller_.hostContext()}) {
        void* object = nullptr;
        if (runLoop_ == nullptr && source != nullptr &&
            source->queryInterface(vst3::kIidRunLoop.bytes, &object) == vst3::kOk && object != nullptr)
            runLoop_ = static_cast<vst3::RunLoop*>(object);
    }
    return runLoop_;
}

bool View::watchFd(int fd) { return runLoop() != nullptr && runLoop_->registerEventHandler(this, fd) == vst3::kOk; }

void View::unwatchFd(int) {
    if (runLoop_ != nullptr)
        runLoop_->unregisterEventHandler(this);
}

bool View::startTimer(uint32_t periodMs) {
    return runLoop() != nullptr && runLoop_->registerTimer(this, periodMs) == vst3::kOk;
}

void View::stopTimer() {
    if (runLoop_ != nullptr)
        runLoop_->unregisterTimer(this);
}

}  // namespace veltrosa::vst3edge
