// The parameter glue the plug-in editions' editors share: the names the
// controls show, and the values the editor last showed, which a timer
// compares with the edge's current ones (parameterValue) so that changes
// from the host (automation, presets, state) reach an open editor.
//
// Threads: user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/Parameters.h"
#include "editor/ControlWindow.h"
#include "editor/ParameterHost.h"

namespace veltrosa {

class PolledParameters : public ParameterHost {
public:
    std::string parameterName(int32_t index) override;

protected:
    // Gives the editor every current value and takes them as shown.
    void showAll(ControlWindow& editor);
    // A value the editor itself set: shown already.
    void takeAsShown(int32_t index);
    // Pushes to the editor the values that changed since it last showed them.
    void showChanged(ControlWindow& editor);

private:
    std::array<uint32_t, kNumParams> shown_{};  // value bits the editor shows
};

}  // namespace veltrosa
