// Pictures of the editor for documentation and tools: the editor as it looks
// with a given state, painted headless into a 305 x 370 PNG.
#pragma once

#include <span>
#include <string>

namespace veltrosa {

// chunk: a 192-byte state chunk (the 48 parameter values). Writes the whole
// editor, as freshly opened with those values, to path. False with the
// reason in error. Never throws.
bool writeEditorPng(std::span<const unsigned char> chunk, const std::string& path, std::string& error);

// For the very end of a tool or test that drew editors, when none is open any
// more: frees what the font and drawing libraries keep for the process, so
// that a leak checker sees a clean exit.
void releaseEditorDrawingCaches();

}  // namespace veltrosa
