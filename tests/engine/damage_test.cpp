// Bad input never crashes, hangs or corrupts: every damaged table gives an
// Exception naming the file.

#include "engine/cipher.h"
#include "engine/engine.h"
#include "engine/test_tables.h"
#include "platform/exception.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using engine_test::file_bytes;
using engine_test::read_all;

void write_bytes(const std::string& path, const std::string& bytes) {
    auto file = platform::os_file_system().open(path, platform::OpenMode::create);
    file->write_at(0, bytes.data(), bytes.size());
}

// Reads the table; damage must end in an Exception that names the file.
void expect_clean_failure_or_rows(const std::string& path) {
    try {
        read_all(path);
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
}

std::string sample_table(const std::string& path, const std::string& password, bool keyed) {
    engine::create_table(path, engine_test::path_table_spec(keyed, password));
    {
        // Closed before the file is read: on Windows a table that is being
        // changed is open to no one else.
        engine::Table table;
        table.set_table_name(path);
        table.open();
        for (int i = 0; i < 40; ++i)
            engine_test::insert_row(table, {"ID" + std::to_string(100 + i), "name", "C:\\X\\F.DAT"});
    }
    return file_bytes(path);
}

TEST(Damage, EveryTruncationFailsCleanly) {
    testing_support::TempDir dir;
    engine_test::ScopedPassword password("pw");
    const std::string original = sample_table(dir.file("T.DB"), "pw", false);
    const std::string path = dir.file("CUT.DB");
    for (std::size_t size = 0; size < original.size(); size += (size < 2200 ? 1 : 97)) {
        write_bytes(path, original.substr(0, size));
        try {
            read_all(path);
            ADD_FAILURE() << "a table cut to " << size << " bytes read without complaint";
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
        }
    }
}

TEST(Damage, ChainLoopsAndWildBlockNumbersAreRefused) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    std::string bytes = sample_table(path, "", false);
    const std::size_t header = static_cast<unsigned char>(bytes[2]) | (static_cast<unsigned char>(bytes[3]) << 8);
    const std::size_t block = 2048;
    ASSERT_GT(bytes.size(), header + 2 * block);
    std::string looped = bytes;
    looped[header + block] = 1;  // block 2 points back to block 1
    looped[header + block + 1] = 0;
    write_bytes(path, looped);
    EXPECT_THROW(read_all(path), Exception);
    std::string wild = bytes;
    wild[header] = '\xff';
    wild[header + 1] = '\x7f';
    write_bytes(path, wild);
    EXPECT_THROW(read_all(path), Exception);
    std::string overfull = bytes;
    overfull[header + 4] = '\xff';  // more records than the block holds
    overfull[header + 5] = '\x7f';
    write_bytes(path, overfull);
    EXPECT_THROW(read_all(path), Exception);
}

TEST(Damage, InconsistentHeadersAreRefused) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    const std::string bytes = sample_table(path, "", true);
    const std::vector<std::pair<std::size_t, char>> edits = {
        {0x00, 0x05},   // record size against the field table
        {0x04, 0x01},   // a .PX, not a table
        {0x05, 0x00},   // block size 0
        {0x05, 0x40},   // block size 64 KB
        {0x0C, '\x70'}, // more blocks than the file holds
        {0x0E, 0x09},   // first block outside the file
        {0x21, 0x00},   // no fields
        {0x23, 0x09},   // more key fields than fields
        {0x39, 0x02},   // unknown version
        {0x78, 0x7F},   // unknown field type
        {0x79, 0x00},   // alpha of width 0
    };
    for (const auto& [at, value] : edits) {
        std::string damaged = bytes;
        damaged[at] = value;
        write_bytes(path, damaged);
        EXPECT_THROW(read_all(path), Exception) << "offset " << at;
    }
    write_bytes(path, "this is not a table at all, just some words in a text file\n");
    EXPECT_THROW(read_all(path), Exception);
    write_bytes(path, "");
    EXPECT_THROW(read_all(path), Exception);
}

