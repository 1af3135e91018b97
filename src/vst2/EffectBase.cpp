#include "vst2/EffectBase.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "editor/EditorBase.h"
#include "vst2/SpeakerArrangement.h"
#include "vst2/Text.h"
#include "vst2/TextFormat.h"

namespace veltrosa::vst2edge {

namespace {

constexpr int32_t kDefaultUniqueId = vst2::fourCC('N', 'o', 'E', 'f');
constexpr intptr_t kIdentify = vst2::fourCC('N', 'v', 'E', 'f');

// The record callbacks: recover the object, check what the host passed, and
// keep every exception on this side of the boundary.

intptr_t VSTCALL dispatchCallback(vst2::AEffect* record, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                  float opt) {
    EffectBase* self = effectFromRecord(record);
    if (self == nullptr)
        return 0;
    try {
        if (opcode == vst2::effClose) {
            self->dispatcher(opcode, index, value, ptr, opt);
            delete self;
            return 1;
        }
        return self->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

void VSTCALL processCallback(vst2::AEffect* record, float** inputs, float** outputs, int32_t frames) {
    if (EffectBase* self = effectFromRecord(record)) {
        try {
            self->process(inputs, outputs, frames);
        } catch (...) {
        }
    }
}

void VSTCALL processReplacingCallback(vst2::AEffect* record, float** inputs, float** outputs, int32_t frames) {
    if (EffectBase* self = effectFromRecord(record)) {
        try {
            self->processReplacing(inputs, outputs, frames);
        } catch (...) {
        }
    }
}

void VSTCALL processDoubleCallback(vst2::AEffect* record, double** inputs, double** outputs, int32_t frames) {
    if (EffectBase* self = effectFromRecord(record)) {
        try {
            self->processDoubleReplacing(inputs, outputs, frames);
        } catch (...) {
        }
    }
}

void VSTCALL setParameterCallback(vst2::AEffect* record, int32_t index, float value) {
    if (EffectBase* self = effectFromRecord(record)) {
        try {
            self->setParameter(index, value);
        } catch (...) {
        }
    }
}

float VSTCALL getParameterCallback(vst2::AEffect* record, int32_t index) {
    if (EffectBase* self = effectFromRecord(record)) {
        try {
            return self->getParameter(index);
        } catch (...) {
        }
    }
    return 0.0f;
}

}  // namespace

EffectBase* effectFromRecord(vst2::AEffect* record) {
    if (record == nullptr || record->magic != vst2::kEffectMagic)
        return nullptr;
    return static_cast<EffectBase*>(record->object);
}

EffectBase::EffectBase(vst2::HostCallback host, int32_t programs, int32_t params)
    : audioMaster(host), numPrograms(programs), numParams(params) {
    std::memset(&effect, 0, sizeof effect);
    effect.magic = vst2::kEffectMagic;
    effect.dispatcher = dispatchCallback;
    effect.process = processCallback;
    effect.setParameter = setParameterCallback;
    effect.getParameter = getParameterCallback;
    effect.numPrograms = programs;
    effect.numParams = params;
    effect.numInputs = 1;
    effect.numOutputs = 2;
    effect.flags |= vst2::effFlagsCanReplacing;
    effect.ioRatio = 1.0f;
    effect.object = this;
    effect.uniqueID = kDefaultUniqueId;
    effect.version = 1;
    effect.processReplacing = processReplacingCallback;
    effect.processDoubleReplacing = processDoubleCallback;
}

EffectBase::~EffectBase() {
    editor.reset();
    // A host that keeps the address of a deleted record must not find a live
    // object behind it.
    effect.magic = 0;
    effect.object = nullptr;
}

void EffectBase::resume() {
    if (effect.flags & vst2::effFlagsIsSynth || canDo("receiveVstMidiEvent") == 1)
        wantEvents(1);
}

float EffectParameters::parameterValue(int32_t index) { return effect_.getParameter(index); }

void EffectParameters::setParameterFromUi(int32_t index, float value, bool record) {
    if (record)
        effect_.setParameterAutomated(index, value);
    else
        effect_.setParameter(index, value);
}

std::string EffectParameters::parameterName(int32_t index) {
    char name[65] = {};
    effect_.getParameterName(index, name);
    name[64] = '\0';
    return name;
}

// The toolkit's client rectangle as the record's (top, left, bottom, right).
bool EffectBase::editorRectangle(vst2::ERect** out) {
    Rect rect;
    if (!editor->getRect(rect)) {
        *out = nullptr;
        return false;
    }
    editorRect_ = {static_cast<int16_t>(rect.top), static_cast<int16_t>(rect.left), static_cast<int16_t>(rect.bottom),
                  static_cast<int16_t>(rect.right)};
    *out = &editorRect_;
    return true;
}

void EffectBase::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    sendToHost(vst2::audioMasterAutomate, index, 0, nullptr, value, 0);
}

void EffectBase::getProgramName(char* name) { copyText(name, "", 24); }
void EffectBase::getParameterLabel(int32_t, char* label) { copyText(label, "", 8); }
void EffectBase::getParameterDisplay(int32_t, char* text) { copyText(text, "", 8); }
void EffectBase::getParameterName(int32_t, char* text) { copyText(text, "", 8); }

intptr_t EffectBase::sendToHost(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt,
                                intptr_t fallback) {
    if (audioMaster == nullptr)
        return fallback;
    return audioMaster(&effect, opcode, index, value, ptr, opt);
}

int32_t EffectBase::getMasterVersion() {
    const intptr_t answer = sendToHost(vst2::audioMasterVersion, 0, 0, nullptr, 0.0f, 1);
    return answer == 0 ? 1 : static_cast<int32_t>(answer);
}

int32_t EffectBase::getCurrentUniqueId() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterCurrentId, 0, 0, nullptr, 0.0f, 0));
}

