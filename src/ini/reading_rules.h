#pragma once
// What the lines of an INI file mean, by the rules of the Windows
// private-profile functions:
//
// A line ends at any run of CR/LF. Section names, keys and values are
// trimmed of 0x09-0x0D and 0x20. One outer pair of matching '"' or '\''
// is stripped from a value of at least two characters. There are no inline
// comments ("a;b" reads as a;b); a line whose first non-blank character is
// ';' is a comment. Lines without '=' are kept but are not keys. The first of
// duplicate keys wins for read, replace and delete; only the first of
// duplicate sections is searched and written. Names match ignoring case over
// the whole ANSI code page (name_folding.h).
//
// All texts are ANSI code page text; double-byte characters are respected
// when looking for ']' and '='.
//
// The small helpers below the public rules are what the document scans every
// line and every written text with; they are inline for that reason.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "platform/text.h"
#include "platform/words.h"

namespace ini {

// The form in which a section name or key is matched: trimmed, upper-cased.
// Two keys with the same form are one key of the file.
std::string profile_name_as_matched(std::string_view name);
// True when the name is its own matched form (no copy is made to tell).
bool profile_name_is_matched_form(std::string_view name);

// The value a reader gets for the raw text that follows "=" on a key line:
// trimmed, then one outer pair of matching quotes removed.
std::string profile_value_as_read(std::string_view raw);

// Why a key and value cannot be written without changing the file's structure
// (a line break would start new lines, "=" would move the key's end, "[" or
// ";" at the start would make a section header or a comment, an empty key
// cannot be read back, a zero byte ends the text for C callers).
enum class ProfileEntryProblem {
    none,
    empty_key,
    line_break_in_key,   // CR, LF or a zero byte
    equals_in_key,
    key_looks_like_section_or_comment,
    line_break_in_value,  // CR, LF or a zero byte
};
ProfileEntryProblem check_profile_entry(std::string_view key, std::string_view value);

// The key's part of check_profile_entry: its problems come before the value's.
ProfileEntryProblem key_problem(std::string_view key);

// True when a reader gets the value back exactly as written (no blanks at its
// ends, no outer pair of quotes): profile_value_as_read(value) == value.
bool profile_value_reads_back(std::string_view value);

// True when a section name can be written as a header and read back.
bool valid_profile_section(std::string_view section);

// --- Helpers of the rules ---------------------------------------------------

// What changed and added lines end with.
inline constexpr std::string_view kLineEnd = "\r\n";

inline bool is_blank(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b == 0x20 || (b >= 0x09 && b <= 0x0D);
}

inline bool is_line_break(char c) { return c == '\r' || c == '\n'; }

inline std::string_view trim(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && is_blank(text[first])) ++first;
    while (last > first && is_blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// Position of the first `wanted` byte that is not the second byte of a
// double-byte character.
inline std::size_t find_char(std::string_view text, char wanted) {
    if (!platform::code_page_has_lead_bytes()) return text.find(wanted);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == wanted) return i;
        if (platform::is_lead_byte(static_cast<unsigned char>(text[i]))) ++i;
    }
    return std::string_view::npos;
}

// What a byte is to a key or value: a line break or zero byte (which ends
// the text for C callers), or the "=" that ends a key.
inline constexpr unsigned char kBreakOrZero = 1;
inline constexpr unsigned char kEquals = 2;

inline constexpr std::array<unsigned char, 256> kByteClass = [] {
    std::array<unsigned char, 256> classes{};
    classes['\0'] = classes['\r'] = classes['\n'] = kBreakOrZero;
    classes['='] = kEquals;
    return classes;
}();

// The classes of all bytes of the text together (every key and value
// written passes here, so it is one table look-up per byte).
inline unsigned char byte_classes(std::string_view text) {
    unsigned char classes = 0;
    for (const char c : text) classes |= kByteClass[static_cast<unsigned char>(c)];
    return classes;
}


inline bool has_line_break_or_zero(std::string_view text) {
    // Eight bytes at a time; a text of eight or more ends with its last
    // eight, some of them seen already.
    if (text.size() < 8) return (byte_classes(text) & kBreakOrZero) != 0;
    auto holds = [&text](std::size_t at) {
        using namespace platform::words;
        const std::uint64_t word = load(text.data() + at);
        return (flag_byte(word, 0) | flag_byte(word, '\r') | flag_byte(word, '\n')) != 0;
    };
    for (std::size_t i = 0; i + 8 <= text.size(); i += 8)
        if (holds(i)) return true;
    return holds(text.size() - 8);
}

// Length of the first line break of a run of CR/LF ("\r\n" counts as one).
inline std::size_t first_break_length(std::string_view ending) {
    if (ending.empty()) return 0;
    return ending.size() >= 2 && ending[0] == '\r' && ending[1] == '\n' ? 2 : 1;
}

// Where the first CR or LF at or after `pos` lies; the text's size when none.
inline std::size_t line_break_from(std::string_view bytes, std::size_t pos) {
    return platform::words::find_either(bytes.data(), pos, bytes.size(), '\r', '\n');
}

// Length of the line that starts at `pos` and of the run of CR/LF after it.
inline std::pair<std::size_t, std::size_t> line_at(std::string_view bytes, std::size_t pos) {
    const std::size_t end = line_break_from(bytes, pos);
    std::size_t run_end = end;
    while (run_end < bytes.size() && is_line_break(bytes[run_end])) ++run_end;
    return {end - pos, run_end - end};
}

// Calls header(position, name) for each section header of a text that
// starts at the start of a line, in order: the lines whose first character
// but blanks is "[" and that hold a "]" after it. The position is that of
// the line; the name is what lies between the brackets, as it stands.
// Found from the "[" bytes, so that the lines between are not walked.
template <class Header>
void for_each_header(std::string_view text, Header header) {
    std::size_t from = 0;
    while (from < text.size()) {
        const void* bracket = std::memchr(text.data() + from, '[', text.size() - from);
        if (bracket == nullptr) break;
        const auto open = static_cast<std::size_t>(static_cast<const char*>(bracket) - text.data());
        std::size_t pos = open;
        while (pos > 0 && is_blank(text[pos - 1]) && !is_line_break(text[pos - 1])) --pos;
        if (pos > 0 && !is_line_break(text[pos - 1])) {
            from = open + 1;  // not the first character of its line
            continue;
        }
        const auto [length, ending] = line_at(text, pos);
        const std::string_view content = trim(text.substr(pos, length));
        const std::size_t close = find_char(content.substr(1), ']');
        if (close != std::string_view::npos) header(pos, content.substr(1, close));
        from = pos + length + ending;
    }
}

}  // namespace ini
