// veltrosa-render end to end: small MIDI files written here with the same
// library the renderer reads them with, the renderer run as a user runs it,
// and its WAV files read back.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <smf.h>
#include <sndfile.h>

#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;

struct MidiEvent {
    int track;
    int pulses;
    std::vector<unsigned char> bytes;
};

std::vector<unsigned char> tempo(int bpm) {
    const int us = 60000000 / bpm;
    return {0xFF,
            0x51,
            0x03,
            static_cast<unsigned char>(us >> 16),
            static_cast<unsigned char>(us >> 8),
            static_cast<unsigned char>(us)};
}

void writeMidi(const fs::path& path, int ppqn, int tracks, const std::vector<MidiEvent>& events) {
    smf_t* smf = smf_new();
    ASSERT_EQ(smf_set_ppqn(smf, ppqn), 0);
    std::vector<smf_track_t*> list;
    for (int t = 0; t < tracks; ++t) {
        list.push_back(smf_track_new());
        smf_add_track(smf, list.back());
    }
    int end = 0;
    for (const MidiEvent& e : events) {
        std::vector<unsigned char> bytes = e.bytes;
        smf_track_add_event_pulses(list.at(static_cast<std::size_t>(e.track)),
                                   smf_event_new_from_pointer(bytes.data(), static_cast<int>(bytes.size())), e.pulses);
        end = std::max(end, e.pulses);
    }
    for (smf_track_t* track : list)
        ASSERT_EQ(smf_track_add_eot_pulses(track, end), 0);
    ASSERT_EQ(smf_save(smf, path.c_str()), 0);
    smf_delete(smf);
}

struct Wav {
    SF_INFO info{};
    std::vector<float> samples;  // interleaved stereo
    std::size_t frames() const { return samples.size() / 2; }
    float at(std::size_t frame, int channel) const { return samples[2 * frame + static_cast<std::size_t>(channel)]; }
    bool silentBefore(std::size_t frame) const {
        return std::all_of(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(2 * frame),
                           [](float s) { return s == 0.0f; });
    }
    bool soundsWithin(std::size_t from, std::size_t to) const {
        return std::any_of(samples.begin() + static_cast<std::ptrdiff_t>(2 * from),
                           samples.begin() + static_cast<std::ptrdiff_t>(2 * std::min(to, frames())),
                           [](float s) { return s != 0.0f; });
    }
};

Wav readWav(const fs::path& path) {
    Wav wav;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &wav.info);
    EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    if (file == nullptr)
        return wav;
    wav.samples.resize(static_cast<std::size_t>(wav.info.frames * wav.info.channels));
    EXPECT_EQ(sf_readf_float(file, wav.samples.data(), wav.info.frames), wav.info.frames);
    sf_close(file);
    return wav;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    return text.str();
}

void writeBytes(const fs::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Result {
    int status = -1;
    std::string out, err;
};

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltrosa-render-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    Result run(const std::vector<std::string>& args, const std::string& environment = "") {
        std::string command = environment + " " + quote(VELTROSA_RENDER_PATH);
        for (const auto& a : args)
            command += " " + quote(a);
        command += " >" + quote(dir / "stdout") + " 2>" + quote(dir / "stderr");
        const int raw = std::system(command.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = readText(dir / "stdout");
        r.err = readText(dir / "stderr");
        fs::remove(dir / "stdout");
        fs::remove(dir / "stderr");
        return r;
    }

    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.insert(entry.path().filename().string());
        return names;
    }

    // One note at `onFrame`, off at `offFrame`, at 120 quarter notes a
    // minute with 441 pulses each: every pulse is exactly 50 frames.
    fs::path noteFile(const std::string& name, int onFrame, int offFrame) {
        const fs::path path = dir / name;
        writeMidi(path, 441, 1, {{0, onFrame / 50, {0x90, 60, 100}}, {0, offFrame / 50, {0x80, 60, 0}}});
        return path;
    }

    fs::path dir;
};

}  // namespace

