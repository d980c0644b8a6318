#include "ini/reading_rules.h"

#include "ini/name_folding.h"
#include "platform/words.h"

#include <cstdint>

namespace ini {

std::string profile_name_as_matched(std::string_view name) { return fold(name); }

bool profile_name_is_matched_form(std::string_view name) {
    // Trimming would change it: a blank at either end.
    if (!name.empty() && (is_blank(name.front()) || is_blank(name.back()))) return false;
    const Folding& f = folding_for(name);
    if (!f.any_lead) {
        // Identifiers are mostly ASCII: eight such bytes are checked at once.
        std::size_t i = 0;
        if (f.ascii_plain) {
            using namespace platform::words;
            for (; i + 8 <= name.size(); i += 8) {
                const std::uint64_t word = load(name.data() + i);
                if ((word & kHigh) != 0) break;
                if (flag_ascii_lower(word) != 0) return false;
            }
        }
        for (; i < name.size(); ++i)
            if (f.upper[static_cast<unsigned char>(name[i])] != static_cast<unsigned char>(name[i])) return false;
        return true;
    }
    bool same = true;
    std::size_t i = 0;
    for_each_folded(name, [&](unsigned char b) { same = same && b == static_cast<unsigned char>(name[i++]); });
    return same;
}

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

ProfileEntryProblem key_problem(std::string_view key) {
    const unsigned char classes = byte_classes(key);
    if ((classes & kBreakOrZero) != 0) return ProfileEntryProblem::line_break_in_key;
    const std::string_view trimmed = trim(key);
    if (trimmed.empty()) return ProfileEntryProblem::empty_key;
    // ("=" as the second byte of a double-byte character does not end a key.)
    if ((classes & kEquals) != 0 && (!platform::code_page_has_lead_bytes() || find_char(key, '=') != std::string_view::npos))
        return ProfileEntryProblem::equals_in_key;
    if (trimmed.front() == '[' || trimmed.front() == ';') return ProfileEntryProblem::key_looks_like_section_or_comment;
    return ProfileEntryProblem::none;
}

ProfileEntryProblem check_profile_entry(std::string_view key, std::string_view value) {
    const ProfileEntryProblem problem = key_problem(key);
    if (problem != ProfileEntryProblem::none) return problem;
    if (has_line_break_or_zero(value)) return ProfileEntryProblem::line_break_in_value;
    return ProfileEntryProblem::none;
}

bool valid_profile_section(std::string_view section) {
    return !has_line_break_or_zero(section) && find_char(section, ']') == std::string_view::npos;
}

}  // namespace ini
