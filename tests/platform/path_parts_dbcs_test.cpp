// Runs with the ANSI code page 932 (Shift-JIS), whose second bytes may have
// the value of "\" (0x5C).

#include "platform/path_parts.h"
#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

// "表" is 0x95 0x5C, "ソ" 0x83 0x5C: their second bytes look like "\".
const std::string kTable = "\x95\x5C";
const std::string kSo = "\x83\x5C";

TEST(PathPartsDoubleByte, TrailBytesNeverEndTheDirectory) {
    ASSERT_EQ(platform::ansi_code_page(), 932);
    const std::string dir = "C:\\" + kTable + "\\";
    EXPECT_EQ(platform::directory_part(dir + kSo + ".DB"), dir);
    EXPECT_EQ(platform::file_name_part(dir + kSo + ".DB"), kSo + ".DB");
    EXPECT_EQ(platform::file_name_part(kTable + ".DB"), kTable + ".DB");
    EXPECT_EQ(platform::directory_or_dot(kTable + ".DB"), ".");
    EXPECT_EQ(platform::file_name_start(kTable), 0u);
}

TEST(PathPartsDoubleByte, CompanionNamesKeepTheWholeStem) {
    EXPECT_EQ(platform::replace_extension(kTable + ".DB", "PX"), kTable + ".PX");
    EXPECT_EQ(platform::replace_extension("A." + kTable, "PX"), "A.PX");
    EXPECT_EQ(platform::extension_part("C:\\A.B\\" + kTable), "");
    EXPECT_EQ(platform::replace_extension("C:\\A.B\\" + kTable, "INI"), "C:\\A.B\\" + kTable + ".INI");
}

TEST(PathPartsDoubleByte, ServerAndShareMayEndInATrailByte) {
    const std::string unc = "\\\\" + kTable + "\\" + kSo + "\\DIR\\F.DAT";
    EXPECT_EQ(platform::drive_part(unc), "\\\\" + kTable + "\\" + kSo);
    EXPECT_EQ(platform::drive_part("\\\\" + kTable), "\\\\" + kTable);
    EXPECT_EQ(platform::drive_part("\\\\SRV\\" + kTable), "\\\\SRV\\" + kTable);
}

}  // namespace
