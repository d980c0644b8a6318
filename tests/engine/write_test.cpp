// Writing rows: key order with the table's collation, edits, locate, the
// primary index kept consistent, emptying, and refusals.

#include "engine/bytes.h"
#include "engine/cipher.h"
#include "engine/engine.h"
#include "engine/index_layout.h"
#include "support/fault_file_system.h"
#include "support/files.h"
#include "engine/pxlib_oracle.h"
#include "engine/test_tables.h"
#include "platform/exception.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

namespace {

using engine_test::ansi;
using engine_test::file_bytes;
using engine_test::read_all;
using engine_test::expect_index_matches;

std::vector<std::string> column(const std::string& path, std::size_t index) {
    std::vector<std::string> values;
    for (const auto& row : read_all(path)) values.push_back(row[index]);
    return values;
}

TEST(Write, KeyedInsertsFollowCyrillicOrderAndKeepTheIndex) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::TableSpec definition = engine_test::path_table_spec(true);
    definition.block_size_kb = 1;
    engine::create_table(path, definition);
    std::vector<std::string> keys;
    std::mt19937 random(5);
    const std::string letters = ansi("абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗabcXYZ019 ");
    for (int i = 0; i < 700; ++i) {
        std::string k;
        for (int j = 0; j < 6; ++j) k += letters[random() % letters.size()];
        if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
    }
    {
        engine::Table table;
        table.set_table_name(path);
        table.open();
        for (const auto& k : keys) engine_test::insert_row(table, {k, "n", "f"});
    }
    const std::vector<std::string> stored = column(path, 0);
    ASSERT_EQ(stored.size(), keys.size());
    const std::string e = ansi("е"), yo = ansi("ё"), zh = ansi("ж"), big_yo = ansi("Ё");
    for (std::size_t i = 1; i < stored.size(); ++i) EXPECT_NE(stored[i - 1], stored[i]);
    // Ё sorts between Е and Ж, lower case before upper case, Latin before
    // Cyrillic.
    {
        engine::Table table;
        table.set_table_name(path);
        table.open();
        for (const std::string& k : {e, yo, zh, big_yo, ansi("Е"), std::string("z"), std::string("Z")})
            engine_test::insert_row(table, {k, "", ""});
    }
    const auto after = column(path, 0);
    auto at = [&](const std::string& k) { return std::find(after.begin(), after.end(), k) - after.begin(); };
    EXPECT_LT(at(e), at(ansi("Е")));
    EXPECT_LT(at(ansi("Е")), at(yo));
    EXPECT_LT(at(yo), at(big_yo));
    EXPECT_LT(at(big_yo), at(zh));
    EXPECT_LT(at("z"), at("Z"));
    EXPECT_LT(at("Z"), at(e));
    expect_index_matches(path, dir.file("T.PX"));
    // pxlib sees every row (it reads in file order; compare as sets).
    auto theirs = engine_test::pxlib_read(path).rows;
    std::vector<std::string> their_keys;
    for (const auto& r : theirs) their_keys.push_back(r[0]);
    std::vector<std::string> ours = after;
    std::sort(their_keys.begin(), their_keys.end());
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(their_keys, ours);
}

TEST(Write, DuplicateKeysAreRefusedAndLeaveTheTableAsItWas) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::create_table(path, engine_test::path_table_spec(true));
    engine::Table table;
    table.set_table_name(path);
    table.open();
    engine_test::insert_row(table, {"AB", "first", ""});
    const std::string before = file_bytes(path);
    EXPECT_THROW(engine_test::insert_row(table, {"AB", "second", ""}), Exception);
    EXPECT_EQ(file_bytes(path), before);
    engine_test::insert_row(table, {"ab", "lower", ""});  // another key in this collation
    EXPECT_EQ(table.record_count(), 2u);
}

