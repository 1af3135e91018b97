#include "standalone/LiveSound.h"

#include <algorithm>
#include <bit>

namespace veltrosa::standaloneedge {

namespace {

// Bit for bit, as a state file keeps them; Update is a button, not the sound.
bool sameSound(const ParameterValues& a, const ParameterValues& b) {
    for (int32_t i = 0; i < kNumParams; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (i != kParamUpdate && std::bit_cast<uint32_t>(a[k]) != std::bit_cast<uint32_t>(b[k]))
            return false;
    }
    return true;
}

}  // namespace

int presetWithValues(const std::vector<presets::Preset>& bank, const ParameterValues& values) {
    const auto found = std::find_if(bank.begin(), bank.end(),
                                    [&](const presets::Preset& preset) { return sameSound(preset.values, values); });
    return found != bank.end() ? static_cast<int>(found - bank.begin()) : -1;
}

LiveSound::LiveSound(shell::Instrument& shell, const std::vector<presets::Preset>& bank, std::string name,
                     int preset)
    : shell_(shell), bank_(bank), name_(std::move(name)), reference_(shell.values()), latest_(preset) {}

void LiveSound::choose(uint32_t program) {
    if (program >= bank_.size())
        return;
    latest_ = wanted_ = static_cast<int>(program);
    ask();
}

void LiveSound::step(int delta) {
    const int size = static_cast<int>(bank_.size());
    if (size == 0)
        return;
    const int from = latest_ >= 0 ? latest_ : (delta > 0 ? -1 : size);
    choose(static_cast<uint32_t>(((from + delta) % size + size) % size));
}

void LiveSound::ask() {
    if (asked_ >= 0 || wanted_ < 0)
        return;
    asked_ = wanted_;
    wanted_ = -1;
    shell_.switchTo(bank_[static_cast<std::size_t>(asked_)].values);
}

bool LiveSound::follow() {
    if (asked_ < 0 || !shell_.switched())
        return false;
    const presets::Preset& taken = bank_[static_cast<std::size_t>(asked_)];
    name_ = taken.name;
    reference_ = taken.values;
    asked_ = -1;
    ask();
    return true;
}

bool LiveSound::modified() const { return !sameSound(shell_.values(), reference_); }

std::string LiveSound::title() const { return "Veltrosa \u2014 " + name_ + (modified() ? " *" : ""); }

}  // namespace veltrosa::standaloneedge
