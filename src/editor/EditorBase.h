// The editor interface the effect talks to. The effect owns one editor for its
// whole life; the host only opens and closes its window.
#pragma once

#include "frame/vst2.h"

namespace veltrosa {

class EffectBase;

class EditorBase {
public:
    explicit EditorBase(EffectBase* effect) : ownerEffect(effect) {}
    virtual ~EditorBase() = default;
    EditorBase(const EditorBase&) = delete;
    EditorBase& operator=(const EditorBase&) = delete;

    virtual EffectBase* getEffect() { return ownerEffect; }
    // User-interface thread, effEditGetRect: stores the editor's rectangle.
    virtual bool getRect(vst2::ERect** rect) {
        *rect = nullptr;
        return false;
    }
    // User-interface thread, effEditOpen: parent is the host's window handle.
    virtual bool open(void* parent) {
        parentWindow = parent;
        return false;
    }
    // User-interface thread, effEditClose.
    virtual void close() { parentWindow = nullptr; }
    virtual bool isOpen() { return parentWindow != nullptr; }
    // User-interface thread, effEditIdle.
    virtual void idle() {}
    virtual bool keyDown(vst2::VstKeyCode& /*key*/) { return false; }
    virtual bool keyUp(vst2::VstKeyCode& /*key*/) { return false; }
    virtual bool wheel(float /*distance*/) { return false; }
    virtual bool setKnobMode(int32_t /*mode*/) { return false; }

protected:
    EffectBase* ownerEffect;    // not owned
    void* parentWindow = nullptr;  // the host's window while open
};

}  // namespace veltrosa
