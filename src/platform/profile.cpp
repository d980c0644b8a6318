#include "platform/profile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/path_parts.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool is_blank(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b == 0x20 || (b >= 0x09 && b <= 0x0D);
}

bool is_line_break(char c) { return c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && is_blank(text[first])) ++first;
    while (last > first && is_blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

bool code_page_has_lead_bytes() {
    static const bool result = [] {
        for (int c = 0; c < 256; ++c) {
            if (is_lead_byte(static_cast<unsigned char>(c))) return true;
        }
        return false;
    }();
    return result;
}

// Position of the first `wanted` byte that is not the second byte of a
// double-byte character.
std::size_t find_char(std::string_view text, char wanted) {
    if (!code_page_has_lead_bytes()) return text.find(wanted);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == wanted) return i;
        if (is_lead_byte(static_cast<unsigned char>(text[i]))) ++i;
    }
    return std::string_view::npos;
}

bool has_line_break_or_zero(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return is_line_break(c) || c == '\0'; });
}

// Section and key names are compared trimmed and upper-cased.
std::string fold(std::string_view name) { return upper_case(trim(name)); }

// Length of the first line break of a run of CR/LF ("\r\n" counts as one).
std::size_t first_break_length(std::string_view ending) {
    if (ending.empty()) return 0;
    return ending.size() >= 2 && ending[0] == '\r' && ending[1] == '\n' ? 2 : 1;
}

}  // namespace

std::string profile_name_as_matched(std::string_view name) { return fold(name); }

std::string profile_value_as_read(std::string_view raw) {
    std::string_view value = trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

bool profile_value_reads_back(std::string_view value) {
    if (value.empty()) return true;
    if (is_blank(value.front()) || is_blank(value.back())) return false;
    return !(value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
             value.back() == value.front());
}

ProfileEntryProblem check_profile_entry(std::string_view key, std::string_view value) {
    if (has_line_break_or_zero(key)) return ProfileEntryProblem::line_break_in_key;
    const std::string_view trimmed = trim(key);
    if (trimmed.empty()) return ProfileEntryProblem::empty_key;
    if (find_char(key, '=') != std::string_view::npos) return ProfileEntryProblem::equals_in_key;
    if (trimmed.front() == '[' || trimmed.front() == ';') {
        return ProfileEntryProblem::key_looks_like_section_or_comment;
    }
    if (has_line_break_or_zero(value)) return ProfileEntryProblem::line_break_in_value;
    return ProfileEntryProblem::none;
}

bool valid_profile_section(std::string_view section) {
    return !has_line_break_or_zero(section) && find_char(section, ']') == std::string_view::npos;
}

// ---------------------------------------------------------------------------
// The document model. A file is a sequence of sections; the first holds the
// lines before any header and is never searched. A section keeps its bytes as
// one range of the loaded text until it is first searched; then it is split
// into lines. A line is a view of its text and of the run of CR/LF that ended
// it, lying together in the loaded text or, once changed or added, in the
// arena, so writing the lines back reproduces the file byte for byte. Removed
// lines stay in place as tombstones (their blank lines kept), so indexes into
// a section never move except when a key is inserted, and insertions happen
// only after the last non-blank line, behind which no indexed line lies.

namespace {

constexpr std::uint32_t kNoEquals = 0xFFFFFFFFu;
constexpr std::size_t kMaxText = 0xFFFFFF00u;  // lengths and line numbers fit 32 bits

// Case folding by table, the way upper_case folds: a double-byte character
// stays as it is.
struct Folding {
    std::array<unsigned char, 256> upper{};
    std::array<bool, 256> lead{};
    bool any_lead = false;
};

const Folding& folding() {
    static const Folding table = [] {
        Folding f;
        for (int c = 0; c < 256; ++c) {
            const auto b = static_cast<unsigned char>(c);
            f.upper[b] = upper_case_byte(b);
            f.lead[b] = is_lead_byte(b);
            f.any_lead = f.any_lead || f.lead[b];
        }
        return f;
    }();
    return table;
}

// Calls `out` with each byte of the upper-cased name.
template <class Out>
void for_each_folded(std::string_view name, Out out) {
    const Folding& f = folding();
    if (!f.any_lead) {
        for (const char c : name) out(f.upper[static_cast<unsigned char>(c)]);
        return;
    }
    bool trail = false;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        out(trail || f.lead[b] ? b : f.upper[b]);
        trail = !trail && f.lead[b];
    }
}

std::uint32_t folded_hash(std::string_view name) {
    std::uint32_t h = 2166136261u;
    for_each_folded(name, [&h](unsigned char b) { h = (h ^ b) * 16777619u; });
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

bool equal_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const Folding& f = folding();
    if (!f.any_lead) {
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (f.upper[static_cast<unsigned char>(a[i])] != f.upper[static_cast<unsigned char>(b[i])])
                return false;
        }
        return true;
    }
    bool trail_a = false;
    bool trail_b = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        const unsigned char fx = trail_a || f.lead[x] ? x : f.upper[x];
        const unsigned char fy = trail_b || f.lead[y] ? y : f.upper[y];
        if (fx != fy) return false;
        trail_a = !trail_a && f.lead[x];
        trail_b = !trail_b && f.lead[y];
    }
    return true;
}

