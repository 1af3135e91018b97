#include "ClapHost.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace claphost {

std::string findOnClapPath(const std::string& fileName) {
    const char* path = std::getenv("CLAP_PATH");
    if (path == nullptr)
        return {};
    std::stringstream folders(path);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty())
            continue;
        const std::filesystem::path candidate = std::filesystem::path(folder) / fileName;
        std::error_code ignored;
        if (std::filesystem::is_regular_file(candidate, ignored))
            return candidate.string();
    }
    return {};
}

namespace {
std::atomic<int> unpaired{0};
}  // namespace

int Library::unpairedInits() { return unpaired.load(); }

std::unique_ptr<Library> Library::open(const std::string& path, std::string& error) {
    std::unique_ptr<Library> library(new Library);
    library->handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->handle_ == nullptr) {
        const char* why = dlerror();
        error = why != nullptr ? why : "dlopen failed";
        return nullptr;
    }
    library->entry_ = static_cast<const clap::PluginEntry*>(dlsym(library->handle_, "clap_entry"));
    if (library->entry_ == nullptr || !clap::compatible(library->entry_->version)) {
        error = "no compatible clap_entry in " + path;
        return nullptr;
    }
    ++library->inits_;
    if (!library->entry_->init(path.c_str())) {
        library->entry_ = nullptr;  // no deinit for a failed init
        error = "the entry's init failed";
        return nullptr;
    }
    ++unpaired;
    return library;
}

Library::~Library() {
    if (entry_ != nullptr) {
        entry_->deinit();
        ++deinits_;
        --unpaired;
    }
    if (handle_ != nullptr)
        dlclose(handle_);
}

// ---- events ----

void EventList::raw(const clap::EventHeader& header, std::size_t bytes) {
    const std::size_t rounded = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    offsets_.push_back(used_ * sizeof(std::max_align_t));
    storage_.resize(used_ + rounded);
    std::memcpy(storage_.data() + used_, &header, bytes);
    used_ += rounded;
}

void EventList::noteOn(uint32_t time, int16_t key, double velocity, int32_t noteId, int16_t channel) {
    clap::EventNote e{};
    e.header = {sizeof e, time, clap::kCoreEventSpace, clap::kEventNoteOn, 0};
    e.noteId = noteId;
    e.channel = channel;
    e.key = key;
    e.velocity = velocity;
    raw(e.header, sizeof e);
}

void EventList::noteOff(uint32_t time, int16_t key, int32_t noteId, int16_t channel) {
    clap::EventNote e{};
    e.header = {sizeof e, time, clap::kCoreEventSpace, clap::kEventNoteOff, 0};
    e.noteId = noteId;
    e.channel = channel;
    e.key = key;
    raw(e.header, sizeof e);
}

void EventList::choke(uint32_t time, int16_t key, int32_t noteId) {
    clap::EventNote e{};
    e.header = {sizeof e, time, clap::kCoreEventSpace, clap::kEventNoteChoke, 0};
    e.noteId = noteId;
    e.channel = -1;
    e.key = key;
    raw(e.header, sizeof e);
}

void EventList::midi(uint32_t time, uint8_t status, uint8_t data1, uint8_t data2) {
    clap::EventMidi e{};
    e.header = {sizeof e, time, clap::kCoreEventSpace, clap::kEventMidi, 0};
    e.data[0] = status;
    e.data[1] = data1;
    e.data[2] = data2;
    raw(e.header, sizeof e);
}

void EventList::param(uint32_t time, clap::Id id, double value) {
    clap::EventParamValue e{};
    e.header = {sizeof e, time, clap::kCoreEventSpace, clap::kEventParamValue, 0};
    e.paramId = id;
    e.noteId = -1;
    e.portIndex = -1;
    e.channel = -1;
    e.key = -1;
    e.value = value;
    raw(e.header, sizeof e);
}

const clap::InputEvents* EventList::get() {
    storage_.resize(used_);
    list_ = {this, &EventList::size, &EventList::at};
    return &list_;
}

