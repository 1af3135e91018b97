// The sound engine: parameters, the wavetable and eight voices, with the
// voice allocation that always keeps one voice in reserve for a stolen note.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "core/State.h"
#include "engine/EngineBase.h"
#include "engine/PageBuffer.h"
#include "core/Parameters.h"
#include "engine/Voice.h"
#include "engine/Wavetable.h"

namespace veltrosa {

class SynthEngine : public EngineBase {
public:
    static constexpr int32_t kNumVoices = 8;
    // Voices whose age reaches this never qualify for stealing; ages are
    // renumbered before the note counter gets there.
    static constexpr int32_t kAgeBound = 100000000;

    // Starts at 44100 Hz with the first table adopted and valid envelope rates.
    SynthEngine();
    ~SynthEngine() override;

    // Parameter thread. Also regenerates the wavetable for "Update" and 100.
    void setSampleRate(double rate) override;
    void parameterChanged(int32_t index) override;
    // Any thread, real-time safe: the voices follow a changed parameter
    // (index as for parameterChanged); no table is built.
    void updateVoices(int32_t index);
    // Any thread: every value at once, as the state holds them. setValues
    // stores them only; the caller tells the voices and the table builder.
    ParameterValues values() const;
    void setValues(const ParameterValues& values);
    // Never the audio thread: builds a table from the current parameters for
    // the audio thread to adopt at its next block. False without memory.
    bool regenerate() noexcept { return wavetable_->generate(); }
    // Never the audio thread: builds a table from values instead; the audio
    // thread takes it and every one of the values in the same block, and the
    // voices sounding follow at once. False without memory.
    bool regenerate(const ParameterValues& values) noexcept { return wavetable_->generate(values.data()); }
    // Any thread: how many tables built from given values were taken so far.
    uint32_t valuesTaken() const noexcept { return valuesTaken_.load(std::memory_order_acquire); }

    // Parameter thread: makes scratch buffers for blocks of up to n frames
    // (at most kMaxReservedBlock), which the audio thread takes at its next
    // block instead of growing its own there. For a host announcing its
    // block size.
    void reserveBlock(int32_t n) noexcept;
    static constexpr int32_t kMaxReservedBlock = 65536;

    // Audio thread: no lock, no system call. Nothing is allocated or freed
    // here, except when render meets a block longer than any reserved or
    // rendered before: it then grows its scratch buffers, the fallback for a
    // host that sends more frames than it announced.
    void noteOn(int32_t note, float frequency, int32_t velocity, int32_t startOffset);
    void noteOff(int32_t note, int32_t releaseDelay);
    void silenceAll();
    // One voice falls silent at once (a format's choke of a single note).
    void silenceVoice(int32_t index) {
        if (index >= 0 && index < kNumVoices) {
            voices_[static_cast<std::size_t>(index)]->silence();
            steady_ = false;
        }
    }
    void render(float* outLeft, float* outRight, int32_t n) noexcept;

    // The fastest path this processor runs, chosen once from its features.
    static RenderPath bestRenderPath();
    static bool renderPathAvailable(RenderPath path);
    // Audio thread: renders through path from the next block on, if the
    // processor has it (false, and nothing changes, if not). Every path gives
    // the same samples; the scalar one is the reference.
    bool setRenderPath(RenderPath path);
    RenderPath renderPath() const { return renderPath_; }
    // How the AVX2 and AVX-512 paths read the table, chosen once per process
    // from the processor's vendor: pairs of 64-bit loads on AMD (and Hygon)
    // processors, whose gathers cost several times Intel's per element;
    // gathers everywhere else. No measurement, so instantiating costs
    // nothing more and every process reads alike.
    static TableRead bestTableRead();
    // Audio thread: forces a read from the next block on (benchmarks and the
    // equality tests). Every read gives the same samples.
    void setTableRead(TableRead read) { tableRead_ = read; }
    TableRead tableRead() const { return tableRead_; }

    // Audio thread: state for inspection.
    const Voice& voice(int32_t index) const { return *voices_[static_cast<std::size_t>(index)]; }
    int32_t reservedVoice() const { return reservedVoice_; }
    int32_t noteCounter() const { return noteCounter_; }
    // Audio thread: resumes counting from value (a long session's count).
    void setNoteCounter(int32_t value) { noteCounter_ = value; }
    int32_t scratchCapacity() const { return scratchCapacity_; }
    const float* table() const { return wavetable_->current(); }
    Wavetable& wavetable() { return *wavetable_; }

private:
    struct ScratchSet;
    void renumberAges();
    bool growScratch(int32_t n) noexcept;
    void swapScratch(ScratchSet& set) noexcept;
    void takeReservedScratch() noexcept;
    void takeCarriedValues() noexcept;
    void renderPiece(float* outLeft, float* outRight, int32_t n, const VoiceParams& p, const float* table) noexcept;
    void renderInLanes(float* outLeft, float* outRight, int32_t n, const VoiceParams& p, const float* table) noexcept;
    enum class Build : int32_t { Pair, Quad, Sse2, Avx2, Avx512 };
    // Which build renders the lanes and which of them hold a voice that fits.
    struct LanePlan {
        int32_t count = 0;  // lanes 0 .. count - 1 hold the sounding voices
        Build build = Build::Pair;
        uint32_t inLanes = 0;
    };
    bool samePlanHolds() const noexcept;
    void renderLanes(const LanePlan& plan, int32_t n, const VoiceParams& p, const float* table, float* laneLeft,
                     float* laneRight) noexcept;
    void sumLanes(const LanePlan& plan, uint32_t sounding, int32_t n, const float* laneLeft, const float* laneRight,
                  float* outLeft, float* outRight) noexcept;

    int32_t reservedVoice_ = 0;
    std::array<std::unique_ptr<Voice>, kNumVoices> voices_;
    std::unique_ptr<Wavetable> wavetable_;
    int32_t noteCounter_ = 1;
    PageBuffer scratchLeft_;
    PageBuffer scratchRight_;
    int32_t scratchCapacity_ = 0;
    // Lane paths: each voice's contribution, then two buffers for a voice
    // rendered on its own; (2 * kNumVoices + 2) * scratchCapacity_ floats.
    PageBuffer laneScratch_;
    // Buffers reserved on the parameter thread, on their way to the audio
    // thread; and those it replaced, on their way back to be freed there.
    std::atomic<ScratchSet*> reservedScratch_{nullptr};
    std::atomic<ScratchSet*> retiredScratch_{nullptr};
    std::atomic<int32_t> reservedCapacity_{1};  // the largest reserved or grown
    std::atomic<uint32_t> valuesTaken_{0};
    // Counts the voices' rate changes (any thread), against the count the
    // lanes' rates were last copied at (audio thread).
    std::atomic<uint32_t> ratesVersion_{0};
    uint32_t laneRates_ = 0;
    VoiceLanes lanes_{};
    // Which voice lives in each lane (-1: none, or it may have left), and
    // the lanes that hold anything but an idle, cleared lane.
    std::array<int32_t, kNumVoices> laneVoice_{-1, -1, -1, -1, -1, -1, -1, -1};
    // The last block's plan; while steady_ the next block takes it as it is:
    // every voice that sounds sat in its lane and fitted, and no note, steal
    // or silence came since (a voice a note reaches leaves its lane).
    LanePlan plan_;
    bool steady_ = false;
    uint32_t heldLanes_ = 0xFFu;
    RenderPath renderPath_ = bestRenderPath();
    TableRead tableRead_ = bestTableRead();
};

}  // namespace veltrosa
