// The lane renderer, written once over a vector type V and included by each
// instruction-set unit (VoiceSse2.cpp, VoiceAvx2.cpp) only. Everything here
// has internal linkage, so no copy built for one unit can stand in for
// another's. Every line mirrors Voice::render, Oscillator::read and
// EnvLevel::step operation for operation; keep them in step.
//
// V provides: F (W floats), I (W int32), W, loadf/storef/loadi/storei,
// set1f/set1i, add/sub/mul, andf/orf/andnotf, select(m, a, b) (b where m),
// selecti, cmpeqi/cmpgti, andi/andnoti, lessNot (!(a < b)), greaterNot
// (!(a > b)), greaterEqual, truncate, toFloat, toMask/toMaski, allIn(I, a, b),
// readPairs(table, I k, F& lo, F& hi) for t[k] and t[k + 1].
#pragma once

#include "engine/VoiceLanes.h"

namespace {

constexpr float kTableLengthF = 65536.0f;
constexpr float kFadeStepF = 0.006f;  // EnvLevel::kFadeStep
constexpr int32_t kIdle = 0, kAttack = 1, kDecay = 2, kSustain = 3, kRelease = 4, kFade = 5;

template <class V>
struct OscV {
    typename V::F position, step, coef, out, s1, s2, s3;

    void load(const veltrosa::OscLanes& o, int32_t j) {
        position = V::loadf(o.position + j);
        step = V::loadf(o.step + j);
        coef = V::loadf(o.coef + j);
        out = V::loadf(o.out + j);
        s1 = V::loadf(o.s1 + j);
        s2 = V::loadf(o.s2 + j);
        s3 = V::loadf(o.s3 + j);
    }
    void store(veltrosa::OscLanes& o, int32_t j) const {
        V::storef(o.position + j, position);
        V::storef(o.out + j, out);
        V::storef(o.s1 + j, s1);
        V::storef(o.s2 + j, s2);
        V::storef(o.s3 + j, s3);
    }

    typename V::F read(const float* t) {
        using F = typename V::F;
        const typename V::I k = V::truncate(position);
        const F frac = V::sub(position, V::toFloat(k));
        F a, b;
        V::readPairs(t, k, a, b);
        const F y = V::add(a, V::mul(frac, V::sub(b, a)));
        const F c = coef;
        s1 = V::add(V::mul(V::sub(y, s1), c), s1);
        s2 = V::add(V::mul(V::sub(s1, s2), c), s2);
        s3 = V::add(V::mul(V::sub(s2, s3), c), s3);
        out = V::add(V::mul(V::sub(s3, out), c), out);
        position = V::add(position, step);
        const F length = V::set1f(kTableLengthF);
        position = V::sub(position, V::andf(V::greaterEqual(position, length), length));
        return out;
    }

    typename V::F tick(const float* t) {
        typename V::F sum = V::set1f(0.0f);
        sum = V::add(sum, read(t));
        sum = V::add(sum, read(t));
        return sum;
    }
};

template <class V>
struct EnvV {
    typename V::I state, releaseDelay;
    typename V::F level, attack, decay, sustain, release;

    void load(const veltrosa::EnvLanes& e, int32_t j) {
        state = V::loadi(e.state + j);
        releaseDelay = V::loadi(e.releaseDelay + j);
        level = V::loadf(e.level + j);
        attack = V::loadf(e.attack + j);
        decay = V::loadf(e.decay + j);
        sustain = V::loadf(e.sustain + j);
        release = V::loadf(e.release + j);
    }
    void store(veltrosa::EnvLanes& e, int32_t j) const {
        V::storei(e.state + j, state);
        V::storei(e.releaseDelay + j, releaseDelay);
        V::storef(e.level + j, level);
    }

    // Idle and Sustain never change within a block: such lanes need no steps.
    bool still() const { return V::allIn(state, kIdle, kSustain); }

