// The instrument's editor: its layout, and values travelling between the
// controls, the instrument and the host, driven both through the built
// plug-in's dispatcher and through an Instrument reached directly.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <thread>
#include <typeinfo>

#include "ui/Editor.h"
#include "ui/EmbeddedEditor.h"
#include "editor/Widgets.h"
#include "core/Parameters.h"
#include "vst2/Instrument.h"

using namespace editor_test;
using veltrosa::Button;
using veltrosa::Control;
using veltrosa::Editor;
using veltrosa::EmbeddedEditor;
using veltrosa::vst2edge::Instrument;
using veltrosa::Label;
using veltrosa::NameLabel;
using veltrosa::RasterWindowLayer;
using veltrosa::Slider;
using veltrosa::ValueBox;

namespace {

// audioMasterAutomate calls an Instrument made here sends to its host.
std::vector<std::pair<int32_t, float>> automations;

intptr_t VSTCALL recordingHost(vst2::AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt) {
    if (opcode == vst2::audioMasterAutomate)
        automations.emplace_back(index, opt);
    return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

class EditorTest : public ::testing::Test {
protected:
    EditorTest() { automations.clear(); }

    Editor& editor() { return *instrument.instrumentEditor(); }
    RasterWindowLayer& window() {
        if (layer == nullptr)
            layer = openHeadless(editor());
        return *layer;
    }
    Control& control(std::size_t row) { return *editor().controlList().at(row); }
    // The ValueBox showing a parameter (rows 35, 39, 41, ... of the layout).
    ValueBox& boxFor(int32_t index) {
        for (auto& c : editor().controlList())
            if (c->paramIndex == index && typeid(*c) == typeid(ValueBox))
                return static_cast<ValueBox&>(*c);
        throw std::runtime_error("no box");
    }

    Instrument instrument{recordingHost};
    RasterWindowLayer* layer = nullptr;
};

TEST(EditorThroughHost, RectBeforeOpenThenOpenAndCloseThroughTheDispatcher) {
    auto plugin = testing_support::loadPlugin();
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->effect()->flags, 0x131);
    vst2::ERect* rect = nullptr;
    ASSERT_EQ(plugin->dispatch(vst2::effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 370);
    EXPECT_EQ(rect->right, 305);

    EXPECT_EQ(plugin->dispatch(vst2::effEditOpen, 0, 0, nullptr), 0);  // no window to live in
    int parentWindow = 0;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(plugin->dispatch(vst2::effEditOpen, 0, 0, &parentWindow), 1);
        EXPECT_EQ(plugin->dispatch(vst2::effEditIdle), 0);
        EXPECT_EQ(plugin->dispatch(vst2::effEditKeyDown, 'a', 65, nullptr, 0.0f), 0);
        EXPECT_EQ(plugin->dispatch(vst2::effEditKeyUp, 'a', 65, nullptr, 0.0f), 0);
        EXPECT_EQ(plugin->dispatch(vst2::effSetEditKnobMode, 0, 2), 0);
        vst2::ERect* again = nullptr;
        EXPECT_EQ(plugin->dispatch(vst2::effEditGetRect, 0, 0, &again), 1);
        EXPECT_EQ(again, rect);  // one address for the effect's life
        plugin->setParameter(40, 0.25f);
        EXPECT_EQ(plugin->dispatch(vst2::effEditClose), 0);
    }
    EXPECT_TRUE(plugin->callsWithOpcode(vst2::audioMasterAutomate).empty());
    // Closing the effect with its editor open releases the window too.
    EXPECT_EQ(plugin->dispatch(vst2::effEditOpen, 0, 0, &parentWindow), 1);
    plugin->close();
}

TEST(EditorThroughHost, TwoInstancesOpenTheirEditorsAtOnce) {
    auto first = testing_support::loadPlugin();
    auto second = testing_support::loadPlugin();
    ASSERT_TRUE(first && second);
    int parentWindow = 0;
    EXPECT_EQ(first->dispatch(vst2::effEditOpen, 0, 0, &parentWindow), 1);
    EXPECT_EQ(second->dispatch(vst2::effEditOpen, 0, 0, &parentWindow), 1);
    EXPECT_EQ(first->dispatch(vst2::effEditClose), 0);
    second->setParameter(3, 0.5f);  // the other window still takes its values
    EXPECT_EQ(second->dispatch(vst2::effEditClose), 0);
}

TEST_F(EditorTest, TwoEditorsEachDriveTheirOwnInstrument) {
    Instrument other{recordingHost};
    RasterWindowLayer& otherWindow = *openHeadless(*other.instrumentEditor());
    otherWindow.deliver(down(13, 11));
    window().deliver(down(13, 69));
    EXPECT_EQ(other.getParameter(0), 1.0f - 1.0f / 60.0f);
    EXPECT_EQ(instrument.getParameter(0), 1.0f - 59.0f / 60.0f);
    otherWindow.deliver(up(13, 11));
    window().deliver(up(13, 69));
    EXPECT_EQ(automations.size(), 2u);
}

TEST_F(EditorTest, SixtyFiveControlsInTheirPlaces) {
    struct Row {
        const std::type_info& kind;
        int32_t x, y, w, h, paramIndex;
        bool automate;
    };
    std::vector<Row> rows;
    const auto& label = typeid(Label);
    const auto& name = typeid(NameLabel);
    const auto& box = typeid(ValueBox);
    rows.push_back({label, 0, 340, 305, 30, 0, true});
    for (int32_t k = 0; k < 32; ++k)
        rows.push_back({typeid(Slider), 10 + 9 * k, 10, 8, 60, k, true});
    rows.push_back({name, 10, 80, 60, 20, 32, true});
    rows.push_back({box, 70, 80, 30, 20, 32, true});
    rows.push_back({typeid(Button), 235, 80, 60, 20, 33, false});
    rows.push_back({label, 0, 112, 305, 20, 0, true});
    const int32_t ys[] = {140, 160, 180, 200, 230, 260, 280, 310};
    for (int32_t i = 0; i < 8; ++i) {
        rows.push_back({name, 20, ys[i], 60, 20, 34 + i, true});
        rows.push_back({box, 80, ys[i], 30, 20, 34 + i, true});
    }
    for (int32_t i = 0; i < 6; ++i) {
        rows.push_back({name, 190, ys[i], 60, 20, 42 + i, true});
        rows.push_back({box, 250, ys[i], 30, 20, 42 + i, true});
    }
    const auto& controls = editor().controlList();
    ASSERT_EQ(controls.size(), 65u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Control& c = *controls[i];
        const Row& row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i + 1));
        EXPECT_EQ(typeid(c), row.kind);
        EXPECT_EQ((std::array{c.x, c.y, c.width, c.height}), (std::array{row.x, row.y, row.w, row.h}));
        EXPECT_EQ(c.paramIndex, row.paramIndex);
        EXPECT_EQ(c.automate, row.automate);
        EXPECT_EQ(c.owner, &editor());
    }
    EXPECT_EQ(static_cast<Label&>(control(0)).text, "Bramblers' Veltrosa");
    const std::string header = static_cast<Label&>(control(36)).text;
    EXPECT_EQ(header, "Filter" + std::string(37, ' ') + "Amp ");
    EXPECT_EQ(header.size(), 47u);
    EXPECT_EQ(static_cast<Button&>(control(35)).text, "Update");
    EXPECT_EQ(static_cast<NameLabel&>(control(45)).text(), "Env Dpth");
}

