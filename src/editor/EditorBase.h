// The editor interface every edge talks to. The edge owns one editor for its
// whole life; the host only opens and closes its window.
//
// Threads: user-interface thread.
#pragma once

#include "editor/platform/Surface.h"

namespace veltrosa {

class EditorBase {
public:
    EditorBase() = default;
    virtual ~EditorBase() = default;
    EditorBase(const EditorBase&) = delete;
    EditorBase& operator=(const EditorBase&) = delete;

    // The editor's client rectangle; false when there is none.
    virtual bool getRect(Rect& /*rect*/) { return false; }
    // parent is the host's window handle.
    virtual bool open(void* parent) {
        parentWindow = parent;
        return false;
    }
    virtual void close() { parentWindow = nullptr; }
    virtual bool isOpen() { return parentWindow != nullptr; }
    // Pumps the window's pending messages.
    virtual void idle() {}

protected:
    void* parentWindow = nullptr;  // the host's window while open
};

}  // namespace veltrosa
