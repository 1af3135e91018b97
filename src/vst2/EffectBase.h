// The base effect class: the embedded record the host holds, the opcode
// dispatcher, the host-callback wrappers and the defaults of every operation
// a subclass does not replace.
//
// Threads: the dispatcher runs on whichever host thread calls it; audio
// callbacks on the host's audio thread. Nothing here takes a lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "editor/ParameterHost.h"
#include "abi/vst2.h"

namespace veltrosa {
class EditorBase;
}

namespace veltrosa::vst2edge {

class EffectBase;

// The editor's parameter seam over an effect: a value the user chooses goes
// through setParameterAutomated (or setParameter when it is not to be
// recorded), names are the effect's own. The editor sends no gestures.
class EffectParameters final : public ParameterHost {
public:
    explicit EffectParameters(EffectBase& owner) : effect_(owner) {}
    float parameterValue(int32_t index) override;
    void setParameterFromUi(int32_t index, float value, bool record) override;
    std::string parameterName(int32_t index) override;

private:
    EffectBase& effect_;
};

class EffectBase {
public:
    EffectBase(vst2::HostCallback host, int32_t programs, int32_t params);
    // Deletes the editor. Subclasses delete what they own before this runs.
    virtual ~EffectBase();
    EffectBase(const EffectBase&) = delete;
    EffectBase& operator=(const EffectBase&) = delete;

    // ---- Core group: the operations the dispatcher and the record's
    // callbacks forward to.
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

    // ---- Everything after the core group.
    //
    // Setup and record flags; parameter thread, usually from a constructor.
    virtual void setUniqueID(int32_t id) { effect.uniqueID = id; }
    virtual void setNumInputs(int32_t inputs) { effect.numInputs = inputs; }
    virtual void setNumOutputs(int32_t outputs) { effect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state) { setFlag(vst2::effFlagsCanReplacing, state); }
    virtual void canDoubleReplacing(bool state) { setFlag(vst2::effFlagsCanDoubleReplacing, state); }
    virtual void programsAreChunks(bool state) { setFlag(vst2::effFlagsProgramChunks, state); }
    virtual void setInitialDelay(int32_t delay) { effect.initialDelay = delay; }

    // Inquiries; any thread.
    virtual EditorBase* getEditor() { return editor.get(); }
    virtual vst2::AEffect* getAeffect() { return &effect; }
    virtual float getSampleRate() { return sampleRate; }
    virtual int32_t getBlockSize() { return blockSize; }

    // Host wrappers (any thread the host allows for the opcode). Without a
    // stored host callback none of them sends anything; each answers its
    // fallback instead.
    virtual int32_t getMasterVersion();    // 1 when the host answers 0
    virtual int32_t getCurrentUniqueId();  // audioMasterCurrentId
    virtual int32_t masterIdle();          // audioMasterIdle

    // Numbers as display texts of at most maxLen characters (TextFormat.h).
    virtual void dbToText(float amplitude, char* text, int32_t maxLen);
    virtual void hzToText(float samples, char* text, int32_t maxLen);  // sample rate / samples
    virtual void msToText(float samples, char* text, int32_t maxLen);  // samples in milliseconds
    virtual void floatToText(float value, char* text, int32_t maxLen);
    virtual void intToText(int32_t value, char* text, int32_t maxLen);

    // Audio thread: the legacy accumulating callback adds nothing.
    virtual void process(float** /*inputs*/, float** /*outputs*/, int32_t /*sampleFrames*/) {}
    virtual float getVu() { return 0.0f; }
    virtual void hasVu(bool state) { setFlag(vst2::effFlagsHasVu, state); }
    virtual void hasClip(bool state) { setFlag(vst2::effFlagsHasClip, state); }
    virtual void canMono(bool state) { setFlag(vst2::effFlagsCanMono, state); }
    virtual void setRealtimeQualities(int32_t qualities) { effect.realQualities = qualities; }
    virtual void setOfflineQualities(int32_t qualities) { effect.offQualities = qualities; }
    virtual bool isInputConnected(int32_t input);    // audioMasterPinConnected, true without a host
    virtual bool isOutputConnected(int32_t output);  // audioMasterPinConnected, true without a host

