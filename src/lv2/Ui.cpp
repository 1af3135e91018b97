// The UI library: the instrument's editor embedded in the host's window. It
// talks to the plug-in only through port values (the write function out,
// port_event in) and links none of the engine.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <array>
#include <cstring>
#include <memory>

#include "lv2/Ports.h"
#include "ui/EmbeddedEditor.h"

namespace veltrosa::lv2edge {
namespace {

class PortHost final : public ParameterHost {
public:
    PortHost(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch)
        : write_(write), controller_(controller), touch_(touch) {
        for (int32_t i = 0; i < kNumParams; ++i)
            values_[static_cast<std::size_t>(i)] = defaultParam(i);
    }

    float parameterValue(int32_t index) override {
        return isParam(index) ? values_[static_cast<std::size_t>(index)] : 0.0f;
    }

    void setParameterFromUi(int32_t index, float value, bool) override {
        if (!isParam(index))
            return;
        values_[static_cast<std::size_t>(index)] = value;
        if (write_ != nullptr)
            write_(controller_, static_cast<uint32_t>(index), sizeof value, 0, &value);
    }

    void beginGesture(int32_t index) override { touch(index, true); }
    void endGesture(int32_t index) override { touch(index, false); }

    // A value from the host: stored, never written back.
    void received(int32_t index, float value) { values_[static_cast<std::size_t>(index)] = value; }

private:
    void touch(int32_t index, bool grabbed) {
        if (isParam(index) && touch_ != nullptr && touch_->touch != nullptr)
            touch_->touch(touch_->handle, static_cast<uint32_t>(index), grabbed);
    }

    LV2UI_Write_Function write_;
    LV2UI_Controller controller_;
    const LV2UI_Touch* touch_;
    std::array<float, kNumParams> values_{};
};

// The plug-in only sees Update's port: the editor springs it back.
struct Ui {
    Ui(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch)
        : host(write, controller, touch), editor(host, EmbeddedEditor::TriggerRelease::Editor) {}

    PortHost host;
    EmbeddedEditor editor;
};

double scaleOption(const LV2_Options_Option* options, LV2_URID_Map* map) {
    if (options == nullptr || map == nullptr || map->map == nullptr)
        return 1.0;
    const LV2_URID scaleFactor = map->map(map->handle, LV2_UI__scaleFactor);
    const LV2_URID floatType = map->map(map->handle, LV2_ATOM__Float);
    for (const LV2_Options_Option* o = options; o->key != 0 || o->value != nullptr; ++o) {
        if (o->key == scaleFactor && o->type == floatType && o->size == sizeof(float) && o->value != nullptr) {
            float value = 1.0f;
            std::memcpy(&value, o->value, sizeof value);
            return static_cast<double>(value);
        }
    }
    return 1.0;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    if (pluginUri == nullptr || std::strcmp(pluginUri, kPluginUri) != 0 || widget == nullptr || features == nullptr)
        return nullptr;
    void* parent = nullptr;
    const LV2UI_Resize* resize = nullptr;
    const LV2UI_Touch* touch = nullptr;
    LV2_URID_Map* map = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (const LV2_Feature* const* f = features; *f != nullptr; ++f) {
        const char* uri = (*f)->URI;
        if (uri == nullptr)
            continue;
        if (std::strcmp(uri, LV2_UI__parent) == 0)
            parent = (*f)->data;
        else if (std::strcmp(uri, LV2_UI__resize) == 0)
            resize = static_cast<const LV2UI_Resize*>((*f)->data);
        else if (std::strcmp(uri, LV2_UI__touch) == 0)
            touch = static_cast<const LV2UI_Touch*>((*f)->data);
        else if (std::strcmp(uri, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map*>((*f)->data);
        else if (std::strcmp(uri, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>((*f)->data);
    }
    if (parent == nullptr)
        return nullptr;
    try {
        auto ui = std::make_unique<Ui>(write, controller, touch);
        const double scale = scaleOption(options, map);
        if (!ui->editor.open(parent, scale))
            return nullptr;  // no display, or the parent is no window
        *widget = reinterpret_cast<LV2UI_Widget>(ui->editor.nativeWindow());
        const Rect size = EmbeddedEditor::pixelSize(scale);
        if (resize != nullptr && resize->ui_resize != nullptr)
            resize->ui_resize(resize->handle, size.width(), size.height());
        return ui.release();
    } catch (...) {
        return nullptr;
    }
}

void cleanup(LV2UI_Handle handle) { delete static_cast<Ui*>(handle); }

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    auto* ui = static_cast<Ui*>(handle);
    const auto index = static_cast<int32_t>(port);
    if (ui == nullptr || format != 0 || size != sizeof(float) || buffer == nullptr || !isParam(index))
        return;
    float value = 0.0f;
    std::memcpy(&value, buffer, sizeof value);
    ui->host.received(index, value);  // shown at the next idle
}

// The host's idle is the editor's timer.
int idle(LV2UI_Handle handle) {
    auto* ui = static_cast<Ui*>(handle);
    return ui != nullptr && ui->editor.onTimer() ? 0 : 1;
}

const LV2UI_Idle_Interface kIdle = {idle};

const void* extensionData(const char* uri) {
    if (uri != nullptr && std::strcmp(uri, LV2_UI__idleInterface) == 0)
        return &kIdle;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {kUiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace
}  // namespace veltrosa::lv2edge

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &veltrosa::lv2edge::kDescriptor : nullptr;
}
