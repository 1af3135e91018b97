#include "engine/Wavetable.h"

#include <kissfft/kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "core/Parameters.h"

namespace veltrosa {

namespace {

constexpr int32_t kN = Wavetable::kLength;
constexpr int32_t kH = Wavetable::kBins;
// Each buffer: the table with its guard, a flag (1 when values follow), then
// the values it was generated with.
constexpr int32_t kFlag = kN + 1;
constexpr int32_t kCarried = kN + 2;
constexpr int32_t kStored = kCarried + kNumParams;
constexpr float kBinPerHarmonic = 0.0078004533f;        // 344 / 44100: centre of harmonic 1 as a fraction of kH bins
constexpr float kHalfRateReciprocal = 0.000011337868f;  // 1 / (2 * 44100)
constexpr float kProfileCutoff = 14.71280603f;          // x^2 beyond which a profile counts as 0
constexpr double kProfileReach = 3.8357;                // a little above sqrt(kProfileCutoff)

std::atomic<uint32_t> phaseSeed{phase::kInitialState};

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

template <typename T>
Buffer<T> allocate(std::size_t count) noexcept {
    return Buffer<T>(static_cast<T*>(std::malloc(count * sizeof(T))));
}

// One inverse configuration, kept for the life of the module: building it is
// as dear as a transform. A configuration holds scratch memory, so it is
// handed out to one generation at a time; a concurrent generation builds its
// own, which is freed if the cache is full when it comes back.
struct ConfigCache {
    std::atomic<kiss_fftr_cfg> cached{nullptr};
    ~ConfigCache() { kiss_fftr_free(cached.exchange(nullptr)); }

