// INI files written through the test support's private-profile functions
// (ini::ProfileFile underneath) as the real Windows functions read them,
// and files that other programs hold open.

#include "platform/cp1251.h"
#include "platform/file_system.h"
#include "support/private_profile.h"
#include "support/temp_dir.h"
#include "support/wine.h"
#include "support/win32_handle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

#ifdef _WIN32

using testing_support::ansi;
using testing_support::fs_path;
using testing_support::TempDir;
using testing_support::win32_handle;

TEST(ProfileWin32, AnIniHeldOpenSharingReadAndWriteIsWrittenInPlace) {
    TempDir dir;
    const std::string path = ansi(dir.file("held.ini"));
    std::ofstream(fs_path(dir.file("held.ini")), std::ios::binary) << "[Main]\r\nkeep=1\r\n[NAME]\r\nOLD=x\r\n";
    {
        // As many programs hold their INI files: reading and writing shared,
        // deleting (and so renaming over) not.
        const win32_handle held(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
        ASSERT_TRUE(testing_support::write_private_profile_string("NAME", nullptr, nullptr, path));
        ASSERT_TRUE(testing_support::write_private_profile_string("NAME", "AB", "Accounts", path));
        char value[32] = {};
        EXPECT_EQ(GetPrivateProfileStringA("NAME", "AB", "", value, sizeof value, path.c_str()), 8u);
        EXPECT_STREQ(value, "Accounts");
    }
    EXPECT_EQ(platform::read_whole_file(path), "[Main]\r\nkeep=1\r\n[NAME]\r\nAB=Accounts\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary left";
}

TEST(ProfileWin32, AnIniHeldOpenWithoutSharingWritesIsNotWritten) {
    TempDir dir;
    const std::string path = ansi(dir.file("held.ini"));
    std::ofstream(fs_path(dir.file("held.ini")), std::ios::binary) << "[s]\r\nk=1\r\n";
    {
        const win32_handle held(
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
        EXPECT_FALSE(testing_support::write_private_profile_string("s", "k", "2", path));
        EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "2", path.c_str())) << "nor does Windows write it";
    }
    EXPECT_EQ(platform::read_whole_file(path), "[s]\r\nk=1\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary left";
}

TEST(ProfileWin32, UnicodeInisWeWriteReadBackThroughTheAnsiFunctions) {
    TempDir dir;
    const std::string path = ansi(dir.file("unicode.ini"));
    // "[Main]\r\nkeep=Ключ\r\n" in UTF-16LE and in UTF-8, each with its mark.
    const std::string utf16 = std::string("\xFF\xFE[\0M\0a\0i\0n\0]\0\r\0\n\0k\0e\0e\0p\0=\0", 28) +
                              std::string("\x1A\x04\x3B\x04\x4E\x04\x47\x04\r\0\n\0", 12);
    const std::string utf8 = "\xEF\xBB\xBF[Main]\r\nkeep=\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87\r\n";
    for (const std::string& bytes : {utf16, utf8}) {
        std::ofstream(fs_path(dir.file("unicode.ini")), std::ios::binary) << bytes;
        ASSERT_TRUE(testing_support::write_private_profile_string("NAME", "AB", cp1251("Счета").c_str(), path));
        char value[32] = {};
        EXPECT_EQ(GetPrivateProfileStringA("NAME", "AB", "", value, sizeof value, path.c_str()), 5u);
        EXPECT_EQ(std::string(value), cp1251("Счета"));
        EXPECT_EQ(GetPrivateProfileStringA("Main", "keep", "", value, sizeof value, path.c_str()), 4u);
        EXPECT_EQ(std::string(value), cp1251("Ключ"));
        EXPECT_EQ(platform::read_whole_file(path).substr(0, bytes.size()), bytes) << "mark and old lines kept";
    }
}

TEST(ProfileWin32, CyrillicKeysMatchWhateverTheirCaseAsInWindows) {
    TempDir dir;
    const std::string path = ansi(dir.file("case.ini"));
    ASSERT_TRUE(testing_support::write_private_profile_string(cp1251("РАЗДЕЛ"), cp1251("КЛЮЧ").c_str(),
                                                       "value", path));
    char ours[16] = {};
    EXPECT_EQ(testing_support::get_private_profile_string(cp1251("раздел"), cp1251("ключ").c_str(), "", ours,
                                                   sizeof ours, path),
              5u);
    EXPECT_STREQ(ours, "value");
    if (testing_support::running_under_wine())
        GTEST_SKIP() << "Wine 8's GetPrivateProfileStringA folds ASCII letters only; Windows folds the whole code page";
    char theirs[16] = {};
    EXPECT_EQ(GetPrivateProfileStringA(cp1251("раздел").c_str(), cp1251("ключ").c_str(), "", theirs,
                                       sizeof theirs, path.c_str()),
              5u);
    EXPECT_STREQ(theirs, "value");
}

#endif

}  // namespace
