#include "ini/profile_encoding.h"

#include "platform/text.h"

#include <cstdint>
#include <vector>

namespace ini {
namespace {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
constexpr char kUtf16leMark[] = "\xFF\xFE";
constexpr char kUtf16beMark[] = "\xFE\xFF";
constexpr char kEndOfFile = '\x1A';  // Ctrl-Z
constexpr char kHex[] = "0123456789ABCDEF";

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

void append_escape(std::string_view bytes, std::string& out) {
    out.push_back('\0');
    out.push_back(static_cast<char>('0' + bytes.size()));
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0xF]);
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The length of the escape at text[at] (a zero byte), 0 when it is none.
std::size_t escape_length(std::string_view text, std::size_t at) {
    if (at + 1 >= text.size()) return 0;
    const int n = text[at + 1] - '0';
    if (n < 1 || n > 4 || at + 2 + 2 * static_cast<std::size_t>(n) > text.size()) return 0;
    for (std::size_t i = at + 2; i < at + 2 + 2 * static_cast<std::size_t>(n); ++i)
        if (hex_value(text[i]) < 0) return 0;
    return 2 + 2 * static_cast<std::size_t>(n);
}

// The ANSI forms of the characters of the Basic Multilingual Plane, asked
// of the platform once each per file: a file repeats its characters.
class AnsiForms {
public:
    AnsiForms() : forms_(0x10000, 0) {}

    bool append(char32_t code_point, std::string& out) {
        if (code_point >= forms_.size()) return platform::append_ansi_form(code_point, out);
        std::uint32_t& form = forms_[code_point];
        if (form == 0) {
            std::string bytes;
            form = kKnown;
            // Forms of one or two bytes (every ANSI code page's) are kept.
            if (platform::append_ansi_form(code_point, bytes) && bytes.size() <= 2) {
                form |= kHasForm | (static_cast<std::uint32_t>(bytes.size()) << 16) |
                        static_cast<unsigned char>(bytes[0]);
                if (bytes.size() == 2) form |= std::uint32_t{static_cast<unsigned char>(bytes[1])} << 8;
            } else if (!bytes.empty()) {
                out += bytes;
                form = 0;
                return true;
            }
        }
        if ((form & kHasForm) == 0) return false;
        out.push_back(static_cast<char>(form & 0xFF));
        if (((form >> 16) & 0xFF) == 2) out.push_back(static_cast<char>((form >> 8) & 0xFF));
        return true;
    }

private:
    static constexpr std::uint32_t kKnown = 0x80000000u;
    static constexpr std::uint32_t kHasForm = 0x40000000u;
    std::vector<std::uint32_t> forms_;
};

// A character of the file: its ANSI form, or an escape of its bytes.
void append_character(char32_t code_point, std::string_view bytes, AnsiForms& forms, std::string& out,
                      bool& escapes) {
    if (code_point != 0 && forms.append(code_point, out)) return;
    append_escape(bytes, out);
    escapes = true;
}

// Length of the UTF-8 sequence at bytes[at] and its code point; 0 when the
// byte starts no well-formed sequence.
std::size_t utf8_sequence(std::string_view bytes, std::size_t at, char32_t& code_point) {
    const auto c = static_cast<unsigned char>(bytes[at]);
    std::size_t extra = 0;
    if (c < 0x80) {
        code_point = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        code_point = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        code_point = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        code_point = c & 0x07;
    } else {
        return 0;
    }
    if (at + extra >= bytes.size()) return 0;
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto t = static_cast<unsigned char>(bytes[at + k]);
        if ((t & 0xC0) != 0x80) return 0;
        code_point = (code_point << 6) | (t & 0x3F);
    }
    const bool overlong = (extra == 2 && code_point < 0x800) || (extra == 3 && code_point < 0x10000);
    if (overlong || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) return 0;
    return extra + 1;
}

void decode_utf8(std::string_view bytes, ProfileText& result) {
    AnsiForms forms;
    std::string& out = result.text;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (static_cast<unsigned char>(c) < 0x80 && c != '\0') {
            out.push_back(c);
            ++i;
            continue;
        }
        char32_t code_point = 0;
        const std::size_t length = utf8_sequence(bytes, i, code_point);
        if (length == 0) {
            append_escape(bytes.substr(i, 1), out);
            result.escapes = true;
            ++i;
            continue;
        }
        append_character(code_point, bytes.substr(i, length), forms, out, result.escapes);
        i += length;
    }
}

void decode_utf16(std::string_view bytes, bool big_endian, ProfileText& result) {
    AnsiForms forms;
    std::string& out = result.text;
    out.reserve(bytes.size() / 2);
    const auto unit_at = [&](std::size_t at) -> char32_t {
        const auto first = static_cast<unsigned char>(bytes[at]);
        const auto second = static_cast<unsigned char>(bytes[at + 1]);
        return big_endian ? (char32_t{first} << 8) | second : (char32_t{second} << 8) | first;
    };
    std::size_t i = 0;
    while (i + 2 <= bytes.size()) {
        const char32_t unit = unit_at(i);
        if (unit < 0x80 && unit != 0) {
            out.push_back(static_cast<char>(unit));
            i += 2;
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 4 <= bytes.size()) {
            const char32_t low = unit_at(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                append_character(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), bytes.substr(i, 4), forms,
                                 out, result.escapes);
                i += 4;
                continue;
            }
        }
        // A lone surrogate is no character: only an escape keeps it.
        const bool surrogate = unit >= 0xD800 && unit <= 0xDFFF;
        append_character(surrogate ? 0 : unit, bytes.substr(i, 2), forms, out, result.escapes);
        i += 2;
    }
    // An odd last byte is half a character. Kept, it would shift every
    // character written after it; the profile functions read whole units
    // and drop it too (seen in Wine's PROFILE_Load).
}

