// Adding a column: what the new table keeps, and that no failure or crash at
// any file operation ever loses the table.

#include "engine/bytes.h"
#include "engine/engine.h"
#include "engine/index_layout.h"
#include "support/fault_file_system.h"
#include "engine/pxlib_oracle.h"
#include "engine/test_tables.h"
#include "platform/exception.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace {

using engine_test::file_bytes;
using engine_test::read_all;
using Rows = std::vector<std::vector<std::string>>;

void add_description(const std::string& path) {
    engine::Query query;
    query.add_sql_line("alter table '" + path + "' add DESCRIPTION CHAR(255)");
    query.exec_sql();
}

void fill(const std::string& path, int rows) {
    engine::Table table;
    table.set_table_name(path);
    table.open();
    for (int i = 0; i < rows; ++i)
        engine_test::insert_row(table, {"K" + std::to_string(1000 + (i * 7919) % 5000), "name " + std::to_string(i),
                                        "C:\\DATA\\" + std::to_string(i) + ".DAT"});
}

Rows with_empty_column(Rows rows) {
    for (auto& r : rows) r.push_back("");
    return rows;
}

TEST(Restructure, KeepsRowsOrderLevelCodePagePasswordAndKey) {
    for (int level : {3, 4, 5, 7}) {
        testing_support::TempDir dir;
        const std::string path = dir.file("T.DB");
        engine::TableSpec definition = engine_test::path_table_spec(true, level >= 5 ? "TRAX_OPR" : "");
        definition.level = level;
        definition.code_page = level >= 5 ? 1251 : 866;
        engine_test::ScopedPassword password("TRAX_OPR");
        engine::create_table(path, definition);
        fill(path, 120);
        const Rows before = read_all(path);
        const std::string old_header = file_bytes(path).substr(0, 0x78);
        add_description(path);
        EXPECT_EQ(read_all(path), with_empty_column(before)) << "level " << level;
        const std::string new_bytes = file_bytes(path);
        // Level, sort order, encryption, key fields: unchanged.
        for (std::size_t at : {0x04u, 0x23u, 0x25u, 0x26u, 0x27u, 0x28u, 0x29u, 0x39u})
            EXPECT_EQ(new_bytes[at], old_header[at]) << "offset " << at << " level " << level;
        EXPECT_EQ(engine::get_u16(reinterpret_cast<const std::uint8_t*>(new_bytes.data())),
                  200u + 255u);
        EXPECT_EQ(new_bytes[0x05], 2);  // a 455-byte record still fits 2 KB blocks
        if (level >= 5) {
            EXPECT_EQ(new_bytes.substr(0x5C, 4), old_header.substr(0x5C, 4));  // the checksum
            EXPECT_EQ(new_bytes.substr(0x6A, 2), old_header.substr(0x6A, 2));  // the code page
            const auto theirs = engine_test::pxlib_read(path, "TRAX_OPR");
            EXPECT_EQ(theirs.checksum, engine_test::px_passwd_checksum("TRAX_OPR"));
            EXPECT_EQ(theirs.rows.size(), before.size());
            EXPECT_EQ(theirs.fields.back().name, "DESCRIPTION");
        }
    }
}

TEST(Restructure, GrowsTheBlockOnlyWhenTheRecordNoLongerFits) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::TableSpec definition = engine_test::path_table_spec(false);
    definition.block_size_kb = 1;
    engine::create_table(path, definition);
    fill(path, 30);
    add_description(path);
    EXPECT_EQ(file_bytes(path)[0x05], 1);  // 200 + 255 bytes still fit 1 KB
    engine::Query query;
    query.add_sql_line("alter table '" + path + "' add MORE CHAR(255)");
    query.add_sql_line("");
    query.exec_sql();
    query.clear_sql();
    query.add_sql_line("alter table '" + path + "' add EVEN_MORE CHAR(255)");
    query.exec_sql();
    EXPECT_EQ(file_bytes(path)[0x05], 1);
    query.clear_sql();
    query.add_sql_line("alter table '" + path + "' add LAST CHAR(100)");
    query.exec_sql();  // 1065 bytes: needs 2 KB blocks
    EXPECT_EQ(file_bytes(path)[0x05], 2);
    EXPECT_EQ(read_all(path).size(), 30u);
}

TEST(Restructure, KeepsTheMemoFileAndOtherCompanions) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::create_table(path, engine_test::path_table_spec(false));
    fill(path, 5);
    for (const char* name : {"T.MB", "T.TV"}) {
        auto f = platform::os_file_system().open(dir.file(name), platform::OpenMode::create);
        f->write_at(0, name, 4);
    }
    add_description(path);
    for (const char* name : {"T.MB", "T.TV"}) EXPECT_EQ(file_bytes(dir.file(name)), std::string(name, 4));
}

