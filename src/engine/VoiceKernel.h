// The voice's sound, written once over a lane type V and included by each
// render unit only: VoiceScalar.cpp (one plain float per lane, the reference
// every other path must match bit for bit) and the vector units. Everything
// here has internal linkage, so no copy built for one unit's instruction set
// can stand in for another's.
//
// V provides: F (W floats), I (W int32), M (a mask of W lanes), W, and
// kChannelLanes: false when a lane holds a voice with both channels, true
// when the first W / 2 lanes hold W / 2 voices' left channel and the others
// their right one (then also loadHalves/storeHalves and their int32 forms,
// W / 2 lanes from each of two addresses). Operations: loadf/storef/loadi/
// storei, set1f/set1i, add/sub/mul, xorf, andi, subi, bitsOf (F as I);
// comparisons giving M: greater, lessNot (!(a < b)), greaterNot (!(a > b)),
// greaterEqual, cmpeqi, cmpgti; on masks: mand, mor, mandnot (!a and b), any,
// laneBits (lane j as bit j); select(m, a, b) and selecti (b where m),
// keep/keepi (x where m, else 0), drop/dropi (0 where m, else x),
// subWhere(m, a, b) (a - b where m, else a); truncate, toFloat, allIn(I, a,
// b), readPairs(table, I k, F& lo, F& hi) for t[k] and t[k + 1].
#pragma once

#include "engine/VoiceLanes.h"

namespace {

using namespace veltrosa::lane;

// W lanes of a field: a voice's value, or with channel lanes the left
// channel's from l and the right one's from r (l == r for a voice's value).
template <class V>
typename V::F lanesOf(const float* l, const float* r) {
    if constexpr (V::kChannelLanes)
        return V::loadHalves(l, r);
    else
        return V::loadf(l);
}

template <class V>
typename V::I lanesOfi(const int32_t* l, const int32_t* r) {
    if constexpr (V::kChannelLanes)
        return V::loadHalvesi(l, r);
    else
        return V::loadi(l);
}

template <class V>
void toLanes(float* l, float* r, typename V::F x) {
    if constexpr (V::kChannelLanes)
        V::storeHalves(l, r, x);
    else
        V::storef(l, x);
}

template <class V>
void toLanesi(int32_t* l, int32_t* r, typename V::I x) {
    if constexpr (V::kChannelLanes)
        V::storeHalvesi(l, r, x);
    else
        V::storei(l, x);
}

// A lane type whose channel lanes hold one voice and, in the lanes of the
// other, the second read of each frame (V::kPairedReads).
template <class V>
constexpr bool pairedReads() {
    if constexpr (requires { V::kPairedReads; })
        return V::kPairedReads;
    else
        return false;
}

template <class V>
struct OscV {
    typename V::F position, step, coef, out, s1, s2, s3;

    template <class O>
    void load(const O& l, const O& r, int32_t j) {
        position = lanesOf<V>(l.position + j, r.position + j);
        step = lanesOf<V>(l.step + j, r.step + j);
        coef = lanesOf<V>(l.coef + j, r.coef + j);
        out = lanesOf<V>(l.out + j, r.out + j);
        s1 = lanesOf<V>(l.s1 + j, r.s1 + j);
        s2 = lanesOf<V>(l.s2 + j, r.s2 + j);
        s3 = lanesOf<V>(l.s3 + j, r.s3 + j);
        if constexpr (pairedReads<V>()) {  // [p, p + step] of each channel, and its step twice
            step = V::firstOfPairs(step);
            OscV next = *this;
            next.advance();
            position = V::pairUp(position, next.position);
        }
    }
    template <class O>
    void store(O& l, O& r, int32_t j) const {
        toLanes<V>(l.position + j, r.position + j, position);
        toLanes<V>(l.out + j, r.out + j, out);
        toLanes<V>(l.s1 + j, r.s1 + j, s1);
        toLanes<V>(l.s2 + j, r.s2 + j, s2);
        toLanes<V>(l.s3 + j, r.s3 + j, s3);
    }

