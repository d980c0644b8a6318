#include "engine/collation.h"

#include "platform/exception.h"
#include "platform/text.h"

#include <cstring>

namespace engine {
namespace {

// The Cyrillic order of code page 1251 ("ancyrr"): letters compare by
// alphabet first (Ё after Е, Latin before Cyrillic), then lower case before
// upper case; other characters keep their own place.
void cyrillic_1251_weights(std::array<std::uint8_t, 256>& primary,
                           std::array<std::uint8_t, 256>& secondary) {
    for (unsigned b = 0; b < 256; ++b) {
        unsigned weight = b;
        unsigned second = 0;
        if (b >= 'A' && b <= 'Z') {
            second = 1;
        } else if (b >= 'a' && b <= 'z') {
            weight = b - 32;
        } else if (b >= 91 && b <= 96) {
            weight = b + 33;
        } else if (b >= 123 && b <= 167) {
            weight = b + 7;
        } else if (b == 168 || b == 184) {  // Ё ё
            weight = 97;
            second = b == 168 ? 1 : 0;
        } else if (b >= 169 && b <= 183) {
            weight = b + 6;
        } else if (b >= 185 && b <= 191) {
            weight = b + 5;
        } else if (b >= 192) {  // А..Я, а..я
            const unsigned letter = (b - 192) % 32;
            weight = letter < 6 ? 91 + letter : 92 + letter;
            second = b < 224 ? 1 : 0;
        }
        primary[b] = static_cast<std::uint8_t>(weight);
        secondary[b] = static_cast<std::uint8_t>(second);
    }
}

}  // namespace

Collation Collation::for_table(const TableHeader& header) {
    Collation c;
    const std::string& id = header.sort_order_id;
    if (header.sort_order == 0x00 && (id.empty() || id == "ascii")) return c;
    std::array<std::uint8_t, 256> primary{}, secondary{};
    cyrillic_1251_weights(primary, secondary);
    if (header.sort_order == 0x8F && (id.empty() || id == "ancyrr") && header.code_page == 1251) {
        c.byte_order_ = false;
        c.primary_ = primary;
        c.secondary_ = secondary;
        return c;
    }
    if (header.sort_order == 0xC0 && (id.empty() || id == "cyrr") && header.code_page == 866) {
        // The same alphabet over the DOS Cyrillic code page.
        c.byte_order_ = false;
        for (unsigned b = 0; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            const std::string ansi = platform::convert_code_page(one, 866, 1251);
            const auto mapped = static_cast<unsigned char>(ansi.empty() ? '?' : ansi[0]);
            c.primary_[b] = b < 128 ? primary[b] : primary[mapped];
            c.secondary_[b] = b < 128 ? secondary[b] : secondary[mapped];
        }
        return c;
    }
    throw Exception("Table " + header.file + " uses the sort order '" + id +
                    "', in which the engine cannot insert keys");
}

int Collation::compare_text(const std::uint8_t* a, const std::uint8_t* b, std::size_t width) const {
    if (byte_order_) return std::memcmp(a, b, width);
    for (std::size_t i = 0; i < width; ++i)
        if (primary_[a[i]] != primary_[b[i]]) return primary_[a[i]] < primary_[b[i]] ? -1 : 1;
    for (std::size_t i = 0; i < width; ++i)
        if (secondary_[a[i]] != secondary_[b[i]]) return secondary_[a[i]] < secondary_[b[i]] ? -1 : 1;
    return std::memcmp(a, b, width);
}

int Collation::compare_keys(const TableHeader& header, const std::uint8_t* a,
                            const std::uint8_t* b) const {
    for (std::size_t i = 0; i < header.key_fields; ++i) {
        const FieldDef& f = header.fields[i];
        const int c = f.type == kAlpha ? compare_text(a + f.offset, b + f.offset, f.width)
                                       : std::memcmp(a + f.offset, b + f.offset, f.width);
        if (c != 0) return c;
    }
    return 0;
}

}  // namespace engine
