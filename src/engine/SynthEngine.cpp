#include "engine/SynthEngine.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

#include "engine/DenormalGuard.h"

#ifdef VELTROSA_LANES_X86
#include <cpuid.h>
#endif

namespace veltrosa {

namespace {

constexpr float kVelocityScale = 0.007874016f;  // 1/127

constexpr int32_t kLaneBuffers = 2 * SynthEngine::kNumVoices + 2;

// An unused lane: an idle voice reading at the table's start.
void clearLane(VoiceLanes& lanes, int32_t j) {
    for (OscLanes* osc : {&lanes.oscLeft, &lanes.oscRight})
        osc->position[j] = osc->step[j] = osc->coef[j] = osc->out[j] = osc->s1[j] = osc->s2[j] = osc->s3[j] = 0.0f;
    for (SvfLanes* svf : {&lanes.left, &lanes.right})
        svf->low[j] = svf->band[j] = svf->high[j] = 0.0f;
    for (EnvLanes* env : {&lanes.filterEnv, &lanes.ampEnv}) {
        env->state[j] = env->releaseDelay[j] = 0;
        env->level[j] = env->attack[j] = env->decay[j] = env->sustain[j] = env->release[j] = 0.0f;
    }
    lanes.velocitySquared[j] = lanes.damping[j] = lanes.cutoffCoef[j] = 0.0f;
}

void zeroNonFinite(float* out, int32_t n) {
    for (int32_t i = 0; i < n; ++i)
        out[i] = finiteOrZero(out[i]);
}

#ifdef VELTROSA_LANES_X86
// Whether the operating system saves and restores the register state whose
// XCR0 bits are all in mask (0x6: SSE and AVX; 0xE6: also the AVX-512 opmask
// and upper ZMM registers). Without that, the instructions fault or lose state.
bool osSavesState(uint32_t mask) {
    uint32_t a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0)
        return false;
    uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & mask) == mask;
}
#endif

RenderPath detectRenderPath() {
#ifdef VELTROSA_LANES_X86
    __builtin_cpu_init();
#ifdef VELTROSA_LANES_AVX512
    // The AVX-512 path renders one to four voices in the AVX2 unit's
    // layouts with AVX-512VL's registers.
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2") &&
        osSavesState(0xE6))
        return RenderPath::Avx512;
#endif
    if (__builtin_cpu_supports("avx2") && osSavesState(0x6))
        return RenderPath::Avx2;
    if (__builtin_cpu_supports("sse2"))
        return RenderPath::Sse2;
#endif
#ifdef VELTROSA_LANES_SIMD128
    return RenderPath::Simd128;  // the module validates only where the browser has it
#endif
#ifdef VELTROSA_LANES_NEON
    return RenderPath::Neon;  // every 64-bit ARM processor has it
#endif
    return RenderPath::Scalar;
}

TableRead detectTableRead() {
#ifdef VELTROSA_LANES_X86
    uint32_t a = 0, vendor[3] = {};
    if (__get_cpuid(0, &a, &vendor[0], &vendor[2], &vendor[1]) != 0) {  // ebx, edx, ecx spell the name
        char name[13] = {};
        __builtin_memcpy(name, vendor, 12);
        const std::string_view v(name);
        if (v == "AuthenticAMD" || v == "HygonGenuine")
            return TableRead::Pairs;
    }
#endif
    return TableRead::Gather;
}

}  // namespace

// The voices' two scratch buffers and the lanes' (laneScratch_), for blocks
// of up to capacity frames.
struct SynthEngine::ScratchSet {
    PageBuffer left, right, lanes;
    int32_t capacity = 0;

    // All three or none.
    bool allocate(int32_t n) noexcept {
        const auto frames = static_cast<std::size_t>(n);
        left = PageBuffer(frames);
        right = PageBuffer(frames);
        lanes = PageBuffer(frames * kLaneBuffers);
        capacity = left && right && lanes ? n : 0;
        return capacity == n;
    }
};

