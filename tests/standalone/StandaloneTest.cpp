// The standalone program as a user runs it: on a private JACK server (dummy
// driver), played by a MIDI client, recorded by another, its editor in a real
// X server driven with XTEST.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <jack/jack.h>
#include <lo/lo.h>

#include <bit>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <variant>

#include "presets/Bank.h"
#include "JackProbe.h"
#include "TestSupport.h"
#include "engine/Midi.h"
#include "engine/SynthEngine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using jackprobe::Child;

constexpr int kRate = 48000;
constexpr int kPeriod = 256;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<unsigned char> readBytes(const std::string& path) {
    const std::string text = readText(path);
    return {text.begin(), text.end()};
}

void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int lineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// The state file as its layout is published: 48 little-endian floats.
std::vector<unsigned char> stateBytes(const std::vector<float>& values) {
    std::vector<unsigned char> bytes;
    for (float v : values)
        for (int k = 0; k < 4; ++k)
            bytes.push_back(static_cast<unsigned char>(std::bit_cast<uint32_t>(v) >> (8 * k)));
    return bytes;
}

float stateValue(const std::vector<unsigned char>& bytes, int index) {
    uint32_t bits = 0;
    for (int k = 0; k < 4; ++k)
        bits |= static_cast<uint32_t>(bytes[static_cast<std::size_t>(4 * index + k)]) << (8 * k);
    return std::bit_cast<float>(bits);
}

std::vector<float> defaults() {
    std::vector<float> values;
    for (int i = 0; i < veltrosa::kNumParams; ++i)
        values.push_back(veltrosa::defaultParam(i));
    return values;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "veltrosa-app-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : "";
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

bool until(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    for (auto end = std::chrono::steady_clock::now() + limit; !done(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

// Bit for bit: the index of the first sample that differs, or the length.
std::ptrdiff_t firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    return std::mismatch(a.begin(), a.end(), b.begin(),
                         [](float x, float y) { return std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y); })
               .first -
           a.begin();
}

std::unique_ptr<Child> startVeltrosa(const std::vector<std::string>& args, const std::string& log,
                                     const std::map<std::string, std::string>& env = {}) {
    std::vector<std::string> command{std::string(VELTROSA_APP_PATH)};
    command.insert(command.end(), args.begin(), args.end());
    std::string error;
    auto child = Child::start(command, env, log, error);
    EXPECT_TRUE(child) << error;
    return child;
}

// Exit status, the one line it printed, and nothing else; no hang.
TEST(StandaloneFailures, EachSaysWhatWentWrongInOneLineWithItsExitStatus) {
    TempDir dir;
    { std::ofstream(dir / "short.state") << "0123456789"; }
    { std::ofstream(dir / "nan.state", std::ios::binary) << std::string(192, '\xFF'); }
    const std::map<std::string, std::string> noServer{{"JACK_DEFAULT_SERVER", "veltrosa-no-such-server"}};
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"--no-gui"}, 3, "no JACK server is running: start one"},
        {{"--no-gui", "--state", dir / "missing.state"}, 5, "cannot read state file"},
        {{"--no-gui", "--state", dir / "short.state"}, 5, "has 10 bytes"},
        {{"--no-gui", "--state", dir / "nan.state"}, 5, "not a number from 0 to 1"},
        {{"--bogus"}, 2, "unknown option --bogus"},
        {{"--save-on-quit"}, 2, "needs --state"},
        {{"--scale", "9"}, 2, "invalid --scale 9"},
        {{"--connect-audio"}, 2, "needs an argument"},
        {{"--preset", "Glass"}, 2, "no factory preset named Glass"},
        {{"--preset", "Glass Choir", "--state", dir / "short.state"}, 2, "both choose the sound"},
    };
    for (const auto& c : cases) {
        const std::string log = dir / "log";
        auto veltrosa = startVeltrosa(c.args, log, noServer);
        ASSERT_TRUE(veltrosa);
        EXPECT_EQ(veltrosa->wait(10s), c.status) << c.args[0];
        const std::string text = readText(log);
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        EXPECT_EQ(lineCount(text), 1) << text;
    }
    auto help = startVeltrosa({"--help"}, dir / "help");
    ASSERT_EQ(help->wait(10s), 0);
    const std::string text = readText(dir / "help");
    for (const char* option : {"--no-gui", "--scale", "--client-name", "--connect-midi", "--connect-audio",
                               "--auto-connect", "--alsa-midi", "--state", "--save-on-quit", "--preset"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
}

class StandaloneTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        server = jackprobe::PrivateServer::start(kRate, kPeriod, error);
        ASSERT_TRUE(server) << error;
    }

    TempDir dir;
    std::unique_ptr<jackprobe::PrivateServer> server;
};

