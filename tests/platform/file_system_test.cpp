#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "support/fault_file_system.h"
#include "support/files.h"
#include "support/other_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    {
        // Each call goes where its offset says, whatever the one before did.
        auto file = fs.open(path, OpenMode::read_write);
        ASSERT_EQ(file->read_at(2, buffer, 4), 4u);
        EXPECT_EQ(std::string(buffer, 4), "adta");
        file->write_at(1, "E", 1);
        ASSERT_EQ(file->read_at(0, buffer, 3), 3u);
        EXPECT_EQ(std::string(buffer, 3), "hEa");
        file->write_at(6, "!", 1);
        EXPECT_EQ(file->read_at(7, buffer, 1), 0u);
        ASSERT_EQ(file->read_at(5, buffer, 2), 2u);
        EXPECT_EQ(std::string(buffer, 2), "a!");
    }
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

namespace {

using platform::Lock;

ErrorKind kind_of_failure(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Kind();
    }
    return ErrorKind::other;
}

TEST(FileLocks, ExcludeEachOtherAsTheirKindsSay) {
    TempDir dir;
    const std::string path = ansi(dir.file("t.db"));
    std::ofstream(fs_path(dir.file("t.db"))) << "x";
    auto& fs = platform::file_system();
    auto open = [&](OpenMode mode, Lock lock) { return fs.open(path, mode, lock); };
    auto refused = [&](OpenMode mode, Lock lock) {
        return kind_of_failure([&] { open(mode, lock); }) == ErrorKind::in_use;
    };
    {
        auto reader = open(OpenMode::read, Lock::shared);
        auto another = open(OpenMode::read, Lock::shared);
        EXPECT_TRUE(refused(OpenMode::read_write, Lock::exclusive));
        EXPECT_NO_THROW(open(OpenMode::read, Lock::none));
    }
    {
        auto writer = open(OpenMode::read_write, Lock::exclusive);
        EXPECT_TRUE(refused(OpenMode::read, Lock::shared));
        EXPECT_TRUE(refused(OpenMode::read_write, Lock::exclusive));
        EXPECT_TRUE(refused(OpenMode::read_write, Lock::update));
    }
    {
        // An update lock leaves plain readers and writers alone (other
        // programs that keep an INI file open), not another updater.
        auto updater = open(OpenMode::read_write, Lock::update);
        EXPECT_NO_THROW(open(OpenMode::read_write, Lock::none));
        EXPECT_TRUE(refused(OpenMode::read_write, Lock::update));
    }
    EXPECT_NO_THROW(open(OpenMode::read_write, Lock::exclusive)) << "every lock went with its file";
    // A write lock needs a file open for writing.
    EXPECT_THROW(open(OpenMode::read, Lock::exclusive), Exception);
}

TEST(FileLocks, ALockAnotherProgramHoldsIsWaitedForThenReportedInUse) {
    TempDir dir;
    const std::string native = dir.file("t.db");
    std::ofstream(fs_path(native)) << "content";
    const unsigned previous = platform::set_lock_wait(100);
    {
        testing_support::ForeignLock other(fs_path(native));
        try {
            platform::open_waiting(ansi(native), OpenMode::read_write, Lock::exclusive);
            ADD_FAILURE() << "the other program's lock must refuse the open";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Kind(), ErrorKind::in_use);
            EXPECT_NE(e.Message().find("in use by another program"), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find(ansi(native)), std::string::npos) << e.Message();
        }
        EXPECT_TRUE(kind_of_failure([&] { platform::open_waiting(ansi(native), OpenMode::read, Lock::shared); }) ==
                    ErrorKind::in_use);
    }
    {
        // Another reader does not stand in the way of a reader.
        testing_support::ForeignLock other(fs_path(native), false);
        EXPECT_NO_THROW(platform::open_waiting(ansi(native), OpenMode::read, Lock::shared));
    }
    EXPECT_NO_THROW(platform::open_waiting(ansi(native), OpenMode::read_write, Lock::exclusive));
    platform::set_lock_wait(previous);
}

