// Cases of the platform contract that Windows defines: full paths against the
// current directory, the OEM console, the title, message boxes and the
// atomic replace. Those that the POSIX side promises as well run there too.

#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "support/wine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

using testing_support::ansi;
using testing_support::fs_path;
using testing_support::kSeparator;
using testing_support::TempDir;

using testing_support::CurrentDirectoryGuard;
using platform::OpenMode;

// Both platforms.

TEST(EqualIgnoringCase, IgnoresNothingButCase) {
    // Windows' locale comparison takes the soft hyphen (0xAD) for nothing;
    // two directory names that differ by it are still two directories.
    EXPECT_FALSE(platform::equal_ignoring_case("A\xAD" "B", "AB"));
    EXPECT_FALSE(platform::equal_ignoring_case("A\x01", "A"));
    EXPECT_FALSE(platform::equal_ignoring_case("DATA-1", "DATA1"));
    for (int b = 1; b < 256; ++b) {
        const std::string text(1, static_cast<char>(b));
        EXPECT_TRUE(platform::equal_ignoring_case(text, platform::upper_case(text))) << "byte " << b;
        EXPECT_TRUE(platform::equal_ignoring_case(platform::lower_case(text), text)) << "byte " << b;
    }
    // The same questions again, in turns, as a conversion asks them row
    // after row: the answers stay what they were.
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"tmp", "TMP"}, {"A\xAD" "b", "AB"}, {cp1251("данные"), cp1251("ДАННЫЕ")}, {"w1", "W2"},
        {"Data", "dATA"}, {"A\xAD" "B", "a\xAD" "b"}, {"x", "X"}, {"Path1", "pATH1"}, {"z", "Z"}, {"DATA-1", "data1"}};
    std::vector<bool> first;
    for (const auto& [a, b] : pairs) first.push_back(platform::equal_ignoring_case(a, b));
    EXPECT_EQ(first, (std::vector<bool>{true, false, true, false, true, true, true, true, true, false}));
    for (int round = 0; round < 3; ++round)
        for (std::size_t i = 0; i < pairs.size(); ++i)
            EXPECT_EQ(platform::equal_ignoring_case(pairs[i].first, pairs[i].second), first[i]) << i;
}

TEST(FileExists, WildcardsNameNoFile) {
    TempDir dir;
    std::ofstream(fs_path(dir.file("a.db"))) << "x";
    const std::string base = ansi(testing_support::utf8(dir.path())) + kSeparator;
    EXPECT_TRUE(platform::file_exists(base + "a.db"));
#ifdef _WIN32
    EXPECT_TRUE(platform::file_exists(base + "A.DB")) << "Windows matches names whatever their case";
#endif
    EXPECT_FALSE(platform::file_exists(base + "*.db"));
    EXPECT_FALSE(platform::file_exists(base + "?.db"));
    EXPECT_FALSE(platform::file_exists(base + "a.db" + kSeparator)) << "a file is not a directory";
}

#ifdef _WIN32

TEST(FileExistsWin32, AFileWhoseDateHasNoDosFormStillExists) {
    TempDir dir;
    const std::string path = ansi(dir.file("OLD.DB"));
    std::ofstream(fs_path(dir.file("OLD.DB"))) << "x";
    // 1 January 1975: before the first DOS date.
    SYSTEMTIME old{};
    old.wYear = 1975;
    old.wMonth = 1;
    old.wDay = 1;
    FILETIME time{};
    ASSERT_TRUE(SystemTimeToFileTime(&old, &time));
    {
        const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const BOOL set = SetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
        ASSERT_TRUE(set);
    }
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    FILETIME local{};
    WORD date = 0, clock = 0;
    ASSERT_TRUE(FileTimeToLocalFileTime(&found.ftLastWriteTime, &local));
    EXPECT_FALSE(FileTimeToDosDateTime(&local, &date, &clock)) << "the date has no DOS form";
    EXPECT_TRUE(platform::file_exists(path));
}

TEST(FullPathWin32, ResolvesAgainstTheCurrentDirectory) {
    TempDir dir;
    CurrentDirectoryGuard guard;
    const std::string base = ansi(testing_support::utf8(dir.path()));
    ASSERT_TRUE(platform::set_current_directory(base));
    EXPECT_EQ(platform::current_directory(), base);
    EXPECT_EQ(platform::full_path("x.dat"), base + "\\x.dat");
    EXPECT_EQ(platform::full_path("..\\x.dat"), ansi(testing_support::utf8(dir.path().parent_path())) + "\\x.dat");
    EXPECT_EQ(platform::full_path("DATA/A.DAT"), base + "\\DATA\\A.DAT");
    EXPECT_EQ(platform::full_path("\\x.dat"), base.substr(0, 2) + "\\x.dat") << "the root of the current drive";
    EXPECT_EQ(platform::full_path(cp1251("Путь\\Файл.dat")), base + cp1251("\\Путь\\Файл.dat"));
}

