#include "clap/Instrument.h"

#include "clap/Factories.h"
#include "clap/Gui.h"
#include "clap/HostExtension.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/Identity.h"
#include "core/ValueText.h"
#include "presets/Bank.h"

namespace veltrosa::clapedge {

namespace {

Instrument* self(const clap::Plugin* plugin) {
    return plugin != nullptr ? static_cast<Instrument*>(plugin->pluginData) : nullptr;
}

void copyName(char* dest, std::size_t capacity, const char* source) {
    std::snprintf(dest, capacity, "%s", source);
}

// ---- the record's entries ----

bool CLAPCALL pluginInit(const clap::Plugin* p) {
    Instrument* i = self(p);
    return i != nullptr && i->init();
}

void CLAPCALL pluginDestroy(const clap::Plugin* p) { delete self(p); }

bool CLAPCALL pluginActivate(const clap::Plugin* p, double rate, uint32_t minFrames, uint32_t maxFrames) {
    Instrument* i = self(p);
    return i != nullptr && i->activate(rate, minFrames, maxFrames);
}

void CLAPCALL pluginDeactivate(const clap::Plugin* p) {
    if (Instrument* i = self(p))
        i->deactivate();
}

bool CLAPCALL pluginStartProcessing(const clap::Plugin* p) {
    Instrument* i = self(p);
    return i != nullptr && i->startProcessing();
}

void CLAPCALL pluginStopProcessing(const clap::Plugin* p) {
    if (Instrument* i = self(p))
        i->stopProcessing();
}

void CLAPCALL pluginReset(const clap::Plugin* p) {
    if (Instrument* i = self(p))
        i->reset();
}

int32_t CLAPCALL pluginProcess(const clap::Plugin* p, const clap::Process* process) {
    Instrument* i = self(p);
    return i != nullptr ? i->process(process) : clap::kProcessError;
}

const void* CLAPCALL pluginExtension(const clap::Plugin* p, const char* id) {
    const Instrument* i = self(p);
    return i != nullptr && id != nullptr ? i->extension(id) : nullptr;
}

void CLAPCALL pluginOnMainThread(const clap::Plugin*) {}

// ---- extensions ----

uint32_t CLAPCALL paramsCount(const clap::Plugin*) { return kNumParams; }

bool CLAPCALL paramsInfo(const clap::Plugin* p, uint32_t index, clap::ParamInfo* info) {
    const Instrument* i = self(p);
    return i != nullptr && i->paramInfo(index, info);
}

bool CLAPCALL paramsValue(const clap::Plugin* p, clap::Id id, double* value) {
    const Instrument* i = self(p);
    return i != nullptr && i->paramValue(id, value);
}

bool CLAPCALL paramsValueToText(const clap::Plugin*, clap::Id id, double value, char* text, uint32_t capacity) {
    return id < static_cast<clap::Id>(kNumParams) && formatValue(static_cast<int32_t>(id), value, text, capacity);
}

bool CLAPCALL paramsTextToValue(const clap::Plugin*, clap::Id id, const char* text, double* value) {
    if (id >= static_cast<clap::Id>(kNumParams) || text == nullptr || value == nullptr)
        return false;
    const auto parsed = parseValue(static_cast<int32_t>(id), text);
    if (parsed)
        *value = *parsed;
    return parsed.has_value();
}

void CLAPCALL paramsFlush(const clap::Plugin* p, const clap::InputEvents* in, const clap::OutputEvents* out) {
    if (Instrument* i = self(p))
        i->flush(in, out);
}

const clap::PluginParams kParamsExtension{paramsCount, paramsInfo, paramsValue, paramsValueToText, paramsTextToValue,
                                          paramsFlush};

bool CLAPCALL stateSave(const clap::Plugin* p, const clap::OutStream* stream) {
    const Instrument* i = self(p);
    return i != nullptr && i->saveState(stream);
}

bool CLAPCALL stateLoad(const clap::Plugin* p, const clap::InStream* stream) {
    Instrument* i = self(p);
    return i != nullptr && i->loadState(stream);
}

const clap::PluginState kStateExtension{stateSave, stateLoad};

uint32_t CLAPCALL audioPortsCount(const clap::Plugin*, bool isInput) { return isInput ? 0 : 1; }

bool CLAPCALL audioPortsGet(const clap::Plugin*, uint32_t index, bool isInput, clap::AudioPortInfo* info) {
    if (isInput || index != 0 || info == nullptr)
        return false;
    *info = {};
    info->id = 0;
    copyName(info->name, sizeof info->name, "Output");
    info->flags = clap::kAudioPortIsMain;
    info->channelCount = 2;
    info->portType = clap::kPortStereo;
    info->inPlacePair = clap::kInvalidId;
    return true;
}

const clap::PluginAudioPorts kAudioPortsExtension{audioPortsCount, audioPortsGet};

uint32_t CLAPCALL notePortsCount(const clap::Plugin*, bool isInput) { return isInput ? 1 : 0; }

bool CLAPCALL notePortsGet(const clap::Plugin*, uint32_t index, bool isInput, clap::NotePortInfo* info) {
    if (!isInput || index != 0 || info == nullptr)
        return false;
    *info = {};
    info->id = 0;
    info->supportedDialects = clap::kDialectClap | clap::kDialectMidi;
    info->preferredDialect = clap::kDialectClap;
    copyName(info->name, sizeof info->name, "Notes");
    return true;
}

const clap::PluginNotePorts kNotePortsExtension{notePortsCount, notePortsGet};

bool CLAPCALL voiceInfoGet(const clap::Plugin*, clap::VoiceInfo* info) {
    if (info == nullptr)
        return false;
    *info = {SynthEngine::kNumVoices, SynthEngine::kNumVoices, 0};
    return true;
}

const clap::PluginVoiceInfo kVoiceInfoExtension{voiceInfoGet};

bool CLAPCALL renderHardRealtime(const clap::Plugin*) { return false; }

bool CLAPCALL renderSet(const clap::Plugin* p, int32_t mode) {
    Instrument* i = self(p);
    if (i == nullptr || (mode != clap::kRenderRealtime && mode != clap::kRenderOffline))
        return false;
    i->setRenderMode(mode);
    return true;
}

const clap::PluginRender kRenderExtension{renderHardRealtime, renderSet};

bool CLAPCALL presetLoad(const clap::Plugin* p, uint32_t kind, const char* location, const char* key) {
    Instrument* i = self(p);
    return i != nullptr && i->loadPreset(kind, location, key);
}

const clap::PluginPresetLoad kPresetLoadExtension{presetLoad};

bool CLAPCALL guiApiSupported(const clap::Plugin*, const char* api, bool floating) {
    return api != nullptr && !floating && std::strcmp(api, Gui::api()) == 0;
}

bool CLAPCALL guiPreferredApi(const clap::Plugin*, const char** api, bool* floating) {
    if (api == nullptr || floating == nullptr)
        return false;
    *api = Gui::api();
    *floating = false;
    return true;
}

bool CLAPCALL guiCreate(const clap::Plugin* p, const char* api, bool floating) {
    Instrument* i = self(p);
    return i != nullptr && i->createGui(api, floating);
}

void CLAPCALL guiDestroy(const clap::Plugin* p) {
    if (Instrument* i = self(p))
        i->destroyGui();
}

Gui* guiOf(const clap::Plugin* p) {
    const Instrument* i = self(p);
    return i != nullptr ? i->gui() : nullptr;
}

bool CLAPCALL guiSetScale(const clap::Plugin* p, double scale) {
    Gui* gui = guiOf(p);
    return gui != nullptr && gui->setScale(scale);
}

bool CLAPCALL guiGetSize(const clap::Plugin* p, uint32_t* width, uint32_t* height) {
    Gui* gui = guiOf(p);
    if (gui == nullptr || width == nullptr || height == nullptr)
        return false;
    gui->size(*width, *height);
    return true;
}

bool CLAPCALL guiCanResize(const clap::Plugin*) { return false; }

bool CLAPCALL guiResizeHints(const clap::Plugin*, clap::GuiResizeHints*) { return false; }

// The size is fixed: every proposal becomes it.
bool CLAPCALL guiAdjustSize(const clap::Plugin* p, uint32_t* width, uint32_t* height) {
    return guiGetSize(p, width, height);
}

bool CLAPCALL guiSetSize(const clap::Plugin* p, uint32_t width, uint32_t height) {
    uint32_t w = 0, h = 0;
    return guiGetSize(p, &w, &h) && w == width && h == height;
}

bool CLAPCALL guiSetParent(const clap::Plugin* p, const clap::Window* window) {
    Gui* gui = guiOf(p);
    try {
        return gui != nullptr && gui->setParent(window);
    } catch (...) {
        return false;
    }
}

bool CLAPCALL guiSetTransient(const clap::Plugin*, const clap::Window*) { return false; }

void CLAPCALL guiSuggestTitle(const clap::Plugin*, const char*) {}

bool CLAPCALL guiShow(const clap::Plugin* p) {
    Gui* gui = guiOf(p);
    return gui != nullptr && gui->show();
}

bool CLAPCALL guiHide(const clap::Plugin* p) {
    Gui* gui = guiOf(p);
    return gui != nullptr && gui->hide();
}

const clap::PluginGui kGuiExtension{guiApiSupported, guiPreferredApi, guiCreate,    guiDestroy,     guiSetScale,
                                    guiGetSize,      guiCanResize,    guiResizeHints, guiAdjustSize, guiSetSize,
                                    guiSetParent,    guiSetTransient, guiSuggestTitle, guiShow,      guiHide};

void CLAPCALL onFd(const clap::Plugin* p, int fd, uint32_t) {
    if (Gui* gui = guiOf(p)) {
        try {
            gui->onFd(fd);
        } catch (...) {
        }
    }
}

const clap::PluginPosixFdSupport kFdExtension{onFd};

void CLAPCALL onTimer(const clap::Plugin* p, clap::Id id) {
    if (Gui* gui = guiOf(p)) {
        try {
            gui->onTimer(id);
        } catch (...) {
        }
    }
}

const clap::PluginTimerSupport kTimerExtension{onTimer};

}  // namespace

Instrument::Instrument(const clap::Host* host) : host_(host) {
    plugin_.desc = descriptor();
    plugin_.pluginData = this;
    plugin_.init = pluginInit;
    plugin_.destroy = pluginDestroy;
    plugin_.activate = pluginActivate;
    plugin_.deactivate = pluginDeactivate;
    plugin_.startProcessing = pluginStartProcessing;
    plugin_.stopProcessing = pluginStopProcessing;
    plugin_.reset = pluginReset;
    plugin_.process = pluginProcess;
    plugin_.getExtension = pluginExtension;
    plugin_.onMainThread = pluginOnMainThread;
}

Instrument::~Instrument() = default;

bool Instrument::init() {
    // The host's extensions may be asked for from init on, not before.
    threadCheck_ = hostExtension<clap::HostThreadCheck>(host_, clap::kExtThreadCheck);
    hostParams_ = hostExtension<clap::HostParams>(host_, clap::kExtParams);
    hostPresetLoad_ = hostExtension<clap::HostPresetLoad>(host_, clap::kExtPresetLoad);
    hostState_ = hostExtension<clap::HostState>(host_, clap::kExtState);
    if (hostPresetLoad_ == nullptr)
        hostPresetLoad_ = hostExtension<clap::HostPresetLoad>(host_, clap::kExtPresetLoadCompat);
    if (threadCheck_ != nullptr && (threadCheck_->isMainThread == nullptr || threadCheck_->isAudioThread == nullptr))
        threadCheck_ = nullptr;
    return shell_.start();
}

bool Instrument::onMainThread() const { return threadCheck_ == nullptr || threadCheck_->isMainThread(host_); }

bool Instrument::onAudioThread() const { return threadCheck_ == nullptr || threadCheck_->isAudioThread(host_); }

bool Instrument::activate(double rate, uint32_t, uint32_t maxFrames) {
    const auto frames = static_cast<int32_t>(std::min<uint32_t>(maxFrames, SynthEngine::kMaxReservedBlock));
    if (!onMainThread() || !shell_.prepare(rate, frames))
        return false;
    shell_.activate();
    tags_ = {};
    return true;
}

void Instrument::deactivate() {
    if (onMainThread())
        shell_.deactivate();
}

bool Instrument::startProcessing() { return shell_.active() && onAudioThread(); }

void Instrument::stopProcessing() {}

void Instrument::reset() {
    if (!onAudioThread() && shell_.active())
        return;
    shell_.engine().silenceAll();
    tags_ = {};
}

const void* Instrument::extension(const char* id) const {
    const auto is = [id](const char* name) { return std::strcmp(id, name) == 0; };
    if (is(clap::kExtParams))
        return &kParamsExtension;
    if (is(clap::kExtState))
        return &kStateExtension;
    if (is(clap::kExtAudioPorts))
        return &kAudioPortsExtension;
    if (is(clap::kExtNotePorts))
        return &kNotePortsExtension;
    if (is(clap::kExtVoiceInfo))
        return &kVoiceInfoExtension;
    if (is(clap::kExtRender))
        return &kRenderExtension;
    if (is(clap::kExtPresetLoad) || is(clap::kExtPresetLoadCompat))
        return &kPresetLoadExtension;
    if (is(clap::kExtGui))
        return &kGuiExtension;
    if (is(clap::kExtPosixFdSupport))
        return &kFdExtension;
    if (is(clap::kExtTimerSupport))
        return &kTimerExtension;
    return nullptr;
}

// ---- parameters ----

bool Instrument::paramInfo(uint32_t index, clap::ParamInfo* info) const {
    if (info == nullptr || index >= static_cast<uint32_t>(kNumParams))
        return false;
    const ParamInfo& p = kParams[index];
    *info = {};
    info->id = index;
    info->flags = isAutomatable(static_cast<int32_t>(index)) ? static_cast<uint32_t>(clap::kParamIsAutomatable) : 0u;
    copyName(info->name, sizeof info->name, p.name);
    copyName(info->module, sizeof info->module, groupOf(p.group).symbol);
    info->minValue = kMinValue;
    info->maxValue = kMaxValue;
    info->defaultValue = static_cast<double>(defaultParam(static_cast<int32_t>(index)));
    return true;
}

bool Instrument::paramValue(clap::Id id, double* value) const {
    if (value == nullptr || id >= static_cast<clap::Id>(kNumParams))
        return false;
    *value = static_cast<double>(shell_.value(static_cast<int32_t>(id)));
    return true;
}

void Instrument::playParamEvents(const clap::InputEvents* in) noexcept {
    if (in == nullptr || in->size == nullptr || in->get == nullptr)
        return;
    const uint32_t count = in->size(in);
    for (uint32_t k = 0; k < count; ++k) {
        const clap::EventHeader* event = in->get(in, k);
        if (event == nullptr || event->spaceId != clap::kCoreEventSpace || event->type != clap::kEventParamValue ||
            event->size < sizeof(clap::EventParamValue))
            continue;
        const auto* change = reinterpret_cast<const clap::EventParamValue*>(event);
        if (change->paramId < static_cast<clap::Id>(kNumParams))
            shell_.setValue(static_cast<int32_t>(change->paramId), change->value);
    }
}

void Instrument::flush(const clap::InputEvents* in, const clap::OutputEvents* out) noexcept {
    // Never called while a block renders, so the voices may follow here.
    playParamEvents(in);
    shell_.followValues();
    sendEditorChanges(out);
}

bool Instrument::createGui(const char* api, bool floating) {
    if (gui_ || floating || api == nullptr || std::strcmp(api, Gui::api()) != 0 || !onMainThread())
        return false;
    try {
        gui_ = std::make_unique<Gui>(*this, host_);
    } catch (...) {
        return false;
    }
    return true;
}

bool Instrument::editorChanged(int32_t index, float value) {
    if (!shell_.setValue(index, static_cast<double>(value)))
        return false;
    editorValues_.fetch_or(uint64_t{1} << index, std::memory_order_acq_rel);
    if (hostParams_ != nullptr && hostParams_->requestFlush != nullptr)
        hostParams_->requestFlush(host_);
    if (hostState_ != nullptr && hostState_->markDirty != nullptr)
        hostState_->markDirty(host_);
    return true;
}

void Instrument::editorGesture(int32_t index, bool begins) {
    if (index < 0 || index >= kNumParams)
        return;
    (begins ? gesturesBegun_ : gesturesEnded_).fetch_or(uint64_t{1} << index, std::memory_order_acq_rel);
    if (hostParams_ != nullptr && hostParams_->requestFlush != nullptr)
        hostParams_->requestFlush(host_);
}

void Instrument::sendEditorChanges(const clap::OutputEvents* out) noexcept {
    if (out == nullptr || out->tryPush == nullptr)
        return;
    const auto send = [&](std::atomic<uint64_t>& mask, uint16_t type) {
        uint64_t bits = mask.exchange(0, std::memory_order_acq_rel);
        while (bits != 0) {
            const auto index = static_cast<clap::Id>(std::countr_zero(bits));
            bits &= bits - 1;
            if (type == clap::kEventParamValue) {
                clap::EventParamValue event{};
                event.header = {sizeof event, 0, clap::kCoreEventSpace, type, 0};
                event.paramId = index;
                event.noteId = -1;
                event.portIndex = event.channel = event.key = -1;
                event.value = static_cast<double>(shell_.value(static_cast<int32_t>(index)));
                out->tryPush(out, &event.header);
            } else {
                clap::EventParamGesture event{{sizeof event, 0, clap::kCoreEventSpace, type, 0}, index};
                out->tryPush(out, &event.header);
            }
        }
    };
    send(gesturesBegun_, clap::kEventParamGestureBegin);
    send(editorValues_, clap::kEventParamValue);
    send(gesturesEnded_, clap::kEventParamGestureEnd);
}

void Instrument::valuesChangedOnMainThread() {
    if (hostParams_ != nullptr && hostParams_->rescan != nullptr)
        hostParams_->rescan(host_, clap::kParamRescanValues);
}

// ---- state ----

bool Instrument::saveState(const clap::OutStream* stream) const {
    if (stream == nullptr || stream->write == nullptr || !onMainThread())
        return false;
    const StateBytes bytes = shell_.saveState();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int64_t wrote = stream->write(stream, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0 || static_cast<uint64_t>(wrote) > bytes.size() - done)
            return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

bool Instrument::loadState(const clap::InStream* stream) {
    if (stream == nullptr || stream->read == nullptr || !onMainThread())
        return false;
    // One byte more than a state, to tell a long stream from ours.
    std::array<unsigned char, kStateBytes + 1> buffer{};
    std::size_t done = 0;
    while (done < buffer.size()) {
        const int64_t got = stream->read(stream, buffer.data() + done, buffer.size() - done);
        if (got < 0 || static_cast<uint64_t>(got) > buffer.size() - done)
            return false;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    if (!shell_.loadState(std::span(buffer.data(), done)))
        return false;
    valuesChangedOnMainThread();
    return true;
}

bool Instrument::loadPreset(uint32_t kind, const char* location, const char* key) {
    if (!onMainThread())
        return false;
    const presets::Preset* preset = nullptr;
    if (kind == clap::kLocationPlugin && key != nullptr) {
        try {
            preset = presets::findPreset(presets::factoryBank(), key);
        } catch (...) {
            preset = nullptr;
        }
    }
    if (preset == nullptr) {
        if (hostPresetLoad_ != nullptr && hostPresetLoad_->onError != nullptr)
            hostPresetLoad_->onError(host_, kind, location, key, 0, "no such factory preset");
        return false;
    }
    shell_.switchTo(preset->values);
    valuesChangedOnMainThread();
    if (hostPresetLoad_ != nullptr && hostPresetLoad_->loaded != nullptr)
        hostPresetLoad_->loaded(host_, kind, location, key);
    return true;
}

// ---- processing ----

void Instrument::endNote(const VoiceTag& tag, uint32_t time, const clap::OutputEvents* out) noexcept {
    if (out == nullptr || out->tryPush == nullptr)
        return;
    clap::EventNote end{};
    end.header = {sizeof end, time, clap::kCoreEventSpace, clap::kEventNoteEnd, 0};
    end.noteId = tag.noteId;
    end.portIndex = tag.port;
    end.channel = tag.channel;
    end.key = tag.key;
    out->tryPush(out, &end.header);
}

void Instrument::tagVoice(int32_t voice, const VoiceTag& tag, uint32_t time, const clap::OutputEvents* out) noexcept {
    if (voice == shell::Instrument::kNoVoice) {
        endNote(tag, time, out);  // dropped, or a key without a frequency: it never sounds
        return;
    }
    VoiceTag& slot = tags_[static_cast<std::size_t>(voice)];
    if (slot.live)
        endNote(slot, time, out);
    slot = tag;
}

void Instrument::endSilentVoices(uint32_t time, const clap::OutputEvents* out) noexcept {
    for (int32_t v = 0; v < SynthEngine::kNumVoices; ++v) {
        VoiceTag& slot = tags_[static_cast<std::size_t>(v)];
        if (slot.live && !shell_.engine().voice(v).active()) {
            endNote(slot, time, out);
            slot.live = false;
        }
    }
}

void Instrument::playNoteEvent(const clap::EventHeader* event, int32_t offset, uint32_t time,
                               const clap::OutputEvents* out) noexcept {
    if (event->type == clap::kEventMidi && event->size >= sizeof(clap::EventMidi)) {
        const auto* midi = reinterpret_cast<const clap::EventMidi*>(event);
        const uint8_t status = midi->data[0];
        const int32_t voice = shell_.playMidi(status, midi->data[1], midi->data[2], offset);
        if (voice != shell::Instrument::kNoVoice)
            tagVoice(voice,
                     {true, -1, static_cast<int16_t>(midi->portIndex), static_cast<int16_t>(status & 0x0F),
                      static_cast<int16_t>(midi->data[1] & 0x7F)},
                     time, out);
        return;
    }
    if (event->size < sizeof(clap::EventNote))
        return;
    const auto* note = reinterpret_cast<const clap::EventNote*>(event);
    const VoiceTag tag{true, note->noteId, note->portIndex, note->channel, note->key};
    // A voice played by this note: by its ID when it has one, else by key.
    const auto matches = [&note](const VoiceTag& slot) {
        return slot.live && (note->noteId == -1 || slot.noteId == note->noteId) &&
               (note->key < 0 || slot.key == note->key);
    };
    switch (event->type) {
        case clap::kEventNoteOn:
            if (note->key >= 0 && note->key <= 127)
                tagVoice(shell_.noteOn(note->key, note->velocity, offset), tag, time, out);
            break;
        case clap::kEventNoteOff:
            if (note->key >= 0 && note->key <= 127) {
                shell_.noteOff(note->key, offset);
            } else {
                for (const VoiceTag& slot : tags_)
                    if (matches(slot))
                        shell_.noteOff(slot.key & 0x7F, offset);
            }
            break;
        case clap::kEventNoteChoke:
            for (int32_t v = 0; v < SynthEngine::kNumVoices; ++v)
                if (matches(tags_[static_cast<std::size_t>(v)]))
                    shell_.engine().silenceVoice(v);
            break;
        default:
            break;  // expressions are not played
    }
}

int32_t Instrument::process(const clap::Process* process) noexcept {
    if (process == nullptr || !shell_.active() || !onAudioThread())
        return clap::kProcessError;
    playParamEvents(process->inEvents);
    sendEditorChanges(process->outEvents);
    const clap::AudioBuffer* output = process->audioOutputsCount >= 1 ? process->audioOutputs : nullptr;
    float* left = nullptr;
    float* right = nullptr;
    if (output != nullptr && output->data32 != nullptr && output->channelCount >= 2) {
        left = output->data32[0];
        right = output->data32[1];
    }
    const clap::InputEvents* in = process->inEvents;
    const clap::OutputEvents* out = process->outEvents;
    const uint32_t count = in != nullptr && in->size != nullptr && in->get != nullptr ? in->size(in) : 0;
    const auto notes = [&](const auto& place) {
        for (uint32_t k = 0; k < count; ++k) {
            const clap::EventHeader* event = in->get(in, k);
            if (event == nullptr || event->spaceId != clap::kCoreEventSpace || event->type == clap::kEventParamValue)
                continue;
            if (const auto at = place(event->time))
                playNoteEvent(event, at->offset, at->frame, out);
        }
    };
    shell_.render(left, right, process->framesCount, notes, [&](uint32_t last) { endSilentVoices(last, out); });
    return left != nullptr && right != nullptr ? clap::kProcessContinue : clap::kProcessError;
}

}  // namespace veltrosa::clapedge