TEST(FileSystem, FailuresCarryTheirKindAndTheSystemsReason) {
    TempDir dir;
    auto& fs = platform::file_system();
    try {
        fs.open(ansi(dir.file("missing.db")), OpenMode::read);
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Kind(), ErrorKind::not_found);
        EXPECT_FALSE(e.Reason().empty());
        EXPECT_NE(e.Message().find(e.Reason()), std::string::npos) << e.Message();
    }
#ifndef _WIN32
    // /dev/full fails every write for want of space.
    if (std::filesystem::exists("/dev/full")) {
        auto full = fs.open("/dev/full", OpenMode::read_write);
        try {
            full->write_at(0, "x", 1);
            ADD_FAILURE();
        } catch (const Exception& e) {
            EXPECT_EQ(e.Kind(), ErrorKind::no_space);
            EXPECT_NE(e.Message().find("No space left on device"), std::string::npos) << e.Message();
        }
    }
#endif
}

#ifndef _WIN32

struct stat_info {
    unsigned long inode = 0, links = 0;
    unsigned owner = 0, group = 0, mode = 0;
};

stat_info stat_of(const std::string& native) {
    struct stat info {};
    if (::stat(native.c_str(), &info) != 0) return {};
    return {static_cast<unsigned long>(info.st_ino), static_cast<unsigned long>(info.st_nlink), info.st_uid,
            info.st_gid, info.st_mode & 07777u};
}

TEST(WriteFileAtomically, FollowsASymbolicLinkAndKeepsIt) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "real");
    std::filesystem::create_directory(dir.path() / "view");
    std::ofstream(dir.path() / "real" / "a.ini") << "old";
    std::filesystem::create_symlink("../real/a.ini", dir.path() / "view" / "a.ini");
    std::filesystem::create_symlink("a.ini", dir.path() / "view" / "b.ini");  // a link to a link
    platform::write_file_atomically(ansi(dir.file("view/b.ini")), "new");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "view" / "a.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "view" / "b.ini"));
    EXPECT_EQ(testing_support::read_bytes(dir.path() / "real" / "a.ini"), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "view"), {}), 2);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "real"), {}), 1);
    // A link to a file that does not exist yet creates it where it points.
    std::filesystem::create_symlink("../real/c.ini", dir.path() / "view" / "c.ini");
    platform::write_file_atomically(ansi(dir.file("view/c.ini")), "created");
    EXPECT_EQ(testing_support::read_bytes(dir.path() / "real" / "c.ini"), "created");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "view" / "c.ini"));
}

