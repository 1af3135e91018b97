// Bounded text copies for every string handed to the host: at most maxLen
// characters, and position maxLen always holds a NUL (buffers are maxLen + 1).
#pragma once

#include <cstddef>

namespace veltrosa::vst2edge {

// Copies at most maxLen characters of source, NUL-filling up to maxLen, and
// stores NUL at dest[maxLen]. A null source copies the empty text.
void copyText(char* dest, const char* source, std::size_t maxLen);

// Appends source to the text in dest, cutting the result to maxLen
// characters; nothing is written past dest[maxLen].
void appendText(char* dest, const char* source, std::size_t maxLen);

}  // namespace veltrosa::vst2edge
