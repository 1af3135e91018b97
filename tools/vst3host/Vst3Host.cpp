#include "Vst3Host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <poll.h>
#endif

#include <algorithm>
#include <cstring>

namespace vst3host {

namespace {

// The loader's three calls on each system. Windows hosts call InitDll and
// ExitDll when the module has them; Linux hosts require ModuleEntry and
// ModuleExit, and hand ModuleEntry the library's handle.
#if defined(_WIN32)
void* openLibrary(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return module;
}
void* symbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
bool enter(void* handle) {
    using Init = bool(VST3CALL*)();
    auto init = reinterpret_cast<Init>(symbol(handle, "InitDll"));
    return init == nullptr || init();
}
constexpr const char* kExit = "ExitDll";
#else
void* openLibrary(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "cannot load " + path;
    }
    return handle;
}
void* symbol(void* handle, const char* name) { return dlsym(handle, name); }
void closeLibrary(void* handle) { dlclose(handle); }
bool enter(void* handle) {
    using Entry = bool (*)(void*);
    auto entry = reinterpret_cast<Entry>(symbol(handle, "ModuleEntry"));
    return entry != nullptr && entry(handle);
}
constexpr const char* kExit = "ModuleExit";
#endif

bool same(const char* iid, const vst3::Guid& id) { return iid != nullptr && std::memcmp(iid, id.bytes, 16) == 0; }

template <typename T>
vst3::Result answer(T* self, const char* iid, const vst3::Guid& own, void** object) {
    if (object == nullptr)
        return vst3::kInvalidArgument;
    *object = same(iid, vst3::kIidUnknown) || same(iid, own) ? self : nullptr;
    return *object != nullptr ? vst3::kOk : vst3::kNoInterface;
}

}  // namespace

std::string moduleInBundle(const std::string& bundle) {
#if defined(_WIN32)
    return bundle + "\\Contents\\x86_64-win\\Veltrosa.vst3";
#elif defined(__aarch64__)
    return bundle + "/Contents/aarch64-linux/Veltrosa.so";
#else
    return bundle + "/Contents/x86_64-linux/Veltrosa.so";
#endif
}

std::unique_ptr<Module> Module::open(const std::string& path, std::string& error) {
    std::unique_ptr<Module> module(new Module);
    module->handle_ = openLibrary(path, error);
    if (module->handle_ == nullptr)
        return nullptr;
    using GetFactory = vst3::PluginFactory*(VST3CALL*)();
    auto get = reinterpret_cast<GetFactory>(symbol(module->handle_, "GetPluginFactory"));
    if (get == nullptr || !enter(module->handle_)) {
        error = "no GetPluginFactory, or the module's entry call failed";
        return nullptr;
    }
    module->factory_ = get();
    if (module->factory_ == nullptr) {
        error = "GetPluginFactory returned null";
        return nullptr;
    }
    return module;
}

Module::~Module() {
    if (handle_ == nullptr)
        return;
    if (factory_ != nullptr)
        factory_->release();
    using Exit = bool(VST3CALL*)();
    if (auto exit = reinterpret_cast<Exit>(symbol(handle_, kExit)))
        exit();
    closeLibrary(handle_);
}

vst3::Result MemoryStream::queryInterface(const char* iid, void** object) {
    return answer(this, iid, vst3::kIidStream, object);
}

vst3::Result MemoryStream::read(void* buffer, int32_t bytes, int32_t* bytesRead) {
    if (buffer == nullptr || bytes < 0)
        return vst3::kInvalidArgument;
    const auto n = std::min<std::size_t>({static_cast<std::size_t>(bytes), static_cast<std::size_t>(chunk_),
                                          bytes_.size() - at_});
    if (n > 0)
        std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    if (bytesRead != nullptr)
        *bytesRead = static_cast<int32_t>(n);
    return vst3::kOk;
}