// The engine's render of the same sound and messages at the same frames, in
// the same cycles. The phase generator starts from the same state in every
// process, so both play the same table when both generated as many before
// it from that state: by default one (at start from the defaults; the
// sound's is the second, for 48 kHz).
std::pair<std::vector<float>, std::vector<float>> engineRender(const std::vector<float>& sound,
                                                               const std::vector<jackprobe::Recorder::Cycle>& cycles,
                                                               const std::vector<jackprobe::TimedMessage>& messages,
                                                               const std::vector<uint32_t>& placed,
                                                               int tablesBefore = 1) {
    veltrosa::phase::restart();
    veltrosa::SynthEngine engine;
    for (int i = 1; i < tablesBefore; ++i)
        engine.regenerate();
    for (int i = 0; i < veltrosa::kNumParams; ++i)
        engine.setParam(i, sound[static_cast<std::size_t>(i)]);
    engine.setSampleRate(kRate);
    std::vector<float> left, right;
    std::size_t next = 0;
    for (const auto& cycle : cycles) {
        for (; next < messages.size() && placed[next] < cycle.start + cycle.frames; ++next) {
            const auto& b = messages[next].bytes;
            veltrosa::playMidi(engine, b[0], b[1], b[2], static_cast<int32_t>(placed[next] - cycle.start));
        }
        std::vector<float> l(cycle.frames), r(cycle.frames);
        engine.render(l.data(), r.data(), static_cast<int32_t>(cycle.frames));
        left.insert(left.end(), l.begin(), l.end());
        right.insert(right.end(), r.begin(), r.end());
    }
    return {left, right};
}

const std::vector<jackprobe::TimedMessage> kOneNote = {{100, {0x90, 60, 100}}, {12000, {0x80, 60, 0}}};

// kOneNote played into the client's input, both outputs recorded to the end.
bool playOneNote(const std::string& client, jackprobe::Recorder& recorder, jackprobe::Sender& keyboard) {
    if (!jackprobe::connectWhenRunning(keyboard.client(), keyboard.portName(), client + ":midi_in", 10s) ||
        jack_connect(recorder.client(), (client + ":out_left").c_str(), recorder.portName(0).c_str()) != 0 ||
        jack_connect(recorder.client(), (client + ":out_right").c_str(), recorder.portName(1).c_str()) != 0)
        return false;
    const jack_nframes_t start = jack_frame_time(recorder.client()) + kRate / 4;
    keyboard.startAt(start);
    recorder.startAt(start);
    const bool played = until([&] { return recorder.full() && keyboard.sent() == kOneNote.size(); });
    recorder.close();
    return played;
}

TEST_F(StandaloneTest, PlaysEveryMessageAtItsFrameAsTheEngineDoesThroughABufferSizeChange) {
    // A sound of its own, from a state file: another spectrum, a darker filter.
    std::vector<float> sound = defaults();
    sound[2] = 0.6f;
    sound[7] = 0.3f;
    sound[veltrosa::kParamCutoff] = 0.3f;
    sound[veltrosa::kParamAmpAttack] = 0.01f;
    writeBytes(dir / "sound.state", stateBytes(sound));
    // A cycle JACK reports late (a loaded machine, a sanitizer's pace) may
    // have gone unplayed: such a run says nothing about the frames, so it is
    // played again, up to three times.
    for (int attempt = 1;; ++attempt) {
        auto veltrosa = startVeltrosa(
            {"--no-gui", "--alsa-midi", "--client-name", "synth", "--state", dir / "sound.state"}, dir / "log");
        // A chord, one more note, two ways to end a note; sorted by frame.
        const std::vector<jackprobe::TimedMessage> messages = {
            {100, {0x90, 60, 100}}, {333, {0x91, 64, 90}},  {1000, {0x90, 67, 110}},
            {9000, {0x90, 71, 64}}, {12000, {0x80, 64, 0}}, {20000, {0x90, 60, 0}},
        };
        jackprobe::Recorder recorder("recorder", 72000);
        jackprobe::Sender keyboard("keyboard", messages);
        ASSERT_TRUE(jackprobe::connectWhenRunning(keyboard.client(), keyboard.portName(), "synth:midi_in", 10s))
            << readText(dir / "log");
        ASSERT_EQ(jack_connect(recorder.client(), "synth:out_left", recorder.portName(0).c_str()), 0);
        ASSERT_EQ(jack_connect(recorder.client(), "synth:out_right", recorder.portName(1).c_str()), 0);
        // Well after the connections: the graph takes them in at a later cycle.
        const jack_nframes_t start = jack_frame_time(recorder.client()) + kRate / 4;
        keyboard.startAt(start);
        recorder.startAt(start);

        ASSERT_TRUE(until([&] { return recorder.recorded() >= 24000; }));
        ASSERT_EQ(jack_set_buffer_size(recorder.client(), 2 * kPeriod), 0);
        ASSERT_TRUE(until([&] { return recorder.full(); }));
        recorder.close();
        ASSERT_EQ(keyboard.sent(), messages.size());

        if (recorder.xruns() > 0 && attempt < 3) {
            veltrosa->signal(SIGINT);
            veltrosa->wait(10s);
            continue;
        }
        const auto [left, right] = engineRender(sound, recorder.cycles(), messages, keyboard.placed());
        ASSERT_EQ(left.size(), recorder.left().size());
        EXPECT_EQ(firstDifference(recorder.left(), left), std::ssize(left));
        EXPECT_EQ(firstDifference(recorder.right(), right), std::ssize(right));

        // The new size took effect, and the notes still sound after it.
        std::size_t pos = 0, longCycles = 0;
        float peakAfter = 0.0f;
        for (const auto& cycle : recorder.cycles()) {
            if (cycle.frames == 2 * kPeriod) {
                ++longCycles;
                for (std::size_t i = pos; i < pos + cycle.frames; ++i)
                    peakAfter = std::max(peakAfter, std::abs(recorder.left()[i]));
            }
            pos += cycle.frames;
        }
        EXPECT_GT(longCycles, 40u);
        EXPECT_GT(peakAfter, 0.01f);

        veltrosa->signal(SIGINT);
        EXPECT_EQ(veltrosa->wait(10s), 0);
        // No sequencer device on the machine: one line says so, and it played.
        if (!fs::exists("/dev/snd/seq")) {
            EXPECT_EQ(readText(dir / "log"),
                      "veltrosa: no ALSA sequencer (No such file or directory): going on with "
                      "JACK MIDI only\n");
        }
        break;
    }
}

