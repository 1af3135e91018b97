#include "standalone/Options.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace veltrosa::standaloneedge {

namespace {

enum LongOnly {
    kNoGui = 256,
    kAlsaMidi,
    kNoProgramChange,
    kScale,
    kState,
    kSaveOnQuit,
    kPreset,
    kListPresets,
    kClientName,
    kConnectMidi,
    kConnectAudio,
    kAutoConnect,
    kVersion,
};

double parseScale(const char* text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value) || value < 0.5 || value > 4.0)
        throw UsageError{std::string("invalid --scale ") + text + ": a number from 0.5 to 4"};
    return value;
}

std::vector<std::string> splitPorts(const std::string& text) {
    const auto comma = text.find(',');
    std::vector<std::string> ports{text.substr(0, comma)};
    if (comma != std::string::npos)
        ports.push_back(text.substr(comma + 1));
    for (const auto& p : ports)
        if (p.empty() || p.find(',') != std::string::npos)
            throw UsageError{"invalid --connect-audio " + text + ": one or two ports, PORT[,PORT]"};
    return ports;
}

}  // namespace

Options parseOptions(int argc, char** argv) {
    static const option longOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {"no-gui", no_argument, nullptr, kNoGui},
        {"alsa-midi", no_argument, nullptr, kAlsaMidi},
        {"no-program-change", no_argument, nullptr, kNoProgramChange},
        {"scale", required_argument, nullptr, kScale},
        {"state", required_argument, nullptr, kState},
        {"save-on-quit", no_argument, nullptr, kSaveOnQuit},
        {"preset", required_argument, nullptr, kPreset},
        {"list-presets", no_argument, nullptr, kListPresets},
        {"client-name", required_argument, nullptr, kClientName},
        {"connect-midi", required_argument, nullptr, kConnectMidi},
        {"connect-audio", required_argument, nullptr, kConnectAudio},
        {"auto-connect", no_argument, nullptr, kAutoConnect},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    opterr = 0;  // our own one-line messages
    optind = 1;
    for (;;) {
        const int previous = optind;
        const int c = getopt_long(argc, argv, ":h", longOptions, nullptr);
        if (c == -1)
            break;
        switch (c) {
        case 'h':
            options.help = true;
            break;
        case kVersion:
            options.version = true;
            break;
        case kNoGui:
            options.gui = false;
            break;
        case kAlsaMidi:
            options.alsaMidi = true;
            break;
        case kNoProgramChange:
            options.programChange = false;
            break;
        case kScale:
            options.scale = parseScale(optarg);
            break;
        case kState:
            options.statePath = optarg;
            break;
        case kSaveOnQuit:
            options.saveOnQuit = true;
            break;
        case kPreset:
            options.preset = optarg;
            break;
        case kListPresets:
            options.listPresets = true;
            break;
        case kClientName:
            options.clientName = optarg;
            if (options.clientName.empty())
                throw UsageError{"--client-name needs a name"};
            break;
        case kConnectMidi:
            options.connectMidi.emplace_back(optarg);
            break;
        case kConnectAudio:
            options.connectAudio = splitPorts(optarg);
            break;
        case kAutoConnect:
            options.autoConnect = true;
            break;
        case ':':
            throw UsageError{std::string(argv[previous]) + " needs an argument"};
        default:
            throw UsageError{std::string("unknown option ") + argv[previous]};
        }
    }
    if (optind < argc)
        throw UsageError{std::string("unexpected argument ") + argv[optind]};
    if (options.saveOnQuit && options.statePath.empty())
        throw UsageError{"--save-on-quit needs --state FILE"};
    // Both would choose the starting sound; with --save-on-quit the file is
    // only where it goes.
    if (!options.preset.empty() && !options.statePath.empty() && !options.saveOnQuit)
        throw UsageError{"--preset and --state both choose the sound to start from; give one"};
    return options;
}

const char* helpText() {
    return R"(Usage: veltrosa [OPTION]...
Plays Veltrosa as a JACK client: MIDI in from JACK (and ALSA), stereo out,
with its editor in a window of its own, titled with the sound's name.

      --no-gui               run without the editor (Ctrl-C quits)
      --scale=F              draw the editor F times larger (0.5 to 4; default
                             from the display's resolution, 96 dpi = 1)
      --client-name=NAME     the JACK (and ALSA) client name (default veltrosa)
      --connect-midi=PORT    connect the JACK MIDI output PORT to the input
                             (may be repeated)
      --connect-audio=L[,R]  connect the outputs to the JACK ports L and R
                             (one port takes both)
      --auto-connect         connect the outputs to the first two physical
                             playback ports, and the first physical MIDI port
                             to the input
      --alsa-midi            also open an ALSA sequencer input port
      --no-program-change    ignore MIDI Program Change messages
      --state=FILE           load the sound from FILE at start (the 192-byte
                             state file veltrosa-render reads and writes)
      --save-on-quit         save the sound back to the --state FILE on quit,
                             as it is then: a preset chosen while playing
                             replaces what FILE held (a missing FILE is
                             created)
      --preset=NAME          start from the factory preset NAME (with --state
                             and --save-on-quit, the sound is saved there)
      --list-presets         list the factory presets and exit
  -h, --help                 show this help and exit
      --version              show the version and exit

Ports: NAME:midi_in, NAME:out_left, NAME:out_right.

Playing live:
  Program Change N (any channel, JACK or ALSA MIDI) plays factory preset N+1
  in --list-presets order; numbers past the last preset change nothing.
  Notes already sounding take the new sound at once.
  In the window, Page Down and Page Up play the next and the previous preset
  (round from the last to the first and back), and Ctrl+S saves the sound to
  the --state FILE. The title reads "Veltrosa - NAME": the preset's name, the
  state file's name, or Init, with a trailing * once the sound differs from
  the preset or from the state last loaded or saved.

In a session:
  Started by a session manager that speaks the Non/New Session Manager
  protocol (NSM_URL set: nsmd with its GUIs, RaySession, ...), veltrosa takes
  the JACK client name the session gives, keeps the sound in the session's
  folder (CLIENT_ID.state, with the window's state in CLIENT_ID.window) and
  saves only when the session saves (or Ctrl+S in the window). The session
  shows and hides the window; closing it hides it and the sound plays on.
  --state, --save-on-quit, --preset, --client-name, --connect-midi,
  --connect-audio and --auto-connect are ignored there: the session keeps
  the sound, the name and the connections. Add it to a session by its
  executable name, veltrosa.

Exit status:
  0  quit by the user (window closed, Ctrl-C, SIGTERM) or the display gone
  1  any other failure
  2  invalid command line or unknown preset
  3  no JACK server running
  4  the JACK server went away while playing (the sound saved if asked)
  5  the state file is missing, unreadable or not a state file
)";
}

}  // namespace veltrosa::standaloneedge
