// Table text under each language driver's label, in tables that pxlib wrote
// and relabelled and in tables our engine made: what reading hands over,
// what setting stores, locating, key order, and that no operation changes
// the label.

#include "engine/bytes.h"
#include "engine/engine.h"
#include "engine/pxlib_oracle.h"
#include "engine/test_tables.h"
#include "platform/exception.h"
#include "support/files.h"

#include <gtest/gtest.h>

namespace {

using engine_test::ansi;
using engine_test::file_bytes;
using engine_test::read_all;
using Rows = std::vector<std::vector<std::string>>;

struct Label {
    std::uint8_t sort_order;
    std::string id;
    int code_page;
};

// Sort-order byte, id string and code page as the header keeps them.
void expect_label(const std::string& path, const Label& expected) {
    const std::string h = file_bytes(path);
    const auto* b = reinterpret_cast<const std::uint8_t*>(h.data());
    EXPECT_EQ(b[0x29], expected.sort_order) << path;
    EXPECT_EQ(std::string(h.c_str() + 0x58 + engine::get_u16(b + 0x6E)), expected.id) << path;
    EXPECT_EQ(engine::get_u16(b + 0x6A), expected.code_page) << path;
}

void add_description(const std::string& path) {
    engine::Query query;
    query.add_sql_line("alter table '" + path + "' add DESCRIPTION CHAR(255)");
    query.exec_sql();
}

// Text stored under a label, and what the old engine hands over for it;
// for DOS tables also characters the Windows partner lacks.
struct Case {
    Label label;
    std::string stored_name, stored_value;  // bytes in the table
    std::string name, value;                // bytes handed over
    std::string stored_lacking = {}, lacking = {};
};

std::vector<Case> cases() {
    const std::string rus_1251 = ansi("Республиканский бюджет");
    return {
        // Russian text in a Western ANSI table, and Western text: unchanged.
        {{0x4C, "DBWINUS0", 1252}, ansi("ИМЯ"), rus_1251, ansi("ИМЯ"), rus_1251},
        {{0x40, "DBWINWE0", 1252}, "NOM", "Montr\xe9\x61l", "NOM", "Montr\xe9\x61l"},
        // Code page 0 and a double-byte ANSI table: unchanged.
        {{0x14, "BLROM800", 0}, ansi("ИМЯ"), ansi("Внешний мир"), ansi("ИМЯ"), ansi("Внешний мир")},
        {{0x03, "china", 936}, "NAME", "\xd6\xd0\xce\xc4", "NAME", "\xd6\xd0\xce\xc4"},
        // DOS tables: converted to their Windows partner.
        {{0xC0, "cyrr", 866}, "\x88\x8c\x9f", "\x8a\xe3\xe0\xe1\xeb \xa2\xa0\xab\xee\xe2 \xf2\xf7",
         ansi("ИМЯ"), ansi("Курсы валют") + " \xaa\xa2", "\xc4\xba\xc5\xdb", "-|+#"},
        {{0x00, "ascii", 437}, "NOM", "Caf\x82 \x9b", "NOM", "Caf\xe9 \xa2", "\xe0\xe3\xc9", "ap+"},
    };
}

TEST(TableText, PxlibTablesReadAsTheirLanguageDriverHandsThemOver) {
    testing_support::TempDir dir;
    for (const Case& c : cases()) {
        const std::string path = dir.file(c.label.id + ".DB");
        engine_test::pxlib_write(path, {{"ID", 'A', 4}, {c.stored_name, 'A', 40}},
                                 {{"1", c.stored_value}, {"2", c.stored_lacking}});
        engine_test::relabel(path, c.label.sort_order, c.label.id, c.label.code_page);
        EXPECT_EQ(read_all(path), (Rows{{"1", c.value}, {"2", c.lacking}})) << c.label.id;
        engine::Table table;
        table.set_table_name(path);
        table.open();
        EXPECT_EQ(table.field(1).name(), c.name) << c.label.id;
        EXPECT_TRUE(table.locate(c.name, c.value, false, true)) << c.label.id;
        table.close();
        // Adding a column keeps the label and the text.
        add_description(path);
        expect_label(path, c.label);
        EXPECT_EQ(read_all(path), (Rows{{"1", c.value, ""}, {"2", c.lacking, ""}})) << c.label.id;
        EXPECT_EQ(engine_test::pxlib_read(path).rows[0][1], c.stored_value) << c.label.id;
    }
}

TEST(TableText, EngineTablesStoreWhatTheirLanguageDriverStores) {
    testing_support::TempDir dir;
    for (const Case& c : cases()) {
        if (c.label.code_page == 936) continue;  // double-byte: pxlib shows the same bytes
        const std::string path = dir.file(c.label.id + ".DB");
        engine::TableSpec definition;
        definition.language_driver = c.label.id;
        definition.code_page = c.label.code_page;
        definition.fields = {{"ID", 'A', 4}, {c.name, 'A', 40}};
        engine::create_table(path, definition);
        expect_label(path, c.label);
        {
            engine::Table table;
            table.set_table_name(path);
            table.open();
            engine_test::insert_row(table, {"1", c.value});
        }
        EXPECT_EQ(read_all(path), (Rows{{"1", c.value}})) << c.label.id;
        const auto theirs = engine_test::pxlib_read(path);
        EXPECT_EQ(theirs.fields[1].name, c.stored_name) << c.label.id;
        EXPECT_EQ(theirs.rows[0][1], c.stored_value) << c.label.id;
        engine::Table table;
        table.set_table_name(path);
        table.empty_table();
        expect_label(path, c.label);
    }
}

TEST(TableText, LocateAndFieldNamesIgnoreTheCaseOfTheTextTheCallerSees) {
    testing_support::TempDir dir;
    for (const Label& label : {Label{0x4C, "DBWINUS0", 1252}, Label{0xC0, "cyrr", 866}}) {
        const std::string path = dir.file(label.id + ".DB");
        engine::TableSpec definition;
        definition.language_driver = label.id;
        definition.fields = {{ansi("Код"), 'A', 10}, {ansi("Имя"), 'A', 20}};
        engine::create_table(path, definition);
        engine::Table table;
        table.set_table_name(path);
        table.open();
        for (const char* row : {"Ёлка", "ЯЩИК", "ящерица", "Ящик"}) engine_test::insert_row(table, {ansi(row), ""});
        EXPECT_EQ(table.field_by_name(ansi("ИМЯ")).name(), ansi("Имя")) << label.id;
        ASSERT_TRUE(table.locate(ansi("КОД"), ansi("ёЛКА"), true, true)) << label.id;
        EXPECT_EQ(table.field(0).as_string(), ansi("Ёлка"));
        ASSERT_TRUE(table.locate(ansi("код"), ansi("ящик"), true, true)) << label.id;
        EXPECT_EQ(table.field(0).as_string(), ansi("ЯЩИК"));
        ASSERT_TRUE(table.locate(ansi("код"), ansi("Ящик"), false, true)) << label.id;
        table.edit();
        table.field(1).set_as_string("4th");
        table.post();
        EXPECT_FALSE(table.locate(ansi("код"), ansi("ЯЩИКИ"), true, true)) << label.id;
        ASSERT_TRUE(table.locate(ansi("код"), ansi("ЯЩ"), true, false)) << label.id;
        EXPECT_EQ(table.field(0).as_string(), ansi("ЯЩИК"));
        EXPECT_TRUE(table.locate(ansi("код"), ansi("ящЕР"), true, false)) << label.id;
        EXPECT_FALSE(table.locate(ansi("код"), ansi("ящЕР"), false, false)) << label.id;
    }
}

TEST(TableText, ACharacterTheDriverCannotStoreIsRefusedAndNothingIsWritten) {
    testing_support::TempDir dir;
    const std::string path = dir.file("CYRR.DB");
    engine::TableSpec definition = engine_test::path_table_spec(true);
    definition.code_page = 866;
    engine::create_table(path, definition);
    engine::Table table;
    table.set_table_name(path);
    table.open();
    engine_test::insert_row(table, {"AB", ansi("Курсы"), ""});
    const std::string before = file_bytes(path);
    table.insert();
    table.field_by_name("MASTER_ID").set_as_string("CD");
    try {
        table.field_by_name("MASTER_NAME").set_as_string(ansi("«Курсы»"));
        FAIL() << "stored a character code page 866 lacks";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message().rfind("Column MASTER_NAME of table " + path, 0), 0u) << e.Message();
    }
    // Beyond the column's width nothing is stored, so nothing is refused.
    table.field_by_name("MASTER_ID").set_as_string(std::string(20, 'X') + ansi("«"));
    table.cancel();
    EXPECT_EQ(file_bytes(path), before);
    table.close();
    // Nor can a column be added under a name the code page cannot hold.
    engine::Query alter;
    alter.add_sql_line("alter table '" + path + "' add " + ansi("«ИМЯ»") + " CHAR(10)");
    EXPECT_THROW(alter.exec_sql(), Exception);
    EXPECT_EQ(file_bytes(path), before);
}

