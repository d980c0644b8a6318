// Contract of the text services: the same expectations hold for every
// platform implementation (ANSI code page 1251).

#include "platform/cp1251.h"
#include "platform/text.h"
#include "platform/words.h"

#include "platform/exception.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::string byte(int b) { return std::string(1, static_cast<char>(b)); }

TEST(UpperCase, MapsEveryByteOfCodePage1251AsWindowsDoes) {
    ASSERT_EQ(platform::ansi_code_page(), 1251);
    // The full table: everything not listed stays unchanged.
    std::map<int, int> expected;
    for (int b = 'a'; b <= 'z'; ++b) expected[b] = b - 32;
    for (int b = 0xE0; b <= 0xFF; ++b) expected[b] = b - 32;
    for (auto [from, to] : std::initializer_list<std::pair<int, int>>{
             {0xB8, 0xA8}, {0x83, 0x81}, {0x90, 0x80}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D},
             {0x9E, 0x8E}, {0x9F, 0x8F}, {0xA2, 0xA1}, {0xB3, 0xB2}, {0xB4, 0xA5}, {0xBA, 0xAA},
             {0xBC, 0xA3}, {0xBE, 0xBD}, {0xBF, 0xAF}})
        expected[from] = to;
    for (int b = 0; b < 256; ++b) {
        const int want = expected.count(b) ? expected[b] : b;
        EXPECT_EQ(static_cast<unsigned char>(platform::upper_case(byte(b))[0]), want) << "byte " << b;
    }
}

TEST(UpperCase, TwiceChangesNothingMore) {
    // An entry upper-cases a path once and takes its name part from it
    // as it stands.
    for (int b = 0; b < 256; ++b) {
        const std::string once = platform::upper_case(byte(b));
        EXPECT_EQ(platform::upper_case(once), once) << "byte " << b;
    }
}

TEST(UpperCase, LowerCaseIsTheInverseForCyrillic) {
    const std::string upper = cp1251("ПРИВЕТ, ЁЖ");
    EXPECT_EQ(platform::lower_case(upper), cp1251("привет, ёж"));
    EXPECT_EQ(platform::upper_case(cp1251("привет, ёж")), upper);
    EXPECT_EQ(platform::upper_case(byte(0xB5)), byte(0xB5)) << "micro sign has no partner in 1251";
}

TEST(UpperCase, InPlaceAgreesWithUpperCaseAtEveryAlignment) {
    // Runs of ASCII around the letters' bounds ("`" "{" "@" "["), with and
    // without other bytes among them, at every offset within a word.
    std::string all;
    for (int b = 0; b < 256; ++b) all += byte(b);
    const std::string samples[] = {"`az{@AZ[`az{@AZ[ x", "id00000003/tmp/perf-t/data\\part0\\f0.dat", all,
                                   cp1251("abcdefgЖijklmnop")};
    for (const std::string& sample : samples) {
        for (std::size_t offset = 0; offset < 9; ++offset) {
            std::string text = std::string(offset, 'q') + sample;
            const std::string expected = platform::upper_case(text);
            platform::upper_case_in_place(text);
            EXPECT_EQ(text, expected) << "offset " << offset;
        }
    }
}

TEST(Words, CopyTakesExactlyTheBytesAskedForAtEveryLengthAndOffset) {
    std::string source;
    for (int b = 0; b < 80; ++b) source += byte('A' + b % 50);
    for (std::size_t offset = 0; offset < 9; ++offset) {
        for (std::size_t n = 0; n <= 40; ++n) {
            std::string target(offset + n + 16, '#');
            platform::words::copy(target.data() + offset, source.data() + offset, n);
            EXPECT_EQ(target, std::string(offset, '#') + source.substr(offset, n) + std::string(16, '#'))
                << "offset " << offset << ", " << n << " bytes";
        }
    }
}

TEST(EqualIgnoringCase, FoldsTheWholeCodePage) {
    EXPECT_TRUE(platform::equal_ignoring_case(cp1251("Привет"), cp1251("пРИВЕТ")));
    EXPECT_TRUE(platform::equal_ignoring_case(cp1251("ё"), cp1251("Ё")));
    EXPECT_TRUE(platform::equal_ignoring_case("c:", "C:"));
    EXPECT_TRUE(platform::equal_ignoring_case("", ""));
    EXPECT_FALSE(platform::equal_ignoring_case("AB", "A"));
    EXPECT_FALSE(platform::equal_ignoring_case(cp1251("е"), cp1251("ё")));
}

TEST(LeadBytes, SingleByteCodePageHasNone) {
    for (int b = 0; b < 256; ++b) EXPECT_FALSE(platform::is_lead_byte(static_cast<unsigned char>(b)));
}

TEST(ConvertCodePage, Converts1251To866AndBack) {
    const std::string text = cp1251("Ёлка: АЯая");
    const std::string oem = platform::convert_code_page(text, 1251, 866);
    EXPECT_EQ(oem, "\xF0\xAB\xAA\xA0: \x80\x9F\xA0\xEF");
    EXPECT_EQ(platform::convert_code_page(oem, 866, 0), text);
    // Byte-Ukrainian I has no 866 form.
    EXPECT_EQ(platform::convert_code_page(byte(0xB2), 1251, 866), "?");
}

TEST(ConvertCodePage, UnknownCodePageIsReported) {
    EXPECT_FALSE(platform::code_page_supported(12345));
    EXPECT_TRUE(platform::code_page_supported(866));
    EXPECT_THROW(platform::convert_code_page("x", 12345, 1251), Exception);
}

TEST(Separators, DirectoryAndPathSeparators) {
    EXPECT_TRUE(platform::is_directory_separator('\\'));
    EXPECT_FALSE(platform::is_directory_separator(':'));
    EXPECT_TRUE(platform::is_path_separator(':'));
    EXPECT_FALSE(platform::is_path_separator('.'));
}

}  // namespace
