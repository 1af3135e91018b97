// veltrosa-render: plays a Standard MIDI File through a VST 2 instrument, as
// a sequencer would, and writes what it renders to a WAV file.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <unistd.h>

#include "Failure.h"
#include "Host.h"
#include "MidiFile.h"
#include "Options.h"
#include "Partials.h"
#include "core/State.h"
#include "ui/EditorSnapshot.h"
#include "WavFile.h"
#include "presets/Bank.h"
#include "presets/FxFile.h"

namespace render {

namespace {

// -100 dBFS: quieter than any format writes but float.
constexpr float kSilence = 1.0e-5f;
constexpr double kSilenceSeconds = 0.25;

volatile std::sig_atomic_t interrupted = 0;
extern "C" void onSignal(int) { interrupted = 1; }

std::unique_ptr<vsthost::Plugin> loadPlugin(const Options& options) {
    const std::string path = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    if (::access(path.c_str(), R_OK) != 0)
        throw Failure(kExitPlugin, "cannot load plug-in " + path + ": " + std::strerror(errno));
    vsthost::LoadOptions load;
    load.sampleRate = static_cast<float>(options.sampleRate);
    load.blockSize = options.blockSize;
    std::string error;
    auto plugin = vsthost::Plugin::load(path, error, load);
    if (!plugin)
        throw Failure(kExitPlugin, "cannot load plug-in: " + error);
    if (plugin->effect()->numOutputs < 1)
        throw Failure(kExitPlugin, "plug-in " + path + " has no audio outputs");
    plugin->start(static_cast<float>(options.sampleRate), options.blockSize);
    return plugin;
}

// Hands a chunk over as a host does. Many plug-ins answer 0 to a load they
// took (the answer was never pinned down), so 0 means refused only when the
// plug-in's state stayed as it was. `what` names the chunk in the message.
void applyChunk(vsthost::Plugin& plugin, std::span<const unsigned char> bytes, bool preset, const std::string& what) {
    if ((plugin.effect()->flags & vst2::effFlagsProgramChunks) == 0)
        throw Failure(kExitState, "cannot load " + what + ": the plug-in keeps no state chunk");
    const auto before = plugin.getChunk();
    const bool answered = !bytes.empty() && plugin.setChunk(bytes, preset) != 0;
    const bool same = std::equal(bytes.begin(), bytes.end(), before.begin(), before.end());
    if (!answered && (bytes.empty() || (plugin.getChunk() == before && !same)))
        throw Failure(kExitState, what + " has " + std::to_string(bytes.size()) +
                                      " bytes, which the plug-in rejects (its own state has " +
                                      std::to_string(before.size()) + " bytes)");
}

// A program as hosts load one: its name, then its chunk with the preset flag.
void applyProgram(vsthost::Plugin& plugin, const veltrosa::presets::FxProgram& program, bool preset,
                  const std::string& what) {
    if (preset) {
        std::vector<char> name(program.name.begin(), program.name.end());
        name.push_back('\0');
        plugin.dispatch(vst2::effSetProgramName, 0, 0, name.data());
    }
    applyChunk(plugin, program.chunk, preset, what);
}

void loadPresetFile(vsthost::Plugin& plugin, const std::string& path, std::span<const unsigned char> bytes,
                    int32_t program) {
    namespace vp = veltrosa::presets;
    vp::FxFile file;
    std::string error;
    if (!vp::readFx(bytes, file, error))
        throw Failure(kExitState, "cannot load " + path + ": " + error);
    const int32_t ours = plugin.effect()->uniqueID;
    if (file.pluginId != ours)
        throw Failure(kExitState, "cannot load " + path + ": it is for the plug-in with ID '" +
                                      vp::idText(file.pluginId) + "', not for this one ('" + vp::idText(ours) + "')");
    const auto count = static_cast<int32_t>(file.programs.size());
    const int32_t index = std::max(program, 0);
    if (index >= count)
        throw Failure(kExitUsage,
                      "invalid --program " + std::to_string(program) + ": " + path + " holds " + std::to_string(count) +
                          (count == 1 ? " program (0)" : " programs (0.." + std::to_string(count - 1) + ")"));
    const std::string what = count == 1 ? "the chunk of " + path : "program " + std::to_string(index) + " of " + path;
    applyProgram(plugin, file.programs[static_cast<std::size_t>(index)], file.kind != vp::FxKind::ChunkBank, what);
}

void loadState(vsthost::Plugin& plugin, const std::string& path, int32_t program) {
    const auto bytes = readWholeFile(path, kExitState, "state file");
    if (veltrosa::presets::isFxFile(bytes))
        return loadPresetFile(plugin, path, bytes, program);
    if (program >= 0)
        throw Failure(kExitUsage, "invalid --program " + std::to_string(program) + ": " + path +
                                      " is a raw state chunk, not a .fxp or .fxb file");
    applyChunk(plugin, bytes, false, "state file " + path);
}

// The factory preset a --preset names; a usage error names none.
const veltrosa::presets::Preset& factoryPreset(const std::string& name) {
    const auto* preset = veltrosa::presets::findPreset(veltrosa::presets::factoryBank(), name);
    if (preset == nullptr)
        throw Failure(kExitUsage, "unknown preset '" + name + "' (--list-presets lists them)");
    return *preset;
}

void listPresets() {
    const auto& bank = veltrosa::presets::factoryBank();
    int width = 4;
    for (const auto& preset : bank)
        width = std::max(width, static_cast<int>(preset.name.size()));
    for (std::size_t i = 0; i < bank.size(); ++i)
        std::printf("%2zu  %-*s  %s\n", i + 1, width, bank[i].name.c_str(), bank[i].about.c_str());
}

void setParameters(vsthost::Plugin& plugin, const std::vector<ParameterSetting>& settings) {
    for (const auto& s : settings) {
        if (s.index >= plugin.numParams())
            throw Failure(kExitUsage, "invalid --param " + s.text + ": the plug-in has " +
                                          std::to_string(plugin.numParams()) + " parameters (0.." +
                                          std::to_string(plugin.numParams() - 1) + ")");
        plugin.setParameter(s.index, s.value);
    }
}

void listParameters(vsthost::Plugin& plugin) {
    struct Row {
        std::string name, label, display;
        float value;
    };
    std::vector<Row> rows;
    int nameWidth = 4, labelWidth = 5;
    for (int32_t i = 0; i < plugin.numParams(); ++i) {
        rows.push_back(
            {plugin.parameterName(i), plugin.parameterLabel(i), plugin.parameterDisplay(i), plugin.getParameter(i)});
        nameWidth = std::max(nameWidth, static_cast<int>(rows.back().name.size()));
        labelWidth = std::max(labelWidth, static_cast<int>(rows.back().label.size()));
    }
    std::printf("%5s  %-*s  %-*s  %-10s  %s\n", "INDEX", nameWidth, "NAME", labelWidth, "LABEL", "VALUE", "DISPLAY");
    for (std::size_t i = 0; i < rows.size(); ++i)
        std::printf("%5zu  %-*s  %-*s  %-10.6f  %s\n", i, nameWidth, rows[i].name.c_str(), labelWidth,
                    rows[i].label.c_str(), static_cast<double>(rows[i].value), rows[i].display.c_str());
}

// Pictures are drawn by a private Veltrosa inside this program from the
// hosted plug-in's state, which therefore has to be Veltrosa's.
std::vector<unsigned char> veltrosaState(vsthost::Plugin& plugin, const char* option, const char* drawing) {
    auto chunk = plugin.getChunk();
    if (chunk.size() != veltrosa::kStateBytes)
        throw Failure(kExitPlugin, std::string(option) + " draws Veltrosa's " + drawing +
                                       ", but the plug-in's state has " + std::to_string(chunk.size()) +
                                       " bytes, not Veltrosa's " + std::to_string(veltrosa::kStateBytes));
    return chunk;
}

template <typename Draw>
void writePicture(const std::string& path, Draw draw) {
    OutputFile file(path);
    std::string error;
    if (!draw(file.temporaryPath(), error))
        throw Failure(kExitOutput, "cannot write " + path + ": " + error);
    file.commit();
}

class Progress {
public:
    Progress(bool enabled, int64_t endFrame, int sampleRate)
        : enabled_(enabled), end_(std::max<int64_t>(endFrame, 1)), rate_(sampleRate) {}
    ~Progress() { clear(); }

