#include "engine/language_driver.h"

#include "engine/code_pages.h"
#include "platform/exception.h"

#include <vector>

namespace engine {
namespace {

constexpr SortOrder kBytes = SortOrder::bytes;
constexpr SortOrder kOther = SortOrder::other;

// The drivers the old engine offers for tables, as leonhad/paradoxdriver's
// doc/Charset.md lists them (sort-order byte, id string, code page), and
// "china" as seen in a table the old engine wrote. Drivers of code pages
// without a conversion table here (867, and the Thai drivers over 437) are
// left out: their bytes pass through like those of any driver we do not
// know.
constexpr DriverInfo kDrivers[] = {
    // ANSI drivers: the table holds Windows text, handed over as it is.
    {"ancyrr", 0x8F, 1251, 0, SortOrder::ancyrr},
    {"DBWINUS0", 0x4C, 1252, 0, kOther},
    {"DBWINWE0", 0x40, 1252, 0, kOther},
    {"DBWINES0", 0x3C, 1252, 0, kOther},
    {"ANSIINTL", 0x62, 1252, 0, kOther},
    {"ANSII850", 0x11, 1252, 0, kOther},
    {"ANSINOR4", 0x4E, 1252, 0, kOther},
    {"ANSISPAN", 0x5D, 1252, 0, kOther},
    {"ANSISWFN", 0x69, 1252, 0, kOther},
    {"anthai", 0x75, 1252, 0, kOther},
    {"BLLT1CA0", 0x13, 1252, 0, kOther},
    {"BLLT1DA0", 0x14, 1252, 0, kOther},
    {"BLLT1DE0", 0x18, 1252, 0, kOther},
    {"BLLT1ES0", 0x27, 1252, 0, kOther},
    {"BLLT1FI0", 0x1E, 1252, 0, kOther},
    {"BLLT1FR0", 0x27, 1252, 0, kOther},
    {"BLLT1IS0", 0x2B, 1252, 0, kOther},
    {"BLLT1IT0", 0x2C, 1252, 0, kOther},
    {"BLLT1NL0", 0x29, 1252, 0, kOther},
    {"BLLT1NO0", 0x2C, 1252, 0, kOther},
    {"BLLT1PT0", 0x33, 1252, 0, kOther},
    {"BLLT1SV0", 0x38, 1252, 0, kOther},
    {"BLLT1UK0", 0x2F, 1252, 0, kOther},
    {"BLLT1US0", 0x37, 1252, 0, kOther},
    {"anczech", 0xDC, 1250, 0, kOther},
    {"anhundc", 0xE1, 1250, 0, kOther},
    {"anpolish", 0x5E, 1250, 0, kOther},
    {"ansislov", 0x6F, 1250, 0, kOther},
    {"angreek1", 0x0E, 1253, 0, kOther},
    {"ANTURK", 0xD5, 1254, 0, kOther},
    {"ANHEBREW", 0x4C, 1255, 0, kOther},
    {"china", 0x03, 936, 0, kOther},
    {"BLROM800", 0x14, 0, 0, kOther},  // code page 0: nothing to convert from
    // OEM drivers: the table holds DOS text, converted to the partner.
    {"cyrr", 0xC0, 866, 1251, SortOrder::cyrr},
    {"db866ru0", 0x81, 866, 1251, kOther},
    {"ascii", 0x00, 437, 1252, kBytes},
    {"ascii", 0x00, 850, 1252, kBytes},
    {"intl", 0xB7, 437, 1252, kOther},
    {"intl850", 0x54, 850, 1252, kOther},
    {"SPANISH", 0x16, 437, 1252, kOther},
    {"swedfin", 0xF0, 437, 1252, kOther},
    {"nordan", 0x82, 865, 1252, kOther},
    {"nordan40", 0xE6, 865, 1252, kOther},
    {"iceland", 0xD0, 861, 1252, kOther},
    {"czech", 0x0D, 852, 1250, kOther},
    {"polish", 0x8F, 852, 1250, kOther},
    {"slovene", 0xFC, 852, 1250, kOther},
    {"hun852dc", 0xB1, 852, 1250, kOther},
    {"grcp437", 0x4A, 737, 1253, kOther},
    {"turk", 0xC6, 857, 1254, kOther},
    {"hebrew", 0x7D, 862, 1255, kOther},
    {"SYDC437", 0xD1, 437, 1252, kOther},
    {"SYDC850", 0xD0, 850, 1252, kOther},
    {"ORAWE850", 0x1B, 850, 1252, kOther},
    {"DB437DE0", 0xDD, 437, 1252, kOther},
    {"DB437ES1", 0xED, 437, 1252, kOther},
    {"DB437FI0", 0xE3, 437, 1252, kOther},
    {"DB437FR0", 0xEC, 437, 1252, kOther},
    {"DB437IT0", 0xF1, 437, 1252, kOther},
    {"DB437NL0", 0xEE, 437, 1252, kOther},
    {"DB437SV0", 0xFD, 437, 1252, kOther},
    {"DB437UK0", 0xF4, 437, 1252, kOther},
    {"DB437US0", 0xFC, 437, 1252, kOther},
    {"DB850CF0", 0xDC, 850, 1252, kOther},
    {"DB850DE0", 0xDC, 850, 1252, kOther},
    {"DB850ES0", 0xEB, 850, 1252, kOther},
    {"DB850FR0", 0xEB, 850, 1252, kOther},
    {"DB850IT1", 0xF1, 850, 1252, kOther},
    {"DB850NL0", 0xED, 850, 1252, kOther},
    {"DB850PT0", 0xF7, 850, 1252, kOther},
    {"DB850SV1", 0xFD, 850, 1252, kOther},
    {"DB850UK0", 0xF3, 850, 1252, kOther},
    {"DB850US0", 0xFB, 850, 1252, kOther},
    {"DB860PT0", 0xF8, 860, 1252, kOther},
    {"DB863CF1", 0xE1, 863, 1252, kOther},
    {"DB865DA0", 0xDE, 865, 1252, kOther},
    {"DB865NO0", 0xF6, 865, 1252, kOther},
    {"DB852CZ0", 0xF2, 852, 1250, kOther},
    {"db852hdc", 0x94, 852, 1250, kOther},
    {"db852po0", 0x74, 852, 1250, kOther},
    {"db852sl0", 0x74, 852, 1250, kOther},
    {"db437gr0", 0x6D, 737, 1253, kOther},
    {"DB857TR0", 0x00, 857, 1254, kOther},
    {"dbHebrew", 0x23, 862, 1255, kOther},
};

const DriverInfo* find_driver(const char* id, int code_page) {
    for (const DriverInfo& d : kDrivers)
        if (std::string_view(d.id) == id && d.code_page == code_page) return &d;
    return nullptr;
}

// A visible stand-in for a DOS character that the Windows code page lacks:
// the lines and blocks of pseudo-graphics, and the Greek and mathematical
// letters of the 437 family, by their shape.
char look_alike(char16_t c) {
    if (c == u'─' || c == u'═') return '-';
    if (c == u'│' || c == u'║') return '|';
    if (c >= 0x2500 && c <= 0x257F) return '+';  // the other box drawings
    if (c >= 0x2580 && c <= 0x25A0) return '#';  // blocks, shades, the black square
    static constexpr struct {
        char16_t from;
        char to;
    } kShapes[] = {
        {u'α', 'a'}, {u'ß', 'B'}, {u'Γ', 'G'}, {u'π', 'p'}, {u'Σ', 'S'}, {u'σ', 's'}, {u'τ', 't'},
        {u'Φ', 'F'}, {u'Θ', 'T'}, {u'Ω', 'O'}, {u'δ', 'd'}, {u'∞', '8'}, {u'φ', 'f'}, {u'ε', 'e'},
        {u'∩', 'n'}, {u'≡', '='}, {u'≥', '>'}, {u'≤', '<'}, {u'⌠', '('}, {u'⌡', ')'}, {u'≈', '~'},
        {u'∙', '.'}, {u'√', 'v'}, {u'ⁿ', 'n'}, {u'₧', 'P'}, {u'⌐', '-'}, {u'‗', '_'}, {u'ı', 'i'},
        {u'÷', ':'}, {u'ª', 'a'}, {u'º', 'o'}, {u'á', 'a'}, {u'í', 'i'}, {u'ó', 'o'}, {u'ú', 'u'},
        {u'ñ', 'n'}, {u'Ñ', 'N'},
    };
    for (const auto& s : kShapes)
        if (s.from == c) return s.to;
    return '#';  // a byte the DOS code page leaves undefined
}

const std::array<unsigned char, 256>& identity_table() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        for (unsigned b = 0; b < 256; ++b) t[b] = static_cast<unsigned char>(b);
        return t;
    }();
    return table;
}

}  // namespace