TEST(Write, LocateEditAndPostInPlace) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::create_table(path, engine_test::path_table_spec(true, "TRAX_OPR"));
    engine_test::ScopedPassword password("TRAX_OPR");
    {
        engine::Table table;
        table.set_table_name(path);
        table.open();
        for (const char* k : {"C", "A", "B"}) engine_test::insert_row(table, {k, std::string("n") + k, ""});
        EXPECT_FALSE(table.locate("MASTER_ID", "D", true, true));
        EXPECT_FALSE(table.locate("MASTER_ID", "", true, true));
        ASSERT_TRUE(table.locate("master_id", "b", true, true));
        EXPECT_EQ(table.field_by_name("MASTER_NAME").as_string(), "nB");
        EXPECT_FALSE(table.locate("MASTER_ID", "b", false, true));
        table.edit();
        table.field_by_name("MASTER_NAME").set_as_string("changed");
        table.post();
        ASSERT_TRUE(table.locate("MASTER_NAME", "CHA", true, false));
        EXPECT_EQ(table.field_by_name("MASTER_ID").as_string(), "B");
        // A key change (here only of case) moves the row to its new place.
        ASSERT_TRUE(table.locate("MASTER_ID", "A", true, true));
        table.edit();
        table.field_by_name("MASTER_ID").set_as_string("z");
        table.post();
        // Locating sees the change (the located values are remembered).
        EXPECT_FALSE(table.locate("MASTER_ID", "a", true, true));
        EXPECT_TRUE(table.locate("MASTER_ID", "Z", true, true));
        EXPECT_EQ(table.field_by_name("MASTER_NAME").as_string(), "nA");
        table.insert();
        table.field_by_name("MASTER_ID").set_as_string("A");
        table.post();
        EXPECT_TRUE(table.locate("MASTER_ID", "a", true, true));
        table.edit();
        table.field_by_name("MASTER_ID").set_as_string("y");
        table.post();
        EXPECT_FALSE(table.locate("MASTER_ID", "A", true, true));
        table.insert();
        table.field_by_name("MASTER_ID").set_as_string("A");
        table.post();
    }
    EXPECT_EQ(column(path, 0), (std::vector<std::string>{"A", "B", "C", "y", "z"}));
    EXPECT_EQ(column(path, 1), (std::vector<std::string>{"", "changed", "nC", "", "nA"}));
    expect_index_matches(path, dir.file("T.PX"));
    EXPECT_EQ(engine_test::pxlib_read(path, "TRAX_OPR").rows.size(), 5u);
}

TEST(Write, EmptyTableKeepsStructurePasswordAndCodePage) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::TableSpec definition = engine_test::path_table_spec(true, "pw");
    definition.code_page = 866;
    engine::create_table(path, definition);
    engine_test::ScopedPassword password("pw");
    {
        engine::Table table;
        table.set_table_name(path);
        table.open();
        for (int i = 0; i < 50; ++i) engine_test::insert_row(table, {std::to_string(i), "", ""});
    }
    const std::string before = file_bytes(path);
    engine::Table table;
    table.set_table_name(path);
    table.empty_table();
    const std::string after = file_bytes(path);
    ASSERT_EQ(after.size(), static_cast<std::size_t>(engine::get_u16(reinterpret_cast<const std::uint8_t*>(after.data()) + 2)));
    EXPECT_EQ(after.substr(0x58), before.substr(0x58, after.size() - 0x58));  // fields, code page, names
    EXPECT_TRUE(read_all(path).empty());
    table.open();
    engine_test::insert_row(table, {"again", "", ""});
    EXPECT_EQ(table.record_count(), 1u);
}

TEST(Write, RefusesTablesInUseWithSecondaryIndexesOrForeignSortOrders) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::create_table(path, engine_test::path_table_spec(true));
    auto touch = [](const std::string& p) { platform::os_file_system().open(p, platform::OpenMode::create); };
    for (const char* companion : {"T.LCK", "t.X02", "T.YG1"}) {
        touch(dir.file(companion));
        const std::string before = file_bytes(path);
        engine::Table table;
        table.set_table_name(path);
        table.open();  // reading stays possible
        EXPECT_THROW(engine_test::insert_row(table, {"A", "", ""}), Exception) << companion;
        table.close();
        EXPECT_THROW(table.empty_table(), Exception) << companion;
        engine::Query alter;
        alter.add_sql_line("alter table '" + path + "' add DESCRIPTION CHAR(255)");
        EXPECT_THROW(alter.exec_sql(), Exception) << companion;
        EXPECT_EQ(file_bytes(path), before);
        platform::os_file_system().remove(dir.file(companion));
    }
    // A keyed table in a sort order the engine does not know.
    std::string bytes = file_bytes(path);
    bytes[0x29] = static_cast<char>(0xB7);
    {
        auto f = platform::os_file_system().open(path, platform::OpenMode::read_write);
        f->write_at(0, bytes.data(), bytes.size());
    }
    engine::Table table;
    table.set_table_name(path);
    table.open();
    EXPECT_THROW(engine_test::insert_row(table, {"A", "", ""}), Exception);
}

