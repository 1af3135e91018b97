// The UI library: the instrument's editor embedded in the host's window. It
// talks to the plug-in only through port values (the write function out,
// port_event in) and links none of the engine.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "lv2/Ports.h"
#include "ui/Editor.h"

namespace veltrosa::lv2edge {
namespace {

using Clock = std::chrono::steady_clock;

// How long Update stays pressed: several cycles of any host, so the
// plug-in sees it rise before it falls back to 0.
constexpr auto kUpdateHold = std::chrono::milliseconds(100);

class PortHost final : public ParameterHost {
public:
    PortHost(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch)
        : write_(write), controller_(controller), touch_(touch) {
        for (int32_t i = 0; i < kNumParams; ++i)
            values_[static_cast<std::size_t>(i)] = defaultParam(i);
    }

    float parameterValue(int32_t index) override {
        return valid(index) ? values_[static_cast<std::size_t>(index)] : 0.0f;
    }

    void setParameterFromUi(int32_t index, float value, bool) override {
        if (!valid(index))
            return;
        send(index, value);
        if (index == kParamUpdate)
            updateRelease_ = Clock::now() + kUpdateHold;
    }

    std::string parameterName(int32_t index) override {
        return valid(index) ? kParams[static_cast<std::size_t>(index)].shortName : "";
    }

    void beginGesture(int32_t index) override { touch(index, true); }
    void endGesture(int32_t index) override { touch(index, false); }

    // A value from the host: stored, never written back.
    void received(int32_t index, float value) { values_[static_cast<std::size_t>(index)] = value; }

    void releaseUpdateWhenDue() {
        if (updateRelease_ && Clock::now() >= *updateRelease_) {
            updateRelease_.reset();
            send(kParamUpdate, 0.0f);
        }
    }

    static bool valid(int32_t index) { return index >= 0 && index < kNumParams; }

private:
    void send(int32_t index, float value) {
        values_[static_cast<std::size_t>(index)] = value;
        if (write_ != nullptr)
            write_(controller_, static_cast<uint32_t>(index), sizeof value, 0, &value);
    }

    void touch(int32_t index, bool grabbed) {
        if (valid(index) && touch_ != nullptr && touch_->touch != nullptr)
            touch_->touch(touch_->handle, static_cast<uint32_t>(index), grabbed);
    }

    LV2UI_Write_Function write_;
    LV2UI_Controller controller_;
    const LV2UI_Touch* touch_;
    std::array<float, kNumParams> values_{};
    std::optional<Clock::time_point> updateRelease_;
};

struct Ui {
    Ui(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch)
        : host(write, controller, touch), editor(&host) {}
    ~Ui() { editor.close(); }

    PortHost host;
    Editor editor;
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
        ui->editor.refreshControls();
        ui->editor.setScale(scaleOption(options, map));
        ui->editor.open(parent);
        const WindowLayer* layer = ui->editor.windowLayer();
        if (layer == nullptr || layer->nativeWindow() == 0)
            return nullptr;  // no display, or the parent is no window
        *widget = reinterpret_cast<LV2UI_Widget>(layer->nativeWindow());
        Rect size;
        ui->editor.getRect(size);
        if (resize != nullptr && resize->ui_resize != nullptr)
            resize->ui_resize(resize->handle, size.right - size.left, size.bottom - size.top);
        return ui.release();
    } catch (...) {
        return nullptr;
    }
}

void cleanup(LV2UI_Handle handle) { delete static_cast<Ui*>(handle); }

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    auto* ui = static_cast<Ui*>(handle);
    const auto index = static_cast<int32_t>(port);
    if (ui == nullptr || format != 0 || size != sizeof(float) || buffer == nullptr || !PortHost::valid(index))
        return;
    float value = 0.0f;
    std::memcpy(&value, buffer, sizeof value);
    ui->host.received(index, value);
    ui->editor.parameterChanged(index, value);
}

int idle(LV2UI_Handle handle) {
    auto* ui = static_cast<Ui*>(handle);
    if (ui == nullptr)
        return 1;
    try {
        ui->editor.idle();
        ui->editor.redrawDirty();
        ui->host.releaseUpdateWhenDue();
    } catch (...) {
        return 1;
    }
    return 0;
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
