// Runs with the ANSI code page 932 (Shift-JIS), whose second bytes may have
// the value of "\".

#include "model/path_text.h"
#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

// "表" is 0x95 0x5C in code page 932: its second byte looks like "\".
const std::string kTable = "\x95\x5C";

TEST(DoubleByte, LeadBytesComeFromTheCodePage) {
    ASSERT_EQ(platform::ansi_code_page(), 932);
    for (int b = 0; b < 256; ++b) {
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        EXPECT_EQ(platform::is_lead_byte(static_cast<unsigned char>(b)), lead) << "byte " << b;
    }
}

TEST(DoubleByte, TrailByteIsNeverASeparator) {
    const std::string dir = "C:\\" + kTable + "\\";
    EXPECT_EQ(DirectoryPart(dir + "F.DAT"), dir);
    EXPECT_EQ(FileNamePart("C:\\" + kTable), kTable);
    std::string text = "\\" + kTable + "\\B\\";
    ComponentTable table;
    ASSERT_EQ(SplitDirectory(text, table), 2);
    EXPECT_EQ(std::string(table[0]), kTable);
    EXPECT_EQ(RelativePath(dir, dir + "sub\\F.DAT"), "sub\\F.DAT");
    EXPECT_EQ(RelativePath("C:\\A\\", dir + "F.DAT"), "..\\" + kTable + "\\F.DAT");
}

TEST(DoubleByte, UpperCasingLeavesDoubleByteCharactersAlone) {
    // "ａ" (full-width a) is 0x82 0x81; the trail byte must not be mapped.
    EXPECT_EQ(platform::upper_case("a\x82\x81z"), "A\x82\x81Z");
    EXPECT_EQ(platform::upper_case("\x82" "a"), "\x82" "a");
}

}  // namespace
