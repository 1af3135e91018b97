// veltrosa-presets: turns the preset data file into the files each edition's
// hosts load. One writer per format; a new edition adds its writer to the
// table below.
//   veltrosa-presets [--format NAME]... --output DIR BANKFILE
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "presets/Bank.h"
#include "presets/FxFile.h"
#include "presets/Vst3PresetFile.h"
#include "vst3/Ids.h"

namespace fs = std::filesystem;
using veltrosa::presets::Preset;

namespace {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!(in && text << in.rdbuf()))
        return std::nullopt;
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    // Unchanged files keep their time stamps, so what depends on them stays built.
    if (readFile(path) == text)
        return;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw Failure("cannot write " + path.string());
}

std::string bytesText(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

veltrosa::presets::FxProgram program(const Preset& preset) {
    const auto chunk = veltrosa::presets::chunkOf(preset);
    return {preset.name, {chunk.begin(), chunk.end()}};
}

// One .fxp per preset, named after it.
void writeFxps(const std::vector<Preset>& bank, const fs::path& dir) {
    for (const Preset& preset : bank)
        writeFile(dir / (fileName(preset) + ".fxp"), bytesText(veltrosa::presets::writeFxp(program(preset))));
}

// The whole bank as one .fxb.
void writeFxb(const std::vector<Preset>& bank, const fs::path& dir) {
    std::vector<veltrosa::presets::FxProgram> programs;
    for (const Preset& preset : bank)
        programs.push_back(program(preset));
    writeFile(dir / "veltrosa-factory.fxb", bytesText(veltrosa::presets::writeFxb(programs)));
}

// File name, name and description, tab-separated: for scripts and docs.
void writeList(const std::vector<Preset>& bank, const fs::path& dir) {
    std::ostringstream text;
    for (const Preset& preset : bank)
        text << fileName(preset) << '\t' << preset.name << '\t' << preset.about << '\n';
    writeFile(dir / "presets.tsv", text.str());
}

// One VST 3 preset file per preset, in vst3/, for the edition's processor.
void writeVstPresets(const std::vector<Preset>& bank, const fs::path& dir) {
    fs::create_directories(dir / "vst3");
    for (const Preset& preset : bank)
        writeFile(dir / "vst3" / veltrosa::presets::vstPresetFileName(preset.name),
                  bytesText(veltrosa::presets::writeVstPreset(veltrosa::presets::chunkOf(preset),
                                                              veltrosa::vst3edge::kProcessorWords)));
}

struct Format {
    const char* name;
    const char* writes;
    std::function<void(const std::vector<Preset>&, const fs::path&)> write;
};

const Format kFormats[] = {
    {"fxp", "NAME.fxp, one VST 2 program file per preset", writeFxps},
    {"fxb", "veltrosa-factory.fxb, the VST 2 bank of all presets", writeFxb},
    {"vst3", "vst3/Preset Name.vstpreset, one VST 3 preset file per preset", writeVstPresets},
    {"list", "presets.tsv: file name, name and description of each", writeList},
};

[[noreturn]] void usage(const std::string& message) {
    std::string formats;
    for (const Format& f : kFormats)
        formats += std::string("\n  ") + f.name + "\t" + f.writes;
    throw Failure(message +
                  "\nusage: veltrosa-presets [--format NAME]... --output DIR BANKFILE\nformats (all "
                  "when none is named):" +
                  formats);
}

int run(int argc, char** argv) {
    std::vector<const Format*> formats;
    fs::path output, bankFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--format" || arg == "--output") && i + 1 == argc)
            usage(arg + " needs an argument");
        if (arg == "--format") {
            const std::string name = argv[++i];
            const Format* found = nullptr;
            for (const Format& f : kFormats)
                if (name == f.name)
                    found = &f;
            if (found == nullptr)
                usage("unknown format '" + name + "'");
            formats.push_back(found);
        } else if (arg == "--output") {
            output = argv[++i];
        } else if (bankFile.empty() && arg.rfind("-", 0) != 0) {
            bankFile = arg;
        } else {
            usage("unexpected argument '" + arg + "'");
        }
    }
    if (output.empty() || bankFile.empty())
        usage("an output folder and a bank file are needed");
    if (formats.empty())
        for (const Format& f : kFormats)
            formats.push_back(&f);

    const auto text = readFile(bankFile);
    if (!text)
        throw Failure("cannot read " + bankFile.string() + ": " + std::strerror(errno));
    std::string error;
    const auto bank = veltrosa::presets::parseBank(*text, error);
    if (!bank)
        throw Failure(bankFile.string() + ":" + error.substr(std::strlen("line ")));
    std::error_code ec;
    fs::create_directories(output, ec);
    for (const Format* f : formats)
        f->write(*bank, output);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veltrosa-presets: %s\n", e.what());
        return 1;
    }
}
