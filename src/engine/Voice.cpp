#include "engine/Voice.h"

#include <algorithm>
#include <cmath>

#include "core/Parameters.h"
#include "engine/Wavetable.h"

namespace veltrosa {

namespace {

static_assert(lane::kIdle == static_cast<int32_t>(EnvState::Idle) &&
              lane::kAttack == static_cast<int32_t>(EnvState::Attack) &&
              lane::kDecay == static_cast<int32_t>(EnvState::Decay) &&
              lane::kSustain == static_cast<int32_t>(EnvState::Sustain) &&
              lane::kRelease == static_cast<int32_t>(EnvState::Release) &&
              lane::kFade == static_cast<int32_t>(EnvState::Fade));
static_assert(lane::kFadeStep == EnvLevel::kFadeStep && lane::kTableLength == Wavetable::kLength);

constexpr double kSmoothingOmega = 56548.66776461628;  // 2π · 9000 Hz
constexpr float kTableLength = static_cast<float>(Wavetable::kLength);

// Readers step through the table modulo its length; a step of a table or
// more (extreme pitch against a tiny sample rate) is brought into range so
// that a single wrap keeps every read inside the table.
float tableStep(float frequency, double rate) {
    double step = static_cast<double>(static_cast<float>(Wavetable::kPeriod) * frequency) / rate;
    if (!std::isfinite(step))
        return 0.0f;
    if (step < 0.0 || step >= Wavetable::kLength)
        step -= std::floor(step / Wavetable::kLength) * Wavetable::kLength;
    const auto s = static_cast<float>(step);
    return s >= 0.0f && s < kTableLength ? s : 0.0f;
}

}  // namespace

// Below a few hertz one envelope step exceeds the envelope's whole range: a
// decay overshoots its sustain level so far that the squared gain and the
// filter coefficient explode. No host runs below this; such rates count as it.
constexpr double kLowestRate = 1000.0;

double Voice::usableRate(double rate) {
    if (!(rate > 0.0) || !std::isfinite(rate))
        return 44100.0;
    return std::max(rate, kLowestRate);
}

float Voice::smoothingFor(double rate) {
    const double c = kSmoothingOmega / (2.0 * rate);
    const auto coef = static_cast<float>(c);
    if (coef < 2.0f)
        return coef;
    // Below ~14137 Hz the plain coefficient reaches 2 and the stages ring or
    // diverge; the exact one-pole coefficient for the same corner stays in
    // (0, 1] and tends to a pass-through.
    return static_cast<float>(1.0 - std::exp(-c));
}

Voice::Voice(float* params, const std::atomic<double>& sampleRate) : sampleRate_(sampleRate), params_(params) {
    parameterChanged(kAllParametersChanged);
}

void Voice::parameterChanged(int32_t index) {
    const double rate = usableRate(sampleRate_.load(std::memory_order_relaxed));
    auto p = [this](int32_t i) { return loadParam(params_, i); };
    const bool amp = index >= kParamAmpAttack && index <= kParamAmpRelease;
    const bool filter = index >= kParamFilterAttack && index <= kParamFilterRelease;
    if (!filter)
        ampEnv_.setRates(p(kParamAmpAttack), p(kParamAmpDecay), p(kParamAmpSustain), p(kParamAmpRelease), rate);
    if (!amp)
        filterEnv_.setRates(p(kParamFilterAttack), p(kParamFilterDecay), p(kParamFilterSustain), p(kParamFilterRelease),
                            rate);
}

void Voice::noteOn(int32_t startOffset, int32_t age, float frequency, float velocity, int32_t note) {
    settle();
    startOffset_ = std::max(startOffset, 0);
    age_ = age;
    startPending_ = true;
    left_ = {};
    right_ = {};
    const double rate = usableRate(sampleRate_.load(std::memory_order_relaxed));
    Oscillator osc;
    osc.smoothCoef = smoothingFor(rate);
    osc.step = tableStep(frequency, rate);
    oscLeft_ = osc;
    osc.position = static_cast<float>(Wavetable::kLength / 2);
    oscRight_ = osc;
    note_ = note;
    active_ = true;
    releasing_ = false;
    velocitySquared_ = velocity * velocity;
    ampEnv_.now.state = EnvState::Attack;
    ampEnv_.now.level = 0.0f;
    filterEnv_.now.state = EnvState::Attack;
    filterEnv_.now.level = 0.0f;
}

void Voice::release(int32_t delay) {
    settle();
    releasing_ = true;
    for (Envelope* env : {&ampEnv_, &filterEnv_}) {
        env->now.releaseDelay = std::max(delay, 0);
        env->now.state = EnvState::Release;
    }
}

void Voice::fadeForReuse() {
    settle();
    releasing_ = true;
    ampEnv_.now.state = EnvState::Fade;
}

void Voice::render(float* L, float* R, float* outLeft, float* outRight, int32_t n, const VoiceParams& p,
                   const float* table) {
    if (!active_)
        return;
    if (startPending_ && startOffset_ > n) {
        startOffset_ -= n;
        return;
    }
    settle();
    VoiceLane lane;
    copyTo(lane, 0, true);
    renderLane(lane, startOffset_, p, table, n, L, R);
    takeBack(lane, 0);
    renderedInLane(lane, 0);
    for (int32_t i = 0; i < n; ++i) {
        outLeft[i] += L[i];
        outRight[i] += R[i];
    }
}

void Voice::toLane(VoiceLanes& lanes, int32_t j) {
    settle();
    const bool fits = fitsLane();
    copyTo(lanes, j, fits);
    if (fits) {
        home_ = &lanes;
        lane_ = j;
    }
}

// Inspection on the audio thread may find the state still in the lane; a
// voice is never a const object, so taking it back here is sound.
void Voice::settle() const {
    if (lane_ < 0)
        return;
    auto& self = const_cast<Voice&>(*this);
    self.takeBack(*home_, lane_);
    self.lane_ = -1;
}

void Voice::ratesToLane(VoiceLanes& lanes, int32_t j) const { copyRates(lanes, j); }

template <class Lanes>
void Voice::copyRates(Lanes& lanes, int32_t j) const {
    auto env = [&](auto& to, const Envelope& from) {
        const EnvRates r = from.rates();
        to.attack[j] = r.attack;
        to.decay[j] = r.decay;
        to.sustain[j] = r.sustain;
        to.release[j] = r.release;
    };
    env(lanes.filterEnv, filterEnv_);
    env(lanes.ampEnv, ampEnv_);
}

template <class Lanes>
void Voice::copyTo(Lanes& lanes, int32_t j, bool sounds) const {
    auto osc = [&](auto& to, const Oscillator& from) {
        to.position[j] = sounds ? from.position : 0.0f;  // an idle lane still reads inside the table
        to.step[j] = sounds ? from.step : 0.0f;
        to.coef[j] = from.smoothCoef;
        to.out[j] = from.out;
        to.s1[j] = from.s1;
        to.s2[j] = from.s2;
        to.s3[j] = from.s3;
    };
    osc(lanes.oscLeft, oscLeft_);
    osc(lanes.oscRight, oscRight_);
    auto svf = [&](auto& to, const SvfState& from) {
        to.low[j] = from.low;
        to.band[j] = from.band;
        to.high[j] = from.high;
    };
    svf(lanes.left, left_);
    svf(lanes.right, right_);
    auto env = [&](auto& to, const Envelope& from) {
        to.state[j] = static_cast<int32_t>(sounds ? from.now.state : EnvState::Idle);
        to.releaseDelay[j] = from.now.releaseDelay;
        to.level[j] = from.now.level;
    };
    env(lanes.filterEnv, filterEnv_);
    env(lanes.ampEnv, ampEnv_);
    copyRates(lanes, j);
    lanes.velocitySquared[j] = velocitySquared_;
    lanes.damping[j] = damping_;
    lanes.cutoffCoef[j] = cutoffCoef_;
}

// The kernel has already reset any runaway state in the lane (recoverLanes).
template <class Lanes>
void Voice::takeBack(const Lanes& lanes, int32_t j) {
    auto osc = [&](Oscillator& to, const auto& from) {
        to.position = from.position[j];
        to.out = from.out[j];
        to.s1 = from.s1[j];
        to.s2 = from.s2[j];
        to.s3 = from.s3[j];
    };
    osc(oscLeft_, lanes.oscLeft);
    osc(oscRight_, lanes.oscRight);
    auto svf = [&](SvfState& to, const auto& from) {
        to.low = from.low[j];
        to.band = from.band[j];
        to.high = from.high[j];
    };
    svf(left_, lanes.left);
    svf(right_, lanes.right);
    auto env = [&](EnvLevel& to, const auto& from) {
        to.state = static_cast<EnvState>(from.state[j]);
        to.releaseDelay = from.releaseDelay[j];
        to.level = from.level[j];
    };
    env(filterEnv_.now, lanes.filterEnv);
    env(ampEnv_.now, lanes.ampEnv);
    damping_ = lanes.damping[j];
    cutoffCoef_ = lanes.cutoffCoef[j];
}


}  // namespace veltrosa