TEST_F(EditorTest, EveryBarAndBoxStartsAtItsParameterDefault) {
    for (auto& c : editor().controlList()) {
        if (typeid(*c) == typeid(Slider) || typeid(*c) == typeid(ValueBox)) {
            EXPECT_EQ(c->getValue(), veltrosa::defaultParam(c->paramIndex)) << c->paramIndex;
        }
    }
    EXPECT_EQ(control(1).getValue(), 1.0f);  // bar 0's default, not the slider's own 0.5
}

TEST_F(EditorTest, ClicksBetweenBarsAndOnSharedEdgesHitNothing) {
    EXPECT_EQ(editor().findControlAt(18, 40), nullptr);
    EXPECT_EQ(editor().findControlAt(70, 90), nullptr);
    EXPECT_EQ(editor().findControlAt(17, 40), &control(1));
    EXPECT_EQ(editor().findControlAt(20, 40), &control(2));
    EXPECT_EQ(editor().findControlAt(71, 90), &control(34));
}

TEST_F(EditorTest, DraggingAnAttackBoxAutomatesOnlyItsOwnParameter) {
    const std::pair<int32_t, int32_t> columns[] = {{95, 34}, {265, 42}};  // box centre x, parameter
    for (auto [x, index] : columns) {
        automations.clear();
        const float before = instrument.getParameter(index);
        window().deliver(down(x, 150));
        window().deliver(move(x, 146));
        window().deliver(up(x, 146));
        ASSERT_EQ(automations.size(), 1u) << index;
        EXPECT_EQ(automations[0].first, index);
        EXPECT_FLOAT_EQ(automations[0].second, before + 0.02f);
        EXPECT_EQ(instrument.getParameter(index), boxFor(index).getValue());
    }
    EXPECT_EQ(instrument.getParameter(35), veltrosa::defaultParam(35));
}

