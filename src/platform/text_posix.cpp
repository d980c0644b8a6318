// Text services on POSIX: the ANSI code page comes from P2I_ANSI_CODEPAGE
// (default 1251) and every table is derived from iconv's tables for it.

#include "platform/text.h"

#include "platform/code_page_posix.h"
#include "platform/exception.h"
#include "platform/messages.h"
#include "platform/words.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <wctype.h>

namespace platform {
namespace {

using posix::Charset;
using posix::charset_for_code_page;

constexpr int kDefaultAnsiCodePage = 1251;

constexpr const char* kSetting = "P2I_ANSI_CODEPAGE";
constexpr int kKnownAnsiCodePages[] = {1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258,
                                       874,  932,  936,  949,  950};

bool is_known_ansi_code_page(int cp) {
    for (const int known : kKnownAnsiCodePages)
        if (cp == known) return true;
    return false;
}

bool usable(int cp) {
    if (!is_known_ansi_code_page(cp)) return false;
    try {
        charset_for_code_page(cp);
    } catch (const Exception&) {
        return false;
    }
    return true;
}

// The code page the setting names: the default when it is missing or empty,
// nothing when it is anything but the decimal digits of a usable code page.
std::optional<int> code_page_of_setting(const char* value) {
    if (value == nullptr || *value == '\0') return kDefaultAnsiCodePage;
    const std::string_view text(value);
    if (text.size() > 9) return std::nullopt;
    int cp = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        cp = cp * 10 + (c - '0');
    }
    if (!usable(cp)) return std::nullopt;
    return cp;
}

int read_ansi_code_page() { return code_page_of_setting(std::getenv(kSetting)).value_or(kDefaultAnsiCodePage); }

// Unicode simple case mapping, independent of the user's locale.
locale_t unicode_ctype() {
    static const locale_t loc = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"})
            if (locale_t l = newlocale(LC_CTYPE_MASK, name, nullptr)) return l;
        return static_cast<locale_t>(nullptr);
    }();
    return loc;
}

char32_t map_case(char32_t cp, bool upper) {
    if (cp < 0x80) {
        if (upper && cp >= 'a' && cp <= 'z') return cp - 32;
        if (!upper && cp >= 'A' && cp <= 'Z') return cp + 32;
        return cp;
    }
    locale_t loc = unicode_ctype();
    if (loc == nullptr) return cp;
    return static_cast<char32_t>(upper ? towupper_l(static_cast<wint_t>(cp), loc)
                                       : towlower_l(static_cast<wint_t>(cp), loc));
}

// Per-byte tables of the ANSI code page, built once.
struct AnsiTables {
    std::array<unsigned char, 256> upper{};
    std::array<unsigned char, 256> lower{};
    std::array<bool, 256> lead{};
    bool any_lead = false;

    AnsiTables() {
        const Charset& cs = charset_for_code_page(ansi_code_page());
        for (int b = 0; b < 256; ++b) {
            upper[b] = lower[b] = static_cast<unsigned char>(b);
            lead[b] = cs.is_lead_byte(static_cast<unsigned char>(b));
            any_lead = any_lead || lead[b];
        }
        const char32_t* table = cs.single_byte_table();
        for (int b = 0; b < 256; ++b) {
            char32_t cp;
            if (table != nullptr) {
                cp = table[b];
                if (cp == 0xFFFFFFFF) continue;
            } else {
                if (b >= 0x80) continue;  // double-byte pages: ASCII letters only
                cp = static_cast<char32_t>(b);
            }
            upper[b] = map_byte(cs, static_cast<unsigned char>(b), cp, true);
            lower[b] = map_byte(cs, static_cast<unsigned char>(b), cp, false);
        }
        ascii_upper = !any_lead;
        for (int b = 0; b < 0x80; ++b)
            if (upper[b] != (b >= 'a' && b <= 'z' ? b - 32 : b)) ascii_upper = false;
    }