    // Parameter thread: operations behind effCanBeAutomated (26),
    // effString2Parameter (27), effGetParameterProperties (56); begin/end of a
    // user's edit for the host (43, 44); program and bank loading (29, 67,
    // 68, 75, 76).
    virtual bool canParameterBeAutomated(int32_t /*index*/) { return true; }
    virtual bool string2parameter(int32_t /*index*/, char* /*text*/) { return false; }
    virtual bool getParameterProperties(int32_t /*index*/, vst2::VstParameterProperties* /*properties*/) {
        return false;
    }
    virtual bool beginEdit(int32_t index);  // audioMasterBeginEdit
    virtual bool endEdit(int32_t index);    // audioMasterEndEdit
    virtual bool getProgramNameIndexed(int32_t /*category*/, int32_t /*index*/, char* /*text*/) { return false; }
    virtual bool beginSetProgram() { return false; }
    virtual bool endSetProgram() { return false; }
    virtual int32_t beginLoadBank(vst2::VstPatchChunkInfo* /*info*/) { return 0; }
    virtual int32_t beginLoadProgram(vst2::VstPatchChunkInfo* /*info*/) { return 0; }

    virtual bool ioChanged();            // audioMasterIOChanged
    virtual double updateSampleRate();   // audioMasterGetSampleRate; adopts positive answers
    virtual int32_t updateBlockSize();   // audioMasterGetBlockSize; adopts positive answers
    virtual int32_t getInputLatency();   // audioMasterGetInputLatency
    virtual int32_t getOutputLatency();  // audioMasterGetOutputLatency

    // Operations behind effGetInputProperties (33), effGetOutputProperties
    // (34), effSetSpeakerArrangement (42), effGetSpeakerArrangement (69),
    // effSetBypass (44), effSetPanLaw (74), effSetProcessPrecision (77) and
    // the MIDI channel counts (78, 79).
    virtual bool getInputProperties(int32_t /*index*/, vst2::VstPinProperties* /*properties*/) { return false; }
    virtual bool getOutputProperties(int32_t /*index*/, vst2::VstPinProperties* /*properties*/) { return false; }
    virtual bool setSpeakerArrangement(vst2::VstSpeakerArrangement* /*input*/,
                                       vst2::VstSpeakerArrangement* /*output*/) {
        return false;
    }
    // Stores null through each non-null address.
    virtual bool getSpeakerArrangement(vst2::VstSpeakerArrangement** input, vst2::VstSpeakerArrangement** output);
    virtual bool setBypass(bool /*state*/) { return false; }
    virtual bool setPanLaw(int32_t /*type*/, float /*value*/) { return false; }
    virtual bool setProcessPrecision(int32_t /*precision*/) { return false; }
    virtual int32_t getNumMidiInputChannels() { return 0; }
    virtual int32_t getNumMidiOutputChannels() { return 0; }

    virtual vst2::VstTimeInfo* getTimeInfo(int32_t filter);  // audioMasterGetTime
    virtual int32_t getCurrentProcessLevel();                // audioMasterGetCurrentProcessLevel
    virtual int32_t getAutomationState();                    // audioMasterGetAutomationState

    // Audio thread: effProcessEvents (25); unsupported here, 0.
    virtual int32_t processEvents(vst2::VstEvents* /*events*/) { return 0; }
    virtual int32_t startProcess() { return 0; }
    virtual int32_t stopProcess() { return 0; }
    virtual bool processVariableIo(vst2::VstVariableIo* /*io*/) { return false; }
    virtual intptr_t setTotalSampleToProcess(intptr_t value) { return value; }