TEST_F(StandaloneTest, ServerGoneWhilePlayingExitsWithStatus4AndTheSoundSaved) {
    std::vector<float> values = defaults();
    values[3] = 0.25f;
    values[veltrosa::kParamVolume] = 0.5f;
    const auto bytes = stateBytes(values);
    const std::string state = dir / "sound.state";
    writeBytes(state, bytes);
    auto veltrosa = startVeltrosa({"--no-gui", "--state", state, "--save-on-quit"}, dir / "log");
    {
        jackprobe::Recorder watcher("watcher", 1);
        ASSERT_TRUE(jackprobe::connectWhenRunning(watcher.client(), "veltrosa:out_left", watcher.portName(0), 10s))
            << readText(dir / "log");
    }
    fs::remove(state);
    server->process().signal(SIGTERM);
    EXPECT_EQ(veltrosa->wait(10s), 4);
    EXPECT_EQ(readText(dir / "log"), "veltrosa: the JACK server went away\n");
    EXPECT_EQ(readBytes(state), bytes);
}

// A factory preset is the sound the program starts with, and the one it saves.
TEST_F(StandaloneTest, StartsFromAFactoryPresetAndSavesIt) {
    const std::string state = dir / "organ.state";
    auto veltrosa =
        startVeltrosa({"--no-gui", "--preset", "hollow-organ", "--state", state, "--save-on-quit"}, dir / "log");
    {
        jackprobe::Recorder watcher("watcher", 1);
        ASSERT_TRUE(jackprobe::connectWhenRunning(watcher.client(), "veltrosa:out_left", watcher.portName(0), 10s))
            << readText(dir / "log");
    }
    veltrosa->signal(SIGINT);
    EXPECT_EQ(veltrosa->wait(10s), 0) << readText(dir / "log");
    const auto* organ = veltrosa::presets::findPreset(veltrosa::presets::factoryBank(), "Hollow Organ");
    ASSERT_NE(organ, nullptr);
    const auto chunk = veltrosa::presets::chunkOf(*organ);
    EXPECT_EQ(readBytes(state), std::vector<unsigned char>(chunk.begin(), chunk.end()));
}

// The top-level window the program made, by its class, once it is there.
Window findWindow(Display* display) {
    Window found = 0;
    until(
        [&] {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
            for (unsigned i = 0; i < count && found == 0; ++i) {
                XClassHint hint{};
                XWindowAttributes attributes{};
                if (XGetClassHint(display, children[i], &hint) != 0 && std::string(hint.res_class) == "Veltrosa" &&
                    XGetWindowAttributes(display, children[i], &attributes) != 0 &&
                    attributes.map_state == IsViewable)
                    found = children[i];
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
            XFree(children);
            return found != 0;
        },
        10s);
    return found;
}

// The title as window managers show it (UTF-8), and as the older ones do.
std::pair<std::string, std::string> titles(Display* display, Window window) {
    std::string utf8, ascii;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 256, False,
                           XInternAtom(display, "UTF8_STRING", False), &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr)
        utf8.assign(reinterpret_cast<const char*>(data), count);
    XFree(data);
    char* name = nullptr;
    if (XFetchName(display, window, &name) != 0 && name != nullptr)
        ascii = name;
    XFree(name);
    return {utf8, ascii};
}

bool titleBecomes(Display* display, Window window, const std::string& title) {
    return until([&] { return titles(display, window).first == title; }, 10s);
}

// Where a bar of the editor is, in root coordinates: x, y in client units.
std::pair<int, int> onScreen(Display* display, Window window, double scale, int x, int y) {
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), static_cast<int>(x * scale),
                          static_cast<int>(y * scale), &rootX, &rootY, &child);
    return {rootX, rootY};
}

