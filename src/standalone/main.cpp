// veltrosa: the instrument as a standalone JACK program, with its editor in
// a window of its own or headless.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
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
#include "standalone/SessionClient.h"
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

// How long a session manager may take to welcome the program, and then to
// send it the session to open (nsmd sends both at once).
constexpr auto kSessionAnswer = std::chrono::seconds(5);

// Where a session keeps the client's files: the path it gave, plus these.
constexpr const char* kSoundExtension = ".state";
constexpr const char* kWindowExtension = ".window";

// Announced to the server at NSM_URL, and opened what it asked to: the open
// request, with the requests that came before it in later; nullptr (said why)
// to play without a session.
std::unique_ptr<SessionClient> joinSession(const std::string& url, const Options& options, const char* executable,
                                           SessionClient::Request& open,
                                           std::vector<SessionClient::Request>& later) {
    auto session = std::make_unique<SessionClient>(say);
    std::string error;
    const char* capabilities = options.gui ? ":dirty:optional-gui:" : ":dirty:";
    if (!session->announce(url, capabilities, executable, kSessionAnswer, error)) {
        say(error + ": playing without a session");
        return nullptr;
    }
    for (auto end = std::chrono::steady_clock::now() + kSessionAnswer;
         open.path.empty() && quitRequested == 0 && std::chrono::steady_clock::now() < end;) {
        for (auto& request : session->take(std::chrono::milliseconds(100))) {
            if (request.kind == SessionClient::Kind::Open)
                open = std::move(request);
            else
                later.push_back(std::move(request));
        }
    }
    if (open.path.empty()) {
        if (quitRequested == 0)
            say("the session manager sent no session to open: playing without a session");
        return nullptr;
    }
    return session;
}

// The session chooses the sound, the name and the connections; options that
// would too are dropped, in one line.
void dropSessionOptions(Options& options) {
    std::string dropped;
    const auto drop = [&](bool given, const char* name) {
        if (given)
            dropped += std::string(dropped.empty() ? "" : ", ") + name;
    };
    drop(!options.statePath.empty(), "--state");
    drop(options.saveOnQuit, "--save-on-quit");
    drop(!options.preset.empty(), "--preset");
    drop(options.clientName != Options{}.clientName, "--client-name");
    drop(!options.connectMidi.empty(), "--connect-midi");
    drop(!options.connectAudio.empty(), "--connect-audio");
    drop(options.autoConnect, "--auto-connect");
    if (!dropped.empty())
        say("under a session, ignoring " + dropped + ": the session keeps the sound, the name and the connections");
    const Options defaults;
    options.statePath.clear();
    options.saveOnQuit = false;
    options.preset.clear();
    options.clientName = defaults.clientName;
    options.connectMidi.clear();
    options.connectAudio.clear();
    options.autoConnect = false;
}

// The sound a session kept at path: none for a new client (no file yet), and
// none with problem set for a file that is no state of ours.
std::optional<ParameterValues> sessionSound(const std::string& path, std::string& problem) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec)
        return std::nullopt;
    try {
        return readStateFile(path);
    } catch (const FileError& e) {
        problem = e.what();
        return std::nullopt;
    }
}

// The protocol has a new client start hidden, and a known one as it was saved.
bool sessionWindowShown(const std::string& path) {
    try {
        const auto bytes = readWholeFile(path, "window state");
        return std::string(bytes.begin(), bytes.end()) == "shown\n";
    } catch (const FileError&) {
        return false;
    }
}

