// What the browser tests compare the page with, from the native build:
// the note script (EditionScript.h) as the VST 2 edition renders it at 48 kHz
// in 128-frame blocks (the worklet's quantum), the raster editor's picture
// with the default values, and the VST 2 edition's cost per frame for the
// held eight-note chord in the same blocks.
//
//   web_reference <output folder>
// writes script.json, reference.f32 (left, then right), editor.rgb
// (305 x 370, 3 bytes a pixel) and native.json.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "EditionScript.h"
#include "editor/ParameterHost.h"
#include "editor/platform/raster/RasterWindowLayer.h"
#include "ui/Editor.h"

namespace {

constexpr float kRate = 48000.0f;
constexpr int32_t kBlock = 128;
constexpr int kChord[] = {48, 52, 55, 59, 60, 64, 67, 71};

bool writeScript(const std::string& path) {
    using edition_script::ScriptEvent;
    std::ofstream out(path);
    out << "{\"rate\": " << kRate << ", \"block\": " << kBlock << ", \"frames\": " << edition_script::kScriptFrames
        << ",\n \"events\": [";
    const char* separator = "";
    for (const ScriptEvent& e : edition_script::kScript) {
        const bool on = e.kind == ScriptEvent::NoteOn || e.kind == ScriptEvent::MidiOn;
        out << separator << "[" << e.frame << ", " << (on ? 0x90 : 0x80) << ", " << e.key << ", " << (on ? e.value : 0)
            << "]";
        separator = ", ";
    }
    out << "],\n \"params\": [";
    separator = "";
    for (const ScriptEvent& p : edition_script::kParamScript) {
        out << separator << "[" << p.frame << ", " << p.key << ", " << static_cast<float>(p.value) / 1000.0f << "]";
        separator = ", ";
    }
    out << "]}\n";
    return static_cast<bool>(out);
}

bool writeSamples(const std::string& path) {
    const edition_script::Rendered rendered = edition_script::renderVst2(kRate, kBlock);
    if (rendered.left.empty())
        return false;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(rendered.left.data()), std::streamsize(rendered.left.size() * 4));
    out.write(reinterpret_cast<const char*>(rendered.right.data()), std::streamsize(rendered.right.size() * 4));
    return static_cast<bool>(out);
}

class DefaultValues final : public veltrosa::ParameterHost {
public:
    float parameterValue(int32_t index) override { return veltrosa::isParam(index) ? veltrosa::defaultParam(index) : 0.0f; }
    void setParameterFromUi(int32_t, float, bool) override {}
    std::string parameterName(int32_t index) override {
        return veltrosa::isParam(index) ? veltrosa::kParams[static_cast<std::size_t>(index)].shortName : "";
    }
};

bool writeEditor(const std::string& path) {
    DefaultValues values;
    veltrosa::Editor editor(&values);
    editor.refreshControls();
    veltrosa::RasterWindowLayer* layer = nullptr;
    editor.setWindowLayerFactory([&layer] {
        auto raster = std::make_unique<veltrosa::RasterWindowLayer>();
        layer = raster.get();
        return raster;
    });
    int parent = 0;
    editor.open(&parent);
    if (layer == nullptr)
        return false;
    std::ofstream out(path, std::ios::binary);
    for (int32_t y = 0; y < veltrosa::Editor::kHeight; ++y)
        for (int32_t x = 0; x < veltrosa::Editor::kWidth; ++x) {
            const veltrosa::Colour c = layer->pixel(x, y).value_or(veltrosa::Colour{});
            out.put(static_cast<char>(c.red)).put(static_cast<char>(c.green)).put(static_cast<char>(c.blue));
        }
    editor.close();
    return static_cast<bool>(out);
}

// Nanoseconds per frame, the best of three 20-second runs.
bool writeChordCost(const std::string& path) {
    double best = 0.0;
    for (int run = 0; run < 3; ++run) {
        auto plugin = testing_support::startedPlugin(kRate, kBlock);
        if (!plugin)
            return false;
        std::vector<vsthost::MidiMessage> chord;
        for (int key : kChord)
            chord.push_back(vsthost::noteOn(0, key, 100));
        plugin->sendEvents(chord);
        const auto blocks = static_cast<int64_t>(20 * kRate) / kBlock;
        const auto start = std::chrono::steady_clock::now();
        for (int64_t b = 0; b < blocks; ++b)
            plugin->process(kBlock);
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        const double perFrame = took.count() / static_cast<double>(blocks * kBlock);
        best = run == 0 ? perFrame : std::min(best, perFrame);
    }
    std::ofstream out(path);
    out << "{\"nsPerFrame\": " << best << "}\n";
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    if (!writeScript(dir + "/script.json") || !writeSamples(dir + "/reference.f32") ||
        !writeEditor(dir + "/editor.rgb") || !writeChordCost(dir + "/native.json")) {
        std::fprintf(stderr, "web_reference: could not write the references into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
