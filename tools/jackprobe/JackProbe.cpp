#include "JackProbe.h"

#include <jack/midiport.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace jackprobe {

namespace {

extern "C" void quiet(const char*) {}

jack_client_t* openClient(const std::string& name) {
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client == nullptr)
        throw std::runtime_error("cannot open the JACK client " + name);
    return client;
}

// Frames from a to b on JACK's wrapping clock; negative when b is earlier.
int64_t framesBetween(jack_nframes_t a, jack_nframes_t b) { return static_cast<int32_t>(b - a); }

}  // namespace

std::unique_ptr<Child> Child::start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                                    const std::string& outputPath, std::string& error) {
    // Everything the child needs is built before fork: after it, only calls
    // that are safe in a copy of a threaded process.
    std::vector<std::string> variables;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        if (!env.contains(entry.substr(0, entry.find('='))))
            variables.push_back(entry);
    }
    for (const auto& [name, value] : env)
        if (!value.empty())
            variables.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (auto& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (auto& a : argCopy)
        args.push_back(a.data());
    args.push_back(nullptr);
    const std::string output = outputPath.empty() ? "/dev/null" : outputPath;
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + output;
        return nullptr;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fd);
        error = "cannot fork";
        return nullptr;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(fd);
    return std::unique_ptr<Child>(new Child(pid));
}

Child::~Child() {
    if (!status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::optional<int> Child::wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!status_) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_)
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        else if (std::chrono::steady_clock::now() > end)
            break;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

void Child::signal(int number) {
    if (!status_)
        ::kill(pid_, number);
}

std::unique_ptr<PrivateServer> PrivateServer::start(int rate, int period, std::string& error) {
    constexpr int kNames = 16;
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    // A name whose server stopped at start (what a killed one left behind
    // can do that for a while) stays locked here, so that the next is tried.
    std::vector<std::unique_ptr<PrivateServer>> spoilt;
    error = "no free server name (veltrosa-probe-0.." + std::to_string(kNames - 1) + " all in use)";
    for (int n = 0; n < kNames; ++n) {
        auto server = std::unique_ptr<PrivateServer>(new PrivateServer);
        server->name_ = "veltrosa-probe-" + std::to_string(n);
        const std::string lockPath = "/tmp/" + server->name_ + ".lock";
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        server->lock_ = fd;
        ::setenv("JACK_DEFAULT_SERVER", server->name_.c_str(), 1);
        server->jackd_ = Child::start({"/usr/bin/jackd", "--no-realtime", "-n", server->name_, "-d", "dummy", "-r",
                                       std::to_string(rate), "-p", std::to_string(period)},
                                      {}, "", error);
        if (!server->jackd_)
            return nullptr;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            if (server->jackd_->wait(std::chrono::milliseconds(20))) {
                error = "jackd -n " + server->name_ + " stopped at start (JACK's table of servers may be full)";
                break;
            }
            jack_status_t status{};
            if (jack_client_t* c = jack_client_open("probe-ready", JackNoStartServer, &status)) {
                jack_client_close(c);
                return server;
            }
        }
        if (!server->jackd_->wait(std::chrono::milliseconds(0))) {
            error = "jackd did not come up within 10 s";
            return nullptr;
        }
        spoilt.push_back(std::move(server));
    }
    return nullptr;
}

PrivateServer::~PrivateServer() {
    stop();
    if (lock_ >= 0)
        ::close(lock_);
}

void PrivateServer::stop() {
    if (!jackd_)
        return;
    jackd_->signal(SIGTERM);
    if (!jackd_->wait(std::chrono::seconds(5)))
        jackd_->signal(SIGKILL);
    jackd_.reset();
}

bool Origin::reached(jack_nframes_t cycleStart) {
    if (!started_ && armed_.load() && framesBetween(start_.load(), cycleStart) >= 0) {
        started_ = true;
        origin_ = cycleStart;
    }
    return started_;
}

