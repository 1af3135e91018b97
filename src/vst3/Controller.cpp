#include "vst3/Controller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/State.h"
#include "core/ValueText.h"
#include "presets/Bank.h"
#include "vst3/Ids.h"
#include "shell/Instrument.h"
#include "vst3/Processor.h"
#include "vst3/Text.h"
#include "vst3/View.h"

namespace veltrosa::vst3edge {

Controller::Controller() {
    for (int32_t i = 0; i < kNumParams; ++i)
        values_[static_cast<std::size_t>(i)] = static_cast<double>(defaultParam(i));
}

Controller::~Controller() {
    terminate();
}

vst3::Result Controller::queryInterface(const char* iid, void** object) {
    if (object == nullptr)
        return vst3::kInvalidArgument;
    *object = nullptr;
    if (sameId(iid, vst3::kIidUnknown) || sameId(iid, vst3::kIidPluginBase) || sameId(iid, vst3::kIidEditController))
        *object = static_cast<vst3::EditController*>(this);
    else if (sameId(iid, vst3::kIidConnectionPoint))
        *object = static_cast<vst3::ConnectionPoint*>(this);
    else if (sameId(iid, vst3::kIidUnitInfo))
        *object = static_cast<vst3::UnitInfoSource*>(this);
    else
        return vst3::kNoInterface;
    addRef();
    return vst3::kOk;
}

vst3::Result Controller::initialize(vst3::Unknown* context) {
    if (context_ != nullptr)
        return vst3::kFalse;
    if (context != nullptr)
        context->addRef();
    context_ = context;
    return vst3::kOk;
}

vst3::Result Controller::terminate() {
    disconnect(nullptr);
    if (context_ != nullptr)
        context_->release();
    context_ = nullptr;
    return setComponentHandler(nullptr);
}

vst3::Result Controller::setComponentState(vst3::Stream* state) {
    const auto values = readState(state);
    if (!values)
        return vst3::kInvalidArgument;
    for (std::size_t i = 0; i < values_.size(); ++i)
        values_[i] = static_cast<double>((*values)[i]);
    return vst3::kOk;
}

// The controller keeps nothing of its own beyond the component's state.
vst3::Result Controller::setState(vst3::Stream*) { return vst3::kOk; }

vst3::Result Controller::getState(vst3::Stream*) { return vst3::kOk; }

vst3::Result Controller::getParameterInfo(int32_t index, vst3::ParameterInfo& info) {
    if (index == static_cast<int32_t>(kProgramParam)) {
        info = {};
        info.id = kProgramParam;
        writeText(info.title, "Program");
        writeText(info.shortTitle, "Program");
        info.stepCount = static_cast<int32_t>(presets::factoryBank().size()) - 1;
        info.unitId = vst3::kRootUnit;
        info.flags = vst3::kIsList | vst3::kIsProgramChange;
        return vst3::kOk;
    }
    if (index < 0 || index >= kNumParams)
        return vst3::kInvalidArgument;
    const ParamInfo& p = kParams[static_cast<std::size_t>(index)];
    info = {};
    info.id = static_cast<vst3::ParamId>(index);
    writeText(info.title, p.name);
    writeText(info.shortTitle, p.shortName);
    writeText(info.units, kValueUnit);
    // "Update" is a two-step trigger a host should not record.
    info.stepCount = isTrigger(index) ? 1 : 0;
    info.defaultNormalizedValue = static_cast<double>(defaultParam(index));
    info.unitId = vst3::kRootUnit;  // no unit tree offered yet
    info.flags = isAutomatable(index) ? vst3::kCanAutomate : 0;
    return vst3::kOk;
}

namespace {

std::size_t presetAt(double normalized) {
    const auto last = static_cast<double>(presets::factoryBank().size() - 1);
    return static_cast<std::size_t>(std::lround(std::clamp(normalized, 0.0, 1.0) * last));
}

}  // namespace

vst3::Result Controller::getParamStringByValue(vst3::ParamId id, double valueNormalized, vst3::String128 string) {
    if (id == kProgramParam && string != nullptr && !std::isnan(valueNormalized)) {
        writeText(string, presets::factoryBank()[presetAt(valueNormalized)].name.c_str());
        return vst3::kOk;
    }
    char text[32];
    if (id >= static_cast<vst3::ParamId>(kNumParams) || string == nullptr ||
        !formatValue(static_cast<int32_t>(id), valueNormalized, text, sizeof text))
        return vst3::kInvalidArgument;
    writeText(string, text);
    return vst3::kOk;
}

vst3::Result Controller::getParamValueByString(vst3::ParamId id, vst3::Char16* string, double& valueNormalized) {
    if (id > kProgramParam || string == nullptr)
        return vst3::kInvalidArgument;
    char text[64];
    std::size_t n = 0;
    for (; string[n] != 0; ++n) {
        if (n + 1 >= sizeof text || string[n] > 0x7F)
            return vst3::kInvalidArgument;
        text[n] = static_cast<char>(string[n]);
    }
    if (id == kProgramParam) {
        const auto& bank = presets::factoryBank();
        for (std::size_t p = 0; p < bank.size(); ++p)
            if (bank[p].name == std::string_view(text, n)) {
                valueNormalized = static_cast<double>(p) / static_cast<double>(bank.size() - 1);
                return vst3::kOk;
            }
        return vst3::kInvalidArgument;
    }
    const auto parsed = parseValue(static_cast<int32_t>(id), std::string_view(text, n));
    if (!parsed)
        return vst3::kInvalidArgument;
    valueNormalized = *parsed;
    return vst3::kOk;
}

double Controller::getParamNormalized(vst3::ParamId id) {
    if (id == kProgramParam)
        return program_;
    return id < static_cast<vst3::ParamId>(kNumParams) ? values_[id] : 0.0;
}

vst3::Result Controller::setParamNormalized(vst3::ParamId id, double value) {
    if (id > kProgramParam || std::isnan(value))
        return vst3::kInvalidArgument;
    if (id == kProgramParam) {
        program_ = std::clamp(value, 0.0, 1.0);
        // A host that sets the same program again (mirroring its own state)
        // keeps the user's edits.
        if (const std::size_t preset = presetAt(program_); preset != preset_)
            choosePreset(preset);
        return vst3::kOk;
    }
    const auto accepted = shell::Instrument::accepted(static_cast<int32_t>(id), value);
    if (!accepted)
        return vst3::kInvalidArgument;
    values_[id] = static_cast<double>(*accepted);
    if (processor_ != nullptr)
        processor_->takeValue(static_cast<int32_t>(id), values_[id]);
    return vst3::kOk;
}

void Controller::choosePreset(std::size_t preset) {
    preset_ = preset;
    const ParameterValues& values = presets::factoryBank()[preset].values;
    for (std::size_t i = 0; i < values_.size(); ++i)
        values_[i] = static_cast<double>(values[i]);
    if (processor_ != nullptr)
        processor_->takeSound(values);
    if (handler_ != nullptr)
        handler_->restartComponent(vst3::kParamValuesChanged);
}

vst3::Result Controller::connect(vst3::ConnectionPoint* other) {
    if (other == nullptr)
        return vst3::kInvalidArgument;
    void* peer = nullptr;
    // Through a host's proxy there is no peer: values then reach the
    // processor through blocks only.
    if (processor_ == nullptr && other->queryInterface(reinterpret_cast<const char*>(kPeerId.bytes), &peer) == vst3::kOk)
        processor_ = static_cast<Processor*>(peer);
    return vst3::kOk;
}

vst3::Result Controller::disconnect(vst3::ConnectionPoint*) {
    if (processor_ != nullptr)
        processor_->release();
    processor_ = nullptr;
    return vst3::kOk;
}

vst3::Result Controller::getUnitInfo(int32_t unitIndex, vst3::UnitInfo& info) {
    if (unitIndex != 0)
        return vst3::kInvalidArgument;
    info = {};
    info.id = vst3::kRootUnit;
    info.parentUnitId = vst3::kNoParentUnitId;
    writeText(info.name, "Root");
    info.programListId = kProgramList;
    return vst3::kOk;
}

vst3::Result Controller::getProgramListInfo(int32_t listIndex, vst3::ProgramListInfo& info) {
    if (listIndex != 0)
        return vst3::kInvalidArgument;
    info = {};
    info.id = kProgramList;
    writeText(info.name, "Factory presets");
    info.programCount = static_cast<int32_t>(presets::factoryBank().size());
    return vst3::kOk;
}

vst3::Result Controller::getProgramName(int32_t listId, int32_t programIndex, vst3::String128 name) {
    const auto& bank = presets::factoryBank();
    if (listId != kProgramList || programIndex < 0 || static_cast<std::size_t>(programIndex) >= bank.size() ||
        name == nullptr)
        return vst3::kInvalidArgument;
    writeText(name, bank[static_cast<std::size_t>(programIndex)].name.c_str());
    return vst3::kOk;
}

vst3::PlugView* Controller::createView(const char* name) {
    if (name == nullptr || std::strcmp(name, vst3::kViewEditor) != 0)
        return nullptr;
    try {
        return new View(*this);
    } catch (...) {
        return nullptr;
    }
}

void Controller::beginEdit(vst3::ParamId id) {
    if (handler_ != nullptr && id < static_cast<vst3::ParamId>(kNumParams))
        handler_->beginEdit(id);
}

void Controller::performEdit(vst3::ParamId id, double value) {
    if (setParamNormalized(id, value) == vst3::kOk && handler_ != nullptr)
        handler_->performEdit(id, values_[id]);
}

void Controller::endEdit(vst3::ParamId id) {
    if (handler_ != nullptr && id < static_cast<vst3::ParamId>(kNumParams))
        handler_->endEdit(id);
}

vst3::Result Controller::setComponentHandler(vst3::ComponentHandler* handler) {
    if (handler == handler_)
        return vst3::kOk;
    if (handler != nullptr)
        handler->addRef();
    if (handler_ != nullptr)
        handler_->release();
    handler_ = handler;
    return vst3::kOk;
}

}  // namespace veltrosa::vst3edge