// Both directions between a DOS code page and its Windows partner. Bytes
// below 0x80 are the same in both.
struct LanguageDriver::Translation {
    int oem = 0, ansi = 0;
    std::array<unsigned char, 256> read{};
    std::array<int, 256> write{};  // -1: no partner

    Translation(int dos_code_page, int windows_code_page) : oem(dos_code_page), ansi(windows_code_page) {
        // Every code page of kDrivers has its table in code_pages.cpp.
        const char16_t* dos = upper_half(oem);
        const char16_t* windows = upper_half(ansi);
        read = identity_table();
        for (unsigned b = 0; b < 256; ++b) write[b] = b < 128 ? static_cast<int>(b) : -1;
        for (unsigned b = 128; b < 256; ++b) {
            const char16_t c = dos[b - 128];
            unsigned partner = 0;
            for (unsigned a = 128; a < 256 && partner == 0 && c != kUndefined; ++a)
                if (windows[a - 128] == c) partner = a;
            if (partner != 0) {
                read[b] = static_cast<unsigned char>(partner);
                write[partner] = static_cast<int>(b);
            } else {
                read[b] = static_cast<unsigned char>(look_alike(c));
            }
        }
    }

    // The tables of the pair, built once for all pairs of kDrivers.
    static const Translation* between(int oem, int ansi) {
        static const std::vector<Translation> all = [] {
            std::vector<Translation> pairs;
            for (const DriverInfo& d : kDrivers) {
                bool known = d.ansi_partner == 0;
                for (const Translation& t : pairs)
                    known = known || (t.oem == d.code_page && t.ansi == d.ansi_partner);
                if (!known) pairs.emplace_back(d.code_page, d.ansi_partner);
            }
            return pairs;
        }();
        for (const Translation& t : all)
            if (t.oem == oem && t.ansi == ansi) return &t;
        return nullptr;
    }
};

