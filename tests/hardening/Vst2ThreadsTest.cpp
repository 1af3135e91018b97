// Hosts call an instrument from several threads at once: the audio thread
// sends events and renders blocks, automation and project loading set
// parameters and chunks from another, and the user-interface thread pumps the
// editor and asks for names. These tests run all three together through the
// effect record for a few seconds; under ThreadSanitizer (make test-tsan)
// they must produce no race report.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "DrawingCaches.h"
#include "TestSupport.h"
#include "editor/ControlWindow.h"
#include "editor/platform/raster/CairoSurface.h"
#include "editor/platform/raster/RasterWindowLayer.h"
#include "core/Parameters.h"
#include "engine/Wavetable.h"
#include "abi/vst2.h"
#include "vst2/Instrument.h"

namespace {

using namespace std::chrono_literals;
using veltrosa::kNumParams;
using veltrosa::kParamUpdate;

constexpr auto kRunTime = 2500ms;
constexpr auto kMaxRunTime = 30s;
constexpr int32_t kBlock = 256;

intptr_t VSTCALL quietHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

// One instrument reached only through its record, as a host holds it.
class Record {
public:
    // The record owns the instrument: effClose deletes it.
    Record() : record_((new veltrosa::vst2edge::Instrument(quietHost))->getAeffect()) {
        dispatch(vst2::effOpen);
        dispatch(vst2::effSetSampleRate, 0, 0, nullptr, 44100.0f);
        dispatch(vst2::effSetBlockSize, 0, kBlock);
        dispatch(vst2::effMainsChanged, 0, 1);
    }
    ~Record() { dispatch(vst2::effClose); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return record_->dispatcher(record_, opcode, index, value, ptr, opt);
    }
    void setParameter(int32_t index, float value) { record_->setParameter(record_, index, value); }
    float getParameter(int32_t index) { return record_->getParameter(record_, index); }
    void process(float* left, float* right, int32_t frames) {
        float* outputs[2] = {left, right};
        record_->processReplacing(record_, nullptr, outputs, frames);
    }
    veltrosa::vst2edge::Instrument& instrument() { return *static_cast<veltrosa::vst2edge::Instrument*>(record_->object); }

private:
    vst2::AEffect* record_;
};

struct MidiList {
    std::array<vst2::VstMidiEvent, 8> events{};
    std::vector<unsigned char> storage;

