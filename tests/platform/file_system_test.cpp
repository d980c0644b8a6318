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

TEST(TemporaryPath, FollowsThePathUnlessTheNameWouldBeTooLong) {
    const std::string directory = std::string("dir") + testing_support::kSeparator;
    EXPECT_EQ(platform::temporary_path(directory + "T.DB", ".p2i-new"), directory + "T.DB.p2i-new");

    // Two long names that differ only at their end get two temporaries that
    // fit, the same ones every time.
    const std::string db = directory + std::string(250, 'L') + ".DB";
    const std::string px = directory + std::string(250, 'L') + ".PX";
    const std::string for_db = platform::temporary_path(db, ".p2i-new");
    EXPECT_FALSE(platform::name_too_long(for_db));
    EXPECT_EQ(for_db.substr(0, directory.size() + 200), db.substr(0, directory.size() + 200)) << "beside it";
    EXPECT_EQ(for_db.substr(for_db.size() - 8), ".p2i-new");
    EXPECT_NE(for_db, platform::temporary_path(px, ".p2i-new"));
    EXPECT_EQ(for_db, platform::temporary_path(db, ".p2i-new"));

    // Cyrillic takes two bytes a character in a UTF-8 file system, one in
    // UTF-16: whichever it is, the result fits and is cut at a character.
    const std::string cyrillic = directory + std::string(200, '\xC6');
    const std::string cut = platform::temporary_path(cyrillic, ".~0.tmp");
    EXPECT_FALSE(platform::name_too_long(cut));
    EXPECT_EQ(platform::name_too_long(cyrillic + ".~0.tmp"), cut != cyrillic + ".~0.tmp");
}

TEST(PathLength, NamesAndPathsOverTheLimitsOfTheSystem) {
    const std::string sep = testing_support::kSeparator;
    EXPECT_FALSE(platform::name_too_long(sep + "a" + sep + std::string(255, 'n')));
    EXPECT_TRUE(platform::name_too_long(sep + "a" + sep + std::string(256, 'n')));
    EXPECT_TRUE(platform::name_too_long(std::string(256, 'd') + sep + "x"));
    EXPECT_TRUE(platform::path_too_long(sep + std::string(256, 'n')));
    std::string deep = sep;
    while (deep.size() < 259) deep += "d" + sep;
    deep.resize(259);
#ifdef _WIN32
    // The 259 characters that the A functions of other programs open.
    EXPECT_FALSE(platform::path_too_long(deep));
    EXPECT_TRUE(platform::path_too_long(deep + "x"));
#else
    EXPECT_FALSE(platform::path_too_long(deep + "x"));
    while (deep.size() < 4096) deep += "d" + sep;
    EXPECT_TRUE(platform::path_too_long(deep)) << "PATH_MAX";
#endif
}

}  // namespace
