// Writes the bundle's descriptions from the parameter table, so that every
// port's symbol, name, range, default and group is stated once, in C++:
//   veltrosa-lv2-ttl <bundle dir> <DSP library file> <UI library file>
// manifest.ttl, veltrosa.ttl (plug-in and editor) and presets.ttl (the
// factory bank).
#include <array>
#include <bit>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/Identity.h"
#include "lv2/Ports.h"
#include "presets/Bank.h"

namespace {

using namespace veltrosa;
using namespace veltrosa::lv2edge;
using veltrosa::presets::Preset;

constexpr const char* kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

std::string uri(const std::string& text) { return "<" + text + ">"; }

std::string groupUri(ParamGroup group) { return uri(std::string(kPluginUri) + "#" + groupOf(group).symbol); }

// A float as the shortest decimal of its exact double value: any reader,
// even one that parses decimals loosely, gets back the very same float.
std::string number(float value) {
    std::array<char, 64> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), static_cast<double>(value)).ptr;
    std::string s(text.data(), end);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string presetUri(const Preset& preset) {
    return uri(std::string(kPluginUri) + "#preset-" + presets::fileName(preset));
}

std::string manifest(const std::string& dsp, const std::string& ui, const std::vector<Preset>& bank) {
    std::ostringstream out;
    out << kPrefixes;
    out << uri(kPluginUri) << "\n    a lv2:Plugin, lv2:InstrumentPlugin ;\n    lv2:binary " << uri(dsp)
        << " ;\n    rdfs:seeAlso <veltrosa.ttl> .\n\n";
    out << uri(kUiUri) << "\n    a ui:X11UI ;\n    ui:binary " << uri(ui) << " ;\n    rdfs:seeAlso <veltrosa.ttl> .\n";
    for (const Preset& preset : bank)
        out << "\n"
            << presetUri(preset) << "\n    a pset:Preset ;\n    lv2:appliesTo " << uri(kPluginUri)
            << " ;\n    rdfs:seeAlso <presets.ttl> .\n";
    return out.str();
}

std::string controlPort(int32_t index) {
    const ParamInfo& p = kParams[static_cast<std::size_t>(index)];
    std::ostringstream out;
    out << "[\n        a lv2:InputPort, lv2:ControlPort ;\n        lv2:index " << index << " ;\n        lv2:symbol "
        << quoted(p.symbol) << " ;\n        lv2:name " << quoted(p.name) << " ;\n        lv2:default "
        << number(defaultParam(index)) << " ;\n        lv2:minimum 0.0 ;\n        lv2:maximum 1.0 ;\n";
    // A new spectrum costs a wavetable generation: no lane of continuous
    // automation. Update is an action, reset by hosts that know triggers.
    if (isTrigger(index))
        out << "        lv2:portProperty pprops:trigger, pprops:notAutomatic ;\n";
    else if (feedsTable(index))
        out << "        lv2:portProperty pprops:expensive ;\n";
    out << "        pg:group " << groupUri(p.group) << " ;\n    ]";
    return out.str();
}

std::string plugin() {
    std::ostringstream out;
    out << kPrefixes;
    out << uri(kPluginUri) << "\n"
        << "    a lv2:Plugin, lv2:InstrumentPlugin, doap:Project ;\n"
        << "    doap:name " << quoted(kEffectName) << " ;\n"
        << "    doap:maintainer [ foaf:name " << quoted(kVendor) << " ] ;\n"
        << "    lv2:minorVersion " << VELTROSA_VERSION_MINOR << " ;\n"
        << "    lv2:microVersion " << VELTROSA_VERSION_PATCH << " ;\n"
        << "    lv2:requiredFeature urid:map ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable, opts:options ;\n"
        << "    opts:supportedOption bufsz:maxBlockLength, bufsz:nominalBlockLength ;\n"
        << "    ui:ui " << uri(kUiUri) << " ;\n"
        << "    lv2:port ";
    for (int32_t i = 0; i < kNumParams; ++i)
        out << controlPort(i) << ", ";
    out << "[\n        a lv2:InputPort, atom:AtomPort ;\n        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports midi:MidiEvent ;\n        lv2:designation lv2:control ;\n"
        << "        lv2:index " << kMidiInPort
        << " ;\n        lv2:symbol \"midi_in\" ;\n        lv2:name \"MIDI in\" ;\n"
        << "    ]";
    const char* outputs[][2] = {{"out_left", "Left output"}, {"out_right", "Right output"}};
    for (uint32_t i = 0; i < 2; ++i)
        out << ", [\n        a lv2:OutputPort, lv2:AudioPort ;\n        lv2:index " << kOutLeftPort + i
            << " ;\n        lv2:symbol " << quoted(outputs[i][0]) << " ;\n        lv2:name " << quoted(outputs[i][1])
            << " ;\n    ]";
    out << ", [\n        a lv2:InputPort, lv2:ControlPort ;\n        lv2:index " << kFreeWheelPort
        << " ;\n        lv2:symbol \"freewheel\" ;\n        lv2:name \"Freewheeling\" ;\n"
        << "        lv2:designation lv2:freeWheeling ;\n        lv2:portProperty lv2:toggled, pprops:notOnGUI ;\n"
        << "        lv2:default 0.0 ;\n        lv2:minimum 0.0 ;\n        lv2:maximum 1.0 ;\n    ]";
    out << " .\n";
    for (ParamGroup group : {ParamGroup::Harmonics, ParamGroup::Filter, ParamGroup::Amplifier})
        out << "\n"
            << groupUri(group) << "\n    a pg:InputGroup ;\n    lv2:symbol " << quoted(groupOf(group).symbol)
            << " ;\n    lv2:name " << quoted(groupOf(group).name) << " .\n";
    out << "\n"
        << uri(kUiUri) << "\n"
        << "    a ui:X11UI ;\n"
        << "    lv2:requiredFeature ui:idleInterface, ui:parent ;\n"
        << "    lv2:optionalFeature ui:resize, ui:touch, ui:noUserResize, urid:map, opts:options ;\n"
        << "    opts:supportedOption ui:scaleFactor ;\n"
        << "    lv2:extensionData ui:idleInterface .\n";
    return out.str();
}

std::string presetFile(const std::vector<Preset>& bank) {
    std::ostringstream out;
    out << kPrefixes;
    for (const Preset& preset : bank) {
        out << presetUri(preset) << "\n    a pset:Preset ;\n    lv2:appliesTo " << uri(kPluginUri)
            << " ;\n    rdfs:label " << quoted(preset.name) << " ;\n";
        if (!preset.about.empty())
            out << "    rdfs:comment " << quoted(preset.about) << " ;\n";
        out << "    lv2:port ";
        bool first = true;
        for (int32_t i = 0; i < kNumParams; ++i) {
            if (isTrigger(i))
                continue;  // an action, not a setting
            out << (first ? "" : ", ") << "[\n        lv2:symbol "
                << quoted(kParams[static_cast<std::size_t>(i)].symbol) << " ;\n        pset:value "
                << number(preset.values[static_cast<std::size_t>(i)]) << " ;\n    ]";
            first = false;
        }
        out << " .\n\n";
    }
    return out.str();
}

bool write(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "veltrosa-lv2-ttl: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: veltrosa-lv2-ttl <bundle dir> <DSP library file> <UI library file>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto& bank = presets::factoryBank();
    const bool ok = write(dir + "/manifest.ttl", manifest(argv[2], argv[3], bank)) &&
                    write(dir + "/veltrosa.ttl", plugin()) && write(dir + "/presets.ttl", presetFile(bank));
    return ok ? 0 : 1;
}