    // True when no byte is a lead byte and the ASCII bytes are upper-cased as
    // in ASCII: then eight of them are upper-cased at once.
    bool ascii_upper = false;

    // The byte's case partner, kept only when it round-trips through the
    // code page.
    static unsigned char map_byte(const Charset& cs, unsigned char b, char32_t cp, bool upper) {
        const char32_t mapped = map_case(cp, upper);
        if (mapped == cp) return b;
        if (mapped < 0x80) return static_cast<unsigned char>(mapped);
        const std::string encoded = cs.encode(std::u32string_view(&mapped, 1));
        if (encoded.size() != 1 || encoded[0] == '?') return b;
        const std::u32string back = cs.decode(encoded);
        if (back.size() != 1 || back[0] != mapped) return b;
        return static_cast<unsigned char>(encoded[0]);
    }
};

const AnsiTables& ansi_tables() {
    static const AnsiTables tables;
    return tables;
}

void map_in_place(char* text, std::size_t size, const std::array<unsigned char, 256>& table) {
    const AnsiTables& t = ansi_tables();
    if (!t.any_lead) {
        for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(table[static_cast<unsigned char>(text[i])]);
        return;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (t.lead[c]) {
            ++i;  // a double-byte character has no case
            continue;
        }
        text[i] = static_cast<char>(table[c]);
    }
}

std::string map_text(std::string_view text, const std::array<unsigned char, 256>& table) {
    std::string out(text);
    map_in_place(out.data(), out.size(), table);
    return out;
}

// Converted byte tables between two single-byte code pages.
const std::array<char, 256>* byte_map(int from, int to) {
    static std::map<std::pair<int, int>, std::array<char, 256>> cache;
    static std::mutex mutex;
    const Charset& source = charset_for_code_page(from);
    const Charset& target = charset_for_code_page(to);
    if (source.single_byte_table() == nullptr || target.single_byte_table() == nullptr)
        return nullptr;
    std::lock_guard lock(mutex);
    auto [it, inserted] = cache.try_emplace({from, to});
    if (inserted) {
        std::string all(256, '\0');
        for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
        const std::string converted = target.encode(source.decode(all));
        for (int b = 0; b < 256; ++b) it->second[b] = converted[b];
    }
    return &it->second;
}

}  // namespace

int ansi_code_page() {
    static const int cp = read_ansi_code_page();
    return cp;
}

void check_ansi_code_page_setting() {
    const char* value = std::getenv(kSetting);
    if (code_page_of_setting(value)) return;
    // ansi_code_page() has fallen back to its default, in which the message
    // and the value (as the console gave it) are shown.
    std::string accepted;
    for (const int cp : kKnownAnsiCodePages) {
        if (!usable(cp)) continue;
        if (!accepted.empty()) accepted += ", ";
        accepted += std::to_string(cp);
    }
    throw Exception(program_message("Недопустимое значение переменной окружения ") + kSetting + " \"" +
                    posix::from_native(value) + program_message("\": допустимы кодовые страницы ") + accepted +
                    program_message(" (если переменная не задана, ") + std::to_string(kDefaultAnsiCodePage) + ")");
}

std::string upper_case(std::string_view text) { return map_text(text, ansi_tables().upper); }

std::string lower_case(std::string_view text) { return map_text(text, ansi_tables().lower); }

namespace {

using words::kHigh;

// Eight ASCII bytes upper-cased as ASCII does: 0x20 taken from each byte
// from "a" to "z". Upper-casing them twice changes nothing.
std::uint64_t upper_ascii_word(std::uint64_t word) {
    return word - (words::flag_ascii_lower(word) >> 2);
}

}  // namespace

