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

#include "BenchSupport.h"
#include "JackProbe.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 48000;
constexpr int kPeriod = 256;
constexpr int kStarts = 5;

// The compared chord, all held, from `frame` on.
std::vector<jackprobe::TimedMessage> eightNotes(uint32_t frame) {
    std::vector<jackprobe::TimedMessage> notes;
    for (int key : bench::kChord)
        notes.push_back({frame, {0x90, static_cast<uint8_t>(key), 100}});
    return notes;
}

// A key struck again every cycle, as if someone kept playing while the
// program starts: its first sound comes with the first cycle it can play.
std::vector<jackprobe::TimedMessage> keptPlaying(int seconds) {
    std::vector<jackprobe::TimedMessage> notes;
    for (uint32_t frame = 0; frame < static_cast<uint32_t>(seconds * kRate); frame += kPeriod)
        notes.push_back({frame, {0x90, 60, 100}});
    return notes;
}

struct Session {
    std::unique_ptr<jackprobe::Sender> keyboard;
    std::unique_ptr<jackprobe::Recorder> recorder;
    std::unique_ptr<jackprobe::Child> program;
    Clock::time_point started;
};

// Starts the program with the keyboard already playing and a recorder
// already listening, the way a user's setup is wired: the program connects
// to both itself.
bool play(Session& s, const std::string& name, std::vector<jackprobe::TimedMessage> messages, std::string& error) {
    s.keyboard = std::make_unique<jackprobe::Sender>("bench-keyboard", std::move(messages));
    s.recorder = std::make_unique<jackprobe::Recorder>("bench-recorder", 10 * kRate);
    const jack_nframes_t now = jack_frame_time(s.recorder->client());
    s.recorder->startAt(now);
    s.keyboard->startAt(now);
    s.started = Clock::now();
    s.program = jackprobe::Child::start(
        {VELTROSA_APP_PATH, "--no-gui", "--client-name", name, "--connect-midi", s.keyboard->portName(),
         "--connect-audio", s.recorder->portName(0) + "," + s.recorder->portName(1)},
        {}, "", error);
    if (!s.program)
        return false;
    if (!jackprobe::waitForPort(s.recorder->client(), name + ":out_right", 20s)) {
        error = "the program did not come up";
        return false;
    }
    return true;
}

bool soundWithin(const Session& s, std::chrono::seconds limit) {
    for (auto end = Clock::now() + limit; !s.recorder->firstSound() && Clock::now() < end;)
        std::this_thread::sleep_for(1ms);
    return s.recorder->firstSound().has_value();
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
        if (!play(s, "bench" + std::to_string(i), keptPlaying(10), error) || !soundWithin(s, 10s)) {
            std::fprintf(stderr, "standalone_bench: %s\n", error.empty() ? "no sound within 10 s" : error.c_str());
            return 1;
        }
        startups.push_back(std::chrono::duration<double, std::milli>(*s.recorder->firstSound() - s.started).count());
        s.program->signal(SIGINT);
        s.program->wait(5s);
    }
    std::printf("  start-up to first sound:   median %.0f ms (min %.0f, max %.0f; %d starts)\n", median(startups),
                *std::min_element(startups.begin(), startups.end()),
                *std::max_element(startups.begin(), startups.end()), kStarts);

    Load loads[2]{};
    for (int notes = 0; notes < 2; ++notes) {
        Session s;
        if (!play(s, "load", notes != 0 ? eightNotes(kRate) : std::vector<jackprobe::TimedMessage>{}, error) ||
            (notes != 0 && !soundWithin(s, 10s))) {
            std::fprintf(stderr, "standalone_bench: %s\n", error.empty() ? "no sound within 10 s" : error.c_str());
            return 1;
        }
        std::this_thread::sleep_for(2s);  // past the attacks and JACK's averaging window
        loads[notes] = sampleLoad(s.recorder->client(), 5);
        s.program->signal(SIGINT);
        s.program->wait(5s);
    }
    const Load& idleLoad = loads[0];
    const Load& load = loads[1];
    for (const auto& [what, l] : {std::pair{"running, silent:", idleLoad}, std::pair{"eight held notes:", load}})
        std::printf("  jack_cpu_load, %-18s median %.2f %%, mean %.2f %%, max %.2f %%\n", what, l.median, l.mean,
                    l.max);
    return 0;
}