    // One sample of every lane, each by its own state.
    void step() {
        using F = typename V::F;
        using I = typename V::I;
        const I isAttack = V::cmpeqi(state, V::set1i(kAttack));
        const I isDecay = V::cmpeqi(state, V::set1i(kDecay));
        const I isRelease = V::cmpeqi(state, V::set1i(kRelease));
        const I isFade = V::cmpeqi(state, V::set1i(kFade));

        // Release: count the delay down, hold while it lasts.
        const I counting = V::andi(isRelease, V::cmpgti(releaseDelay, V::set1i(0)));
        releaseDelay = V::subi(releaseDelay, V::andi(counting, V::set1i(1)));
        const I holding = V::andi(isRelease, V::cmpgti(releaseDelay, V::set1i(0)));
        const I falling = V::ori(V::andnoti(holding, isRelease), isFade);

        const F one = V::set1f(1.0f), zero = V::set1f(0.0f);
        const F raised = V::add(level, attack);
        const F attackDone = V::lessNot(raised, one);
        F down = V::set1f(kFadeStepF);
        down = V::select(V::toMask(isRelease), down, release);
        down = V::select(V::toMask(isDecay), down, decay);
        const F lowered = V::sub(level, down);
        const F decayDone = V::greaterNot(lowered, sustain);
        const F fallDone = V::greaterNot(lowered, zero);

        F next = level;
        next = V::select(V::toMask(falling), next, V::andnotf(fallDone, lowered));
        next = V::select(V::toMask(isDecay), next, lowered);
        next = V::select(V::toMask(isAttack), next, V::select(attackDone, raised, one));
        level = next;

        I s = state;
        s = V::selecti(V::andi(isAttack, V::toMaski(attackDone)), s, V::set1i(kDecay));
        s = V::selecti(V::andi(isDecay, V::toMaski(decayDone)), s, V::set1i(kSustain));
        s = V::andnoti(V::andi(falling, V::toMaski(fallDone)), s);
        state = s;
    }
};

// NaN and infinities become 0 (finiteOrZero).
template <class V>
typename V::F finiteOrZeroV(typename V::F x) {
    const typename V::I exponent = V::set1i(0x7F800000);
    const typename V::I bits = V::toMaski(x);
    return V::andnotf(V::toMask(V::cmpeqi(V::andi(bits, exponent), exponent)), x);
}

// W lanes from lane j on, n frames, contributions frame by frame.
template <class V>
void renderLanesWith(veltrosa::VoiceLanes& s, int32_t j, const veltrosa::VoiceParams& p, const float* t, int32_t n,
                     float* outLeft, float* outRight) {
    using F = typename V::F;
    constexpr int32_t W = V::W;
    OscV<V> oscL{}, oscR{};
    oscL.load(s.oscLeft, j);
    oscR.load(s.oscRight, j);
    EnvV<V> fenv{}, aenv{};
    fenv.load(s.filterEnv, j);
    aenv.load(s.ampEnv, j);
    F lowL = V::loadf(s.left.low + j), bandL = V::loadf(s.left.band + j), highL = V::loadf(s.left.high + j);
    F lowR = V::loadf(s.right.low + j), bandR = V::loadf(s.right.band + j), highR = V::loadf(s.right.high + j);
    const F vel2 = V::loadf(s.velocitySquared + j);
    F damping = V::loadf(s.damping + j);
    F cutoffCoef = V::loadf(s.cutoffCoef + j);

    const F one = V::set1f(1.0f);
    const F envDepth = V::set1f(p.envDepth), cutoff = V::set1f(p.cutoff), resonance = V::set1f(p.resonance);
    const F filterVelocity = V::set1f(p.filterVelocity), ampVelocity = V::set1f(p.ampVelocity);
    const F volume = V::set1f(p.volume);
    const bool filterStill = fenv.still(), ampStill = aenv.still();

    for (int32_t i = 0; i < n; ++i) {
        F l = oscL.tick(t);
        F r = oscR.tick(t);
        damping = V::sub(V::set1f(1.1f), resonance);
        if (!filterStill)
            fenv.step();
        const F e = fenv.level;
        const F x = V::add(V::mul(envDepth, V::mul(e, e)), cutoff);
        const F x1 = V::sub(x, one);
        cutoffCoef = V::sub(one, V::mul(x1, x1));
        cutoffCoef = V::add(cutoffCoef, V::mul(V::sub(V::mul(cutoffCoef, vel2), cutoffCoef), filterVelocity));
        const F f = cutoffCoef;
        lowL = V::add(lowL, V::mul(f, bandL));
        highL = V::sub(V::sub(l, lowL), V::mul(damping, bandL));
        bandL = V::add(bandL, V::mul(f, highL));
        l = lowL;
        lowR = V::add(lowR, V::mul(f, bandR));
        highR = V::sub(V::sub(r, lowR), V::mul(damping, bandR));
        bandR = V::add(bandR, V::mul(f, highR));
        r = lowR;
        l = V::add(l, V::mul(V::sub(V::mul(l, vel2), l), ampVelocity));
        r = V::add(r, V::mul(V::sub(V::mul(r, vel2), r), ampVelocity));
        l = V::mul(l, volume);
        r = V::mul(r, volume);
        // The amplitude envelope: the same sample of Voice::render's second loop.
        if (!ampStill)
            aenv.step();
        const F g = V::mul(aenv.level, aenv.level);
        l = V::mul(l, g);
        r = V::mul(r, g);
        V::storef(outLeft + i * W, finiteOrZeroV<V>(l));
        V::storef(outRight + i * W, finiteOrZeroV<V>(r));
    }

    oscL.store(s.oscLeft, j);
    oscR.store(s.oscRight, j);
    fenv.store(s.filterEnv, j);
    aenv.store(s.ampEnv, j);
    V::storef(s.left.low + j, lowL);
    V::storef(s.left.band + j, bandL);
    V::storef(s.left.high + j, highL);
    V::storef(s.right.low + j, lowR);
    V::storef(s.right.band + j, bandR);
    V::storef(s.right.high + j, highR);
    V::storef(s.damping + j, damping);
    V::storef(s.cutoffCoef + j, cutoffCoef);
}

}  // namespace
