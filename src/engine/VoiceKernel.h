// The voice's sound, written once over a lane type V and included by each
// render unit only: VoiceScalar.cpp (one plain float per lane, the reference
// every other path must match bit for bit) and the vector units. Everything
// here has internal linkage, so no copy built for one unit's instruction set
// can stand in for another's.
//
// V provides: F (W floats), I (W int32), W, loadf/storef/loadi/storei,
// set1f/set1i, add/sub/mul, subWhere(m, a, b) (a - b where m, else a),
// andf/orf/xorf/andnotf, any(mask), greater, select(m, a, b) (b where m),
// selecti, cmpeqi/cmpgti, andi/andnoti, lessNot (!(a < b)), greaterNot
// (!(a > b)), greaterEqual, truncate, toFloat, toMask/toMaski, allIn(I, a, b),
// readPairs(table, I k, F& lo, F& hi) for t[k] and t[k + 1].
#pragma once

#include "engine/VoiceLanes.h"

namespace {

using namespace veltrosa::lane;

template <class V>
struct OscV {
    typename V::F position, step, coef, out, s1, s2, s3;

    template <class O>
    void load(const O& o, int32_t j) {
        position = V::loadf(o.position + j);
        step = V::loadf(o.step + j);
        coef = V::loadf(o.coef + j);
        out = V::loadf(o.out + j);
        s1 = V::loadf(o.s1 + j);
        s2 = V::loadf(o.s2 + j);
        s3 = V::loadf(o.s3 + j);
    }
    template <class O>
    void store(O& o, int32_t j) const {
        V::storef(o.position + j, position);
        V::storef(o.out + j, out);
        V::storef(o.s1 + j, s1);
        V::storef(o.s2 + j, s2);
        V::storef(o.s3 + j, s3);
    }

    // The interpolated table value at the position, then the step on.
    typename V::F fetch(const float* t) {
        using F = typename V::F;
        const typename V::I k = V::truncate(position);
        const F frac = V::sub(position, V::toFloat(k));
        F a, b;
        V::readPairs(t, k, a, b);
        const F y = V::add(a, V::mul(frac, V::sub(b, a)));
        position = V::add(position, step);
        const F length = V::set1f(kTableLength);
        position = V::subWhere(V::greaterEqual(position, length), position, length);
        return y;
    }

    // The four smoothing stages on one fetched value.
    typename V::F smooth(typename V::F y) {
        using F = typename V::F;
        const F c = coef;
        s1 = V::add(V::mul(V::sub(y, s1), c), s1);
        s2 = V::add(V::mul(V::sub(s1, s2), c), s2);
        s3 = V::add(V::mul(V::sub(s2, s3), c), s3);
        out = V::add(V::mul(V::sub(s3, out), c), out);
        return out;
    }

    // One output sample from the two values fetched for it: summed, not averaged.
    typename V::F tick(typename V::F first, typename V::F second) {
        typename V::F sum = V::set1f(0.0f);
        sum = V::add(sum, smooth(first));
        sum = V::add(sum, smooth(second));
        return sum;
    }
};

template <class V>
struct EnvV {
    typename V::I state, releaseDelay;
    typename V::F level, attack, decay, sustain, release;

    template <class E>
    void load(const E& e, int32_t j) {
        state = V::loadi(e.state + j);
        releaseDelay = V::loadi(e.releaseDelay + j);
        level = V::loadf(e.level + j);
        attack = V::loadf(e.attack + j);
        decay = V::loadf(e.decay + j);
        sustain = V::loadf(e.sustain + j);
        release = V::loadf(e.release + j);
    }
    template <class E>
    void store(E& e, int32_t j) const {
        V::storei(e.state + j, state);
        V::storei(e.releaseDelay + j, releaseDelay);
        V::storef(e.level + j, level);
    }

    // Idle and Sustain never change within a block: such lanes need no steps.
    bool still() const { return V::allIn(state, kIdle, kSustain); }

    // Between state changes every lane's step is one subtraction: level -
    // down, with down = -attack (x - -a is x + a, bit for bit), the decay,
    // release or fade step, or 0 for lanes that hold (x - 0 is x). A sample on
    // which any lane would change state, or a holding release would run out,
    // takes the full step() instead, and the run is set up anew.
    typename V::F down, flip, threshold, watched;
    typename V::I holdOnes;
    int32_t safe = 0;  // samples the run may still take

    void advance() {
        if (safe > 0) {
            const typename V::F next = V::sub(level, down);
            // Lanes about to change: attack !(next < 1), i.e. !(-next > -1);
            // decay !(next > sustain); falling !(next > 0).
            const typename V::F change =
                V::andnotf(V::greater(V::xorf(next, flip), threshold), watched);
            if (!V::any(change)) {
                level = next;
                releaseDelay = V::subi(releaseDelay, holdOnes);
                --safe;
                return;
            }
        }
        step();
        prepareRun();
    }

