// Tables that other programs share: a lock another program holds refuses a
// change before anything is written; a table keeps its files (links, owner,
// mode) through every change; an interrupted change is put back wherever its
// folder is now; a table that may not be written is refused with nothing
// left behind.

#include "engine/engine.h"
#include "engine/index_layout.h"
#include "engine/test_tables.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/journal.h"
#include "platform/path_parts.h"
#include "support/fault_file_system.h"
#include "support/file_identity.h"
#include "support/files.h"
#include "support/other_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using engine_test::file_bytes;
using engine_test::read_all;
using Rows = std::vector<std::vector<std::string>>;

void fill(const std::string& path, int first, int count) {
    engine::Table table;
    table.set_table_name(path);
    table.open();
    for (int i = first; i < first + count; ++i)
        engine_test::insert_row(table, {"K" + std::to_string(10000 + i), "name " + std::to_string(i), "F.DAT"});
}

void add_description(const std::string& path) {
    engine::Query query;
    query.add_sql_line("alter table '" + path + "' add DESCRIPTION CHAR(255)");
    query.exec_sql();
}

void empty(const std::string& path) {
    engine::Table table;
    table.set_table_name(path);
    table.empty_table();
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ErrorKind failure_kind(const std::function<void()>& action, std::string* message = nullptr) {
    try {
        action();
    } catch (const Exception& e) {
        if (message != nullptr) *message = e.Message();
        return e.Kind();
    }
    return ErrorKind::other;
}

// Locks of other programs are not waited for long here.
class ShortLockWait {
public:
    ShortLockWait() : previous_(platform::set_lock_wait(50)) {}
    ~ShortLockWait() { platform::set_lock_wait(previous_); }

private:
    unsigned previous_;
};

class Sharing : public ::testing::Test {
protected:
    void SetUp() override {
        engine::create_table(db, engine_test::path_table_spec(true));
        fill(db, 0, 60);
    }
    testing_support::TempDir dir;
    const std::string db = dir.file("T.DB"), px = dir.file("T.PX");
};

TEST_F(Sharing, ATableAnotherProgramHoldsIsRefusedBeforeAnythingIsWritten) {
    ShortLockWait short_wait;
    const std::string old_db = file_bytes(db), old_px = file_bytes(px);
    const Rows rows = read_all(db);
    for (const std::string& held : {db, px}) {
        {
            testing_support::ForeignLock other(testing_support::fs_path(held));
            std::string message;
            EXPECT_EQ(failure_kind([&] { fill(db, 100, 1); }, &message), ErrorKind::in_use) << held;
            EXPECT_NE(message.find("Table " + db + " is in use by another program"), std::string::npos) << message;
            EXPECT_EQ(failure_kind([&] { add_description(db); }), ErrorKind::in_use) << held;
            EXPECT_EQ(failure_kind([&] { empty(db); }), ErrorKind::in_use) << held;
            EXPECT_EQ(failure_kind([&] { engine::create_table(db, engine_test::path_table_spec(true)); }),
                      ErrorKind::in_use)
                << held;
        }
        // (Read once the other program let go: on Windows it holds the file
        // for itself alone.)
        EXPECT_EQ(file_bytes(db), old_db) << held;
        EXPECT_EQ(file_bytes(px), old_px) << held;
        EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"T.DB", "T.PX"})) << held;
    }
    {
        // A program that only reads shares the table with readers, not with
        // writers.
        testing_support::ForeignLock reader(testing_support::fs_path(db), false);
        EXPECT_EQ(read_all(db), rows);
        EXPECT_EQ(failure_kind([&] { add_description(db); }), ErrorKind::in_use);
    }
    fill(db, 100, 1);
    EXPECT_EQ(read_all(db).size(), rows.size() + 1);
}

TEST_F(Sharing, ADatasetThatReadsWhatAnotherProgramThenChangesWritesNothing) {
    std::string bytes = file_bytes(db);
    const std::size_t at = bytes.find("name 7");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 5] = '8';
    engine::Table table;
    table.set_table_name(db);
    table.open();
    ASSERT_TRUE(table.locate("MASTER_ID", "K10005", false, true));
    // Another program that takes no locks changes a row while this dataset
    // reads the table (between its shared lock and its exclusive one).
    testing_support::write_bytes(testing_support::fs_path(db), bytes);
    std::string message;
    EXPECT_EQ(failure_kind([&] { table.edit(); }, &message), ErrorKind::in_use);
    EXPECT_NE(message.find("changed by another program"), std::string::npos) << message;
    EXPECT_EQ(file_bytes(db), bytes);
    // The dataset reads the table again and goes on.
    ASSERT_TRUE(table.locate("MASTER_ID", "K10005", false, true));
    table.edit();
    table.field_by_name("MASTER_NAME").set_as_string("edited");
    table.post();
    table.close();
    const Rows rows = read_all(db);
    EXPECT_EQ(rows[5][1], "edited");
    EXPECT_EQ(rows[7][1], "name 8") << "the other program's change stays";
}