    // The interpolated table value at the position, then the step on. Inlined
    // like everything the frame loop calls: a unit holding several lane types
    // otherwise gives up inlining them.
    template <bool Wraps = true>
    __attribute__((always_inline)) typename V::F fetch(const float* t) {
        const typename V::F y = read(t);
        advance<Wraps>();
        return y;
    }

    // Both reads of a frame; with paired reads one interpolation gives both,
    // and the pair of positions steps twice, each lane as the reads would.
    template <bool Wraps>
    __attribute__((always_inline)) void fetchTwo(const float* t, typename V::F& first, typename V::F& second) {
        if constexpr (pairedReads<V>()) {
            const typename V::F y = read(t);
            advance<Wraps>();
            advance<Wraps>();
            first = y;
            second = V::secondOfPairs(y);
        } else {
            first = fetch<Wraps>(t);
            second = fetch<Wraps>(t);
        }
    }

    __attribute__((always_inline)) typename V::F read(const float* t) const {
        using F = typename V::F;
        const typename V::I k = V::truncate(position);
        const F frac = V::sub(position, V::toFloat(k));
        F a, b;
        V::readPairs(t, k, a, b);
        return V::add(a, V::mul(frac, V::sub(b, a)));
    }

    // Without Wraps no lane reaches the table's end (the caller knows): the
    // same sum, and no test.
    template <bool Wraps = true>
    __attribute__((always_inline)) void advance() {
        position = V::add(position, step);
        if constexpr (Wraps) {
            const typename V::F length = V::set1f(kTableLength);
            position = V::subWhere(V::greaterEqual(position, length), position, length);
        }
    }

    // The four smoothing stages on one fetched value.
    __attribute__((always_inline)) typename V::F smooth(typename V::F y) {
        using F = typename V::F;
        const F c = coef;
        s1 = V::add(V::mul(V::sub(y, s1), c), s1);
        s2 = V::add(V::mul(V::sub(s1, s2), c), s2);
        s3 = V::add(V::mul(V::sub(s2, s3), c), s3);
        out = V::add(V::mul(V::sub(s3, out), c), out);
        return out;
    }

    // One output sample from the two values fetched for it: summed, not averaged.
    __attribute__((always_inline)) typename V::F tick(typename V::F first, typename V::F second) {
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
        state = lanesOfi<V>(e.state + j, e.state + j);
        releaseDelay = lanesOfi<V>(e.releaseDelay + j, e.releaseDelay + j);
        level = lanesOf<V>(e.level + j, e.level + j);
        attack = lanesOf<V>(e.attack + j, e.attack + j);
        decay = lanesOf<V>(e.decay + j, e.decay + j);
        sustain = lanesOf<V>(e.sustain + j, e.sustain + j);
        release = lanesOf<V>(e.release + j, e.release + j);
        // The run is set up by the first advance (safe is 0); cleared here only
        // so that no copy of it reads undefined values.
        down = flip = threshold = V::set1f(0.0f);
        watched = V::cmpgti(state, state);
        holdOnes = V::set1i(0);
        safe = 0;
    }
    template <class E>
    void store(E& e, int32_t j) const {
        toLanesi<V>(e.state + j, e.state + j, state);
        toLanesi<V>(e.releaseDelay + j, e.releaseDelay + j, releaseDelay);
        toLanes<V>(e.level + j, e.level + j, level);
    }

    // Between state changes every lane's step is one subtraction: level -
    // down, with down = -attack (x - -a is x + a, bit for bit), the decay,
    // release or fade step, or 0 for lanes that hold (x - 0 is x). A sample on
    // which any lane would change state, or a holding release would run out,
    // takes the full step() instead, and the run is set up anew.
    typename V::F down, flip, threshold;
    typename V::M watched;
    typename V::I holdOnes;
    int32_t safe = 0;  // samples the run may still take