    virtual bool getHostVendorString(char* text);   // audioMasterGetVendorString
    virtual bool getHostProductString(char* text);  // audioMasterGetProductString
    virtual int32_t getHostVendorVersion();         // audioMasterGetVendorVersion
    virtual intptr_t hostVendorSpecific(int32_t index, intptr_t value, void* ptr, float opt);
    virtual int32_t canHostDo(char* text);  // audioMasterCanDo: 1 or 0
    virtual int32_t getHostLanguage();      // audioMasterGetLanguage

    virtual void isSynth(bool state) { setFlag(vst2::effFlagsIsSynth, state); }
    virtual void noTail(bool state) { setFlag(vst2::effFlagsNoSoundInStop, state); }
    virtual intptr_t getTailSize() { return 0; }
    virtual void* getDirectory();  // audioMasterGetDirectory

    // Identity (effGetEffectName 45 .. effGetPlugCategory 35). The base
    // writes no names and claims no capability; the instrument answers its own.
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    virtual intptr_t vendorSpecific(int32_t /*index*/, intptr_t /*value*/, void* /*ptr*/, float /*opt*/) { return 0; }
    virtual int32_t canDo(const char* /*text*/) { return -1; }
    virtual int32_t getVstVersion() { return 2400; }
    virtual int32_t getPlugCategory();  // synth when effFlagsIsSynth is set, else unknown

    // MIDI programs (effGetMidiProgramName 62 .. effGetMidiKeyName 66).
    virtual int32_t getMidiProgramName(int32_t /*channel*/, vst2::MidiProgramName* /*name*/) { return 0; }
    virtual int32_t getCurrentMidiProgram(int32_t /*channel*/, vst2::MidiProgramName* /*current*/) { return -1; }
    virtual int32_t getMidiProgramCategory(int32_t /*channel*/, vst2::MidiProgramCategory* /*category*/) { return 0; }
    virtual bool hasMidiProgramsChanged(int32_t /*channel*/) { return false; }
    virtual bool getMidiKeyName(int32_t /*channel*/, vst2::MidiKeyName* /*keyName*/) { return false; }

    virtual bool updateDisplay();                                 // audioMasterUpdateDisplay
    virtual bool sizeWindow(int32_t width, int32_t height);       // audioMasterSizeWindow
    virtual bool openFileSelector(vst2::VstFileSelect* select);   // sent only for non-null
    virtual bool closeFileSelector(vst2::VstFileSelect* select);  // sent only for non-null
    virtual int32_t getNextShellPlugin(char* /*name*/) { return 0; }

    // Speaker arrangements (SpeakerArrangement.h); parameter thread.
    virtual bool allocateArrangement(vst2::VstSpeakerArrangement** where, int32_t channels);
    virtual bool deallocateArrangement(vst2::VstSpeakerArrangement** where);
    virtual bool copySpeaker(vst2::VstSpeakerProperties* to, const vst2::VstSpeakerProperties* from);
    virtual bool matchArrangement(vst2::VstSpeakerArrangement** to, const vst2::VstSpeakerArrangement* from);

    // Offline processing: host wrappers, then the operations behind
    // effOfflineNotify (38), effOfflinePrepare (39), effOfflineRun (40).
    virtual bool offlineRead(vst2::VstOfflineTask* task, int32_t option, bool readSource);
    virtual bool offlineWrite(vst2::VstOfflineTask* task, int32_t option);
    virtual bool offlineStart(vst2::VstAudioFile* files, int32_t numAudioFiles, int32_t numNewAudioFiles);
    virtual bool offlineGetCurrentPass();
    virtual bool offlineGetCurrentMetaPass();
    virtual bool offlineNotify(vst2::VstAudioFile* /*files*/, int32_t /*numAudioFiles*/, bool /*start*/) {
        return false;
    }
    virtual bool offlinePrepare(vst2::VstOfflineTask* /*tasks*/, int32_t /*count*/) { return false; }
    virtual bool offlineRun(vst2::VstOfflineTask* /*tasks*/, int32_t /*count*/) { return false; }
    virtual int32_t getNumOfflinePasses() { return 0; }
    virtual int32_t getNumOfflineMetaPasses() { return 0; }

