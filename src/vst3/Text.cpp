#include "vst3/Text.h"

#include <array>

#include "shell/Instrument.h"

namespace veltrosa::vst3edge {

void writeText(vst3::String128 dest, const char* source) {
    int i = 0;
    for (; source != nullptr && source[i] != '\0' && i < 127; ++i)
        dest[i] = static_cast<vst3::Char16>(static_cast<unsigned char>(source[i]));
    dest[i] = 0;
}

int32_t readAll(vst3::Stream* stream, unsigned char* buffer, int32_t capacity) {
    if (stream == nullptr)
        return -1;
    int32_t done = 0;
    while (done < capacity) {
        int32_t got = 0;
        if (stream->read(buffer + done, capacity - done, &got) != vst3::kOk || got < 0 || got > capacity - done)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

std::optional<ParameterValues> readState(vst3::Stream* stream) {
    std::array<unsigned char, kStateBytes + 1> buffer{};
    const int32_t done = readAll(stream, buffer.data(), static_cast<int32_t>(buffer.size()));
    if (done < 0)
        return std::nullopt;
    return shell::Instrument::readState(std::span(buffer.data(), static_cast<std::size_t>(done)));
}

bool writeAll(vst3::Stream* stream, unsigned char* bytes, int32_t size) {
    if (stream == nullptr)
        return false;
    int32_t done = 0;
    while (done < size) {
        int32_t wrote = 0;
        if (stream->write(bytes + done, size - done, &wrote) != vst3::kOk || wrote <= 0 || wrote > size - done)
            return false;
        done += wrote;
    }
    return true;
}

}  // namespace veltrosa::vst3edge