TEST(Restructure, ATableWhoseNameLeavesNoRoomForASuffixIsUpgradedWithoutLeftovers) {
    // 252 characters: the file system holds the name, not the name followed
    // by ".p2i-new" or ".p2i-commit".
    testing_support::TempDir dir;
    const std::string stem(249, 'L');
    const std::string path = dir.file(stem + ".DB");
    engine_test::ScopedPassword session("TRAX_OPR");
    engine::create_table(path, engine_test::path_table_spec(true, "TRAX_OPR"));
    fill(path, 20);
    const Rows before = read_all(path);
    add_description(path);
    EXPECT_EQ(read_all(path), with_empty_column(before));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{stem + ".DB", stem + ".PX"}));
}

// A rewrite of a whole table, and the rows it leaves.
struct Rewrite {
    std::function<void(const std::string&)> run;
    std::function<Rows(const Rows&)> rows_after;
};

const Rewrite kAddColumn{add_description, with_empty_column};
const Rewrite kEmpty{[](const std::string& path) {
                         engine::Table table;
                         table.set_table_name(path);
                         table.empty_table();
                     },
                     [](const Rows&) { return Rows{}; }};
const Rewrite kCreateOver{[](const std::string& path) {
                              engine::create_table(path, engine_test::path_table_spec(true, "TRAX_OPR"));
                          },
                          [](const Rows&) { return Rows{}; }};

void put(const std::string& path, const std::string& bytes) {
    auto f = platform::os_file_system().open(path, platform::OpenMode::create);
    f->write_at(0, bytes.data(), bytes.size());
}

// Runs the rewrite failing at every file operation in turn, with an I/O
// error or a crash (which loses every write and folder entry not flushed,
// or, torn, keeps any part of them), and checks that the table afterwards
// (once opened, which puts back an interrupted change) is exactly the old
// one or the new one, its index in step, and that nothing is left beside it.
void run_faults(const Rewrite& rewrite, bool keyed, bool crash, bool torn = false) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    const std::string password = keyed ? "TRAX_OPR" : "";
    engine_test::ScopedPassword session("TRAX_OPR");
    engine::create_table(path, engine_test::path_table_spec(keyed, password));
    fill(path, 200);
    const Rows old_rows = read_all(path);
    const Rows new_rows = rewrite.rows_after(old_rows);
    const std::string original = file_bytes(path);
    const std::string original_px = file_bytes(dir.file("T.PX"));

    testing_support::FaultFileSystem faults;
    int total = 0;
    {
        // Count the operations of a clean run on a copy.
        testing_support::TempDir copy_dir;
        const std::string copy = copy_dir.file("T.DB");
        put(copy, original);
        if (keyed) put(copy_dir.file("T.PX"), original_px);
        platform::ScopedFileSystem installed(faults);
        faults.fail_at(0);
        rewrite.run(copy);
        total = faults.operations();
    }
    ASSERT_GT(total, 5);
    int old_seen = 0;
    for (int n = 1; n <= total; ++n) {
        put(path, original);
        if (keyed) put(dir.file("T.PX"), original_px);
        bool threw = false;
        {
            platform::ScopedFileSystem installed(faults);
            faults.set_torn_writes(torn, static_cast<unsigned>(n));
            faults.fail_at(n, crash);
            try {
                rewrite.run(path);
            } catch (const Exception&) {
                threw = true;
            }
            if (crash) faults.crash_recover();
            faults.set_torn_writes(false);
        }
        const std::string at = "operation " + std::to_string(n) + (crash ? " (crash)" : "") + (torn ? " (torn)" : "");
        EXPECT_TRUE(threw) << at;
        const Rows after = read_all(path);
        EXPECT_TRUE(after == old_rows || after == new_rows) << at;
        if (after == old_rows) {
            ++old_seen;
            EXPECT_EQ(file_bytes(path), original) << at;
            if (keyed) {
                EXPECT_EQ(file_bytes(dir.file("T.PX")), original_px) << at;
            }
        } else if (keyed) {
            engine_test::expect_index_matches(path, dir.file("T.PX"));
        }
        std::vector<std::string> names = platform::os_file_system().list_directory(dir.path().string());
        std::sort(names.begin(), names.end());
        const std::vector<std::string> expected =
            keyed ? std::vector<std::string>{"T.DB", "T.PX"} : std::vector<std::string>{"T.DB"};
        EXPECT_EQ(names, expected) << at;
        // The table stays usable: the rewrite can still be made.
        if (after == old_rows) rewrite.run(path);
        EXPECT_EQ(read_all(path), new_rows) << at;
    }
    EXPECT_GT(old_seen, 0);
}

TEST(Restructure, SurvivesAnIoErrorAtEveryFileOperation) { run_faults(kAddColumn, false, false); }
TEST(Restructure, SurvivesAnIoErrorAtEveryFileOperationOfAKeyedTable) { run_faults(kAddColumn, true, false); }
TEST(Restructure, SurvivesACrashAtEveryFileOperation) { run_faults(kAddColumn, true, true); }
TEST(Restructure, SurvivesACrashWithTornWritesAtEveryFileOperation) { run_faults(kAddColumn, true, true, true); }
TEST(Restructure, EmptyingAndCreatingOverATableSurviveACrashAtEveryFileOperation) {
    run_faults(kEmpty, true, true, true);
    run_faults(kCreateOver, true, true, true);
}

}  // namespace
