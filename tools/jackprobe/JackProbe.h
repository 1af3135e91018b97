// Driving the standalone program the way a user's JACK setup does, for the
// tests and the benchmark: a private JACK server on the dummy driver, child
// processes, a client that plays MIDI at known frames and a client that
// records what comes out, cycle by cycle.
#pragma once

#include <jack/jack.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace jackprobe {

// A child process, killed (and reaped) when the object goes, and when the
// process that started it dies.
class Child {
public:
    // env: variables to set (an empty value removes the variable). The
    // child's standard output and error go to outputPath (or /dev/null).
    static std::unique_ptr<Child> start(const std::vector<std::string>& argv,
                                        const std::map<std::string, std::string>& env, const std::string& outputPath,
                                        std::string& error);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit status (128 + signal for a killed child), or nothing if it
    // still runs after `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit);
    void signal(int number);
    pid_t pid() const { return pid_; }

private:
    explicit Child(pid_t pid) : pid_(pid) {}
    pid_t pid_;
    std::optional<int> status_;
};

// jackd --no-realtime -n <name> -d dummy: clients of this process and of its
// children reach it through JACK_DEFAULT_SERVER, set here.
//
// JACK keeps every server in a machine-wide table of a few entries, and frees
// the entry of a server that died without stopping only when a server of the
// same name starts. So the names come from a small set, "veltrosa-probe-N",
// each held by one process at a time through a lock file: concurrent tests
// get different names, later ones reuse them.
class PrivateServer {
public:
    // Waits until a client can connect; null with the reason otherwise.
    static std::unique_ptr<PrivateServer> start(int rate, int period, std::string& error);
    ~PrivateServer();
    void stop();
    Child& process() { return *jackd_; }
    const std::string& name() const { return name_; }

private:
    std::unique_ptr<Child> jackd_;
    std::string name_;
    int lock_ = -1;  // the name's lock file, held while the server may run
};

// True once a port of that full name exists (polls for up to `limit`).
bool waitForPort(jack_client_t* client, const std::string& name, std::chrono::milliseconds limit);

// Connects two ports as soon as both clients run (JACK refuses before their
// activation); false after `limit`.
bool connectWhenRunning(jack_client_t* client, const std::string& source, const std::string& destination,
                        std::chrono::milliseconds limit);

// One MIDI message at a frame counted from the origin.
struct TimedMessage {
    uint32_t frame = 0;
    std::array<uint8_t, 3> bytes{};
};

// Both probes count frames from the same origin: the start of the first
// cycle at or after a frame time both were given. Each sees the same cycles.
class Origin {
public:
    // Any thread.
    void startAt(jack_nframes_t frame) {
        start_.store(frame);
        armed_.store(true);
    }
    // Process callback: true once cycles count, with the origin set.
    bool reached(jack_nframes_t cycleStart);
    jack_nframes_t frame() const { return origin_; }

private:
    std::atomic<bool> armed_{false};
    std::atomic<jack_nframes_t> start_{0};
    bool started_ = false;  // process callback only
    jack_nframes_t origin_ = 0;
};

class Sender {
public:
    // A client with one MIDI output port, "midi_out". Throws on failure.
    Sender(const std::string& clientName, std::vector<TimedMessage> messages);
    ~Sender();
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    jack_client_t* client() { return client_; }
    std::string portName() const;
    // Plays the messages from the first cycle starting at or after `frame`.
    void startAt(jack_nframes_t frame) { origin_.startAt(frame); }
    // Frames (from the origin) at which each message was written; valid once
    // sent() equals the number of messages.
    const std::vector<uint32_t>& placed() const { return placed_; }
    std::size_t sent() const { return sent_.load(); }

private:
    static int process(jack_nframes_t frames, void* self);
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::vector<TimedMessage> messages_;
    std::vector<uint32_t> placed_;
    Origin origin_;
    std::atomic<std::size_t> sent_{0};
};

class Recorder {
public:
    struct Cycle {
        uint32_t start = 0;  // frames from the origin
        uint32_t frames = 0;
    };

    // A client with audio inputs "in_left" and "in_right" that keeps up to
    // `capacity` frames. Throws on failure.
    Recorder(const std::string& clientName, std::size_t capacity);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    jack_client_t* client() { return client_; }
    std::string portName(int channel) const;
    void startAt(jack_nframes_t frame) { origin_.startAt(frame); }
    bool full() const { return full_.load(); }
    std::size_t recorded() const { return recorded_.load(); }
    // Cycles JACK reported late since this client started: a client that
    // missed its deadline may have left a cycle unplayed.
    int xruns() const { return xruns_.load(); }
    // When the first sample that is not zero arrived, if one did.
    std::optional<std::chrono::steady_clock::time_point> firstSound() const;

    // Valid once full() (or after close()).
    const std::vector<float>& left() const { return left_; }
    const std::vector<float>& right() const { return right_; }
    const std::vector<Cycle>& cycles() const { return cycles_; }
    void close();

private:
    static int process(jack_nframes_t frames, void* self);
    static int xrun(void* self);
    jack_client_t* client_ = nullptr;
    std::array<jack_port_t*, 2> ports_{};
    std::vector<float> left_, right_;
    std::vector<Cycle> cycles_;
    Origin origin_;
    std::atomic<std::size_t> recorded_{0};
    std::atomic<bool> full_{false};
    std::atomic<int> xruns_{0};
    std::atomic<int64_t> firstSound_{0};  // steady-clock ticks, 0 for none yet
};

}  // namespace jackprobe
