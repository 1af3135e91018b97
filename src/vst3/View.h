// The VST 3 edition's editor view: the instrument's editor in the host's
// window (an X11 window id or an HWND), 305 x 370 times the content scale
// (the host's, or else the desktop's). Edits go through the controller to
// the host's component handler; values the host sets on the controller reach
// the open editor on a timer. On Linux the X connection's descriptor and the
// timer are registered with the host's run loop; on Windows the host's
// message loop runs the window and a timer of the window polls. No thread of
// our own.
//
// Threads: the host's user-interface thread only.
#pragma once

#include <cstdint>

#include "abi/vst3.h"
#include "editor/ParameterHost.h"
#include "ui/EmbeddedEditor.h"
#include "vst3/References.h"

namespace veltrosa::vst3edge {

class Controller;

class View final : public vst3::PlugView,
                   public vst3::ContentScaleSupport,
                   public vst3::EventHandler,
                   public vst3::TimerHandler,
                   private ParameterHost,
                   private HostLoop {
public:
    // Holds a reference to the controller; throws when the editor cannot be built.
    explicit View(Controller& controller);
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override;
    uint32_t VST3CALL addRef() override { return references_.add(); }
    uint32_t VST3CALL release() override { return references_.release(this); }

    vst3::Result VST3CALL isPlatformTypeSupported(const char* type) override;
    vst3::Result VST3CALL attached(void* parent, const char* type) override;
    vst3::Result VST3CALL removed() override;
    // The window takes the wheel and keys itself.
    vst3::Result VST3CALL onWheel(float) override { return vst3::kFalse; }
    vst3::Result VST3CALL onKeyDown(vst3::Char16, int16_t, int16_t) override { return vst3::kFalse; }
    vst3::Result VST3CALL onKeyUp(vst3::Char16, int16_t, int16_t) override { return vst3::kFalse; }
    vst3::Result VST3CALL getSize(vst3::ViewRect* size) override;
    vst3::Result VST3CALL onSize(vst3::ViewRect* newSize) override;
    vst3::Result VST3CALL onFocus(uint8_t) override { return vst3::kOk; }
    vst3::Result VST3CALL setFrame(vst3::PlugFrame* frame) override;
    vst3::Result VST3CALL canResize() override { return vst3::kFalse; }
    vst3::Result VST3CALL checkSizeConstraint(vst3::ViewRect* rect) override;

    vst3::Result VST3CALL setContentScaleFactor(float factor) override;

    void VST3CALL onFDIsSet(int fd) override;
    void VST3CALL onTimer() override;

private:
    ~View();

    float parameterValue(int32_t index) override;
    void setParameterFromUi(int32_t index, float value, bool record) override;
    void beginGesture(int32_t index) override;
    void endGesture(int32_t index) override;

    // The host's run loop (Linux), found when first asked for.
    bool watchFd(int fd) override;
    void unwatchFd(int fd) override;
    bool startTimer(uint32_t periodMs) override;
    void stopTimer() override;
    vst3::RunLoop* runLoop();

    double scale();
    vst3::ViewRect rect();
    // Opens the editor in parent_ and has it pumped; false, closed, if either fails.
    bool open();
    void close();

    friend class References;
    References references_;
    Controller& controller_;
    // Not owned: the host keeps it until it sets another or none.
    vst3::PlugFrame* frame_ = nullptr;
    void* parent_ = nullptr;  // while attached
    double scale_ = 0.0;      // 0 until the host's or the desktop's is known
    uint64_t editing_ = 0;    // one bit per parameter between beginEdit and endEdit
    // The host's run loop while attached, with a reference.
    vst3::RunLoop* runLoop_ = nullptr;
    EmbeddedEditor editor_;  // last: closed before what it reaches goes
};

}  // namespace veltrosa::vst3edge