void append_utf16(char32_t code_point, bool big_endian, std::string& out) {
    const auto unit = [&](std::uint32_t u) {
        const char high = static_cast<char>(u >> 8);
        const char low = static_cast<char>(u & 0xFF);
        out.push_back(big_endian ? high : low);
        out.push_back(big_endian ? low : high);
    };
    if (code_point >= 0x10000) {
        unit(0xD800 + ((code_point - 0x10000) >> 10));
        unit(0xDC00 + ((code_point - 0x10000) & 0x3FF));
    } else {
        unit(code_point);
    }
}

void append_utf8(char32_t code_point, std::string& out) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

// The code point of every byte of a single-byte ANSI code page, which is
// fixed for the life of the process; empty for a double-byte one.
const std::vector<char32_t>& single_byte_code_points() {
    static const std::vector<char32_t> table = [] {
        std::string bytes(256, '\0');
        for (int b = 0; b < 256; ++b) {
            if (platform::is_lead_byte(static_cast<unsigned char>(b))) return std::vector<char32_t>();
            bytes[static_cast<std::size_t>(b)] = static_cast<char>(b);
        }
        std::u32string decoded = platform::unicode_from_ansi(bytes);
        if (decoded.size() != 256) return std::vector<char32_t>();
        return std::vector<char32_t>(decoded.begin(), decoded.end());
    }();
    return table;
}

// ANSI text without escapes in a Unicode encoding; ASCII needs no lookup.
void encode_run(std::string_view ansi, ProfileEncoding encoding, std::string& out) {
    const auto put = [&](char32_t code_point) {
        if (encoding == ProfileEncoding::utf8)
            append_utf8(code_point, out);
        else
            append_utf16(code_point, encoding == ProfileEncoding::utf16be, out);
    };
    if (const std::vector<char32_t>& table = single_byte_code_points(); !table.empty()) {
        for (const char c : ansi) put(table[static_cast<unsigned char>(c)]);
        return;
    }
    std::size_t i = 0;
    while (i < ansi.size()) {
        std::size_t end = i;
        while (end < ansi.size() && static_cast<unsigned char>(ansi[end]) < 0x80) ++end;
        for (; i < end; ++i) put(static_cast<unsigned char>(ansi[i]));
        // A trail byte may be ASCII: a double-byte character goes whole.
        while (end < ansi.size() && static_cast<unsigned char>(ansi[end]) >= 0x80)
            end += platform::is_lead_byte(static_cast<unsigned char>(ansi[end])) && end + 1 < ansi.size() ? 2 : 1;
        if (end > i) {
            for (const char32_t code_point : platform::unicode_from_ansi(ansi.substr(i, end - i))) put(code_point);
            i = end;
        }
    }
}

}  // namespace

ProfileEncoding profile_encoding_of(std::string_view first_bytes) {
    if (starts_with(first_bytes, kUtf8Mark)) return ProfileEncoding::utf8;
    if (starts_with(first_bytes, kUtf16leMark)) return ProfileEncoding::utf16le;
    if (starts_with(first_bytes, kUtf16beMark)) return ProfileEncoding::utf16be;
    return ProfileEncoding::ansi;
}

void drop_end_of_file_mark(std::string& text) {
    // The escapes end in hexadecimal digits and no double-byte character in
    // a trail byte of 0x1A: what ends the text here is a Ctrl-Z of the file.
    while (!text.empty() && text.back() == kEndOfFile) text.pop_back();
}

ProfileText decode_profile(std::string bytes) {
    ProfileText result;
    const std::string_view view(bytes);
    result.encoding = profile_encoding_of(view);
    switch (result.encoding) {
        case ProfileEncoding::utf8:
            decode_utf8(view.substr(3), result);
            break;
        case ProfileEncoding::utf16le:
            decode_utf16(view.substr(2), false, result);
            break;
        case ProfileEncoding::utf16be:
            decode_utf16(view.substr(2), true, result);
            break;
        case ProfileEncoding::ansi:
            result.text = std::move(bytes);
            break;
    }
    drop_end_of_file_mark(result.text);
    return result;
}

std::string_view byte_order_mark(ProfileEncoding encoding) {
    switch (encoding) {
        case ProfileEncoding::utf8: return kUtf8Mark;
        case ProfileEncoding::utf16le: return kUtf16leMark;
        case ProfileEncoding::utf16be: return kUtf16beMark;
        case ProfileEncoding::ansi: break;
    }
    return {};
}

void encode_profile(std::string_view text, ProfileEncoding encoding, std::string& out) {
    if (encoding == ProfileEncoding::ansi) {
        out.append(text);
        return;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\0') continue;
        const std::size_t length = escape_length(text, i);
        if (length == 0) continue;  // a zero character without escape: converted as it is
        encode_run(text.substr(start, i - start), encoding, out);
        for (std::size_t k = i + 2; k < i + length; k += 2)
            out.push_back(static_cast<char>(hex_value(text[k]) * 16 + hex_value(text[k + 1])));
        i += length - 1;
        start = i + 1;
    }
    encode_run(text.substr(start), encoding, out);
}

std::string readable_profile_text(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t length = text[i] == '\0' ? escape_length(text, i) : 0;
        if (length == 0) {
            result.push_back(text[i]);
        } else {
            result.push_back('?');
            i += length - 1;
        }
    }
    return result;
}

}  // namespace ini
