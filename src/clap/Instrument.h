// The CLAP edition's instrument: the engine behind the plug-in record, its
// extensions, and the host's extensions it asks for.
//
// Threads as the format assigns them: init, activate, state, presets and
// parameter information on the main thread; process (and flush while
// active) on the audio thread. The rules are the shell's.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "abi/clap.h"
#include "shell/Instrument.h"

namespace veltrosa::clapedge {

class Gui;

inline constexpr const char* kPluginId = "com.bramblers.veltrosa";

class Instrument {
public:
    explicit Instrument(const clap::Host* host);
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    const clap::Plugin* plugin() const { return &plugin_; }

    // The record's entries and the extensions' entries; each checks what the
    // host passes and lets no exception out.
    bool init();
    bool activate(double rate, uint32_t minFrames, uint32_t maxFrames);
    void deactivate();
    bool startProcessing();
    void stopProcessing();
    void reset();
    int32_t process(const clap::Process* process) noexcept;
    const void* extension(const char* id) const;

    bool paramInfo(uint32_t index, clap::ParamInfo* info) const;
    bool paramValue(clap::Id id, double* value) const;
    void flush(const clap::InputEvents* in, const clap::OutputEvents* out) noexcept;
    bool saveState(const clap::OutStream* stream) const;
    bool loadState(const clap::InStream* stream);
    bool loadPreset(uint32_t kind, const char* location, const char* key);
    void setRenderMode(int32_t mode) { shell_.setOffline(mode == clap::kRenderOffline); }

    // The editor (main thread): a value the user chose, which the host learns
    // at its next flush or block; false if refused. Gestures likewise.
    bool editorChanged(int32_t index, float value);
    void editorGesture(int32_t index, bool begins);
    Gui* gui() const { return gui_.get(); }
    bool createGui(const char* api, bool floating);
    void destroyGui() { gui_.reset(); }

    SynthEngine& engine() { return shell_.engine(); }

private:
    // Whoever played a voice's note, to end it as it began.
    struct VoiceTag {
        bool live = false;
        int32_t noteId = -1;
        int16_t port = 0;
        int16_t channel = 0;
        int16_t key = 0;
    };

    bool onMainThread() const;
    bool onAudioThread() const;
    void valuesChangedOnMainThread();
    void playParamEvents(const clap::InputEvents* in) noexcept;
    void playNoteEvent(const clap::EventHeader* event, int32_t offset, uint32_t time,
                       const clap::OutputEvents* out) noexcept;
    void tagVoice(int32_t voice, const VoiceTag& tag, uint32_t time, const clap::OutputEvents* out) noexcept;
    void endNote(const VoiceTag& tag, uint32_t time, const clap::OutputEvents* out) noexcept;
    void endSilentVoices(uint32_t time, const clap::OutputEvents* out) noexcept;
    // Tells the host of the editor's gestures and values (audio thread, or
    // the main thread in a flush).
    void sendEditorChanges(const clap::OutputEvents* out) noexcept;

    const clap::Host* host_;
    clap::Plugin plugin_{};
    const clap::HostThreadCheck* threadCheck_ = nullptr;
    const clap::HostParams* hostParams_ = nullptr;
    const clap::HostPresetLoad* hostPresetLoad_ = nullptr;
    const clap::HostState* hostState_ = nullptr;
    shell::Instrument shell_;
    std::array<VoiceTag, SynthEngine::kNumVoices> tags_{};  // audio thread
    // The editor's news for the host, one bit per parameter each.
    std::atomic<uint64_t> editorValues_{0};
    std::atomic<uint64_t> gesturesBegun_{0};
    std::atomic<uint64_t> gesturesEnded_{0};
    std::unique_ptr<Gui> gui_;  // main thread; destroyed before the engine
};

}  // namespace veltrosa::clapedge