TEST_F(Render, NoteStartsOnItsFrameAndBlockSizeChangesNothing) {
    // 22050 and 34850 lie 34 frames into a block of 64 and of 512 alike;
    // 25600 and 38400 start a block of either: an event exactly on a block
    // boundary goes out with the block it starts.
    const struct { int on, off; } notes[] = {{22050, 34850}, {25600, 38400}};
    for (const auto& note : notes) {
        const auto midi = noteFile("note.mid", note.on, note.off);
        std::vector<Wav> renders;
        for (const char* block : {"64", "512"}) {
            const auto out = dir / (std::string("b") + block + ".wav");
            const Result r = run({midi, "-o", out, "--block-size", block, "--tail", "1"});
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");  // no progress bar when stderr is not a terminal
            EXPECT_NE(r.out.find(out.string()), std::string::npos) << r.out;
            renders.push_back(readWav(out));
            const Wav& wav = renders.back();
            EXPECT_EQ(wav.info.samplerate, kRate);
            EXPECT_EQ(wav.info.channels, 2);
            EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
            EXPECT_TRUE(wav.silentBefore(static_cast<std::size_t>(note.on))) << block;
            EXPECT_TRUE(wav.soundsWithin(static_cast<std::size_t>(note.on), static_cast<std::size_t>(note.on) + 8))
                << block;
        }
        EXPECT_EQ(renders[0].samples, renders[1].samples) << note.on;
        // Nothing of the moment of writing goes into the file.
        EXPECT_EQ(readText(dir / "b64.wav"), readText(dir / "b512.wav")) << note.on;
    }
}

