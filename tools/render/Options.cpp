#include "Options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <getopt.h>

#include "Failure.h"
#include "core/Parameters.h"

namespace render {

namespace {

enum LongOnly {
    kLoadState = 256,
    kSaveState,
    kParam,
    kVersion,
    kEditorPng,
    kSpectrumPng,
    kPreset,
    kProgram,
    kListPresets
};

[[noreturn]] void usage(const std::string& message) { throw Failure(kExitUsage, message); }

double parseNumber(const char* option, const char* text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        usage(std::string("invalid number for ") + option + ": '" + text + "'");
    return value;
}

long parseInteger(const char* option, const char* text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < low || value > high)
        usage(std::string("invalid value for ") + option + ": '" + text + "' (expected " + std::to_string(low) + ".." +
              std::to_string(high) + ")");
    return value;
}

// An index, or one of Veltrosa's parameter symbols.
int32_t parameterIndex(const std::string& key) {
    if (!key.empty() && std::isdigit(static_cast<unsigned char>(key[0])))
        return static_cast<int32_t>(parseInteger("--param", key.c_str(), 0, INT_MAX));
    for (std::size_t i = 0; i < veltrosa::kParams.size(); ++i)
        if (key == veltrosa::kParams[i].symbol)
            return static_cast<int32_t>(i);
    std::string symbols;
    for (const auto& p : veltrosa::kParams)
        symbols += std::string(symbols.empty() ? "" : ", ") + p.symbol;
    usage("unknown parameter '" + key + "' for --param (an index or one of: " + symbols + ")");
}

ParameterSetting parseParameter(const char* text) {
    const std::string arg(text);
    const auto eq = arg.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == arg.size())
        usage("invalid --param '" + arg + "' (expected INDEX=VALUE or SYMBOL=VALUE)");
    ParameterSetting setting;
    setting.text = arg;
    setting.index = parameterIndex(arg.substr(0, eq));
    setting.value = static_cast<float>(parseNumber("--param", arg.substr(eq + 1).c_str()));
    return setting;
}

SampleFormat parseFormat(const char* text) {
    const std::string s(text);
    if (s == "float")
        return SampleFormat::Float;
    if (s == "pcm24")
        return SampleFormat::Pcm24;
    if (s == "pcm16")
        return SampleFormat::Pcm16;
    usage("invalid --format '" + s + "' (expected float, pcm24 or pcm16)");
}

// The option getopt just refused, as the user typed it.
std::string optionName(char** argv) {
    const std::string arg = argv[optind - 1];
    if (arg.rfind("--", 0) == 0)
        return arg.substr(0, arg.find('='));
    return std::string("-") + static_cast<char>(optopt);
}

}  // namespace