int32_t EffectBase::masterIdle() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterIdle, 0, 0, nullptr, 0.0f, 0));
}

void EffectBase::dbToText(float amplitude, char* text, int32_t maxLen) { formatDecibels(amplitude, text, maxLen); }

void EffectBase::hzToText(float samples, char* text, int32_t maxLen) {
    formatFloat(samples == 0.0f ? 0.0f : sampleRate / samples, text, maxLen);
}

void EffectBase::msToText(float samples, char* text, int32_t maxLen) {
    // A rate of 0 gives an infinite quotient and so "Huge!"; so does a
    // quotient beyond the float range, whose plain conversion is undefined.
    const double milliseconds = static_cast<double>(samples) * 1000.0 / static_cast<double>(sampleRate);
    const bool fits = !(std::fabs(milliseconds) > static_cast<double>(std::numeric_limits<float>::max()));
    formatFloat(fits ? static_cast<float>(milliseconds) : std::numeric_limits<float>::infinity(), text, maxLen);
}

void EffectBase::floatToText(float value, char* text, int32_t maxLen) { formatFloat(value, text, maxLen); }

void EffectBase::intToText(int32_t value, char* text, int32_t maxLen) { formatInt(value, text, maxLen); }

// The host answers 0 for a connected pin.
bool EffectBase::isInputConnected(int32_t input) {
    return sendToHost(vst2::audioMasterPinConnected, input, 0, nullptr, 0.0f, 0) == 0;
}

bool EffectBase::isOutputConnected(int32_t output) {
    return sendToHost(vst2::audioMasterPinConnected, output, 1, nullptr, 0.0f, 0) == 0;
}

bool EffectBase::beginEdit(int32_t index) {
    return sendToHost(vst2::audioMasterBeginEdit, index, 0, nullptr, 0.0f, 0) != 0;
}

bool EffectBase::endEdit(int32_t index) {
    return sendToHost(vst2::audioMasterEndEdit, index, 0, nullptr, 0.0f, 0) != 0;
}

bool EffectBase::ioChanged() { return sendToHost(vst2::audioMasterIOChanged, 0, 0, nullptr, 0.0f, 0) != 0; }

double EffectBase::updateSampleRate() {
    const intptr_t answer = sendToHost(vst2::audioMasterGetSampleRate, 0, 0, nullptr, 0.0f, 0);
    if (answer > 0)
        sampleRate = static_cast<float>(answer);
    return static_cast<double>(sampleRate);
}

int32_t EffectBase::updateBlockSize() {
    const intptr_t answer = sendToHost(vst2::audioMasterGetBlockSize, 0, 0, nullptr, 0.0f, 0);
    // A 64-bit answer beyond the field's range is no block size either.
    if (answer > 0 && answer <= INT32_MAX)
        blockSize = static_cast<int32_t>(answer);
    return blockSize;
}

int32_t EffectBase::getInputLatency() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterGetInputLatency, 0, 0, nullptr, 0.0f, 0));
}

int32_t EffectBase::getOutputLatency() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterGetOutputLatency, 0, 0, nullptr, 0.0f, 0));
}

bool EffectBase::getSpeakerArrangement(vst2::VstSpeakerArrangement** input, vst2::VstSpeakerArrangement** output) {
    if (input != nullptr)
        *input = nullptr;
    if (output != nullptr)
        *output = nullptr;
    return false;
}

