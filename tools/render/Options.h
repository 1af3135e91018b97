// The renderer's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "WavFile.h"

namespace render {

struct ParameterSetting {
    int32_t index = 0;
    float value = 0.0f;
    std::string text;  // as given, for messages
};

struct Options {
    std::string midiFile;
    std::string output;
    std::string plugin;
    SampleFormat format = SampleFormat::Float;
    int sampleRate = 44100;
    int32_t blockSize = 512;
    double tailSeconds = 10.0;
    std::vector<ParameterSetting> parameters;
    std::string loadState;
    int32_t program = -1;  // of a --load-state bank; -1: the first
    std::string preset;
    std::string saveState;
    std::string editorPng;
    std::string spectrumPng;
    bool listParams = false;
    bool listPresets = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Throws Failure(kExitUsage) with a one-line reason.
Options parseOptions(int argc, char** argv);

const char* helpText();

// The Veltrosa.so next to this executable.
std::string defaultPluginPath();

}  // namespace render