TEST_F(Render, TempoChangesMoveTheOnset) {
    // A note on the third beat (pulse 960 at 480 a beat): 1 s at 120 a
    // minute; 1.5 s when the second beat slows to 60.
    const auto steady = dir / "steady.mid";
    const auto slowing = dir / "slowing.mid";
    const auto single = dir / "single.mid";
    writeMidi(steady, 480, 2, {{0, 0, tempo(120)}, {1, 960, {0x90, 60, 100}}, {1, 1920, {0x80, 60, 0}}});
    writeMidi(slowing, 480, 2,
              {{0, 0, tempo(120)}, {0, 480, tempo(60)}, {1, 960, {0x90, 60, 100}}, {1, 1920, {0x80, 60, 0}}});
    // One track holding everything, with messages the instrument ignores.
    writeMidi(single, 480, 1,
              {{0, 0, tempo(120)},
               {0, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
               {0, 0, {0xC1, 5}},
               {0, 100, {0xE1, 0, 0x40}},
               {0, 480, tempo(60)},
               {0, 960, {0x91, 60, 100}},
               {0, 1920, {0x81, 60, 0}}});
    const std::pair<fs::path, std::size_t> cases[] = {{steady, 44100}, {slowing, 66150}, {single, 66150}};
    for (const auto& [midi, onset] : cases) {
        const auto out = dir / "out.wav";
        ASSERT_EQ(run({midi, "-o", out, "-t", "0.5"}).status, 0) << midi;
        const Wav wav = readWav(out);
        ASSERT_GT(wav.frames(), onset) << midi;
        EXPECT_TRUE(wav.silentBefore(onset)) << midi;
        EXPECT_TRUE(wav.soundsWithin(onset, onset + 8)) << midi;
    }
}

TEST_F(Render, TailStopsAtSilenceOrAtItsEnd) {
    const auto midi = noteFile("note.mid", 0, 22050);
    const auto out = dir / "out.wav";
    ASSERT_EQ(run({midi, "-o", out, "--tail", "0"}).status, 0);
    EXPECT_EQ(readWav(out).frames(), 22050u);
    ASSERT_EQ(run({midi, "-o", out, "--tail", "0.1"}).status, 0);
    EXPECT_EQ(readWav(out).frames(), 22050u + 4410u);  // still releasing when the tail ends
    // Released quickly, then a quarter second of silence ends it.
    ASSERT_EQ(run({midi, "-o", out, "--param", "45=0", "--tail", "30"}).status, 0);
    const Wav wav = readWav(out);
    EXPECT_TRUE(wav.soundsWithin(0, 22050));
    EXPECT_GE(wav.frames(), 22050u + 11025u);
    EXPECT_LT(wav.frames(), 22050u + 22050u);
}

TEST_F(Render, SampleFormatsAndRates) {
    const auto midi = noteFile("note.mid", 0, 4400);
    const std::tuple<const char*, const char*, int> cases[] = {{"float", "48000", SF_FORMAT_FLOAT},
                                                               {"pcm24", "44100", SF_FORMAT_PCM_24},
                                                               {"pcm16", "22050", SF_FORMAT_PCM_16}};
    for (const auto& [format, rate, subtype] : cases) {
        const auto out = dir / (std::string(format) + ".wav");
        const Result r = run({midi, "-o", out, "--format", format, "--sample-rate", rate, "-t", "0"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Wav wav = readWav(out);
        EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | subtype) << format;
        EXPECT_EQ(wav.info.samplerate, std::atoi(rate)) << format;
        EXPECT_EQ(wav.info.channels, 2);
        // The MIDI clock is in seconds, not frames.
        EXPECT_EQ(wav.frames(), static_cast<std::size_t>(std::llround(4400.0 * std::atoi(rate) / kRate))) << format;
        // Another reader finds nothing amiss in the header (sox warns of
        // float data in a format chunk without its extension size).
        const std::string sox = "sox -V2 " + quote(out) + " -n 2>" + quote(dir / "sox.txt");
        EXPECT_EQ(std::system(sox.c_str()), 0) << format;
        EXPECT_EQ(readText(dir / "sox.txt"), "") << format;
    }
}

TEST_F(Render, StateRoundTripsBitExactly) {
    const auto first = dir / "first.state";
    const auto second = dir / "second.state";
    ASSERT_EQ(
        run({"--param", "volume=0.3", "--param", "harmonic_6=0.7", "--param", "39=1.5", "--save-state", first}).status,
        0);
    const std::string saved = readText(first);
    ASSERT_EQ(saved.size(), 192u);
    float values[48];
    std::memcpy(values, saved.data(), sizeof values);
    EXPECT_EQ(values[47], 0.3f);
    EXPECT_EQ(values[5], 0.7f);
    EXPECT_EQ(values[39], 1.5f);
    EXPECT_EQ(values[0], 1.0f);

    ASSERT_EQ(run({"--load-state", first, "--save-state", second}).status, 0);
    EXPECT_EQ(readText(second), saved);

    const Result listed = run({"--load-state", first, "--list-params"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const auto row = listed.out.find("\n   47  Volume ");
    ASSERT_NE(row, std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find(" Ynk    0.300000", row), std::string::npos) << listed.out;
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 49);
}

TEST_F(Render, BadInputFailsWithOneLineAndLeavesFilesAlone) {
    const auto midi = noteFile("note.mid", 0, 4400);
    const auto out = dir / "out.wav";
    writeBytes(out, {'k', 'e', 'e', 'p'});
    writeBytes(dir / "garbage.mid", {'h', 'e', 'l', 'l', 'o', '\n'});
    writeBytes(dir / "fake.so", {'n', 'o', 't', ' ', 'E', 'L', 'F'});
    std::vector<unsigned char> truncated = {'M',  'T', 'h', 'd', 0,   0, 0, 6, 0,    0, 0,    1, 1,
                                            0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 0x40, 0, 0x90, 60};
    writeBytes(dir / "truncated.mid", truncated);
    writeBytes(dir / "short.state", std::vector<unsigned char>(191, 0));
    writeBytes(dir / "long.state", std::vector<unsigned char>(193, 0));
    writeBytes(dir / "empty.state", {});
    const std::string o = out.string(), m = midi.string(), d = dir.string();

    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{m, "-o", o, "--plugin", d + "/missing.so"}, 3, "cannot load plug-in"},
        {{m, "-o", o, "--plugin", d + "/fake.so"}, 3, "cannot load plug-in"},
        {{m, "-o", o, "--plugin", d}, 3, "cannot load plug-in"},
        {{d + "/missing.mid", "-o", o}, 4, "cannot read MIDI file"},
        {{d + "/garbage.mid", "-o", o}, 4, "not a Standard MIDI File"},
        {{d + "/truncated.mid", "-o", o}, 4, "truncated"},
        {{d, "-o", o}, 4, "cannot read MIDI file"},
        {{m, "-o", o, "--load-state", d + "/missing.state"}, 5, "cannot read state file"},
        {{m, "-o", o, "--load-state", d + "/short.state"}, 5, "191 bytes, which the plug-in rejects"},
        {{m, "-o", o, "--load-state", d + "/long.state"}, 5, "193 bytes, which the plug-in rejects"},
        {{m, "-o", o, "--load-state", d + "/empty.state"}, 5, "0 bytes, which the plug-in rejects"},
        {{m, "-o", o, "--bogus"}, 2, "unknown option '--bogus'"},
        {{m, "-o", o, "-Z"}, 2, "unknown option '-Z'"},
        {{m, "-o"}, 2, "requires an argument"},
        {{m}, 2, "no output file given"},
        {{}, 2, "no MIDI file given"},
        {{m, "extra.mid", "-o", o}, 2, "unexpected argument"},
        {{m, "-o", o, "--format", "mp3"}, 2, "invalid --format"},
        {{m, "-o", o, "--sample-rate", "fast"}, 2, "invalid value for --sample-rate"},
        {{m, "-o", o, "--block-size", "0"}, 2, "invalid value for --block-size"},
        {{m, "-o", o, "--tail", "-1"}, 2, "invalid value for --tail"},
        {{m, "-o", o, "--param", "47"}, 2, "invalid --param"},
        {{m, "-o", o, "--param", "48=0.5"}, 2, "48 parameters"},
        {{m, "-o", o, "--param", "x=0.5"}, 2, "unknown parameter 'x' for --param (an index or one of: harmonic_1, "},
        {{m, "-o", o, "--param", "-1=0.5"}, 2, "unknown parameter '-1'"},
        {{m, "-o", d + "/no/such/dir/out.wav"}, 6, "cannot write"},
        {{m, "-o", d}, 6, "is a directory"},
        {{m, "-o", o, "--save-state", d + "/no/such/dir/s.state"}, 6, "cannot write"},
        {{"--editor-png", d + "/no/such/dir/e.png"}, 6, "cannot write"},
    };
    const auto before = files();
    for (const Case& c : cases) {
        const Result r = run(c.args);
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        EXPECT_EQ(r.status, c.status) << joined << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("veltrosa-render: ", 0), 0u) << joined << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << joined << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << "\n" << r.err;
        EXPECT_EQ(r.out, "") << joined;
        EXPECT_EQ(readText(out), "keep") << joined;
        EXPECT_EQ(files(), before) << joined;  // no temporary file left behind
    }
}

