// The sound a player hears, as the window names it: a factory preset chosen
// by Program Change or the window's keys, or the sound the program started
// from; and whether any value differs from what was last chosen, loaded or
// saved. A choice reaches the voices as the shell switches sounds, its
// values with their table in one block; the name follows once the audio
// thread took them. One choice is under way at a time; the latest waits its turn.
//
// Threads: the main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/State.h"
#include "presets/Bank.h"
#include "shell/Instrument.h"

namespace veltrosa::standaloneedge {

// The place in bank of a preset with the same values (Update aside), or -1.
int presetWithValues(const std::vector<presets::Preset>& bank, const ParameterValues& values);

class LiveSound {
public:
    // bank: outlives this. name: the starting sound's; preset: its place in
    // the bank, or -1 for a sound of the player's own.
    LiveSound(shell::Instrument& shell, const std::vector<presets::Preset>& bank, std::string name, int preset);

    // Preset number program + 1; numbers past the bank change nothing.
    void choose(uint32_t program);
    // delta presets on from the latest choice, past either end of the bank
    // round to the other; from a sound of the player's own, the first (or,
    // going back, the last).
    void step(int delta);
    // Once a turn: true when the engine took a choice (the editor shows its
    // values then).
    bool follow();
    // values were written to the state file: the mark goes.
    void saved(const ParameterValues& values) { reference_ = values; }
    // A value differs from what was last chosen, loaded or saved.
    bool modified() const;
    // "Veltrosa — Frozen Lake", and " *" once modified.
    std::string title() const;

private:
    void ask();

    shell::Instrument& shell_;
    const std::vector<presets::Preset>& bank_;
    std::string name_;
    ParameterValues reference_;
    int latest_;      // the latest choice, as step() goes on from it
    int wanted_ = -1;  // chosen while another was under way
    int asked_ = -1;   // under way until the shell has switched
};

}  // namespace veltrosa::standaloneedge
