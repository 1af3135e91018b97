// veltrosa: the instrument as a standalone JACK program, with its editor in
// a window of its own or headless.
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "standalone/AlsaMidiInput.h"
#include "standalone/EditorWindow.h"
#include "standalone/JackInstrument.h"
#include "standalone/Options.h"
#include "rebuild/TableBuilder.h"
#include "files/Files.h"
#include "presets/Bank.h"

namespace veltrosa::app {

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

bool saveSound(const Options& options, const SynthEngine& engine) {
    if (!options.saveOnQuit)
        return true;
    try {
        writeStateFile(options.statePath, engine.values());
        return true;
    } catch (const FileError& e) {
        say(e.what());
        return false;
    }
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

    SynthEngine engine;
    const double startingRate = engine.getSampleRate();
    if (sound)
        engine.setValues(*sound);
    installSignalHandlers();
    TableBuilder builder(engine);
    JackInstrument jack(engine, builder);
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
    // The server's rate builds a table from the loaded sound; at the engine's
    // starting rate nothing did yet.
    if (sound && engine.getSampleRate() == startingRate)
        engine.parameterChanged(kAllParametersChanged);
    if (!builder.start()) {
        say("cannot start the table builder");
        return kExitFailure;
    }
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

    StandaloneParameters parameters(engine, builder);
    EditorWindow window;
    bool windowOpen = false;
    if (options.gui) {
        windowOpen = window.open(parameters, options.scale, error);
        if (!windowOpen)
            say(error + ": playing without the editor (--no-gui to say so; Ctrl-C quits)");
    }
    // About 60 turns a second: the editor's pace, and soon enough to notice
    // a signal or the server's departure.
    while (quitRequested == 0 && !jack.serverGone()) {
        if (windowOpen && !window.idle())
            break;
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
    builder.stop();
    const bool saved = saveSound(options, engine);
    if (serverGone)
        return kExitServerGone;
    return saved ? kExitOk : kExitFailure;
}

}  // namespace

}  // namespace veltrosa::app

int main(int argc, char** argv) {
    try {
        return veltrosa::app::run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veltrosa: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "veltrosa: unexpected failure\n");
    }
    return veltrosa::app::kExitFailure;
}