// Length of the line that starts at `pos` and of the run of CR/LF after it.
std::pair<std::size_t, std::size_t> line_at(std::string_view bytes, std::size_t pos) {
    std::size_t end = pos;
    while (end < bytes.size() && !is_line_break(bytes[end])) ++end;
    std::size_t run_end = end;
    while (run_end < bytes.size() && is_line_break(bytes[run_end])) ++run_end;
    return {end - pos, run_end - end};
}

}  // namespace

struct ProfileDocument::Line {
    const char* data = nullptr;  // the text, followed by its ending
    std::uint32_t length = 0;    // of the text; 0 once removed
    std::uint32_t ending = 0;    // of the run of CR/LF; 0 at the end of the file
    std::uint32_t equals = kNoEquals;  // position of "=" on a key line

    std::string_view text() const { return {data, length}; }
    std::string_view bytes() const { return {data, std::size_t{length} + ending}; }
    std::string_view line_end() const { return {data + length, ending}; }
    bool is_key() const { return equals != kNoEquals; }
    std::string_view key() const { return trim(text().substr(0, equals)); }
    bool is_content() const { return !trim(text()).empty(); }
};

// Open addressing over the line numbers of a section's keys, hashed over the
// folded key. The first of duplicate keys is the one indexed.
class ProfileDocument::KeyIndex {
public:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    struct Slot {
        std::uint32_t line = kEmpty;
        std::uint32_t hash = 0;
    };

    // Room for `count` keys in all without growing.
    void reserve(std::size_t count) {
        std::size_t capacity = 8;
        while (capacity < 2 * count) capacity *= 2;
        if (capacity > slots_.size()) rebuild(capacity);
    }

    void prefetch(std::uint32_t hash) const {
#if defined(__GNUC__) || defined(__clang__)
        if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
#else
        (void)hash;
#endif
    }

    template <class Matches>
    Slot* find(std::uint32_t hash, Matches matches) {
        if (slots_.empty()) return nullptr;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.line == kEmpty) return nullptr;
            if (slot.hash == hash && matches(slot.line)) return &slot;
        }
    }

    // The key must not be indexed yet.
    void insert(std::uint32_t hash, std::uint32_t line) {
        if (2 * (count_ + 1) > slots_.size()) rebuild(slots_.empty() ? 8 : 2 * slots_.size());
        place(Slot{line, hash});
        ++count_;
    }

    void erase(Slot* slot) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t hole = static_cast<std::size_t>(slot - slots_.data());
        for (std::size_t j = (hole + 1) & mask; slots_[j].line != kEmpty; j = (j + 1) & mask) {
            const std::size_t home = slots_[j].hash & mask;
            const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
            if (stays) continue;
            slots_[hole] = slots_[j];
            hole = j;
        }
        slots_[hole] = Slot{};
        --count_;
    }

    void release() {
        std::vector<Slot>().swap(slots_);
        count_ = 0;
    }