    // audioMasterWantMidi; resume sends it with 1.
    virtual intptr_t wantEvents(intptr_t filter = 1);
    virtual intptr_t tempoAt(intptr_t samplePosition);  // audioMasterTempoAt
    virtual int32_t getNumAutomatableParameters();      // audioMasterGetNumAutomatableParameters
    virtual int32_t getParameterQuantization();         // audioMasterGetParameterQuantization
    // Older operations no host reaches through the dispatcher.
    virtual int32_t getNumCategories() { return 1; }
    virtual bool copyProgram(int32_t /*destination*/) { return false; }
    virtual bool needIdle();                                // audioMasterNeedIdle
    virtual vst2::AEffect* getPreviousPlug(int32_t input);  // audioMasterGetPreviousPlug; pin not sent
    virtual vst2::AEffect* getNextPlug(int32_t output);     // audioMasterGetNextPlug; pin not sent
    virtual void inputConnected(int32_t /*index*/, bool /*state*/) {}
    virtual void outputConnected(int32_t /*index*/, bool /*state*/) {}
    virtual int32_t willProcessReplacing();  // audioMasterWillReplaceOrAccumulate
    virtual void setExtIsAsync(bool state) { setFlag(vst2::effFlagsExtIsAsync, state); }
    virtual void setExtHasBuffer(bool state) { setFlag(vst2::effFlagsExtHasBuffer, state); }
    virtual int32_t reportCurrentPosition() { return 0; }
    virtual float* reportDestinationBuffer() { return nullptr; }
    virtual intptr_t setOutputSampleRate(float rate);                    // audioMasterSetOutputSampleRate
    virtual vst2::VstSpeakerArrangement* getInputSpeakerArrangement();   // audioMasterGetInputSpeakerArrangement
    virtual vst2::VstSpeakerArrangement* getOutputSpeakerArrangement();  // audioMasterGetOutputSpeakerArrangement
    virtual void* openWindow(vst2::VstWindow* window);                   // audioMasterOpenWindow
    virtual bool closeWindow(vst2::VstWindow* window);                   // audioMasterCloseWindow
    virtual void setBlockSizeAndSampleRate(int32_t size, float rate) {
        blockSize = size;
        sampleRate = rate;
    }
    virtual bool getErrorText(char* /*text*/) { return false; }
    virtual void* getIcon() { return nullptr; }
    virtual bool setViewPosition(int32_t /*x*/, int32_t /*y*/) { return false; }
    virtual int32_t effectIdle() { return 0; }
    virtual bool keysRequired() { return false; }
    virtual bool getChunkFile(void* nativePath);  // sent only for non-null

protected:
    void setFlag(int32_t flag, bool state) {
        if (state)
            effect.flags |= flag;
        else
            effect.flags &= ~flag;
    }

    vst2::HostCallback audioMaster;            // never changed
    std::unique_ptr<EditorBase> editor;
    EffectParameters editorParameters{*this};  // what the editor reads and sets through
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int32_t numPrograms;
    int32_t numParams;
    int32_t curProgram = 0;
    vst2::AEffect effect;

private:
    bool editorRectangle(vst2::ERect** out);
    vst2::ERect editorRect_{};  // effEditGetRect's answer, stable while the effect lives
    // One call to the host with this effect's record, or the fallback when
    // no host callback is stored.
    intptr_t sendToHost(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt, intptr_t fallback);
    intptr_t dispatchCore(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    intptr_t dispatchExtended(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
};

// The object behind a record the host hands back, or null for a record that
// is not ours.
EffectBase* effectFromRecord(vst2::AEffect* record);

}  // namespace veltrosa::vst2edge
