// Contract of the process services. Windows-form paths give the same full
// paths on every platform; the POSIX cases are marked.

#include "platform/cp1251.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "platform/text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace {

using testing_support::TempDir;

using testing_support::CurrentDirectoryGuard;

using testing_support::ansi;
using testing_support::fs_path;

TEST(FullPath, NormalisesWindowsFormPathsAsWindowsDoes) {
    EXPECT_EQ(platform::full_path(""), "");
    EXPECT_EQ(platform::full_path("c:/dir/file.dat"), "c:\\dir\\file.dat");
    EXPECT_EQ(platform::full_path("C:x.dat"), "C:\\x.dat");
    EXPECT_EQ(platform::full_path("C:\\dir\\"), "C:\\dir\\");
    EXPECT_EQ(platform::full_path("C:\\a\\..\\..\\..\\x.dat"), "C:\\x.dat");
    EXPECT_EQ(platform::full_path("C:\\a\\.\\b\\..\\x.dat. "), "C:\\a\\x.dat");
    EXPECT_EQ(platform::full_path("C:\\"), "C:\\");
    EXPECT_EQ(platform::full_path("\\\\SRV\\SHARE\\DIR\\..\\F.DAT"), "\\\\SRV\\SHARE\\F.DAT");
    // Names like "..x" are names, not steps up; "\\" twice is one separator.
    EXPECT_EQ(platform::full_path("C:\\..x\\.y\\x.dat"), "C:\\..x\\.y\\x.dat");
    EXPECT_EQ(platform::full_path("C:\\a\\\\b\\x.dat"), "C:\\a\\b\\x.dat");
    EXPECT_EQ(platform::full_path("C:\\\\a\\x.dat"), "C:\\a\\x.dat");
    EXPECT_EQ(platform::full_path("C:\\a\\b\\.."), "C:\\a");
    EXPECT_EQ(platform::full_path("C:\\a\\x.dat "), "C:\\a\\x.dat");
}

#ifndef _WIN32
TEST(FullPathPosix, JoinsRelativePathsToTheCurrentDirectory) {
    TempDir dir;
    CurrentDirectoryGuard guard;
    const std::string base = ansi(dir.path().string());
    ASSERT_TRUE(platform::set_current_directory(base));
    EXPECT_EQ(platform::current_directory(), base);
    EXPECT_EQ(platform::full_path("x.dat"), base + "/x.dat");
    EXPECT_EQ(platform::full_path("..\\x.dat"), ansi(dir.path().parent_path().string()) + "/x.dat");
    EXPECT_EQ(platform::full_path("DATA\\A.DAT"), base + "/DATA/A.DAT");
    EXPECT_EQ(platform::full_path("sub/"), base + "/sub/");
    EXPECT_EQ(platform::full_path("/a/../../b//c/./d"), "/b/c/d");
    EXPECT_EQ(platform::full_path("/"), "/");
    // Only the segments "." and ".." and empty ones are not kept as written.
    EXPECT_EQ(platform::full_path(".x\\..y\\z."), base + "/.x/..y/z.");
    EXPECT_EQ(platform::full_path("a\\\\b/./c.dat"), base + "/a/b/c.dat");
    EXPECT_EQ(platform::full_path("a\\..\\"), base + "/");
    // Separators of either form at every place within and across eight-byte
    // words, each segment kept or dropped as written.
    for (std::size_t at = 1; at < 19; ++at) {
        for (const char form : {'\\', '/'}) {
            std::string path = "abcdefghijklmnopqrstu.dat";
            path[at] = form;
            std::string expected = base + "/" + path;
            expected[base.size() + 1 + at] = '/';
            EXPECT_EQ(platform::full_path(path), expected) << path;
            path[at + 1] = '\\';
            path[at + 2] = '.';
            path[at + 3] = '/';  // "\\." and "/" drop the empty and "." segments
            EXPECT_EQ(platform::full_path(path), base + "/" + path.substr(0, at) + "/" + path.substr(at + 4)) << path;
        }
    }
    EXPECT_EQ(platform::full_path("a\\.."), base);
    EXPECT_EQ(platform::full_path("."), base);
    // ".." climbs out of the current directory, never above the root.
    std::filesystem::create_directories(dir.path() / "p" / "q");
    ASSERT_TRUE(platform::set_current_directory(base + "/p/q"));
    EXPECT_EQ(platform::full_path("..\\..\\x.dat"), base + "/x.dat");
    EXPECT_EQ(platform::full_path("..\\"), base + "/p/");
    EXPECT_EQ(platform::full_path(".."), base + "/p");
    EXPECT_EQ(platform::full_path("../a/./b"), base + "/p/a/b");
    std::string up;
    for (int i = 0; i < 40; ++i) up += "..\\";
    EXPECT_EQ(platform::full_path(up + "x.dat"), "/x.dat");
    // No 259-character limit.
    const std::string longName(400, 'n');
    EXPECT_EQ(platform::full_path("/" + longName), "/" + longName);
}

TEST(ConsolePosix, AnsiTextIsShownInTheLocaleCharset) {
    // The test runs under a UTF-8 (or C) locale, both shown as UTF-8.
    EXPECT_EQ(platform::to_console(cp1251("Привет")), "Привет");
    EXPECT_EQ(platform::from_command_line("Привет"), cp1251("Привет"));
    EXPECT_EQ(platform::to_console("\x98"), "?") << "a byte 1251 does not define";
    EXPECT_EQ(platform::from_command_line("日本"), "??");
}

