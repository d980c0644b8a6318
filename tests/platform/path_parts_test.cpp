#include "platform/path_parts.h"

#include <gtest/gtest.h>

namespace {

using platform::directory_or_dot;
using platform::extension_part;
using platform::file_name_part;
using platform::replace_extension;

TEST(PathParts, ExtensionIsTakenFromTheFileNameOnly) {
    EXPECT_EQ(extension_part("C:\\A.B\\PATHS"), "");
    EXPECT_EQ(extension_part("C:\\A\\PATHS.DB"), ".DB");
    EXPECT_EQ(extension_part("A.B.DB"), ".DB");
    EXPECT_EQ(extension_part("PATHS."), ".");
    EXPECT_EQ(extension_part("C:.DB"), ".DB");
}

TEST(PathParts, CompanionNamesReplaceOrAppendTheExtension) {
    EXPECT_EQ(replace_extension("C:\\DATA\\T.DB", "PX"), "C:\\DATA\\T.PX");
    EXPECT_EQ(replace_extension("C:\\DATA\\t.db", "px"), "C:\\DATA\\t.px");
    EXPECT_EQ(replace_extension("C:\\A.B\\PATHS", "INI"), "C:\\A.B\\PATHS.INI");
    EXPECT_EQ(replace_extension("A.B.DB", "MB"), "A.B.MB");
    EXPECT_EQ(replace_extension("T.", "PX"), "T.PX");
    EXPECT_EQ(replace_extension("", "INI"), ".INI");
}

TEST(PathParts, BareNamesLieInTheCurrentDirectory) {
    EXPECT_EQ(directory_or_dot("T.DB"), ".");
    EXPECT_EQ(directory_or_dot(""), ".");
    EXPECT_EQ(directory_or_dot("C:T.DB"), "C:");
    EXPECT_EQ(directory_or_dot("\\T.DB"), "\\");
    EXPECT_EQ(file_name_part("C:\\DATA\\"), "");
}

#ifndef _WIN32
TEST(PathParts, PosixSlashesSeparateDirectories) {
    EXPECT_EQ(platform::directory_part("/srv/a.b/T"), "/srv/a.b/");
    EXPECT_EQ(replace_extension("/srv/a.b/T", "PX"), "/srv/a.b/T.PX");
    EXPECT_EQ(platform::drive_part("/srv/T.DB"), "");
}
#endif

}  // namespace