vst3::Result MemoryStream::write(void* buffer, int32_t bytes, int32_t* bytesWritten) {
    if (buffer == nullptr || bytes < 0)
        return vst3::kInvalidArgument;
    const auto n = std::min(bytes, chunk_);
    const auto* from = static_cast<const unsigned char*>(buffer);
    if (bytes_.size() < at_ + static_cast<std::size_t>(n))
        bytes_.resize(at_ + static_cast<std::size_t>(n));
    if (n > 0)
        std::memcpy(bytes_.data() + at_, from, static_cast<std::size_t>(n));
    at_ += static_cast<std::size_t>(n);
    if (bytesWritten != nullptr)
        *bytesWritten = n;
    return vst3::kOk;
}

vst3::Result MemoryStream::seek(int64_t position, int32_t mode, int64_t* result) {
    const int64_t base = mode == vst3::kSeekSet ? 0 : mode == vst3::kSeekCur ? static_cast<int64_t>(at_)
                                                                              : static_cast<int64_t>(bytes_.size());
    const int64_t to = base + position;
    if (to < 0 || to > static_cast<int64_t>(bytes_.size()))
        return vst3::kInvalidArgument;
    at_ = static_cast<std::size_t>(to);
    if (result != nullptr)
        *result = to;
    return vst3::kOk;
}

vst3::Result MemoryStream::tell(int64_t* position) {
    if (position == nullptr)
        return vst3::kInvalidArgument;
    *position = static_cast<int64_t>(at_);
    return vst3::kOk;
}

vst3::Result EventList::queryInterface(const char* iid, void** object) {
    return answer(this, iid, vst3::kIidEventList, object);
}

vst3::Result EventList::getEvent(int32_t index, vst3::Event& event) {
    if (index < 0 || index >= getEventCount())
        return vst3::kInvalidArgument;
    event = events_[static_cast<std::size_t>(index)];
    return vst3::kOk;
}

vst3::Result EventList::addEvent(vst3::Event& event) {
    events_.push_back(event);
    return vst3::kOk;
}

void EventList::noteOn(int32_t offset, int16_t pitch, float velocity, int32_t noteId) {
    vst3::Event e{};
    e.sampleOffset = offset;
    e.type = vst3::kNoteOnEvent;
    e.noteOn = {0, pitch, 0.0f, velocity, 0, noteId};
    events_.push_back(e);
}

void EventList::noteOff(int32_t offset, int16_t pitch) {
    vst3::Event e{};
    e.sampleOffset = offset;
    e.type = vst3::kNoteOffEvent;
    e.noteOff = {0, pitch, 0.0f, -1, 0.0f};
    events_.push_back(e);
}

vst3::Result ParamQueue::queryInterface(const char* iid, void** object) {
    return answer(this, iid, vst3::kIidParamValueQueue, object);
}

vst3::Result ParamQueue::getPoint(int32_t index, int32_t& sampleOffset, double& value) {
    if (index < 0 || index >= getPointCount())
        return vst3::kInvalidArgument;
    sampleOffset = points_[static_cast<std::size_t>(index)].first;
    value = points_[static_cast<std::size_t>(index)].second;
    return vst3::kOk;
}

vst3::Result ParamQueue::addPoint(int32_t sampleOffset, double value, int32_t& index) {
    index = getPointCount();
    points_.emplace_back(sampleOffset, value);
    return vst3::kOk;
}

vst3::Result ParamChanges::queryInterface(const char* iid, void** object) {
    return answer(this, iid, vst3::kIidParameterChanges, object);
}

vst3::ParamValueQueue* ParamChanges::getParameterData(int32_t index) {
    return index >= 0 && index < getParameterCount() ? queues_[static_cast<std::size_t>(index)].get() : nullptr;
}

vst3::ParamValueQueue* ParamChanges::addParameterData(const vst3::ParamId& id, int32_t& index) {
    for (std::size_t i = 0; i < queues_.size(); ++i)
        if (queues_[i]->getParameterId() == id) {
            index = static_cast<int32_t>(i);
            return queues_[i].get();
        }
    index = getParameterCount();
    queues_.push_back(std::make_unique<ParamQueue>(id));
    return queues_.back().get();
}

