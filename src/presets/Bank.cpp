#include "presets/Bank.h"

#include "core/Parameters.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <system_error>

namespace veltrosa::presets {

namespace {

// A key of the text format: one parameter by its symbol, or the harmonics
// as one list. Update (33) is a trigger, never part of a preset.
struct Key {
    std::string name;
    int32_t firstIndex;
    int32_t count;
};

std::vector<Key> makeKeys() {
    std::vector<Key> keys{{"harmonics", 0, kNumHarmonics}};
    for (int32_t i = kNumHarmonics; i < kNumParams; ++i)
        if (i != kParamUpdate)
            keys.push_back({kParams[static_cast<std::size_t>(i)].symbol, i, 1});
    return keys;
}

const std::vector<Key>& keys() {
    static const std::vector<Key> table = makeKeys();
    return table;
}

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A preset being read: its values and which keys it gave, and where.
struct Draft {
    Preset preset;
    std::vector<int> keyLine = std::vector<int>(keys().size(), 0);
    int line = 0;
};

class Parser {
public:
    std::optional<std::vector<Preset>> run(std::string_view text, std::string& error) {
        std::size_t pos = 0;
        while (pos <= text.size()) {
            const auto end = std::min(text.find('\n', pos), text.size());
            std::string_view raw = text.substr(pos, end - pos);
            pos = end + 1;
            ++line_;
            if (const auto hash = raw.find('#'); hash != std::string_view::npos)
                raw = raw.substr(0, hash);
            const bool continues = !raw.empty() && (raw[0] == ' ' || raw[0] == '\t');
            const std::string_view content = trim(raw);
            if (content.empty())
                continue;
            if (!(continues ? continueValue(content) : startLine(content)))
                break;
        }
        if (failure_.empty())
            finish();
        if (!failure_.empty()) {
            error = failure_;
            return std::nullopt;
        }
        return std::move(bank_);
    }

private:
    bool fail(const std::string& reason) {
        failure_ = "line " + std::to_string(line_) + ": " + reason;
        return false;
    }

    // The key before this line got all its values.
    bool closeKey() {
        if (key_ != nullptr && pending_.size() != static_cast<std::size_t>(key_->count)) {
            line_ = draft_->keyLine[static_cast<std::size_t>(key_ - keys().data())];
            return fail("'" + key_->name + "' takes " + std::to_string(key_->count) + " value" +
                        (key_->count == 1 ? "" : "s") + ", not " + std::to_string(pending_.size()));
        }
        key_ = nullptr;
        pending_.clear();
        return true;
    }

    bool startLine(std::string_view content) {
        if (!closeKey())
            return false;
        if (content.front() == '[') {
            if (content.back() != ']')
                return fail("a preset name is written [Name]");
            if (!finish())
                return false;
            return begin(trim(content.substr(1, content.size() - 2)));
        }
        if (!draft_)
            return fail("a value before the first [Name]");
        const auto eq = content.find('=');
        if (eq == std::string_view::npos)
            return fail("expected 'key = value'");
        const std::string_view key = trim(content.substr(0, eq));
        const std::string_view value = trim(content.substr(eq + 1));
        if (key == "about") {
            draft_->preset.about = std::string(value);
            return true;
        }
        const auto found = std::find_if(keys().begin(), keys().end(), [&](const Key& k) { return key == k.name; });
        if (found == keys().end())
            return fail("unknown key '" + std::string(key) + "'");
        const auto slot = static_cast<std::size_t>(found - keys().begin());
        if (draft_->keyLine[slot] != 0)
            return fail("'" + std::string(key) + "' given twice in [" + draft_->preset.name + "]");
        draft_->keyLine[slot] = line_;
        key_ = &*found;
        return numbers(value);
    }

    bool continueValue(std::string_view content) {
        if (key_ == nullptr || pending_.size() >= static_cast<std::size_t>(key_->count))
            return fail("an indented line continues only an unfinished list of values");
        return numbers(content);
    }

    // Reads the numbers of one line into the current key's values. Decimal
    // points whatever the locale: a host may have set a comma.
    bool numbers(std::string_view text) {
        while (!text.empty()) {
            const auto length = std::min(text.find_first_of(" \t"), text.size());
            const std::string_view word = text.substr(0, length);
            text = trim(text.substr(length));
            float v = 0.0f;
            const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
            if (ec == std::errc::invalid_argument || end != word.data() + word.size())
                return fail("'" + std::string(word) + "' is not a number");
            if (ec != std::errc() || !std::isfinite(v) || v < 0.0f || v > 1.0f)
                return fail("value " + std::string(word) + " lies outside 0..1");
            if (pending_.size() >= static_cast<std::size_t>(key_->count))
                return fail("'" + key_->name + "' takes " + std::to_string(key_->count) + " value" +
                            (key_->count == 1 ? "" : "s") + ", not more");
            pending_.push_back(v);
        }
        std::copy(pending_.begin(), pending_.end(), draft_->preset.values.begin() + key_->firstIndex);
        return true;
    }

    bool begin(std::string_view name) {
        if (name.empty() || name.size() > kMaxNameLength)
            return fail("a preset name has 1 to " + std::to_string(kMaxNameLength) + " characters");
        for (char c : name)
            if (c < ' ' || c > '~')
                return fail("a preset name is printable ASCII");
        for (const Preset& p : bank_)
            if (fileName(p) == fileName(Preset{std::string(name), {}, {}}))
                return fail("[" + std::string(name) + "] repeats the name of [" + p.name + "]");
        draft_ = Draft{};
        draft_->preset.name = std::string(name);
        draft_->line = line_;
        return true;
    }

    // Closes the preset being read, checking that every key came complete.
    bool finish() {
        if (!draft_)
            return true;
        if (!closeKey())
            return false;
        for (std::size_t i = 0; i < keys().size(); ++i)
            if (draft_->keyLine[i] == 0) {
                line_ = draft_->line;
                return fail("[" + draft_->preset.name + "] lacks '" + keys()[i].name + "'");
            }
        bank_.push_back(std::move(draft_->preset));
        draft_.reset();
        return true;
    }

    std::vector<Preset> bank_;
    std::optional<Draft> draft_;
    const Key* key_ = nullptr;
    std::vector<float> pending_;  // values of the current key so far
    int line_ = 0;
    std::string failure_;
};

}  // namespace

std::optional<std::vector<Preset>> parseBank(std::string_view text, std::string& error) {
    return Parser().run(text, error);
}

std::string fileName(const Preset& preset) {
    std::string name;
    for (char c : preset.name) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            name += c;
        else if (c >= 'A' && c <= 'Z')
            name += lower(c);
        else if (!name.empty() && name.back() != '-')
            name += '-';
    }
    while (!name.empty() && name.back() == '-')
        name.pop_back();
    return name;
}

const Preset* findPreset(const std::vector<Preset>& bank, std::string_view name) {
    const auto same = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
    };
    for (const Preset& p : bank)
        if (same(p.name, name) || fileName(p) == name)
            return &p;
    return nullptr;
}

}  // namespace veltrosa::presets
