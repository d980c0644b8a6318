#include "ini/name_folding.h"

#include "ini/reading_rules.h"
#include "platform/text.h"

namespace ini {

namespace detail {

Folding make_folding() {
    Folding f;
    for (int c = 0; c < 256; ++c) {
        const auto b = static_cast<unsigned char>(c);
        if (c < 0x80) f.upper[b] = platform::upper_case_byte(b);
        f.lead[b] = platform::is_lead_byte(b);
    }
    f.any_lead = platform::code_page_has_lead_bytes();
    f.ascii_plain = true;
    for (int c = 0; c < 0x80; ++c)
        if (f.upper[static_cast<unsigned char>(c)] != (c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c)) f.ascii_plain = false;
    return f;
}

void fill_beyond_ascii() {
    // Once, whichever thread comes first; the others wait for it.
    [[maybe_unused]] static const bool filled = [] {
        Folding& f = folding_table();
        for (int c = 0x80; c < 256; ++c) f.upper[static_cast<std::size_t>(c)] = platform::upper_case_byte(static_cast<unsigned char>(c));
        beyond_ascii_filled.store(true, std::memory_order_release);
        return true;
    }();
}

}  // namespace detail

std::string fold(std::string_view name) {
    const std::string_view trimmed = trim(name);
    std::string folded(trimmed.size(), '\0');
    std::size_t n = 0;
    for_each_folded(trimmed, [&](unsigned char b) { folded[n++] = static_cast<char>(b); });
    return folded;
}

}  // namespace ini
