// A small CLAP host for tests and benchmarks: finds a plug-in file on
// CLAP_PATH (or takes a path), loads it, pairs every init of its entry with
// one deinit, and runs one instance as a host's main and audio threads would
// (both are the calling thread unless told otherwise). It records what the
// plug-in asks of the host: rescans, dirty marks, preset loads, flushes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "abi/clap.h"

namespace claphost {

// The first file named fileName in the folders of CLAP_PATH (':'-separated);
// empty if none.
std::string findOnClapPath(const std::string& fileName);

class Library {
public:
    // Loads the file and calls its entry's init; null with a reason if either fails.
    static std::unique_ptr<Library> open(const std::string& path, std::string& error);
    // deinit, then unload.
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const clap::PluginEntry& entry() const { return *entry_; }
    const void* factory(const char* id) const { return entry_->getFactory(id); }
    // The entry's init and deinit calls so far, for the pairing check.
    int inits() const { return inits_; }
    int deinits() const { return deinits_; }
    // Over the process: inits whose deinit has not been called yet.
    static int unpairedInits();

private:
    Library() = default;
    void* handle_ = nullptr;
    const clap::PluginEntry* entry_ = nullptr;
    int inits_ = 0;
    int deinits_ = 0;
};

struct NoteEnd {
    uint32_t time;
    int32_t noteId;
    int16_t port;
    int16_t channel;
    int16_t key;
};

// Events of one block, in the order added (tests add them in time order
// unless they mean not to).
class EventList {
public:
    void noteOn(uint32_t time, int16_t key, double velocity, int32_t noteId = -1, int16_t channel = 0);
    void noteOff(uint32_t time, int16_t key, int32_t noteId = -1, int16_t channel = 0);
    void choke(uint32_t time, int16_t key, int32_t noteId = -1);
    void midi(uint32_t time, uint8_t status, uint8_t data1, uint8_t data2);
    void param(uint32_t time, clap::Id id, double value);
    // Any event, as raw bytes (its header's size says how many).
    void raw(const clap::EventHeader& header, std::size_t bytes);
    void clear() { storage_.clear(); offsets_.clear(); }
    const clap::InputEvents* get();

private:
    static uint32_t CLAPCALL size(const clap::InputEvents* list);
    static const clap::EventHeader* CLAPCALL at(const clap::InputEvents* list, uint32_t index);
    std::vector<std::max_align_t> storage_;
    std::vector<std::size_t> offsets_;  // in bytes
    std::size_t used_ = 0;
    clap::InputEvents list_{};
};

class Instance {
public:
    // Creates the library's first plug-in and calls its init; null with a reason on failure.
    static std::unique_ptr<Instance> create(Library& library, std::string& error);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    const clap::Plugin* plugin() const { return plugin_; }
    template <typename T>
    const T* extension(const char* id) const {
        return static_cast<const T*>(plugin_->getExtension(plugin_, id));
    }
    bool activate(double rate, uint32_t maxFrames);
    void deactivate();
    // One block into the instance's own buffers; the status the plug-in returned.
    int32_t process(uint32_t frames, EventList* events = nullptr);
    const std::vector<float>& left() const { return left_; }
    const std::vector<float>& right() const { return right_; }
    const std::vector<NoteEnd>& noteEnds() const { return noteEnds_; }
    void clearNoteEnds() { noteEnds_.clear(); }

    // What the plug-in asked of the host.
    int rescans() const { return rescans_; }
    int flushRequests() const { return flushRequests_; }
    int dirtyMarks() const { return dirtyMarks_; }
    // The editor's window descriptor and timer as registered (-1 / kInvalidId when not).
    int registeredFd() const { return fd_; }
    clap::Id registeredTimer() const { return timer_; }
    // The parameter flush a host runs when asked to while not processing;
    // the value and gesture events the plug-in sent, in order.
    void flushParams();
    void flushParams(EventList& events);
    struct ParamEvent {
        uint16_t type;
        clap::Id id;
        double value;
    };
    const std::vector<ParamEvent>& paramEvents() const { return paramEvents_; }
    int presetsLoaded() const { return presetsLoaded_; }
    int presetErrors() const { return presetErrors_; }
    // While false, the thread-check extension says the caller is on neither thread.
    void setOnHostThreads(bool on) { onHostThreads_.store(on); }

private:
    Instance() = default;
    static const void* CLAPCALL hostExtension(const clap::Host* host, const char* id);
    static void CLAPCALL noop(const clap::Host*) {}
    static bool CLAPCALL onThread(const clap::Host* host);
    static void CLAPCALL rescan(const clap::Host* host, uint32_t flags);
    static void CLAPCALL requestFlush(const clap::Host* host);
    static void CLAPCALL markDirty(const clap::Host* host);
    static bool CLAPCALL registerFd(const clap::Host* host, int fd, uint32_t flags);
    static bool CLAPCALL modifyFd(const clap::Host* host, int fd, uint32_t flags);
    static bool CLAPCALL unregisterFd(const clap::Host* host, int fd);
    static bool CLAPCALL registerTimer(const clap::Host* host, uint32_t periodMs, clap::Id* id);
    static bool CLAPCALL unregisterTimer(const clap::Host* host, clap::Id id);
    static void CLAPCALL clearParam(const clap::Host*, clap::Id, uint32_t) {}
    static void CLAPCALL presetError(const clap::Host* host, uint32_t, const char*, const char*, int32_t, const char*);
    static void CLAPCALL presetLoaded(const clap::Host* host, uint32_t, const char*, const char*);
    static bool CLAPCALL pushEvent(const clap::OutputEvents* list, const clap::EventHeader* event);

    clap::Host host_{};
    const clap::Plugin* plugin_ = nullptr;
    bool active_ = false;
    uint32_t maxFrames_ = 0;
    std::vector<float> left_, right_;
    std::vector<NoteEnd> noteEnds_;
    clap::OutputEvents out_{};
    std::atomic<bool> onHostThreads_{true};
    int rescans_ = 0;
    int flushRequests_ = 0;
    int dirtyMarks_ = 0;
    int fd_ = -1;
    clap::Id timer_ = clap::kInvalidId;
    std::vector<ParamEvent> paramEvents_;
    int presetsLoaded_ = 0;
    int presetErrors_ = 0;
};

}  // namespace claphost