uint32_t CLAPCALL EventList::size(const clap::InputEvents* list) {
    return static_cast<uint32_t>(static_cast<const EventList*>(list->ctx)->offsets_.size());
}

const clap::EventHeader* CLAPCALL EventList::at(const clap::InputEvents* list, uint32_t index) {
    const auto* self = static_cast<const EventList*>(list->ctx);
    if (index >= self->offsets_.size())
        return nullptr;
    return reinterpret_cast<const clap::EventHeader*>(reinterpret_cast<const char*>(self->storage_.data()) +
                                                      self->offsets_[index]);
}

// ---- the instance ----

std::unique_ptr<Instance> Instance::create(Library& library, std::string& error) {
    const auto* factory = static_cast<const clap::PluginFactory*>(library.factory(clap::kPluginFactoryId));
    if (factory == nullptr || factory->getPluginCount(factory) == 0) {
        error = "no plug-in factory, or no plug-in in it";
        return nullptr;
    }
    const clap::PluginDescriptor* descriptor = factory->getPluginDescriptor(factory, 0);
    std::unique_ptr<Instance> instance(new Instance);
    instance->host_ = {clap::kVersion, instance.get(), "claphost", "Veltrosa tests", "", "1.0",
                       &Instance::hostExtension, &Instance::noop, &Instance::noop, &Instance::noop};
    instance->plugin_ = descriptor != nullptr ? factory->createPlugin(factory, &instance->host_, descriptor->id) : nullptr;
    if (instance->plugin_ == nullptr) {
        error = "the factory made no plug-in";
        return nullptr;
    }
    if (!instance->plugin_->init(instance->plugin_)) {
        error = "the plug-in's init failed";
        return nullptr;
    }
    instance->out_ = {instance.get(), &Instance::pushEvent};
    instance->noteEnds_.reserve(4096);  // recording during a block allocates nothing
    return instance;
}

Instance::~Instance() {
    if (plugin_ != nullptr) {
        deactivate();
        plugin_->destroy(plugin_);
    }
}

bool Instance::activate(double rate, uint32_t maxFrames) {
    deactivate();
    left_.assign(maxFrames, 0.0f);
    right_.assign(maxFrames, 0.0f);
    maxFrames_ = maxFrames;
    active_ = plugin_->activate(plugin_, rate, 1, maxFrames) && plugin_->startProcessing(plugin_);
    return active_;
}

void Instance::deactivate() {
    if (!active_)
        return;
    plugin_->stopProcessing(plugin_);
    plugin_->deactivate(plugin_);
    active_ = false;
}

int32_t Instance::process(uint32_t frames, EventList* events) {
    if (frames > left_.size()) {
        left_.resize(frames);
        right_.resize(frames);
    }
    float* channels[2] = {left_.data(), right_.data()};
    clap::AudioBuffer output{channels, nullptr, 2, 0, 0};
    EventList none;
    const clap::Process block{-1, frames, nullptr, nullptr, &output, 0, 1,
                              events != nullptr ? events->get() : none.get(), &out_};
    return plugin_->process(plugin_, &block);
}

const void* CLAPCALL Instance::hostExtension(const clap::Host*, const char* id) {
    static const clap::HostThreadCheck threadCheck{&Instance::onThread, &Instance::onThread};
    static const clap::HostParams params{&Instance::rescan, &Instance::clearParam, &Instance::requestFlush};
    static const clap::HostState state{&Instance::markDirty};
    static const clap::HostPosixFdSupport fds{&Instance::registerFd, &Instance::modifyFd, &Instance::unregisterFd};
    static const clap::HostTimerSupport timers{&Instance::registerTimer, &Instance::unregisterTimer};
    if (std::strcmp(id, clap::kExtState) == 0)
        return &state;
    if (std::strcmp(id, clap::kExtPosixFdSupport) == 0)
        return &fds;
    if (std::strcmp(id, clap::kExtTimerSupport) == 0)
        return &timers;
    static const clap::HostPresetLoad presetLoad{&Instance::presetError, &Instance::presetLoaded};
    if (std::strcmp(id, clap::kExtThreadCheck) == 0)
        return &threadCheck;
    if (std::strcmp(id, clap::kExtParams) == 0)
        return &params;
    if (std::strcmp(id, clap::kExtPresetLoad) == 0)
        return &presetLoad;
    return nullptr;
}