vst2::VstTimeInfo* EffectBase::getTimeInfo(int32_t filter) {
    return reinterpret_cast<vst2::VstTimeInfo*>(sendToHost(vst2::audioMasterGetTime, 0, filter, nullptr, 0.0f, 0));
}

int32_t EffectBase::getCurrentProcessLevel() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f, 0));
}

int32_t EffectBase::getAutomationState() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterGetAutomationState, 0, 0, nullptr, 0.0f, 0));
}

bool EffectBase::getHostVendorString(char* text) {
    return sendToHost(vst2::audioMasterGetVendorString, 0, 0, text, 0.0f, 0) != 0;
}

bool EffectBase::getHostProductString(char* text) {
    return sendToHost(vst2::audioMasterGetProductString, 0, 0, text, 0.0f, 0) != 0;
}

int32_t EffectBase::getHostVendorVersion() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterGetVendorVersion, 0, 0, nullptr, 0.0f, 0));
}

intptr_t EffectBase::hostVendorSpecific(int32_t index, intptr_t value, void* ptr, float opt) {
    return sendToHost(vst2::audioMasterVendorSpecific, index, value, ptr, opt, 0);
}

int32_t EffectBase::canHostDo(char* text) {
    return sendToHost(vst2::audioMasterCanDo, 0, 0, text, 0.0f, 0) != 0 ? 1 : 0;
}

int32_t EffectBase::getHostLanguage() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterGetLanguage, 0, 0, nullptr, 0.0f, 0));
}

void* EffectBase::getDirectory() {
    return reinterpret_cast<void*>(sendToHost(vst2::audioMasterGetDirectory, 0, 0, nullptr, 0.0f, 0));
}

int32_t EffectBase::getPlugCategory() {
    return (effect.flags & vst2::effFlagsIsSynth) ? vst2::kPlugCategSynth : vst2::kPlugCategUnknown;
}

bool EffectBase::updateDisplay() { return sendToHost(vst2::audioMasterUpdateDisplay, 0, 0, nullptr, 0.0f, 0) != 0; }

bool EffectBase::sizeWindow(int32_t width, int32_t height) {
    return sendToHost(vst2::audioMasterSizeWindow, width, height, nullptr, 0.0f, 0) != 0;
}

bool EffectBase::openFileSelector(vst2::VstFileSelect* select) {
    return select != nullptr && sendToHost(vst2::audioMasterOpenFileSelector, 0, 0, select, 0.0f, 0) != 0;
}

bool EffectBase::closeFileSelector(vst2::VstFileSelect* select) {
    return select != nullptr && sendToHost(vst2::audioMasterCloseFileSelector, 0, 0, select, 0.0f, 0) != 0;
}

bool EffectBase::allocateArrangement(vst2::VstSpeakerArrangement** where, int32_t channels) {
    return speakers::allocate(where, channels);
}

bool EffectBase::deallocateArrangement(vst2::VstSpeakerArrangement** where) { return speakers::release(where); }

bool EffectBase::copySpeaker(vst2::VstSpeakerProperties* to, const vst2::VstSpeakerProperties* from) {
    return speakers::copySpeaker(to, from);
}

bool EffectBase::matchArrangement(vst2::VstSpeakerArrangement** to, const vst2::VstSpeakerArrangement* from) {
    return speakers::match(to, from);
}

bool EffectBase::offlineRead(vst2::VstOfflineTask* task, int32_t option, bool readSource) {
    return sendToHost(vst2::audioMasterOfflineRead, readSource ? 1 : 0, option, task, 0.0f, 0) != 0;
}

bool EffectBase::offlineWrite(vst2::VstOfflineTask* task, int32_t option) {
    return sendToHost(vst2::audioMasterOfflineWrite, 0, option, task, 0.0f, 0) != 0;
}

bool EffectBase::offlineStart(vst2::VstAudioFile* files, int32_t numAudioFiles, int32_t numNewAudioFiles) {
    return sendToHost(vst2::audioMasterOfflineStart, numNewAudioFiles, numAudioFiles, files, 0.0f, 0) != 0;
}

bool EffectBase::offlineGetCurrentPass() {
    return sendToHost(vst2::audioMasterOfflineGetCurrentPass, 0, 0, nullptr, 0.0f, 0) != 0;
}

bool EffectBase::offlineGetCurrentMetaPass() {
    return sendToHost(vst2::audioMasterOfflineGetCurrentMetaPass, 0, 0, nullptr, 0.0f, 0) != 0;
}

intptr_t EffectBase::wantEvents(intptr_t filter) {
    return sendToHost(vst2::audioMasterWantMidi, 0, filter, nullptr, 0.0f, 0);
}

