#include "model/dat_file_desc.h"
#include "model/path_text.h"
#include "platform/cp1251.h"
#include "platform/system.h"
#include "platform/text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace {

using testing_support::kSeparator;
using testing_support::TempDir;

class InDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = testing_support::ansi(testing_support::utf8(dir_.path()));
        ASSERT_TRUE(platform::set_current_directory(base_));
    }

    TempDir dir_;
    testing_support::CurrentDirectoryGuard restore_;  // before dir_ goes
    std::string base_;  // the current directory, ANSI
};

TEST_F(InDirectory, AbsoluteFilePath) {
    TDatFileDesc e;
    SetPaths(e, "ab", "C:\\DATA\\TABLES\\ab.dat", "Accounts");
    EXPECT_EQ(e.Id, "AB");
    EXPECT_EQ(e.FileDir, "C:\\DATA\\TABLES\\");
    EXPECT_EQ(e.FileName, "AB.DAT");
    EXPECT_EQ(e.RawPath, "C:\\DATA\\TABLES\\ab.dat");
    EXPECT_EQ(e.Name, "Accounts");
    EXPECT_EQ(e.Priority, -2);
    EXPECT_EQ(FullPath(e), "C:\\DATA\\TABLES\\AB.DAT");
}

TEST_F(InDirectory, PathWithoutExtensionIsADirectory) {
    TDatFileDesc e;
    SetPaths(e, " cd ", "C:\\DATA\\TABLES", "");
    EXPECT_EQ(e.Id, " CD ") << "the identifier is upper-cased, not trimmed";
    EXPECT_EQ(e.FileDir, "C:\\DATA\\TABLES\\");
    EXPECT_EQ(e.FileName, "CD") << "the file name derived from it is trimmed";
}

TEST_F(InDirectory, RelativePathResolvesAgainstTheCurrentDirectory) {
    std::filesystem::create_directories(dir_.path() / "W" / "T");
    ASSERT_TRUE(platform::set_current_directory(base_ + "/W/T"));
    TDatFileDesc e;
    SetPaths(e, "x", "..\\x.dat", cp1251("Имя"));
    EXPECT_EQ(e.FileDir, UpperCase(base_) + kSeparator + "W" + kSeparator);
    EXPECT_EQ(e.FileName, "X.DAT");
    EXPECT_EQ(e.RawPath, "..\\x.dat");
    EXPECT_EQ(e.Name, cp1251("Имя"));
}

TEST_F(InDirectory, EmptyPathGivesTheIdentifiersFullPath) {
    TDatFileDesc e;
    SetPaths(e, cp1251("гх"), "", "Codes");
    EXPECT_EQ(e.Id, cp1251("ГХ"));
    EXPECT_EQ(e.FileDir, "");
    EXPECT_EQ(e.FileName, UpperCase(base_ + kSeparator + cp1251("гх")));
    EXPECT_EQ(FullPath(e), e.FileName);
}

TEST_F(InDirectory, RowsInOneDirectoryShareItsTextTillOneChangesIt) {
    // Rows of many directories, in turns, as a table holds them.
    TDatFileDescList list;
    for (int i = 0; i < 3000; ++i)
        SetPaths(list.Add(), "ID" + std::to_string(i),
                 "C:\\DATA\\PART" + std::to_string(i % 300) + "\\F" + std::to_string(i) + ".DAT", "");
    std::set<const char*> bytes;
    for (int i = 0; i < list.Count(); ++i) {
        const std::string dir = "C:\\DATA\\PART" + std::to_string(i % 300) + "\\";
        ASSERT_EQ(list.Item(i).FileDir, dir) << i;
        bytes.insert(std::as_const(list.Item(i)).FileDir.data());
    }
    EXPECT_EQ(bytes.size(), 2u * 300u) << "each directory is kept once, beside the copy of the row that named it first";

    SetFileDir(list.Item(300), "c:\\other\\");
    EXPECT_EQ(list.Item(300).FileDir, "C:\\OTHER\\");
    EXPECT_EQ(list.Item(600).FileDir, "C:\\DATA\\PART0\\");
    SetPaths(list.Item(900), "ID900", "D:\\ELSEWHERE\\F.DAT", "");
    EXPECT_EQ(list.Item(900).FileDir, "D:\\ELSEWHERE\\");
    EXPECT_EQ(list.Item(1200).FileDir, "C:\\DATA\\PART0\\");
    list.Items.erase(list.Items.begin() + 1500, list.Items.end());
    SetPaths(list.Add(), "ID1", "C:\\DATA\\PART1\\F1.DAT", "");
    EXPECT_EQ(list.Item(1500).FileDir, "C:\\DATA\\PART1\\");
    EXPECT_EQ(list.Item(301).FileDir, "C:\\DATA\\PART1\\");

    // More directories than are kept: each row still has its own.
    TDatFileDescList many;
    for (int i = 0; i < 6000; ++i)
        SetPaths(many.Add(), "ID", "C:\\D" + std::to_string(i % 3000) + "\\F.DAT", "");
    for (int i = 0; i < many.Count(); ++i)
        ASSERT_EQ(many.Item(i).FileDir, "C:\\D" + std::to_string(i % 3000) + "\\") << i;
}