bool waitForPort(jack_client_t* client, const std::string& name, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (jack_port_by_name(client, name.c_str()) != nullptr)
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool connectWhenRunning(jack_client_t* client, const std::string& source, const std::string& destination,
                        std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (jack_connect(client, source.c_str(), destination.c_str()) == 0)
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

Sender::Sender(const std::string& clientName, std::vector<TimedMessage> messages)
    : messages_(std::move(messages)), placed_(messages_.size(), 0) {
    std::stable_sort(messages_.begin(), messages_.end(),
                     [](const TimedMessage& a, const TimedMessage& b) { return a.frame < b.frame; });
    client_ = openClient(clientName);
    port_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (port_ == nullptr || jack_set_process_callback(client_, &Sender::process, this) != 0 ||
        jack_activate(client_) != 0) {
        jack_client_close(client_);
        throw std::runtime_error("cannot set up the JACK client " + clientName);
    }
}

Sender::~Sender() { jack_client_close(client_); }

std::string Sender::portName() const { return jack_port_name(port_); }

int Sender::process(jack_nframes_t frames, void* arg) {
    auto& self = *static_cast<Sender*>(arg);
    void* buffer = jack_port_get_buffer(self.port_, frames);
    jack_midi_clear_buffer(buffer);
    const jack_nframes_t now = jack_last_frame_time(self.client_);
    if (!self.origin_.reached(now))
        return 0;
    const jack_nframes_t origin = self.origin_.frame();
    for (std::size_t i = self.sent_.load(); i < self.messages_.size(); ++i) {
        const int64_t at = framesBetween(now, origin + self.messages_[i].frame);
        if (at >= static_cast<int64_t>(frames))
            break;
        const auto offset = static_cast<jack_nframes_t>(std::max<int64_t>(at, 0));
        // Program Change and Channel Pressure have one data byte.
        const auto& bytes = self.messages_[i].bytes;
        const std::size_t size = (bytes[0] & 0xE0) == 0xC0 ? 2 : 3;
        if (jack_midi_event_write(buffer, offset, bytes.data(), size) != 0)
            break;  // the rest in the next cycle
        self.placed_[i] = now + offset - origin;
        self.sent_.store(i + 1);
    }
    return 0;
}

Recorder::Recorder(const std::string& clientName, std::size_t capacity) {
    left_.resize(capacity);
    right_.resize(capacity);
    cycles_.reserve(capacity / 16 + 16);
    client_ = openClient(clientName);
    ports_[0] = jack_port_register(client_, "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    ports_[1] = jack_port_register(client_, "in_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    if (ports_[0] == nullptr || ports_[1] == nullptr ||
        jack_set_process_callback(client_, &Recorder::process, this) != 0 ||
        jack_set_xrun_callback(client_, &Recorder::xrun, this) != 0 || jack_activate(client_) != 0) {
        jack_client_close(client_);
        throw std::runtime_error("cannot set up the JACK client " + clientName);
    }
}

Recorder::~Recorder() { close(); }

void Recorder::close() {
    if (client_ != nullptr)
        jack_client_close(client_);
    client_ = nullptr;
    cycles_.shrink_to_fit();
    left_.resize(recorded_.load());
    right_.resize(recorded_.load());
}

std::string Recorder::portName(int channel) const { return jack_port_name(ports_[channel == 0 ? 0 : 1]); }

std::optional<std::chrono::steady_clock::time_point> Recorder::firstSound() const {
    const int64_t ticks = firstSound_.load();
    if (ticks == 0)
        return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
}

int Recorder::xrun(void* arg) {
    static_cast<Recorder*>(arg)->xruns_.fetch_add(1);
    return 0;
}

int Recorder::process(jack_nframes_t frames, void* arg) {
    auto& self = *static_cast<Recorder*>(arg);
    const jack_nframes_t now = jack_last_frame_time(self.client_);
    if (self.full_.load() || !self.origin_.reached(now))
        return 0;
    const jack_nframes_t origin = self.origin_.frame();
    const std::size_t done = self.recorded_.load();
    const std::size_t n = std::min<std::size_t>(frames, self.left_.size() - done);
    const auto* l = static_cast<const float*>(jack_port_get_buffer(self.ports_[0], frames));
    const auto* r = static_cast<const float*>(jack_port_get_buffer(self.ports_[1], frames));
    std::copy_n(l, n, self.left_.begin() + static_cast<std::ptrdiff_t>(done));
    std::copy_n(r, n, self.right_.begin() + static_cast<std::ptrdiff_t>(done));
    if (self.cycles_.size() < self.cycles_.capacity())
        self.cycles_.push_back({now - origin, static_cast<uint32_t>(n)});
    if (self.firstSound_.load() == 0 && (std::any_of(l, l + n, [](float x) { return x != 0.0f; }) ||
                                         std::any_of(r, r + n, [](float x) { return x != 0.0f; })))
        self.firstSound_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    self.recorded_.store(done + n);
    if (done + n == self.left_.size())
        self.full_.store(true);
    return 0;
}

}  // namespace jackprobe