    // Inlined even at -O2: the run's test belongs in the frame loop's registers.
    __attribute__((always_inline)) void advance() {
        if (safe > 0) {
            const typename V::F next = V::sub(level, down);
            // Lanes about to change: attack !(next < 1), i.e. !(-next > -1);
            // decay !(next > sustain); falling !(next > 0).
            if (!V::any(V::mandnot(V::greater(V::xorf(next, flip), threshold), watched))) {
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
        using M = typename V::M;
        const M isAttack = V::cmpeqi(state, V::set1i(kAttack));
        const M isDecay = V::cmpeqi(state, V::set1i(kDecay));
        const M isRelease = V::cmpeqi(state, V::set1i(kRelease));
        const M holding = V::mand(isRelease, V::cmpgti(releaseDelay, V::set1i(0)));
        const M falling = V::mor(V::mandnot(holding, isRelease), V::cmpeqi(state, V::set1i(kFade)));
        const F sign = V::set1f(-0.0f);
        F d = V::keep(falling, V::select(isRelease, V::set1f(kFadeStep), release));
        d = V::select(isDecay, d, decay);
        down = V::select(isAttack, d, V::xorf(attack, sign));
        flip = V::keep(isAttack, sign);
        F t = V::select(isDecay, V::set1f(0.0f), sustain);
        threshold = V::select(isAttack, t, V::set1f(-1.0f));
        watched = V::mor(V::mor(isAttack, isDecay), falling);
        holdOnes = V::keepi(holding, V::set1i(1));
        // A holding lane with r samples of delay left holds r - 1 more samples.
        int32_t delay[V::W];
        V::storei(delay, releaseDelay);
        const uint32_t held = V::laneBits(holding);
        safe = 0x7FFFFFFF;
        for (int32_t j = 0; j < V::W; ++j)
            if ((held >> j & 1u) != 0 && delay[j] - 1 < safe)
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
        using M = typename V::M;
        const M isAttack = V::cmpeqi(state, V::set1i(kAttack));
        const M isDecay = V::cmpeqi(state, V::set1i(kDecay));
        const M isRelease = V::cmpeqi(state, V::set1i(kRelease));
        const M isFade = V::cmpeqi(state, V::set1i(kFade));

        // Release: count the delay down, hold while it lasts.
        const M counting = V::mand(isRelease, V::cmpgti(releaseDelay, V::set1i(0)));
        releaseDelay = V::subi(releaseDelay, V::keepi(counting, V::set1i(1)));
        const M holding = V::mand(isRelease, V::cmpgti(releaseDelay, V::set1i(0)));
        const M falling = V::mor(V::mandnot(holding, isRelease), isFade);

        const F one = V::set1f(1.0f), zero = V::set1f(0.0f);
        const F raised = V::add(level, attack);
        const M attackDone = V::lessNot(raised, one);
        F rate = V::set1f(kFadeStep);
        rate = V::select(isRelease, rate, release);
        rate = V::select(isDecay, rate, decay);
        const F lowered = V::sub(level, rate);
        const M decayDone = V::greaterNot(lowered, sustain);
        const M fallDone = V::greaterNot(lowered, zero);

        F next = level;
        next = V::select(falling, next, V::drop(fallDone, lowered));
        next = V::select(isDecay, next, lowered);
        next = V::select(isAttack, next, V::select(attackDone, raised, one));
        level = next;

        I s = state;
        s = V::selecti(V::mand(isAttack, attackDone), s, V::set1i(kDecay));
        s = V::selecti(V::mand(isDecay, decayDone), s, V::set1i(kSustain));
        s = V::dropi(V::mand(falling, fallDone), s);
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

// The frames from i on of rows laid out with channels in lanes (frame i's
// row: the h voices' left contributions, then their right ones), summed in
// voice order over the voices in mask: the sums' tails past the last whole
// vector of frames.
inline void sumRowsFrom(int32_t i, const float* rows, int32_t h, uint32_t mask, int32_t n, float* outLeft,
                        float* outRight) {
    for (; i < n; ++i) {
        float left = 0.0f, right = 0.0f;
        for (int32_t v = 0; v < h; ++v) {
            if (mask & (1u << v)) {
                left += rows[i * 2 * h + v];
                right += rows[i * 2 * h + h + v];
            }
        }
        outLeft[i] = finiteOrZeroScalar(left);
        outRight[i] = finiteOrZeroScalar(right);
    }
}

// The four-lane paths' sums (SSE2, SIMD128) over the frames from on, one at a
// time: lanes 0-3 in group[0], 4-7 in group[1], in lane order from +0.
inline void sumFourLanesFrom(int32_t from, const float* const group[2], uint32_t mask, int32_t n, float* out) {
    for (int32_t i = from; i < n; ++i) {
        float sum = 0.0f;
        for (int32_t v = 0; v < veltrosa::kLanes; ++v)
            if (mask & (1u << v))
                sum += group[v / 4][i * 4 + v % 4];
        out[i] = finiteOrZeroScalar(sum);
    }
}

// NaN and infinities become 0 (finiteOrZero).
template <class V>
__attribute__((always_inline)) inline typename V::F finiteOrZeroV(typename V::F x) {
    const typename V::I exponent = V::set1i(0x7F800000);
    return V::drop(V::cmpeqi(V::andi(V::bitsOf(x), exponent), exponent), x);
}

// One channel of W lanes: its reader and its state-variable filter.
template <class V>
struct ChannelV {
    using F = typename V::F;
    OscV<V> osc;
    F low, band, high;

    template <class O, class S>
    void load(const O& oscL, const O& oscR, const S& svfL, const S& svfR, int32_t j) {
        osc.load(oscL, oscR, j);
        low = lanesOf<V>(svfL.low + j, svfR.low + j);
        band = lanesOf<V>(svfL.band + j, svfR.band + j);
        high = lanesOf<V>(svfL.high + j, svfR.high + j);
    }
    template <class O, class S>
    void store(O& oscL, O& oscR, S& svfL, S& svfR, int32_t j) const {
        osc.store(oscL, oscR, j);
        toLanes<V>(svfL.low + j, svfR.low + j, low);
        toLanes<V>(svfL.band + j, svfR.band + j, band);
        toLanes<V>(svfL.high + j, svfR.high + j, high);
    }

    // One sample x through the filter with coefficient f; the low-pass output.
    __attribute__((always_inline)) F filter(F x, F f, F damping) {
        low = V::add(low, V::mul(f, band));
        high = V::sub(V::sub(x, low), V::mul(damping, band));
        band = V::add(band, V::mul(f, high));
        return low;
    }
};

// Non-finite parameters can drive filters, smoothing stages or envelope
// levels to NaN or infinity, and parameters out of range can drive a filter
// to a runaway level (with every parameter in range a filter stays within
// about 20, full scale being 1; in range a level never leaves -1..1); such
// state would not come back by itself in good time. Before each block it is
// reset, so the voice sounds again once the values are sane: both filters of
// a voice, a reader's four stages, an envelope's level.
inline bool withinBits(float x, uint32_t limit) {  // |x| <= the float whose bits are limit; false for NaN
    uint32_t bits;
    __builtin_memcpy(&bits, &x, sizeof bits);
    return (bits & 0x7FFFFFFFu) <= limit;
}
constexpr uint32_t kRunawayBits = 0x43800000u;  // 256
constexpr uint32_t kFiniteBits = 0x7F7FFFFFu;   // the largest finite float
constexpr uint32_t kLevelBits = 0x3F800000u;    // 1

template <class S>
void recoverLanes(S& s, int32_t first, int32_t count) {
    auto saneFilter = [](const auto& f, int32_t k) {
        return withinBits(f.low[k], kRunawayBits) && withinBits(f.band[k], kRunawayBits) &&
               withinBits(f.high[k], kRunawayBits);
    };
    auto recoverReader = [](auto& o, int32_t k) {
        if (!(withinBits(o.out[k], kFiniteBits) && withinBits(o.s1[k], kFiniteBits) &&
              withinBits(o.s2[k], kFiniteBits) && withinBits(o.s3[k], kFiniteBits)))
            o.out[k] = o.s1[k] = o.s2[k] = o.s3[k] = 0.0f;
    };
    for (int32_t k = first; k < first + count; ++k) {
        if (!saneFilter(s.left, k) || !saneFilter(s.right, k)) {
            s.left.low[k] = s.left.band[k] = s.left.high[k] = 0.0f;
            s.right.low[k] = s.right.band[k] = s.right.high[k] = 0.0f;
        }
        recoverReader(s.oscLeft, k);
        recoverReader(s.oscRight, k);
        if (!withinBits(s.filterEnv.level[k], kLevelBits))
            s.filterEnv.level[k] = 0.0f;
        if (!withinBits(s.ampEnv.level[k], kLevelBits))
            s.ampEnv.level[k] = 0.0f;
    }
}

// The state of W lanes while a block renders, in locals of the frame loop
// (one aggregate of it all is too large for the compiler to keep in
// registers, and copying it through memory cost a small block more than its
// frames): with voices in lanes both channels, with channel lanes all in
// left (right stays unused).
template <class V>
struct StateV {
    using F = typename V::F;
    static constexpr bool kStereo = !V::kChannelLanes;
    ChannelV<V>& left;
    ChannelV<V>& right;
    EnvV<V>& fenv;
    EnvV<V>& aenv;
    F& vel2;
    F& damping;
    F& cutoffCoef;

    template <class S>
    __attribute__((always_inline)) void load(const S& s, int32_t j) {
        if constexpr (kStereo) {
            left.load(s.oscLeft, s.oscLeft, s.left, s.left, j);
            right.load(s.oscRight, s.oscRight, s.right, s.right, j);
        } else {
            left.load(s.oscLeft, s.oscRight, s.left, s.right, j);
        }
        fenv.load(s.filterEnv, j);
        aenv.load(s.ampEnv, j);
        vel2 = lanesOf<V>(s.velocitySquared + j, s.velocitySquared + j);
        damping = lanesOf<V>(s.damping + j, s.damping + j);
        cutoffCoef = lanesOf<V>(s.cutoffCoef + j, s.cutoffCoef + j);
    }

    template <class S>
    __attribute__((always_inline)) void store(S& s, int32_t j) const {
        if constexpr (kStereo) {
            left.store(s.oscLeft, s.oscLeft, s.left, s.left, j);
            right.store(s.oscRight, s.oscRight, s.right, s.right, j);
        } else {
            left.store(s.oscLeft, s.oscRight, s.left, s.right, j);
        }
        fenv.store(s.filterEnv, j);
        aenv.store(s.ampEnv, j);
        toLanes<V>(s.damping + j, s.damping + j, damping);
        toLanes<V>(s.cutoffCoef + j, s.cutoffCoef + j, cutoffCoef);
    }

    // Whether any lane holds a value recoverLanes would reset: one vector
    // test that passes in nearly every block.
    __attribute__((always_inline)) bool suspect() const {
        using I = typename V::I;
        using M = typename V::M;
        const I magnitude = V::set1i(0x7FFFFFFF);
        auto over = [&](F x, uint32_t limit) __attribute__((always_inline)) {
            return V::cmpgti(V::andi(V::bitsOf(x), magnitude), V::set1i(static_cast<int32_t>(limit)));
        };
        auto channel = [&](const ChannelV<V>& c) __attribute__((always_inline)) {
            M bad = V::mor(over(c.low, kRunawayBits), over(c.band, kRunawayBits));
            bad = V::mor(bad, over(c.high, kRunawayBits));
            bad = V::mor(bad, V::mor(over(c.osc.out, kFiniteBits), over(c.osc.s1, kFiniteBits)));
            return V::mor(bad, V::mor(over(c.osc.s2, kFiniteBits), over(c.osc.s3, kFiniteBits)));
        };
        M bad = V::mor(channel(left), V::mor(over(fenv.level, kLevelBits), over(aenv.level, kLevelBits)));
        if constexpr (kStereo)
            bad = V::mor(bad, channel(right));
        return V::any(bad);
    }
};

// n frames: the readers, the filter with its envelope, velocity and volume
// from frame from on (silence before it), the amplitude envelope over all n
// frames. One loop for everything: the amplitude envelope does not depend on
// the sound, and the channels' and stages' recurrences are independent, so
// each hides the others' latency. An envelope whose lanes all stand still
// (Idle or Sustain) is not stepped; the loop is built for each case, so a
// still envelope's run state takes no registers. Frame i's W lanes go to
// out[0] + i * W (and, with voices in lanes, their right channel to out[1]).
template <class V, bool FilterMoves, bool AmpMoves, bool Wraps, class S>
void renderFrames(S& lanes, int32_t j, const veltrosa::VoiceParams& p, const float* t, int32_t from, int32_t n,
                  float* out0, float* out1) {
    using F = typename V::F;
    constexpr int32_t W = V::W;
    constexpr bool kStereo = StateV<V>::kStereo;
    ChannelV<V> L, R;
    EnvV<V> fenv, aenv;
    F vel2, damping, cutoffCoef;
    StateV<V> state{L, R, fenv, aenv, vel2, damping, cutoffCoef};
    // Any runaway state the last block left is reset before this one: a test
    // at the end of a block waits for the block's last results, and measured
    // about half the fixed cost of a small block.
    state.load(lanes, j);
    if (state.suspect()) {
        recoverLanes(lanes, j, V::kChannelLanes ? V::W / 2 : V::W);
        state.load(lanes, j);
    }
    for (int32_t i = 0; i < from; ++i) {  // silence times any gain, made finite, is +0
        if constexpr (AmpMoves)
            aenv.advance();
        V::storef(out0 + i * W, V::set1f(0.0f));
        if constexpr (kStereo)
            V::storef(out1 + i * W, V::set1f(0.0f));
    }
    out0 += from * W;
    out1 += kStereo ? from * W : 0;
    n -= from;
    if (n == 0) {
        state.store(lanes, j);
        return;
    }
    const F one = V::set1f(1.0f);
    const F envDepth = V::set1f(p.envDepth), cutoff = V::set1f(p.cutoff), resonance = V::set1f(p.resonance);
    const F filterVelocity = V::set1f(p.filterVelocity), ampVelocity = V::set1f(p.ampVelocity);
    const F volume = V::set1f(p.volume);

    // The table is read two frames ahead of the smoothing and the filter, so
    // that each iteration holds independent chains the processor overlaps.
    struct Reads {
        F l1, l2, r1, r2;  // the two reads of each channel for one frame
    };
    auto fetch = [&]() __attribute__((always_inline)) {
        Reads r{};
        L.osc.template fetchTwo<Wraps>(t, r.l1, r.l2);
        if constexpr (kStereo)
            R.osc.template fetchTwo<Wraps>(t, r.r1, r.r2);
        return r;
    };
    // The smoothing stages touch the readers' state only and the rest of a
    // frame everything else, so the smoothing of frame i + 1 runs before the
    // rest of frame i: every value is computed as before, but the processor
    // sees the next frame's independent chains while one frame's wait.
    struct Smoothed {
        F l, r;
    };
    auto smoothed = [&](const Reads& reads) __attribute__((always_inline)) {
        Smoothed s{};
        s.l = L.osc.tick(reads.l1, reads.l2);
        if constexpr (kStereo)
            s.r = R.osc.tick(reads.r1, reads.r2);
        return s;
    };
    auto frame = [&](int32_t i, const Smoothed& s) __attribute__((always_inline)) {
        F l = s.l;
        F r = s.r;
        damping = V::sub(V::set1f(1.1f), resonance);
        if constexpr (FilterMoves)
            fenv.advance();
        const F e = fenv.level;
        const F x = V::add(V::mul(envDepth, V::mul(e, e)), cutoff);
        const F x1 = V::sub(x, one);
        cutoffCoef = V::sub(one, V::mul(x1, x1));
        cutoffCoef = V::add(cutoffCoef, V::mul(V::sub(V::mul(cutoffCoef, vel2), cutoffCoef), filterVelocity));
        const F f = cutoffCoef;
        auto voiced = [&](ChannelV<V> & c, F y) __attribute__((always_inline)) {
            y = c.filter(y, f, damping);
            y = V::add(y, V::mul(V::sub(V::mul(y, vel2), y), ampVelocity));
            return V::mul(y, volume);
        };
        l = voiced(L, l);
        if constexpr (kStereo)
            r = voiced(R, r);
        if constexpr (AmpMoves)
            aenv.advance();
        const F g = V::mul(aenv.level, aenv.level);
        V::storef(out0 + i * W, finiteOrZeroV<V>(V::mul(l, g)));
        if constexpr (kStereo)
            V::storef(out1 + i * W, finiteOrZeroV<V>(V::mul(r, g)));
    };
    Smoothed current = smoothed(fetch());
    if (n == 1) {
        frame(0, current);
    } else {
        Reads next = fetch();
        for (int32_t i = 0; i + 2 < n; ++i) {
            const Reads later = fetch();
            const Smoothed following = smoothed(next);
            frame(i, current);
            current = following;
            next = later;
        }
        const Smoothed last = smoothed(next);
        frame(n - 2, current);
        frame(n - 1, last);
    }

    state.store(lanes, j);
}

// W lanes of s from lane j on (with channel lanes, W / 2 voices), n frames
// (0 <= from <= n, see renderFrames), finite contributions frame by frame;
// then any runaway state reset (recoverLanes).
// Whether a reader of the lanes may reach the table's end within n frames
// (2n steps, and one more for a paired read). Below the end each step
// rounds by at most half a 256th of a table sample; the margin takes a whole
// 256th a step, and one sample more for this estimate's own rounding.
template <class V, class S>
bool mayWrap(const S& s, int32_t j, int32_t n) {
    using F = typename V::F;
    const float count = static_cast<float>(2 * n + 2);
    const F steps = V::set1f(count);
    const F limit = V::set1f(kTableLength - count / 256.0f - 1.0f);
    auto reaches = [&](const auto& l, const auto& r) {
        const F end = V::add(lanesOf<V>(l.position + j, r.position + j),
                             V::mul(lanesOf<V>(l.step + j, r.step + j), steps));
        return V::lessNot(end, limit);  // also where a value is NaN
    };
    if constexpr (V::kChannelLanes)
        return V::any(reaches(s.oscLeft, s.oscRight));
    else
        return V::any(V::mor(reaches(s.oscLeft, s.oscLeft), reaches(s.oscRight, s.oscRight)));
}

template <class V, class S>
void renderLanesWith(S& s, int32_t j, const veltrosa::VoiceParams& p, const float* t, int32_t from, int32_t n,
                     float* out0, float* out1) {
    // Idle and Sustain never change within a block: such lanes need no steps.
    auto still = [&](const auto& e) { return V::allIn(lanesOfi<V>(e.state + j, e.state + j), kIdle, kSustain); };
    const bool filterMoves = !still(s.filterEnv), ampMoves = !still(s.ampEnv);
    if (filterMoves && ampMoves)
        renderFrames<V, true, true, true>(s, j, p, t, from, n, out0, out1);
    else if (filterMoves)
        renderFrames<V, true, false, true>(s, j, p, t, from, n, out0, out1);
    else if (ampMoves)
        renderFrames<V, false, true, true>(s, j, p, t, from, n, out0, out1);
    else if (mayWrap<V>(s, j, n))
        renderFrames<V, false, false, true>(s, j, p, t, from, n, out0, out1);
    else  // a held note's usual block
        renderFrames<V, false, false, false>(s, j, p, t, from, n, out0, out1);
}

}  // namespace