SynthEngine::SynthEngine() : EngineBase(kNumParams) {
    for (int32_t i = 0; i < numParams; ++i)
        setParam(i, defaultParam(i));
    ScratchSet first;
    if (!first.allocate(1))
        throw std::bad_alloc();
    swapScratch(first);
    wavetable_ = std::make_unique<Wavetable>(params.get());
    wavetable_->generate();
    wavetable_->adopt();
    // Each voice computes its envelope rates from the defaults at 44100 Hz.
    for (auto& v : voices_)
        v = std::make_unique<Voice>(params.get(), sampleRate);
}

SynthEngine::~SynthEngine() {
    delete reservedScratch_.exchange(nullptr);
    delete retiredScratch_.exchange(nullptr);
}

RenderPath SynthEngine::bestRenderPath() {
    static const RenderPath best = detectRenderPath();
    return best;
}

TableRead SynthEngine::bestTableRead() {
    static const TableRead best = detectTableRead();
    return best;
}

// Each x86 path needs what the one below it needs (SSE2, AVX2, AVX-512);
// WebAssembly and ARM have their one vector path beside the scalar one.
bool SynthEngine::renderPathAvailable(RenderPath path) {
    if (bestRenderPath() == RenderPath::Simd128 || bestRenderPath() == RenderPath::Neon)
        return path == RenderPath::Scalar || path == bestRenderPath();
    return path >= RenderPath::Scalar && path <= bestRenderPath();
}

bool SynthEngine::setRenderPath(RenderPath path) {
    if (!renderPathAvailable(path))
        return false;
    renderPath_ = path;
    steady_ = false;
    return true;
}

void SynthEngine::setSampleRate(double rate) {
    if (rate == sampleRate.load(std::memory_order_relaxed))
        return;  // never true when either is NaN
    sampleRate.store(rate, std::memory_order_relaxed);
    parameterChanged(kAllParametersChanged);
}

void SynthEngine::parameterChanged(int32_t index) {
    if ((index == kParamUpdate && param(kParamUpdate) > kUpdateThreshold) || index == kAllParametersChanged) {
        regenerate();  // on failure the previous table stays
        setParam(kParamUpdate, 0.0f);
    }
    updateVoices(index);
}

ParameterValues SynthEngine::values() const {
    ParameterValues all{};
    for (int32_t i = 0; i < kNumParams; ++i)
        all[static_cast<std::size_t>(i)] = param(i);
    return all;
}

void SynthEngine::setValues(const ParameterValues& all) {
    for (int32_t i = 0; i < kNumParams; ++i)
        setParam(i, all[static_cast<std::size_t>(i)]);
}

void SynthEngine::updateVoices(int32_t index) {
    for (auto& v : voices_)
        v->parameterChanged(index);
    ratesVersion_.fetch_add(1, std::memory_order_release);
}

// Ranks replace ages once the counter nears the stealing bound (or if it was
// ever set out of range): order and ties survive, so stealing carries on as
// if nothing happened, however long the instrument runs.
void SynthEngine::renumberAges() {
    std::array<int32_t, kNumVoices> rank{};
    int32_t top = 0;
    for (std::size_t i = 0; i < voices_.size(); ++i) {
        rank[i] = 1;
        for (const auto& other : voices_)
            rank[i] += other->age() < voices_[i]->age() ? 1 : 0;
        top = std::max(top, rank[i]);
    }
    for (std::size_t i = 0; i < voices_.size(); ++i)
        voices_[i]->renumberAge(rank[i]);
    noteCounter_ = top;
}

void SynthEngine::noteOn(int32_t note, float frequency, int32_t velocity, int32_t startOffset) {
    steady_ = false;
    if (noteCounter_ >= kAgeBound - 1 || noteCounter_ < 1)
        renumberAges();
    noteCounter_ += 1;
    const float v = static_cast<float>(velocity) * kVelocityScale;

    int32_t releasingBest = -1, soundingBest = -1;
    int32_t releasingAge = kAgeBound, soundingAge = kAgeBound;
    for (int32_t i = 0; i < kNumVoices; ++i) {
        if (i == reservedVoice_)
            continue;
        Voice& candidate = *voices_[static_cast<std::size_t>(i)];
        if (!candidate.active()) {
            candidate.noteOn(startOffset, noteCounter_, frequency, v, note);
            return;
        }
        if (candidate.releasing()) {
            if (candidate.age() < releasingAge) {
                releasingAge = candidate.age();
                releasingBest = i;
            }
        } else if (candidate.age() < soundingAge) {
            soundingAge = candidate.age();
            soundingBest = i;
        }
    }
    const int32_t victim = releasingBest >= 0 ? releasingBest : soundingBest;
    if (victim < 0)
        return;  // dropped
    voices_[static_cast<std::size_t>(reservedVoice_)]->noteOn(startOffset, noteCounter_, frequency, v, note);
    reservedVoice_ = victim;
    voices_[static_cast<std::size_t>(victim)]->fadeForReuse();
}

