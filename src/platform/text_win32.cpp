// Text and locale services on Windows: the system's own ANSI functions, so
// casing, comparison and console text follow the user's locale exactly.

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/per_thread.h"
#include "platform/win32.h"
#include "platform/words.h"

namespace platform {
namespace {

// LeadByte pairs of the ANSI code page; filled once, read only afterwards.
class LeadBytes {
public:
    LeadBytes() {
        CPINFO info{};
        if (!GetCPInfo(CP_ACP, &info)) return;
        // Up to six pairs (first, last); a pair of zeros ends the list early
        // and a pair whose last value is below its first adds nothing.
        std::array<bool, 256> lead{};
        bool any = false;
        for (int pair = 0; pair + 1 < MAX_LEADBYTES; pair += 2) {
            const unsigned first = info.LeadByte[pair];
            const unsigned last = info.LeadByte[pair + 1];
            if (first == 0 && last == 0) break;
            for (unsigned c = first; c <= last; ++c) lead[c] = any = true;
        }
        // The set stays empty unless the system reports double-byte support
        // too. That is asked only when there are ranges to take: a
        // single-byte code page has none, and the question loads user32.dll.
        if (!any) return;
        static const auto system_metrics = win32::user32<decltype(&GetSystemMetrics)>("GetSystemMetrics");
        if (system_metrics(SM_DBCSENABLED) == 0) return;
        lead_ = lead;
        any_ = true;
    }
    bool operator[](unsigned char c) const { return lead_[c]; }
    bool any() const { return any_; }

private:
    std::array<bool, 256> lead_{};
    bool any_ = false;
};

const LeadBytes& lead_bytes() {
    static const LeadBytes table;
    return table;
}

// Fills the table while the process starts, before any caller can ask.
[[maybe_unused]] const LeadBytes& lead_bytes_at_start = lead_bytes();

// CharUpperBuffA of each byte that is a character of its own (not a lead
// byte). A single-byte character is upper-cased alone, whatever stands
// around it, so a text is upper-cased byte by byte through this table
// instead of a call (and its conversions to UTF-16 and back) per text.
// Made on the first text with a byte beyond ASCII (see upper_ascii).
class UpperBytes {
public:
    UpperBytes() {
        static const auto upper = win32::user32<decltype(&CharUpperBuffA)>("CharUpperBuffA");
        for (unsigned c = 0; c < 256; ++c) {
            char byte = static_cast<char>(c);
            if (c != 0 && !lead_bytes()[static_cast<unsigned char>(c)]) upper(&byte, 1);
            upper_[c] = static_cast<unsigned char>(byte);
        }
    }
    unsigned char operator[](unsigned char c) const { return upper_[c]; }

private:
    std::array<unsigned char, 256> upper_{};
};

const UpperBytes& upper_bytes() {
    static const UpperBytes table;
    return table;
}

// What CharUpperBuffA makes of a byte below 0x80: every ANSI code page has
// ASCII there (lead bytes start above it), and the system upper-cases a to z
// alone among those characters. Texts of ASCII, as most paths are, need
// neither the table above nor, in a run over them only, user32.dll.
using words::upper_ascii;

// Whether upper_ascii may stand in for the system. Turkish and Azeri are
// the languages whose "i" has another capital; where the user's or the
// system's locale is one of them, the system is asked for ASCII too.
bool ascii_upper_cases_plainly() {
    static const bool plain = [] {
        for (const LCID locale : {GetUserDefaultLCID(), GetSystemDefaultLCID()}) {
            const LANGID language = PRIMARYLANGID(LANGIDFROMLCID(locale));
            if (language == LANG_TURKISH || language == LANG_AZERI) return false;
        }
        return true;
    }();
    return plain;
}

// Upper-cases the text in place, leaving double-byte characters as they are.
void upper_in_place(char* text, std::size_t size) {
    std::size_t ascii = 0;
    if (ascii_upper_cases_plainly()) {
        for (; ascii < size && static_cast<unsigned char>(text[ascii]) < 0x80; ++ascii)
            text[ascii] = static_cast<char>(upper_ascii(static_cast<unsigned char>(text[ascii])));
    }
    if (ascii == size) return;
    const UpperBytes& upper = upper_bytes();
    for (std::size_t i = ascii; i < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (lead_bytes()[c]) {
            ++i;  // the trail byte belongs to the character
            continue;
        }
        text[i] = static_cast<char>(upper[c]);
    }
}

// A non-null pointer for a possibly empty view: the A functions refuse null.
const char* data_of(std::string_view text) { return text.empty() ? "" : text.data(); }

// Applies CharUpperBuffA or CharLowerBuffA to the text, leaving double-byte
// characters as they are, so that paths upper-case alike on every system:
// Wine, for one, maps them through Unicode and changes full-width letters.
// On single-byte code pages this is one call over the whole text.
void map_single_byte_runs(std::string& text, DWORD(WINAPI* map)(LPSTR, DWORD)) {
    std::size_t run = 0;
    auto flush = [&](std::size_t end) {
        if (end > run) map(text.data() + run, static_cast<DWORD>(end - run));
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (lead_bytes()[static_cast<unsigned char>(text[i])]) {
            flush(i);
            ++i;  // the trail byte belongs to the character
            run = i + 1;
        }
    }
    flush(text.size());
}

UINT win32_code_page(int code_page) { return code_page == 0 ? CP_ACP : static_cast<UINT>(code_page); }

void require_code_page(int code_page) {
    if (code_page != 0 && !IsValidCodePage(static_cast<UINT>(code_page)))
        throw Exception("Code page " + std::to_string(code_page) + " is not supported");
}

}  // namespace

int ansi_code_page() { return static_cast<int>(GetACP()); }

// The system's ANSI code page is always usable.
void check_ansi_code_page_setting() {}

std::string upper_case(std::string_view text) {
    std::string result(text);
    upper_in_place(result.data(), result.size());
    return result;
}

void upper_case_in_place(char* text, std::size_t size) { upper_in_place(text, size); }

std::string lower_case(std::string_view text) {
    std::string result(text);
    static const auto lower = win32::user32<decltype(&CharLowerBuffA)>("CharLowerBuffA");
    map_single_byte_runs(result, lower);
    return result;
}

unsigned char upper_case_byte(unsigned char c) {
    if (c < 0x80 && ascii_upper_cases_plainly()) return upper_ascii(c);
    return lead_bytes()[c] ? c : upper_bytes()[c];
}

namespace {

// Room for two texts upper-cased, kept from one call to the next.
struct UpperCasedPair {
    std::string a;
    std::string b;
};

// How two texts of one size compare: byte for byte, or only once both are
// upper-cased, or not even then.
enum class Likeness { different, same_upper_cased, identical };

Likeness likeness(std::string_view a, std::string_view b) {
    if (!lead_bytes().any()) {
        // Every byte is a character of its own, upper-cased where it lies.
        bool identical = true;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const auto x = static_cast<unsigned char>(a[i]);
            const auto y = static_cast<unsigned char>(b[i]);
            if (x == y) continue;
            if (upper_case_byte(x) != upper_case_byte(y)) return Likeness::different;
            identical = false;
        }
        return identical ? Likeness::identical : Likeness::same_upper_cased;
    }
    if (a == b) return Likeness::identical;
    UpperCasedPair& room = per_thread<UpperCasedPair>();
    std::string& upper_a = room.a;
    std::string& upper_b = room.b;
    upper_a.assign(a);
    upper_in_place(upper_a.data(), upper_a.size());
    upper_b.assign(b);
    upper_in_place(upper_b.data(), upper_b.size());
    return upper_a == upper_b ? Likeness::same_upper_cased : Likeness::different;
}

// The locale's answers for the pairs asked last. A conversion compares the
// same few directory names, spelt in two cases, for every row, and each
// call of the locale's comparison makes sort keys of both texts.
class LocaleAnswers {
public:
    bool equal(std::string_view a, std::string_view b) {
        for (const Answer& answer : answers_)
            if (answer.a == a && answer.b == b) return answer.equal;
        Answer& answer = answers_[next_];
        next_ = (next_ + 1) % answers_.size();
        answer.a.assign(a);
        answer.b.assign(b);
        answer.equal = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, data_of(a), static_cast<int>(a.size()),
                                      data_of(b), static_cast<int>(b.size())) == CSTR_EQUAL;
        return answer.equal;
    }

private:
    struct Answer {
        std::string a;
        std::string b;
        bool equal = false;
    };
    std::array<Answer, 8> answers_;
    std::size_t next_ = 0;
};

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    // The locale's comparison also ignores characters such as the soft
    // hyphen, so it finds "A\xADB" equal to "AB": two different directory
    // names. Texts count as equal only when their upper-cased bytes agree too,
    // which is looked at first: it decides most comparisons without a call.
    if (a.size() != b.size()) return false;
    switch (likeness(a, b)) {
        case Likeness::different: return false;
        case Likeness::identical: return true;
        case Likeness::same_upper_cased: break;
    }
    return per_thread<LocaleAnswers>().equal(a, b);
}

