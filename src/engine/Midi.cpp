#include "engine/Midi.h"

#include <algorithm>

#include "engine/SynthEngine.h"

namespace veltrosa {

namespace {

std::array<float, 128> computeNoteFrequencies() {
    std::array<float, 128> table{};
    double x = 8.175798915636872;
    for (float& entry : table) {
        entry = static_cast<float>(x);
        x *= 1.059463094359;
    }
    return table;
}

}  // namespace

const std::array<float, 128>& noteFrequencyTable() {
    static const std::array<float, 128> table = computeNoteFrequencies();
    return table;
}

void playMidi(SynthEngine& engine, uint8_t status, uint8_t data1, uint8_t data2, int32_t offset) {
    const int kind = status & 0xF0;
    offset = std::max(offset, 0);
    if (kind == 0x90 || kind == 0x80) {
        const int32_t note = (data1 & 0x7F) - 12;
        if (note < 0)
            return;  // keys 0..11 have no frequency: never started, so never released
        const int velocity = data2 & 0x7F;
        if (kind == 0x80 || velocity == 0)
            engine.noteOff(note, offset);
        else
            engine.noteOn(note, noteFrequencyTable()[static_cast<std::size_t>(note)], velocity, offset);
    } else if (kind == 0xB0 && (data1 == 123 || data1 == 126)) {
        engine.silenceAll();
    }
}

}  // namespace veltrosa
