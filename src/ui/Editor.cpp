#include "ui/Editor.h"

#include <memory>

#include "editor/Widgets.h"
#include "core/Parameters.h"

namespace veltrosa {

const char* const kEditorTitleText = "Bramblers' Veltrosa";
const char* const kEditorHeaderText = "Filter                                     Amp ";

namespace {

// A parameter's name box and, 60 pixels to its right, its number box.
struct BoxRow {
    int32_t x;
    int32_t y;
    int32_t paramIndex;
};

// The filter column (envelope, depth, cutoff, resonance, velocity), then the
// amplifier column (envelope, velocity, volume).
constexpr BoxRow kColumnRows[] = {
    {20, 140, kParamFilterAttack},  {20, 160, kParamFilterDecay},    {20, 180, kParamFilterSustain},
    {20, 200, kParamFilterRelease}, {20, 230, kParamEnvDepth},       {20, 260, kParamCutoff},
    {20, 280, kParamResonance},     {20, 310, kParamFilterVelocity}, {190, 140, kParamAmpAttack},
    {190, 160, kParamAmpDecay},     {190, 180, kParamAmpSustain},    {190, 200, kParamAmpRelease},
    {190, 230, kParamAmpVelocity},  {190, 260, kParamVolume},
};

}  // namespace

Editor::Editor(ParameterHost* host) : ControlWindow(host, kWidth, kHeight) {
    background = {130, 180, 170};

    auto add = [this](std::unique_ptr<Control> control, int32_t paramIndex, bool automate) {
        Control& added = addControl(std::move(control));
        added.owner = this;
        added.paramIndex = paramIndex;
        added.automate = automate;
    };
    auto addBoxRow = [&](const BoxRow& row) {
        add(std::make_unique<NameLabel>(row.x, row.y, 60, 20), row.paramIndex, true);
        add(std::make_unique<ValueBox>(row.x + 60, row.y, 30, 20), row.paramIndex, true);
    };

    add(std::make_unique<Label>(0, 340, 305, 30, kEditorTitleText), 0, true);
    for (int32_t k = 0; k < kNumHarmonics; ++k)
        add(std::make_unique<Slider>(10 + 9 * k, 10, 8, 60), k, true);
    addBoxRow({10, 80, kParamBandwidth});
    // Regenerating is not a move the host should record.
    add(std::make_unique<Button>(235, 80, 60, 20, "Update"), kParamUpdate, false);
    add(std::make_unique<Label>(0, 112, 305, 20, kEditorHeaderText), 0, true);
    for (const BoxRow& row : kColumnRows)
        addBoxRow(row);
}

Editor::~Editor() = default;

}  // namespace veltrosa