private:
    void place(Slot slot) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = slot.hash & mask;
        while (slots_[i].line != kEmpty) i = (i + 1) & mask;
        slots_[i] = slot;
    }

    void rebuild(std::size_t capacity) {
        std::vector<Slot> old(capacity);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.line != kEmpty) place(slot);
        }
    }

    std::vector<Slot> slots_;  // a power of two in size, at most half full
    std::size_t count_ = 0;
};

// Append-only storage for the bytes of changed and added lines, in blocks
// that never move.
class ProfileDocument::Arena {
public:
    char* allocate(std::size_t n) {
        if (n > kBlock / 4) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(n));
            return blocks_.back().get();
        }
        if (n > left_) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
            next_ = blocks_.back().get();
            left_ = kBlock;
        }
        char* result = next_;
        next_ += n;
        left_ -= n;
        return result;
    }

private:
    static constexpr std::size_t kBlock = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
};

struct ProfileDocument::Section {
    bool has_header = false;
    bool erased = false;
    std::string folded_name;
    // Until the section is split: its bytes, all in the loaded text.
    bool is_split = false;
    const char* raw = nullptr;
    std::size_t raw_size = 0;
    std::vector<Line> lines;  // lines[0] is the header when there is one
    KeyIndex keys;
    std::size_t last_content = 0;  // the last non-blank line; new keys go after it

    KeyIndex::Slot* find_key(std::string_view key, std::uint32_t hash) {
        return keys.find(hash, [&](std::uint32_t line) { return equal_folded(lines[line].key(), key); });
    }
};

ProfileDocument::ProfileDocument()
    : loaded_(std::make_unique<std::string>()), arena_(std::make_unique<Arena>()) {
    sections_.push_back(std::make_unique<Section>());
    sections_.back()->is_split = true;
}

ProfileDocument::ProfileDocument(std::string bytes, bool escapes) : ProfileDocument() {
    if (bytes.size() > kMaxText) throw Exception("INI text too large");
    escapes_ = escapes;
    *loaded_ = std::move(bytes);
    loaded_used_ = loaded_->size();
    const std::string_view text(*loaded_);
    Section* section = sections_.back().get();
    section->is_split = false;
    section->raw = text.data();
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto [length, ending] = line_at(text, pos);
        const std::string_view content = trim(text.substr(pos, length));
        if (!content.empty() && content.front() == '[') {
            const std::size_t close = find_char(content.substr(1), ']');
            if (close != std::string_view::npos) {
                section->raw_size = static_cast<std::size_t>(text.data() + pos - section->raw);
                sections_.push_back(std::make_unique<Section>());
                section = sections_.back().get();
                section->has_header = true;
                section->raw = text.data() + pos;
                section->folded_name = fold(content.substr(1, close));
                first_section_.emplace(section->folded_name, section);
            }
        }
        pos += length + ending;
    }
    section->raw_size = static_cast<std::size_t>(text.data() + text.size() - section->raw);
}

ProfileDocument::~ProfileDocument() = default;
ProfileDocument::ProfileDocument(ProfileDocument&&) noexcept = default;
ProfileDocument& ProfileDocument::operator=(ProfileDocument&&) noexcept = default;