// Harmonic 6's bar, a quarter of the way down its 60 units: 0.75.
void clickHarmonic6(Display* display, Window window, double scale) {
    const auto [x, y] = onScreen(display, window, scale, 10 + 9 * 5 + 4, 10 + 15);
    XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
    XTestFakeButtonEvent(display, Button1, True, CurrentTime);
    XTestFakeButtonEvent(display, Button1, False, CurrentTime);
    XSync(display, False);
}

// Keys as pressed on the keyboard, the modifier first.
void pressKey(Display* display, KeySym key, KeySym modifier = NoSymbol) {
    const KeyCode code = XKeysymToKeycode(display, key);
    const KeyCode held = modifier != NoSymbol ? XKeysymToKeycode(display, modifier) : 0;
    if (held != 0)
        XTestFakeKeyEvent(display, held, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (held != 0)
        XTestFakeKeyEvent(display, held, False, CurrentTime);
    XSync(display, False);
}

uint32_t pixelAt(Display* display, Window window, int x, int y) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr)
        return 0;
    const auto pixel = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFF;
    XDestroyImage(image);
    return pixel;
}

// The desktop's font resolution, as desktops publish it on the root window.
void setDisplayResolution(Display* x, const char* resources) {
    const Atom property = XInternAtom(x, "RESOURCE_MANAGER", False);
    if (resources == nullptr)
        XDeleteProperty(x, DefaultRootWindow(x), property);
    else
        XChangeProperty(x, DefaultRootWindow(x), property, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(resources), static_cast<int>(std::strlen(resources)));
    XSync(x, False);
}

// The editor drew its background.
bool painted(Display* display, Window window) {
    constexpr uint32_t kBackground = 0x82B4AA;
    return until([&] { return pixelAt(display, window, 2, 2) == kBackground; }, 5s);
}

// As a window manager closes it.
void closeWindow(Display* display, Window window) {
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, window, False, NoEventMask, &close);
    XSync(display, False);
}

// The program's window in a real X server, driven with XTEST.
class StandaloneWindowTest : public StandaloneTest {
protected:
    void SetUp() override {
        StandaloneTest::SetUp();
        if (HasFatalFailure())
            return;
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0')
            SKIP_UNLESS_CI("no X display");
        x = XOpenDisplay(nullptr);
        ASSERT_NE(x, nullptr);
        // A window gone (or not yet shown) fails a check, not the process,
        // which would leave its JACK server to die unattended.
        previousHandler = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        int event = 0, error = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(x, &event, &error, &major, &minor))
            SKIP_UNLESS_CI("no XTEST");
    }
    void TearDown() override {
        if (x != nullptr)
            XCloseDisplay(x);
        XSetErrorHandler(previousHandler);
    }

    Display* x = nullptr;
    XErrorHandler previousHandler = nullptr;
};

