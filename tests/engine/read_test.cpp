// Reading tables: every field type as text, levels, encryption and the
// session password, and agreement with pxlib in both directions.

#include "engine/engine.h"
#include "engine/pxlib_oracle.h"
#include "engine/test_tables.h"
#include "platform/exception.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>

namespace {

using engine_test::read_all;
using Rows = std::vector<std::vector<std::string>>;

engine::TableSpec all_types_spec(int level) {
    engine::TableSpec definition;
    definition.level = level;
    definition.fields = {{"Name", 'A', 12}, {"Short", 'S', 0}, {"Long", 'I', 0},  {"Number", 'N', 0},
                   {"Money", '$', 0}, {"Date", 'D', 0},  {"Flag", 'L', 0}};
    if (level >= 5) {
        definition.fields.push_back({"Time", 'T', 0});
        definition.fields.push_back({"Stamp", '@', 0});
        definition.fields.push_back({"Counter", '+', 0});
        definition.fields.push_back({"Amount", '#', 2});
    }
    return definition;
}

TEST(Read, EveryTypeRoundTripsAsTextAtEveryLevel) {
    for (int level : {3, 4, 5, 7}) {
        testing_support::TempDir dir;
        const std::string path = dir.file("TYPES.DB");
        engine::TableSpec definition = all_types_spec(level);
        definition.code_page = 1251;
        engine::create_table(path, definition);
        Rows expected = {{engine_test::ansi("Ёжик"), "-12", "123456", "3.25", "-0.5", "29.02.2024", "True"},
                         {"", "", "", "", "", "", ""},
                         {"z", "32767", "-2147483647", "1e+300", "0", "01.01.0001", "False"}};
        if (level >= 5) {
            expected[0].insert(expected[0].end(), {"23:59:58", "31.12.1999 12:30:00,250", "1", "-12.50"});
            expected[1].insert(expected[1].end(), {"", "", "2", ""});
            expected[2].insert(expected[2].end(), {"00:00:00", "01.01.2000 00:00:00", "3", "0.07"});
        }
        {
            engine::Table table;
            table.set_table_name(path);
            table.open();
            for (auto row : expected) {
                if (level >= 5) row[9] = "";  // auto-increment: assigned by the engine
                engine_test::insert_row(table, row);
            }
        }
        EXPECT_EQ(read_all(path), expected) << "level " << level;
    }
}

TEST(Read, TablesWeWriteReadTheSameThroughPxlib) {
    engine_test::ScopedPassword password("Secret7");
    for (int level : {3, 4, 5, 7}) {
        testing_support::TempDir dir;
        const std::string path = dir.file("OURS.DB");
        engine::TableSpec definition = all_types_spec(level);
        definition.fields.resize(7);
        definition.password = "Secret7";
        definition.code_page = 866;
        definition.key_fields = level % 2;  // keyed at levels 3 and 5 and 7, unkeyed at 3.5
        engine::create_table(path, definition);
        {
            engine::Table table;
            table.set_table_name(path);
            table.open();
            for (int i = 0; i < 300; ++i)
                engine_test::insert_row(table, {"row" + std::to_string(1000 + i), std::to_string(i - 150),
                                                std::to_string(i * 1000), std::to_string(i) + ".5", "",
                                                "15.06.2001", i % 2 ? "True" : "False"});
        }
        const auto theirs = engine_test::pxlib_read(path, "Secret7");
        EXPECT_EQ(theirs.checksum, static_cast<long>(engine_test::px_passwd_checksum("Secret7")));
        EXPECT_EQ(theirs.rows, read_all(path)) << "level " << level;
        EXPECT_EQ(theirs.rows.size(), 300u);
        ASSERT_EQ(theirs.fields.size(), definition.fields.size());
        for (std::size_t i = 0; i < definition.fields.size(); ++i) {
            EXPECT_EQ(theirs.fields[i].name, definition.fields[i].name);
            EXPECT_EQ(theirs.fields[i].type, definition.fields[i].type);
        }
    }
}

TEST(Read, TablesPxlibWritesReadTheSameThroughOurs) {
    testing_support::TempDir dir;
    const std::string path = dir.file("THEIRS.DB");
    const std::vector<engine_test::OracleField> fields = {
        {"Id", 'A', 10}, {"Count", 'S', 2}, {"Total", 'I', 4}, {"Value", 'N', 8}, {"Day", 'D', 4},
        {"Ok", 'L', 1}};
    Rows rows;
    for (int i = 0; i < 500; ++i)
        rows.push_back({"id" + std::to_string(i), std::to_string(i % 300), std::to_string(-i),
                        i % 7 ? std::to_string(i) + ".25" : "", "03.04.1998", i % 3 ? "True" : "False"});
    engine_test::pxlib_write(path, fields, rows, "pass");
    EXPECT_THROW(read_all(path), Exception);  // the session has no password yet
    engine_test::ScopedPassword password("pass");
    EXPECT_EQ(read_all(path), rows);
}

TEST(Read, MemosComeFromTheLeaderOrTheMemoFile) {
    testing_support::TempDir dir;
    const std::string path = dir.file("MEMO.DB");
    const std::string shorter = "fits in the leader";
    std::string small(300, 'x'), large(9000, 'y');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 26);
    engine_test::pxlib_write(path, {{"Id", 'A', 4}, {"Text", 'M', 20}},
                             {{"1", shorter}, {"2", small}, {"3", large}, {"4", ""}});
    EXPECT_EQ(read_all(path), (Rows{{"1", shorter}, {"2", small}, {"3", large}, {"4", ""}}));
    // Without the memo file the leader still reads; the rest is a clear error.
    platform::os_file_system().remove(dir.file("MEMO.MB"));
    engine::Table table;
    table.set_table_name(path);
    table.open();
    EXPECT_EQ(table.field(1).as_string(), shorter);
    table.next();
    try {
        table.field(1).as_string();
        FAIL() << "read a memo without its file";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("MEMO.MB"), std::string::npos) << e.Message();
    }
}

