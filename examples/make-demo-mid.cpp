// Writes examples/demo.mid, the pad chord progression `make demo` renders:
//   veltrosa-demo-mid examples/demo.mid
// or the short phrase `make presets-preview` plays on every preset:
//   veltrosa-demo-mid --phrase phrase.mid
// Format 1: a conductor track (tempo, metre, a slowing last bar) and two
// note tracks, chords and bass. Veltrosa sounds a key an octave below its
// standard pitch, so the keys sit an octave higher than they sound.
#include <cstdio>
#include <string_view>
#include <vector>

#include <smf.h>

namespace {

constexpr int kPpqn = 480;
constexpr int kBar = 4 * kPpqn;

struct Chord {
    std::vector<int> keys;
    int bass;
};

const Chord kProgression[] = {
    {{69, 72, 76, 79}, 57},  // A minor seventh
    {{65, 69, 72, 76}, 53},  // F major seventh
    {{67, 71, 72, 76}, 60},  // C major seventh
    {{67, 71, 74, 76}, 55},  // G sixth
    {{69, 71, 72, 76}, 57},  // A minor, added ninth
};

int microsecondsPerQuarter(int bpm) { return 60000000 / bpm; }

void addTempo(smf_track_t* track, int pulses, int bpm) {
    const int us = microsecondsPerQuarter(bpm);
    unsigned char tempo[] = {0xFF,
                             0x51,
                             0x03,
                             static_cast<unsigned char>(us >> 16),
                             static_cast<unsigned char>(us >> 8),
                             static_cast<unsigned char>(us)};
    smf_track_add_event_pulses(track, smf_event_new_from_pointer(tempo, sizeof tempo), pulses);
}

void addNote(smf_track_t* track, int key, int velocity, int start, int length) {
    smf_track_add_event_pulses(track, smf_event_new_from_bytes(0x90, key, velocity), start);
    smf_track_add_event_pulses(track, smf_event_new_from_bytes(0x80, key, 0), start + length);
}

// Six seconds at 90 a minute: a chord swells for two beats, a melody climbs
// over it, and the chord is let go to show the release.
int writePhrase(const char* path) {
    smf_t* smf = smf_new();
    if (smf == nullptr || smf_set_ppqn(smf, kPpqn) != 0)
        return 1;
    smf_track_t* track = smf_track_new();
    smf_add_track(smf, track);
    addTempo(track, 0, 90);
    for (int key : {60, 67, 71, 76})
        addNote(track, key, 96, 0, 6 * kPpqn);
    int beat = 2;
    for (int key : {79, 81, 83, 84})
        addNote(track, key, 100, kPpqn * beat++, kPpqn - kPpqn / 8);
    const int end = 9 * kPpqn;
    const int status = smf_track_add_eot_pulses(track, end) == 0 ? smf_save(smf, path) : 1;
    smf_delete(smf);
    if (status != 0)
        std::fprintf(stderr, "veltrosa-demo-mid: cannot write %s\n", path);
    return status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--phrase")
        return writePhrase(argv[2]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: veltrosa-demo-mid [--phrase] OUTPUT.mid\n");
        return 2;
    }
    smf_t* smf = smf_new();
    if (smf == nullptr || smf_set_ppqn(smf, kPpqn) != 0)
        return 1;
    smf_track_t* conductor = smf_track_new();
    smf_track_t* chords = smf_track_new();
    smf_track_t* bass = smf_track_new();
    smf_add_track(smf, conductor);
    smf_add_track(smf, chords);
    smf_add_track(smf, bass);

    unsigned char metre[] = {0xFF, 0x58, 0x04, 4, 2, 24, 8};
    smf_track_add_event_pulses(conductor, smf_event_new_from_pointer(metre, sizeof metre), 0);
    addTempo(conductor, 0, 84);
    const int bars = static_cast<int>(std::size(kProgression));
    addTempo(conductor, (bars - 1) * kBar, 66);  // the last chord lingers

    for (int bar = 0; bar < bars; ++bar) {
        const Chord& chord = kProgression[bar];
        const int start = bar * kBar;
        // Held a little short of the bar, so each chord breathes out before the next.
        const int length = kBar - kPpqn / 4;
        int velocity = 84;
        for (int key : chord.keys)
            addNote(chords, key, velocity -= 4, start, length);
        addNote(bass, chord.bass, 92, start, length);
    }
    const int end = bars * kBar;
    if (smf_track_add_eot_pulses(conductor, end) != 0 || smf_track_add_eot_pulses(chords, end) != 0 ||
        smf_track_add_eot_pulses(bass, end) != 0)
        return 1;
    const int status = smf_save(smf, argv[1]);
    smf_delete(smf);
    if (status != 0) {
        std::fprintf(stderr, "veltrosa-demo-mid: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