// The kernel's count of the process's anonymous memory in 2 MB pages, in
// kB; -1 when it does not tell.
[[maybe_unused]] long anon_huge_pages_kb() {
    std::ifstream in("/proc/self/smaps_rollup");
    std::string word;
    while (in >> word) {
        if (word == "AnonHugePages:") {
            long kb = -1;
            in >> kb;
            return kb;
        }
    }
    return -1;
}

TEST(ExpectMemoryPosix, TheRowsThatFollowLieInLargePagesUnchanged) {
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "glibc's own heap only";
#else
    std::ifstream mode_file("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string mode;
    std::getline(mode_file, mode);
    if (mode.find("[madvise]") == std::string::npos && mode.find("[always]") == std::string::npos)
        GTEST_SKIP() << "transparent huge pages are off: " << mode;
    const long before = anon_huge_pages_kb();
    if (before < 0) GTEST_SKIP() << "no AnonHugePages in /proc/self/smaps_rollup";

    platform::expect_memory(std::size_t{64} << 20);
    platform::expect_memory(std::size_t{64} << 20);  // once per process: the second does nothing
    // Rows as a table gives them: many small blocks, each written once.
    std::vector<std::unique_ptr<char[]>> rows;
    constexpr int kRows = 160000;
    constexpr std::size_t kSize = 200;
    rows.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        rows.push_back(std::make_unique<char[]>(kSize));
        std::memset(rows.back().get(), static_cast<char>(i), kSize);
    }
    const long after = anon_huge_pages_kb();
    for (int i = 0; i < kRows; i += 997) {
        ASSERT_EQ(rows[static_cast<std::size_t>(i)][0], static_cast<char>(i));
        ASSERT_EQ(rows[static_cast<std::size_t>(i)][kSize - 1], static_cast<char>(i));
    }
    EXPECT_GE(after - before, 8 * 1024) << "of some 31 MB of rows, at least four 2 MB pages";
#endif
}

// The process's address space in use, in bytes; 0 when unknown.
[[maybe_unused]] std::size_t address_space_in_use() {
    std::ifstream in("/proc/self/status");
    std::string word;
    while (in >> word) {
        if (word == "VmSize:") {
            std::size_t kb = 0;
            in >> kb;
            return kb * 1024;
        }
    }
    return 0;
}

TEST(ExpectMemoryPosix, AReservationTheSystemRefusesCostsNothingButItself) {
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "glibc's own heap only";
#else
    if (address_space_in_use() == 0) GTEST_SKIP() << "no VmSize in /proc/self/status";
    // In a process of its own (the hint is taken once per process): room
    // for 48 MB more, 256 MB expected, then 16 MB of small blocks, which
    // must all be had.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto run = [] {
        rlimit limit{};
        if (getrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
        limit.rlim_cur = std::min<rlim_t>(address_space_in_use() + (std::size_t{48} << 20), limit.rlim_max);
        if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
        platform::expect_memory(std::size_t{256} << 20);
        for (int i = 0; i < (16 << 20) / 64; ++i) {
            void* volatile block = std::malloc(64);
            if (block == nullptr) std::_Exit(1);
        }
        std::_Exit(0);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
#endif
}

TEST(ApplicationTitlePosix, IsTheExecutableNameCutAtItsFirstDot) {
    const std::string title = platform::application_title();
    ASSERT_FALSE(title.empty());
    EXPECT_EQ(title.find('.'), std::string::npos);
    EXPECT_EQ(title.find('/'), std::string::npos);
    EXPECT_EQ(title.substr(1), platform::lower_case(title.substr(1)));
}
#endif

TEST(FileExists, CountsRegularFilesOnlyWhateverTheirDate) {
    TempDir dir;
    const std::string native = dir.file("Таблица.DB");
    std::ofstream(fs_path(native)) << "x";
    const std::string file = ansi(native);
    EXPECT_TRUE(platform::file_exists(file));
    // A file dated 1970 still exists.
    std::filesystem::last_write_time(fs_path(native), std::filesystem::file_time_type{});
    EXPECT_TRUE(platform::file_exists(file));
    EXPECT_FALSE(platform::file_exists(ansi(dir.path().string())));
    EXPECT_FALSE(platform::file_exists(file + "x"));
    EXPECT_FALSE(platform::file_exists(""));
}

TEST(CurrentDirectory, FailsForMissingDirectoriesAndFiles) {
    TempDir dir;
    CurrentDirectoryGuard guard;
    std::ofstream(fs_path(dir.file("f"))) << "x";
    EXPECT_FALSE(platform::set_current_directory(ansi(dir.file("missing"))));
    EXPECT_FALSE(platform::set_current_directory(ansi(dir.file("f"))));
    EXPECT_FALSE(platform::set_current_directory(""));
    EXPECT_TRUE(platform::set_current_directory(ansi(dir.path().string())));
}

TEST(ErrorBox, GoesToTheInstalledHandler) {
    std::string seen;
    auto previous = platform::set_error_box_handler(
        [&](std::string_view text, std::string_view caption) { seen = std::string(caption) + "|" + std::string(text); });
    platform::show_error_box("text", "caption");
    platform::set_error_box_handler(previous);
    EXPECT_EQ(seen, "caption|text");
}

}  // namespace
