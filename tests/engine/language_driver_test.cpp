// Language drivers: which label names which driver, what each hands over
// and accepts, the key orders, and where a header keeps its label.

#include "engine/bytes.h"
#include "engine/collation.h"
#include "engine/engine.h"
#include "engine/format.h"
#include "engine/language_driver.h"
#include "engine/test_tables.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using engine::LanguageDriver;
using engine::SortOrder;

std::string byte(unsigned b) { return std::string(1, static_cast<char>(b)); }

TEST(LanguageDriver, LabelsAreIdentifiedByByteIdAndCodePageTogether) {
    struct Case {
        bool level4;
        std::uint8_t sort_order;
        const char* id;
        int code_page;
        const char* name;
        bool recognised, converts;
        SortOrder order;
    };
    // The first eight are labels of tables the old engine wrote.
    const Case cases[] = {
        {true, 0x4C, "DBWINUS0", 1252, "DBWINUS0", true, false, SortOrder::other},
        {true, 0x11, "ANSII850", 1252, "ANSII850", true, false, SortOrder::other},
        {true, 0x8F, "ancyrr", 1251, "ancyrr", true, false, SortOrder::ancyrr},
        {true, 0xC0, "cyrr", 866, "cyrr", true, true, SortOrder::cyrr},
        {true, 0x00, "ascii", 437, "ascii", true, true, SortOrder::bytes},
        {true, 0x00, "ascii", 850, "ascii", true, true, SortOrder::bytes},
        {true, 0x14, "BLROM800", 0, "BLROM800", true, false, SortOrder::other},
        {true, 0x03, "china", 936, "china", true, false, SortOrder::other},
        // The byte alone is ambiguous.
        {true, 0x8F, "polish", 852, "polish", true, true, SortOrder::other},
        // Facts that do not agree name no driver we know: bytes pass through.
        {true, 0x8F, "ancyrr", 852, "ancyrr", false, false, SortOrder::other},
        {true, 0xC0, "cyrr", 1251, "cyrr", false, false, SortOrder::other},
        {true, 0xB7, "ancyrr", 1251, "ancyrr", false, false, SortOrder::other},
        {true, 0x77, "BLXX1RU0", 1251, "BLXX1RU0", false, false, SortOrder::other},
        {true, 0x00, "ascii", 1252, "ascii", false, false, SortOrder::bytes},
        // No id could be read: byte and code page when only one driver has both.
        {true, 0xC0, "", 866, "cyrr", true, true, SortOrder::cyrr},
        {true, 0x4C, "", 1252, "DBWINUS0", true, false, SortOrder::other},
        {true, 0x27, "", 1252, "#39", false, false, SortOrder::other},  // BLLT1ES0 or BLLT1FR0
        // Level 3 and 3.5 headers keep only the byte.
        {false, 0xC0, "", 0, "cyrr", true, true, SortOrder::cyrr},
        {false, 0x8F, "", 0, "ancyrr", true, false, SortOrder::ancyrr},
        {false, 0x00, "", 0, "#0", false, false, SortOrder::bytes},
        {false, 0xB7, "", 0, "#183", false, false, SortOrder::other},
    };
    for (const Case& c : cases) {
        const LanguageDriver d = LanguageDriver::identify(c.level4, c.sort_order, c.id, c.code_page);
        const std::string what = std::string(c.id) + "/" + std::to_string(c.code_page) + "/" +
                                 std::to_string(c.sort_order);
        EXPECT_EQ(d.name(), c.name) << what;
        EXPECT_EQ(d.recognised(), c.recognised) << what;
        EXPECT_EQ(d.converts(), c.converts) << what;
        EXPECT_EQ(d.order(), c.order) << what;
    }
}

TEST(LanguageDriver, AnsiAndUnknownDriversHandEveryByteOverUnchanged) {
    std::string all;
    for (unsigned b = 0; b < 256; ++b) all += byte(b);
    for (const LanguageDriver& d : {LanguageDriver::identify(true, 0x4C, "DBWINUS0", 1252),
                                    LanguageDriver::identify(true, 0x14, "BLROM800", 0),
                                    LanguageDriver::identify(true, 0x03, "china", 936),
                                    LanguageDriver::identify(true, 0x42, "unknown", 1251)}) {
        EXPECT_EQ(d.read(all), all) << d.name();
        EXPECT_EQ(d.write(all, "Column X"), all) << d.name();
    }
}