TEST(Write, UnkeyedInsertsAppendInOrder) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::create_table(path, engine_test::path_table_spec(false));
    {
        engine::Table table;
        table.set_table_name(path);
        table.open();
        for (int i = 0; i < 100; ++i) engine_test::insert_row(table, {std::to_string(99 - i), "", ""});
    }
    const auto ids = column(path, 0);
    ASSERT_EQ(ids.size(), 100u);
    EXPECT_EQ(ids.front(), "99");
    EXPECT_EQ(ids.back(), "0");
    EXPECT_EQ(engine_test::pxlib_read(path).rows, read_all(path));
}

// A post that fails at any file operation leaves the table exactly as it
// was (or, failing after its journal went, with the new row), its index in
// step; the same dataset goes on working.
// Rows whose keys change leave their blocks: an emptied block leaves the
// chain for the free list (the header's first free block, the block linking
// to the one freed before it, counting no rows), and an emptied first block
// keeps its number by taking over its successor's rows.
TEST(Write, BlocksEmptiedByKeyChangesGoOnTheFreeList) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::TableSpec definition = engine_test::path_table_spec(true);
    definition.block_size_kb = 1;  // 5 rows of 200 bytes a block
    engine::create_table(path, definition);
    engine::Table table;
    table.set_table_name(path);
    table.open();
    for (int i = 10; i < 25; ++i) engine_test::insert_row(table, {"K" + std::to_string(i), "", ""});
    auto move_keys = [&](int from, int to) {
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(table.locate("MASTER_ID", "K" + std::to_string(from + i), false, true));
            table.edit();
            table.field_by_name("MASTER_ID").set_as_string("K" + std::to_string(to + i));
            table.post();
        }
    };
    auto free_block = [&](const std::string& bytes, std::uint32_t number, std::uint32_t link) {
        const auto* db = reinterpret_cast<const std::uint8_t*>(bytes.data());
        const std::size_t header_size = engine::get_u16(db + 2);
        const std::uint8_t* block = db + header_size + (number - 1) * 1024;
        EXPECT_EQ(engine::get_u16(block), link) << "block " << number;
        EXPECT_EQ(engine::get_u16(block + 2), 0u) << "block " << number;
        EXPECT_EQ(engine::get_u16(block + 4), 0x10000u - 200u) << "block " << number;  // no rows
    };
    move_keys(15, 30);  // empties block 2, in the middle
    std::string bytes = file_bytes(path);
    EXPECT_EQ(engine::get_u16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 0x4D), 2u);
    free_block(bytes, 2, 0);
    move_keys(10, 40);  // empties block 1, which takes over block 3's rows
    bytes = file_bytes(path);
    EXPECT_EQ(engine::get_u16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 0x4D), 3u);
    free_block(bytes, 3, 2);
    table.close();
    std::vector<std::string> expected;
    for (int base : {20, 30, 40})
        for (int i = 0; i < 5; ++i) expected.push_back("K" + std::to_string(base + i));
    EXPECT_EQ(column(path, 0), expected);
    expect_index_matches(path, dir.file("T.PX"));
    EXPECT_EQ(engine_test::pxlib_read(path).rows.size(), 15u);
}