TEST(Setters, OnlyADifferentTextChangesTheField) {
    TDatFileDesc e;
    e.Priority = 5;
    SetFileName(e, "");
    EXPECT_EQ(e.Priority, 5) << "an equal text changes nothing";
    SetFileName(e, "  a.dat ");
    EXPECT_EQ(e.FileName, "A.DAT");
    EXPECT_EQ(e.Priority, -2);
    e.Priority = 5;
    SetFileDir(e, cp1251(" c:\\дир\\ "));
    EXPECT_EQ(e.FileDir, cp1251("C:\\ДИР\\"));
    EXPECT_EQ(e.Priority, -2);
}

TEST(ChangeListExtension, ReplacesOrAppendsTheExtension) {
    TDatFileDescList list;
    list.Name = "T.DB";
    list.Path = "C:\\X\\T.DB";
    ChangeListExtension(list, "INI");
    EXPECT_EQ(list.Name, "T.INI");
    EXPECT_EQ(list.Path, "C:\\X\\T.INI");

    TDatFileDescList bare;
    bare.Name = "T";
    bare.Path = "C:\\X.D\\T";
    ChangeListExtension(bare, "INI");
    EXPECT_EQ(bare.Name, "T.INI");
    EXPECT_EQ(bare.Path, "C:\\X.D\\T.INI");
}

TEST(ChangeListExtension, ThePathLosesItsOwnExtensionNotTheNames) {
    // The name is the argument as typed; the path its expansion, which on
    // Windows turns "/" into "\\" and drops trailing dots.
    const struct {
        const char* name;
        const char* path;
        const char* ini;
    } cases[] = {
        {"v1.2/PATHS", "C:\\W\\v1.2\\PATHS", "C:\\W\\v1.2\\PATHS.INI"},
        {"PATHS.DB.", "C:\\W\\PATHS.DB", "C:\\W\\PATHS.INI"},
        {"..\\D.1\\T", "C:\\D.1\\T", "C:\\D.1\\T.INI"},
        {"T.TABLE", "C:\\W\\T.TABLE", "C:\\W\\T.INI"},
        {"A.B.DB", "C:\\W.X\\A.B.DB", "C:\\W.X\\A.B.INI"},
    };
    for (const auto& c : cases) {
        TDatFileDescList list;
        list.Name = c.name;
        list.Path = c.path;
        ChangeListExtension(list, "INI");
        EXPECT_EQ(list.Path, c.ini) << c.name;
    }
#ifndef _WIN32
    // POSIX keeps "/" and trailing dots: PATHS.DB. is a file of its own.
    TDatFileDescList posix;
    posix.Name = "PATHS.DB.";
    posix.Path = "/w/v1.2/PATHS.DB.";
    ChangeListExtension(posix, "INI");
    EXPECT_EQ(posix.Path, "/w/v1.2/PATHS.DB.INI");
    posix.Path = "/w/v1.2/PATHS";
    ChangeListExtension(posix, "INI");
    EXPECT_EQ(posix.Path, "/w/v1.2/PATHS.INI");
#endif
}

TEST(DescList, OwnsItsEntriesInOrder) {
    TDatFileDescList list;
    EXPECT_EQ(list.Count(), 0);
    list.Add().Id = "A";
    list.Add().Id = "B";
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(0).Id, "A");
    EXPECT_EQ(list.Item(1).Id, "B");
    EXPECT_EQ(list.Item(1).Priority, -2);
}

}  // namespace
