// veltrosa: the instrument as a standalone JACK program, with its editor in
// a window of its own or headless.
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "standalone/AlsaMidiInput.h"
#include "standalone/EditorWindow.h"
#include "standalone/JackInstrument.h"
#include "standalone/LiveSound.h"
#include "standalone/Options.h"
#include "shell/Instrument.h"
#include "files/Files.h"
#include "presets/Bank.h"

namespace veltrosa::standaloneedge {

namespace {

volatile std::sig_atomic_t quitRequested = 0;
extern "C" void onSignal(int) { quitRequested = 1; }

void say(const std::string& line) { std::fprintf(stderr, "veltrosa: %s\n", line.c_str()); }

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// The sound to start from: the preset's, the state file's, the defaults when
// a file to be saved on quit does not exist yet. Throws FileError.
std::optional<ParameterValues> startingSound(const Options& options) {
    if (!options.preset.empty()) {
        const presets::Preset* preset = presets::findPreset(presets::factoryBank(), options.preset);
        return preset->values;
    }
    if (options.statePath.empty())
        return std::nullopt;
    std::error_code ec;
    if (options.saveOnQuit && !std::filesystem::exists(options.statePath, ec) && !ec) {
        say(options.statePath + " does not exist yet: starting from the default sound");
        return std::nullopt;
    }
    return readStateFile(options.statePath);
}

bool saveSound(const std::string& path, const ParameterValues& values) {
    try {
        writeStateFile(path, values);
        return true;
    } catch (const FileError& e) {
        say(e.what());
        return false;
    }
}

// The starting sound's name and place in the bank (-1 if none): the preset's,
// the state file's stem, or a preset's the defaults equal ("Init" if none).
std::pair<std::string, int> startingName(const Options& options, const ParameterValues& values) {
    const auto& bank = presets::factoryBank();
    if (!options.preset.empty()) {
        const presets::Preset* preset = presets::findPreset(bank, options.preset);
        return {preset->name, static_cast<int>(preset - bank.data())};
    }
    if (!options.statePath.empty())
        return {std::filesystem::path(options.statePath).stem().string(), -1};
    const int preset = presetWithValues(bank, values);
    return {preset >= 0 ? bank[static_cast<std::size_t>(preset)].name : "Init", preset};
}

int run(int argc, char** argv) {
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& e) {
        say(e.message + " (see veltrosa --help)");
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(helpText(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("veltrosa %s\n", VELTROSA_VERSION);
        return kExitOk;
    }
    if (options.listPresets) {
        for (const presets::Preset& preset : presets::factoryBank())
            std::printf("%-16s %s\n", preset.name.c_str(), preset.about.c_str());
        return kExitOk;
    }
    if (!options.preset.empty() && presets::findPreset(presets::factoryBank(), options.preset) == nullptr) {
        say("no factory preset named " + options.preset + " (veltrosa --list-presets lists them)");
        return kExitUsage;
    }
    std::optional<ParameterValues> sound;
    try {
        sound = startingSound(options);
    } catch (const FileError& e) {
        say(e.what());
        return kExitState;
    }

    shell::Instrument shell;
    if (sound)
        shell.startFrom(*sound);
    if (!shell.start()) {
        say("cannot start the table builder");
        return kExitFailure;
    }
    installSignalHandlers();
    JackInstrument jack(shell);
    std::string error;
    switch (jack.open(options.clientName, error)) {
    case JackInstrument::OpenResult::Opened:
        break;
    case JackInstrument::OpenResult::NoServer:
        say(error + ": start one first, e.g. `jackd -d alsa` (or with QjackCtl), then run veltrosa again");
        return kExitNoServer;
    case JackInstrument::OpenResult::Failed:
        say(error);
        return kExitFailure;
    }
    // The first cycle plays the loaded sound at the server's rate.
    shell.activate();
    if (!jack.activate(error)) {
        say(error);
        return kExitFailure;
    }
    AlsaMidiInput alsa;
    if (options.alsaMidi && !alsa.open(jack.clientName(), jack.alsaQueue(), error))
        say(error + ": going on with JACK MIDI only");
    std::vector<std::string> warnings;
    for (const auto& port : options.connectMidi)
        jack.connectMidiFrom(port, warnings);
    jack.connectAudioTo(options.connectAudio, warnings);
    if (options.autoConnect)
        jack.autoConnect(warnings);
    for (const auto& warning : warnings)
        say(warning);

    const auto [name, preset] = startingName(options, shell.values());
    LiveSound live(shell, presets::factoryBank(), name, preset);
    StandaloneParameters parameters(shell);
    EditorWindow window;
    bool windowOpen = false;
    if (options.gui) {
        windowOpen = window.open(parameters, options.scale, live.title(), error);
        if (!windowOpen)
            say(error + ": playing without the editor (--no-gui to say so; Ctrl-C quits)");
    }
    window.onKey([&](WindowKey key) {
        if (key != WindowKey::Save)
            live.step(key == WindowKey::NextSound ? 1 : -1);
        else if (options.statePath.empty())
            say("no --state FILE to save the sound to");
        else if (const ParameterValues values = shell.values(); saveSound(options.statePath, values))
            live.saved(values);
    });
    // From 0, not from what came by now: a Program Change sent while the
    // window opened counts as well.
    uint32_t programChanges = 0;
    // About 60 turns a second: the editor's pace, and soon enough to notice
    // a signal or the server's departure.
    while (quitRequested == 0 && !jack.serverGone()) {
        if (windowOpen && !window.idle())
            break;
        if (const uint32_t latest = jack.programChanges(); options.programChange && latest != programChanges) {
            programChanges = latest;
            live.choose(latest & 0x7Fu);
        }
        if (live.follow())
            parameters.showAll();
        if (windowOpen)
            window.setTitle(live.title());
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    const bool serverGone = jack.serverGone();
    if (serverGone)
        say("the JACK server went away");
    else if (window.displayLost())
        say("the X display went away");
    window.close();
    alsa.close();
    jack.close();
    const bool saved = !options.saveOnQuit || saveSound(options.statePath, shell.values());
    if (serverGone)
        return kExitServerGone;
    return saved ? kExitOk : kExitFailure;
}

}  // namespace

}  // namespace veltrosa::standaloneedge

int main(int argc, char** argv) {
    try {
        return veltrosa::standaloneedge::run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veltrosa: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "veltrosa: unexpected failure\n");
    }
    return veltrosa::standaloneedge::kExitFailure;
}
