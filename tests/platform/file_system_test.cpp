#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

using platform::FileKind;
using platform::OpenMode;
using testing_support::ansi;
using testing_support::fs_path;
using testing_support::TempDir;

TEST(FileSystem, ReadsWritesAndReportsKinds) {
    TempDir dir;
    auto& fs = platform::file_system();
    const std::string path = ansi(dir.file("Файл.bin"));
    {
        auto file = fs.open(path, OpenMode::create_new);
        file->write_at(4, "tail", 4);
        file->write_at(0, "head", 4);
        file->sync();
        EXPECT_EQ(file->size(), 8u);
        file->truncate(6);
    }
    EXPECT_EQ(platform::read_whole_file(path), "headta");
    EXPECT_EQ(fs.kind(path), FileKind::file);
    EXPECT_EQ(fs.kind(ansi(dir.path().string())), FileKind::directory);
    EXPECT_EQ(fs.kind(path + ".none"), FileKind::missing);
    EXPECT_THROW(fs.open(path, OpenMode::create_new), Exception);
    char buffer[16];
    EXPECT_EQ(fs.open(path, OpenMode::read)->read_at(4, buffer, sizeof buffer), 2u);
    const auto names = fs.list_directory(ansi(dir.path().string()));
    EXPECT_NE(std::find(names.begin(), names.end(), ansi("Файл.bin")), names.end());
}

TEST(FileSystem, FailuresNameTheFile) {
    TempDir dir;
    const std::string missing = ansi(dir.file("missing.db"));
    try {
        platform::file_system().open(missing, OpenMode::read);
        FAIL() << "opening a missing file must throw";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(missing), std::string::npos) << e.Message();
    }
    EXPECT_THROW(platform::file_system().open(ansi(dir.path().string()), OpenMode::read), Exception);
    EXPECT_NO_THROW(platform::file_system().remove(missing));
}

TEST(WriteFileAtomically, ReplacesContentAndKeepsPermissions) {
    TempDir dir;
    const std::string native = dir.file("a.ini");
    std::ofstream(fs_path(native)) << "old";
    std::filesystem::permissions(fs_path(native), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                             std::filesystem::perms::group_read);
    platform::write_file_atomically(ansi(native), "new content");
    EXPECT_EQ(platform::read_whole_file(ansi(native)), "new content");
#ifndef _WIN32
    // Windows has no permission bits: a new file takes the directory's ACL.
    EXPECT_EQ(std::filesystem::status(fs_path(native)).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
#endif
    // Nothing but the file itself is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(WriteFileAtomically, FailureLeavesNoTrace) {
    TempDir dir;
    EXPECT_THROW(platform::write_file_atomically(ansi(dir.file("no/such/dir.ini")), "x"), Exception);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}

}  // namespace