// Splits the section's bytes into lines and indexes its keys.
void ProfileDocument::split(Section& section) const {
    if (section.is_split) return;
    const std::string_view bytes(section.raw, section.raw_size);
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < bytes.size(); ++count) {
        const auto [length, ending] = line_at(bytes, pos);
        pos += length + ending;
    }
    section.lines.reserve(count);
    section.keys.reserve(count);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const auto [length, ending] = line_at(bytes, pos);
        Line line;
        line.data = bytes.data() + pos;
        line.length = static_cast<std::uint32_t>(length);
        line.ending = static_cast<std::uint32_t>(ending);
        pos += length + ending;

        const std::string_view content = trim(line.text());
        const auto number = static_cast<std::uint32_t>(section.lines.size());
        if (!content.empty() && !(section.has_header && number == 0)) {
            if (section.has_header && content.front() != ';') {
                const std::size_t equals = find_char(line.text(), '=');
                if (equals != std::string_view::npos && !trim(line.text().substr(0, equals)).empty()) {
                    line.equals = static_cast<std::uint32_t>(equals);
                    const std::string_view key = line.key();
                    const std::uint32_t hash = folded_hash(key);
                    if (section.find_key(key, hash) == nullptr) section.keys.insert(hash, number);
                }
            }
            section.last_content = number;
        }
        section.lines.push_back(line);
    }
    section.is_split = true;
}

ProfileDocument::Section* ProfileDocument::find_section(std::string_view section) const {
    // Folded on the stack: looked up for every key written or read.
    const std::string_view name = trim(section);
    char buffer[256];
    std::string long_name;
    std::string_view folded;
    if (name.size() <= sizeof buffer) {
        std::size_t n = 0;
        for_each_folded(name, [&](unsigned char b) { buffer[n++] = static_cast<char>(b); });
        folded = std::string_view(buffer, n);
    } else {
        long_name = fold(name);
        folded = long_name;
    }
    const auto found = first_section_.find(folded);
    if (found == first_section_.end()) return nullptr;
    split(*found->second);
    return found->second;
}

std::optional<std::string> ProfileDocument::value(std::string_view section,
                                                  std::string_view key) const {
    Section* found = find_section(section);
    if (found == nullptr) return std::nullopt;
    const std::string_view name = trim(key);
    const KeyIndex::Slot* slot = found->find_key(name, folded_hash(name));
    if (slot == nullptr) return std::nullopt;
    const Line& line = found->lines[slot->line];
    std::string value = profile_value_as_read(line.text().substr(line.equals + 1));
    return escapes_ ? readable_profile_text(value) : value;
}

std::vector<std::string> ProfileDocument::key_names(std::string_view section) const {
    std::vector<std::string> names;
    const Section* found = find_section(section);
    if (found == nullptr) return names;
    for (const Line& line : found->lines) {
        if (!line.is_key()) continue;
        names.emplace_back(escapes_ ? readable_profile_text(line.key()) : std::string(line.key()));
    }
    return names;
}

// Points the line at other bytes, keeping count of the loaded bytes in use.
void ProfileDocument::place(Line& line, const char* data, std::size_t length, std::size_t ending) {
    const auto in_loaded = [this](const char* p) {
        const std::less<const char*> before;
        return p != nullptr && !before(p, loaded_->data()) && before(p, loaded_->data() + loaded_->size());
    };
    if (in_loaded(line.data)) loaded_used_ -= std::size_t{line.length} + line.ending;
    line.data = length + ending == 0 ? nullptr : data;
    line.length = static_cast<std::uint32_t>(length);
    line.ending = static_cast<std::uint32_t>(ending);
    if (in_loaded(line.data)) loaded_used_ += length + ending;
}

void ProfileDocument::copy_to_arena(Line& line, std::string_view text, std::string_view ending) {
    char* bytes = arena_->allocate(text.size() + ending.size());
    std::memcpy(bytes, text.data(), text.size());
    std::memcpy(bytes + text.size(), ending.data(), ending.size());
    place(line, bytes, text.size(), ending.size());
}

