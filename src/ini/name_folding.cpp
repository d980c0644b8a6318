#include "ini/name_folding.h"

#include "ini/reading_rules.h"
#include "platform/text.h"

namespace ini {

Folding make_folding() {
    Folding f;
    for (int c = 0; c < 256; ++c) {
        const auto b = static_cast<unsigned char>(c);
        f.upper[b] = platform::upper_case_byte(b);
        f.lead[b] = platform::is_lead_byte(b);
    }
    f.any_lead = platform::code_page_has_lead_bytes();
    f.ascii_plain = true;
    for (int c = 0; c < 0x80; ++c)
        if (f.upper[static_cast<unsigned char>(c)] != (c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c)) f.ascii_plain = false;
    return f;
}

std::string fold(std::string_view name) {
    const std::string_view trimmed = trim(name);
    std::string folded(trimmed.size(), '\0');
    std::size_t n = 0;
    for_each_folded(trimmed, [&](unsigned char b) { folded[n++] = static_cast<char>(b); });
    return folded;
}

}  // namespace ini