void SynthEngine::noteOff(int32_t note, int32_t releaseDelay) {
    for (auto& v : voices_)
        if (v->note() == note)
            v->release(releaseDelay);
}

void SynthEngine::silenceAll() {
    steady_ = false;
    for (auto& v : voices_)
        v->silence();
}

void SynthEngine::swapScratch(ScratchSet& set) noexcept {
    scratchLeft_.swap(set.left);
    scratchRight_.swap(set.right);
    laneScratch_.swap(set.lanes);
    std::swap(scratchCapacity_, set.capacity);
}

bool SynthEngine::growScratch(int32_t n) noexcept {
    ScratchSet grown;
    if (!grown.allocate(n))
        return false;  // keep the old buffers and render in pieces
    swapScratch(grown);
    reservedCapacity_.store(std::max(n, reservedCapacity_.load(std::memory_order_relaxed)), std::memory_order_relaxed);
    return true;
}

void SynthEngine::reserveBlock(int32_t n) noexcept {
    delete retiredScratch_.exchange(nullptr, std::memory_order_acquire);
    n = std::min(n, kMaxReservedBlock);
    if (n <= reservedCapacity_.load(std::memory_order_relaxed))
        return;
    auto* set = new (std::nothrow) ScratchSet;
    if (set == nullptr || !set->allocate(n)) {
        delete set;
        return;  // the audio thread grows its own if it must
    }
    delete reservedScratch_.exchange(set, std::memory_order_acq_rel);  // a smaller one not yet taken
    reservedCapacity_.store(n, std::memory_order_relaxed);
}

// The set taken in goes back with the buffers it replaced; while the last
// one sent back has not been freed yet, a reserved set waits for a later block.
void SynthEngine::takeReservedScratch() noexcept {
    if (reservedScratch_.load(std::memory_order_relaxed) == nullptr ||
        retiredScratch_.load(std::memory_order_relaxed) != nullptr)
        return;
    ScratchSet* set = reservedScratch_.exchange(nullptr, std::memory_order_acquire);
    if (set == nullptr)
        return;
    if (set->capacity > scratchCapacity_)
        swapScratch(*set);
    retiredScratch_.store(set, std::memory_order_release);
}

void SynthEngine::takeCarriedValues() noexcept {
    const float* values = wavetable_->carriedValues();
    if (values == nullptr)
        return;
    for (int32_t i = 0; i < numParams; ++i)
        setParam(i, values[i]);
    updateVoices(kAllParametersChanged);
    valuesTaken_.fetch_add(1, std::memory_order_release);
}

void SynthEngine::render(float* outLeft, float* outRight, int32_t n) noexcept {
    takeReservedScratch();
    if (n > scratchCapacity_)
        growScratch(n);
    if (wavetable_->adopt()) {
        const DenormalGuard denormals;
        takeCarriedValues();
    }
    if (n <= 0)
        return;
    const float* table = wavetable_->current();
    // An idle instance costs the two fills and one flag test per voice.
    if (table == nullptr ||
        (!steady_ && std::none_of(voices_.begin(), voices_.end(), [](const auto& v) { return v->active(); }))) {
        std::fill_n(outLeft, n, 0.0f);
        std::fill_n(outRight, n, 0.0f);
        return;
    }
    const DenormalGuard denormals;
    const VoiceParams p{param(kParamEnvDepth),       param(kParamCutoff),      param(kParamResonance),
                        param(kParamFilterVelocity), param(kParamAmpVelocity), param(kParamVolume)};
    for (int32_t done = 0; done < n;) {
        const int32_t m = std::min(n - done, scratchCapacity_);
        renderPiece(outLeft + done, outRight + done, m, p, table);
        done += m;
    }
}

