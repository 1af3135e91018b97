#include "Lv2Host.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>

#include <time.h>

#include <algorithm>
#include <cstring>

namespace lv2host {

namespace {

constexpr std::size_t kAtomBytes = 64 * 1024;  // each atom port's buffer

double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Node {
    LilvNode* node;
    explicit Node(LilvNode* n) : node(n) {}
    ~Node() { lilv_node_free(node); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    operator const LilvNode*() const { return node; }
};

}  // namespace

World::World() : world_(lilv_world_new()) {
    lilv_world_load_all(world_);
    map_.handle = this;
    map_.map = [](LV2_URID_Map_Handle h, const char* uri) { return static_cast<World*>(h)->map(uri); };
    unmap_.handle = this;
    unmap_.unmap = [](LV2_URID_Unmap_Handle h, LV2_URID urid) { return static_cast<World*>(h)->unmap(urid); };
}

World::~World() { lilv_world_free(world_); }

const LilvPlugin* World::plugin(const std::string& uri) const {
    const Node node(lilv_new_uri(world_, uri.c_str()));
    return lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), node);
}

LV2_URID World::map(const char* uri) {
    const std::lock_guard lock(mutex_);
    const auto found = std::find(uris_.begin(), uris_.end(), uri);
    if (found != uris_.end())
        return static_cast<LV2_URID>(found - uris_.begin()) + 1;
    uris_.emplace_back(uri);
    return static_cast<LV2_URID>(uris_.size());
}

const char* World::unmap(LV2_URID urid) {
    const std::lock_guard lock(mutex_);
    return urid >= 1 && urid <= uris_.size() ? uris_[urid - 1].c_str() : nullptr;
}

std::unique_ptr<Instance> Instance::create(World& world, const std::string& uri, double rate, int32_t blockLength,
                                           WorkerMode mode, std::string& error) {
    const LilvPlugin* plugin = world.plugin(uri);
    if (plugin == nullptr) {
        error = "no plug-in " + uri + " on LV2_PATH";
        return nullptr;
    }
    std::unique_ptr<Instance> self(new Instance);
    self->mode_ = mode;
    self->blockLength_ = blockLength;
    self->midiEvent_ = world.map(LV2_MIDI__MidiEvent);
    self->sequence_ = world.map(LV2_ATOM__Sequence);
    self->chunk_ = world.map(LV2_ATOM__Chunk);
    self->requests_.resize(kQueue);
    self->responses_.resize(kQueue);

    self->scheduleFeature_ = {self.get(), schedule};
    self->blockValues_ = {blockLength, blockLength, 1};
    const LV2_URID intType = world.map(LV2_ATOM__Int);
    self->options_ = {{LV2_OPTIONS_INSTANCE, 0, world.map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), intType,
                       &self->blockValues_[0]},
                      {LV2_OPTIONS_INSTANCE, 0, world.map(LV2_BUF_SIZE__nominalBlockLength), sizeof(int32_t), intType,
                       &self->blockValues_[1]},
                      {LV2_OPTIONS_INSTANCE, 0, world.map(LV2_BUF_SIZE__minBlockLength), sizeof(int32_t), intType,
                       &self->blockValues_[2]},
                      {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    self->features_ = {{LV2_URID__map, world.uridMap()},
                       {LV2_URID__unmap, world.uridUnmap()},
                       {LV2_WORKER__schedule, &self->scheduleFeature_},
                       {LV2_OPTIONS__options, self->options_.data()},
                       {LV2_BUF_SIZE__boundedBlockLength, nullptr}};
    for (const LV2_Feature& f : self->features_)
        self->featureList_.push_back(&f);
    self->featureList_.push_back(nullptr);

    self->instance_ = lilv_plugin_instantiate(plugin, rate, self->featureList_.data());
    if (self->instance_ == nullptr) {
        error = "instantiate failed";
        return nullptr;
    }
    self->worker_ = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(self->instance_, LV2_WORKER__interface));

    LilvWorld* w = world.get();
    const Node inputClass(lilv_new_uri(w, LV2_CORE__InputPort)), controlClass(lilv_new_uri(w, LV2_CORE__ControlPort));
    const Node audioClass(lilv_new_uri(w, LV2_CORE__AudioPort)), cvClass(lilv_new_uri(w, LV2_CORE__CVPort));
    const Node atomClass(lilv_new_uri(w, LV2_ATOM__AtomPort));
    const uint32_t ports = lilv_plugin_get_num_ports(plugin);
    self->controls_.assign(ports, 0.0f);
    self->silence_.assign(static_cast<std::size_t>(std::max(blockLength, 1)), 0.0f);
    std::vector<float> defaults(ports, 0.0f);
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
    std::size_t audioOutputs = 0, atomInputs = 0, atomOutputs = 0;
    for (uint32_t i = 0; i < ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        const bool input = lilv_port_is_a(plugin, port, inputClass);
        if (lilv_port_is_a(plugin, port, controlClass)) {
            self->controls_[i] = defaults[i] == defaults[i] ? defaults[i] : 0.0f;
            if (input)
                self->controlInputs_.push_back(i);
        } else if (lilv_port_is_a(plugin, port, audioClass) || lilv_port_is_a(plugin, port, cvClass)) {
            if (input)
                continue;
            ++audioOutputs;
        } else if (lilv_port_is_a(plugin, port, atomClass)) {
            ++(input ? atomInputs : atomOutputs);
        }
    }
    self->audioOut_.assign(audioOutputs, std::vector<float>(self->silence_.size()));
    self->atomIn_.assign(atomInputs, std::vector<uint64_t>(kAtomBytes / 8));
    self->atomOut_.assign(atomOutputs, std::vector<uint64_t>(kAtomBytes / 8));
    std::size_t audio = 0, atomIn = 0, atomOut = 0;
    for (uint32_t i = 0; i < ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        const bool input = lilv_port_is_a(plugin, port, inputClass);
        void* buffer = nullptr;
        if (lilv_port_is_a(plugin, port, controlClass))
            buffer = &self->controls_[i];
        else if (lilv_port_is_a(plugin, port, audioClass) || lilv_port_is_a(plugin, port, cvClass))
            buffer = input ? self->silence_.data() : self->audioOut_[audio++].data();
        else if (lilv_port_is_a(plugin, port, atomClass))
            buffer = input ? self->atomIn_[atomIn++].data() : self->atomOut_[atomOut++].data();
        lilv_instance_connect_port(self->instance_, i, buffer);
    }
    self->clearEvents();
    if (mode == WorkerMode::Thread)
        self->thread_ = std::thread([s = self.get()] { s->workerLoop(); });
    lilv_instance_activate(self->instance_);
    return self;
}