// Where the platform's own conversion knows a partner for a DOS character,
// the driver has the same (glibc's iconv finds none for 1255's Hebrew
// letters); where the driver knows none, the character reads as something
// visible, never as "?", and the way back is refused.
TEST(LanguageDriver, OemDriversConvertToTheirWindowsPartner) {
    const struct {
        const char* id;
        std::uint8_t sort_order;
        int oem, ansi;
    } drivers[] = {{"cyrr", 0xC0, 866, 1251},   {"ascii", 0x00, 437, 1252}, {"intl850", 0x54, 850, 1252},
                   {"polish", 0x8F, 852, 1250}, {"nordan", 0x82, 865, 1252}, {"iceland", 0xD0, 861, 1252},
                   {"turk", 0xC6, 857, 1254},   {"grcp437", 0x4A, 737, 1253}, {"hebrew", 0x7D, 862, 1255},
                   {"DB860PT0", 0xF8, 860, 1252}, {"DB863CF1", 0xE1, 863, 1252}};
    for (const auto& t : drivers) {
        const LanguageDriver d = LanguageDriver::identify(true, t.sort_order, t.id, t.oem);
        ASSERT_TRUE(d.converts()) << t.id;
        const bool platform_converts = platform::code_page_supported(t.oem) && platform::code_page_supported(t.ansi);
        int partners = 0;
        for (unsigned b = 1; b < 256; ++b) {
            const std::string read = d.read(byte(b));
            ASSERT_EQ(read.size(), 1u);
            if (b != '?') {
                EXPECT_NE(read, "?") << t.id << " byte " << b;
            }
            bool has_partner = true;
            try {
                has_partner = d.write(read, "Column X") == byte(b);
            } catch (const Exception&) {
                has_partner = false;
            }
            const std::string platform = platform_converts ? platform::convert_code_page(byte(b), t.oem, t.ansi) : "?";
            if (platform != "?") {
                EXPECT_TRUE(has_partner) << t.id << " byte " << b;
                EXPECT_EQ(read, platform) << t.id << " byte " << b;
            }
            if (has_partner)
                ++partners;
            else
                EXPECT_LT(static_cast<unsigned char>(read[0]), 0x80) << t.id << " byte " << b;
        }
        EXPECT_GT(partners, 128 + 40) << t.id;
    }
    // Single characters the tables must have right.
    const LanguageDriver cyrr = LanguageDriver::identify(true, 0xC0, "cyrr", 866);
    EXPECT_EQ(cyrr.read("\x8f\xe0\xa8\xa2\xa5\xe2"), cp1251("Привет"));
    EXPECT_EQ(cyrr.read("\xf0\xf1\xf2\xf3\xf4\xf5\xf6\xf7\xfc"), "\xa8\xb8\xaa\xba\xaf\xbf\xa1\xa2\xb9");  // Ё ё Є є Ї ї Ў ў №
    EXPECT_EQ(cyrr.read("\xc4\xcd\xb3\xba\xda\xce\xb0\xdb\xfe"), "--||++###");
    const LanguageDriver ascii = LanguageDriver::identify(true, 0x00, "ascii", 437);
    EXPECT_EQ(ascii.read("Caf\x82 \x9b\xe1\xe0\xe3"), "Caf\xe9 \xa2\xdf" "ap");  // é ¢ ß α π
}

TEST(LanguageDriver, SettingRefusesACharacterTheDosCodePageLacks) {
    const LanguageDriver cyrr = LanguageDriver::identify(true, 0xC0, "cyrr", 866);
    EXPECT_EQ(cyrr.write(cp1251("Привет ") + "\xb9" "1", "Column X"), "\x8f\xe0\xa8\xa2\xa5\xe2 \xfc" "1");
    for (const std::string& lacking : {"\xab" + cp1251("Курсы") + "\xbb", std::string("\x98"), std::string("\x80")}) {
        try {
            cyrr.write(lacking, "Column MASTER_NAME of table T.DB");
            FAIL() << "stored " << lacking;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message().rfind("Column MASTER_NAME of table T.DB cannot hold the character", 0), 0u)
                << e.Message();
            EXPECT_NE(e.Message().find("cyrr"), std::string::npos) << e.Message();
        }
    }
    // A look-alike read from a box drawing goes back as itself.
    EXPECT_EQ(cyrr.write(cyrr.read("\xc5"), "Column X"), "+");
}

// Keys of a table, compared one character wide.
std::string sorted(const engine::TableHeader& header, std::string bytes) {
    const engine::Collation c = engine::Collation::for_table(header);
    std::stable_sort(bytes.begin(), bytes.end(), [&](char a, char b) {
        return c.compare_text(reinterpret_cast<const std::uint8_t*>(&a), reinterpret_cast<const std::uint8_t*>(&b), 1) < 0;
    });
    return bytes;
}

