#include "stores/table_store.h"

#include "engine/engine.h"
#include "model/path_text.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/system.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

const std::string kSep = testing_support::kSeparator;

using testing_support::TempDir;

const char kPassword[] = "TRAX_OPR";
constexpr std::uint32_t kPasswordChecksum = 0x5a847b4e;

struct Row {
    std::string id, name, file;
};

class TableStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = testing_support::ansi(testing_support::utf8(temp_.path()));
        previous_handler_ = platform::set_error_box_handler(
            [this](std::string_view text, std::string_view caption) {
                boxes_.push_back({std::string(caption), std::string(text)});
            });
    }
    void TearDown() override {
        platform::set_error_box_handler(previous_handler_);
        EXPECT_FALSE(engine::Session::instance().holds_checksum(kPasswordChecksum))
            << "the session password outlived the operation";
    }

    // A path table as the users' programs keep it: keyed on MASTER_ID,
    // encrypted with the session password, without DESCRIPTION.
    std::string make_table(const std::string& name, const std::vector<Row>& rows, bool description = false,
                           const std::string& password = kPassword) {
        const std::string path = dir_ + kSep + name;
        engine::TableSpec definition;
        definition.fields = {{"MASTER_ID", 'A', 10}, {"MASTER_NAME", 'A', 40}, {"MASTER_FILE", 'A', 80}};
        if (description) definition.fields.push_back({"Description", 'A', 255});
        definition.key_fields = 1;
        definition.password = password;
        engine::create_table(path, definition);
        if (!password.empty()) engine::Session::instance().add_password(password);
        {
            engine::Table table;
            table.set_table_name(path);
            table.open();
            for (const Row& r : rows) {
                table.insert();
                table.field_by_name("MASTER_ID").set_as_string(r.id);
                table.field_by_name("MASTER_NAME").set_as_string(r.name);
                table.field_by_name("MASTER_FILE").set_as_string(r.file);
                table.post();
            }
        }
        if (!password.empty()) engine::Session::instance().remove_password(password);
        return path;
    }

    std::vector<std::string> columns(const std::string& path) {
        engine::Session::instance().add_password(kPassword);
        std::vector<std::string> names;
        {
            engine::Table table;
            table.set_table_name(path);
            table.open();
            for (int i = 0; i < table.field_count(); ++i) names.push_back(table.field(i).name());
        }
        engine::Session::instance().remove_password(kPassword);
        return names;
    }

    std::vector<Row> rows(const std::string& path) {
        TDatFileDescList list;
        store_.ReadAll(path, list);
        std::vector<Row> out;
        for (const auto& e : list.Items) out.push_back({ToString(e->Id), ToString(e->Name), ToString(e->RawPath)});
        return out;
    }

    struct Box {
        std::string caption, text;
    };

    TempDir temp_;
    testing_support::CurrentDirectoryGuard restore_;  // before temp_ goes
    std::string dir_;
    platform::ErrorBoxHandler previous_handler_;
    std::vector<Box> boxes_;
    TDatFileStorageDb store_;
};

TEST_F(TableStoreTest, ReadAllResolvesRowsAgainstTheTablesDirectory) {
    const std::string path = make_table("T.DB", {{"CD", cp1251("Курсы"), "DATA\\A.DAT"}, {"AB", "Accounts", ""}});
    TDatFileDescList list;
    store_.ReadAll(path, list);
    ASSERT_EQ(list.Count(), 2);
    // Key order, not insertion order.
    EXPECT_EQ(list.Item(0).Id, "AB");
    EXPECT_EQ(list.Item(0).FileDir, "");
    EXPECT_EQ(list.Item(0).FileName, UpperCase(dir_ + kSep + "AB"));
    EXPECT_EQ(list.Item(1).Name, cp1251("Курсы"));
    EXPECT_EQ(list.Item(1).RawPath, "DATA\\A.DAT");
    EXPECT_EQ(list.Item(1).FileDir, UpperCase(dir_) + kSep + "DATA" + kSep);
    EXPECT_EQ(list.Item(1).FileName, "A.DAT");
    EXPECT_EQ(platform::current_directory(), dir_);
    EXPECT_TRUE(boxes_.empty());

    store_.ReadAll(path, list);
    EXPECT_EQ(list.Count(), 4) << "ReadAll appends";
}

TEST_F(TableStoreTest, UpgradeAddsDescriptionOnce) {
    const std::string path = make_table("T.DB", {{"AB", "a", "x.dat"}});
    EXPECT_EQ(columns(path).size(), 3u);
    EXPECT_EQ(rows(path).size(), 1u);
    const std::vector<std::string> expected{"MASTER_ID", "MASTER_NAME", "MASTER_FILE", "DESCRIPTION"};
    EXPECT_EQ(columns(path), expected);
    EXPECT_EQ(rows(path).size(), 1u);
    EXPECT_EQ(columns(path), expected) << "a table that has the column is not altered again";

    const std::string other = make_table("U.DB", {{"AB", "a", "x.dat"}}, /*description=*/true);
    rows(other);
    EXPECT_EQ(columns(other).size(), 4u) << "the column is found ignoring case";
}