TEST_F(Sharing, AChangeWaitsForNoOneInItsOwnProcessButRefusesWhileItReadsTheTable) {
    ShortLockWait short_wait;
    engine::Table reader;
    reader.set_table_name(db);
    reader.open();
    EXPECT_EQ(failure_kind([&] { add_description(db); }), ErrorKind::in_use);
    reader.close();
    add_description(db);
    EXPECT_EQ(read_all(db).front().size(), 4u);
}

TEST_F(Sharing, AFullDiskOrAFailedReadNamesItsReasonAndLeavesTheTableAsItWas) {
    const std::string old_db = file_bytes(db), old_px = file_bytes(px);
    testing_support::FaultFileSystem faults;
    const std::vector<std::function<void()>> changes = {[&] { add_description(db); }, [&] { fill(db, 100, 1); },
                                                        [&] { empty(db); }};
    for (std::size_t i = 0; i < changes.size(); ++i) {
        for (const std::uint64_t space : {std::uint64_t{0}, std::uint64_t{100}, std::uint64_t{5000}}) {
            platform::ScopedFileSystem installed(faults);
            faults.fail_at(0);
            faults.limit_space(space);
            std::string message;
            EXPECT_EQ(failure_kind(changes[i], &message), ErrorKind::no_space) << "change " << i << ", " << space;
            EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
            faults.limit_space(std::nullopt);
            EXPECT_EQ(file_bytes(db), old_db) << "change " << i << ", " << space;
            EXPECT_EQ(file_bytes(px), old_px) << "change " << i << ", " << space;
            EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"T.DB", "T.PX"}));
        }
        // A read that fails while the old content is saved.
        platform::ScopedFileSystem installed(faults);
        faults.fail_at(0);
        faults.fail_read_at(4);
        EXPECT_THROW(changes[i](), Exception) << "change " << i;
        faults.fail_read_at(0);
        EXPECT_EQ(file_bytes(db), old_db) << "change " << i;
        EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"T.DB", "T.PX"}));
    }
}

// Kills a restructure (the system keeps what it wrote, nothing more
// happens) at the first file operation that leaves part of the new table
// in place beside a complete journal.
void kill_during_restructure(const std::string& db) {
    const std::string old_db = file_bytes(db);
    testing_support::FaultFileSystem faults;
    platform::ScopedFileSystem installed(faults);
    for (int n = 1; n < 200; ++n) {
        faults.fail_at(n, true);
        EXPECT_THROW(add_description(db), Exception);
        faults.fail_at(0);
        if (file_bytes(db) != old_db) return;
        testing_support::write_bytes(testing_support::fs_path(db), old_db);
    }
    ADD_FAILURE() << "no operation left the table half written";
}

TEST_F(Sharing, AnInterruptedChangeIsPutBackInTheFolderWhereverItIsNow) {
    engine::create_table(db, engine_test::path_table_spec(false));
    fill(db, 0, 300);
    fs::remove(testing_support::fs_path(px));
    const std::string old_db = file_bytes(db);
    const Rows rows = read_all(db);
    kill_during_restructure(db);
    ASSERT_NE(file_bytes(db), old_db) << "part of the new table is in place";
    ASSERT_EQ(platform::journals_of(platform::directory_part(db), "T.DB").size(), 1u);

    const fs::path moved = dir.path() / "moved", copied = dir.path() / "copied";
    fs::create_directory(moved);
    fs::create_directory(copied);
    for (const auto& name : names_in(dir.path())) {
        if (name == "moved" || name == "copied") continue;
        fs::copy_file(dir.path() / name, copied / name);
        fs::rename(dir.path() / name, moved / name);
    }
    const std::string in_copy = testing_support::utf8(copied / "T.DB");
    const std::string in_moved = testing_support::utf8(moved / "T.DB");
    EXPECT_EQ(read_all(in_copy), rows);
    EXPECT_EQ(file_bytes(in_copy), old_db);
    EXPECT_NE(file_bytes(in_moved), old_db) << "recovering the copy touched nothing else";
    EXPECT_EQ(read_all(in_moved), rows);
    EXPECT_EQ(file_bytes(in_moved), old_db);
    EXPECT_EQ(names_in(moved), std::vector<std::string>{"T.DB"});
    EXPECT_EQ(names_in(copied), std::vector<std::string>{"T.DB"});
    add_description(in_moved);
    EXPECT_EQ(read_all(in_moved).front().size(), 4u);
}

