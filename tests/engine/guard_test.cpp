// Refusals before any change: a table another program has in use, a
// companion file that cannot be kept in step or written, and what a .VAL
// file becomes when it can be kept in step.

#include "engine/bytes.h"
#include "engine/engine.h"
#include "engine/format.h"
#include "engine/test_tables.h"
#include "platform/exception.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using engine_test::file_bytes;

void write_bytes(const std::string& path, const std::string& bytes) {
    auto f = platform::os_file_system().open(path, platform::OpenMode::create);
    f->write_at(0, bytes.data(), bytes.size());
}

void add_description(const std::string& path) {
    engine::Query query;
    query.add_sql_line("alter table '" + path + "' add DESCRIPTION CHAR(255)");
    query.exec_sql();
}

void append16(std::string& b, unsigned v) {
    b.push_back(static_cast<char>(v & 0xFF));
    b.push_back(static_cast<char>(v >> 8));
}

unsigned get16(const std::string& b, std::size_t at) {
    return engine::get_u16(reinterpret_cast<const std::uint8_t*>(b.data()) + at);
}

std::uint32_t get32(const std::string& b, std::size_t at) {
    return engine::get_u32(reinterpret_cast<const std::uint8_t*>(b.data()) + at);
}

// The table's files, to see that a refusal changed none of them.
struct Snapshot {
    explicit Snapshot(const testing_support::TempDir& dir) : dir_(dir) {
        for (const auto& name : platform::os_file_system().list_directory(dir.path().string()))
            files_.emplace_back(name, file_bytes(dir.file(name)));
    }
    void expect_unchanged(const std::string& what) const {
        std::vector<std::pair<std::string, std::string>> now;
        for (const auto& name : platform::os_file_system().list_directory(dir_.path().string()))
            now.emplace_back(name, file_bytes(dir_.file(name)));
        EXPECT_EQ(now, files_) << what;
    }
    const testing_support::TempDir& dir_;
    std::vector<std::pair<std::string, std::string>> files_;
};

// A .VAL as the old engine writes it beside a level 4+ table (layout of
// leonhad/paradoxdriver's doc/Validation.md, as validity_file.cpp has it):
// one check (the first field is required) and the footer listing the
// table's fields.
std::string validity_file(const std::string& table_path) {
    const engine::TableHeader h = engine_test::read_table_header(table_path);
    std::string v(0x35, '\0');
    v[0] = static_cast<char>(h.bytes[0x2E]);
    v[1] = static_cast<char>(h.version);
    v[2] = 1;
    for (int i = 0; i < 4; ++i) v[3 + i] = static_cast<char>(h.bytes[0x60 + i]);
    v[7] = static_cast<char>(h.high_field_id);
    std::string check(28, '\0');
    check[2] = 1;  // required
    v += check;
    const std::size_t footer = v.size();
    for (int i = 0; i < 4; ++i) v[9 + i] = static_cast<char>((footer >> (8 * i)) & 0xFF);
    std::size_t names = 0x4F;
    for (const auto& f : h.fields) names += f.name.size() + 1;
    append16(v, static_cast<unsigned>(h.fields.size()));
    append16(v, static_cast<unsigned>(h.key_fields));
    append16(v, static_cast<unsigned>(names));
    for (auto id : h.field_ids) append16(v, id);
    for (const auto& f : h.fields) {
        v.push_back(static_cast<char>(f.type));
        v.push_back(static_cast<char>(f.size_code));
    }
    std::string name = "C:\\DATA\\" + h.table_name;
    name.resize(0x4F, '\0');
    v += name;
    for (const auto& f : h.fields) v += f.name + '\0';
    return v;
}

std::string level5_table(const testing_support::TempDir& dir) {
    const std::string path = dir.file("T.DB");
    engine::TableSpec layout = engine_test::path_table_spec(true);
    layout.level = 5;
    engine::create_table(path, layout);
    engine::Table table;
    table.set_table_name(path);
    table.open();
    for (int i = 0; i < 30; ++i) engine_test::insert_row(table, {"K" + std::to_string(10 + i), "n", "f"});
    return path;
}