void ParamChanges::add(vst3::ParamId id, int32_t offset, double value) {
    int32_t index = 0;
    addParameterData(id, index)->addPoint(offset, value, index);
}

vst3::Result ComponentHandler::queryInterface(const char* iid, void** object) {
    return answer(this, iid, vst3::kIidComponentHandler, object);
}

vst3::Result ComponentHandler::beginEdit(vst3::ParamId id) {
    edits_.push_back({Step::Begin, id, 0.0});
    return vst3::kOk;
}

vst3::Result ComponentHandler::performEdit(vst3::ParamId id, double value) {
    edits_.push_back({Step::Perform, id, value});
    return vst3::kOk;
}

vst3::Result ComponentHandler::endEdit(vst3::ParamId id) {
    edits_.push_back({Step::End, id, 0.0});
    return vst3::kOk;
}

#if !defined(_WIN32)
Frame::~Frame() {
    for (auto& [handler, fd] : fds_)
        handler->release();
    for (vst3::TimerHandler* handler : timers_)
        handler->release();
}

vst3::Result Frame::queryInterface(const char* iid, void** object) {
    if (object == nullptr)
        return vst3::kInvalidArgument;
    *object = nullptr;
    if (same(iid, vst3::kIidUnknown) || same(iid, vst3::kIidPlugFrame))
        *object = static_cast<vst3::PlugFrame*>(this);
    else if (same(iid, vst3::kIidRunLoop))
        *object = static_cast<vst3::RunLoop*>(this);
    return *object != nullptr ? vst3::kOk : vst3::kNoInterface;
}

vst3::Result Frame::resizeView(vst3::PlugView* view, vst3::ViewRect* newSize) {
    if (view == nullptr || newSize == nullptr)
        return vst3::kInvalidArgument;
    resizes_.push_back(*newSize);
    return view->onSize(newSize);
}

vst3::Result Frame::registerEventHandler(vst3::EventHandler* handler, int fd) {
    if (handler == nullptr || fd < 0)
        return vst3::kInvalidArgument;
    handler->addRef();
    fds_.emplace_back(handler, fd);
    return vst3::kOk;
}

vst3::Result Frame::unregisterEventHandler(vst3::EventHandler* handler) {
    const auto mine = [handler](const auto& entry) { return entry.first == handler; };
    const auto n = std::count_if(fds_.begin(), fds_.end(), mine);
    std::erase_if(fds_, mine);
    for (auto i = n; i > 0; --i)
        handler->release();
    return n > 0 ? vst3::kOk : vst3::kInvalidArgument;
}

vst3::Result Frame::registerTimer(vst3::TimerHandler* handler, uint64_t milliseconds) {
    if (handler == nullptr || milliseconds == 0)
        return vst3::kInvalidArgument;
    handler->addRef();
    timers_.push_back(handler);
    return vst3::kOk;
}

vst3::Result Frame::unregisterTimer(vst3::TimerHandler* handler) {
    const auto n = std::erase(timers_, handler);
    for (auto i = n; i > 0; --i)
        handler->release();
    return n > 0 ? vst3::kOk : vst3::kInvalidArgument;
}

// Any handler may unregister any other (and itself) inside its call: each
// is run only while still registered, and held during its call.
void Frame::pump() {
    for (const auto& entry : std::vector(fds_)) {
        pollfd watched{entry.second, POLLIN, 0};
        if (std::find(fds_.begin(), fds_.end(), entry) == fds_.end() || poll(&watched, 1, 0) <= 0)
            continue;
        entry.first->addRef();
        entry.first->onFDIsSet(entry.second);
        entry.first->release();
    }
    for (vst3::TimerHandler* handler : std::vector(timers_)) {
        if (std::find(timers_.begin(), timers_.end(), handler) == timers_.end())
            continue;
        handler->addRef();
        handler->onTimer();
        handler->release();
    }
}
#endif