void SynthEngine::renderPiece(float* outLeft, float* outRight, int32_t n, const VoiceParams& p,
                              const float* table) noexcept {
    if (renderPath_ != RenderPath::Scalar) {
        renderInLanes(outLeft, outRight, n, p, table);
        return;
    }
    std::fill_n(outLeft, n, 0.0f);
    std::fill_n(outRight, n, 0.0f);
    for (auto& v : voices_)
        v->render(scratchLeft_.get(), scratchRight_.get(), outLeft, outRight, n, p, table);
    // Voices never add NaN or infinity, but their sum may still overflow.
    zeroNonFinite(outLeft, n);
    zeroNonFinite(outRight, n);
}

// The active voices side by side, packed in voice order into the first lanes
// of the narrowest build that holds them (two voices' channels per SSE2
// vector, four per AVX2 vector, else the path's full width), then their
// contributions summed in voice order, so the outputs hold exactly the scalar
// path's sums. A voice that starts inside this block renders on its own
// (Voice::render) into its column.
void SynthEngine::renderInLanes(float* outLeft, float* outRight, int32_t n, const VoiceParams& p,
                                const float* table) noexcept {
    float* laneLeft = laneScratch_.get();
    float* laneRight = laneLeft + static_cast<std::ptrdiff_t>(kNumVoices) * n;
    if (samePlanHolds()) {
        // A held chord's block: the lanes are as the last one left them.
        renderLanes(plan_, n, p, table, laneLeft, laneRight);
        for (int32_t s = 0; s < plan_.count; ++s) {
            if (lanes_.ampEnv.state[s] == lane::kIdle) {
                voices_[static_cast<std::size_t>(laneVoice_[static_cast<std::size_t>(s)])]->renderedInLane(lanes_, s);
                steady_ = false;
            }
        }
        sumLanes(plan_, plan_.inLanes, n, laneLeft, laneRight, outLeft, outRight);
        return;
    }
    int32_t voiceIn[kNumVoices];
    int32_t count = 0;
    for (int32_t v = 0; v < kNumVoices; ++v)
        if (voices_[static_cast<std::size_t>(v)]->active())
            voiceIn[count++] = v;
    Build build = Build::Avx2;
    // SIMD128 and NEON render in the SSE2 layout, with no narrower build of their own.
    if (renderPath_ == RenderPath::Sse2 || renderPath_ == RenderPath::Simd128 || renderPath_ == RenderPath::Neon)
        build = count <= 2 && renderPath_ == RenderPath::Sse2 ? Build::Pair : Build::Sse2;
    else
        build = count <= 2                          ? Build::Pair
                : count <= 4                        ? Build::Quad
                : renderPath_ == RenderPath::Avx512 ? Build::Avx512
                                                    : Build::Avx2;
    const int32_t lanes = build == Build::Pair                                           ? 2
                          : build == Build::Quad || (build == Build::Sse2 && count <= 4) ? 4
                                                                                         : 8;

    float* ownLeft = laneRight + static_cast<std::ptrdiff_t>(kNumVoices) * n;
    float* ownRight = ownLeft + n;
    // Where lane s's contributions go, frame i at [i * stride]: with channels
    // in lanes one row per frame, the left channels then the right ones; else
    // per channel, groups of width lanes frame by frame.
    const bool rows = build == Build::Pair || build == Build::Quad || build == Build::Avx512;
    const int32_t half = build == Build::Pair ? 2 : build == Build::Quad ? 4 : kNumVoices;
    const int32_t width = build == Build::Sse2 ? 4 : 8;
    const int32_t stride = rows ? 2 * half : width;
    auto column = [&](float* at, int32_t s) { return at + (s / width) * width * n + s % width; };
    auto leftColumn = [&](int32_t s) { return rows ? laneLeft + s : column(laneLeft, s); };
    auto rightColumn = [&](int32_t s) { return rows ? laneLeft + half + s : column(laneRight, s); };
    // Voices live in their lanes from block to block; a lane is written only
    // when it changes hands (its old voice takes its state back first), or
    // for new rates.
    auto evict = [&](int32_t s) {
        const int32_t w = laneVoice_[static_cast<std::size_t>(s)];
        if (w >= 0 && voices_[static_cast<std::size_t>(w)]->livesIn(s))
            voices_[static_cast<std::size_t>(w)]->settle();
        laneVoice_[static_cast<std::size_t>(s)] = -1;
    };
    const uint32_t rates = ratesVersion_.load(std::memory_order_acquire);
    const bool ratesMoved = rates != laneRates_;
    laneRates_ = rates;
    uint32_t inLanes = 0;
    for (int32_t s = 0; s < count; ++s) {
        const int32_t v = voiceIn[s];
        Voice& voice = *voices_[static_cast<std::size_t>(v)];
        const bool fits = voice.fitsLane();
        if (fits && voice.livesIn(s)) {
            if (ratesMoved)
                voice.ratesToLane(lanes_, s);
        } else {
            evict(s);
            voice.toLane(lanes_, s);
            laneVoice_[static_cast<std::size_t>(s)] = fits ? v : -1;
        }
        inLanes |= fits ? 1u << s : 0u;
    }
    heldLanes_ |= (1u << count) - 1u;
    for (int32_t s = count; s < lanes; ++s) {
        if ((heldLanes_ & (1u << s)) != 0) {
            evict(s);
            clearLane(lanes_, s);
        }
    }
    heldLanes_ &= ~(((1u << lanes) - 1u) & ~((1u << count) - 1u));
    const LanePlan plan{count, build, inLanes};
    renderLanes(plan, n, p, table, laneLeft, laneRight);
    uint32_t sounding = inLanes;
    bool noneEnded = true;
    for (int32_t s = 0; s < count; ++s) {
        Voice& voice = *voices_[static_cast<std::size_t>(voiceIn[s])];
        if (inLanes & (1u << s)) {
            voice.renderedInLane(lanes_, s);
            noneEnded = noneEnded && voice.active();
            continue;
        }
        const bool waits = voice.startPending() && voice.startOffset() > n;
        std::fill_n(ownLeft, n, 0.0f);
        std::fill_n(ownRight, n, 0.0f);
        voice.render(scratchLeft_.get(), scratchRight_.get(), ownLeft, ownRight, n, p, table);
        if (waits)
            continue;
        // 0 + x differs from x only for x = -0, and a sum that starts at +0
        // is never -0, so adding this column adds exactly what render would.
        float* l = leftColumn(s);
        float* r = rightColumn(s);
        for (int32_t i = 0; i < n; ++i) {
            l[i * stride] = ownLeft[i];
            r[i * stride] = ownRight[i];
        }
        sounding |= 1u << s;
    }
    // The next block may take this one's plan if every voice that sounds
    // fitted its lane and none fell silent.
    plan_ = plan;
    steady_ = count > 0 && inLanes == (1u << count) - 1u && noneEnded;
    sumLanes(plan, sounding, n, laneLeft, laneRight, outLeft, outRight);
}

