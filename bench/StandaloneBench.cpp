// The standalone program on a private JACK server (dummy driver, 48 kHz,
// 256 frames, no real-time scheduling): how long from starting it to its
// first sound, and the DSP load JACK reports while it plays eight held notes.
#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "JackProbe.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 48000;
constexpr int kPeriod = 256;
constexpr int kStarts = 5;

// Eight notes across two octaves, all held.
std::vector<jackprobe::TimedMessage> eightNotes() {
    std::vector<jackprobe::TimedMessage> notes;
    for (uint8_t key : {48, 52, 55, 59, 60, 64, 67, 71})
        notes.push_back({0, {0x90, key, 100}});
    return notes;
}

struct Session {
    std::unique_ptr<jackprobe::Child> program;
    std::unique_ptr<jackprobe::Sender> keyboard;
    std::unique_ptr<jackprobe::Recorder> recorder;
    Clock::time_point started;
};

// Starts the program with the probes ready and waiting, wires it up and
// plays the notes at once.
bool play(Session& s, const std::string& name, std::string& error) {
    s.keyboard = std::make_unique<jackprobe::Sender>("bench-keyboard", eightNotes());
    s.recorder = std::make_unique<jackprobe::Recorder>("bench-recorder", kRate);
    s.started = Clock::now();
    s.program = jackprobe::Child::start({VELTROSA_APP_PATH, "--no-gui", "--client-name", name}, {}, "", error);
    if (!s.program)
        return false;
    if (!jackprobe::waitForPort(s.recorder->client(), name + ":out_right", 20s) ||
        !jackprobe::connectWhenRunning(s.keyboard->client(), s.keyboard->portName(), name + ":midi_in", 10s) ||
        !jackprobe::connectWhenRunning(s.recorder->client(), name + ":out_left", s.recorder->portName(0), 10s)) {
        error = "the program did not come up";
        return false;
    }
    const jack_nframes_t now = jack_frame_time(s.recorder->client());
    s.recorder->startAt(now);
    s.keyboard->startAt(now);
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Load {
    double mean, median, max;
};

// JACK's own figure (its average over recent cycles), read every 100 ms for
// `seconds`. On a shared machine single readings jump when another process
// takes the processor; the median shows the usual cycle.
Load sampleLoad(jack_client_t* client, int seconds) {
    std::vector<double> samples;
    for (int i = 0; i < seconds * 10; ++i) {
        std::this_thread::sleep_for(100ms);
        samples.push_back(jack_cpu_load(client));
    }
    return {std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size()), median(samples),
            *std::max_element(samples.begin(), samples.end())};
}

}  // namespace

int main() {
    std::string error;
    auto server = jackprobe::PrivateServer::start(kRate, kPeriod, error);
    if (!server) {
        std::fprintf(stderr, "standalone_bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("veltrosa standalone, private JACK server: dummy driver, %d Hz, %d frames, no real-time\n", kRate,
                kPeriod);

    std::vector<double> startups;
    for (int i = 0; i < kStarts; ++i) {
        Session s;
        if (!play(s, "bench" + std::to_string(i), error)) {
            std::fprintf(stderr, "standalone_bench: %s\n", error.c_str());
            return 1;
        }
        for (auto end = Clock::now() + 10s; !s.recorder->firstSound() && Clock::now() < end;)
            std::this_thread::sleep_for(1ms);
        if (!s.recorder->firstSound()) {
            std::fprintf(stderr, "standalone_bench: no sound within 10 s\n");
            return 1;
        }
        startups.push_back(std::chrono::duration<double, std::milli>(*s.recorder->firstSound() - s.started).count());
        s.program->signal(SIGINT);
        s.program->wait(5s);
    }
    std::printf("  start-up to first sound:   median %.0f ms (min %.0f, max %.0f; %d starts)\n", median(startups),
                *std::min_element(startups.begin(), startups.end()),
                *std::max_element(startups.begin(), startups.end()), kStarts);

    // Idle first: the program running, nothing played.
    Session idle;
    idle.recorder = std::make_unique<jackprobe::Recorder>("bench-idle", 1);
    idle.program = jackprobe::Child::start({VELTROSA_APP_PATH, "--no-gui", "--client-name", "idle"}, {}, "", error);
    if (!idle.program || !jackprobe::waitForPort(idle.recorder->client(), "idle:out_right", 20s)) {
        std::fprintf(stderr, "standalone_bench: the program did not come up\n");
        return 1;
    }
    std::this_thread::sleep_for(1s);
    const Load idleLoad = sampleLoad(idle.recorder->client(), 5);
    idle.program->signal(SIGINT);
    idle.program->wait(5s);

    Session held;
    if (!play(held, "held", error)) {
        std::fprintf(stderr, "standalone_bench: %s\n", error.c_str());
        return 1;
    }
    std::this_thread::sleep_for(1s);  // past the attacks and JACK's averaging window
    const Load load = sampleLoad(held.recorder->client(), 5);
    held.program->signal(SIGINT);
    held.program->wait(5s);
    for (const auto& [what, l] : {std::pair{"running, silent:", idleLoad}, std::pair{"eight held notes:", load}})
        std::printf("  jack_cpu_load, %-18s median %.2f %%, mean %.2f %%, max %.2f %%\n", what, l.median, l.mean,
                    l.max);
    return 0;
}