TEST_F(EditorTest, UpdateClickReachesTheEngineAndTellsTheHostNothing) {
    window().deliver(move(260, 90));
    click(window(), 260, 90);
    EXPECT_TRUE(automations.empty());
    EXPECT_EQ(instrument.getParameter(veltrosa::kParamUpdate), 0.0f);
    // The button shows no value: the engine's reset to 0 leaves it as it was.
    EXPECT_EQ(control(35).getValue(), 1.0f);
}

TEST_F(EditorTest, ChunkLoadRefreshesEveryBarAndBoxWithoutAutomation) {
    std::array<float, 48> values{};
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<float>(i) / 64.0f + 0.1f;
    window();
    ASSERT_EQ(instrument.setChunk(values.data(), sizeof values, false), 192);
    int bars = 0, boxes = 0;
    for (auto& c : editor().controlList()) {
        const bool bar = typeid(*c) == typeid(Slider), box = typeid(*c) == typeid(ValueBox);
        if (bar || box) {
            EXPECT_EQ(c->getValue(), values[static_cast<std::size_t>(c->paramIndex)]) << c->paramIndex;
        }
        bars += bar;
        boxes += box;
    }
    EXPECT_EQ(bars, 32);
    EXPECT_EQ(boxes, 15);
    EXPECT_TRUE(automations.empty());

    // A chunk of the wrong size leaves every control alone.
    const std::array<float, 2> tooShort{0.9f, 0.9f};
    EXPECT_EQ(instrument.setChunk(const_cast<float*>(tooShort.data()), sizeof tooShort, false), 0);
    EXPECT_EQ(control(1).getValue(), values[0]);
}

TEST_F(EditorTest, HostChangesMarkControlsAndShowAtTheNextMouseMessage) {
    window();
    instrument.setParameter(40, 0.25f);
    EXPECT_EQ(boxFor(40).text(), "25");
    EXPECT_TRUE(boxFor(40).dirty);
    instrument.setParameter(0, 0.8f);
    EXPECT_TRUE(control(1).dirty);
    EXPECT_FALSE(control(0).dirty);   // the title bar, also bound to index 0
    EXPECT_FALSE(control(36).dirty);  // the header bar
    EXPECT_TRUE(automations.empty());
    window().deliver(move(2, 2));
    EXPECT_FALSE(boxFor(40).dirty);
    EXPECT_FALSE(control(1).dirty);

    // A value within the tolerance leaves the box clean; out-of-range indices reach nothing.
    instrument.setParameter(40, 0.25005f);
    EXPECT_FALSE(boxFor(40).dirty);
    instrument.setParameter(48, 0.5f);
    instrument.setParameter(-1, 0.5f);
    // The value as passed reaches the controls, which clamp it themselves.
    instrument.setParameter(41, 3.0f);
    EXPECT_EQ(boxFor(41).getValue(), 1.0f);
}