TEST_F(Render, ReplacesAnExistingFileOnlyWhenDone) {
    const auto midi = noteFile("note.mid", 0, 4400);
    const auto out = dir / "out.wav";
    writeBytes(out, {'o', 'l', 'd'});
    ASSERT_EQ(run({midi, "-o", out, "-t", "0", "-q"}).status, 0);
    EXPECT_EQ(readWav(out).frames(), 4400u);
    EXPECT_EQ(files(), (std::set<std::string>{"note.mid", "out.wav"}));
    const auto mode = fs::status(out).permissions();
    EXPECT_NE(mode & fs::perms::owner_read, fs::perms::none);
    EXPECT_NE(mode & fs::perms::others_read, fs::perms::none);  // not the temporary file's private mode
}

TEST_F(Render, InterruptedRenderLeavesTheOldFile) {
    const auto midi = noteFile("hour.mid", 0, 3600 * kRate);
    const auto out = dir / "out.wav";
    writeBytes(out, {'k', 'e', 'e', 'p'});
    const auto before = files();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(VELTROSA_RENDER_PATH, VELTROSA_RENDER_PATH, midi.c_str(), "-o", out.c_str(), "-f", "pcm16", "-t", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // Interrupt it as soon as its temporary file exists beside the target.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (files().size() == before.size() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const bool temporaryAppeared = files().size() > before.size();
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(temporaryAppeared);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    // The size first: a render that ran to its end wrote hundreds of megabytes.
    ASSERT_EQ(fs::file_size(out), 4u);
    EXPECT_EQ(readText(out), "keep");
    EXPECT_EQ(files(), before);
}

TEST_F(Render, EditorPictureShowsTheState) {
    const auto png = dir / "editor.png";
    const Result r = run({"--param", "47=0.9", "--editor-png", png});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bytes = readText(png);
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1A\n");
    auto be32 = [&](std::size_t at) {
        return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
               uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
    };
    EXPECT_EQ(be32(16), 305u);
    EXPECT_EQ(be32(20), 370u);
    // Another value, another picture.
    const auto other = dir / "other.png";
    ASSERT_EQ(run({"--param", "47=0.1", "--editor-png", other}).status, 0);
    EXPECT_NE(readText(other), bytes);

    const char* amsynth = "/usr/lib/vst/amsynth_vst.so";
    if (fs::exists(amsynth)) {
        const auto refused = dir / "refused.png";
        const Result wrong = run({"--plugin", amsynth, "--editor-png", refused}, "ASAN_OPTIONS=detect_leaks=0");
        EXPECT_EQ(wrong.status, 3);
        EXPECT_NE(wrong.err.find("Veltrosa's editor"), std::string::npos) << wrong.err;
        EXPECT_FALSE(fs::exists(refused));
    } else if (testing_support::inContinuousIntegration()) {
        ADD_FAILURE() << amsynth << " is not installed (CI must provide it)";
    }
}

TEST_F(Render, HelpAndVersion) {
    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: veltrosa-render [OPTION]... MIDIFILE -o OUTPUT.wav\n", 0), 0u);
    for (const char* text :
         {"--plugin=PATH", "--format=FORMAT", "--sample-rate=HZ", "--block-size=FRAMES", "--tail=SECONDS",
          "--param=KEY=VALUE", "--load-state=FILE", "--save-state=FILE", "--list-params", "--editor-png=FILE",
          "--spectrum-png=FILE", "--preset=NAME", "--program=N", "--list-presets", "Exit status:"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    EXPECT_EQ(help.err, "");
    const Result version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("veltrosa-render ", 0), 0u);
}

TEST_F(Render, DemoFileIsWhatItsGeneratorWrites) {
    const auto written = dir / "demo.mid";
    const std::string command = quote(VELTROSA_DEMO_MID_TOOL) + " " + quote(written);
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readText(written), readText(fs::path(VELTROSA_SOURCE_DIR) / "examples/demo.mid"));
}

TEST_F(Render, DemoSoundsThroughTheDefaultPlugin) {
    const auto out = dir / "demo.wav";
    const Result r = run({std::string(VELTROSA_SOURCE_DIR) + "/examples/demo.mid", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const Wav wav = readWav(out);
    EXPECT_GT(wav.frames(), static_cast<std::size_t>(14 * kRate));
    float peak = 0.0f;
    for (float s : wav.samples)
        peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.01f);
    EXPECT_LT(peak, 1.0f);
}

TEST_F(Render, HostsAnotherInstrument) {
    const char* other = "/usr/lib/vst/amsynth_vst.so";
    if (!fs::exists(other))
        SKIP_UNLESS_CI(other << " is not installed");
    const auto out = dir / "other.wav";
    // Its leaks are its own business, not this program's.
    const Result r = run({"--plugin", other, std::string(VELTROSA_SOURCE_DIR) + "/examples/demo.mid", "-o", out},
                         "ASAN_OPTIONS=detect_leaks=0");
    ASSERT_EQ(r.status, 0) << r.err;
    const Wav wav = readWav(out);
    EXPECT_TRUE(wav.soundsWithin(0, wav.frames()));
    const auto state = dir / "other.state";
    ASSERT_EQ(run({"--plugin", other, "--save-state", state}, "ASAN_OPTIONS=detect_leaks=0").status, 0);
    EXPECT_GT(fs::file_size(state), 0u);
    EXPECT_EQ(run({"--plugin", other, "--load-state", state, "--list-params"}, "ASAN_OPTIONS=detect_leaks=0").status,
              0);
}

TEST_F(Render, FactoryPresetsLoadByNameAndFromTheirFiles) {
    const Result listed = run({"--list-presets"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 16);
    EXPECT_EQ(listed.out.rfind(" 1  Warm Strings ", 0), 0u) << listed.out;

    // The same state whichever way a preset comes: by name, from its .fxp,
    // or from the bank (Warm Strings first, Evening Haze last).
    const fs::path presets(VELTROSA_PRESET_DIR);
    const std::pair<std::vector<std::string>, std::vector<std::string>> ways[] = {
        {{"--preset", "Warm Strings"}, {"--load-state", presets / "warm-strings.fxp"}},
        {{"--preset", "evening-haze"}, {"--load-state", presets / "veltrosa-factory.fxb", "--program", "15"}},
        {{"--preset", "WARM STRINGS"}, {"--load-state", presets / "veltrosa-factory.fxb"}},
    };
    const auto a = dir / "a.state", b = dir / "b.state";
    for (const auto& [first, second] : ways) {
        auto args = first;
        args.insert(args.end(), {"--save-state", a});
        ASSERT_EQ(run(args).status, 0) << args[1];
        args = second;
        args.insert(args.end(), {"--save-state", b});
        ASSERT_EQ(run(args).status, 0) << args[1];
        EXPECT_EQ(readText(a).size(), 192u);
        EXPECT_EQ(readText(a), readText(b)) << args[1];
    }

    // The wavetable picture: its size, and another state, another picture.
    const auto organ = dir / "organ.png", standard = dir / "default.png";
    ASSERT_EQ(run({"--preset", "Hollow Organ", "--spectrum-png", organ}).status, 0);
    ASSERT_EQ(run({"--spectrum-png", standard}).status, 0);
    const std::string png = readText(organ);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x02\x80\0\0\x01\x40", 8));  // 640 x 320
    EXPECT_NE(readText(standard), png);
}

TEST_F(Render, PresetFileErrorsSayWhatIsWrong) {
    const fs::path presets(VELTROSA_PRESET_DIR);
    const std::string fxp = readText(presets / "hollow-organ.fxp");
    const std::string fxb = readText(presets / "veltrosa-factory.fxb");
    ASSERT_EQ(fxp.size(), 252u);
    auto write = [&](const char* name, const std::string& bytes) {
        const auto path = dir / name;
        writeBytes(path, std::vector<unsigned char>(bytes.begin(), bytes.end()));
        return path.string();
    };
    std::string foreign = fxp;
    foreign.replace(16, 4, "Abcd");
    // A 100-byte chunk, its sizes consistent: byteSize 152, chunkSize 100.
    std::string small = fxp.substr(0, 160);
    small.replace(4, 4, std::string("\0\0\0\x98", 4));
    small.replace(56, 4, std::string("\0\0\0\x64", 4));
    std::string parameters = fxp;
    parameters.replace(8, 4, "FxCk");
    std::vector<unsigned char> raw(192, 0);
    const std::string d = dir.string();
    writeBytes(dir / "raw.state", raw);

    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"--load-state", write("foreign.fxp", foreign)},
         5,
         "is for the plug-in with ID 'Abcd', not for this one ('Toot')"},
        {{"--load-state", write("cut.fxp", fxp.substr(0, 100))}, 5, "truncated: "},
        {{"--load-state", write("cut.fxb", fxb.substr(0, 1000))}, 5, "truncated: "},
        {{"--load-state", write("small.fxp", small)},
         5,
         "has 100 bytes, which the plug-in rejects (its own state has 192"},
        {{"--load-state", write("params.fxp", parameters)}, 5, "a parameter list ('FxCk')"},
        {{"--load-state", presets / "veltrosa-factory.fxb", "--program", "16"}, 2, "holds 16 programs (0..15)"},
        {{"--load-state", presets / "hollow-organ.fxp", "--program", "1"}, 2, "holds 1 program (0)"},
        {{"--load-state", d + "/raw.state", "--program", "1"}, 2, "is a raw state chunk"},
        {{"--program", "1"}, 2, "no --load-state"},
        {{"--preset", "Loud Kazoo"}, 2, "unknown preset 'Loud Kazoo'"},
        {{"--preset", "Sub Pad", "--load-state", presets / "sub-pad.fxp"}, 2, "give one"},
    };
    for (const Case& c : cases) {
        auto args = c.args;
        args.insert(args.end(), {"--save-state", d + "/out.state"});
        const Result r = run(args);
        EXPECT_EQ(r.status, c.status) << args[1] << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("veltrosa-render: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.state")) << args[1];
    }
}