    vst2::VstEvents* build(int count) {
        storage.assign(offsetof(vst2::VstEvents, events) + events.size() * sizeof(vst2::VstEvent*), 0);
        auto* list = reinterpret_cast<vst2::VstEvents*>(storage.data());
        list->numEvents = count;
        vst2::VstEvent** slots = list->events;
        for (int i = 0; i < count; ++i)
            slots[i] = reinterpret_cast<vst2::VstEvent*>(&events[static_cast<std::size_t>(i)]);
        return list;
    }
};

// Audio thread: a random stream of notes and controllers, one list and one
// block at a time; every sample finite and bounded (every value the other
// threads write lies in 0..1), and the table the voices read is always whole:
// its guard entry is its first.
void audioThread(Record& plugin, const std::atomic<bool>& stop, std::atomic<int>& badSamples,
                 std::atomic<int>& tornTables, std::atomic<int>& blocks) {
    constexpr auto kGuard = static_cast<std::size_t>(veltrosa::Wavetable::kLength);
    std::mt19937 random(1);
    std::vector<float> left(kBlock), right(kBlock);
    MidiList list;
    while (!stop.load()) {
        const int count = static_cast<int>(random() % 5);
        for (int i = 0; i < count; ++i) {
            auto& event = list.events[static_cast<std::size_t>(i)];
            event = {};
            event.type = vst2::kVstMidiType;
            event.byteSize = sizeof event;
            event.deltaFrames = static_cast<int32_t>(random() % kBlock);
            const unsigned roll = random() % 16;
            const int key = 36 + static_cast<int>(random() % 48);
            event.midiData[0] = static_cast<char>(roll == 0 ? 0xB0 : (roll < 9 ? 0x90 : 0x80));
            event.midiData[1] = static_cast<char>(roll == 0 ? 123 : key);
            event.midiData[2] = static_cast<char>(roll == 0 ? 0 : 1 + random() % 127);
        }
        plugin.dispatch(vst2::effProcessEvents, 0, 0, list.build(count));
        plugin.process(left.data(), right.data(), kBlock);
        for (int32_t i = 0; i < kBlock; ++i)
            if (!std::isfinite(left[i]) || !std::isfinite(right[i]) || std::fabs(left[i]) > 1000.0f ||
                std::fabs(right[i]) > 1000.0f)
                badSamples.fetch_add(1);
        const float* table = plugin.instrument().synth().table();
        if (table == nullptr || testing_support::floatBits(table[kGuard]) != testing_support::floatBits(table[0]))
            tornTables.fetch_add(1);
        blocks.fetch_add(1);
    }
}

// User-interface thread: what hosts call from their window thread while the
// audio thread renders, with the editor open on a raster window: the user
// drags sliders, turns value boxes and now and then presses "Update".
void interfaceThread(Record& plugin, const std::atomic<bool>& stop, const std::atomic<bool>& mayEdit,
                     std::atomic<bool>& editsDone, std::atomic<int>& edits, std::atomic<int>& calls) {
    using veltrosa::WindowMessage;
    using veltrosa::WindowMessageType;
    std::mt19937 random(3);
    auto* gui = dynamic_cast<veltrosa::ControlWindow*>(plugin.instrument().getEditor());
    if (gui != nullptr)
        gui->setWindowLayerFactory([] { return std::make_unique<veltrosa::RasterWindowLayer>(); });
    static int parentWindow = 0;
    plugin.dispatch(vst2::effEditOpen, 0, 0, &parentWindow);
    int step = 0;
    while (!stop.load()) {
        auto* layer = gui != nullptr ? dynamic_cast<veltrosa::RasterWindowLayer*>(gui->windowLayer()) : nullptr;
        if (!mayEdit.load())
            editsDone.store(true);
        else if (layer != nullptr && layer->exists()) {
            const auto x = static_cast<int32_t>(random() % 305);
            const auto y = static_cast<int32_t>(random() % 370);
            const bool update = ++step % 40 == 0;  // the Update button
            layer->deliver({WindowMessageType::LeftButtonDown, update ? 265 : x, update ? 90 : y, 0});
            layer->deliver({WindowMessageType::MouseMove, x, static_cast<int32_t>(random() % 370), 0});
            layer->deliver({WindowMessageType::LeftButtonUp, x, y, 0});
            layer->deliver({WindowMessageType::Wheel, x, y, static_cast<int32_t>(random() % 3) * 120 - 120});
            edits.fetch_add(1);
        }
        char name[25] = {};
        char param[9] = {};
        plugin.dispatch(vst2::effEditIdle);
        plugin.dispatch(vst2::effGetProgram);
        plugin.dispatch(vst2::effGetProgramName, 0, 0, name);
        const auto index = static_cast<int32_t>(random() % kNumParams);
        plugin.dispatch(vst2::effGetParamName, index, 0, param);
        plugin.dispatch(vst2::effGetParamLabel, index, 0, param);
        (void)plugin.getParameter(index);
        vst2::ERect* rect = nullptr;
        plugin.dispatch(vst2::effEditGetRect, 0, 0, &rect);
        if (random() % 64 == 0) {
            plugin.dispatch(vst2::effEditClose);
            plugin.dispatch(vst2::effEditOpen, 0, 0, &parentWindow);
        }
        calls.fetch_add(1);
        std::this_thread::sleep_for(1ms);
    }
    plugin.dispatch(vst2::effEditClose);
}

TEST(Vst2Threads, AudioParameterAndInterfaceThreadsTogether) {
    Record plugin;
    std::atomic<bool> stop{false}, mayEdit{true}, editsDone{false};
    std::atomic<int> badSamples{0}, tornTables{0}, blocks{0}, edits{0}, interfaceCalls{0};
    std::thread audio(audioThread, std::ref(plugin), std::cref(stop), std::ref(badSamples), std::ref(tornTables),
                      std::ref(blocks));
    std::thread ui(interfaceThread, std::ref(plugin), std::cref(stop), std::cref(mayEdit), std::ref(editsDone),
                   std::ref(edits), std::ref(interfaceCalls));

    // Parameter thread (this one): automation of every parameter, "Update"
    // pressed and chunks loaded now and then, each a full regeneration, and
    // each time a larger block size announced, as a careless host does live.
    std::mt19937 random(2);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const auto start = std::chrono::steady_clock::now();
    auto nextHeavy = start;
    int regenerations = 0;
    // At least kRunTime, and long enough on a slow machine for every thread
    // to have done its share.
    const auto enough = [&] {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        return elapsed > kMaxRunTime || (elapsed >= kRunTime && regenerations >= 4 && blocks.load() > 20 &&
                                         edits.load() > 20 && interfaceCalls.load() > 20);
    };
    while (!enough()) {
        const auto index = static_cast<int32_t>(random() % kNumParams);
        const float value = unit(random);
        plugin.setParameter(index, index == kParamUpdate ? std::min(value, 0.9f) : value);
        if (std::chrono::steady_clock::now() >= nextHeavy) {
            if (regenerations % 2 == 0) {
                plugin.setParameter(kParamUpdate, 0.95f);
                EXPECT_EQ(plugin.getParameter(kParamUpdate), 0.0f);
            } else {
                std::array<float, kNumParams> chunk{};
                for (float& v : chunk)
                    v = unit(random);
                EXPECT_EQ(plugin.dispatch(vst2::effSetChunk, 0, sizeof chunk, chunk.data()), 192);
            }
            ++regenerations;
            plugin.dispatch(vst2::effSetBlockSize, 0, kBlock + 64 * regenerations);
            nextHeavy = std::chrono::steady_clock::now() + 200ms;
        }
    }

    // The last value written is the one read back, while audio and the
    // editor's redraws still run (the user has let go of the mouse).
    mayEdit.store(false);
    while (!editsDone.load())
        std::this_thread::sleep_for(1ms);
    std::array<float, kNumParams> last{};
    for (int32_t i = 0; i < kNumParams; ++i) {
        last[static_cast<std::size_t>(i)] = i == kParamUpdate ? 0.5f : unit(random);
        plugin.setParameter(i, last[static_cast<std::size_t>(i)]);
    }
    std::this_thread::sleep_for(50ms);
    stop.store(true);
    audio.join();
    ui.join();

    for (int32_t i = 0; i < kNumParams; ++i)
        EXPECT_EQ(testing_support::floatBits(plugin.getParameter(i)),
                  testing_support::floatBits(last[static_cast<std::size_t>(i)]))
            << "parameter " << i;
    EXPECT_EQ(badSamples.load(), 0);
    EXPECT_EQ(tornTables.load(), 0);
    EXPECT_GT(blocks.load(), 20);
    EXPECT_GT(interfaceCalls.load(), 20);
    EXPECT_GT(edits.load(), 20);
    EXPECT_GE(regenerations, 4);
}

// A host restoring a project builds and loads several instances at once, each
// from its own thread; their tables come from one shared phase generator and
// one cached transform set-up, while each instance's audio keeps running.
TEST(Vst2Threads, InstancesRegenerateOnSeveralThreadsAtOnce) {
    constexpr int kInstances = 3;
    constexpr int kLoads = 4;
    std::array<std::unique_ptr<Record>, kInstances> plugins;
    for (auto& plugin : plugins)
        plugin = std::make_unique<Record>();
    std::atomic<bool> stop{false};
    std::atomic<int> badSamples{0}, tornTables{0}, blocks{0};
    std::vector<std::thread> threads;
    for (auto& plugin : plugins)
        threads.emplace_back(audioThread, std::ref(*plugin), std::cref(stop), std::ref(badSamples),
                             std::ref(tornTables), std::ref(blocks));
    std::vector<std::thread> loaders;
    for (int k = 0; k < kInstances; ++k)
        loaders.emplace_back([&plugins, k] {
            Record& plugin = *plugins[static_cast<std::size_t>(k)];
            std::array<float, kNumParams> chunk{};
            for (int load = 0; load < kLoads; ++load) {
                for (std::size_t i = 0; i < chunk.size(); ++i)
                    chunk[i] = static_cast<float>((i * 7 + static_cast<std::size_t>(load + k)) % 11) / 10.0f;
                EXPECT_EQ(plugin.dispatch(vst2::effSetChunk, 0, sizeof chunk, chunk.data()), 192);
                plugin.setParameter(kParamUpdate, 1.0f);
                EXPECT_EQ(testing_support::floatBits(plugin.getParameter(0)), testing_support::floatBits(chunk[0]));
            }
        });
    for (auto& loader : loaders)
        loader.join();
    while (blocks.load() < 20 * kInstances)
        std::this_thread::sleep_for(1ms);
    stop.store(true);
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(badSamples.load(), 0);
    EXPECT_EQ(tornTables.load(), 0);
}

}  // namespace
