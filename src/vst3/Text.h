// What the edge's classes share: UTF-16 text in the format's fixed fields,
// and whole reads and writes through a host's stream, which may move any
// number of bytes per call.
#pragma once

#include <cstdint>
#include <optional>

#include "abi/vst3.h"
#include "core/State.h"

namespace veltrosa::vst3edge {

// ASCII into a 128-character field, always terminated.
void writeText(vst3::String128 dest, const char* source);

// Reads until the stream ends or capacity bytes came; the count, or -1 if
// the stream is null or fails.
int32_t readAll(vst3::Stream* stream, unsigned char* buffer, int32_t capacity);
// A state of ours from the stream (one byte more is read, to tell a long
// stream from ours), or nothing.
std::optional<ParameterValues> readState(vst3::Stream* stream);
// Writes every byte or reports false.
bool writeAll(vst3::Stream* stream, unsigned char* bytes, int32_t size);

}  // namespace veltrosa::vst3edge