// Replaces the loaded text by a copy of the bytes still in use once most of
// it is not, so that a file whose sections were erased and written anew does
// not sit in memory twice.
void ProfileDocument::compact() {
    if (loaded_->empty() || 2 * loaded_used_ > loaded_->size()) return;
    auto kept_text = std::make_unique<std::string>();
    std::string& kept = *kept_text;
    kept.reserve(loaded_used_);
    const char* begin = loaded_->data();
    const char* end = begin + loaded_->size();
    for (const auto& section : sections_) {
        if (section->erased) continue;
        if (!section->is_split) {
            const std::size_t at = kept.size();
            kept.append(section->raw, section->raw_size);
            section->raw = kept.data() + at;  // no reallocation: reserved
            continue;
        }
        for (Line& line : section->lines) {
            const std::less<const char*> before;
            if (line.data == nullptr || before(line.data, begin) || !before(line.data, end)) continue;
            const std::size_t at = kept.size();
            kept.append(line.bytes());
            line.data = kept.data() + at;
        }
    }
    loaded_ = std::move(kept_text);
    loaded_used_ = loaded_->size();
}

void ProfileDocument::reserve(std::string_view section, std::size_t keys) {
    Section* target = find_section(section);
    if (target == nullptr) {
        reserved_[fold(section)] = keys;
        return;
    }
    std::size_t indexed = 0;
    for (const Line& line : target->lines) indexed += line.is_key() ? 1 : 0;
    target->lines.reserve(target->lines.size() + keys);
    target->keys.reserve(indexed + keys);
}

void ProfileDocument::set_value(std::string_view section, std::string_view key,
                                std::string_view value) {
    // The key's slot is fetched into the cache while the texts are checked.
    const std::string_view name = trim(key);
    const std::uint32_t hash = folded_hash(name);
    Section* target = find_section(section);
    if (target != nullptr) target->keys.prefetch(hash);

    if (!valid_profile_section(section)) {
        throw Exception("Invalid INI section name \"" + std::string(section) + "\"");
    }
    if (check_profile_entry(key, value) != ProfileEntryProblem::none) {
        throw Exception("Invalid INI key \"" + std::string(key) + "\" in section \"" +
                        std::string(section) + "\"");
    }
    if (key.size() + value.size() + section.size() > kMaxText / 2) {
        throw Exception("INI entry too large in section \"" + std::string(section) + "\"");
    }
    compact();
    if (target == nullptr) target = &append_section(section);

    if (KeyIndex::Slot* existing = target->find_key(name, hash)) {
        // Keep the key as spelled and the blanks around "=": only the value changes.
        Line& line = target->lines[existing->line];
        const std::string_view text = line.text();
        std::size_t value_start = line.equals + std::size_t{1};
        while (value_start < text.size() && is_blank(text[value_start])) ++value_start;
        if (text.substr(value_start) == value) return;
        const std::string_view ending = line.line_end();
        char* bytes = arena_->allocate(value_start + value.size() + ending.size());
        std::memcpy(bytes, text.data(), value_start);
        std::memcpy(bytes + value_start, value.data(), value.size());
        std::memcpy(bytes + value_start + value.size(), ending.data(), ending.size());
        place(line, bytes, value_start + value.size(), ending.size());
        modified_ = true;
        return;
    }

    if (target->lines.size() >= KeyIndex::kEmpty - 1) {
        throw Exception("Too many lines in INI section \"" + std::string(section) + "\"");
    }
    // The new line takes the blank lines that followed the anchor, which
    // keeps its own line break (or gets one at the end of the file).
    Line& anchor = target->lines[target->last_content];
    const std::string_view anchor_end = anchor.line_end();
    const std::size_t own = first_break_length(anchor_end);
    const std::string_view blank_lines = anchor_end.substr(own);
    Line added;
    char* bytes = arena_->allocate(key.size() + 1 + value.size() + kLineEnd.size() + blank_lines.size());
    char* out = bytes;
    out = std::copy(key.begin(), key.end(), out);
    *out++ = '=';
    out = std::copy(value.begin(), value.end(), out);
    out = std::copy(kLineEnd.begin(), kLineEnd.end(), out);
    std::copy(blank_lines.begin(), blank_lines.end(), out);
    added.data = bytes;
    added.length = static_cast<std::uint32_t>(key.size() + 1 + value.size());
    added.ending = static_cast<std::uint32_t>(kLineEnd.size() + blank_lines.size());
    added.equals = static_cast<std::uint32_t>(key.size());
    if (own == 0) {
        copy_to_arena(anchor, anchor.text(), kLineEnd);
    } else {
        place(anchor, anchor.data, anchor.length, own);
    }
    const std::size_t position = target->last_content + 1;
    target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(position), added);
    target->keys.insert(hash, static_cast<std::uint32_t>(position));
    target->last_content = position;
    modified_ = true;
}

