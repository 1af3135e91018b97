#include "presets/FxFile.h"

#include <algorithm>

namespace veltrosa::presets {

namespace {

constexpr int32_t kRoot = fourCC('C', 'c', 'n', 'K');
constexpr int32_t kChunkProgram = fourCC('F', 'P', 'C', 'h');
constexpr int32_t kProgramBank = fourCC('F', 'x', 'B', 'k');
constexpr int32_t kChunkBank = fourCC('F', 'B', 'C', 'h');
constexpr int32_t kParameterProgram = fourCC('F', 'x', 'C', 'k');

class Writer {
public:
    void int32(int32_t v) {
        const auto u = static_cast<uint32_t>(v);
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<unsigned char>(u >> shift));
    }
    void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    void name(const std::string& text) {
        const std::size_t n = std::min(text.size(), kProgramNameSize - 1);
        bytes.insert(bytes.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
        zeros(kProgramNameSize - n);
    }
    void append(std::span<const unsigned char> more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
    // Fills in byteSize, at `at`, once the record is complete.
    void closeRecord(std::size_t at) {
        const auto size = static_cast<uint32_t>(bytes.size() - at - 8);
        for (int i = 0; i < 4; ++i)
            bytes[at + 4 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(size >> (24 - 8 * i));
    }
    std::vector<unsigned char> bytes;
};

void writeProgram(Writer& w, const FxProgram& program, int32_t pluginId, int32_t pluginVersion) {
    const std::size_t start = w.bytes.size();
    w.int32(kRoot);
    w.int32(0);
    w.int32(kChunkProgram);
    w.int32(1);
    w.int32(pluginId);
    w.int32(pluginVersion);
    w.int32(1);
    w.name(program.name);
    w.int32(static_cast<int32_t>(program.chunk.size()));
    w.append(program.chunk);
    w.closeRecord(start);
}

class Reader {
public:
    Reader(std::span<const unsigned char> bytes, std::string& error) : bytes_(bytes), error_(error) {}

    bool has(std::size_t at, std::size_t n, const char* what) {
        if (at <= bytes_.size() && n <= bytes_.size() - at)
            return true;
        error_ = "truncated: the file has " + std::to_string(bytes_.size()) + " bytes, " + std::string(what) +
                 " needs " + std::to_string(at + n);
        return false;
    }
    int32_t int32(std::size_t at) const {
        uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i)
            v = v << 8 | bytes_[at + i];
        return static_cast<int32_t>(v);
    }
    std::string name(std::size_t at) const {
        const auto* p = bytes_.data() + at;
        return std::string(p, std::find(p, p + kProgramNameSize, 0));
    }
    std::vector<unsigned char> slice(std::size_t at, std::size_t n) const {
        return {bytes_.begin() + static_cast<std::ptrdiff_t>(at), bytes_.begin() + static_cast<std::ptrdiff_t>(at + n)};
    }
    bool fail(const std::string& reason) {
        error_ = reason;
        return false;
    }

    // A chunk size field at `at` and the chunk after it, within `end`.
    bool chunk(std::size_t at, std::size_t end, const std::string& what, std::vector<unsigned char>& out) {
        if (!has(at, 4, (what + " size").c_str()))
            return false;
        const int32_t size = int32(at);
        if (size < 0)
            return fail(what + " has a negative size (" + std::to_string(size) + ")");
        if (!has(at + 4, static_cast<std::size_t>(size), what.c_str()))
            return false;
        if (at + 4 + static_cast<std::size_t>(size) > end)
            return fail(what + " of " + std::to_string(size) + " bytes runs past its record's end");
        out = slice(at + 4, static_cast<std::size_t>(size));
        return true;
    }

    // One record's root header at `at`; `end` is where byteSize says it stops.
    bool root(std::size_t at, const char* what, std::size_t& end) {
        if (!has(at, 8, what))
            return false;
        if (int32(at) != kRoot)
            return fail(std::string(what) + " does not start with 'CcnK'");
        const int32_t size = int32(at + 4);
        if (size < 0)
            return fail(std::string(what) + " has a negative size (" + std::to_string(size) + ")");
        const std::size_t total = at + 8 + static_cast<std::size_t>(size);
        if (total > bytes_.size())
            return fail("truncated: the file has " + std::to_string(bytes_.size()) + " bytes, " +
                        (at == 0 ? "its header says " + std::to_string(total)
                                 : std::string(what) + " ends at byte " + std::to_string(total)));
        end = total;
        return true;
    }

    // A program record; one of a bank must be for the bank's plug-in.
    bool program(std::size_t at, FxFile& file, bool inBank, const std::string& what, std::size_t& end) {
        if (!root(at, what.c_str(), end) || !has(at, kFxpHeaderSize, what.c_str()))
            return false;
        const int32_t magic = int32(at + 8);
        if (magic == kParameterProgram)
            return fail(what + " is a parameter list ('FxCk'), not an opaque chunk ('FPCh')");
        if (magic != kChunkProgram)
            return fail(what + " is a '" + idText(magic) + "' record, not a program ('FPCh')");
        FxProgram program;
        program.name = name(at + 28);
        if (!chunk(at + 56, end, what + "'s chunk", program.chunk))
            return false;
        if (!inBank) {
            file.pluginId = int32(at + 16);
            file.pluginVersion = int32(at + 20);
        } else if (int32(at + 16) != file.pluginId) {
            return fail(what + " is for plug-in '" + idText(int32(at + 16)) + "', its bank for '" +
                        idText(file.pluginId) + "'");
        }
        file.programs.push_back(std::move(program));
        return true;
    }

    bool file(FxFile& file) {
        std::size_t end = 0;
        if (!root(0, "the file", end) || !has(0, 16, "the header"))
            return false;
        const int32_t magic = int32(8);
        if (magic == kChunkProgram || magic == kParameterProgram) {
            file.kind = FxKind::Program;
            return program(0, file, false, "the program", end);
        }
        if (magic != kProgramBank && magic != kChunkBank)
            return fail("the file is a '" + idText(magic) + "' record, neither a program nor a bank");
        if (!has(0, kFxbHeaderSize, "the bank header"))
            return false;
        const int32_t version = int32(12);
        file.pluginId = int32(16);
        file.pluginVersion = int32(20);
        const int32_t count = int32(24);
        file.currentProgram = version >= 2 ? int32(28) : 0;
        if (magic == kChunkBank) {
            file.kind = FxKind::ChunkBank;
            FxProgram program;
            if (!chunk(kFxbHeaderSize, end, "the bank chunk", program.chunk))
                return false;
            file.programs.push_back(std::move(program));
            return true;
        }
        file.kind = FxKind::ProgramBank;
        if (count < 1)
            return fail("the bank holds " + std::to_string(count) + " programs");
        std::size_t at = kFxbHeaderSize;
        for (int32_t i = 0; i < count; ++i) {
            std::size_t next = 0;
            if (!program(at, file, true, "program " + std::to_string(i), next))
                return false;
            if (next > end)
                return fail("program " + std::to_string(i) + " runs past the bank's end");
            at = next;
        }
        return true;
    }

private:
    std::span<const unsigned char> bytes_;
    std::string& error_;
};

}  // namespace

std::vector<unsigned char> writeFxp(const FxProgram& program, int32_t pluginId, int32_t pluginVersion) {
    Writer w;
    writeProgram(w, program, pluginId, pluginVersion);
    return std::move(w.bytes);
}

std::vector<unsigned char> writeFxb(std::span<const FxProgram> programs, int32_t pluginId, int32_t pluginVersion) {
    Writer w;
    w.int32(kRoot);
    w.int32(0);
    w.int32(kProgramBank);
    w.int32(2);
    w.int32(pluginId);
    w.int32(pluginVersion);
    w.int32(static_cast<int32_t>(programs.size()));
    w.int32(0);  // current program
    w.zeros(124);
    for (const FxProgram& program : programs)
        writeProgram(w, program, pluginId, pluginVersion);
    w.closeRecord(0);
    return std::move(w.bytes);
}

bool isFxFile(std::span<const unsigned char> bytes) {
    return bytes.size() >= 4 && bytes[0] == 'C' && bytes[1] == 'c' && bytes[2] == 'n' && bytes[3] == 'K';
}

bool readFx(std::span<const unsigned char> bytes, FxFile& file, std::string& error) {
    file = FxFile{};
    return Reader(bytes, error).file(file);
}

std::string idText(int32_t id) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>(static_cast<uint32_t>(id) >> shift);
        if (c < ' ' || c > '~')
            return std::to_string(id);
        text += c;
    }
    return text;
}

}  // namespace veltrosa::presets