bool is_lead_byte(unsigned char c) { return lead_bytes()[c]; }

bool code_page_has_lead_bytes() { return lead_bytes().any(); }

bool is_directory_separator(unsigned char c) { return c == '\\'; }

bool is_path_separator(unsigned char c) { return is_directory_separator(c) || c == ':'; }

std::string convert_code_page(std::string_view text, int from_code_page, int to_code_page) {
    require_code_page(from_code_page);
    require_code_page(to_code_page);
    if (text.empty()) return {};
    if (from_code_page == to_code_page) return std::string(text);
    const UINT from = win32_code_page(from_code_page);
    const UINT to = win32_code_page(to_code_page);

    // Bytes that do not decode become U+FFFD, which no target code page but
    // UTF-8 holds, so they come out as '?' like every other unmappable one.
    const int wide_length = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide_length <= 0) throw Exception("Cannot convert text from code page " + std::to_string(from_code_page));
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), wide.data(), wide_length);

    // No best fit: a character the target lacks becomes '?', it is never
    // replaced by a look-alike.
    const bool utf = to == CP_UTF8 || to == CP_UTF7;
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* default_char = utf ? nullptr : "?";
    const int length = WideCharToMultiByte(to, flags, wide.data(), wide_length, nullptr, 0, default_char, nullptr);
    if (length <= 0) throw Exception("Cannot convert text to code page " + std::to_string(to_code_page));
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(to, flags, wide.data(), wide_length, result.data(), length, default_char, nullptr);
    return result;
}