Options parseOptions(int argc, char** argv) {
    static const option longOptions[] = {
        {"output", required_argument, nullptr, 'o'},
        {"plugin", required_argument, nullptr, 'p'},
        {"format", required_argument, nullptr, 'f'},
        {"sample-rate", required_argument, nullptr, 'r'},
        {"block-size", required_argument, nullptr, 'b'},
        {"tail", required_argument, nullptr, 't'},
        {"param", required_argument, nullptr, kParam},
        {"load-state", required_argument, nullptr, kLoadState},
        {"save-state", required_argument, nullptr, kSaveState},
        {"editor-png", required_argument, nullptr, kEditorPng},
        {"spectrum-png", required_argument, nullptr, kSpectrumPng},
        {"preset", required_argument, nullptr, kPreset},
        {"program", required_argument, nullptr, kProgram},
        {"list-presets", no_argument, nullptr, kListPresets},
        {"list-params", no_argument, nullptr, 'l'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    opterr = 0;  // our own one-line messages
    optind = 1;
    int c;
    while ((c = getopt_long(argc, argv, ":o:p:f:r:b:t:lqh", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'o':
            options.output = optarg;
            break;
        case 'p':
            options.plugin = optarg;
            break;
        case 'f':
            options.format = parseFormat(optarg);
            break;
        case 'r':
            options.sampleRate = static_cast<int>(parseInteger("--sample-rate", optarg, 1000, 768000));
            break;
        case 'b':
            options.blockSize = static_cast<int32_t>(parseInteger("--block-size", optarg, 1, 1 << 20));
            break;
        case 't':
            options.tailSeconds = parseNumber("--tail", optarg);
            if (options.tailSeconds < 0.0 || options.tailSeconds > 3600.0)
                usage(std::string("invalid value for --tail: '") + optarg + "' (expected 0..3600 seconds)");
            break;
        case kParam:
            options.parameters.push_back(parseParameter(optarg));
            break;
        case kLoadState:
            options.loadState = optarg;
            break;
        case kSaveState:
            options.saveState = optarg;
            break;
        case kEditorPng:
            options.editorPng = optarg;
            break;
        case kSpectrumPng:
            options.spectrumPng = optarg;
            break;
        case kPreset:
            options.preset = optarg;
            break;
        case kProgram:
            options.program = static_cast<int32_t>(parseInteger("--program", optarg, 0, INT_MAX));
            break;
        case kListPresets:
            options.listPresets = true;
            break;
        case 'l':
            options.listParams = true;
            break;
        case 'q':
            options.quiet = true;
            break;
        case 'h':
            options.help = true;
            break;
        case kVersion:
            options.version = true;
            break;
        case ':':
            usage("option '" + optionName(argv) + "' requires an argument");
        default:
            usage("unknown option '" + optionName(argv) + "'");
        }
    }
    if (options.help || options.version)
        return options;
    if (optind < argc)
        options.midiFile = argv[optind++];
    if (optind < argc)
        usage(std::string("unexpected argument '") + argv[optind] + "'");
    if (!options.preset.empty() && !options.loadState.empty())
        usage("--preset and --load-state both choose the state; give one");
    if (options.program >= 0 && options.loadState.empty())
        usage("--program chooses a program of a --load-state bank, but no --load-state is given");
    if (options.listParams || options.listPresets)
        return options;
    if (options.midiFile.empty() && options.saveState.empty() && options.editorPng.empty() &&
        options.spectrumPng.empty())
        usage("no MIDI file given");
    if (!options.midiFile.empty() && options.output.empty())
        usage("no output file given (-o FILE)");
    return options;
}

std::string defaultPluginPath() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "Veltrosa.so";
    // In the build tree the module sits beside the program; installed
    // (package, PREFIX) it is in lib/vst under the program's prefix.
    const auto beside = self.parent_path() / "Veltrosa.so";
    const auto installed = self.parent_path().parent_path() / "lib" / "vst" / "Veltrosa.so";
    if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
        return installed.string();
    return beside.string();
}

const char* helpText() {
    return R"(Usage: veltrosa-render [OPTION]... MIDIFILE -o OUTPUT.wav
  or:  veltrosa-render [OPTION]... --list-params
  or:  veltrosa-render [OPTION]... --save-state FILE
  or:  veltrosa-render [OPTION]... --editor-png FILE
  or:  veltrosa-render [OPTION]... --spectrum-png FILE
  or:  veltrosa-render --list-presets
Render a Standard MIDI File (format 0 or 1, tempo changes honoured) through a
VST 2 instrument into a stereo WAV file. Every MIDI event reaches the
instrument at its exact sample within the block.

  -o, --output=FILE          write the WAV file to FILE; it appears only once
                             complete, and an existing FILE is kept on failure
  -p, --plugin=PATH          VST 2 instrument to load (default: the Veltrosa.so
                             beside this program, else ../lib/vst/Veltrosa.so)
  -f, --format=FORMAT        sample format: float (32-bit, default), pcm24, pcm16
  -r, --sample-rate=HZ       sample rate (default 44100)
  -b, --block-size=FRAMES    frames per processing block (default 512)
  -t, --tail=SECONDS         keep rendering after the last event until the output
                             stays below -100 dBFS, for at most SECONDS
                             (default 10)
      --param=KEY=VALUE      set a parameter to VALUE before rendering; KEY is
                             its index or Veltrosa's symbol for it (cutoff,
                             harmonic_3, ...; an unknown one lists them all);
                             may be given several times
      --load-state=FILE      load the instrument's state from FILE (applied
                             before --param): a raw state chunk, a VST 2
                             program (.fxp) or bank (.fxb) of chunks
      --program=N            the program of a --load-state bank to load,
                             counted from 0 (default: the first)
      --preset=NAME          load the factory preset NAME (or its file name,
                             as in warm-strings), as a host loads a program
                             (applied before --param)
      --save-state=FILE      save the state chunk to FILE (after --load-state
                             and --param, before rendering)
      --editor-png=FILE      write a picture of Veltrosa's editor showing that
                             state to FILE (PNG, 305 x 370)
      --spectrum-png=FILE    write the magnitude spectrum of the wavetable
                             that state generates to FILE (PNG, 640 x 320)
  -l, --list-params          list index, name, label and value of every
                             parameter, then exit
      --list-presets         list the factory presets, then exit
  -q, --quiet                print no progress bar and no summary
  -h, --help                 display this help and exit
      --version              output version information and exit

A progress bar is drawn on standard error when it is a terminal; a one-line
summary (file, length, peak level) goes to standard output.

Exit status:
  0    success
  1    other failure (the instrument produced no usable output)
  2    usage error: unknown option, bad or missing argument
  3    the plug-in is missing, cannot be loaded or is not a VST 2 instrument
       (for --editor-png, --spectrum-png, --preset: is not Veltrosa)
  4    the MIDI file is missing, unreadable or not a Standard MIDI File
  5    the state file is missing, unreadable, truncated, for another
       plug-in or rejected (wrong chunk size)
  6    the output WAV, state or picture file cannot be written
  130  interrupted

Examples:
  veltrosa-render examples/demo.mid -o demo.wav

  veltrosa-render --preset "Glass Choir" examples/demo.mid -o choir.wav

  veltrosa-render --plugin /usr/lib/vst/amsynth_vst.so song.mid -o song.wav -f pcm24
)";
}

}  // namespace render
