#include "platform/profile.h"

#include <algorithm>
#include <cstring>

#include "platform/exception.h"
#include "platform/file_system.h"
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

std::string profile_value_as_read(std::string_view raw) {
    std::string_view value = trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
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
// lines before any header and is never searched. Each line keeps its text and
// the run of CR/LF that ended it, so writing the lines back reproduces the
// file byte for byte. Removed lines stay in place as tombstones (their blank
// lines kept), so indexes into a section never move except when a key is
// inserted, and insertions happen only after the last non-blank line, behind
// which no indexed line lies.

struct ProfileDocument::Line {
    std::string text;
    std::string ending;  // the run of CR/LF after the text; empty at the end of the file
    std::size_t equals = std::string::npos;  // position of "=" on a key line
    bool removed = false;

    bool is_key() const { return equals != std::string::npos; }
    std::string_view key() const { return trim(std::string_view(text).substr(0, equals)); }
    bool is_content() const { return !removed && !trim(text).empty(); }
};

struct ProfileDocument::Section {
    bool has_header = false;
    bool erased = false;
    std::string folded_name;
    std::vector<Line> lines;  // lines[0] is the header when there is one
    std::unordered_map<std::string, std::size_t> keys;  // folded key -> first line
    std::size_t last_content = 0;  // the last non-blank line; new keys go after it
};

ProfileDocument::ProfileDocument() { sections_.push_back(std::make_unique<Section>()); }

ProfileDocument::ProfileDocument(std::string_view bytes) : ProfileDocument() {
    Section* section = sections_.back().get();
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = pos;
        while (end < bytes.size() && !is_line_break(bytes[end])) ++end;
        std::size_t run_end = end;
        while (run_end < bytes.size() && is_line_break(bytes[run_end])) ++run_end;
        Line line{std::string(bytes.substr(pos, end - pos)),
                  std::string(bytes.substr(end, run_end - end))};
        pos = run_end;

        const std::string_view content = trim(line.text);
        if (content.empty()) {
            section->lines.push_back(std::move(line));
            continue;
        }
        if (content.front() == '[') {
            const std::size_t close = find_char(content.substr(1), ']');
            if (close != std::string_view::npos) {
                sections_.push_back(std::make_unique<Section>());
                section = sections_.back().get();
                section->has_header = true;
                section->folded_name = fold(content.substr(1, close));
                first_section_.emplace(section->folded_name, section);
                section->lines.push_back(std::move(line));
                continue;
            }
        }
        if (section->has_header && content.front() != ';') {
            const std::size_t equals = find_char(line.text, '=');
            if (equals != std::string::npos && !trim(line.text.substr(0, equals)).empty()) {
                line.equals = equals;
                section->keys.emplace(fold(line.key()), section->lines.size());
            }
        }
        section->last_content = section->lines.size();
        section->lines.push_back(std::move(line));
    }
}

ProfileDocument::~ProfileDocument() = default;
ProfileDocument::ProfileDocument(ProfileDocument&&) noexcept = default;
ProfileDocument& ProfileDocument::operator=(ProfileDocument&&) noexcept = default;

ProfileDocument::Section* ProfileDocument::find_section(std::string_view section) const {
    const auto found = first_section_.find(fold(section));
    return found == first_section_.end() ? nullptr : found->second;
}

std::optional<std::string> ProfileDocument::value(std::string_view section,
                                                  std::string_view key) const {
    const Section* found = find_section(section);
    if (found == nullptr) return std::nullopt;
    const auto line = found->keys.find(fold(key));
    if (line == found->keys.end()) return std::nullopt;
    const Line& text = found->lines[line->second];
    return profile_value_as_read(std::string_view(text.text).substr(text.equals + 1));
}

std::vector<std::string> ProfileDocument::key_names(std::string_view section) const {
    std::vector<std::string> names;
    const Section* found = find_section(section);
    if (found == nullptr) return names;
    for (const Line& line : found->lines) {
        if (!line.removed && line.is_key()) names.emplace_back(line.key());
    }
    return names;
}

void ProfileDocument::set_value(std::string_view section, std::string_view key,
                                std::string_view value) {
    if (!valid_profile_section(section)) {
        throw Exception("Invalid INI section name \"" + std::string(section) + "\"");
    }
    if (check_profile_entry(key, value) != ProfileEntryProblem::none) {
        throw Exception("Invalid INI key \"" + std::string(key) + "\" in section \"" +
                        std::string(section) + "\"");
    }
    Section* target = find_section(section);
    if (target == nullptr) target = &append_section(section);

    std::string folded = fold(key);
    const auto existing = target->keys.find(folded);
    if (existing != target->keys.end()) {
        // Keep the key as spelled and the blanks around "=": only the value changes.
        Line& line = target->lines[existing->second];
        std::size_t value_start = line.equals + 1;
        while (value_start < line.text.size() && is_blank(line.text[value_start])) ++value_start;
        if (std::string_view(line.text).substr(value_start) == value) return;
        line.text.resize(value_start);
        line.text.append(value);
        modified_ = true;
        return;
    }

    Line added;
    added.text.reserve(key.size() + 1 + value.size());
    added.text.append(key).append("=").append(value);
    added.equals = key.size();
    added.ending = kLineEnd;
    Line& anchor = target->lines[target->last_content];
    if (anchor.ending.empty()) {
        anchor.ending = kLineEnd;
    } else {
        // The anchor keeps its own line break; blank lines that followed it
        // now follow the new line.
        const std::size_t own = first_break_length(anchor.ending);
        added.ending.append(anchor.ending, own);
        anchor.ending.resize(own);
    }
    const std::size_t position = target->last_content + 1;
    target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(position),
                         std::move(added));
    target->keys.emplace(std::move(folded), position);
    target->last_content = position;
    modified_ = true;
}

