#include "ini/document.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "ini/arena.h"
#include "ini/document_parts.h"
#include "platform/exception.h"

namespace ini {

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

Arena& ProfileDocument::arena_for(Section& section) {
    return section.own_arena ? *section.own_arena : *arena_;
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
    target->expect_keys(keys);
}

void ProfileDocument::set_value(std::string_view section, std::string_view key,
                                std::string_view value) {
    // A key is often written to two sections in a row: its hash and its
    // check are kept for the next call. The key's slot is fetched into the
    // cache while the texts are checked.
    const std::string_view name = trim(key);
    const bool same_key = last_key_valid_ && key.size() == last_key_size_ &&
                          std::memcmp(key.data(), last_key_.data(), key.size()) == 0;
    const std::uint32_t hash = same_key ? last_key_hash_ : folded_hash(name);
    bool valid_name = false;
    Section* target = find_section(section, valid_name);
    if (target != nullptr) target->keys.prefetch(hash);

    if (!valid_name && !valid_profile_section(section)) {
        throw Exception("Invalid INI section name \"" + std::string(section) + "\"");
    }
    if ((!same_key && key_problem(key) != ProfileEntryProblem::none) || has_line_break_or_zero(value)) {
        throw Exception("Invalid INI key \"" + std::string(key) + "\" in section \"" +
                        std::string(section) + "\"");
    }
    if (!same_key) {
        last_key_valid_ = key.size() <= last_key_.size();
        if (last_key_valid_) {
            std::memcpy(last_key_.data(), key.data(), key.size());
            last_key_size_ = key.size();
            last_key_hash_ = hash;
        }
    }
    if (key.size() + value.size() + section.size() > kMaxText / 2) {
        throw Exception("INI entry too large in section \"" + std::string(section) + "\"");
    }
    if (!loaded_->empty() && 2 * loaded_used_ <= loaded_->size()) compact();  // compact() tests it too; a call per key spared
    if (target == nullptr) target = &append_section(section);

    if (KeyIndex::Slot* existing = target->find_key(name, hash)) {
        // Keep the key as spelled and the blanks around "=": only the value changes.
        Line& line = target->lines[existing->line];
        const std::string_view text = line.text();
        std::size_t value_start = line.equals + std::size_t{1};
        while (value_start < text.size() && is_blank(text[value_start])) ++value_start;
        if (text.substr(value_start) == value) return;
        const std::string_view ending = line.line_end();
        char* bytes = arena_for(*target).allocate(value_start + value.size() + ending.size());
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
    char* bytes = arena_for(*target).allocate(key.size() + 1 + value.size() + kLineEnd.size() + blank_lines.size());
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
    } else if (anchor.ending != own) {
        // The blank lines after it now follow the new line. (Keys written
        // one after another have none: the anchor stays as it is.)
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
    forget_recent_sections();
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
        candidate->own_arena.reset();  // only its own lines pointed into it
    }
    modified_ = true;
    compact();
}

void ProfileDocument::end_with_line_break() {
    if (end_last_line()) modified_ = true;
}

// Makes sure the file ends with a line break before something is appended;
// true when it had to add one.
bool ProfileDocument::end_last_line() {
    for (auto section = sections_.rbegin(); section != sections_.rend(); ++section) {
        if ((*section)->erased) continue;
        split(**section);
        auto& lines = (*section)->lines;
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (line->ending != 0) return false;
            if (line->length != 0) {
                copy_to_arena(*line, line->text(), kLineEnd);
                return true;
            }
        }
    }
    return false;
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
    added->expect_keys(expected);
    Line header;
    std::string text;
    text.append("[").append(section).append("]");
    copy_to_arena(header, text, kLineEnd);
    added->lines.push_back(header);
    Section& result = *added;
    forget_recent_sections();
    first_section_[added->folded_name] = &result;
    sections_.push_back(std::move(added));
    return result;
}

}  // namespace ini