std::unique_ptr<Instance> Instance::create(const Module& module, std::string& error) {
    vst3::PluginFactory* factory = module.factory();
    std::unique_ptr<Instance> instance(new Instance);
    for (int32_t i = 0; i < factory->countClasses(); ++i) {
        vst3::ClassInfo info{};
        if (factory->getClassInfo(i, &info) != vst3::kOk || std::strcmp(info.category, vst3::kCategoryAudioEffect) != 0)
            continue;
        void* object = nullptr;
        if (factory->createInstance(info.cid, vst3::kIidComponent.bytes, &object) != vst3::kOk || object == nullptr) {
            error = "the factory made no component";
            return nullptr;
        }
        instance->component_ = static_cast<vst3::Component*>(object);
        break;
    }
    if (instance->component_ == nullptr) {
        error = "no audio module class";
        return nullptr;
    }
    void* object = nullptr;
    if (instance->component_->queryInterface(vst3::kIidAudioProcessor.bytes, &object) != vst3::kOk) {
        error = "the component is no audio processor";
        return nullptr;
    }
    instance->processor_ = static_cast<vst3::AudioProcessor*>(object);
    if (instance->component_->initialize(nullptr) != vst3::kOk) {
        error = "the component refused initialize";
        return nullptr;
    }
    char controllerId[16] = {};
    object = nullptr;
    if (instance->component_->getControllerClassId(controllerId) != vst3::kOk ||
        factory->createInstance(controllerId, vst3::kIidEditController.bytes, &object) != vst3::kOk ||
        object == nullptr) {
        error = "no controller";
        return nullptr;
    }
    instance->controller_ = static_cast<vst3::EditController*>(object);
    if (instance->controller_->initialize(nullptr) != vst3::kOk) {
        error = "the controller refused initialize";
        return nullptr;
    }
    return instance;
}

Instance::~Instance() {
    stop();
    if (controller_ != nullptr) {
        controller_->terminate();
        controller_->release();
    }
    if (processor_ != nullptr)
        processor_->release();
    if (component_ != nullptr) {
        component_->terminate();
        component_->release();
    }
}

bool Instance::start(double rate, int32_t maxFrames, int32_t mode) {
    vst3::SpeakerArrangement stereo = vst3::kStereo;
    vst3::ProcessSetup setup{mode, vst3::kSample32, maxFrames, rate};
    mode_ = mode;
    left_.assign(static_cast<std::size_t>(maxFrames), 0.0f);
    right_.assign(static_cast<std::size_t>(maxFrames), 0.0f);
    started_ = processor_->setBusArrangements(nullptr, 0, &stereo, 1) == vst3::kOk &&
               processor_->setupProcessing(setup) == vst3::kOk && component_->setActive(1) == vst3::kOk &&
               processor_->setProcessing(1) == vst3::kOk;
    return started_;
}

void Instance::stop() {
    if (!started_)
        return;
    processor_->setProcessing(0);
    component_->setActive(0);
    started_ = false;
}

vst3::Result Instance::process(int32_t frames, EventList* events, ParamChanges* changes) {
    if (left_.size() < static_cast<std::size_t>(frames)) {
        left_.resize(static_cast<std::size_t>(frames));
        right_.resize(static_cast<std::size_t>(frames));
    }
    float* channels[2] = {left_.data(), right_.data()};
    vst3::AudioBusBuffers output{};
    output.numChannels = 2;
    output.channelBuffers32 = channels;
    vst3::ProcessData data{};
    data.processMode = mode_;
    data.symbolicSampleSize = vst3::kSample32;
    data.numSamples = frames;
    data.numOutputs = 1;
    data.outputs = &output;
    data.inputParameterChanges = changes;
    data.inputEvents = events;
    return processor_->process(data);
}

}  // namespace vst3host
