// Everything a host can read from the plug-in without a window, taken the same
// way from the Linux module and from the Windows DLL so the two can be
// compared: identity, parameters, the state chunk and a short rendered phrase.
// The Linux build writes its snapshot to a file; the Windows tests read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Host.h"

namespace crossplatform {

struct ParameterFacts {
    std::string name;
    std::string label;
    std::string display;
    float value = 0.0f;  // the default, as getParameter answers it
    int32_t automatable = 0;
};

struct Snapshot {
    std::string effectName;
    std::string vendor;
    std::string product;
    std::string programName;
    int32_t vendorVersion = 0;
    int32_t vstVersion = 0;
    int32_t category = 0;
    int32_t uniqueID = 0;
    int32_t flags = 0;
    int32_t numPrograms = 0;
    int32_t numParams = 0;
    int32_t numInputs = 0;
    int32_t numOutputs = 0;
    std::vector<int32_t> canDo;  // answers for kCanDoQueries, in order
    std::vector<ParameterFacts> parameters;
    std::vector<unsigned char> defaultChunk;
    std::vector<unsigned char> editedChunk;  // after kEditedParameters were set
    std::vector<float> left;                 // the phrase of renderPhrase
    std::vector<float> right;
};

inline constexpr const char* kCanDoQueries[] = {
    "receiveVstEvents", "receiveVstMidiEvent", "receiveVstTimeInfo", "sendVstEvents", "offline", ""};

// The phrase: two overlapping notes, the second starting inside a block, and
// their releases, at 44.1 kHz in blocks of 512 frames.
inline constexpr float kPhraseRate = 44100.0f;
inline constexpr int32_t kPhraseBlock = 512;
inline constexpr int32_t kPhraseFrames = 66150;
struct PhraseNote {
    int32_t frame;
    int key;
    int velocity;  // 0: the key's release
};
inline constexpr PhraseNote kPhrase[] = {{0, 60, 100}, {1000, 67, 64}, {22050, 60, 0}, {33075, 67, 0}};

// Loads the plug-in afresh (so its process-wide state starts from scratch)
// and reads everything; the render comes first, from a just-loaded library.
Snapshot take(const std::string& pluginPath, std::string& error);

bool save(const Snapshot& snapshot, const std::string& path);
bool load(Snapshot& snapshot, const std::string& path);

}  // namespace crossplatform