engine::TableHeader header_of(std::uint8_t sort_order, const char* id, int code_page) {
    engine::TableHeader h;
    h.version = 12;
    h.sort_order = sort_order;
    h.sort_order_id = id;
    h.code_page = code_page;
    return h;
}

TEST(Collation, KeyOrdersFollowTheDriversWeightTables) {
    // "cyrr" over 866 (Firebird's pd866cyrr.h): Z, the alphabet with Ё
    // after Е and lower case first, the graphics from 0xB7, "[", "{", the
    // graphics 0xB0..0xB6, then Є є Ї ї Ў ў and the rest of 0xF2..0xFF.
    const std::string cyrr_order = "Z\x80\x85\xf1\xf0\x86\xef\x9f\xb7\xdf[{\xb0\xb6\xf2\xf3\xf4\xf5\xf6\xf7\xfc\xff";
    std::string shuffled = cyrr_order;
    std::reverse(shuffled.begin(), shuffled.end());
    std::rotate(shuffled.begin(), shuffled.begin() + 7, shuffled.end());
    EXPECT_EQ(sorted(header_of(0xC0, "cyrr", 866), shuffled), cyrr_order);
    // "ancyrr" over 1251 (pw1251cyrr.h): the same alphabet, then "[", "{",
    // and the other characters from 0x80 in their own order (Ў ў Є Ї є ї).
    const std::string ancyrr_order = "Z\xc0\xc5\xb8\xa8\xc6\xff\xdf[{\x80\xa1\xa2\xaa\xaf\xb9\xba\xbf";
    shuffled = ancyrr_order;
    std::reverse(shuffled.begin(), shuffled.end());
    EXPECT_EQ(sorted(header_of(0x8F, "ancyrr", 1251), shuffled), ancyrr_order);
    // Byte order for "ascii"; no inserts in orders the engine lacks.
    EXPECT_EQ(sorted(header_of(0x00, "ascii", 437), "\xe0" "a\x80Z"), "Za\x80\xe0");
    EXPECT_THROW(engine::Collation::for_table(header_of(0x4C, "DBWINUS0", 1252)), Exception);
    EXPECT_THROW(engine::Collation::for_table(header_of(0x8F, "polish", 852)), Exception);
}

// The header of a table made by the engine, as bytes, and parsed again.
std::vector<std::uint8_t> header_bytes(const std::string& path) {
    const std::string bytes = engine_test::file_bytes(path);
    return {bytes.begin(), bytes.end()};
}
engine::TableHeader parse(const std::vector<std::uint8_t>& bytes) {
    return engine::parse_table_header("T.DB", bytes, bytes.size());
}

TEST(TableHeader, TheLabelIsReadWhereTheHeaderPointsAndKeptAsStored) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    for (const char* id : {"ascii", "cyrr", "ancyrr", "DBWINUS0"}) {
        engine::TableSpec definition = engine_test::path_table_spec(false);
        definition.language_driver = id;
        definition.code_page = 437;
        engine::create_table(path, definition);
        std::vector<std::uint8_t> h = header_bytes(path);
        // The word at 0x6E points at the id, and the header's used size ends after it.
        const std::size_t at = 0x58 + engine::get_u16(&h[0x6E]);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[at])), id);
        EXPECT_EQ(engine::get_u16(&h[0x51]), at + std::string(id).size() + 1);
        EXPECT_EQ(parse(h).sort_order_id, id);
        // An id elsewhere is found where the word points.
        const char moved[] = "BLROM800";
        std::copy(moved, moved + sizeof moved, h.begin() + 0x700);
        engine::put_u16(&h[0x6E], 0x700 - 0x58);
        EXPECT_EQ(parse(h).sort_order_id, "BLROM800");
        // A word that points at nothing readable: the id after the field numbers.
        for (std::uint32_t word : {0xFFFFu, static_cast<std::uint32_t>(at - 0x58 - 2), 0x7A0u - 0x58}) {
            engine::put_u16(&h[0x6E], word);
            EXPECT_EQ(parse(h).sort_order_id, id) << word;
        }
    }
    // Code page 0 stays 0.
    std::vector<std::uint8_t> h = header_bytes(path);
    engine::put_u16(&h[0x6A], 0);
    EXPECT_EQ(parse(h).code_page, 0);
}

}  // namespace
