#include "platform/messages.h"

#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/text.h"

#include <array>

namespace platform {
namespace {

constexpr int kMessageCodePage = 1251;

// Latin spellings of the Windows-1251 lower-case letters а to я (0xE0-0xFF),
// a common practical romanisation; the hard and soft signs are dropped.
constexpr std::array<const char*, 32> kLatin = {
    "a", "b", "v", "g", "d", "e", "zh", "z", "i", "y", "k", "l", "m", "n", "o", "p",
    "r", "s", "t", "u", "f", "kh", "ts", "ch", "sh", "shch", "", "y", "", "e", "yu", "ya"};

bool is_upper(unsigned char c) { return (c >= 0xC0 && c <= 0xDF) || c == 0xA8 || (c >= 'A' && c <= 'Z'); }
bool is_lower(unsigned char c) { return c >= 0xE0 || c == 0xB8 || (c >= 'a' && c <= 'z'); }

// The letter's Latin spelling in lower case; nullptr for a byte that is no
// Cyrillic letter.
const char* latin(unsigned char c) {
    if (c == 0xA8 || c == 0xB8) return "yo";
    if (c >= 0xC0) return kLatin[(c - 0xC0) % 32];
    return nullptr;
}

std::string transliterated(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const char* spelling = latin(c);
        if (spelling == nullptr) {
            out.push_back(text[i]);
            continue;
        }
        std::string letters(spelling);
        if (is_upper(c) && !letters.empty()) {
            // A capital within a word in capitals is spelled in capitals
            // ("ЖУРНАЛ" gives "ZHURNAL"), else only its first letter ("Zhurnal").
            const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
            const auto previous = i > 0 ? static_cast<unsigned char>(text[i - 1]) : 0;
            const bool capitals = is_upper(next) || (is_upper(previous) && !is_lower(next));
            for (std::size_t k = 0; k < (capitals ? letters.size() : 1); ++k)
                letters[k] = static_cast<char>(letters[k] - 'a' + 'A');
        }
        out += letters;
    }
    return out;
}

}  // namespace

std::string message_in_code_page(std::string_view cp1251_text, int code_page) {
    if (code_page == 0) code_page = ansi_code_page();
    if (code_page == kMessageCodePage) return std::string(cp1251_text);
    try {
        // Characters the code page lacks become '?' and do not come back.
        std::string converted = convert_code_page(cp1251_text, kMessageCodePage, code_page);
        if (convert_code_page(converted, code_page, kMessageCodePage) == cp1251_text) return converted;
    } catch (const Exception&) {
        // A code page that cannot be converted to: the Latin spelling is
        // ASCII, which every code page holds.
    }
    return transliterated(cp1251_text);
}

std::string program_message(std::string_view utf8) { return message_in_code_page(cp1251(utf8), 0); }

}  // namespace platform
