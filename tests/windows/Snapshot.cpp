#include "Snapshot.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>

namespace crossplatform {

namespace {

constexpr uint32_t kFileMagic = 0x56534E31;  // bumped whenever the layout changes

// Parameters set before the second chunk: a harmonic, the bandwidth, a rate
// and the volume, with values that are not round in binary.
constexpr struct {
    int32_t index;
    float value;
} kEditedParameters[] = {{3, 0.3f}, {32, 0.71f}, {42, 0.123f}, {47, 0.9f}};

// Little-endian, fixed-size fields; both platforms are x86. Strings and
// vectors go as a count and their elements.
template <typename T>
concept Sequence = requires(T t) {
    t.data();
    t.size();
    t.resize(0);
};

class Writer {
public:
    explicit Writer(std::FILE* file) : file_(file) {}
    template <typename T>
    void put(const T& value) {
        if constexpr (Sequence<T>) {
            put(static_cast<uint32_t>(value.size()));
            write(value.data(), sizeof(typename T::value_type), value.size());
        } else {
            static_assert(std::is_trivially_copyable_v<T>);
            write(&value, sizeof value, 1);
        }
    }
    bool ok() const { return ok_; }

private:
    void write(const void* data, std::size_t size, std::size_t count) {
        ok_ = ok_ && (count == 0 || std::fwrite(data, size, count, file_) == count);
    }
    std::FILE* file_;
    bool ok_ = true;
};

class Reader {
public:
    explicit Reader(std::FILE* file) : file_(file) {}
    template <typename T>
    void get(T& value) {
        if constexpr (Sequence<T>) {
            uint32_t size = 0;
            get(size);
            ok_ = ok_ && size <= (1u << 24);
            if (!ok_)
                return;
            value.resize(size);
            read(value.data(), sizeof(typename T::value_type), size);
        } else {
            static_assert(std::is_trivially_copyable_v<T>);
            read(&value, sizeof value, 1);
        }
    }
    bool ok() const { return ok_; }

private:
    void read(void* data, std::size_t size, std::size_t count) {
        ok_ = ok_ && (count == 0 || std::fread(data, size, count, file_) == count);
    }
    std::FILE* file_;
    bool ok_ = true;
};

// One field list for both directions keeps writer and reader in step.
template <typename Visit, typename S>
void visit(S& snap, Visit&& v) {
    v(snap.effectName);
    v(snap.vendor);
    v(snap.product);
    v(snap.programName);
    v(snap.vendorVersion);
    v(snap.vstVersion);
    v(snap.category);
    v(snap.uniqueID);
    v(snap.flags);
    v(snap.numPrograms);
    v(snap.numParams);
    v(snap.numInputs);
    v(snap.numOutputs);
    v(snap.canDo);
    v(snap.defaultChunk);
    v(snap.editedChunk);
    v(snap.left);
    v(snap.right);
}

template <typename Visit, typename P>
void visitParameter(P& p, Visit&& v) {
    v(p.name);
    v(p.label);
    v(p.display);
    v(p.value);
    v(p.automatable);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

Snapshot take(const std::string& pluginPath, std::string& error) {
    Snapshot snap;
    {
        auto plugin = vsthost::Plugin::load(pluginPath, error);
        if (!plugin)
            return snap;
        plugin->start(kPhraseRate, kPhraseBlock);
        std::vector<vsthost::MidiMessage> phrase;
        for (const PhraseNote& n : kPhrase)
            phrase.push_back(n.velocity > 0 ? vsthost::noteOn(n.frame, n.key, n.velocity)
                                            : vsthost::noteOff(n.frame, n.key));
        auto [left, right] = plugin->render(kPhraseFrames, kPhraseBlock, phrase);
        snap.left = std::move(left);
        snap.right = std::move(right);
    }
    auto plugin = vsthost::Plugin::load(pluginPath, error);
    if (!plugin)
        return snap;
    const vst2::AEffect* e = plugin->effect();
    snap.effectName = plugin->effectName();
    snap.vendor = plugin->vendorString();
    snap.product = plugin->productString();
    snap.programName = plugin->programName();
    snap.vendorVersion = static_cast<int32_t>(plugin->dispatch(vst2::effGetVendorVersion));
    snap.vstVersion = static_cast<int32_t>(plugin->dispatch(vst2::effGetVstVersion));
    snap.category = static_cast<int32_t>(plugin->dispatch(vst2::effGetPlugCategory));
    snap.uniqueID = e->uniqueID;
    snap.flags = e->flags;
    snap.numPrograms = e->numPrograms;
    snap.numParams = e->numParams;
    snap.numInputs = e->numInputs;
    snap.numOutputs = e->numOutputs;
    for (const char* query : kCanDoQueries)
        snap.canDo.push_back(static_cast<int32_t>(plugin->dispatch(vst2::effCanDo, 0, 0, const_cast<char*>(query))));
    for (int32_t i = 0; i < e->numParams; ++i) {
        ParameterFacts p;
        p.name = plugin->parameterName(i);
        p.label = plugin->parameterLabel(i);
        p.display = plugin->parameterDisplay(i);
        p.value = plugin->getParameter(i);
        p.automatable = static_cast<int32_t>(plugin->dispatch(vst2::effCanBeAutomated, i));
        snap.parameters.push_back(std::move(p));
    }
    snap.defaultChunk = plugin->getChunk();
    for (const auto& edit : kEditedParameters)
        plugin->setParameter(edit.index, edit.value);
    snap.editedChunk = plugin->getChunk();
    return snap;
}

bool save(const Snapshot& snapshot, const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return false;
    Writer w(file.get());
    w.put(kFileMagic);
    visit(snapshot, [&w](const auto& field) { w.put(field); });
    w.put(static_cast<uint32_t>(snapshot.parameters.size()));
    for (const ParameterFacts& p : snapshot.parameters)
        visitParameter(p, [&w](const auto& field) { w.put(field); });
    return w.ok();
}

bool load(Snapshot& snapshot, const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;
    Reader r(file.get());
    uint32_t magic = 0;
    r.get(magic);
    if (!r.ok() || magic != kFileMagic)
        return false;
    visit(snapshot, [&r](auto& field) { r.get(field); });
    uint32_t count = 0;
    r.get(count);
    if (!r.ok() || count > 4096)
        return false;
    snapshot.parameters.resize(count);
    for (ParameterFacts& p : snapshot.parameters)
        visitParameter(p, [&r](auto& field) { r.get(field); });
    return r.ok();
}

}  // namespace crossplatform
