#include "vst2/Text.h"

namespace veltrosa::vst2edge {

void copyText(char* dest, const char* source, std::size_t maxLen) {
    if (dest == nullptr)
        return;
    std::size_t i = 0;
    if (source != nullptr)
        for (; i < maxLen && source[i] != '\0'; ++i)
            dest[i] = source[i];
    for (; i < maxLen; ++i)
        dest[i] = '\0';
    dest[maxLen] = '\0';
}

void appendText(char* dest, const char* source, std::size_t maxLen) {
    if (dest == nullptr)
        return;
    std::size_t length = 0;
    while (length < maxLen && dest[length] != '\0')
        ++length;
    if (source != nullptr)
        for (std::size_t i = 0; length < maxLen && source[i] != '\0'; ++i)
            dest[length++] = source[i];
    dest[length] = '\0';
    dest[maxLen] = '\0';
}

}  // namespace veltrosa::vst2edge