TEST_F(TableStoreTest, MissingOrEmptyTableReadsNothing) {
    TDatFileDescList list;
    store_.ReadAll(dir_ + kSep + "NONE.DB", list);
    store_.ReadAll(make_table("E.DB", {}), list);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(TableStoreTest, FailedCheckIsShownAndThenRaised) {
    const std::string path = make_table("W.DB", {{"AB", "a", "x.dat"}}, false, "other");
    TDatFileDescList list;
    try {
        store_.ReadAll(path, list);
        FAIL() << "a table that fails its check must not read as empty";
    } catch (const ShownException& e) {
        // Shown, so that the run ends without showing it a second time.
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].caption, cp1251("Ошибка"));
        EXPECT_EQ(boxes_[0].text.rfind(cp1251("Ошибка открытия файла ") + path + "\n", 0), 0u) << boxes_[0].text;
        EXPECT_EQ(e.Message(), boxes_[0].text);
    }
    EXPECT_EQ(list.Count(), 0);

    // The other operations keep going as if there were no table.
    TDatFileDesc entry;
    entry.Name = "kept";
    store_.ReadEntry(path, "AB", entry);
    EXPECT_EQ(entry.Name, "kept");
    EXPECT_EQ(boxes_.size(), 2u);
}

// A table without all three MASTER_ columns is not a path table: it is
// refused before the upgrade would change it, and nothing of it is read.
TEST_F(TableStoreTest, ATableThatIsNotAPathTableIsLeftAsItIs) {
    for (const char* missing : {"MASTER_ID", "MASTER_NAME", "MASTER_FILE"}) {
        const std::string path = dir_ + kSep + "M.DB";
        engine::TableSpec definition;
        for (const char* column : {"MASTER_ID", "MASTER_NAME", "MASTER_FILE"})
            if (std::string(column) != missing) definition.fields.push_back({column, 'A', 40});
        definition.password = kPassword;
        engine::create_table(path, definition);
        const std::string before = testing_support::read_bytes(temp_.path() / "M.DB");
        boxes_.clear();
        TDatFileDescList list;
        EXPECT_THROW(store_.ReadAll(path, list), ShownException) << missing;
        EXPECT_EQ(list.Count(), 0);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_NE(boxes_[0].text.find(missing), std::string::npos) << boxes_[0].text;
        EXPECT_EQ(testing_support::read_bytes(temp_.path() / "M.DB"), before)
            << "the table was changed although it lacks " << missing;
    }
}

TEST_F(TableStoreTest, ReadEntryFindsTheRowIgnoringCaseAndExpandsThePath) {
    const std::string path = make_table("T.DB", {{"ABC", "Name", "DATA\\A.DAT"}});
    TDatFileDesc entry;
    store_.ReadEntry(path, "abc", entry);
    EXPECT_EQ(entry.Id, "ABC");
    EXPECT_EQ(entry.Name, "Name");
    EXPECT_EQ(entry.RawPath, dir_ + kSep + "DATA" + kSep + "A.DAT");

    TDatFileDesc untouched;
    untouched.Name = "same";
    store_.ReadEntry(path, "ab", untouched);
    EXPECT_EQ(untouched.Name, "same") << "a prefix does not match";
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(TableStoreTest, WriteEntryUpdatesOrInsertsWithRelativePaths) {
    const std::string path = make_table("T.DB", {{"AB", "old", "old.dat"}});
    TDatFileDesc entry;
    entry.Id = " ab ";
    entry.Name = "new";
    SetFileDir(entry, dir_ + kSep + "DATA" + kSep);
    SetFileName(entry, "A.DAT");
    store_.WriteEntry(path, entry);

    TDatFileDesc other;
    other.Id = "cd";
    other.Name = cp1251("Другой");
    SetFileDir(other, "D:\\X\\");
    SetFileName(other, "a.dat");
    store_.WriteEntry(path, other);

    const auto got = rows(path);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].id, "AB");
    EXPECT_EQ(got[0].name, "new");
    EXPECT_EQ(got[0].file, "DATA\\A.DAT");
    EXPECT_EQ(got[1].id, "CD");
    EXPECT_EQ(got[1].file, "D:\\X\\A.DAT");
}

TEST_F(TableStoreTest, WriteAllReplacesTheRowsAndMergesDuplicateIdentifiers) {
    const std::string path = make_table("T.DB", {{"ZZ", "gone", "z.dat"}});
    TDatFileDescList list;
    SetPaths(list.Add(), "ab", "first.dat", "first");
    SetPaths(list.Add(), "AB", "second.dat", "second");
    store_.WriteAll(path, list);
    const auto got = rows(path);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, "AB");
    EXPECT_EQ(got[0].name, "second");
    EXPECT_EQ(got[0].file, "second.dat");
}

TEST_F(TableStoreTest, WriteAllWithAnEmptyListOnlyEmptiesTheTable) {
    const std::string path = make_table("T.DB", {{"AB", "a", "a.dat"}});
    TDatFileDescList empty;
    store_.WriteAll(path, empty);
    EXPECT_EQ(columns(path).size(), 3u) << "the table was not examined for DESCRIPTION";
    EXPECT_TRUE(rows(path).empty());
}

TEST_F(TableStoreTest, QuotesInTheTablePathAreEscaped) {
    std::filesystem::create_directory(temp_.path() / "O'Brien");
    const std::string path = make_table("O'Brien" + kSep + "T.DB", {{"AB", "a", "a.dat"}});
    const auto got = rows(path);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(columns(path).size(), 4u);
    EXPECT_TRUE(boxes_.empty());
}

}  // namespace