TEST_F(EditorTest, ValuesSetOnAnotherThreadAreNeverLostToADrawInProgress) {
    window();
    std::atomic<bool> done{false};
    std::thread parameterThread([&] {
        for (int i = 0; i < 3000; ++i) {
            instrument.setParameter(40, static_cast<float>(i % 100) / 100.0f);
            instrument.setParameter(i % 32, static_cast<float>(i % 7) / 7.0f);
        }
        instrument.setParameter(40, 0.37f);
        done = true;
    });
    for (int32_t n = 0; !done; ++n)
        window().deliver(move(2 + n % 2, 2));
    parameterThread.join();
    window().deliver(move(2, 2));
    EXPECT_EQ(boxFor(40).text(), "37");

    // What the mouse messages drew equals a full repaint: no change went undrawn.
    auto snapshot = [this] {
        std::vector<uint32_t> pixels;
        for (int32_t y = 0; y < Editor::kHeight; ++y)
            for (int32_t x = 0; x < Editor::kWidth; ++x) {
                const Colour c = *window().pixel(x, y);
                pixels.push_back(static_cast<uint32_t>(c.red << 16 | c.green << 8 | c.blue));
            }
        return pixels;
    };
    const auto drawn = snapshot();
    window().deliver({WindowMessageType::Paint});
    EXPECT_TRUE(drawn == snapshot());
}

// A host's scale outside what the window layers draw at is refused, not
// clamped: the host then knows the window keeps its size.
TEST(EmbeddedEditor, TakesOnlyTheScalesTheWindowLayersDrawAt) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double scale;
        bool taken;
    } cases[] = {{0.25, true},   {1.0, true},  {1.5, true},   {8.0, true},        {0.2499, false},
                 {8.001, false}, {0.0, false}, {-1.0, false}, {kInfinity, false}, {kNaN, false}};
    for (const auto& c : cases)
        EXPECT_EQ(EmbeddedEditor::takesScale(c.scale), c.taken) << c.scale;
}

// Where the editor springs Update back, a press is one gesture: 1 at once,
// then 0 when held long enough, or as soon as the editor closes, so that a
// host never keeps it pressed; a second press while held is the same press.
TEST(EmbeddedEditor, AHeldTriggerIsLetGoWhenTheEditorCloses) {
    RecordingEffect edge;
    EmbeddedEditor embedded(edge, EmbeddedEditor::TriggerRelease::Editor);
    Control* update = nullptr;
    for (auto& c : embedded.editor().controlList())
        if (c->paramIndex == veltrosa::kParamUpdate && typeid(*c) == typeid(Button))
            update = c.get();
    ASSERT_NE(update, nullptr);
    update->onMouseUp(0, 265, 90);
    update->onMouseUp(0, 265, 90);
    ASSERT_EQ(edge.sent.size(), 1u);
    EXPECT_EQ(edge.sent[0].value, 1.0f);
    EXPECT_EQ(edge.gestures, (std::vector<std::string>{"begin 33"}));

    embedded.close();
    ASSERT_EQ(edge.sent.size(), 2u);
    EXPECT_EQ(edge.sent[1].index, veltrosa::kParamUpdate);
    EXPECT_EQ(edge.sent[1].value, 0.0f);
    EXPECT_FALSE(edge.sent[1].automated);
    EXPECT_EQ(edge.gestures, (std::vector<std::string>{"begin 33", "end 33"}));
}

}  // namespace