#ifndef _WIN32

using testing_support::identity;
using Identity = testing_support::FileIdentity;

TEST_F(Sharing, ATableBehindASymbolicLinkIsChangedWhereItLies) {
    const fs::path view = dir.path() / "view";
    fs::create_directory(view);
    fs::create_symlink("../T.DB", view / "T.DB");  // the .PX is not linked: it lies beside the real .DB
    const std::string linked = testing_support::utf8(view / "T.DB");
    const Identity before = identity(db);
    const Rows rows = read_all(db);
    add_description(linked);
    fill(linked, 500, 3);
    EXPECT_TRUE(fs::is_symlink(view / "T.DB"));
    EXPECT_EQ(names_in(view), std::vector<std::string>{"T.DB"});
    EXPECT_EQ(identity(db), before);
    const Rows after = read_all(db);
    ASSERT_EQ(after.size(), rows.size() + 3);
    EXPECT_EQ(after.front().size(), 4u) << "the real table has the column";
    engine_test::expect_index_matches(db, px);
}

TEST_F(Sharing, TheTablesFilesKeepTheirLinksOwnerGroupAndMode) {
    const fs::path elsewhere = dir.path() / "elsewhere";
    fs::create_directory(elsewhere);
    fs::create_hard_link(db, elsewhere / "T.DB");
    fs::create_hard_link(px, elsewhere / "T.PX");
    if (testing_support::running_as_root()) {
        for (const std::string& file : {db, px}) {
            ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
            ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
        }
    }
    const Identity db_before = identity(db), px_before = identity(px);
    ASSERT_EQ(db_before.links, 2u);
    const std::vector<std::function<void()>> changes = {
        [&] { add_description(db); }, [&] { fill(db, 1000, 40); }, [&] { empty(db); },
        [&] { engine::create_table(db, engine_test::path_table_spec(true)); }};
    for (std::size_t i = 0; i < changes.size(); ++i) {
        changes[i]();
        EXPECT_EQ(identity(db), db_before) << "change " << i;
        EXPECT_EQ(identity(px), px_before) << "change " << i;
        EXPECT_EQ(file_bytes(testing_support::utf8(elsewhere / "T.DB")), file_bytes(db)) << "change " << i;
    }
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"T.DB", "T.PX", "elsewhere"}));
}

TEST_F(Sharing, ATableThatMayNotBeWrittenIsRefusedWithNothingLeftBehind) {
    if (!testing_support::running_as_root()) GTEST_SKIP() << "sets the scene for another user as root";
    // User 1234 owns the folder and the table; first the table is read-only,
    // then the folder.
    ASSERT_EQ(::chown(dir.path().c_str(), 1234, 1234), 0);
    for (const std::string& file : {db, px}) ASSERT_EQ(::chown(file.c_str(), 1234, 1234), 0);
    const std::string old_db = file_bytes(db), old_px = file_bytes(px);
    auto attempts = [&] {
        int refused = 0;
        for (const auto& change : std::vector<std::function<void()>>{
                 [&] { add_description(db); }, [&] { fill(db, 100, 1); }, [&] { empty(db); }}) {
            const ErrorKind kind = failure_kind(change);
            if (kind == ErrorKind::permission) ++refused;
        }
        return refused;
    };
    for (const std::string& file : {db, px}) ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_EQ(testing_support::run_as(1234, 1234, attempts), 3) << "a read-only table";
    for (const std::string& file : {db, px}) ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    EXPECT_EQ(testing_support::run_as(1234, 1234, attempts), 3) << "a read-only folder";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    EXPECT_EQ(file_bytes(db), old_db);
    EXPECT_EQ(file_bytes(px), old_px);
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"T.DB", "T.PX"}));
}

#endif

}  // namespace