    void update(int64_t frame) {
        if (!enabled_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(100))
            return;
        last_ = now;
        constexpr int kWidth = 30;
        const double fraction = std::min(1.0, static_cast<double>(frame) / static_cast<double>(end_));
        const int filled = static_cast<int>(fraction * kWidth);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(kWidth, '.');
        std::fprintf(stderr, "\r[%s] %3d%%  %.1f s%s", bar.c_str(), static_cast<int>(fraction * 100.0),
                     static_cast<double>(frame) / rate_, frame > end_ ? "  tail" : "      ");
        drawn_ = true;
    }
    void clear() {
        if (drawn_)
            std::fprintf(stderr, "\r\033[K");
        drawn_ = false;
    }

private:
    bool enabled_;
    int64_t end_;
    int rate_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// A WAV file's sizes are 32-bit: refuse up front what it cannot hold rather
// than fill the disk with a file no program can read.
void checkWavCapacity(const MidiSequence& sequence, const Options& options) {
    const int64_t bytesPerFrame = options.format == SampleFormat::Float   ? 8
                                  : options.format == SampleFormat::Pcm24 ? 6
                                                                          : 4;
    const int64_t capacity = (int64_t{0xFFFFFFFF} - 4096) / bytesPerFrame;
    const int64_t frames = sequence.endFrame + std::llround(options.tailSeconds * options.sampleRate);
    if (frames > capacity)
        throw Failure(kExitOutput, "cannot write " + options.output + ": " + options.midiFile + " lasts " +
                                       std::to_string(sequence.endFrame / options.sampleRate) +
                                       " s, longer than a WAV file holds in this format (" +
                                       std::to_string(capacity / options.sampleRate) + " s)");
}

struct RenderResult {
    int64_t frames = 0;
    float peak = 0.0f;
};

// Renders the sequence, then the tail until the output has stayed silent for
// kSilenceSeconds (cut exactly there, whatever the block size) or the tail
// runs out.
RenderResult renderToFile(vsthost::Plugin& plugin, const MidiSequence& sequence, const Options& options) {
    checkWavCapacity(sequence, options);
    WavWriter wav(options.output, options.sampleRate, options.format);
    Progress progress(!options.quiet && ::isatty(STDERR_FILENO), sequence.endFrame, options.sampleRate);
    const int64_t end = sequence.endFrame;
    const int64_t limit = end + std::llround(options.tailSeconds * options.sampleRate);
    const auto window = static_cast<int64_t>(std::ceil(kSilenceSeconds * options.sampleRate));
    const int32_t right = plugin.outputCount() > 1 ? 1 : 0;

    vsthost::BlockFeeder feeder(plugin, sequence.messages);
    RenderResult result;
    int64_t silentRun = 0;
    bool done = false;
    while (!done && feeder.position() < limit) {
        if (interrupted)
            throw Failure(kExitInterrupted, "interrupted; " + options.output + " left as it was");
        const int64_t start = feeder.position();
        const auto frames = static_cast<int32_t>(std::min<int64_t>(options.blockSize, limit - start));
        feeder.renderBlock(frames);
        const auto l = plugin.output(0);
        const auto r = plugin.output(right);
        std::size_t keep = l.size();
        for (std::size_t i = 0; i < l.size(); ++i) {
            const float level = std::max(std::fabs(l[i]), std::fabs(r[i]));
            result.peak = std::max(result.peak, level);
            if (start + static_cast<int64_t>(i) < end)
                continue;
            silentRun = level < kSilence ? silentRun + 1 : 0;
            if (silentRun >= window) {
                keep = i + 1;
                done = true;
                break;
            }
        }
        wav.write(l.first(keep), r.first(keep));
        progress.update(start + static_cast<int64_t>(keep));
    }
    progress.clear();
    wav.commit();
    result.frames = wav.frames();
    return result;
}

const char* formatName(SampleFormat format) {
    switch (format) {
    case SampleFormat::Pcm16:
        return "pcm16";
    case SampleFormat::Pcm24:
        return "pcm24";
    default:
        return "float32";
    }
}

int run(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (options.help) {
        std::fputs(helpText(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("veltrosa-render %s\n", VELTROSA_VERSION);
        return kExitOk;
    }

    if (options.listPresets) {
        listPresets();
        return kExitOk;
    }
    const veltrosa::presets::Preset* preset = options.preset.empty() ? nullptr : &factoryPreset(options.preset);

    // The MIDI file first: a bad one fails before the plug-in's slow start.
    MidiSequence sequence;
    if (!options.midiFile.empty() && !options.listParams)
        sequence = readMidiFile(options.midiFile, options.sampleRate);

    auto plugin = loadPlugin(options);
    if (!options.loadState.empty())
        loadState(*plugin, options.loadState, options.program);
    if (preset != nullptr) {
        if (plugin->effect()->uniqueID != veltrosa::presets::kPluginId)
            throw Failure(kExitPlugin, "--preset loads Veltrosa's presets, but the plug-in's ID is '" +
                                           veltrosa::presets::idText(plugin->effect()->uniqueID) + "'");
        const auto chunk = veltrosa::presets::chunkOf(*preset);
        applyProgram(*plugin, {preset->name, {chunk.begin(), chunk.end()}}, true, "preset " + preset->name);
    }
    setParameters(*plugin, options.parameters);
    if (options.listParams) {
        listParameters(*plugin);
        return kExitOk;
    }
    if (!options.saveState.empty()) {
        const auto chunk = plugin->getChunk();
        if (chunk.empty())
            throw Failure(kExitState, "cannot save state: the plug-in hands out no state chunk");
        writeWholeFile(options.saveState, chunk);
    }
    // What the font and drawing libraries keep for the process goes when the
    // pictures are done, written or not, so that a leak checker sees a clean exit.
    struct DrawingCaches {
        bool used = false;
        ~DrawingCaches() {
            if (used)
                veltrosa::releaseEditorDrawingCaches();
        }
    } drawingCaches{!options.spectrumPng.empty() || !options.editorPng.empty()};
    if (!options.spectrumPng.empty()) {
        const auto chunk = veltrosaState(*plugin, "--spectrum-png", "wavetable");
        writePicture(options.spectrumPng,
                     [&](const std::string& to, std::string& error) { return writeSpectrumPng(chunk, to, error); });
    }
    if (!options.editorPng.empty()) {
        const auto chunk = veltrosaState(*plugin, "--editor-png", "editor");
        writePicture(options.editorPng, [&](const std::string& to, std::string& error) {
            return veltrosa::writeEditorPng(chunk, to, error);
        });
    }
    if (options.midiFile.empty())
        return kExitOk;

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    const RenderResult result = renderToFile(*plugin, sequence, options);
    plugin->suspend();
    if (!options.quiet) {
        const double seconds = static_cast<double>(result.frames) / options.sampleRate;
        const double dbfs = result.peak > 0.0f ? 20.0 * std::log10(static_cast<double>(result.peak)) : -HUGE_VAL;
        std::printf("wrote %s: %.2f s, %d Hz stereo %s, peak %.1f dBFS%s\n", options.output.c_str(), seconds,
                    options.sampleRate, formatName(options.format), dbfs,
                    result.peak > 1.0f && options.format != SampleFormat::Float ? " (clipped)" : "");
    }
    return kExitOk;
}

}  // namespace

}  // namespace render

int main(int argc, char** argv) {
    try {
        return render::run(argc, argv);
    } catch (const render::Failure& failure) {
        std::fprintf(stderr, "veltrosa-render: %s\n", failure.what());
        return failure.status();
    } catch (const veltrosa::FileError& e) {
        std::fprintf(stderr, "veltrosa-render: %s\n", e.what());
        return render::kExitOutput;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veltrosa-render: %s\n", e.what());
        return render::kExitFailure;
    }
}
