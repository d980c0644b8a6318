#include "model/path_text.h"
#include "platform/cp1251.h"

#include <gtest/gtest.h>

namespace {

struct Relative {
    const char* base;
    const char* target;
    const char* result;
};

TEST(RelativePath, WorkedResults) {
    const Relative cases[] = {
        {"C:\\A\\B\\X.INI", "C:\\A\\C\\D.DAT", "..\\C\\D.DAT"},
        {"C:\\A\\B\\", "c:\\a\\b\\d.dat", "d.dat"},
        {"C:\\A\\", "C:\\A\\B\\C\\D.DAT", "B\\C\\D.DAT"},
        {"C:\\A\\B\\", "C:\\D.DAT", "..\\..\\D.DAT"},
        {"C:\\A\\B\\", "C:\\A\\", "..\\"},
        {"C:\\", "C:\\D.DAT", "D.DAT"},
        {"C:\\A\\B", "C:\\A\\B\\D.DAT", "B\\D.DAT"},
        {"C:\\AB\\", "C:\\A\\D.DAT", "..\\A\\D.DAT"},
        {"C:\\A\\B\\", "D:\\A\\B\\D.DAT", "D:\\A\\B\\D.DAT"},
        {"\\\\SRV\\SHARE\\DATA\\", "\\\\SRV\\SHARE\\LIB\\F.DAT", "..\\LIB\\F.DAT"},
        {"\\\\SRV\\SHARE\\DATA\\", "C:\\LIB\\F.DAT", "C:\\LIB\\F.DAT"},
        {"C:\\WORK\\", "C:\\WORK\\LIB\\CD.DAT", "LIB\\CD.DAT"},
        {"C:\\A\\B\\", "C:\\A\\B\\", ""},
        // Edge cases: no drive, case-only drive difference, empty texts,
        // doubled separators as empty components.
        {"\\A\\B\\X.INI", "\\A\\C\\Y.DAT", "..\\C\\Y.DAT"},
        {"c:\\A\\", "C:\\a\\F.DAT", "F.DAT"},
        {"C:\\A\\", "d:\\a\\f.dat", "d:\\a\\f.dat"},
        {"", "", ""},
        {"C:\\A\\\\B\\", "C:\\A\\B\\F.DAT", "..\\..\\B\\F.DAT"},
        // The base's own directory, spelled in another case.
        {"\\\\SRV\\SHARE\\X.INI", "\\\\srv\\share\\F.DAT", "F.DAT"},
        {"C:\\A\\B\\", "C:\\A\\BB\\F.DAT", "..\\BB\\F.DAT"},
    };
    for (const auto& c : cases) EXPECT_EQ(RelativePath(c.base, c.target), c.result) << c.base << " -> " << c.target;
}

TEST(RelativePath, ComparesCyrillicComponentsIgnoringCase) {
    EXPECT_EQ(RelativePath(cp1251("C:\\Данные\\"), cp1251("C:\\ДАННЫЕ\\Справка\\a.dat")), cp1251("Справка\\a.dat"));
}

#ifndef _WIN32
TEST(RelativePath, PosixPathsAreWrittenWithBackslashes) {
    EXPECT_EQ(RelativePath("/srv/work/PATHS.INI", "/SRV/WORK/LIB/CD.DAT"), "LIB\\CD.DAT");
    EXPECT_EQ(RelativePath("/srv/work/", "/srv/data/ab.dat"), "..\\data\\ab.dat");
    EXPECT_EQ(RelativePath("/srv/work/", "\\SRV/WORK\\CD.DAT"), "CD.DAT") << "other separators, same directory";
}
#endif

TEST(RelativePath, AnyNumberOfComponents) {
    std::string deep = "C:";
    for (int i = 0; i < 200; ++i) deep += "\\d";
    EXPECT_EQ(RelativePath(deep + "\\", deep + "\\x\\F.DAT"), "x\\F.DAT");
    EXPECT_EQ(RelativePath(deep + "\\", "C:\\F.DAT").size(), 200 * 3 + 5);
}

TEST(PathParts, DriveDirectoryAndFileName) {
    EXPECT_EQ(DrivePart("C:\\A\\B\\X.INI"), "C:");
    EXPECT_EQ(DrivePart("\\\\SRV\\SHARE\\DIR\\F.DAT"), "\\\\SRV\\SHARE");
    EXPECT_EQ(DrivePart("\\\\SRV\\SHARE"), "\\\\SRV\\SHARE");
    EXPECT_EQ(DrivePart("\\\\SRV\\"), "\\\\SRV");
    EXPECT_EQ(DrivePart("X.INI"), "");
    EXPECT_EQ(DirectoryPart("C:\\A\\B\\X.INI"), "C:\\A\\B\\");
    EXPECT_EQ(DirectoryPart("C:X.INI"), "C:");
    EXPECT_EQ(DirectoryPart("X.INI"), "");
    EXPECT_EQ(FileNamePart("\\\\SRV\\SHARE\\DIR\\F.DAT"), "F.DAT");
    EXPECT_EQ(FileNamePart("X.INI"), "X.INI");
    EXPECT_EQ(ExtensionPart("C:\\A.B\\PATHS"), "");
    EXPECT_EQ(ExtensionPart("C:\\A\\PATHS.DB"), ".DB");
}

TEST(DirectoryWithoutDrive, Examples) {
    EXPECT_EQ(DirectoryWithoutDrive("C:\\A\\B\\X.INI"), "\\A\\B\\");
    EXPECT_EQ(DirectoryWithoutDrive("\\\\SRV\\SHARE\\DIR\\F.DAT"), "\\DIR\\");
    EXPECT_EQ(DirectoryWithoutDrive("X.INI"), "");
    EXPECT_EQ(DirectoryWithoutDrive("C:X.INI"), "");
    EXPECT_EQ(DirectoryWithoutDrive("A\\B\\X.INI"), "A\\B\\");
}

TEST(SplitDirectory, CountsComponentsBeforeTheLastSeparator) {
    ComponentTable table;
    std::string text = "\\A\\B\\";
    ASSERT_EQ(SplitDirectory(text, table), 2);
    EXPECT_STREQ(table[0], "A");
    EXPECT_STREQ(table[1], "B");
    std::string root = "\\";
    EXPECT_EQ(SplitDirectory(root, table), 0);
    std::string none = "ABC";
    EXPECT_EQ(SplitDirectory(none, table), -1);
    std::string doubled = "\\A\\\\B\\";
    ASSERT_EQ(SplitDirectory(doubled, table), 3);
    EXPECT_STREQ(table[1], "");
}

TEST(TrimAndUpperCase, BlanksAndCyrillic) {
    EXPECT_EQ(Trim(" \t ab c\r\n"), "ab c");
    EXPECT_EQ(Trim("  "), "");
    EXPECT_EQ(UpperCase(cp1251("путь\\ёж.dat")), cp1251("ПУТЬ\\ЁЖ.DAT"));
}

}  // namespace
