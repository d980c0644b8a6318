// Runs with the ANSI code page 932 (Shift-JIS). A table whose name holds a
// character whose second byte has the value of "\" ("表" is 0x95 0x5C) must
// open, change and find its companion files like a table named T.

#include "driver/convert_table.h"
#include "engine/engine.h"
#include "engine/table_file.h"
#include "engine/test_tables.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using Rows = std::vector<std::vector<std::string>>;

class DoubleByteTableName : public ::testing::TestWithParam<const char*> {
protected:
    // The UTF-8 name for the disk, the ANSI path for the engine.
    std::string utf8_name(const std::string& extension) const { return std::string(GetParam()) + "." + extension; }
    std::string path(const std::string& extension) const {
        return testing_support::ansi(dir_.file(utf8_name(extension)));
    }
    std::vector<std::string> files_on_disk() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            names.push_back(testing_support::utf8(entry.path().filename()));
        std::sort(names.begin(), names.end());
        return names;
    }

    testing_support::TempDir dir_;
};

TEST_P(DoubleByteTableName, OpensChangesAndKeepsItsIndexBesideIt) {
    ASSERT_EQ(platform::ansi_code_page(), 932);
    const std::string table = path("DB");
    engine_test::ScopedPassword password("TRAX_OPR");
    engine::create_table(table, engine_test::path_table_spec(true, "TRAX_OPR"));
    EXPECT_EQ(engine::companion_path(table, "PX"), path("PX"));
    {
        engine::Table t;
        t.set_table_name(table);
        t.open();
        engine_test::insert_row(t, {"B", "second", "B.DAT"});
        engine_test::insert_row(t, {"A", "first", "A.DAT"});
    }
    const Rows rows{{"A", "first", "A.DAT"}, {"B", "second", "B.DAT"}};
    EXPECT_EQ(engine_test::read_all(table), rows);

    engine::Query alter;
    alter.add_sql_line("alter table '" + table + "' add DESCRIPTION CHAR(255)");
    alter.exec_sql();
    EXPECT_EQ(engine_test::read_all(table), (Rows{{"A", "first", "A.DAT", ""}, {"B", "second", "B.DAT", ""}}));

    engine::Table t;
    t.set_table_name(table);
    t.open();
    EXPECT_TRUE(t.locate("MASTER_ID", "B", false, true)) << "the key is found through the index";
    EXPECT_EQ(t.field(1).as_string(), "second");
    // No journal, lock or temporary left behind, no file under another name.
    EXPECT_EQ(files_on_disk(), (std::vector<std::string>{utf8_name("DB"), utf8_name("PX")}));
}

TEST_P(DoubleByteTableName, ConvertsIntoTheIniBesideIt) {
    const std::string table = path("DB");
    {
        engine_test::ScopedPassword password("TRAX_OPR");
        engine::create_table(table, engine_test::path_table_spec(true, "TRAX_OPR"));
        engine::Table t;
        t.set_table_name(table);
        t.open();
        engine_test::insert_row(t, {"A", "first", "A.DAT"});
    }
    const std::string argument = testing_support::command_line_argument(dir_.file(utf8_name("DB")));
    const char* argv[] = {"path2ini", argument.c_str()};
    testing::internal::CaptureStdout();
    const int code = ConvertTable(2, argv, ProductionStores());
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(code, 0);
    EXPECT_EQ(testing_support::read_bytes(dir_.path() / testing_support::fs_path(utf8_name("INI"))),
              "[NAME]\r\nA=first\r\n[PATH]\r\nA=A.DAT\r\n");
    EXPECT_EQ(files_on_disk(), (std::vector<std::string>{utf8_name("DB"), utf8_name("INI"), utf8_name("PX")}));
}

std::string case_name(const ::testing::TestParamInfo<const char*>& param) {
    return param.index == 0 ? "Ascii" : "TrailByteBackslash" + std::to_string(param.index);
}

INSTANTIATE_TEST_SUITE_P(Names, DoubleByteTableName, ::testing::Values("T", "表", "表ソ"), case_name);

}  // namespace