bool CLAPCALL Instance::onThread(const clap::Host* host) {
    return static_cast<Instance*>(host->hostData)->onHostThreads_.load();
}

void CLAPCALL Instance::rescan(const clap::Host* host, uint32_t) { ++static_cast<Instance*>(host->hostData)->rescans_; }

void CLAPCALL Instance::presetError(const clap::Host* host, uint32_t, const char*, const char*, int32_t, const char*) {
    ++static_cast<Instance*>(host->hostData)->presetErrors_;
}

void CLAPCALL Instance::presetLoaded(const clap::Host* host, uint32_t, const char*, const char*) {
    ++static_cast<Instance*>(host->hostData)->presetsLoaded_;
}

static Instance* instanceOf(const clap::Host* host) { return static_cast<Instance*>(host->hostData); }

void CLAPCALL Instance::requestFlush(const clap::Host* host) { ++instanceOf(host)->flushRequests_; }

void CLAPCALL Instance::markDirty(const clap::Host* host) { ++instanceOf(host)->dirtyMarks_; }

bool CLAPCALL Instance::registerFd(const clap::Host* host, int fd, uint32_t) {
    Instance* self = instanceOf(host);
    if (fd < 0 || self->fd_ >= 0)
        return false;
    self->fd_ = fd;
    return true;
}

bool CLAPCALL Instance::modifyFd(const clap::Host* host, int fd, uint32_t) { return fd == instanceOf(host)->fd_; }

bool CLAPCALL Instance::unregisterFd(const clap::Host* host, int fd) {
    Instance* self = instanceOf(host);
    if (fd != self->fd_)
        return false;
    self->fd_ = -1;
    return true;
}

bool CLAPCALL Instance::registerTimer(const clap::Host* host, uint32_t, clap::Id* id) {
    Instance* self = instanceOf(host);
    if (id == nullptr || self->timer_ != clap::kInvalidId)
        return false;
    *id = self->timer_ = 7;
    return true;
}

bool CLAPCALL Instance::unregisterTimer(const clap::Host* host, clap::Id id) {
    Instance* self = instanceOf(host);
    if (id != self->timer_)
        return false;
    self->timer_ = clap::kInvalidId;
    return true;
}

void Instance::flushParams() {
    EventList none;
    flushParams(none);
}

void Instance::flushParams(EventList& events) {
    const auto* params = extension<clap::PluginParams>(clap::kExtParams);
    params->flush(plugin_, events.get(), &out_);
}

bool CLAPCALL Instance::pushEvent(const clap::OutputEvents* list, const clap::EventHeader* event) {
    auto* self = static_cast<Instance*>(list->ctx);
    if (event != nullptr && (event->type == clap::kEventParamValue || event->type == clap::kEventParamGestureBegin ||
                             event->type == clap::kEventParamGestureEnd)) {
        const auto* gesture = reinterpret_cast<const clap::EventParamGesture*>(event);
        const double value = event->type == clap::kEventParamValue
                                 ? reinterpret_cast<const clap::EventParamValue*>(event)->value
                                 : 0.0;
        self->paramEvents_.push_back({event->type, gesture->paramId, value});
        return true;
    }
    if (event == nullptr || event->type != clap::kEventNoteEnd || event->size < sizeof(clap::EventNote))
        return event != nullptr;
    if (self->noteEnds_.size() == self->noteEnds_.capacity())
        return false;
    const auto* note = reinterpret_cast<const clap::EventNote*>(event);
    self->noteEnds_.push_back({event->time, note->noteId, note->portIndex, note->channel, note->key});
    return true;
}

}  // namespace claphost
