// MIDI as every edition plays it: the note table and the rules for the few
// messages the instrument answers.
#pragma once

#include <array>
#include <cstdint>

namespace veltrosa {

class SynthEngine;

// Frequencies in Hz of MIDI keys 0..127, filled once per process.
const std::array<float, 128>& noteFrequencyTable();

// Audio thread, real-time safe. One channel message, its bytes as received
// (any channel): note-on and note-off play key - 12 (keys below 12 do
// nothing), velocity 0 is a note-off, controllers 123 and 126 silence every
// voice at once; everything else is ignored. offset: frames into the coming
// block; a negative one counts as 0, one beyond the block carries over.
void playMidi(SynthEngine& engine, uint8_t status, uint8_t data1, uint8_t data2, int32_t offset);

}  // namespace veltrosa