void ProfileDocument::erase_key(std::string_view section, std::string_view key) {
    Section* target = find_section(section);
    if (target == nullptr) return;
    const std::string_view name = trim(key);
    const std::uint32_t hash = folded_hash(name);
    KeyIndex::Slot* existing = target->find_key(name, hash);
    if (existing == nullptr) return;
    const std::size_t index = existing->line;

    Line& line = target->lines[index];
    const std::string_view rest = line.line_end().substr(first_break_length(line.line_end()));
    place(line, rest.data(), 0, rest.size());  // blank lines after it stay
    line.equals = kNoEquals;
    modified_ = true;

    // A later duplicate becomes the key.
    bool uncovered = false;
    for (std::size_t i = index + 1; i < target->lines.size(); ++i) {
        const Line& other = target->lines[i];
        if (other.is_key() && equal_folded(other.key(), name)) {
            existing->line = static_cast<std::uint32_t>(i);
            uncovered = true;
            break;
        }
    }
    if (!uncovered) target->keys.erase(existing);
    if (target->last_content == index) {
        std::size_t last = index;
        while (last > 0 && !target->lines[last].is_content()) --last;
        target->last_content = last;
    }
}

void ProfileDocument::erase_section(std::string_view section) {
    const std::string folded = fold(section);
    if (first_section_.erase(folded) == 0) return;
    for (auto& candidate : sections_) {
        if (!candidate->has_header || candidate->erased || candidate->folded_name != folded) continue;
        candidate->erased = true;
        if (!candidate->is_split) {
            loaded_used_ -= candidate->raw_size;
        } else {
            for (Line& line : candidate->lines) place(line, nullptr, 0, 0);
        }
        std::vector<Line>().swap(candidate->lines);
        candidate->keys.release();
    }
    modified_ = true;
}

// Makes sure the file ends with a line break before something is appended.
void ProfileDocument::end_last_line() {
    for (auto section = sections_.rbegin(); section != sections_.rend(); ++section) {
        if ((*section)->erased) continue;
        split(**section);
        auto& lines = (*section)->lines;
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (line->ending != 0) return;
            if (line->length != 0) {
                copy_to_arena(*line, line->text(), kLineEnd);
                return;
            }
        }
    }
}

ProfileDocument::Section& ProfileDocument::append_section(std::string_view section) {
    end_last_line();
    auto added = std::make_unique<Section>();
    added->has_header = true;
    added->is_split = true;
    added->folded_name = fold(section);
    std::size_t expected = 0;
    if (const auto reserved = reserved_.find(added->folded_name); reserved != reserved_.end()) {
        expected = reserved->second;
        reserved_.erase(reserved);
    }
    added->lines.reserve(1 + expected);
    added->keys.reserve(expected);
    Line header;
    std::string text;
    text.append("[").append(section).append("]");
    copy_to_arena(header, text, kLineEnd);
    added->lines.push_back(header);
    Section& result = *added;
    first_section_[added->folded_name] = &result;
    sections_.push_back(std::move(added));
    return result;
}