// Each file whole or not at all; the window's after the sound's.
bool saveSession(const std::string& prefix, const ParameterValues& values, bool windowShown, std::string& error) {
    try {
        writeStateFile(prefix + kSoundExtension, values);
        const std::string window = windowShown ? "shown\n" : "hidden\n";
        writeWholeFile(prefix + kWindowExtension,
                       {reinterpret_cast<const unsigned char*>(window.data()), window.size()});
        return true;
    } catch (const FileError& e) {
        error = e.what();
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
    // Before a session is awaited: a SIGTERM then ends the wait.
    installSignalHandlers();
    std::unique_ptr<SessionClient> session;
    SessionClient::Request open{};
    std::vector<SessionClient::Request> requests;
    if (const char* url = std::getenv("NSM_URL"); url != nullptr && *url != '\0') {
        session = joinSession(url, options, argv[0], open, requests);
        if (quitRequested != 0)
            return kExitOk;
        if (session)
            dropSessionOptions(options);
    }
    std::optional<ParameterValues> sound;
    std::string openProblem;  // the session's file, unreadable: answered once playing
    if (session) {
        sound = sessionSound(open.path + kSoundExtension, openProblem);
    } else {
        try {
            sound = startingSound(options);
        } catch (const FileError& e) {
            say(e.what());
            return kExitState;
        }
    }

    shell::Instrument shell;
    if (sound)
        shell.startFrom(*sound);
    if (!shell.start()) {
        say("cannot start the table builder");
        return kExitFailure;
    }
    JackInstrument jack(shell);
    std::string error;
    // The server hears of a failure before the program ends.
    const auto failOpen = [&](const std::string& why) {
        if (session)
            session->fail("/nsm/client/open", SessionClient::kGeneral, why);
    };
    switch (jack.open(session ? open.clientId : options.clientName, error)) {
    case JackInstrument::OpenResult::Opened:
        break;
    case JackInstrument::OpenResult::NoServer:
        failOpen(error);
        say(error + ": start one first, e.g. `jackd -d alsa` (or with QjackCtl), then run veltrosa again");
        return kExitNoServer;
    case JackInstrument::OpenResult::Failed:
        failOpen(error);
        say(error);
        return kExitFailure;
    }
    // The first cycle plays the loaded sound at the server's rate.
    shell.activate();
    if (!jack.activate(error)) {
        failOpen(error);
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

    auto [name, preset] = startingName(options, shell.values());
    // A sound of the player's own, kept by the session: named after it.
    if (session && sound && preset < 0)
        name = open.sessionName.empty() ? open.clientId : open.sessionName;
    LiveSound live(shell, presets::factoryBank(), name, preset);
    StandaloneParameters parameters(shell);
    EditorWindow window;
    bool windowOpen = false;
    const auto showWindow = [&] {
        windowOpen = window.open(parameters, options.scale, live.title(), error);
        if (!windowOpen)
            say(error + (session ? ": playing without the editor"
                                 : ": playing without the editor (--no-gui to say so; Ctrl-C quits)"));
    };
    if (session ? options.gui && sessionWindowShown(open.path + kWindowExtension) : options.gui)
        showWindow();
    // Under a session: the sound and the window's state, where the session
    // keeps them. Both the server's save and Ctrl+S.
    const auto saveToSession = [&](std::string& why) {
        const ParameterValues values = shell.values();
        if (!saveSession(open.path, values, windowOpen, why))
            return false;
        live.saved(values);
        return true;
    };
    window.onKey([&](WindowKey key) {
        std::string why;
        if (key != WindowKey::Save)
            live.step(key == WindowKey::NextSound ? 1 : -1);
        else if (session) {
            if (!saveToSession(why))
                say(why);
        } else if (options.statePath.empty())
            say("no --state FILE to save the sound to");
        else if (const ParameterValues values = shell.values(); saveSound(options.statePath, values))
            live.saved(values);
    });
    if (session) {
        // Ready to play: the answer to open.
        if (openProblem.empty())
            session->reply("/nsm/client/open", "playing as " + jack.clientName());
        else
            session->fail("/nsm/client/open", SessionClient::kBadProject,
                          openProblem + "; playing the default sound, the file left as it is");
        if (options.gui)
            session->setGuiShown(windowOpen);
    }
    const auto serve = [&](const SessionClient::Request& request) {
        std::string why;
        switch (request.kind) {
        case SessionClient::Kind::Save:
            if (saveToSession(why))
                session->reply("/nsm/client/save", "saved");
            else
                session->fail("/nsm/client/save", SessionClient::kGeneral, why);
            break;
        case SessionClient::Kind::ShowGui:
            if (!windowOpen && options.gui)
                showWindow();
            session->setGuiShown(windowOpen);
            break;
        case SessionClient::Kind::HideGui:
            window.close();
            windowOpen = false;
            session->setGuiShown(false);
            break;
        case SessionClient::Kind::Open:  // one a run: the client refuses others
            break;
        }
    };
    // From 0, not from what came by now: a Program Change sent while the
    // window opened counts as well.
    uint32_t programChanges = 0;
    // About 60 turns a second: the editor's pace, and soon enough to notice
    // a signal or the server's departure.
    while (quitRequested == 0 && !jack.serverGone()) {
        if (windowOpen && !window.idle()) {
            if (!session)
                break;
            // The session's window hides: the program plays on.
            window.close();
            windowOpen = false;
            session->setGuiShown(false);
        }
        if (const uint32_t latest = jack.programChanges(); options.programChange && latest != programChanges) {
            programChanges = latest;
            live.choose(latest & 0x7Fu);
        }
        // After the choice: a save then keeps the sound chosen, its switch
        // under way or not.
        if (session) {
            for (auto& request : session->take())
                requests.push_back(std::move(request));
            for (const auto& request : std::exchange(requests, {}))
                serve(request);
        }
        if (live.follow())
            parameters.showAll();
        if (windowOpen)
            window.setTitle(live.title());
        if (session)
            session->setDirty(live.modified());
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    const bool serverGone = jack.serverGone();
    if (serverGone)
        say("the JACK server went away");
    else if (window.displayLost() && !session)
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