Instance::~Instance() {
    if (thread_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    if (instance_ != nullptr) {
        lilv_instance_deactivate(instance_);
        lilv_instance_free(instance_);
    }
}

void Instance::setControl(uint32_t index, float value) {
    if (std::find(controlInputs_.begin(), controlInputs_.end(), index) != controlInputs_.end())
        controls_[index] = value;
}

float Instance::control(uint32_t index) const { return index < controls_.size() ? controls_[index] : 0.0f; }

void Instance::clearEvents() {
    for (auto& buffer : atomIn_) {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
        seq->atom = {static_cast<uint32_t>(sizeof(LV2_Atom_Sequence_Body)), sequence_};
        seq->body = {0, 0};
    }
}

void Instance::midi(int64_t frame, const std::vector<uint8_t>& bytes) {
    for (auto& buffer : atomIn_) {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
        const std::size_t padded = (sizeof(LV2_Atom_Event) + bytes.size() + 7) & ~std::size_t{7};
        if (sizeof(LV2_Atom) + seq->atom.size + padded > kAtomBytes)
            continue;
        auto* event = reinterpret_cast<LV2_Atom_Event*>(reinterpret_cast<uint8_t*>(&seq->body) + seq->atom.size);
        event->time.frames = frame;
        event->body = {static_cast<uint32_t>(bytes.size()), midiEvent_};
        std::memcpy(event + 1, bytes.data(), bytes.size());
        seq->atom.size += static_cast<uint32_t>(padded);
    }
}

double Instance::run(uint32_t frames) {
    for (auto& buffer : atomOut_)
        *reinterpret_cast<LV2_Atom*>(buffer.data()) = {static_cast<uint32_t>(kAtomBytes - sizeof(LV2_Atom)), chunk_};
    const double start = threadSeconds();
    lilv_instance_run(instance_, frames);
    const double spent = threadSeconds() - start;
    clearEvents();
    if (mode_ == WorkerMode::Synchronous)
        releaseWork();
    deliverResponses();
    return spent;
}

// With the queue's lock held.
LV2_Worker_Status Instance::enqueue(std::vector<Message>& queue, std::size_t& pending, uint32_t size,
                                    const void* data) {
    if (pending == kQueue || size > Message{}.data.size())
        return LV2_WORKER_ERR_NO_SPACE;
    Message& m = queue[pending++];
    m.size = size;
    if (size > 0)
        std::memcpy(m.data.data(), data, size);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Instance::schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data) {
    auto* self = static_cast<Instance*>(handle);
    {
        const std::lock_guard lock(self->mutex_);
        if (const auto status = enqueue(self->requests_, self->pendingRequests_, size, data);
            status != LV2_WORKER_SUCCESS)
            return status;
    }
    self->scheduled_.fetch_add(1);
    self->wake_.notify_one();
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Instance::respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
    auto* self = static_cast<Instance*>(handle);
    const std::lock_guard lock(self->mutex_);
    return enqueue(self->responses_, self->pendingResponses_, size, data);
}

void Instance::doWork(const Message& request) {
    if (worker_ != nullptr && worker_->work != nullptr)
        worker_->work(lilv_instance_get_handle(instance_), respond, this, request.size, request.data.data());
    worked_.fetch_add(1);
}

// Takes the waiting requests one at a time, so that work() runs unlocked.
void Instance::releaseWork() {
    for (;;) {
        Message request;
        {
            const std::lock_guard lock(mutex_);
            if (pendingRequests_ == 0)
                return;
            request = requests_[0];
            std::rotate(requests_.begin(), requests_.begin() + 1, requests_.end());
            --pendingRequests_;
        }
        doWork(request);
    }
}

void Instance::workerLoop() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pendingRequests_ > 0; });
            if (stopping_)
                return;
        }
        releaseWork();
    }
}

void Instance::deliverResponses() {
    std::size_t count = 0;
    {
        const std::lock_guard lock(mutex_);
        count = pendingResponses_;
        std::copy_n(responses_.begin(), count, delivering_.begin());
        pendingResponses_ = 0;
    }
    if (worker_ == nullptr)
        return;
    LV2_Handle handle = lilv_instance_get_handle(instance_);
    for (std::size_t i = 0; i < count; ++i)
        if (worker_->work_response != nullptr)
            worker_->work_response(handle, delivering_[i].size, delivering_[i].data.data());
    if (worker_->end_run != nullptr)
        worker_->end_run(handle);
}

}  // namespace lv2host