bool ProfileDocument::visit(const std::function<bool(std::string_view)>& piece) const {
    // Neighbouring lines usually lie together in memory: handed on as one.
    const char* run = nullptr;
    std::size_t run_size = 0;
    const auto add = [&](std::string_view bytes) {
        if (bytes.empty()) return true;
        if (run != nullptr && run + run_size == bytes.data()) {
            run_size += bytes.size();
            return true;
        }
        if (run_size != 0 && !piece({run, run_size})) return false;
        run = bytes.data();
        run_size = bytes.size();
        return true;
    };
    for (const auto& section : sections_) {
        if (section->erased) continue;
        if (!section->is_split) {
            if (!add({section->raw, section->raw_size})) return false;
            continue;
        }
        for (const Line& line : section->lines) {
            if (!add(line.bytes())) return false;
        }
    }
    return run_size == 0 || piece({run, run_size});
}

std::uint64_t ProfileDocument::size() const {
    std::uint64_t total = 0;
    for (const auto& section : sections_) {
        if (section->erased) continue;
        if (!section->is_split) {
            total += section->raw_size;
            continue;
        }
        for (const Line& line : section->lines) total += std::uint64_t{line.length} + line.ending;
    }
    return total;
}

std::string ProfileDocument::text() const {
    std::string result;
    result.reserve(static_cast<std::size_t>(size()));
    visit([&result](std::string_view bytes) {
        result.append(bytes);
        return true;
    });
    return result;
}

// ---------------------------------------------------------------------------