bool code_page_supported(int code_page) {
    return code_page == 0 || IsValidCodePage(static_cast<UINT>(code_page)) != 0;
}

std::u32string unicode_from_ansi(std::string_view ansi) {
    std::u32string result;
    if (ansi.empty()) return result;
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (length <= 0) return std::u32string(ansi.size(), U'\uFFFD');
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), length);
    result.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char32_t unit = wide[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            result.push_back(0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(wide[i + 1]) - 0xDC00));
            ++i;
        } else {
            result.push_back(unit);
        }
    }
    return result;
}

bool append_ansi_form(char32_t code_point, std::string& out) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
        return true;
    }
    if (code_point > 0x10FFFF) return false;
    wchar_t units[2];
    int count = 1;
    if (code_point >= 0x10000) {
        units[0] = static_cast<wchar_t>(0xD800 + ((code_point - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF));
        count = 2;
    } else {
        units[0] = static_cast<wchar_t>(code_point);
    }
    // No best fit, and a used default character means there is no form. (A
    // system whose ANSI code page is UTF-8 refuses both flags: it holds
    // every character anyway.)
    const bool utf8 = GetACP() == CP_UTF8;
    char bytes[8];
    BOOL defaulted = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                           sizeof bytes, nullptr, utf8 ? nullptr : &defaulted);
    if (length <= 0 || defaulted) return false;
    wchar_t back[4];
    if (MultiByteToWideChar(CP_ACP, 0, bytes, length, back, 4) != count ||
        !std::equal(units, units + count, back))
        return false;
    out.append(bytes, static_cast<std::size_t>(length));
    return true;
}

std::string to_console(std::string_view ansi) {
    std::string result(ansi);
    // ASCII is the same in the ANSI and the OEM code pages.
    if (words::is_ascii(result)) return result;
    static const auto ansi_to_oem = win32::user32<decltype(&CharToOemBuffA)>("CharToOemBuffA");
    ansi_to_oem(result.data(), result.data(), static_cast<DWORD>(result.size()));
    return result;
}

std::string from_command_line(std::string_view argument) {
    // The runtime hands main() its arguments in the ANSI code page already.
    return std::string(argument);
}

}  // namespace platform