void upper_case_in_place(char* text, std::size_t size) {
    // Identifiers and paths are upper-cased for every row of a table, and
    // they are mostly ASCII: a word without bytes of 0x80 or more is
    // upper-cased at once.
    const AnsiTables& t = ansi_tables();
    if (!t.ascii_upper) {
        map_in_place(text, size, t.upper);
        return;
    }
    char* const bytes = text;
    std::size_t i = 0;
    std::uint64_t word;
    for (; i + 8 <= size; i += 8) {
        std::memcpy(&word, bytes + i, 8);
        if ((word & kHigh) != 0) {
            for (std::size_t k = i; k < i + 8; ++k) bytes[k] = static_cast<char>(t.upper[static_cast<unsigned char>(bytes[k])]);
            continue;
        }
        word = upper_ascii_word(word);
        std::memcpy(bytes + i, &word, 8);
    }
    if (i < size && size >= 8) {
        // The last eight bytes, some of them done already; other bytes than
        // ASCII are left to the table.
        std::memcpy(&word, bytes + size - 8, 8);
        if ((word & kHigh) == 0) {
            word = upper_ascii_word(word);
            std::memcpy(bytes + size - 8, &word, 8);
            return;
        }
    }
    for (; i < size; ++i) bytes[i] = static_cast<char>(t.upper[static_cast<unsigned char>(bytes[i])]);
}

unsigned char upper_case_byte(unsigned char c) { return ansi_tables().upper[c]; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    // upper_case(a) == upper_case(b), byte by byte: a double-byte character
    // is compared as it stands.
    if (a.size() != b.size()) return false;
    const AnsiTables& t = ansi_tables();
    if (!t.any_lead) {
        for (std::size_t i = 0; i < a.size(); ++i)
            if (t.upper[static_cast<unsigned char>(a[i])] != t.upper[static_cast<unsigned char>(b[i])]) return false;
        return true;
    }
    bool trail_a = false;
    bool trail_b = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        const bool keep_x = trail_a || t.lead[x];
        const bool keep_y = trail_b || t.lead[y];
        if ((keep_x ? x : t.upper[x]) != (keep_y ? y : t.upper[y])) return false;
        trail_a = !trail_a && t.lead[x];
        trail_b = !trail_b && t.lead[y];
    }
    return true;
}

bool is_lead_byte(unsigned char c) { return ansi_tables().lead[c]; }

bool code_page_has_lead_bytes() { return ansi_tables().any_lead; }

bool is_directory_separator(unsigned char c) { return c == '\\' || c == '/'; }

bool is_path_separator(unsigned char c) { return is_directory_separator(c) || c == ':'; }

bool code_page_supported(int code_page) {
    try {
        charset_for_code_page(code_page);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

std::string convert_code_page(std::string_view text, int from_code_page, int to_code_page) {
    if (from_code_page == 0) from_code_page = ansi_code_page();
    if (to_code_page == 0) to_code_page = ansi_code_page();
    if (from_code_page == to_code_page) return std::string(text);
    if (const auto* map = byte_map(from_code_page, to_code_page)) {
        std::string out(text);
        for (char& c : out) c = (*map)[static_cast<unsigned char>(c)];
        return out;
    }
    return charset_for_code_page(to_code_page).encode(charset_for_code_page(from_code_page).decode(text));
}

std::u32string unicode_from_ansi(std::string_view ansi) {
    return posix::charset_for_code_page(ansi_code_page()).decode(ansi);
}

bool append_ansi_form(char32_t code_point, std::string& out) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
        return true;
    }
    const posix::Charset& charset = posix::charset_for_code_page(ansi_code_page());
    const std::string bytes = charset.encode(std::u32string_view(&code_point, 1));
    // The charsets write '?' for what they cannot hold; a form counts only
    // when it decodes to the same code point again.
    const std::u32string back = charset.decode(bytes);
    if (bytes.empty() || back.size() != 1 || back[0] != code_point) return false;
    out += bytes;
    return true;
}

std::string to_console(std::string_view ansi) { return posix::to_native(ansi); }

std::string from_command_line(std::string_view argument) { return posix::from_native(argument); }

}  // namespace platform