TEST(ValidityFile, IsKeptInStepWithTheTable) {
    testing_support::TempDir dir;
    const std::string path = level5_table(dir);
    const std::string before = validity_file(path);
    write_bytes(dir.file("T.VAL"), before);
    add_description(path);

    const std::string after = file_bytes(dir.file("T.VAL"));
    const std::string table = file_bytes(path);
    const std::size_t footer = get32(after, 0x09);
    ASSERT_EQ(footer, get32(before, 0x09));
    // The checks and referential integrity stay as they are; the header
    // names the table as it now is.
    EXPECT_EQ(after.substr(0x09, footer - 0x09), before.substr(0x09, footer - 0x09));
    EXPECT_EQ(after.substr(1, 2), before.substr(1, 2));
    EXPECT_EQ(after[0], table[0x2E]);
    EXPECT_EQ(get32(after, 0x03), get32(table, 0x60));
    EXPECT_EQ(get16(after, 0x07), get16(table, 0x64));
    EXPECT_EQ(get16(after, 0x07), 5u);
    // The footer lists the new field after the old ones.
    EXPECT_EQ(get16(after, footer), 4u);
    EXPECT_EQ(get16(after, footer + 2), 1u);
    EXPECT_EQ(get16(after, footer + 4), get16(before, footer + 4) + 12);
    std::size_t at = footer + 6;
    for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(get16(after, at + 2 * i), i + 1) << "field ID " << i;
    at += 8;
    EXPECT_EQ(after.substr(at, 6), before.substr(footer + 6 + 6, 6));
    EXPECT_EQ(after.substr(at + 6, 2), std::string("\x01\xFF", 2));
    at += 8;
    EXPECT_EQ(after.substr(at, 0x4F), before.substr(footer + 6 + 12, 0x4F));
    at += 0x4F;
    EXPECT_EQ(after.substr(at), std::string("MASTER_ID\0MASTER_NAME\0MASTER_FILE\0DESCRIPTION\0", 46));
}

TEST(ValidityFile, OneThatCannotBeKeptInStepStopsTheUpgrade) {
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
    };
    const std::vector<Case> cases = {
        {"a level 3 layout", [](std::string& v) { v[1] = 1; }},
        {"an unknown version", [](std::string& v) { v[1] = 0x0C; }},
        {"another field list", [](std::string& v) { v[v.size() - 2] = 'X'; }},
        {"another field count", [](std::string& v) { v[get32(v, 0x09)] = 2; }},
        {"a stale change count", [](std::string& v) { v[0] = static_cast<char>(v[0] + 1); }},
        {"a stale update time", [](std::string& v) { v[4] = static_cast<char>(v[4] ^ 0x10); }},
        {"a footer outside the file", [](std::string& v) { v[0x0C] = 0x70; }},
        {"a truncated footer", [](std::string& v) { v.resize(v.size() - 20); }},
        {"bytes after the footer", [](std::string& v) { v += "x"; }},
        {"a file too short", [](std::string& v) { v.resize(0x20); }},
    };
    for (const Case& c : cases) {
        testing_support::TempDir dir;
        const std::string path = level5_table(dir);
        std::string val = validity_file(path);
        c.damage(val);
        write_bytes(dir.file("T.VAL"), val);
        const Snapshot snapshot(dir);
        try {
            add_description(path);
            ADD_FAILURE() << c.what << ": the upgrade went ahead";
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find("T.VAL"), std::string::npos) << c.what << ": " << e.Message();
        }
        snapshot.expect_unchanged(c.what);
    }
}

