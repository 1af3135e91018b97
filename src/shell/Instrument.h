// The instrument as every edition but the VST 2 one meets its host: the
// engine, its table builder and the values' way to the voices, with each
// host-facing rule written once. An edge (CLAP, VST 3, LV2, the standalone)
// only translates its format's calls into these.
//
// Threads: values may be set on any thread. State, preparation and
// activation belong to the host's main thread; blocks, notes and render to
// its audio thread, or to the main thread while the instrument is not
// active. Tables are built on the builder's thread, never on the audio
// thread; the audio thread takes no lock and allocates nothing.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "core/State.h"
#include "engine/DenormalGuard.h"
#include "engine/SynthEngine.h"
#include "rebuild/TableBuilder.h"

namespace veltrosa::shell {

// Where a block's event plays: frames into the piece being rendered, and
// the frame of the block it was placed at (an event outside the block plays
// at its nearest end).
struct Placement {
    int32_t offset;
    uint32_t frame;
};

class Instrument {
public:
    static constexpr int32_t kNoVoice = -1;
    // How long an offline block waits for a table being built.
    static constexpr std::chrono::milliseconds kSettleLimit{2000};

    Instrument();
    // Joins the builder, so no code of the module runs on once the instance
    // is gone.
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Starts the builder's thread; false if none could be started.
    bool start();
    // Instead of start() where there are no threads (the browser's
    // worklet): builds what was asked so far on this thread, between blocks.
    void buildTables() { builder_->buildNow(); }
    SynthEngine& engine() { return *engine_; }
    const SynthEngine& engine() const { return *engine_; }

    // ---- values: any thread ----
    // NaN and unknown indices are refused; others are clamped to 0..1. The
    // voices follow at the next block, where a value the table is built from
    // asks for a new one. A trigger above its threshold is a press, however
    // soon it is released.
    bool setValue(int32_t index, double value) noexcept;
    // The value a host's number becomes by that rule, or nothing if refused:
    // for an edge that keeps a copy of the values (a VST 3 controller).
    static std::optional<float> accepted(int32_t index, double value) noexcept;
    // What the host set or loaded last, even while a switch is on its way.
    float value(int32_t index) const noexcept;
    ParameterValues values() const noexcept;

    // ---- whole sounds: main thread ----
    // Before the first block: the values the instrument starts from, with
    // nothing playing yet to switch from; their table comes with the
    // prepared rate.
    void startFrom(const ParameterValues& values);
    // A saved state of ours: exactly one state's bytes, every value in 0..1.
    static std::optional<ParameterValues> readState(std::span<const unsigned char> bytes) noexcept;
    StateBytes saveState() const noexcept { return encodeState(values()); }
    // False, with nothing changed, unless bytes are a state of ours.
    bool loadState(std::span<const unsigned char> bytes);
    // Values and their table reach the voices in the same block; until then
    // the old sound plays and the new values read back. Triggers are not
    // pressed by a sound.
    void switchTo(const ParameterValues& values);
    // Any thread: no switch is on its way to the voices.
    bool switched() const noexcept;

    // ---- the host's set-up: main thread, while not active ----
    // A rate and the longest block the host will send. False for a rate
    // outside 1 Hz..1 MHz or no frames.
    bool prepare(double rate, int32_t maxFrames);
    // The first block plays the table of the prepared rate (waiting for it,
    // at most kSettleLimit) with every value set so far, from silence.
    void activate();
    void deactivate() { active_.store(false, std::memory_order_release); }
    bool active() const noexcept { return active_.load(std::memory_order_acquire); }
    // Any thread: rendering offline makes each block wait for a table being
    // built, so that two renders give the same samples.
    void setOffline(bool offline) noexcept { offline_.store(offline, std::memory_order_release); }
    // Any thread: a rate or block size a host changes while running (JACK).
    void setSampleRate(double rate) noexcept { builder_->setSampleRate(rate); }
    void reserveBlock(int32_t frames) noexcept;

    // ---- the audio thread ----
    // A note-on with a float velocity in 0..1 (0, below or NaN: the softest,
    // never a note-off): the voice it took, or kNoVoice.
    int32_t noteOn(int32_t key, double velocity, int32_t offset) noexcept;
    void noteOff(int32_t key, int32_t offset) noexcept;
    // A channel message's bytes: for a note-on, the voice it took; kNoVoice
    // otherwise. System messages play nothing.
    int32_t playMidi(uint8_t status, uint8_t data1, uint8_t data2, int32_t offset) noexcept;

    // Renders frames into left and right, playing each event in the piece of
    // its frame. events(place) walks the block's note events in order and,
    // for each, calls place(frame), which gives the Placement to play it at
    // in this piece, or nothing when it belongs to another. The block is
    // rendered in pieces of the prepared size, so nothing grows here;
    // pieceDone(lastFrame) follows each. Without outputs (either null) the
    // events play from the next block on and nothing is rendered.
    template <typename Events, typename PieceDone>
    void render(float* left, float* right, uint32_t frames, Events&& events, PieceDone&& pieceDone) noexcept {
        const DenormalGuard denormals;
        beginBlock();
        if (left == nullptr || right == nullptr) {
            events([](int64_t) { return std::optional<Placement>(Placement{0, 0}); });
            return;
        }
        uint32_t start = 0;
        do {
            const uint32_t n = std::min(frames - start, maxFrames_.load(std::memory_order_relaxed));
            const bool last = start + n >= frames;
            events([&](int64_t time) -> std::optional<Placement> {
                const auto frame =
                    frames == 0 ? 0u : static_cast<uint32_t>(std::clamp<int64_t>(time, 0, int64_t{frames} - 1));
                if (frame < start || (frame >= start + n && !last))
                    return std::nullopt;
                return Placement{static_cast<int32_t>(frame - start), frame};
            });
            engine_->render(left + start, right + start, static_cast<int32_t>(n));
            start += n;
            pieceDone(start == 0 ? 0u : start - 1);
        } while (start < frames);
    }
    template <typename Events>
    void render(float* left, float* right, uint32_t frames, Events&& events) noexcept {
        render(left, right, frames, std::forward<Events>(events), [](uint32_t) {});
    }

    // Any thread while no block renders (the host's flush): the voices
    // follow the values set so far.
    void followValues() noexcept { beginBlock(); }

private:
    // Takes a finished table (and a switch with it), then lets the voices
    // follow the values that changed, unless a switch is still on its way.
    void beginBlock() noexcept;
    float* switchValue(int32_t index) noexcept { return &switchValues_[static_cast<std::size_t>(index)]; }

    std::unique_ptr<SynthEngine> engine_;
    std::unique_ptr<TableBuilder> builder_;
    std::atomic<uint64_t> changed_{0};  // one bit per parameter whose voices have not followed yet
    // A value the table is built from changed, or Update was pressed: asked
    // for once at the next block, so that a block's changes make one table.
    std::atomic<bool> tableAsked_{false};
    std::atomic<bool> active_{false};
    std::atomic<bool> offline_{false};
    std::atomic<uint32_t> maxFrames_{1};  // a host may change it between blocks (JACK)
    // A switch under way: its values, and those set since, read back from
    // here until the audio thread takes its table; the bits of those set
    // since, for the audio thread to set again over the switch's.
    std::array<float, kNumParams> switchValues_{};
    std::atomic<uint64_t> setDuringSwitch_{0};
    std::atomic<uint32_t> switchAsked_{0};  // main thread writes
    std::atomic<uint32_t> switchTaken_{0};  // audio thread writes
    uint32_t tablesTaken_ = 0;              // audio thread
};

}  // namespace veltrosa::shell