// What the system makes of the path: GetFullPathNameW between the ANSI
// code page and UTF-16.
std::string system_full_path(const std::string& path) {
    std::wstring wide(path.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), static_cast<int>(wide.size()))));
    std::wstring full(32768, L'\0');
    full.resize(GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    std::string out(full.size() * 2, '\0');
    out.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, full.data(), static_cast<int>(full.size()), out.data(),
                                                            static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

TEST(FullPathWin32, RowsInAKnownDirectoryGetWhatTheSystemGives) {
    // Most paths are made from a directory asked about before; names that
    // the system changes or takes for a device, and directories whose full
    // path depends on more than themselves, must still come out as it makes
    // them, asked once or again, before and after the current directory
    // changes behind the program's back.
    TempDir dir;
    CurrentDirectoryGuard guard;
    const std::string base = ansi(testing_support::utf8(dir.path()));
    const std::vector<std::string> paths = {
        "DATA\\A.DAT", "DATA\\B.DAT", "data/c.dat", "DATA\\\\D.DAT", ".\\E.DAT", "..\\F.DAT", "..\\..\\..\\G.DAT",
        "DATA\\..\\H.DAT", "\\I.DAT", "J.DAT", "DATA\\K", "DATA\\", "C:\\X\\", "\\", "..\\", "C:\\", "C:\\X\\L.DAT", "c:/x/M.DAT", "C:\\X\\..\\N.DAT",
        "DATA\\CON", "DATA\\con.txt", "DATA\\LPT1", "DATA\\Com1.dat", "DATA\\NUL.", "DATA\\AUX .DAT",
        "DATA\\CONFIG.SYS", "DATA\\x.dat.", "DATA\\x.dat ", "DATA\\x.dat. .", "DATA\\ x.dat", "DATA\\.",
        "DATA\\..", "DATA\\...", "DATA.\\x.dat", "DATA \\x.dat", "...\\x.dat", "DATA\\.\\x.dat", "C:DATA\\x.dat",
        "\\\\server\\share\\x.dat", "\\\\?\\C:\\X\\..\\y.dat", "\\\\.\\C:\\y.dat", "DATA\\a:b.dat", "DATA\\a*b.dat",
        cp1251("Путь\\Файл.dat"), cp1251("DATA\\Файл.dat"), cp1251("Путь\\x.dat"), "DATA\\" + std::string(300, 'n'),
        std::string(250, 'd') + "\\" + std::string(20, 'n')};
    for (const std::string& place : {base, base + "\\sub", std::string("C:\\")}) {
        if (place == base + "\\sub") {
            ASSERT_TRUE(CreateDirectoryA(place.c_str(), nullptr));
        }
        // The platform's own change of directory, then one it does not see.
        ASSERT_TRUE(platform::set_current_directory(base));
        for (const std::string& path : paths) EXPECT_EQ(platform::full_path(path), system_full_path(path)) << path;
        // A directory asked about last before the change, and first after it.
        EXPECT_EQ(platform::full_path("DATA\\A.DAT"), base + "\\DATA\\A.DAT");
        ASSERT_TRUE(SetCurrentDirectoryA(place.c_str()));
        EXPECT_EQ(platform::full_path("DATA\\A.DAT"), system_full_path("DATA\\A.DAT")) << place;
        for (int round = 0; round < 2; ++round)
            for (const std::string& path : paths)
                EXPECT_EQ(platform::full_path(path), system_full_path(path)) << place << " " << path;
    }
}

TEST(FullPathWin32, AHeldDirectoryStillFollowsThePlatformsOwnChanges) {
    TempDir dir;
    CurrentDirectoryGuard guard;
    const std::string base = ansi(testing_support::utf8(dir.path()));
    const std::string sub = base + "\\sub";
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    ASSERT_TRUE(platform::set_current_directory(base));
    {
        const platform::CurrentDirectoryHeld held;
        EXPECT_EQ(platform::full_path("DATA\\A.DAT"), base + "\\DATA\\A.DAT");
        ASSERT_TRUE(platform::set_current_directory(sub));
        EXPECT_EQ(platform::full_path("DATA\\A.DAT"), sub + "\\DATA\\A.DAT");
        EXPECT_EQ(platform::full_path("B.DAT"), sub + "\\B.DAT");
    }
    // Released: a change the platform does not see counts again.
    ASSERT_TRUE(SetCurrentDirectoryA(base.c_str()));
    EXPECT_EQ(platform::full_path("DATA\\A.DAT"), base + "\\DATA\\A.DAT");
    {
        // A hold that begins after such a change looks at the directory first.
        ASSERT_TRUE(SetCurrentDirectoryA(sub.c_str()));
        const platform::CurrentDirectoryHeld held;
        EXPECT_EQ(platform::full_path("DATA\\A.DAT"), sub + "\\DATA\\A.DAT");
    }
}

TEST(FullPathWin32, ResultsOfAnyLengthAreNeverCut) {
    const std::string fits = "C:\\" + std::string(200, 'n') + "\\" + std::string(56, 'n');
    EXPECT_EQ(platform::full_path(fits), fits);
    EXPECT_EQ(platform::full_path(fits + "n"), fits + "n");
    EXPECT_EQ(platform::full_path(fits + "/x/../y.db."), fits + "\\y.db");
}

// A directory whose path has `length` characters, made in the long form.
std::string long_directory(const TempDir& dir, std::size_t length) {
    std::string path = ansi(testing_support::utf8(dir.path()));
    while (path.size() < length) {
        const std::size_t left = length - path.size();
        std::size_t name = std::min<std::size_t>(100, left - 1);
        if (left - 1 - name == 1) --name;  // no room would be left for a name
        path += "\\" + std::string(name, 'd');
        const std::wstring wide = L"\\\\?\\" + std::wstring(path.begin(), path.end());
        if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            ADD_FAILURE() << "cannot create " << path;
    }
    return path;
}

TEST(LongPathsWin32, FilesPastMaxPathOpenListRenameAndGo) {
    TempDir dir;
    auto& fs = platform::file_system();
    for (const std::size_t length : {250u, 259u, 300u}) {
        const std::string directory = long_directory(dir, length);
        ASSERT_EQ(directory.size(), length);
        const std::string table = directory + "\\PATHS.DB";  // 259, 268 and 309 characters
        fs.open(table, OpenMode::create_new)->write_at(0, "x", 1);
        EXPECT_EQ(fs.kind(table), platform::FileKind::file);
        EXPECT_TRUE(platform::file_exists(table));
        platform::write_file_atomically(directory + "\\PATHS.INI", "[s]\r\n");
        EXPECT_EQ(platform::read_whole_file(directory + "\\PATHS.INI"), "[s]\r\n");
        fs.rename(table, table + ".old");
        std::vector<std::string> names = fs.list_directory(directory);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"PATHS.DB.old", "PATHS.INI"})) << "no temporary left";
        fs.remove(table + ".old");
        EXPECT_EQ(fs.kind(table + ".old"), platform::FileKind::missing);
    }
}