// PDOXUSRS.LCK as the Windows engine leaves it in a table's folder (the
// layout table_guard.cpp describes): its header, then a 1 KB page listing
// the names in use.
std::string users_lock_file(const std::vector<std::string>& names) {
    std::string b(0x400, '\0');
    b.replace(0, 4, "\x23\x00\x00\x02", 4);
    b.replace(0x0C, 19, "a newer file format");
    b.replace(0x6E, 3, "C:\\");
    std::string page(0x400, '\0');
    page.replace(0, 6, "\xFF\xFF\x01\x00\x00\x00", 6);
    unsigned number = 2;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string entry(20, '\0');
        entry[0] = static_cast<char>(number++);
        entry[4] = 2;
        entry.replace(6, names[i].size(), names[i]);
        page.replace(6 + 20 * i, 20, entry);
    }
    return b + page + std::string(0x400, '\0');
}

TEST(InUse, ATableThatPdoxusrsLckNamesIsNotChanged) {
    struct Case {
        std::vector<std::string> names;
        bool in_use;
    };
    for (const Case& c : {Case{{"PARADOX", "T"}, true}, Case{{"PARADOX", "t"}, true},
                          Case{{"PARADOX", "OTHER", "T2", "TT"}, false}, Case{{}, false}}) {
        testing_support::TempDir dir;
        const std::string path = dir.file("T.DB");
        engine::create_table(path, engine_test::path_table_spec(true));
        write_bytes(dir.file("PDOXUSRS.LCK"), users_lock_file(c.names));
        const Snapshot snapshot(dir);
        engine::Table table;
        table.set_table_name(path);
        table.open();  // reading stays possible
        if (c.in_use) {
            EXPECT_THROW(engine_test::insert_row(table, {"A", "", ""}), Exception);
            table.close();
            EXPECT_THROW(table.empty_table(), Exception);
            try {
                add_description(path);
                ADD_FAILURE() << "the table was upgraded while in use";
            } catch (const Exception& e) {
                EXPECT_NE(e.Message().find("PDOXUSRS.LCK"), std::string::npos) << e.Message();
            }
            snapshot.expect_unchanged("in use");
        } else {
            engine_test::insert_row(table, {"A", "", ""});
            table.close();
            add_description(path);
            EXPECT_EQ(engine_test::read_all(path).size(), 1u);
        }
    }
}

TEST(InUse, ALockFileThatCannotBeReadCountsAsInUse) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::create_table(path, engine_test::path_table_spec(false));
    write_bytes(dir.file("pdoxusrs.lck"), "not a lock file of the engine");
    const Snapshot snapshot(dir);
    EXPECT_THROW(add_description(path), Exception);
    snapshot.expect_unchanged("unreadable lock file");
    write_bytes(dir.file("pdoxusrs.lck"), "");  // names nothing
    add_description(path);
}

// A file system on which one file cannot be opened for writing, as a
// read-only file would for a user who is not root.
class ReadOnlyFile : public platform::FileSystemWrapper {
public:
    explicit ReadOnlyFile(std::string path) : path_(std::move(path)) {}
    using platform::FileSystemWrapper::open;
    std::unique_ptr<platform::File> open(const std::string& path, platform::OpenMode mode,
                                         platform::Lock lock) override {
        if (path == path_ && mode != platform::OpenMode::read)
            throw Exception(path + ": Permission denied", ErrorKind::permission, "Permission denied");
        return FileSystemWrapper::open(path, mode, lock);
    }

private:
    std::string path_;
};

TEST(Writability, AReadOnlyTableOrCompanionIsRefusedBeforeAnythingIsWritten) {
    for (const char* name : {"T.DB", "T.PX", "T.VAL"}) {
        testing_support::TempDir dir;
        const std::string path = level5_table(dir);
        write_bytes(dir.file("T.VAL"), validity_file(path));
        const Snapshot snapshot(dir);
        ReadOnlyFile read_only(dir.file(name));
        {
            platform::ScopedFileSystem installed(read_only);
            try {
                add_description(path);
                ADD_FAILURE() << name << " read-only: the upgrade went ahead";
            } catch (const Exception& e) {
                EXPECT_NE(e.Message().find(name), std::string::npos) << e.Message();
            }
        }
        snapshot.expect_unchanged(std::string(name) + " read-only");
    }
}

}  // namespace
