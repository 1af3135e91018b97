// The instrument's editor: the 65 controls of its window, their places,
// parameters and colours. Built once with the Instrument.
#pragma once

#include "editor/OwlGui.h"

namespace veltrosa {

class Editor : public OwlGui {
public:
    static constexpr int32_t kWidth = 305;
    static constexpr int32_t kHeight = 370;
    static constexpr int32_t kControlCount = 65;

    // Throws when it cannot be built; what was built is released.
    explicit Editor(EffectBase* effect);
    ~Editor() override;
};

// The header bar's text: "Filter" over the left column, "Amp" over the right.
extern const char* const kEditorHeaderText;
extern const char* const kEditorTitleText;

}  // namespace veltrosa