TEST(Read, EncryptedTablesOpenOnlyWithTheExactPassword) {
    testing_support::TempDir dir;
    const std::string path = dir.file("LOCKED.DB");
    engine::create_table(path, engine_test::path_table_spec(true, "TRAX_OPR"));
    try {
        read_all(path);
        FAIL() << "opened without a password";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
    {
        engine_test::ScopedPassword wrong("trax_opr");  // case matters
        EXPECT_THROW(read_all(path), Exception);
    }
    engine_test::ScopedPassword right("TRAX_OPR");
    EXPECT_TRUE(read_all(path).empty());
}

TEST(Read, SessionRefusesPasswordsTheFormatCannotHold) {
    EXPECT_THROW(engine::Session::instance().add_password(std::string(32, 'x')), Exception);
    EXPECT_THROW(engine::Session::instance().add_password(std::string(100000, 'x')), Exception);
    EXPECT_NO_THROW(engine::Session::instance().remove_password("never added"));
}

TEST(Read, FieldByNameIgnoresCaseAndNamesMissingColumns) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::create_table(path, engine_test::path_table_spec(false));
    engine::Table table;
    table.set_table_name(path);
    table.open();
    EXPECT_TRUE(table.eof());
    EXPECT_EQ(table.field_by_name("master_name").name(), "MASTER_NAME");
    try {
        table.field_by_name("DESCRIPTION");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("DESCRIPTION"), std::string::npos);
        EXPECT_NE(e.Message().find(path), std::string::npos);
    }
}

TEST(Read, ValuesAreConvertedFromTheTablesCodePageAndCutToWidth) {
    testing_support::TempDir dir;
    for (int code_page : {1251, 866}) {
        const std::string path = dir.file("CP" + std::to_string(code_page) + ".DB");
        engine::TableSpec definition;
        definition.code_page = code_page;
        definition.fields = {{engine_test::ansi("Имя"), 'A', 5}};
        engine::create_table(path, definition);
        {
            engine::Table table;
            table.set_table_name(path);
            table.open();
            engine_test::insert_row(table, {engine_test::ansi("Привет, мир")});
        }
        EXPECT_EQ(read_all(path), (Rows{{engine_test::ansi("Приве")}}));
        const std::string raw = engine_test::file_bytes(path);
        const std::string stored = code_page == 866 ? "\x8f\xe0\xa8\xa2\xa5" : "\xcf\xf0\xe8\xe2\xe5";
        EXPECT_NE(raw.find(stored), std::string::npos) << code_page;
        engine::Query query;
        query.add_sql_line("select * from '" + path + "'");
        query.open();
        ASSERT_NE(query.find_field(engine_test::ansi("имя")), nullptr);
    }
}

}  // namespace
