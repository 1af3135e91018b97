// The instrument's editor: the 65 controls of its window, their places,
// parameters and colours, over the toolkit. Built once by each edge.
#pragma once

#include "editor/ControlWindow.h"

namespace veltrosa {

class Editor : public ControlWindow {
public:
    static constexpr int32_t kWidth = 305;
    static constexpr int32_t kHeight = 370;

    // Throws when it cannot be built; what was built is released.
    // host: not owned; outlives the editor.
    explicit Editor(ParameterHost* host);
    ~Editor() override;
};

// The header bar's text: "Filter" over the left column, "Amp" over the right.
extern const char* const kEditorHeaderText;
extern const char* const kEditorTitleText;

}  // namespace veltrosa