TEST(LongPathsWin32, RelativePathsThatBecomeLongInTheCurrentDirectory) {
    TempDir dir;
    CurrentDirectoryGuard guard;
    const std::string directory = long_directory(dir, 250);
    ASSERT_TRUE(platform::set_current_directory(directory));
    EXPECT_EQ(platform::current_directory(), directory);
    const std::string name = std::string(30, 'r') + ".INI";
    platform::write_file_atomically(name, "relative");
    EXPECT_EQ(platform::read_whole_file(directory + "\\" + name), "relative");
    EXPECT_EQ(platform::full_path(name), directory + "\\" + name);
}

TEST(ConsoleWin32, AnsiTextIsShownInTheOemCodePage) {
    ASSERT_EQ(GetOEMCP(), 866u) << "runs with a Russian locale (ANSI 1251, OEM 866)";
    EXPECT_EQ(platform::to_console(cp1251("Привет, Ёж")), "\x8F\xE0\xA8\xA2\xA5\xE2, \xF0\xA6");
    EXPECT_EQ(platform::to_console("\xB2\xB3"), "??") << "the Ukrainian I has no 866 form";
    EXPECT_EQ(platform::from_command_line(cp1251("Привет")), cp1251("Привет"));
}

TEST(UpperCaseWin32, EveryByteAsTheSystemUpperCasesIt) {
    // ASCII is upper-cased without asking the system; the rest through its
    // table. Both must give what CharUpperBuffA gives, alone or in a text.
    std::string all;
    for (int b = 1; b < 256; ++b) {
        char byte = static_cast<char>(b);
        CharUpperBuffA(&byte, 1);
        EXPECT_EQ(platform::upper_case_byte(static_cast<unsigned char>(b)), static_cast<unsigned char>(byte)) << b;
        EXPECT_EQ(platform::upper_case(std::string(1, static_cast<char>(b))), std::string(1, byte)) << b;
        all += static_cast<char>(b);
    }
    std::string expected = all;
    CharUpperBuffA(expected.data(), static_cast<DWORD>(expected.size()));
    EXPECT_EQ(platform::upper_case(all), expected);
    EXPECT_EQ(platform::upper_case("data\\file.dat"), "DATA\\FILE.DAT");
}

