// The VST 3 edition's processor: the engine behind the component and audio
// processor interfaces. The host's main thread sets it up, saves and loads
// its state; its audio thread calls process. The rules are the shell's.
#pragma once

#include <cstdint>

#include "abi/vst3.h"
#include "core/State.h"
#include "shell/Instrument.h"
#include "vst3/References.h"

namespace veltrosa::vst3edge {

class Processor final : public vst3::Component,
                        public vst3::AudioProcessor,
                        public vst3::ProcessContextRequirements,
                        public vst3::ConnectionPoint {
public:
    Processor();
    ~Processor();
    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    vst3::Result VST3CALL queryInterface(const char* iid, void** object) override;
    uint32_t VST3CALL addRef() override { return references_.add(); }
    uint32_t VST3CALL release() override { return references_.release(this); }

    vst3::Result VST3CALL initialize(vst3::Unknown* context) override;
    vst3::Result VST3CALL terminate() override;

    vst3::Result VST3CALL getControllerClassId(char* classId) override;
    vst3::Result VST3CALL setIoMode(int32_t mode) override;
    int32_t VST3CALL getBusCount(int32_t type, int32_t direction) override;
    vst3::Result VST3CALL getBusInfo(int32_t type, int32_t direction, int32_t index, vst3::BusInfo& info) override;
    vst3::Result VST3CALL getRoutingInfo(vst3::RoutingInfo& in, vst3::RoutingInfo& out) override;
    vst3::Result VST3CALL activateBus(int32_t type, int32_t direction, int32_t index, uint8_t state) override;
    vst3::Result VST3CALL setActive(uint8_t state) override;
    vst3::Result VST3CALL setState(vst3::Stream* state) override;
    vst3::Result VST3CALL getState(vst3::Stream* state) override;

    vst3::Result VST3CALL setBusArrangements(vst3::SpeakerArrangement* inputs, int32_t numIns,
                                             vst3::SpeakerArrangement* outputs, int32_t numOuts) override;
    vst3::Result VST3CALL getBusArrangement(int32_t direction, int32_t index,
                                            vst3::SpeakerArrangement& arrangement) override;
    vst3::Result VST3CALL canProcessSampleSize(int32_t symbolicSampleSize) override;
    uint32_t VST3CALL getLatencySamples() override { return 0; }
    vst3::Result VST3CALL setupProcessing(vst3::ProcessSetup& setup) override;
    vst3::Result VST3CALL setProcessing(uint8_t state) override;
    vst3::Result VST3CALL process(vst3::ProcessData& data) override;
    uint32_t VST3CALL getTailSamples() override;
    // Nothing of the host's transport or tempo: the instrument plays notes only.
    uint32_t VST3CALL getProcessContextRequirements() override { return 0; }

    // The controller finds this processor through the connection (kPeerId)
    // and needs nothing more from it.
    vst3::Result VST3CALL connect(vst3::ConnectionPoint* other) override {
        return other != nullptr ? vst3::kOk : vst3::kInvalidArgument;
    }
    vst3::Result VST3CALL disconnect(vst3::ConnectionPoint*) override { return vst3::kOk; }
    vst3::Result VST3CALL notify(vst3::Unknown*) override { return vst3::kFalse; }

    // The connected controller's news, on the host's main thread: a value a
    // host set there reaches the sound even while no block runs, and a
    // program is a whole sound.
    void takeValue(int32_t index, double value) noexcept { shell_.setValue(index, value); }
    void takeSound(const ParameterValues& values) { shell_.switchTo(values); }

private:
    void playParameterChanges(vst3::ParameterChanges* changes) noexcept;
    void playEvent(const vst3::Event& event, int32_t offset) noexcept;

    friend class References;
    References references_;
    shell::Instrument shell_;
    bool initialized_ = false;
    bool setUp_ = false;
};

}  // namespace veltrosa::vst3edge