TEST_F(StandaloneWindowTest, EditorWindowHasItsSizeAndAClickChangesTheSoundAtAnyScale) {
    struct Case {
        const char* resources;  // the root window's, or none
        std::vector<std::string> args;
        int width, height;
    } cases[] = {
        {nullptr, {}, 305, 370},
        {"Xft.dpi:\t144\n", {}, 458, 555},
        {"Xft.dpi:\t144\n", {"--scale", "2"}, 610, 740},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        setDisplayResolution(x, c.resources);
        const std::string state = dir / ("new" + std::to_string(c.width) + ".state");
        std::vector<std::string> args{"--state", state, "--save-on-quit"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto veltrosa = startVeltrosa(args, dir / "log");
        const Window window = findWindow(x);
        ASSERT_NE(window, 0u) << readText(dir / "log");
        XWindowAttributes attributes{};
        XGetWindowAttributes(x, window, &attributes);
        EXPECT_EQ(attributes.width, c.width);
        EXPECT_EQ(attributes.height, c.height);
        ASSERT_TRUE(painted(x, window));

        clickHarmonic6(x, window, c.width / 305.0);
        std::this_thread::sleep_for(300ms);

        closeWindow(x, window);
        EXPECT_EQ(veltrosa->wait(10s), 0) << readText(dir / "log");
        const auto saved = readBytes(state);
        ASSERT_EQ(saved.size(), 192u);
        EXPECT_NEAR(stateValue(saved, 5), 0.75f, 1.0f / 60.0f);
        EXPECT_EQ(stateValue(saved, 4), veltrosa::defaultParam(4));
    }
    setDisplayResolution(x, nullptr);
}

// A Program Change (on any channel), then a note once the program took it
// in: the note sounds as the engine plays the chosen preset, or as before
// when nothing was to change.
TEST_F(StandaloneWindowTest, ProgramChangePlaysThatPresetFromTheNextNoteAndNothingElseDoes) {
    const auto& bank = veltrosa::presets::factoryBank();
    const std::size_t chosen = 4;
    const std::vector<float> preset(bank[chosen].values.begin(), bank[chosen].values.end());
    struct Case {
        std::vector<std::string> args;
        std::size_t program;
        bool switches;  // with the window, whose title says when
    } cases[] = {
        {{}, chosen, true},
        {{"--no-gui"}, bank.size(), false},  // one past the last preset
        {{"--no-gui", "--no-program-change"}, chosen, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.size());
        // As in the test above, a run with a late cycle is played again.
        for (int attempt = 1;; ++attempt) {
            std::vector<std::string> args{"--client-name", "synth"};
            args.insert(args.end(), c.args.begin(), c.args.end());
            auto veltrosa = startVeltrosa(args, dir / "log");
            jackprobe::Sender programmer("programmer", {{0, {0xC9, static_cast<uint8_t>(c.program), 0}}});
            ASSERT_TRUE(jackprobe::connectWhenRunning(programmer.client(), programmer.portName(), "synth:midi_in", 10s))
                << readText(dir / "log");
            programmer.startAt(jack_frame_time(programmer.client()) + kRate / 4);
            ASSERT_TRUE(until([&] { return programmer.sent() == 1; }));
            if (c.switches) {
                const Window window = findWindow(x);
                ASSERT_TRUE(titleBecomes(x, window, "Veltrosa \u2014 " + bank[chosen].name))
                    << titles(x, window).first;
            } else {
                std::this_thread::sleep_for(500ms);  // time for a table, were one asked for
            }

            jackprobe::Recorder recorder("recorder", 24000);
            jackprobe::Sender keyboard("keyboard", kOneNote);
            ASSERT_TRUE(playOneNote("synth", recorder, keyboard));
            veltrosa->signal(SIGINT);
            EXPECT_EQ(veltrosa->wait(10s), 0) << readText(dir / "log");
            if (recorder.xruns() > 0 && attempt < 3)
                continue;
            // The preset's table is the third the program built, after the
            // defaults' two.
            const auto [left, right] = engineRender(c.switches ? preset : defaults(), recorder.cycles(), kOneNote,
                                                    keyboard.placed(), c.switches ? 2 : 1);
            EXPECT_EQ(firstDifference(recorder.left(), left), std::ssize(left)) << recorder.xruns() << " xruns";
            EXPECT_EQ(firstDifference(recorder.right(), right), std::ssize(right));
            break;
        }
    }
}

// Page Down and Page Up choose the next and the previous preset, round the
// bank's ends; Ctrl+S writes the sound to the state file and the title's mark
// goes.
TEST_F(StandaloneWindowTest, PageKeysChooseThePresetsAndCtrlSSavesTheSound) {
    const auto& bank = veltrosa::presets::factoryBank();
    const std::string state = dir / "mine.state";
    writeBytes(state, stateBytes(defaults()));
    auto veltrosa = startVeltrosa({"--state", state, "--scale", "1"}, dir / "log");
    const Window window = findWindow(x);
    ASSERT_NE(window, 0u) << readText(dir / "log");
    ASSERT_TRUE(painted(x, window));
    ASSERT_TRUE(titleBecomes(x, window, "Veltrosa \u2014 mine"));
    EXPECT_EQ(titles(x, window).second, "Veltrosa - mine");
    XSetInputFocus(x, window, RevertToPointerRoot, CurrentTime);

    const std::string first = "Veltrosa \u2014 " + bank.front().name;
    pressKey(x, XK_Page_Down);
    ASSERT_TRUE(titleBecomes(x, window, first)) << titles(x, window).first;
    clickHarmonic6(x, window, 1.0);
    ASSERT_TRUE(titleBecomes(x, window, first + " *")) << titles(x, window).first;
    pressKey(x, XK_s, XK_Control_L);  // the click gave the editor's window the focus
    ASSERT_TRUE(titleBecomes(x, window, first)) << titles(x, window).first;
    const auto saved = readBytes(state);
    ASSERT_EQ(saved.size(), 192u);
    for (int i = 0; i < veltrosa::kNumParams; ++i) {
        if (i != 5) {
            EXPECT_EQ(stateValue(saved, i), bank.front().values[static_cast<std::size_t>(i)]) << i;
        }
    }
    EXPECT_NEAR(stateValue(saved, 5), 0.75f, 1.0f / 60.0f);

    pressKey(x, XK_Page_Up);
    EXPECT_TRUE(titleBecomes(x, window, "Veltrosa \u2014 " + bank.back().name)) << titles(x, window).first;
    closeWindow(x, window);
    EXPECT_EQ(veltrosa->wait(10s), 0) << readText(dir / "log");
    EXPECT_EQ(readBytes(state), saved);  // saved only when asked
}

// ---- under a session manager ----

// The session manager's side of the protocol, for one client: what the
// client sent, in order; requests sent from the port it listens on, as the
// protocol has it.
class SessionServer {
public:
    struct Message {
        std::string path;
        std::vector<std::string> args;  // numbers in decimal
    };
    using Argument = std::variant<std::string, int>;

    SessionServer() : server_(lo_server_new_with_proto(nullptr, LO_UDP, nullptr)) {
        if (server_ != nullptr)
            lo_server_add_method(server_, nullptr, nullptr, &SessionServer::received, this);
    }
    ~SessionServer() { close(); }
    SessionServer(const SessionServer&) = delete;
    SessionServer& operator=(const SessionServer&) = delete;

    std::map<std::string, std::string> environment() const {
        return {{"NSM_URL", "osc.udp://127.0.0.1:" + std::to_string(lo_server_get_port(server_)) + "/"}};
    }
    // The server goes away, as one that crashed.
    void close() {
        if (client_ != nullptr)
            lo_address_free(std::exchange(client_, nullptr));
        if (server_ != nullptr)
            lo_server_free(std::exchange(server_, nullptr));
    }
    // To the client that sent the last message.
    void send(const std::string& path, std::initializer_list<Argument> args) {
        lo_message message = lo_message_new();
        for (const auto& a : args) {
            if (const auto* s = std::get_if<std::string>(&a))
                lo_message_add_string(message, s->c_str());
            else
                lo_message_add_int32(message, std::get<int>(a));
        }
        EXPECT_GE(lo_send_message_from(client_, server_, path.c_str(), message), 0);
        lo_message_free(message);
    }
    // The next message with that path; the ones before it are passed over.
    std::optional<Message> await(const std::string& path, std::chrono::milliseconds limit = 10s) {
        for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
            while (!inbox_.empty()) {
                Message m = std::move(inbox_.front());
                inbox_.erase(inbox_.begin());
                if (m.path == path)
                    return m;
            }
            lo_server_recv_noblock(server_, 50);
        }
        return std::nullopt;
    }
    // The client's answer to a request: /reply or /error, its path first.
    Message answer(const std::string& request) {
        for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
            for (auto m = inbox_.begin(); m != inbox_.end(); ++m) {
                if ((m->path == "/reply" || m->path == "/error") && !m->args.empty() && m->args[0] == request) {
                    Message found = std::move(*m);
                    inbox_.erase(m);
                    return found;
                }
            }
            lo_server_recv_noblock(server_, 50);
        }
        return {"(none)", {}};
    }
    // Welcomes a client's announce and has it open path as id.
    std::optional<Message> welcome(const std::string& path, const std::string& id) {
        auto announce = await("/nsm/server/announce");
        if (!announce)
            return std::nullopt;
        send("/reply", {"/nsm/server/announce", "Welcome", "Test Session Manager", ":server-control:optional-gui:"});
        send("/nsm/client/open", {path, "song", id});
        return announce;
    }

