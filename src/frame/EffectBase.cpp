#include "frame/EffectBase.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "editor/EditorBase.h"
#include "frame/Text.h"

namespace veltrosa {

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

// The modifier of a key event arrives as a float; anything a host may send
// (NaN, huge values) must convert without undefined behaviour.
unsigned char lowByteOfTruncated(float value) {
    if (!std::isfinite(value) || std::fabs(value) >= 2147483648.0f)
        return 0;
    return static_cast<unsigned char>(static_cast<int32_t>(value) & 0xFF);
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
    delete editor;
    // A host that keeps the address of a deleted record must not find a live
    // object behind it.
    effect.magic = 0;
    effect.object = nullptr;
}

void EffectBase::resume() {
    if (effect.flags & vst2::effFlagsIsSynth || canDo("receiveVstMidiEvent") == 1)
        wantEvents(1);
}

void EffectBase::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    if (audioMaster != nullptr)
        audioMaster(&effect, vst2::audioMasterAutomate, index, 0, nullptr, value);
}

void EffectBase::getProgramName(char* name) { copyText(name, "", 24); }
void EffectBase::getParameterLabel(int32_t, char* label) { copyText(label, "", 8); }
void EffectBase::getParameterDisplay(int32_t, char* text) { copyText(text, "", 8); }
void EffectBase::getParameterName(int32_t, char* text) { copyText(text, "", 8); }

int32_t EffectBase::getMasterVersion() {
    if (audioMaster == nullptr)
        return 1;
    const intptr_t answer = audioMaster(&effect, vst2::audioMasterVersion, 0, 0, nullptr, 0.0f);
    return answer == 0 ? 1 : static_cast<int32_t>(answer);
}

bool EffectBase::getSpeakerArrangement(vst2::VstSpeakerArrangement** input, vst2::VstSpeakerArrangement** output) {
    if (input != nullptr)
        *input = nullptr;
    if (output != nullptr)
        *output = nullptr;
    return false;
}

int32_t EffectBase::getPlugCategory() {
    return (effect.flags & vst2::effFlagsIsSynth) ? vst2::kPlugCategSynth : vst2::kPlugCategUnknown;
}

intptr_t EffectBase::wantEvents(intptr_t filter) {
    if (audioMaster == nullptr)
        return 0;
    return audioMaster(&effect, vst2::audioMasterWantMidi, 0, filter, nullptr, 0.0f);
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
        return editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
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
    case effGetProgramNameIndexed:
        return ptr != nullptr && getProgramNameIndexed(static_cast<int32_t>(value), index, static_cast<char*>(ptr))
                   ? 1
                   : 0;
    case effGetPlugCategory:
        return getPlugCategory();
    case effGetEffectName:
        return ptr != nullptr && getEffectName(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorString:
        return ptr != nullptr && getVendorString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetProductString:
        return ptr != nullptr && getProductString(static_cast<char*>(ptr)) ? 1 : 0;
    case effGetVendorVersion:
        return getVendorVersion();
    case effCanDo:
        return ptr != nullptr ? canDo(static_cast<const char*>(ptr)) : 0;
    case effGetVstVersion:
        return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp:
        if (editor != nullptr) {
            VstKeyCode key{index, static_cast<unsigned char>(value & 0xFF), lowByteOfTruncated(opt)};
            if (opcode == effEditKeyDown)
                editor->keyDown(key);
            else
                editor->keyUp(key);
        }
        return 0;
    case effSetEditKnobMode:
        if (editor != nullptr)
            editor->setKnobMode(static_cast<int32_t>(value));
        return 0;
    case effGetCurrentMidiProgram:
        return getCurrentMidiProgram(index, ptr);
    case effGetSpeakerArrangement:
        getSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement**>(value),
                              static_cast<VstSpeakerArrangement**>(ptr));
        return 0;
    case effSetTotalSampleToProcess:
        return setTotalSampleToProcess(value);
    default:
        return 0;
    }
}

}  // namespace veltrosa
