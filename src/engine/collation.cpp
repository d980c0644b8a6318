#include "engine/collation.h"

#include "engine/language_driver.h"
#include "platform/exception.h"

#include <cstring>

namespace engine {
namespace {

// Letters of the Cyrillic orders: А..Е weigh 91..96, Ё 97, Ж..Я 98..123,
// the same in both code pages; `letter` counts from А (0) to Я (31).
unsigned cyrillic_weight(unsigned letter) { return letter < 6 ? 91 + letter : 92 + letter; }

// "ancyrr", the Cyrillic order of code page 1251, as Borland's table has it
// (Firebird's src/intl/collations/pw1251cyrr.h): letters compare by
// alphabet first (Ё after Е, Latin before Cyrillic), then lower case before
// upper case; other characters keep their own place.
void ancyrr_weights(std::array<std::uint8_t, 256>& primary, std::array<std::uint8_t, 256>& secondary) {
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
            weight = cyrillic_weight((b - 192) % 32);
            second = b < 224 ? 1 : 0;
        }
        primary[b] = static_cast<std::uint8_t>(weight);
        secondary[b] = static_cast<std::uint8_t>(second);
    }
}

// "cyrr", the Cyrillic order of DOS code page 866, as Borland's table has
// it (Firebird's src/intl/collations/pd866cyrr.h): the same alphabet, then
// the pseudo-graphics from 0xB7 up, "[" to "`", "{" to 0x7F, the graphics
// 0xB0..0xB6, and last the bytes from 0xF2 up (Є є Ї ї Ў ў ° ...), which are
// not letters in this order.
void cyrr_weights(std::array<std::uint8_t, 256>& primary, std::array<std::uint8_t, 256>& secondary) {
    for (unsigned b = 0; b < 256; ++b) {
        unsigned weight = b;
        unsigned second = 0;
        if (b >= 'A' && b <= 'Z') {
            second = 1;
        } else if (b >= 'a' && b <= 'z') {
            weight = b - 32;
        } else if (b >= 91 && b <= 96) {
            weight = b + 74;
        } else if (b >= 123 && b <= 127) {
            weight = b + 48;
        } else if (b >= 128 && b <= 159) {  // А..Я
            weight = cyrillic_weight(b - 128);
            second = 1;
        } else if (b >= 160 && b <= 175) {  // а..п
            weight = cyrillic_weight(b - 160);
        } else if (b >= 224 && b <= 239) {  // р..я
            weight = cyrillic_weight(b - 224 + 16);
        } else if (b == 240 || b == 241) {  // Ё ё
            weight = 97;
            second = b == 240 ? 1 : 0;
        } else if (b >= 183) {  // 0xB7..0xDF and 0xF2..0xFF
            weight = b - 59;
        }
        primary[b] = static_cast<std::uint8_t>(weight);
        secondary[b] = static_cast<std::uint8_t>(second);
    }
}

}  // namespace

Collation Collation::for_table(const TableHeader& header) {
    Collation c;
    const LanguageDriver driver = LanguageDriver::identify(header);
    switch (driver.order()) {
    case SortOrder::bytes:
        return c;
    case SortOrder::ancyrr:
        c.byte_order_ = false;
        ancyrr_weights(c.primary_, c.secondary_);
        return c;
    case SortOrder::cyrr:
        c.byte_order_ = false;
        cyrr_weights(c.primary_, c.secondary_);
        return c;
    case SortOrder::other:
        break;
    }
    throw Exception("Table " + header.file + " uses the sort order '" + driver.name() +
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