    void prepareRun() {
        using F = typename V::F;
        using I = typename V::I;
        const F isAttack = V::toMask(V::cmpeqi(state, V::set1i(kAttack)));
        const F isDecay = V::toMask(V::cmpeqi(state, V::set1i(kDecay)));
        const I isRelease = V::cmpeqi(state, V::set1i(kRelease));
        const I holding = V::andi(isRelease, V::cmpgti(releaseDelay, V::set1i(0)));
        const F falling = V::toMask(V::ori(V::andnoti(holding, isRelease), V::cmpeqi(state, V::set1i(kFade))));
        const F sign = V::set1f(-0.0f);
        F d = V::andf(falling, V::select(V::toMask(isRelease), V::set1f(kFadeStep), release));
        d = V::select(isDecay, d, decay);
        down = V::select(isAttack, d, V::xorf(attack, sign));
        flip = V::andf(isAttack, sign);
        F t = V::select(isDecay, V::set1f(0.0f), sustain);
        threshold = V::select(isAttack, t, V::set1f(-1.0f));
        watched = V::orf(V::orf(isAttack, isDecay), falling);
        holdOnes = V::andi(holding, V::set1i(1));
        // A holding lane with r samples of delay left holds r - 1 more samples.
        alignas(32) int32_t delay[V::W], held[V::W];
        V::storei(delay, releaseDelay);
        V::storei(held, holding);
        safe = 0x7FFFFFFF;
        for (int32_t j = 0; j < V::W; ++j)
            if (held[j] != 0 && delay[j] - 1 < safe)
                safe = delay[j] - 1;
    }

    // One sample of every lane, each by its own state: Attack rises by its
    // rate up to 1, then decays; Decay falls to the sustain level; Release
    // and Fade fall to 0, then the lane is Idle. A release delay of d starts
    // the fall on the d-th sample (the first for 0 and 1), so a later note-off
    // releases later. The comparisons are written so that a NaN level (from a
    // non-finite rate) leaves the state it is in instead of sticking there.
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
        F rate = V::set1f(kFadeStep);
        rate = V::select(V::toMask(isRelease), rate, release);
        rate = V::select(V::toMask(isDecay), rate, decay);
        const F lowered = V::sub(level, rate);
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

// NaN and infinities become 0 (finiteOrZero, kept here so that this unit
// shares no inline code with the others).
inline float finiteOrZeroScalar(float x) {
    uint32_t bits;
    __builtin_memcpy(&bits, &x, sizeof bits);
    return (bits & 0x7F800000u) == 0x7F800000u ? 0.0f : x;
}

// NaN and infinities become 0 (finiteOrZero).
template <class V>
typename V::F finiteOrZeroV(typename V::F x) {
    const typename V::I exponent = V::set1i(0x7F800000);
    const typename V::I bits = V::toMaski(x);
    return V::andnotf(V::toMask(V::cmpeqi(V::andi(bits, exponent), exponent)), x);
}

// The state of W lanes while a block renders.
template <class V>
struct LanesV {
    using F = typename V::F;
    OscV<V> oscL{}, oscR{};
    EnvV<V> fenv{}, aenv{};
    F lowL, bandL, highL, lowR, bandR, highR, vel2, damping, cutoffCoef;

    template <class S>
    LanesV(const S& s, int32_t j) {
        oscL.load(s.oscLeft, j);
        oscR.load(s.oscRight, j);
        fenv.load(s.filterEnv, j);
        aenv.load(s.ampEnv, j);
        lowL = V::loadf(s.left.low + j);
        bandL = V::loadf(s.left.band + j);
        highL = V::loadf(s.left.high + j);
        lowR = V::loadf(s.right.low + j);
        bandR = V::loadf(s.right.band + j);
        highR = V::loadf(s.right.high + j);
        vel2 = V::loadf(s.velocitySquared + j);
        damping = V::loadf(s.damping + j);
        cutoffCoef = V::loadf(s.cutoffCoef + j);
    }