    kiss_fftr_cfg take() noexcept {
        if (kiss_fftr_cfg cfg = cached.exchange(nullptr, std::memory_order_acquire))
            return cfg;
        return kiss_fftr_alloc(kN, 1, nullptr, nullptr);
    }
    void give(kiss_fftr_cfg cfg) noexcept {
        kiss_fftr_cfg expected = nullptr;
        if (!cached.compare_exchange_strong(expected, cfg, std::memory_order_release, std::memory_order_relaxed))
            kiss_fftr_free(cfg);
    }
};
ConfigCache fftConfigs;

// Claims a run of kH consecutive generator states for one generation and
// returns the state just before it. Concurrent generations (two instances on
// two threads) get distinct runs.
uint32_t claimPhaseRun() noexcept {
    uint32_t start = phaseSeed.load(std::memory_order_relaxed);
    for (;;) {
        uint32_t end = start;
        for (int32_t k = 0; k < kH; ++k)
            end = phase::next(end);
        if (phaseSeed.compare_exchange_weak(start, end, std::memory_order_relaxed))
            return start;
    }
}

// Relative bandwidth of every harmonic: 2 cents at BandW 0, 82 cents at 1.
float relativeBandwidth(float bandW) {
    const float cents = bandW * 80.0f + 2.0f;
    return static_cast<float>(std::pow(2.0, static_cast<double>(cents * 0.00083333335f)) - 1.0);
}

// Adds each harmonic's bell-shaped band into amp (kH entries, zeroed).
// Harmonic i comes from parameter i - 1, the 32nd bar included.
void addHarmonicProfiles(float* params, float* amp) {
    const float b = relativeBandwidth(loadParam(params, kParamBandwidth));
    for (int32_t i = 1; i <= kNumHarmonics; ++i) {
        const float a = loadParam(params, i - 1);
        const float f = static_cast<float>(i) * kBinPerHarmonic;
        const float w = ((static_cast<float>(i) * b) * 344.0f) * kHalfRateReciprocal;
        const float invW = 1.0f / w;
        // A silent harmonic adds exact zeros; a non-finite amplitude or width
        // (parameters out of range) would poison the whole table.
        if (a == 0.0f || !std::isfinite(a) || !std::isfinite(invW))
            continue;
        // Only positions within reach of the centre can pass the cut-off; the
        // test below still decides, so the window only saves work.
        const double centre = static_cast<double>(f) * kH;
        const double reach = kProfileReach * std::fabs(static_cast<double>(w)) * kH + 2.0;
        const double lo = std::clamp(std::floor(centre - reach), 0.0, static_cast<double>(kH - 1));
        const double hi = std::clamp(std::ceil(centre + reach), 0.0, static_cast<double>(kH - 1));
        for (auto j = static_cast<int32_t>(lo); j <= static_cast<int32_t>(hi); ++j) {
            const float x = (static_cast<float>(j) / static_cast<float>(kH) - f) * invW;
            const float x2 = x * x;
            if (x2 > kProfileCutoff)
                continue;
            const float contribution = static_cast<float>(std::exp(-static_cast<double>(x2))) * invW;
            amp[j] = amp[j] + a * contribution;
        }
    }
}

// Spectrum one bin above the profile positions, a fresh random phase per bin.
void buildSpectrum(const float* amp, kiss_fft_cpx* bins) {
    bins[0].r = 0.0f;
    bins[0].i = 0.0f;
    uint32_t s = claimPhaseRun();
    for (int32_t k = 1; k <= kH; ++k) {
        s = phase::next(s);
        const double theta = static_cast<double>(phase::angle(s));
        bins[k].r = amp[k - 1] * static_cast<float>(std::cos(theta));
        bins[k].i = amp[k - 1] * static_cast<float>(std::sin(theta));
    }
}

// Peak to 1 / 1.4142, then the guard entry. A spectrum that overflowed
// (absurd amplitudes) gives a silent table rather than one full of NaN.
void normalise(float* table) {
    float peak = 0.0f;
    bool finite = true;
    for (int32_t i = 0; i < kN; ++i) {
        const float m = std::fabs(table[i]);
        finite = finite && std::isfinite(m);
        if (m > peak)
            peak = m;
    }
    if (!finite)
        std::fill_n(table, kN, 0.0f);
    if (peak < 0.00001f)
        peak = 0.00001f;
    const float scale = 1.0f / (peak * 1.4142f);
    for (int32_t i = 0; i < kN; ++i)
        table[i] *= scale;
    table[kN] = table[0];
}

}  // namespace

namespace phase {
float angle(uint32_t state) {
    return static_cast<float>(static_cast<double>(static_cast<int32_t>(state)) / 4294967291.0 * 6.2831855);
}
uint32_t current() { return phaseSeed.load(std::memory_order_relaxed); }
void restart() { phaseSeed.store(kInitialState, std::memory_order_relaxed); }
}  // namespace phase

Wavetable::Wavetable(float* params) : params_(params) {}

Wavetable::~Wavetable() {
    std::free(current_);
    std::free(next_.exchange(nullptr));
    freeRetired();
}

void Wavetable::freeRetired() noexcept {
    for (auto& slot : retired_)
        std::free(slot.exchange(nullptr, std::memory_order_acquire));
}

bool Wavetable::generate(const float* values) noexcept {
    freeRetired();
    Buffer<float> table = allocate<float>(kStored);
    Buffer<float> amp = allocate<float>(kH);
    Buffer<kiss_fft_cpx> bins = allocate<kiss_fft_cpx>(kH + 1);
    if (!table || !amp || !bins)
        return false;
    kiss_fftr_cfg cfg = fftConfigs.take();
    if (cfg == nullptr)
        return false;

    table[kFlag] = values != nullptr ? 1.0f : 0.0f;
    if (values != nullptr)
        std::copy_n(values, kNumParams, table.get() + kCarried);
    std::fill_n(amp.get(), kH, 0.0f);
    addHarmonicProfiles(values != nullptr ? table.get() + kCarried : params_, amp.get());
    buildSpectrum(amp.get(), bins.get());
    amp.reset();
    kiss_fftri(cfg, bins.get(), table.get());  // unscaled
    fftConfigs.give(cfg);
    bins.reset();
    normalise(table.get());

    // The table is complete, guard included, before it is published.
    std::free(next_.exchange(table.release(), std::memory_order_acq_rel));
    return true;
}

bool Wavetable::publish(const float* samples) noexcept {
    freeRetired();
    Buffer<float> table = allocate<float>(kStored);
    if (!table)
        return false;
    std::copy_n(samples, kN + 1, table.get());
    table[kFlag] = 0.0f;
    std::free(next_.exchange(table.release(), std::memory_order_acq_rel));
    return true;
}

const float* Wavetable::carriedValues() const noexcept {
    return current_ != nullptr && current_[kFlag] != 0.0f ? current_ + kCarried : nullptr;
}

bool Wavetable::adopt() noexcept {
    if (next_.load(std::memory_order_relaxed) == nullptr)
        return false;
    // Only this thread fills a slot, so one seen empty stays empty until then.
    // With every slot still full (the generating side has not run since), the
    // new table waits for a later block rather than this thread freeing one.
    std::atomic<float*>* parking = nullptr;
    if (current_ != nullptr) {
        for (auto& slot : retired_)
            if (slot.load(std::memory_order_relaxed) == nullptr) {
                parking = &slot;
                break;
            }
        if (parking == nullptr)
            return false;
    }
    float* fresh = next_.exchange(nullptr, std::memory_order_acq_rel);
    if (fresh == nullptr)
        return false;
    if (parking != nullptr)
        parking->store(current_, std::memory_order_release);
    current_ = fresh;
    return true;
}

}  // namespace veltrosa
