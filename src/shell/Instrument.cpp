#include "shell/Instrument.h"

#include <bit>
#include <cmath>
#include <thread>

#include "engine/Midi.h"

namespace veltrosa::shell {

namespace {

constexpr uint64_t kAllValues = (uint64_t{1} << kNumParams) - 1;

std::atomic_ref<float> shared(float& value) { return std::atomic_ref<float>(value); }

}  // namespace

Instrument::Instrument()
    : engine_(std::make_unique<SynthEngine>()), builder_(std::make_unique<TableBuilder>(*engine_)) {}

Instrument::~Instrument() { builder_->stop(); }

bool Instrument::start() { return builder_->start(); }

bool Instrument::switched() const noexcept {
    return switchAsked_.load(std::memory_order_acquire) == switchTaken_.load(std::memory_order_acquire);
}

std::optional<float> Instrument::accepted(int32_t index, double value) noexcept {
    if (!isParam(index) || std::isnan(value))
        return std::nullopt;
    return static_cast<float>(std::clamp(value, kMinValue, kMaxValue));
}

bool Instrument::setValue(int32_t index, double value) noexcept {
    const auto accept = accepted(index, value);
    if (!accept)
        return false;
    const float v = *accept;
    const uint64_t bit = uint64_t{1} << index;
    if (switched()) {
        engine_->setParam(index, v);
    } else {
        // Over the switch's value once its table is taken; set directly if
        // that happened before the audio thread could see this bit.
        shared(*switchValue(index)).store(v, std::memory_order_relaxed);
        setDuringSwitch_.fetch_or(bit, std::memory_order_acq_rel);
        if (switched())
            engine_->setParam(index, v);
    }
    changed_.fetch_or(bit, std::memory_order_acq_rel);
    if (isTrigger(index) && v > kUpdateThreshold)
        builder_->press();
    if (asksForTable(index))
        tableAsked_.store(true, std::memory_order_release);
    return true;
}

float Instrument::value(int32_t index) const noexcept {
    if (!isParam(index))
        return 0.0f;
    if (switched())
        return engine_->param(index);
    // Written through atomic_ref too; reading changes nothing.
    return shared(const_cast<float&>(switchValues_[static_cast<std::size_t>(index)])).load(std::memory_order_relaxed);
}

ParameterValues Instrument::values() const noexcept {
    ParameterValues all{};
    for (int32_t i = 0; i < kNumParams; ++i)
        all[static_cast<std::size_t>(i)] = value(i);
    return all;
}

std::optional<ParameterValues> Instrument::readState(std::span<const unsigned char> bytes) noexcept {
    return decodeSavedState(bytes);
}

bool Instrument::loadState(std::span<const unsigned char> bytes) {
    const auto values = readState(bytes);
    if (!values)
        return false;
    switchTo(*values);
    return true;
}

void Instrument::startFrom(const ParameterValues& values) {
    engine_->setValues(values);
    changed_.fetch_or(kAllValues, std::memory_order_acq_rel);
}

void Instrument::switchTo(const ParameterValues& values) {
    ParameterValues sound = values;
    for (int32_t i = 0; i < kNumParams; ++i) {
        if (isTrigger(i))
            sound[static_cast<std::size_t>(i)] = 0.0f;
        shared(*switchValue(i)).store(sound[static_cast<std::size_t>(i)], std::memory_order_relaxed);
    }
    setDuringSwitch_.store(0, std::memory_order_release);
    const uint32_t tag = switchAsked_.load(std::memory_order_relaxed) + 1;
    switchAsked_.store(tag, std::memory_order_release);
    builder_->switchTo(sound, tag);
}

bool Instrument::prepare(double rate, int32_t maxFrames) {
    if (active() || !(rate >= 1.0 && rate <= 1.0e6) || maxFrames <= 0)
        return false;
    reserveBlock(maxFrames);
    builder_->setSampleRate(rate);  // builds from the values so far, at this rate if it is new
    return true;
}

void Instrument::reserveBlock(int32_t frames) noexcept {
    const int32_t n = std::clamp(frames, 1, SynthEngine::kMaxReservedBlock);
    engine_->reserveBlock(n);
    maxFrames_.store(static_cast<uint32_t>(n), std::memory_order_relaxed);
}

void Instrument::activate() {
    // Until the builder has nothing left: a switch it hands over waits for
    // the block that takes it, and what was asked behind it comes after.
    const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const bool settled = builder_->settle(std::max(left, std::chrono::milliseconds(0)));
        beginBlock();
        if (!settled || (builder_->idle() && !engine_->wavetable().pending()))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    engine_->silenceAll();
    active_.store(true, std::memory_order_release);
}

void Instrument::beginBlock() noexcept {
    if (tableAsked_.exchange(false, std::memory_order_acq_rel))
        builder_->request();
    if (offline_.load(std::memory_order_acquire))
        builder_->settle(kSettleLimit);
    engine_->render(nullptr, nullptr, 0);  // takes a finished table, and a switch's values with it
    const uint32_t taken = engine_->valuesTaken();
    if (taken != tablesTaken_) {
        tablesTaken_ = taken;
        switchTaken_.store(builder_->switched(), std::memory_order_release);
        if (switched()) {
            uint64_t bits = setDuringSwitch_.exchange(0, std::memory_order_acq_rel);
            changed_.fetch_or(bits, std::memory_order_acq_rel);
            bool table = false;
            for (; bits != 0; bits &= bits - 1) {
                const int index = std::countr_zero(bits);
                engine_->setParam(index, shared(*switchValue(index)).load(std::memory_order_relaxed));
                table = table || feedsTable(index);
            }
            if (table)
                builder_->request();
        }
    }
    if (!switched())
        return;  // the voices keep the old sound until the new one's table comes
    uint64_t changed = changed_.exchange(0, std::memory_order_acq_rel);
    if (changed == kAllValues) {
        engine_->updateVoices(kAllParametersChanged);
        return;
    }
    for (; changed != 0; changed &= changed - 1)
        engine_->updateVoices(std::countr_zero(changed));
}

int32_t Instrument::noteOn(int32_t key, double velocity, int32_t offset) noexcept {
    if (key < 0 || key > 127)
        return kNoVoice;
    const long midi = velocity > 0.0 ? std::lround(std::min(velocity, 1.0) * 127.0) : 1;
    return playMidi(0x90, static_cast<uint8_t>(key), static_cast<uint8_t>(std::clamp<long>(midi, 1, 127)), offset);
}

void Instrument::noteOff(int32_t key, int32_t offset) noexcept {
    if (key >= 0 && key <= 127)
        playMidi(0x80, static_cast<uint8_t>(key), 0, offset);
}

int32_t Instrument::playMidi(uint8_t status, uint8_t data1, uint8_t data2, int32_t offset) noexcept {
    if (status < 0x80 || status >= 0xF0)
        return kNoVoice;
    data1 &= 0x7F;
    const int32_t counter = engine_->noteCounter();
    veltrosa::playMidi(*engine_, status, data1, data2 & 0x7F, offset);
    if (engine_->noteCounter() == counter)
        return kNoVoice;
    // The voice that took the note is the one of the newest age.
    for (int32_t v = 0; v < SynthEngine::kNumVoices; ++v) {
        const Voice& voice = engine_->voice(v);
        if (voice.active() && voice.age() == engine_->noteCounter() && voice.note() == data1 - 12)
            return v;
    }
    return kNoVoice;
}

}  // namespace veltrosa::shell
