// The VST 3 edition's controller: the parameters as hosts list and show
// them, following the component's state, the factory presets as a program
// list, and the editor's view. It holds values only; the sound is the
// processor's. Connected to this module's processor, it passes on what a
// host sets here, so that a state saved while no block runs holds it.
#pragma once

#include <array>
#include <cstdint>

#include "abi/vst3.h"
#include "core/Parameters.h"
#include "vst3/References.h"

namespace veltrosa::vst3edge {

class Processor;

class Controller final : public vst3::EditController, public vst3::ConnectionPoint, public vst3::UnitInfoSource {
public:
    Controller();

    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override;
    uint32_t VST3CALL addRef() override { return references_.add(); }
    uint32_t VST3CALL release() override { return references_.release(this); }

    vst3::Result VST3CALL initialize(vst3::Unknown* context) override;
    vst3::Result VST3CALL terminate() override;

    vst3::Result VST3CALL setComponentState(vst3::Stream* state) override;
    vst3::Result VST3CALL setState(vst3::Stream* state) override;
    vst3::Result VST3CALL getState(vst3::Stream* state) override;
    int32_t VST3CALL getParameterCount() override { return kNumParams + 1; }
    vst3::Result VST3CALL getParameterInfo(int32_t index, vst3::ParameterInfo& info) override;
    vst3::Result VST3CALL getParamStringByValue(vst3::ParamId id, double valueNormalized,
                                                vst3::String128 string) override;
    vst3::Result VST3CALL getParamValueByString(vst3::ParamId id, vst3::Char16* string,
                                                double& valueNormalized) override;
    double VST3CALL normalizedParamToPlain(vst3::ParamId, double valueNormalized) override { return valueNormalized; }
    double VST3CALL plainParamToNormalized(vst3::ParamId, double plainValue) override { return plainValue; }
    double VST3CALL getParamNormalized(vst3::ParamId id) override;
    vst3::Result VST3CALL setParamNormalized(vst3::ParamId id, double value) override;
    vst3::Result VST3CALL setComponentHandler(vst3::ComponentHandler* handler) override;
    vst3::PlugView* VST3CALL createView(const char* name) override;

    vst3::Result VST3CALL connect(vst3::ConnectionPoint* other) override;
    vst3::Result VST3CALL disconnect(vst3::ConnectionPoint* other) override;
    vst3::Result VST3CALL notify(vst3::Unknown*) override { return vst3::kFalse; }

    int32_t VST3CALL getUnitCount() override { return 1; }
    vst3::Result VST3CALL getUnitInfo(int32_t unitIndex, vst3::UnitInfo& info) override;
    int32_t VST3CALL getProgramListCount() override { return 1; }
    vst3::Result VST3CALL getProgramListInfo(int32_t listIndex, vst3::ProgramListInfo& info) override;
    vst3::Result VST3CALL getProgramName(int32_t listId, int32_t programIndex, vst3::String128 name) override;
    vst3::Result VST3CALL getProgramInfo(int32_t, int32_t, const char*, vst3::String128) override {
        return vst3::kFalse;
    }
    vst3::Result VST3CALL hasProgramPitchNames(int32_t, int32_t) override { return vst3::kFalse; }
    vst3::Result VST3CALL getProgramPitchName(int32_t, int32_t, int16_t, vst3::String128) override {
        return vst3::kFalse;
    }
    int32_t VST3CALL getSelectedUnit() override { return vst3::kRootUnit; }
    vst3::Result VST3CALL selectUnit(int32_t unitId) override {
        return unitId == vst3::kRootUnit ? vst3::kOk : vst3::kInvalidArgument;
    }
    vst3::Result VST3CALL getUnitByBus(int32_t, int32_t, int32_t, int32_t, int32_t& unitId) override {
        unitId = vst3::kRootUnit;
        return vst3::kOk;
    }
    vst3::Result VST3CALL setUnitProgramData(int32_t, int32_t, vst3::Stream*) override {
        return vst3::kNotImplemented;
    }

    // The editor's edits: kept here, and passed on to the host's handler,
    // which forwards them to the processor.
    void beginEdit(vst3::ParamId id);
    void performEdit(vst3::ParamId id, double value);
    void endEdit(vst3::ParamId id);
    // What initialize was given, for a view looking for the host's run loop.
    vst3::Unknown* hostContext() const { return context_; }

private:
    ~Controller();

    friend class References;
    References references_;
    void choosePreset(std::size_t preset);

    std::array<double, kNumParams> values_{};
    double program_ = 0.0;        // the program parameter's value
    std::size_t preset_ = 0;      // the preset it chose last
    Processor* processor_ = nullptr;  // this module's, connected, with a reference
    vst3::ComponentHandler* handler_ = nullptr;
    vst3::Unknown* context_ = nullptr;  // with a reference, between initialize and terminate
};

}  // namespace veltrosa::vst3edge