private:
    static int received(const char* path, const char* types, lo_arg** argv, int argc, lo_message message,
                        void* self) {
        auto& server = *static_cast<SessionServer*>(self);
        Message m{path, {}};
        // Strings in OSC are aligned to 4 bytes only, less than lo_arg is.
        for (int i = 0; i < argc; ++i) {
            int32_t number = 0;
            if (types[i] == LO_INT32)
                std::memcpy(&number, argv[i], sizeof number);
            m.args.push_back(types[i] == LO_STRING  ? std::string(reinterpret_cast<const char*>(argv[i]))
                             : types[i] == LO_INT32 ? std::to_string(number)
                                                    : std::string(1, types[i]));
        }
        server.inbox_.push_back(std::move(m));
        if (server.client_ != nullptr)
            lo_address_free(server.client_);
        const lo_address from = lo_message_get_source(message);
        server.client_ = lo_address_new(lo_address_get_hostname(from), lo_address_get_port(from));
        return 0;
    }

    lo_server server_;
    lo_address client_ = nullptr;
    std::vector<Message> inbox_;
};

using Args = std::vector<std::string>;

class StandaloneSessionTest : public StandaloneTest {
protected:
    SessionServer session;
};

// Announce, open as a new client under the server's ID, save when asked
// (the defaults, the window hidden) and on SIGTERM nothing; the options a
// session decides are dropped in one line.
TEST_F(StandaloneSessionTest, JoinsOpensANewClientUnderItsIdAndSavesOnlyWhenAsked) {
    const std::string ignored = dir / "ignored.state", client = dir / "veltrosa.nTEST";
    auto veltrosa = startVeltrosa({"--state", ignored, "--save-on-quit", "--client-name", "mine", "--auto-connect"},
                                  dir / "log", session.environment());
    const auto announce = session.welcome(client, "veltrosa.nTEST");
    ASSERT_TRUE(announce) << readText(dir / "log");
    EXPECT_EQ(announce->args, (Args{"veltrosa", ":dirty:optional-gui:", VELTROSA_APP_PATH, "1", "1",
                                    std::to_string(veltrosa->pid())}));
    EXPECT_EQ(session.answer("/nsm/client/open").path, "/reply") << readText(dir / "log");
    {
        jackprobe::Recorder watcher("watcher", 1);
        EXPECT_EQ(jack_connect(watcher.client(), "veltrosa.nTEST:out_left", watcher.portName(0).c_str()), 0);
    }
    ASSERT_TRUE(session.await("/nsm/client/gui_is_hidden"));
    ASSERT_TRUE(session.await("/nsm/client/is_clean"));

    session.send("/nsm/client/save", {});
    EXPECT_EQ(session.answer("/nsm/client/save").path, "/reply");
    EXPECT_EQ(readBytes(client + ".state"), stateBytes(defaults()));
    EXPECT_EQ(readText(client + ".window"), "hidden\n");

    fs::remove(client + ".state");
    veltrosa->signal(SIGTERM);
    EXPECT_EQ(veltrosa->wait(10s), 0);
    EXPECT_FALSE(fs::exists(client + ".state"));
    EXPECT_FALSE(fs::exists(ignored));
    EXPECT_EQ(readText(dir / "log"),
              "veltrosa: under a session, ignoring --state, --save-on-quit, --client-name, --auto-connect: the "
              "session keeps the sound, the name and the connections\n");
}