    template <class S>
    void store(S& s, int32_t j) const {
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
};

// n frames: the readers, the filter with its envelope, velocity and volume
// from frame from on (silence before it), the amplitude envelope over all n
// frames. One loop for everything: the amplitude envelope does not depend on
// the sound, and the channels' and stages' recurrences are independent, so
// each hides the others' latency. An envelope whose lanes all stand still
// (Idle or Sustain) is not stepped; the loop is built for each case, so a
// still envelope's run state takes no registers.
template <class V, bool FilterMoves, bool AmpMoves>
void renderFrames(LanesV<V>& v, const veltrosa::VoiceParams& p, const float* t, int32_t from, int32_t n,
                  float* outLeft, float* outRight) {
    using F = typename V::F;
    constexpr int32_t W = V::W;
    EnvV<V> aenv = v.aenv;
    for (int32_t i = 0; i < from; ++i) {  // silence times any gain, made finite, is +0
        if constexpr (AmpMoves)
            aenv.advance();
        V::storef(outLeft + i * W, V::set1f(0.0f));
        V::storef(outRight + i * W, V::set1f(0.0f));
    }
    outLeft += from * W;
    outRight += from * W;
    n -= from;
    if (n == 0) {
        v.aenv = aenv;
        return;
    }
    OscV<V> oscL = v.oscL, oscR = v.oscR;
    EnvV<V> fenv = v.fenv;
    F lowL = v.lowL, bandL = v.bandL, highL = v.highL, lowR = v.lowR, bandR = v.bandR, highR = v.highR;
    F damping = v.damping, cutoffCoef = v.cutoffCoef;
    const F vel2 = v.vel2;
    const F one = V::set1f(1.0f);
    const F envDepth = V::set1f(p.envDepth), cutoff = V::set1f(p.cutoff), resonance = V::set1f(p.resonance);
    const F filterVelocity = V::set1f(p.filterVelocity), ampVelocity = V::set1f(p.ampVelocity);
    const F volume = V::set1f(p.volume);

    // The table is read two frames ahead of the smoothing and the filter, so
    // that each iteration holds independent chains the processor overlaps:
    // (l1, l2, r1, r2) are frame i's reads, (m1, m2, q1, q2) frame i + 1's.
    F l1 = oscL.fetch(t), l2 = oscL.fetch(t), r1 = oscR.fetch(t), r2 = oscR.fetch(t);
    auto frame = [&](int32_t i, F l, F r) __attribute__((always_inline)) {
        damping = V::sub(V::set1f(1.1f), resonance);
        if constexpr (FilterMoves)
            fenv.advance();
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
        if constexpr (AmpMoves)
            aenv.advance();
        const F g = V::mul(aenv.level, aenv.level);
        l = V::mul(l, g);
        r = V::mul(r, g);
        V::storef(outLeft + i * W, finiteOrZeroV<V>(l));
        V::storef(outRight + i * W, finiteOrZeroV<V>(r));
    };
    if (n == 1) {
        frame(0, oscL.tick(l1, l2), oscR.tick(r1, r2));
    } else {
        F m1 = oscL.fetch(t), m2 = oscL.fetch(t), q1 = oscR.fetch(t), q2 = oscR.fetch(t);
        for (int32_t i = 0; i + 2 < n; ++i) {
            const F a1 = l1, a2 = l2, b1 = r1, b2 = r2;
            l1 = m1;
            l2 = m2;
            r1 = q1;
            r2 = q2;
            m1 = oscL.fetch(t);
            m2 = oscL.fetch(t);
            q1 = oscR.fetch(t);
            q2 = oscR.fetch(t);
            frame(i, oscL.tick(a1, a2), oscR.tick(b1, b2));
        }
        frame(n - 2, oscL.tick(l1, l2), oscR.tick(r1, r2));
        frame(n - 1, oscL.tick(m1, m2), oscR.tick(q1, q2));
    }

    v.oscL = oscL;
    v.oscR = oscR;
    v.fenv = fenv;
    v.aenv = aenv;
    v.lowL = lowL;
    v.bandL = bandL;
    v.highL = highL;
    v.lowR = lowR;
    v.bandR = bandR;
    v.highR = highR;
    v.damping = damping;
    v.cutoffCoef = cutoffCoef;
}

// W lanes of s from lane j on, n frames (0 <= from <= n, see renderFrames),
// finite contributions frame by frame.
template <class V, class S>
void renderLanesWith(S& s, int32_t j, const veltrosa::VoiceParams& p, const float* t, int32_t from, int32_t n,
                     float* outLeft, float* outRight) {
    LanesV<V> v(s, j);
    const bool filterMoves = !v.fenv.still(), ampMoves = !v.aenv.still();
    if (filterMoves && ampMoves)
        renderFrames<V, true, true>(v, p, t, from, n, outLeft, outRight);
    else if (filterMoves)
        renderFrames<V, true, false>(v, p, t, from, n, outLeft, outRight);
    else if (ampMoves)
        renderFrames<V, false, true>(v, p, t, from, n, outLeft, outRight);
    else
        renderFrames<V, false, false>(v, p, t, from, n, outLeft, outRight);
    v.store(s, j);
}

}  // namespace
