// The base effect class: the embedded record the host holds, the opcode
// dispatcher, the host-callback wrappers and the defaults of every operation
// a subclass does not replace.
//
// Threads: the dispatcher runs on whichever host thread calls it; audio
// callbacks on the host's audio thread. Nothing here takes a lock.
#pragma once

#include <cstdint>

#include "frame/vst2.h"

namespace veltrosa {

class EditorBase;

class EffectBase {
public:
    EffectBase(vst2::HostCallback host, int32_t programs, int32_t params);
    // Deletes the editor. Subclasses delete what they own before this runs.
    virtual ~EffectBase();
    EffectBase(const EffectBase&) = delete;
    EffectBase& operator=(const EffectBase&) = delete;

    // ---- Core group. The slot order below is the class's contract with its
    // subclasses; keep new operations after it.
    virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume();
    virtual void setSampleRate(float rate) { sampleRate = rate; }
    virtual void setBlockSize(int32_t size) { blockSize = size; }
    virtual void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) = 0;
    virtual void processDoubleReplacing(double** /*inputs*/, double** /*outputs*/, int32_t /*sampleFrames*/) {}
    virtual void setParameter(int32_t /*index*/, float /*value*/) {}
    virtual float getParameter(int32_t /*index*/) { return 0.0f; }
    virtual void setParameterAutomated(int32_t index, float value);
    virtual int32_t getProgram() { return curProgram; }
    virtual void setProgram(int32_t program) { curProgram = program; }
    virtual void setProgramName(const char* /*name*/) {}
    virtual void getProgramName(char* name);
    virtual void getParameterLabel(int32_t index, char* label);
    virtual void getParameterDisplay(int32_t index, char* text);
    virtual void getParameterName(int32_t index, char* text);
    virtual int32_t getChunk(void** /*data*/, bool /*isPreset*/) { return 0; }
    virtual int32_t setChunk(void* /*data*/, int32_t /*byteSize*/, bool /*isPreset*/) { return 0; }

    // ---- Setup and inquiry.
    virtual void setUniqueID(int32_t id) { effect.uniqueID = id; }
    virtual void setNumInputs(int32_t inputs) { effect.numInputs = inputs; }
    virtual void setNumOutputs(int32_t outputs) { effect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state) { setFlag(vst2::effFlagsCanReplacing, state); }
    virtual void canDoubleReplacing(bool state) { setFlag(vst2::effFlagsCanDoubleReplacing, state); }
    virtual void programsAreChunks(bool state) { setFlag(vst2::effFlagsProgramChunks, state); }
    virtual void setInitialDelay(int32_t delay) { effect.initialDelay = delay; }
    virtual EditorBase* getEditor() { return editor; }
    virtual vst2::AEffect* getAeffect() { return &effect; }
    virtual float getSampleRate() { return sampleRate; }
    virtual int32_t getBlockSize() { return blockSize; }

    // ---- Host wrappers.
    virtual int32_t getMasterVersion();

    // ---- Operations behind the extended opcodes.
    virtual void process(float** /*inputs*/, float** /*outputs*/, int32_t /*sampleFrames*/) {}
    virtual bool canParameterBeAutomated(int32_t /*index*/) { return true; }
    virtual bool getProgramNameIndexed(int32_t /*category*/, int32_t /*index*/, char* /*text*/) { return false; }
    virtual bool getSpeakerArrangement(vst2::VstSpeakerArrangement** input, vst2::VstSpeakerArrangement** output);
    virtual int32_t processEvents(vst2::VstEvents* /*events*/) { return 0; }
    virtual intptr_t setTotalSampleToProcess(intptr_t value) { return value; }
    virtual void isSynth(bool state) { setFlag(vst2::effFlagsIsSynth, state); }
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    virtual int32_t canDo(const char* /*text*/) { return 0; }
    virtual int32_t getVstVersion() { return 2400; }
    virtual int32_t getPlugCategory();
    virtual int32_t getCurrentMidiProgram(int32_t /*channel*/, void* /*program*/) { return -1; }
    virtual intptr_t wantEvents(intptr_t filter = 1);

protected:
    void setFlag(int32_t flag, bool state) {
        if (state)
            effect.flags |= flag;
        else
            effect.flags &= ~flag;
    }

    vst2::HostCallback audioMaster;  // never changed
    EditorBase* editor = nullptr;    // owned
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int32_t numPrograms;
    int32_t numParams;
    int32_t curProgram = 0;
    vst2::AEffect effect;

private:
    intptr_t dispatchCore(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    intptr_t dispatchExtended(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
};

// The object behind a record the host hands back, or null for a record that
// is not ours.
EffectBase* effectFromRecord(vst2::AEffect* record);

}  // namespace veltrosa
