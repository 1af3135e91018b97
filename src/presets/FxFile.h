// VST 2 preset files for an opaque-chunk plug-in, all fields big-endian:
//
//   .fxp  'CcnK' byteSize 'FPCh' version=1 fxID fxVersion numPrograms=1
//         prgName[28] chunkSize chunk
//   .fxb  'CcnK' byteSize 'FxBk' version=2 fxID fxVersion numPrograms
//         currentProgram future[124]  then numPrograms whole .fxp records
//
// byteSize counts the bytes after itself. The bank is a bank of programs
// ('FxBk'), each program an opaque-chunk record, because our bank chunk is
// the one 192-byte program: a host importing it hands every program to
// effSetChunk with the preset flag, which the plug-in takes, where a bank
// chunk ('FBCh') of all sixteen would be one size it refuses. Reading also
// takes an 'FBCh' bank, as hosts save one for us (the chunk is the program).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Identity.h"

namespace veltrosa::presets {

constexpr int32_t fourCC(char a, char b, char c, char d) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(a)) << 24 |
                                static_cast<uint32_t>(static_cast<unsigned char>(b)) << 16 |
                                static_cast<uint32_t>(static_cast<unsigned char>(c)) << 8 |
                                static_cast<uint32_t>(static_cast<unsigned char>(d)));
}

// The plug-in these files are for: its unique ID and, as hosts that save
// preset files write it, its record's version (files holding the vendor
// version read as well: nothing checks the field).
constexpr int32_t kPluginId = kUniqueId;
constexpr int32_t kPluginVersion = kRecordVersion;

constexpr std::size_t kProgramNameSize = 28;
constexpr std::size_t kFxpHeaderSize = 60;   // up to and including chunkSize
constexpr std::size_t kFxbHeaderSize = 156;  // up to the first program / chunkSize

struct FxProgram {
    std::string name;
    std::vector<unsigned char> chunk;
};

enum class FxKind { Program, ProgramBank, ChunkBank };

struct FxFile {
    FxKind kind = FxKind::Program;
    int32_t pluginId = 0;
    int32_t pluginVersion = 0;
    int32_t currentProgram = 0;
    // A program file holds one; a chunk bank one, with the bank chunk.
    std::vector<FxProgram> programs;
};

std::vector<unsigned char> writeFxp(const FxProgram& program, int32_t pluginId = kPluginId,
                                    int32_t pluginVersion = kPluginVersion);
std::vector<unsigned char> writeFxb(std::span<const FxProgram> programs, int32_t pluginId = kPluginId,
                                    int32_t pluginVersion = kPluginVersion);

// Starts as a preset file does ('CcnK'), as no raw state chunk of ours does.
bool isFxFile(std::span<const unsigned char> bytes);

// Parses a .fxp or .fxb. False with a one-line reason ("truncated: ...")
// when the bytes are not such a file or are cut short.
bool readFx(std::span<const unsigned char> bytes, FxFile& file, std::string& error);

// "Toot", or the number when the ID is not four printable characters.
std::string idText(int32_t id);

}  // namespace veltrosa::presets