// A chain that does not hold what the header says: the table is refused
// for reading, and an upgrade of it writes nothing.
TEST(Damage, BlocksThatDisagreeWithTheHeaderAreRefusedAndNeverRewritten) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    const std::string bytes = sample_table(path, "", false);  // 40 rows of 200 bytes, 10 to a block
    const std::size_t header = static_cast<unsigned char>(bytes[2]) | (static_cast<unsigned char>(bytes[3]) << 8);
    const std::size_t block = 2048;
    struct Edit {
        const char* what;
        std::size_t at;
        std::string value;
    };
    const std::vector<Edit> edits = {
        {"one row more in the header", 0x06, std::string("\x29", 1)},
        {"one row less in the header", 0x06, std::string("\x27", 1)},
        {"the last block named wrong", 0x10, std::string("\x03", 1)},
        {"a back link to the wrong block", header + 2 * block + 2, std::string("\x01", 1)},
        {"a last block marked empty", header + 3 * block + 4, std::string("\x38\xFF", 2)},
    };
    for (const Edit& e : edits) {
        std::string damaged = bytes;
        damaged.replace(e.at, e.value.size(), e.value);
        write_bytes(path, damaged);
        try {
            read_all(path);
            ADD_FAILURE() << e.what << ": read without complaint";
        } catch (const Exception& failure) {
            EXPECT_NE(failure.Message().find("damaged"), std::string::npos) << e.what << ": " << failure.Message();
        }
        engine::Query alter;
        alter.add_sql_line("alter table '" + path + "' add DESCRIPTION CHAR(255)");
        EXPECT_THROW(alter.exec_sql(), Exception) << e.what;
        EXPECT_EQ(file_bytes(path), damaged) << e.what;
    }
    // A header counting 4 rows over one block marked empty, as seen in a
    // table the old engine wrote.
    testing_support::TempDir small_dir;
    const std::string small = small_dir.file("S.DB");
    engine::create_table(small, engine_test::path_table_spec(false));
    {
        engine::Table table;
        table.set_table_name(small);
        table.open();
        for (int i = 0; i < 4; ++i) engine_test::insert_row(table, {"ID" + std::to_string(i), "n", ""});
    }
    std::string empty_block = file_bytes(small);
    empty_block.replace(header + 4, 2, "\x38\xFF", 2);  // -200: no records
    write_bytes(small, empty_block);
    EXPECT_THROW(read_all(small), Exception);
    engine::Query alter;
    alter.add_sql_line("alter table '" + small + "' add DESCRIPTION CHAR(255)");
    EXPECT_THROW(alter.exec_sql(), Exception);
    EXPECT_EQ(file_bytes(small), empty_block);
}

TEST(Damage, EncryptedTableWithTheWrongKeyIsRefusedNotMisread) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine_test::ScopedPassword a("alpha");
    engine_test::ScopedPassword b("beta");
    std::string bytes = sample_table(path, "alpha", false);
    // Pretend the table belongs to another password: its blocks then
    // decrypt to garbage, which validation must catch, never trust.
    const std::uint32_t other = engine::cipher::password_checksum("beta");
    std::memcpy(&bytes[0x5C], &other, 4);
    write_bytes(path, bytes);
    EXPECT_THROW(read_all(path), Exception);
}

TEST(Damage, RandomByteFlipsNeverCrash) {
    testing_support::TempDir dir;
    engine_test::ScopedPassword password("pw");
    const std::string original = sample_table(dir.file("T.DB"), "pw", true);
    const std::string path = dir.file("FLIP.DB");
    unsigned seed = 12345;
    for (int round = 0; round < 400; ++round) {
        std::string damaged = original;
        for (int flips = 0; flips < 4; ++flips) {
            seed = seed * 1103515245u + 12345u;
            const std::size_t at = (seed >> 8) % (round % 2 ? 0x100 : damaged.size());
            damaged[at] = static_cast<char>(damaged[at] ^ (1 << (seed % 8)));
        }
        write_bytes(path, damaged);
        expect_clean_failure_or_rows(path);
    }
}

}  // namespace
