// The plug-in's own effect: identity, the 48 parameters, the single program,
// the state chunk, MIDI intake and the audio callback.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/Midi.h"
#include "engine/SynthEngine.h"
#include "vst2/EffectBase.h"

namespace veltrosa {
class Editor;
}

namespace veltrosa::vst2edge {


class Instrument : public EffectBase {
public:
    explicit Instrument(vst2::HostCallback host);
    ~Instrument() override;

    // The combined block size and rate announcement (43) changes nothing a
    // host sees; its block size still sizes the audio thread's buffers.
    intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) override;

    // Parameter thread (any host thread but the audio one). Every block size
    // announced, and the current one when resumed, sizes the audio thread's
    // buffers here, so that it allocates nothing from the first block on.
    void resume() override;
    void setSampleRate(float rate) override;
    void setBlockSize(int32_t size) override;
    void setBlockSizeAndSampleRate(int32_t size, float rate) override;
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void setProgram(int32_t program) override;
    void setProgramName(const char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;
    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;
    bool canParameterBeAutomated(int32_t index) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    int32_t getVendorVersion() override;
    int32_t canDo(const char* text) override;

    // Audio thread; real-time safe.
    int32_t processEvents(vst2::VstEvents* events) override;
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;

    SynthEngine& synth() { return *engine_; }
    Editor* instrumentEditor();

private:
    std::unique_ptr<SynthEngine> engine_;
    char programName_[25] = {};
};

}  // namespace veltrosa::vst2edge