TEST(Write, AFailedPostLeavesTheTableAsItWas) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::TableSpec definition = engine_test::path_table_spec(true, "pw");
    definition.block_size_kb = 1;
    engine_test::ScopedPassword password("pw");
    engine::create_table(path, definition);
    {
        engine::Table table;
        table.set_table_name(path);
        table.open();
        for (int i = 0; i < 20; ++i) engine_test::insert_row(table, {"K" + std::to_string(10 + i), "", ""});
    }
    const std::string db = file_bytes(path), px = file_bytes(dir.file("T.PX"));
    const auto before = read_all(path);
    testing_support::FaultFileSystem faults;
    bool threw = true;
    int n = 0;
    while (threw && ++n < 100) {
        testing_support::write_bytes(testing_support::fs_path(path), db);
        testing_support::write_bytes(testing_support::fs_path(dir.file("T.PX")), px);
        threw = false;
        platform::ScopedFileSystem installed(faults);
        engine::Table table;
        table.set_table_name(path);
        table.open();
        faults.fail_at(n);
        try {
            engine_test::insert_row(table, {"K15a", "new", ""});  // splits a full block
        } catch (const Exception&) {
            threw = true;
        }
        faults.fail_at(0);
        const bool inserted = table.locate("MASTER_ID", "K15a", false, true);
        if (threw && !inserted) {
            EXPECT_EQ(file_bytes(path), db) << "operation " << n;
            EXPECT_EQ(file_bytes(dir.file("T.PX")), px) << "operation " << n;
        }
        expect_index_matches(path, dir.file("T.PX"));
        // The same dataset goes on working after the failure.
        if (!inserted) engine_test::insert_row(table, {"K15a", "new", ""});
        table.close();
        EXPECT_EQ(read_all(path).size(), before.size() + 1) << "operation " << n;
        expect_index_matches(path, dir.file("T.PX"));
    }
    EXPECT_FALSE(threw);
    EXPECT_GT(n, 10);
}

// A crash at any file operation of a post, losing everything not yet
// flushed (or keeping any part of it, torn) leaves exactly the old table or
// the table with the new row, its index in step at once.
TEST(Write, ACrashDuringAPostLosesAtMostThatPost) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::TableSpec definition = engine_test::path_table_spec(true);
    definition.block_size_kb = 1;
    engine::create_table(path, definition);
    {
        engine::Table table;
        table.set_table_name(path);
        table.open();
        for (int i = 0; i < 20; ++i) engine_test::insert_row(table, {"K" + std::to_string(10 + i), "", ""});
    }
    const std::string db = file_bytes(path), px = file_bytes(dir.file("T.PX"));
    const std::size_t before = read_all(path).size();
    testing_support::FaultFileSystem faults;
    int crash_points = 0;
    for (const bool torn : {false, true}) {
        bool crashed = true;
        for (int n = 1; crashed && n < 100; ++n) {
            testing_support::write_bytes(testing_support::fs_path(path), db);
            testing_support::write_bytes(testing_support::fs_path(dir.file("T.PX")), px);
            crashed = false;
            {
                platform::ScopedFileSystem installed(faults);
                faults.set_torn_writes(torn, static_cast<unsigned>(n));
                try {
                    engine::Table table;
                    table.set_table_name(path);
                    table.open();
                    faults.fail_at(n, true);
                    engine_test::insert_row(table, {"K15a", "new", ""});
                } catch (const Exception&) {
                    crashed = true;
                    ++crash_points;
                }
                faults.crash_recover();
                faults.set_torn_writes(false);
            }
            const std::string at = "operation " + std::to_string(n) + (torn ? " (torn)" : "");
            const std::size_t after = read_all(path).size();
            EXPECT_TRUE(after == before || after == before + 1) << at;
            if (after == before) {
                EXPECT_EQ(file_bytes(path), db) << at;
                EXPECT_EQ(file_bytes(dir.file("T.PX")), px) << at;
            }
            expect_index_matches(path, dir.file("T.PX"));
            {
                engine::Table table;
                table.set_table_name(path);
                table.open();
                engine_test::insert_row(table, {"K99", "", ""});
            }
            EXPECT_EQ(read_all(path).size(), after + 1) << at;
            expect_index_matches(path, dir.file("T.PX"));
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << at;
        }
    }
    EXPECT_GT(crash_points, 20);
}

}  // namespace
