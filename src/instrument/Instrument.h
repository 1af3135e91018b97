// The plug-in's own effect: identity, the 48 parameters, the single program,
// the state chunk, MIDI intake and the audio callback.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/Midi.h"
#include "engine/SynthEngine.h"
#include "frame/EffectBase.h"

namespace veltrosa {

class Editor;

class Instrument : public EffectBase {
public:
    explicit Instrument(vst2::HostCallback host);
    ~Instrument() override;

    // Parameter thread (any host thread but the audio one).
    void setSampleRate(float rate) override;
    void setBlockSize(int32_t size) override;
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

    SynthEngine& synth() { return *engine; }
    Editor* instrumentEditor();

private:
    int32_t clampOffset(int32_t deltaFrames) const;

    SynthEngine* engine = nullptr;  // owned
    std::atomic<int32_t> declaredBlockSize{1024};  // parameter thread writes, audio thread reads
    int32_t largestBlock = 0;                      // audio thread only
    char programName[25] = {};
};

}  // namespace veltrosa
