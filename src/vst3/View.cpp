#include "vst3/View.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "vst3/Controller.h"
#include "vst3/Ids.h"

namespace veltrosa::vst3edge {

namespace {

// Often enough for the editor to follow automation smoothly.
constexpr uint32_t kTimerMs = 30;

#if defined(_WIN32)
constexpr const char* kPlatform = vst3::kPlatformHwnd;

// The timer's id is the view it polls for.
void CALLBACK pollView(HWND, UINT, UINT_PTR id, DWORD) { reinterpret_cast<View*>(id)->onTimer(); }
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

View::View(Controller& controller) : controller_(controller), editor_(std::make_unique<Editor>(static_cast<ParameterHost*>(this))) {
    controller_.addRef();
    // On Windows a class of this module's own: the VST 2 edition's shared
    // one would hand these windows to its DLL, which may unload first.
    editor_->setWindowLayerFactory([] { return createWindowLayer(WindowClassScope::Module); });
}

View::~View() {
    // A host may release the view without removed().
    guarded([this] {
        close();
        return vst3::kOk;
    });
    editor_.reset();
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
    if (!std::isfinite(factor) || factor < 0.25f || factor > 8.0f)
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

void View::onFDIsSet(int fd) {
    if (parent_ == nullptr || fd != fd_)
        return;
    guarded([this] {
        editor_->idle();
        editor_->redrawDirty();
        return vst3::kOk;
    });
}

void View::onTimer() {
    if (parent_ == nullptr)
        return;
    guarded([this] {
        showChanged(*editor_);
        editor_->idle();
        editor_->redrawDirty();
        return vst3::kOk;
    });
}

float View::parameterValue(int32_t index) {
    return index >= 0 && index < kNumParams
               ? static_cast<float>(controller_.getParamNormalized(static_cast<vst3::ParamId>(index)))
               : 0.0f;
}

void View::setParameterFromUi(int32_t index, float value, bool) {
    if (index < 0 || index >= kNumParams)
        return;
    const auto id = static_cast<vst3::ParamId>(index);
    // A click (Update's button) is an edit of its own.
    const bool alone = (editing_ & (uint64_t{1} << index)) == 0;
    if (alone)
        controller_.beginEdit(id);
    controller_.performEdit(id, static_cast<double>(value));
    // Update is a trigger: released at once, as its button springs back.
    if (index == kParamUpdate)
        controller_.performEdit(id, 0.0);
    if (alone)
        controller_.endEdit(id);
    takeAsShown(index);
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
    return {0, 0, unitsToPixels(Editor::kWidth, scale()), unitsToPixels(Editor::kHeight, scale())};
}

bool View::open() {
    editor_->setScale(scale());
    showAll(*editor_);
    editor_->open(parent_);
    const WindowLayer* layer = editor_->windowLayer();
    if (layer != nullptr && layer->nativeWindow() != 0 && startPumping())
        return true;
    close();
    return false;
}

void View::close() {
    stopPumping();
    editor_->close();  // ends a drag, and with it its edit
    parent_ = nullptr;
}

#if defined(_WIN32)

// The host's message loop runs the window; its timer polls the values.
bool View::startPumping() {
    const uintptr_t window = editor_->windowLayer()->nativeWindow();
    if (SetTimer(reinterpret_cast<HWND>(window), reinterpret_cast<UINT_PTR>(this), kTimerMs, &pollView) == 0)
        return false;
    timerWindow_ = window;
    return true;
}

void View::stopPumping() {
    if (timerWindow_ != 0)
        KillTimer(reinterpret_cast<HWND>(timerWindow_), reinterpret_cast<UINT_PTR>(this));
    timerWindow_ = 0;
}

#else

// The host's run loop, from the frame as the format has it, or else from
// the host's context as some hosts offer it.
bool View::startPumping() {
    for (vst3::Unknown* source : {static_cast<vst3::Unknown*>(frame_), controller_.hostContext()}) {
        void* object = nullptr;
        if (source != nullptr && source->queryInterface(vst3::kIidRunLoop.bytes, &object) == vst3::kOk &&
            object != nullptr) {
            runLoop_ = static_cast<vst3::RunLoop*>(object);
            break;
        }
    }
    if (runLoop_ == nullptr)
        return false;
    fd_ = editor_->windowLayer()->eventFd();
    if (fd_ >= 0 && runLoop_->registerEventHandler(this, fd_) != vst3::kOk)
        fd_ = -1;
    timer_ = runLoop_->registerTimer(this, kTimerMs) == vst3::kOk;
    return fd_ >= 0 || timer_;
}

void View::stopPumping() {
    if (runLoop_ != nullptr) {
        if (fd_ >= 0)
            runLoop_->unregisterEventHandler(this);
        if (timer_)
            runLoop_->unregisterTimer(this);
        runLoop_->release();
    }
    runLoop_ = nullptr;
    fd_ = -1;
    timer_ = false;
}

#endif

}  // namespace veltrosa::vst3edge