void ProfileDocument::erase_key(std::string_view section, std::string_view key) {
    Section* target = find_section(section);
    if (target == nullptr) return;
    const std::string folded = fold(key);
    const auto existing = target->keys.find(folded);
    if (existing == target->keys.end()) return;
    const std::size_t index = existing->second;

    Line& line = target->lines[index];
    line.removed = true;
    line.text.clear();
    line.ending.erase(0, first_break_length(line.ending));  // blank lines after it stay
    line.equals = std::string::npos;
    modified_ = true;

    // A later duplicate becomes the key.
    target->keys.erase(existing);
    for (std::size_t i = index + 1; i < target->lines.size(); ++i) {
        const Line& other = target->lines[i];
        if (!other.removed && other.is_key() && fold(other.key()) == folded) {
            target->keys.emplace(folded, i);
            break;
        }
    }
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
        if (candidate->has_header && !candidate->erased && candidate->folded_name == folded) {
            candidate->erased = true;
        }
    }
    modified_ = true;
}

// Makes sure the file ends with a line break before something is appended.
void ProfileDocument::end_last_line() {
    for (auto section = sections_.rbegin(); section != sections_.rend(); ++section) {
        if ((*section)->erased) continue;
        auto& lines = (*section)->lines;
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (!line->ending.empty()) return;
            if (!line->removed) {
                line->ending = kLineEnd;
                return;
            }
        }
    }
}

ProfileDocument::Section& ProfileDocument::append_section(std::string_view section) {
    end_last_line();
    auto added = std::make_unique<Section>();
    added->has_header = true;
    added->folded_name = fold(section);
    Line header;
    header.text.append("[").append(section).append("]");
    header.ending = kLineEnd;
    added->lines.push_back(std::move(header));
    Section& result = *added;
    first_section_[added->folded_name] = &result;
    sections_.push_back(std::move(added));
    return result;
}

std::string ProfileDocument::text() const {
    std::size_t size = 0;
    for (const auto& section : sections_) {
        if (section->erased) continue;
        for (const Line& line : section->lines) size += line.text.size() + line.ending.size();
    }
    std::string result;
    result.reserve(size);
    for (const auto& section : sections_) {
        if (section->erased) continue;
        for (const Line& line : section->lines) result.append(line.text).append(line.ending);
    }
    return result;
}

// ---------------------------------------------------------------------------

namespace {

// The directory that would hold the file: the text up to its last separator,
// or the current directory (".") for a bare name.
std::string containing_directory(const std::string& path) {
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (is_path_separator(c)) {
            last = i;
        } else if (is_lead_byte(c)) {
            ++i;
        }
    }
    if (last == std::string::npos) return ".";
    return path.substr(0, last + 1);
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile::~ProfileFile() = default;

ProfileDocument& ProfileFile::document() {
    if (!document_) load();
    return *document_;
}

void ProfileFile::load() {
    switch (file_system().kind(path_)) {
        case FileKind::missing:
            document_.emplace();
            return;
        case FileKind::file:
            existed_ = true;
            try {
                original_ = read_whole_file(path_);
            } catch (const Exception&) {
                unreadable_ = true;
                document_.emplace();
                return;
            }
            document_.emplace(original_);
            return;
        case FileKind::directory:
        case FileKind::other:
            existed_ = true;
            unreadable_ = true;
            document_.emplace();
            return;
    }
}

void ProfileFile::save() {
    if (!document_) return;
    if (unreadable_) {
        // Writing now would replace a file whose content we never saw.
        throw Exception(path_ + ": not a readable file");
    }
    if (!document_->modified()) {
        if (!existed_ && file_system().kind(containing_directory(path_)) != FileKind::directory) {
            throw Exception(path_ + ": the directory does not exist");
        }
        return;
    }
    std::string bytes = document_->text();
    if (existed_ && bytes == original_) return;
    if (existed_) {
        // A read-only file is refused, as the Windows functions refuse it,
        // though a rename over it would succeed on POSIX.
        file_system().open(path_, OpenMode::read_write);
    }
    write_file_atomically(path_, bytes);
    original_ = std::move(bytes);
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
