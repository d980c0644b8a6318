#pragma once
// The program's own messages are Russian text stored in Windows-1251. Source
// files are UTF-8, so message literals go through cp1251(), which turns the
// UTF-8 of ASCII and Cyrillic into Windows-1251 bytes; any other character
// becomes '?'.

#include <string>
#include <string_view>

inline std::string cp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            const unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
            if (cp >= 0x410 && cp <= 0x44F)
                out.push_back(static_cast<char>(cp - 0x410 + 0xC0));
            else if (cp == 0x401)
                out.push_back(static_cast<char>(0xA8));
            else if (cp == 0x451)
                out.push_back(static_cast<char>(0xB8));
            else
                out.push_back('?');
            continue;
        }
        // Longer sequences: skip the continuation bytes.
        while (i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) ++i;
        out.push_back('?');
    }
    return out;
}
