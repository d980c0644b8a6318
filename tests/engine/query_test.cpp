// The local SQL: the two statements, in any case and spacing, and nothing
// else.

#include "engine/engine.h"
#include "engine/test_tables.h"
#include "platform/exception.h"

#include <gtest/gtest.h>

namespace {

TEST(Query, SelectFindsColumnsByNameIgnoringCase) {
    testing_support::TempDir dir;
    const std::string path = dir.file("O'Brien.DB");
    engine::create_table(path, engine_test::path_table_spec(false));
    std::string quoted;
    for (char c : path) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    for (const std::string& text : {"select * from '" + quoted + "'",
                                    "  SELECT\t*\nFROM   '" + quoted + "' ;  ",
                                    "Select*From'" + quoted + "'"}) {
        engine::Query query;
        query.add_sql_line(text);
        query.open();
        EXPECT_TRUE(query.active());
        ASSERT_NE(query.find_field("master_id"), nullptr);
        EXPECT_EQ(query.find_field("master_id")->name(), "MASTER_ID");
        EXPECT_EQ(query.find_field("DESCRIPTION"), nullptr);
        query.close();
        EXPECT_FALSE(query.active());
    }
}

TEST(Query, AnythingElseIsAnUnsupportedStatement) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::create_table(path, engine_test::path_table_spec(false));
    for (const std::string& text :
         {std::string("select MASTER_ID from '") + path + "'", "delete from '" + path + "'",
          "select * from " + path, "select * from '" + path, "select * from '" + path + "' where 1",
          "alter table '" + path + "' add X VARCHAR(5)", "alter table '" + path + "' drop X",
          "alter table '" + path + "' add X CHAR()", std::string("")}) {
        engine::Query query;
        query.add_sql_line(text);
        try {
            query.open();
            query.exec_sql();
            ADD_FAILURE() << "accepted: " << text;
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find("nsupported statement"), std::string::npos) << e.Message();
        }
    }
}

TEST(Query, AlterAddsACharColumnOnceAndTheStatementMaySpanLines) {
    testing_support::TempDir dir;
    const std::string path = dir.file("T.DB");
    engine::create_table(path, engine_test::path_table_spec(true));
    {
        engine::Table table;
        table.set_table_name(path);
        table.open();
        engine_test::insert_row(table, {"B", "bee", "b.dat"});
        engine_test::insert_row(table, {"A", "ay", "a.dat"});
    }
    engine::Query query;
    query.add_sql_line("ALTER TABLE '" + path + "'");
    query.add_sql_line("  add DESCRIPTION char ( 255 )");
    query.exec_sql();
    EXPECT_EQ(engine_test::read_all(path),
              (std::vector<std::vector<std::string>>{{"A", "ay", "a.dat", ""}, {"B", "bee", "b.dat", ""}}));
    EXPECT_THROW(query.exec_sql(), Exception);  // the column exists now
    query.clear_sql();
    query.add_sql_line("select * from '" + path + "'");
    query.open();
    EXPECT_NE(query.find_field("Description"), nullptr);
}

}  // namespace