LanguageDriver LanguageDriver::identify(const TableHeader& header) {
    return identify(header.level4(), header.sort_order, header.sort_order_id, header.code_page);
}

LanguageDriver LanguageDriver::identify(bool level4, std::uint8_t sort_order, const std::string& id,
                                        int code_page) {
    LanguageDriver d;
    d.sort_order_ = sort_order;
    d.id_ = id;
    d.code_page_ = code_page;
    if (!level4) {
        // Only the byte: the two Cyrillic orders it has always named here.
        if (sort_order == 0x8F) d.info_ = find_driver("ancyrr", 1251);
        if (sort_order == 0xC0) d.info_ = find_driver("cyrr", 866);
    } else if (!id.empty()) {
        const DriverInfo* info = find_driver(id.c_str(), code_page);
        if (info != nullptr && info->sort_order == sort_order) d.info_ = info;
    } else {
        // An id string that could not be read: the byte and the code page,
        // when only one driver has both.
        int matches = 0;
        for (const DriverInfo& info : kDrivers)
            if (info.sort_order == sort_order && info.code_page == code_page) {
                d.info_ = &info;
                ++matches;
            }
        if (matches != 1) d.info_ = nullptr;
    }
    if (d.info_ != nullptr && d.info_->ansi_partner != 0)
        d.translation_ = Translation::between(d.info_->code_page, d.info_->ansi_partner);
    return d;
}

LanguageDriver LanguageDriver::for_new_table(const std::string& id, int code_page) {
    const DriverInfo* info = nullptr;
    if (!id.empty()) {
        info = find_driver(id.c_str(), code_page);
        for (const DriverInfo& d : kDrivers)
            if (info == nullptr && std::string_view(d.id) == id) info = &d;
        if (info == nullptr) throw Exception("Unknown language driver '" + id + "'");
    } else if (code_page == 1251) {
        info = find_driver("ancyrr", 1251);
    } else if (code_page == 866) {
        info = find_driver("cyrr", 866);
    } else if (code_page == 437) {
        info = find_driver("ascii", 437);
    } else {
        return identify(true, 0x00, "ascii", code_page);
    }
    return identify(true, info->sort_order, info->id, info->code_page);
}

std::string LanguageDriver::name() const {
    if (info_ != nullptr) return info_->id;
    if (!id_.empty()) return id_;
    return "#" + std::to_string(sort_order_);
}

SortOrder LanguageDriver::order() const {
    if (info_ != nullptr) return info_->order;
    return sort_order_ == 0x00 ? SortOrder::bytes : SortOrder::other;
}

const std::array<unsigned char, 256>& LanguageDriver::read_table() const {
    return translation_ != nullptr ? translation_->read : identity_table();
}

std::string LanguageDriver::read(std::string_view stored) const {
    std::string text(stored);
    read_in_place(text);
    return text;
}

void LanguageDriver::read_in_place(char* text, std::size_t size) const {
    if (translation_ != nullptr)
        for (std::size_t i = 0; i < size; ++i)
            text[i] = static_cast<char>(translation_->read[static_cast<unsigned char>(text[i])]);
}

std::string LanguageDriver::write(std::string_view text, const std::string& subject) const {
    std::string stored(text);
    if (translation_ == nullptr) return stored;
    for (char& c : stored) {
        const auto byte = static_cast<unsigned char>(c);
        const int partner = translation_->write[byte];
        if (partner < 0) {
            static const char kHex[] = "0123456789ABCDEF";
            throw Exception(subject + " cannot hold the character '" + std::string(1, c) + "' (0x" +
                            kHex[byte >> 4] + kHex[byte & 15] + "): the code page " +
                            std::to_string(info_->code_page) + " of the table's language driver '" +
                            info_->id + "' has no such character");
        }
        c = static_cast<char>(partner);
    }
    return stored;
}

}  // namespace engine
