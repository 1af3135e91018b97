// The VST 3 edition's controller: the parameters as hosts list and show
// them, following the component's state, and the editor's view. It holds
// values only; the sound is the processor's.
#pragma once

#include <array>
#include <cstdint>

#include "abi/vst3.h"
#include "core/Parameters.h"
#include "vst3/References.h"

namespace veltrosa::vst3edge {

class Controller final : public vst3::EditController {
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
    int32_t VST3CALL getParameterCount() override { return kNumParams; }
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
    std::array<double, kNumParams> values_{};
    vst3::ComponentHandler* handler_ = nullptr;
    vst3::Unknown* context_ = nullptr;  // with a reference, between initialize and terminate
};

}  // namespace veltrosa::vst3edge