// Requests out of turn or malformed, an unreadable file, a folder that is not
// there, two saves at once, a save during a preset switch, the server gone:
// each answered, nothing half-written, the program playing on.
TEST_F(StandaloneSessionTest, BadRequestsAndFilesGetAnErrorAndLeaveNothingHalfWritten) {
    const auto& bank = veltrosa::presets::factoryBank();
    {
        const std::string client = dir / "missing/veltrosa.nONE";
        auto veltrosa = startVeltrosa({"--no-gui"}, dir / "log", session.environment());
        ASSERT_TRUE(session.await("/nsm/server/announce")) << readText(dir / "log");
        session.send("/reply", {"/nsm/server/announce", "Welcome", "Test", ""});
        session.send("/nsm/client/save", {});
        session.send("/nsm/client/open", {client, 7});
        session.send("/nsm/client/frobnicate", {});
        session.send("/nsm/client/open", {client, "song", "veltrosa.nONE"});
        session.send("/nsm/client/open", {client, "song", "veltrosa.nTWO"});
        struct Case {
            const char* request;
            Args answer;
        } cases[] = {
            {"/nsm/client/save", {"/nsm/client/save", "-8", "nothing is open to save yet"}},
            {"/nsm/client/open",
             {"/nsm/client/open", "-1", "open takes three strings: path, session name, client ID; got 'si'"}},
            // Refused at once; the first is answered once the program plays.
            {"/nsm/client/open",
             {"/nsm/client/open", "-1", "veltrosa opens one session in a run; restart it for another"}},
            {"/nsm/client/open", {"/nsm/client/open", "playing as veltrosa.nONE"}},
        };
        for (const auto& c : cases)
            EXPECT_EQ(session.answer(c.request).args, c.answer);
        session.send("/nsm/client/save", {});
        const auto failed = session.answer("/nsm/client/save");
        EXPECT_EQ(failed.path, "/error");
        ASSERT_EQ(failed.args.size(), 3u);
        EXPECT_EQ(failed.args[1], "-1");
        EXPECT_NE(failed.args[2].find("No such file or directory"), std::string::npos) << failed.args[2];
        EXPECT_FALSE(fs::exists(dir / "missing"));
        // Gone without a word: the program plays on, and quits when told.
        session.close();
        veltrosa->signal(SIGTERM);
        EXPECT_EQ(veltrosa->wait(10s), 0);
        EXPECT_EQ(readText(dir / "log"), "veltrosa: session: ignoring the unexpected message /nsm/client/frobnicate\n");
    }
    SessionServer second;
    const std::string client = dir / "veltrosa.nTWO";
    writeBytes(client + ".state", {1, 2, 3});
    auto veltrosa = startVeltrosa({"--no-gui"}, dir / "log", second.environment());
    ASSERT_TRUE(second.welcome(client, "veltrosa.nTWO")) << readText(dir / "log");
    const auto refused = second.answer("/nsm/client/open");
    EXPECT_EQ(refused.args, (Args{"/nsm/client/open", "-9",
                                  "cannot read state file " + client +
                                      ".state: it has 3 bytes, a state file has 192; playing the default sound, "
                                      "the file left as it is"}));
    EXPECT_EQ(readBytes(client + ".state"), (std::vector<unsigned char>{1, 2, 3}));

    // Two saves as a preset switch starts: the chosen preset's, whole, twice.
    const std::size_t chosen = 5;
    jackprobe::Sender programmer("programmer", {{0, {0xC0, static_cast<uint8_t>(chosen), 0}}});
    ASSERT_TRUE(jackprobe::connectWhenRunning(programmer.client(), programmer.portName(), "veltrosa.nTWO:midi_in", 10s));
    programmer.startAt(jack_frame_time(programmer.client()));
    ASSERT_TRUE(until([&] { return programmer.sent() == 1; }));
    std::this_thread::sleep_for(20ms);  // a few cycles: the program has it
    second.send("/nsm/client/save", {});
    second.send("/nsm/client/save", {});
    EXPECT_EQ(second.answer("/nsm/client/save").args, (Args{"/nsm/client/save", "saved"}));
    EXPECT_EQ(second.answer("/nsm/client/save").args, (Args{"/nsm/client/save", "saved"}));
    const auto chunk = veltrosa::presets::chunkOf(bank[chosen]);
    EXPECT_EQ(readBytes(client + ".state"), std::vector<unsigned char>(chunk.begin(), chunk.end()));
    veltrosa->signal(SIGTERM);
    EXPECT_EQ(veltrosa->wait(10s), 0);
}