TEST(ConsoleWin32, AsciiIsShownAsItIs) {
    std::string ascii;
    for (int b = 1; b < 0x80; ++b) ascii += static_cast<char>(b);
    std::string oem = ascii;
    CharToOemBuffA(oem.data(), oem.data(), static_cast<DWORD>(oem.size()));
    EXPECT_EQ(oem, ascii);
    EXPECT_EQ(platform::to_console(ascii), ascii);
}

TEST(ConsoleWin32, ALineComesAfterWhatTheStreamHolds) {
    // The line goes out in one write of its own, after the stream's buffer.
    testing::internal::CaptureStdout();
    std::fputs("held ", stdout);
    platform::write_console_line(cp1251("строка"));
    platform::write_console_line("next");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "held " + platform::to_console(cp1251("строка")) + "\nnext\n");
}

TEST(ApplicationTitleWin32, IsTheExecutableNameCutAtItsFirstDot) {
    // This executable is platform_test.exe.
    EXPECT_EQ(platform::application_title(), "platform_test");
}

TEST(ErrorBoxWin32, WithoutADesktopTheMessageGoesToStandardError) {
    if (!testing_support::running_under_wine() || std::getenv("DISPLAY") != nullptr)
        GTEST_SKIP() << "with a desktop the box would wait for a user";
    testing::internal::CaptureStderr();
    platform::show_error_box(cp1251("Ошибка открытия файла C:\\T.DB"), cp1251("Ошибка"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              platform::to_console(cp1251("Ошибка: Ошибка открытия файла C:\\T.DB")) + "\n");
}

TEST(WriteFileAtomicallyWin32, KeepsTheHiddenAttribute) {
    TempDir dir;
    const std::string path = ansi(dir.file("a.ini"));
    std::ofstream(fs_path(dir.file("a.ini"))) << "old";
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    platform::write_file_atomically(path, "new");
    EXPECT_EQ(platform::read_whole_file(path), "new");
    EXPECT_NE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST(WriteFileAtomicallyWin32, ReadOnlyTargetIsRefusedAndKept) {
    TempDir dir;
    const std::string path = ansi(dir.file("a.ini"));
    std::ofstream(fs_path(dir.file("a.ini"))) << "old";
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    try {
        platform::write_file_atomically(path, "new");
        ADD_FAILURE() << "a read-only file must not be replaced";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(platform::read_whole_file(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary left";
}

// The locks are share modes on Windows: the old engine's programs open a
// table for reading and writing, sharing both.
TEST(LocksWin32, ATableAnotherProgramHasOpenIsNotLockedForWritingAndTheLockKeepsOthersOut) {
    TempDir dir;
    const std::string path = ansi(dir.file("t.db"));
    std::ofstream(fs_path(dir.file("t.db"))) << "table";
    auto& fs = platform::file_system();
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    try {
        fs.open(path, platform::OpenMode::read_write, platform::Lock::exclusive);
        ADD_FAILURE() << "another program has the table open";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::in_use);
    }
    EXPECT_NO_THROW(fs.open(path, platform::OpenMode::read, platform::Lock::shared)) << "reading goes on beside it";
    CloseHandle(other);
    {
        auto mine = fs.open(path, platform::OpenMode::read_write, platform::Lock::exclusive);
        HANDLE refused = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(refused, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (refused != INVALID_HANDLE_VALUE) CloseHandle(refused);
    }
}

// Programs that keep their INI file open share reading and writing, not
// deletion: an update lock goes beside them, a second one does not.
TEST(LocksWin32, AnUpdateLockLeavesOtherProgramsTheirHandles) {
    TempDir dir;
    const std::string path = ansi(dir.file("a.ini"));
    std::ofstream(fs_path(dir.file("a.ini"))) << "[s]\r\nk=v\r\n";
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    auto& fs = platform::file_system();
    {
        auto mine = fs.open(path, platform::OpenMode::read_write, platform::Lock::update);
        try {
            fs.open(path, platform::OpenMode::read_write, platform::Lock::update);
            ADD_FAILURE() << "a second updater";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Kind(), ErrorKind::in_use);
        }
        // The lock lies past the data: the other program reads on.
        char buffer[4] = {};
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(other, buffer, 3, &got, nullptr));
        EXPECT_EQ(std::string(buffer, got), "[s]");
    }
    CloseHandle(other);
}

#endif

}  // namespace