bool SynthEngine::samePlanHolds() const noexcept {
    if (!steady_ || ratesVersion_.load(std::memory_order_acquire) != laneRates_)
        return false;
    for (int32_t s = 0; s < plan_.count; ++s)
        if (!voices_[static_cast<std::size_t>(laneVoice_[static_cast<std::size_t>(s)])]->livesIn(s))
            return false;
    return true;
}

void SynthEngine::renderLanes(const LanePlan& plan, int32_t n, const VoiceParams& p, const float* table,
                              float* laneLeft, float* laneRight) noexcept {
    const uint32_t inLanes = plan.inLanes;
#ifdef VELTROSA_LANES_X86
    if (inLanes != 0) {
        switch (plan.build) {
        case Build::Pair:
            if (renderPath_ == RenderPath::Sse2) {
                renderPairSse2(lanes_, 0, p, table, n, laneLeft);
                break;
            }
#ifdef VELTROSA_LANES_AVX512
            if (renderPath_ == RenderPath::Avx512) {
                if (plan.count == 1)
                    renderOneAvx512(lanes_, 0, p, table, n, laneLeft);
                else
                    renderPairAvx512(lanes_, 0, p, table, n, laneLeft);
                break;
            }
#endif
            if (plan.count == 1)
                renderOneAvx2(lanes_, 0, p, table, n, laneLeft);
            else
                renderPairAvx2(lanes_, 0, p, table, n, laneLeft);
            break;
        case Build::Quad:
#ifdef VELTROSA_LANES_AVX512
            if (renderPath_ == RenderPath::Avx512) {
                renderQuadAvx512(lanes_, 0, p, table, n, laneLeft, tableRead_);
                break;
            }
#endif
            renderQuadAvx2(lanes_, 0, p, table, n, laneLeft, tableRead_);
            break;
        case Build::Avx512:
#ifdef VELTROSA_LANES_AVX512
            renderLanesAvx512(lanes_, p, table, n, laneLeft, tableRead_);
#endif
            break;
        case Build::Avx2:
            renderLanesAvx2(lanes_, p, table, n, laneLeft, laneRight, tableRead_);
            break;
        case Build::Sse2:
            for (int32_t g = 0; g < 2; ++g)
                if ((inLanes >> (4 * g)) & 0xFu)
                    renderLanesSse2(lanes_, 4 * g, p, table, n, laneLeft + 4 * g * n, laneRight + 4 * g * n);
            break;
        }
    }
#elif defined(VELTROSA_LANES_NEON)
    for (int32_t g = 0; g < 2; ++g)
        if ((inLanes >> (4 * g)) & 0xFu)
            renderLanesNeon(lanes_, 4 * g, p, table, n, laneLeft + 4 * g * n, laneRight + 4 * g * n);
#endif
#ifdef VELTROSA_LANES_SIMD128
    for (int32_t g = 0; g < 2; ++g)
        if ((inLanes >> (4 * g)) & 0xFu)
            renderLanesSimd128(lanes_, 4 * g, p, table, n, laneLeft + 4 * g * n, laneRight + 4 * g * n);
#endif
}