class StandaloneSessionWindowTest : public StandaloneWindowTest {
protected:
    SessionServer session;
};

// No window of the program's is shown.
bool windowGone(Display* display) {
    return until(
        [&] {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            bool found = false;
            XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
            for (unsigned i = 0; i < count; ++i) {
                XClassHint hint{};
                XWindowAttributes attributes{};
                found |= XGetClassHint(display, children[i], &hint) != 0 && std::string(hint.res_class) == "Veltrosa" &&
                         XGetWindowAttributes(display, children[i], &attributes) != 0 &&
                         attributes.map_state == IsViewable;
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
            XFree(children);
            return !found;
        },
        10s);
}

// The server shows and hides the editor, closing it hides it; an edit makes
// the client dirty, a save clean; a second program opened from the saved
// files shows its window and plays the saved sound, bit for bit.
TEST_F(StandaloneSessionWindowTest, ShowsHidesMarksDirtySavesAndASecondProgramPlaysWhatWasSaved) {
    const std::string client = dir / "veltrosa.nTEST";
    auto veltrosa = startVeltrosa({"--scale", "1"}, dir / "log", session.environment());
    const auto announce = session.welcome(client, "veltrosa.nTEST");
    ASSERT_TRUE(announce) << readText(dir / "log");
    ASSERT_TRUE(session.await("/nsm/client/gui_is_hidden"));

    session.send("/nsm/client/show_optional_gui", {});
    ASSERT_TRUE(session.await("/nsm/client/gui_is_shown"));
    Window window = findWindow(x);
    ASSERT_NE(window, 0u) << readText(dir / "log");
    ASSERT_TRUE(painted(x, window));
    clickHarmonic6(x, window, 1.0);
    ASSERT_TRUE(session.await("/nsm/client/is_dirty"));
    session.send("/nsm/client/save", {});
    EXPECT_EQ(session.answer("/nsm/client/save").path, "/reply");
    ASSERT_TRUE(session.await("/nsm/client/is_clean"));
    const auto saved = readBytes(client + ".state");
    ASSERT_EQ(saved.size(), 192u);
    EXPECT_NEAR(stateValue(saved, 5), 0.75f, 1.0f / 60.0f);
    EXPECT_EQ(readText(client + ".window"), "shown\n");

    closeWindow(x, window);
    ASSERT_TRUE(session.await("/nsm/client/gui_is_hidden"));
    EXPECT_TRUE(windowGone(x));
    EXPECT_FALSE(veltrosa->wait(100ms));
    session.send("/nsm/client/show_optional_gui", {});
    ASSERT_TRUE(session.await("/nsm/client/gui_is_shown"));
    window = findWindow(x);
    ASSERT_NE(window, 0u) << readText(dir / "log");
    EXPECT_TRUE(painted(x, window));
    session.send("/nsm/client/hide_optional_gui", {});
    ASSERT_TRUE(session.await("/nsm/client/gui_is_hidden")) << readText(dir / "log");
    EXPECT_TRUE(windowGone(x));
    veltrosa->signal(SIGTERM);
    EXPECT_EQ(veltrosa->wait(10s), 0) << readText(dir / "log");
    EXPECT_EQ(readBytes(client + ".state"), saved);

    std::vector<float> sound;
    for (int i = 0; i < veltrosa::kNumParams; ++i)
        sound.push_back(stateValue(saved, i));
    // As in the tests above, a run with a late cycle is played again.
    for (int attempt = 1;; ++attempt) {
        SessionServer next;
        auto again = startVeltrosa({"--scale", "1"}, dir / "log", next.environment());
        ASSERT_TRUE(next.welcome(client, "veltrosa.nTWO")) << readText(dir / "log");
        EXPECT_EQ(next.answer("/nsm/client/open").path, "/reply");
        ASSERT_TRUE(next.await("/nsm/client/gui_is_shown"));
        EXPECT_NE(findWindow(x), 0u);

        jackprobe::Recorder recorder("recorder", 24000);
        jackprobe::Sender keyboard("keyboard", kOneNote);
        ASSERT_TRUE(playOneNote("veltrosa.nTWO", recorder, keyboard));
        again->signal(SIGTERM);
        EXPECT_EQ(again->wait(10s), 0) << readText(dir / "log");
        if (recorder.xruns() > 0 && attempt < 3)
            continue;
        const auto [left, right] = engineRender(sound, recorder.cycles(), kOneNote, keyboard.placed());
        EXPECT_EQ(firstDifference(recorder.left(), left), std::ssize(left)) << recorder.xruns() << " xruns";
        EXPECT_EQ(firstDifference(recorder.right(), right), std::ssize(right));
        break;
    }
}

}  // namespace