namespace {

// Files are compared and written in pieces of this size.
constexpr std::size_t kChunk = 1 << 20;

using Producer = std::function<void(const ContentSink&)>;

// True when the file holds exactly the bytes `produce` hands over (of
// `expected_size` bytes, when known); false too when it cannot be read.
bool file_holds(const std::string& path, const Producer& produce,
                std::optional<std::uint64_t> expected_size = std::nullopt) {
    try {
        const auto file = file_system().open(path, OpenMode::read);
        const std::uint64_t size = file->size();
        if (expected_size && *expected_size != size) return false;
        std::vector<char> buffer(kChunk);
        std::uint64_t offset = 0;
        bool same = true;
        produce([&](std::string_view piece) {
            while (same && !piece.empty()) {
                const std::size_t n = file->read_at(offset, buffer.data(), std::min(piece.size(), buffer.size()));
                if (n == 0 || std::memcmp(piece.data(), buffer.data(), n) != 0) same = false;
                offset += n;
                piece.remove_prefix(n);
            }
        });
        return same && offset == size;
    } catch (const Exception&) {
        return false;
    }
}

// Puts the content in the file: atomically, by a temporary renamed over
// it. A file that another program holds open without sharing its deletion
// (many programs open their INI files so, sharing reading and writing)
// cannot be renamed over, but the Windows profile functions still write it:
// in place. So does this, when and only when sharing refused the replace,
// under a rollback journal (so that a crash leaves the old text or the new
// one), and reads the file back: another program's writes in the meantime
// must not pass for ours.
void put_content(const std::string& path, const Producer& produce) {
    try {
        write_stream_atomically(path, produce);
        return;
    } catch (const Exception&) {
        if (!file_system().replace_blocked_by_sharing(path)) throw;
    }
    write_stream_in_place(path, produce);
    if (!file_holds(path, produce))
        throw Exception(path + ": another program changed the file while it was written");
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile::~ProfileFile() = default;

ProfileDocument& ProfileFile::document() {
    if (!document_) load();
    return *document_;
}

void ProfileFile::load() {
    try {
        // An in-place save that a crash interrupted leaves a mix of old and
        // new text; its journal puts the old one back.
        recover_file(path_);
    } catch (const Exception&) {
        existed_ = file_system().kind(path_) != FileKind::missing;
        unreadable_ = true;
        document_.emplace();
        return;
    }
    switch (file_system().kind(path_)) {
        case FileKind::missing:
            document_.emplace();
            return;
        case FileKind::file:
            existed_ = true;
            try {
                ProfileText loaded = decode_profile(read_whole_file(path_));
                encoding_ = loaded.encoding;
                document_.emplace(std::move(loaded.text), loaded.escapes);
            } catch (const Exception&) {
                // Unreadable, or too large to be an INI file.
                unreadable_ = true;
                document_.emplace();
            }
            return;
        case FileKind::directory:
        case FileKind::other:
            existed_ = true;
            unreadable_ = true;
            document_.emplace();
            return;
    }
}

void ProfileFile::produce(const ContentSink& sink) const {
    std::string buffer(byte_order_mark(encoding_));
    buffer.reserve(kChunk);
    document_->visit([&](std::string_view piece) {
        if (!buffer.empty() && buffer.size() + piece.size() > kChunk) {
            sink(buffer);
            buffer.clear();
        }
        if (piece.size() >= kChunk && encoding_ == ProfileEncoding::ansi) {
            sink(piece);
        } else {
            encode_profile(piece, encoding_, buffer);
        }
        return true;
    });
    if (!buffer.empty()) sink(buffer);
}

void ProfileFile::save() {
    if (!document_) return;
    if (unreadable_) {
        // Writing now would replace a file whose content we never saw.
        throw Exception(path_ + ": not a readable file");
    }
    if (!document_->modified()) {
        if (!existed_ && file_system().kind(directory_or_dot(path_)) != FileKind::directory) {
            throw Exception(path_ + ": the directory does not exist");
        }
        return;
    }
    const Producer content = [this](const ContentSink& sink) { produce(sink); };
    // ANSI text is written as it stands: its size is known beforehand.
    std::optional<std::uint64_t> size;
    if (encoding_ == ProfileEncoding::ansi) size = document_->size();
    if (existed_ && file_holds(path_, content, size)) return;
    if (existed_) {
        // A read-only file is refused, as the Windows functions refuse it,
        // though a rename over it would succeed on POSIX.
        file_system().open(path_, OpenMode::read_write);
    }
    put_content(path_, content);
    existed_ = true;
}

std::size_t get_private_profile_string(std::string_view section, const char* key,
                                       const char* default_value, char* buffer,
                                       std::size_t size, const std::string& file_name) {
    if (buffer == nullptr || size == 0) return 0;
    ProfileFile file(file_name);
    const ProfileDocument& document = file.document();

    if (key == nullptr) {
        if (size < 2) {
            buffer[0] = '\0';
            return 0;
        }
        std::size_t used = 0;
        bool cut = false;
        for (const std::string& name : document.key_names(section)) {
            if (used + name.size() + 1 + 1 >= size) {  // an exact fit is too small
                const std::size_t room = size - 2 - used;
                std::memcpy(buffer + used, name.data(), std::min(room, name.size()));
                used = size - 2;
                cut = true;
                break;
            }
            std::memcpy(buffer + used, name.data(), name.size());
            used += name.size();
            buffer[used++] = '\0';
        }
        buffer[used] = '\0';
        if (cut || used == 0) buffer[used + 1] = '\0';
        return used;
    }

    std::string text;
    if (auto value = document.value(section, key)) {
        text = std::move(*value);
    } else if (default_value != nullptr) {
        text = default_value;
        while (!text.empty() && text.back() == ' ') text.pop_back();
    }
    const std::size_t count = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return count;
}

bool write_private_profile_string(std::string_view section, const char* key,
                                  const char* value, const std::string& file_name) {
    if (key != nullptr && value != nullptr &&
        (!valid_profile_section(section) ||
         check_profile_entry(key, value) != ProfileEntryProblem::none)) {
        return false;
    }
    try {
        ProfileFile file(file_name);
        ProfileDocument& document = file.document();
        if (key == nullptr) {
            document.erase_section(section);
        } else if (value == nullptr) {
            document.erase_key(section, key);
        } else {
            document.set_value(section, key, value);
        }
        file.save();
        return true;
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace platform