void SynthEngine::sumLanes([[maybe_unused]] const LanePlan& plan, uint32_t sounding, int32_t n, const float* laneLeft,
                           const float* laneRight, float* outLeft, float* outRight) noexcept {
    if (sounding == 0) {
        std::fill_n(outLeft, n, 0.0f);
        std::fill_n(outRight, n, 0.0f);
        return;
    }
#ifdef VELTROSA_LANES_X86
    switch (plan.build) {
    case Build::Pair:
        sumPairsSse2(laneLeft, sounding, n, outLeft, outRight);
        break;
    case Build::Quad:
        sumQuadsAvx2(laneLeft, sounding, n, outLeft, outRight);
        break;
    case Build::Avx512:
#ifdef VELTROSA_LANES_AVX512
        sumLanesAvx512(laneLeft, sounding, n, outLeft, outRight);
#endif
        break;
    case Build::Avx2:
        sumLanesAvx2(laneLeft, sounding, n, outLeft);
        sumLanesAvx2(laneRight, sounding, n, outRight);
        break;
    case Build::Sse2: {
        const float* left[2] = {laneLeft, laneLeft + 4 * n};
        const float* right[2] = {laneRight, laneRight + 4 * n};
        sumLanesSse2(left, sounding, n, outLeft);
        sumLanesSse2(right, sounding, n, outRight);
        break;
    }
    }
#elif defined(VELTROSA_LANES_NEON)
    const float* left[2] = {laneLeft, laneLeft + 4 * n};
    const float* right[2] = {laneRight, laneRight + 4 * n};
    sumLanesNeon(left, sounding, n, outLeft);
    sumLanesNeon(right, sounding, n, outRight);
#endif
#ifdef VELTROSA_LANES_SIMD128
    const float* left[2] = {laneLeft, laneLeft + 4 * n};
    const float* right[2] = {laneRight, laneRight + 4 * n};
    sumLanesSimd128(left, sounding, n, outLeft);
    sumLanesSimd128(right, sounding, n, outRight);
#endif
}

}  // namespace veltrosa