intptr_t EffectBase::tempoAt(intptr_t samplePosition) {
    return sendToHost(vst2::audioMasterTempoAt, 0, samplePosition, nullptr, 0.0f, 0);
}

int32_t EffectBase::getNumAutomatableParameters() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterGetNumAutomatableParameters, 0, 0, nullptr, 0.0f, 0));
}

int32_t EffectBase::getParameterQuantization() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterGetParameterQuantization, 0, 0, nullptr, 0.0f, 0));
}

bool EffectBase::needIdle() { return sendToHost(vst2::audioMasterNeedIdle, 0, 0, nullptr, 0.0f, 0) != 0; }

vst2::AEffect* EffectBase::getPreviousPlug(int32_t) {
    return reinterpret_cast<vst2::AEffect*>(sendToHost(vst2::audioMasterGetPreviousPlug, 0, 0, nullptr, 0.0f, 0));
}

vst2::AEffect* EffectBase::getNextPlug(int32_t) {
    return reinterpret_cast<vst2::AEffect*>(sendToHost(vst2::audioMasterGetNextPlug, 0, 0, nullptr, 0.0f, 0));
}

int32_t EffectBase::willProcessReplacing() {
    return static_cast<int32_t>(sendToHost(vst2::audioMasterWillReplaceOrAccumulate, 0, 0, nullptr, 0.0f, 0));
}

intptr_t EffectBase::setOutputSampleRate(float rate) {
    return sendToHost(vst2::audioMasterSetOutputSampleRate, 0, 0, nullptr, rate, 0);
}

vst2::VstSpeakerArrangement* EffectBase::getInputSpeakerArrangement() {
    return reinterpret_cast<vst2::VstSpeakerArrangement*>(
        sendToHost(vst2::audioMasterGetInputSpeakerArrangement, 0, 0, nullptr, 0.0f, 0));
}

vst2::VstSpeakerArrangement* EffectBase::getOutputSpeakerArrangement() {
    return reinterpret_cast<vst2::VstSpeakerArrangement*>(
        sendToHost(vst2::audioMasterGetOutputSpeakerArrangement, 0, 0, nullptr, 0.0f, 0));
}

void* EffectBase::openWindow(vst2::VstWindow* window) {
    return reinterpret_cast<void*>(sendToHost(vst2::audioMasterOpenWindow, 0, 0, window, 0.0f, 0));
}

bool EffectBase::closeWindow(vst2::VstWindow* window) {
    return sendToHost(vst2::audioMasterCloseWindow, 0, 0, window, 0.0f, 0) != 0;
}

bool EffectBase::getChunkFile(void* nativePath) {
    return nativePath != nullptr && sendToHost(vst2::audioMasterGetChunkFile, 0, 0, nativePath, 0.0f, 0) != 0;
}

intptr_t EffectBase::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (opcode >= vst2::effProcessEvents && opcode <= vst2::effGetNumMidiOutputChannels)
        return dispatchExtended(opcode, index, value, ptr, opt);
    return dispatchCore(opcode, index, value, ptr, opt);
}

