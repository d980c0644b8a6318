#include "ini/document.h"

#include <cstring>
#include <functional>
#include <memory>

#include "ini/arena.h"
#include "ini/document_parts.h"
#include "ini/profile_encoding.h"
#include "platform/exception.h"

namespace ini {

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
    for_each_header(text, [&](std::size_t pos, std::string_view name) {
        section->raw_size = static_cast<std::size_t>(text.data() + pos - section->raw);
        sections_.push_back(std::make_unique<Section>());
        section = sections_.back().get();
        section->has_header = true;
        section->raw = text.data() + pos;
        section->folded_name = fold(name);
        first_section_.emplace(section->folded_name, section);
    });
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
    bool valid = false;
    return find_section(section, valid);
}

ProfileDocument::Section* ProfileDocument::find_section(std::string_view section, bool& valid_name) const {
    // Looked up for every key written or read, mostly among the last two,
    // which are remembered only when their name may be written.
    for (const RecentSection& recent : recent_) {
        if (recent.section != nullptr && recent.name.size() == section.size() &&
            std::memcmp(recent.name.data(), section.data(), section.size()) == 0) {
            if (!recent.section->is_split) split(*recent.section);
            valid_name = true;
            return recent.section;
        }
    }
    valid_name = false;
    // Folded on the stack.
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
    if (valid_profile_section(section)) {
        valid_name = true;
        RecentSection& slot = recent_[recent_next_];
        recent_next_ = 1 - recent_next_;
        slot.name.assign(section);
        slot.section = found->second;
    }
    return found->second;
}

void ProfileDocument::forget_recent_sections() {
    for (RecentSection& recent : recent_) recent.section = nullptr;
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

}  // namespace ini