// Keys sort in the order of the table's driver: after Я, "cyrr" puts the
// letters 866 adds at its end (Є є Ї ї Ў ў), "ancyrr" sorts them by their
// 1251 bytes (Ў ў Є Ї є ї).
TEST(TableText, KeyedInsertsFollowTheDriversOrder) {
    testing_support::TempDir dir;
    const std::vector<std::string> inserted = {"Ў", "Я", "Є", "ї", "А", "Ё", "є", "Ї", "ў", "Е", "Ж"};
    const struct {
        int code_page;
        std::vector<std::string> order;
    } orders[] = {{866, {"А", "Е", "Ё", "Ж", "Я", "Є", "є", "Ї", "ї", "Ў", "ў"}},
                  {1251, {"А", "Е", "Ё", "Ж", "Я", "Ў", "ў", "Є", "Ї", "є", "ї"}}};
    for (const auto& o : orders) {
        const std::string path = dir.file("K" + std::to_string(o.code_page) + ".DB");
        engine::TableSpec definition = engine_test::path_table_spec(true);
        definition.code_page = o.code_page;
        definition.block_size_kb = 1;
        engine::create_table(path, definition);
        {
            engine::Table table;
            table.set_table_name(path);
            table.open();
            for (int round = 0; round < 4; ++round)
                for (const std::string& key : inserted)
                    engine_test::insert_row(table, {ansi(key) + std::to_string(round), "", ""});
        }
        std::vector<std::string> expected;
        for (const std::string& key : o.order)
            for (int round = 0; round < 4; ++round) expected.push_back(ansi(key) + std::to_string(round));
        std::vector<std::string> keys;
        for (const auto& row : read_all(path)) keys.push_back(row[0]);
        EXPECT_EQ(keys, expected) << o.code_page;
    }
}

}  // namespace

// A memo is text and converts like an alpha value; a formatted memo is a
// binary structure (text among formatting records) and keeps every byte.
TEST(TableText, FormattedMemosKeepTheirBytesUnderADosDriver) {
    testing_support::TempDir dir;
    const std::string path = dir.file("MEMO.DB");
    const std::string stored("\x07\x00\x00\x00\xd8\x80\xc4\x9e\x86 Arial", 15);
    engine_test::pxlib_write(path, {{"ID", 'A', 4}, {"TEXT", 'M', 20}}, {{"1", stored}});
    engine_test::relabel(path, 0x00, "ascii", 850);
    const std::string memo = read_all(path)[0][1];
    EXPECT_NE(memo, stored);
    EXPECT_EQ(memo.size(), stored.size());
    // The second field's type byte: a formatted memo now.
    std::string bytes = file_bytes(path);
    ASSERT_EQ(static_cast<std::uint8_t>(bytes[0x7A]), 0x0C);
    bytes[0x7A] = 0x0E;
    testing_support::write_bytes(path, bytes);
    EXPECT_EQ(read_all(path)[0][1], stored);
}