intptr_t EffectBase::dispatchCore(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    using namespace vst2;
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        if (value < numPrograms)
            setProgram(static_cast<int32_t>(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        if (ptr != nullptr)
            setProgramName(static_cast<const char*>(ptr));
        return 0;
    case effGetProgramName:
        if (ptr != nullptr)
            getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
        if (ptr != nullptr)
            getParameterLabel(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamDisplay:
        if (ptr != nullptr)
            getParameterDisplay(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamName:
        if (ptr != nullptr)
            getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<int32_t>(value));
        return 0;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case effEditGetRect:
        if (editor == nullptr || ptr == nullptr)
            return 0;
        return editorRectangle(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen:
        return editor != nullptr && editor->open(ptr) ? 1 : 0;
    case effEditClose:
        if (editor != nullptr)
            editor->close();
        return 0;
    case effEditIdle:
        if (editor != nullptr)
            editor->idle();
        return 0;
    case effIdentify:
        return kIdentify;
    case effGetChunk:
        if (ptr == nullptr)
            return 0;
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        // A byte count beyond 32 bits must not wrap into one we accept.
        if (ptr == nullptr || value < 0 || value > INT32_MAX)
            return 0;
        return setChunk(ptr, static_cast<int32_t>(value), index != 0);
    default:
        return 0;
    }
}

intptr_t EffectBase::dispatchExtended(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    using namespace vst2;
    switch (opcode) {
    case effProcessEvents:
        return processEvents(static_cast<VstEvents*>(ptr));
    case effCanBeAutomated:
        return canParameterBeAutomated(index) ? 1 : 0;
    case effString2Parameter:
        return ptr != nullptr && string2parameter(index, static_cast<char*>(ptr)) ? 1 : 0;
    case effGetProgramNameIndexed:
        return ptr != nullptr && getProgramNameIndexed(static_cast<int32_t>(value), index, static_cast<char*>(ptr)) ? 1
                                                                                                                    : 0;
    case effGetInputProperties:
        return ptr != nullptr && getInputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetOutputProperties:
        return ptr != nullptr && getOutputProperties(index, static_cast<VstPinProperties*>(ptr)) ? 1 : 0;
    case effGetPlugCategory:
        return getPlugCategory();
    case effOfflineNotify:
        return ptr != nullptr && offlineNotify(static_cast<VstAudioFile*>(ptr), static_cast<int32_t>(value), index != 0)
                   ? 1
                   : 0;
    case effOfflinePrepare:
        return ptr != nullptr && offlinePrepare(static_cast<VstOfflineTask*>(ptr), static_cast<int32_t>(value)) ? 1 : 0;
    case effOfflineRun:
        return ptr != nullptr && offlineRun(static_cast<VstOfflineTask*>(ptr), static_cast<int32_t>(value)) ? 1 : 0;
    case effProcessVarIo:
        return ptr != nullptr && processVariableIo(static_cast<VstVariableIo*>(ptr)) ? 1 : 0;
    case effSetSpeakerArrangement:
        // Either arrangement may be absent; the operation checks.
        return setSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement*>(value),
                                     static_cast<VstSpeakerArrangement*>(ptr))
                   ? 1
                   : 0;
    case effSetBypass:
        return setBypass(value != 0) ? 1 : 0;
    case effGetEffectName:
        return ptr != nullptr && getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorString:
        return ptr != nullptr && getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetProductString:
        return ptr != nullptr && getProductString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorVersion:
        return getVendorVersion();
    case effVendorSpecific:
        // Arguments are the vendor's own; they pass through unread.
        return vendorSpecific(index, value, ptr, opt);
    case effCanDo:
        return ptr != nullptr ? canDo(static_cast<const char*>(ptr)) : 0;
    case effGetTailSize:
        return getTailSize();
    case effGetParameterProperties:
        return ptr != nullptr && getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)) ? 1 : 0;
    case effGetVstVersion:
        return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp:
    case effSetEditKnobMode:
        return 0;  // the editor takes no keys and has no knobs
    case effGetMidiProgramName:
        return ptr != nullptr ? getMidiProgramName(index, static_cast<MidiProgramName*>(ptr)) : 0;
    case effGetCurrentMidiProgram:
        return getCurrentMidiProgram(index, static_cast<MidiProgramName*>(ptr));
    case effGetMidiProgramCategory:
        return ptr != nullptr ? getMidiProgramCategory(index, static_cast<MidiProgramCategory*>(ptr)) : 0;
    case effHasMidiProgramsChanged:
        return hasMidiProgramsChanged(index) ? 1 : 0;
    case effGetMidiKeyName:
        return ptr != nullptr && getMidiKeyName(index, static_cast<MidiKeyName*>(ptr)) ? 1 : 0;
    case effBeginSetProgram:
        return beginSetProgram() ? 1 : 0;
    case effEndSetProgram:
        return endSetProgram() ? 1 : 0;
    case effGetSpeakerArrangement:
        getSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement**>(value),
                              static_cast<VstSpeakerArrangement**>(ptr));
        return 0;
    case effShellGetNextPlugin:
        return ptr != nullptr ? getNextShellPlugin(static_cast<char*>(ptr)) : 0;
    case effStartProcess:
        return startProcess();
    case effStopProcess:
        return stopProcess();
    case effSetTotalSampleToProcess:
        return setTotalSampleToProcess(value);
    case effSetPanLaw:
        return setPanLaw(static_cast<int32_t>(value), opt) ? 1 : 0;
    case effBeginLoadBank:
        return ptr != nullptr ? beginLoadBank(static_cast<VstPatchChunkInfo*>(ptr)) : 0;
    case effBeginLoadProgram:
        return ptr != nullptr ? beginLoadProgram(static_cast<VstPatchChunkInfo*>(ptr)) : 0;
    case effSetProcessPrecision:
        return setProcessPrecision(static_cast<int32_t>(value)) ? 1 : 0;
    case effGetNumMidiInputChannels:
        return getNumMidiInputChannels();
    case effGetNumMidiOutputChannels:
        return getNumMidiOutputChannels();
    default:
        return 0;
    }
}

}  // namespace veltrosa::vst2edge
