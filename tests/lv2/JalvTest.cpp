// A real LV2 host: jalv loads the bundle into a JACK server of our own
// (dummy driver, no sound card), and a JACK client of the test plays it a
// note and listens to what comes back.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "JackProbe.h"
#include "lv2/Ports.h"

extern char** environ;

namespace {

// A child process, stopped and reaped when it goes out of scope.
class Child {
public:
    // stdinPipe: the child reads a pipe we keep open (jalv ends at end of input).
    Child(const std::vector<std::string>& args, bool stdinPipe) {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (stdinPipe && pipe(input_) == 0) {
            posix_spawn_file_actions_adddup2(&actions, input_[0], STDIN_FILENO);
            posix_spawn_file_actions_addclose(&actions, input_[1]);
        }
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (input_[0] >= 0)
            close(input_[0]);
    }
    ~Child() {
        if (input_[1] >= 0)
            close(input_[1]);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    int input_[2] = {-1, -1};
};

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

struct Listener {
    jack_port_t* midiOut = nullptr;
    jack_port_t* in[2] = {nullptr, nullptr};
    std::atomic<bool> play{false};
    std::atomic<float> peak{0.0f};
    uint32_t quietCycles = 0;  // the process thread's only

    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Listener*>(arg);
        void* midi = jack_port_get_buffer(self->midiOut, frames);
        jack_midi_clear_buffer(midi);
        // jalv drops MIDI until its own start-up ends, which may come after
        // its ports connect: the note again every 64 quiet cycles.
        if (self->play.load() && self->peak.load() == 0.0f && self->quietCycles++ % 64 == 0) {
            const jack_midi_data_t note[] = {0x90, 69, 110};
            jack_midi_event_write(midi, 0, note, sizeof note);
        }
        float p = self->peak.load();
        for (jack_port_t* port : self->in) {
            const auto* samples = static_cast<const float*>(jack_port_get_buffer(port, frames));
            for (jack_nframes_t i = 0; i < frames; ++i)
                p = std::isfinite(samples[i]) ? std::max(p, std::fabs(samples[i])) : 1e9f;
        }
        self->peak.store(p);
        return 0;
    }
};

}  // namespace

TEST(Jalv, PlaysANoteThroughAJackServer) {
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    setenv("LV2_PATH", VELTROSA_LV2_PATH ":/usr/lib/lv2", 1);
    // One of the shared private names: JACK's machine-wide table of servers
    // holds few, and a name used again takes its old entry back.
    std::string error;
    const auto server = jackprobe::PrivateServer::start(48000, 256, error);
    ASSERT_TRUE(server) << error;

    jack_client_t* client = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            jack_status_t status{};
            client = jack_client_open("listener", JackNoStartServer, &status);
            return client != nullptr;
        },
        std::chrono::seconds(10)))
        << "no JACK server " << server->name();
    Listener listener;
    listener.midiOut = jack_port_register(client, "note", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    listener.in[0] = jack_port_register(client, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    listener.in[1] = jack_port_register(client, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    ASSERT_TRUE(listener.midiOut && listener.in[0] && listener.in[1]);
    jack_set_process_callback(client, Listener::process, &listener);
    ASSERT_EQ(jack_activate(client), 0);

    {
        Child jalv({"jalv", "-x", "-n", "veltrosa", veltrosa::lv2edge::kPluginUri}, true);
        const bool up =
            waitFor([&] { return jack_port_by_name(client, "veltrosa:out_right") != nullptr || !jalv.running(); },
                    std::chrono::seconds(20));
        ASSERT_TRUE(up && jalv.running()) << "jalv did not start the plug-in";
        // Its ports appear before it is activated, when connecting still fails.
        for (const auto& link :
             {std::pair{"listener:note", "veltrosa:midi_in"}, std::pair{"veltrosa:out_left", "listener:left"},
              std::pair{"veltrosa:out_right", "listener:right"}})
            ASSERT_TRUE(waitFor([&] { return jack_connect(client, link.first, link.second) == 0; },
                                std::chrono::seconds(10)))
                << link.first << " -> " << link.second;
        EXPECT_EQ(listener.peak.load(), 0.0f);  // silent until played
        listener.play.store(true);
        EXPECT_TRUE(waitFor([&] { return listener.peak.load() > 0.01f; }, std::chrono::seconds(10)));
        EXPECT_LT(listener.peak.load(), 4.0f);
        jack_deactivate(client);
    }
    jack_client_close(client);
}