TEST(WriteFileAtomically, AFileWithSeveralNamesIsWrittenInPlaceUnderItsJournal) {
    TempDir dir;
    const std::string one = dir.file("a.ini"), other = dir.file("b.ini");
    std::ofstream(one) << "old and longer";
    std::filesystem::create_hard_link(one, other);
    const stat_info before = stat_of(one);
    platform::write_file_atomically(ansi(one), "new");
    EXPECT_EQ(testing_support::read_bytes(other), "new");
    EXPECT_EQ(stat_of(one).inode, before.inode);
    EXPECT_EQ(stat_of(one).links, 2u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "nothing left beside it";
}

TEST(WriteFileAtomically, KeepsOwnerGroupAndModeAndCreatesTheTemporaryWithThemFromTheStart) {
    if (!testing_support::running_as_root()) GTEST_SKIP() << "giving files to another user needs root";
    TempDir dir;
    const std::string native = dir.file("a.ini");
    std::ofstream(native) << "old";
    ASSERT_EQ(::chown(native.c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(native.c_str(), 0664), 0);
    // What the temporary is the moment it exists, before a byte is in it.
    class Watch final : public platform::FileSystemWrapper {
    public:
        stat_info created;
        std::unique_ptr<platform::File> create_like(const std::string& path, const platform::FileInfo& like,
                                                    Lock lock) override {
            auto file = target().create_like(path, like, lock);
            created = stat_of(path);
            return file;
        }
    } watch;
    const mode_t umask_before = ::umask(022);
    {
        platform::ScopedFileSystem installed(watch);
        platform::write_file_atomically(ansi(native), "new");
    }
    ::umask(umask_before);
    EXPECT_EQ(watch.created.owner, 1234u);
    EXPECT_EQ(watch.created.group, 5678u);
    EXPECT_EQ(watch.created.mode, 0664u) << "not the umask's 0644";
    const stat_info after = stat_of(native);
    EXPECT_EQ(after.owner, 1234u);
    EXPECT_EQ(after.group, 5678u);
    EXPECT_EQ(after.mode, 0664u);
    EXPECT_EQ(testing_support::read_bytes(native), "new");
}

TEST(WriteFileAtomically, RefusesWhenTheOwnerCannotBeKeptAndLeavesNothing) {
    if (!testing_support::running_as_root()) GTEST_SKIP() << "needs root to set the scene";
    TempDir dir;
    // A folder and a file that user 1234 may write, the file owned by root.
    const std::string native = dir.file("a.ini");
    std::ofstream(native) << "old";
    ASSERT_EQ(::chmod(native.c_str(), 0666), 0);
    ASSERT_EQ(::chown(dir.path().c_str(), 1234, 1234), 0);
    const int outcome = testing_support::run_as(1234, 1234, [&] {
        try {
            platform::write_file_atomically(ansi(native), "new");
            return 1;
        } catch (const Exception& e) {
            if (e.Kind() != ErrorKind::permission) return 2;
            if (e.Message().find("owner") == std::string::npos) return 3;
            return 0;
        }
    });
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(testing_support::read_bytes(native), "old");
    EXPECT_EQ(stat_of(native).owner, 0u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary left";
}

#endif

TEST(WriteFileAtomically, TemporariesHaveNamesOfTheirOwnAndOnlyDeadOnesAreRemoved) {
    TempDir dir;
    const std::string native = dir.file("a.ini");
    std::ofstream(fs_path(native)) << "old";
    // One left by a save that crashed, one of a save under way elsewhere.
    std::ofstream(fs_path(dir.file("a.ini.~dead.tmp"))) << "x";
    std::ofstream(fs_path(dir.file("a.ini.~live.tmp"))) << "y";
    std::ofstream(fs_path(dir.file("a.ini.other.tmp"))) << "z";  // not a temporary of ours
    class Names final : public platform::FileSystemWrapper {
    public:
        std::vector<std::string> created;
        std::unique_ptr<platform::File> create_like(const std::string& path, const platform::FileInfo& like,
                                                    Lock lock) override {
            created.push_back(path);
            return target().create_like(path, like, lock);
        }
    } names;
    {
        testing_support::ForeignLock live(fs_path(dir.file("a.ini.~live.tmp")));
        platform::ScopedFileSystem installed(names);
        platform::write_file_atomically(ansi(native), "one");
        platform::write_file_atomically(ansi(native), "two");
    }
    ASSERT_EQ(names.created.size(), 2u);
    EXPECT_NE(names.created[0], names.created[1]);
    EXPECT_EQ(platform::read_whole_file(ansi(native)), "two");
    EXPECT_FALSE(std::filesystem::exists(fs_path(dir.file("a.ini.~dead.tmp"))));
    EXPECT_TRUE(std::filesystem::exists(fs_path(dir.file("a.ini.~live.tmp"))));
    EXPECT_TRUE(std::filesystem::exists(fs_path(dir.file("a.ini.other.tmp"))));
}

// An in-place save that fails or crashes at any file operation leaves the
// old content or the new, and a later read puts the old one back.
TEST(WriteStreamInPlace, AFailureOrACrashAtAnyFileOperationLeavesTheOldOrTheNewContent) {
    TempDir dir;
    const std::string path = ansi(dir.file("a.ini"));
    const std::string old_content(5000, 'o'), new_content = std::string(3000, 'n');
    auto save = [&] {
        platform::write_stream_in_place(path, [&](const platform::ContentSink& sink) {
            sink(std::string_view(new_content).substr(0, 1000));
            sink(std::string_view(new_content).substr(1000));
        });
    };
    testing_support::FaultFileSystem faults;
    platform::ScopedFileSystem installed(faults);
    testing_support::write_bytes(fs_path(dir.file("a.ini")), old_content);
    faults.fail_at(0);
    save();
    const int total = faults.operations();
    for (const bool crash : {false, true}) {
        for (int n = 1; n <= total; ++n) {
            testing_support::write_bytes(fs_path(dir.file("a.ini")), old_content);
            faults.set_torn_writes(crash, static_cast<unsigned>(n));
            faults.fail_at(n, crash);
            EXPECT_THROW(save(), Exception) << n;
            if (crash) faults.crash_recover();
            faults.fail_at(0);
            platform::recover_file(path);
            const std::string after = testing_support::read_bytes(fs_path(dir.file("a.ini")));
            EXPECT_TRUE(after == old_content || after == new_content) << "operation " << n << (crash ? ", crash" : "");
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
                << "operation " << n << (crash ? ", crash" : "");
        }
    }
    faults.set_torn_writes(false);
}

}  // namespace

namespace {

TEST(RunTemporaryPath, EveryRunHasItsOwnAndEveryRunKnowsThemAllEvenForLongNames) {
    const std::string directory = std::string("dir") + testing_support::kSeparator;
    for (const std::string& name : {std::string("T.DB"), std::string(250, 'L') + ".DB"}) {
        const std::string path = directory + name;
        const std::string one = platform::run_temporary_path(path, ".p2i-journal");
        const std::string two = platform::run_temporary_path(path, ".p2i-journal");
        EXPECT_NE(one, two);
        EXPECT_FALSE(platform::name_too_long(one)) << one;
        for (const std::string& made : {one, two})
            EXPECT_TRUE(platform::is_run_temporary(path, ".p2i-journal", made.substr(directory.size()))) << made;
        // Not another file's, nor another kind of temporary.
        const std::string other = directory + name.substr(0, name.size() - 2) + "PX";
        EXPECT_FALSE(platform::is_run_temporary(other, ".p2i-journal", one.substr(directory.size())));
        EXPECT_FALSE(platform::is_run_temporary(path, ".tmp", one.substr(directory.size())));
        EXPECT_FALSE(platform::is_run_temporary(path, ".p2i-journal", name));
    }
}

}  // namespace

namespace {

#ifndef _WIN32
// Another run that looks for leftovers may remove a temporary in the moment
// between its creation and its lock: the save starts again and succeeds.
TEST(WriteFileAtomically, ATemporaryAnotherRunTookForALeftoverIsMadeAgain) {
    TempDir dir;
    const std::string path = ansi(dir.file("a.ini"));
    std::ofstream(fs_path(dir.file("a.ini"))) << "old";
    class Snatcher final : public platform::FileSystemWrapper {
    public:
        int created = 0;
        std::unique_ptr<platform::File> create_like(const std::string& file, const platform::FileInfo& like,
                                                    platform::Lock lock) override {
            auto made = target().create_like(file, like, lock);
            if (++created == 1) target().remove(file);
            return made;
        }
    } snatcher;
    {
        platform::ScopedFileSystem installed(snatcher);
        platform::write_file_atomically(path, "new");
    }
    EXPECT_EQ(snatcher.created, 2);
    EXPECT_EQ(platform::read_whole_file(path), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

#endif

}  // namespace
