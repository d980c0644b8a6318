// The real executable on real tables in temporary directories.

#include "engine/engine.h"
#include "engine/pxlib_oracle.h"
#include "platform/cp1251.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using testing_support::read_bytes;
using testing_support::TempDir;

const char kPassword[] = "TRAX_OPR";

struct Row {
    std::string id, name, file;  // UTF-8 in the test, stored in the table's code page
};

struct Outcome {
    int code = -1;
    std::string out, err;  // UTF-8, as the console shows them
};


std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs the executable in `cwd`; `environment` is put before the command
// ("P2I_ANSI_CODEPAGE=1252").
Outcome run(const fs::path& cwd, const std::vector<std::string>& args, const std::string& environment = "") {
    std::string command = "cd " + quote(cwd.string()) + " && " + environment + " " + quote(P2I_EXECUTABLE);
    for (const auto& a : args) command += " " + quote(a);
    const fs::path out = cwd / ".run.out", err = cwd / ".run.err";
    command += " >" + quote(out.string()) + " 2>" + quote(err.string());
    const int status = std::system(command.c_str());
    Outcome r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_bytes(out);
    r.err = read_bytes(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

struct TableOptions {
    bool keyed = true;
    int code_page = 1251;
    std::string password = kPassword;
    bool with_file_column = true;
    std::string language_driver = {};
};

void make_table(const fs::path& path, const std::vector<Row>& rows, const TableOptions& options = {}) {
    const std::string ansi_path = platform::from_command_line(path.string());
    engine::TableSpec definition;
    definition.fields = {{"MASTER_ID", 'A', 10}, {"MASTER_NAME", 'A', 60}};
    if (options.with_file_column) definition.fields.push_back({"MASTER_FILE", 'A', 120});
    definition.key_fields = options.keyed ? 1 : 0;
    definition.code_page = options.code_page;
    definition.language_driver = options.language_driver;
    definition.password = options.password;
    engine::create_table(ansi_path, definition);
    if (!options.password.empty()) engine::Session::instance().add_password(options.password);
    {
        engine::Table table;
        table.set_table_name(ansi_path);
        table.open();
        for (const Row& r : rows) {
            table.insert();
            table.field_by_name("MASTER_ID").set_as_string(platform::from_command_line(r.id));
            table.field_by_name("MASTER_NAME").set_as_string(platform::from_command_line(r.name));
            if (options.with_file_column)
                table.field_by_name("MASTER_FILE").set_as_string(platform::from_command_line(r.file));
            table.post();
        }
    }
    if (!options.password.empty()) engine::Session::instance().remove_password(options.password);
}

std::vector<std::string> columns(const fs::path& path) {
    engine::Session::instance().add_password(kPassword);
    std::vector<std::string> names;
    {
        engine::Table table;
        table.set_table_name(platform::from_command_line(path.string()));
        table.open();
        for (int i = 0; i < table.field_count(); ++i) names.push_back(table.field(i).name());
    }
    engine::Session::instance().remove_password(kPassword);
    return names;
}

// The INI file as UTF-8 text.
std::string ini(const fs::path& path) { return platform::to_console(read_bytes(path)); }

const std::vector<Row> kRows = {
    {"CD", "Курсы валют", "LIB\\CD.DAT"},
    {"AB", "Лицевые счета", "..\\DATA\\AB.DAT"},
    {"EF", "Архив", "D:\\OLD\\EF.DAT"},
    {"GH", "Справочник", ""},
};

const char kExpectedIni[] =
    "[NAME]\r\nAB=Лицевые счета\r\nCD=Курсы валют\r\nEF=Архив\r\nGH=Справочник\r\n"
    "[PATH]\r\nAB=..\\DATA\\AB.DAT\r\nCD=LIB\\CD.DAT\r\nEF=D:\\OLD\\EF.DAT\r\nGH=GH\r\n";

TEST(EndToEnd, ConvertsAnEncryptedKeyedTableAndUpgradesItOnce) {
    TempDir dir;
    make_table(dir.path() / "PATHS.DB", kRows);
    const Outcome r = run(dir.path(), {"PATHS.DB"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "PATHS.DB\n" + (dir.path() / "PATHS.DB").string() + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ini(dir.path() / "PATHS.INI"), kExpectedIni);
    const std::vector<std::string> upgraded{"MASTER_ID", "MASTER_NAME", "MASTER_FILE", "DESCRIPTION"};
    EXPECT_EQ(columns(dir.path() / "PATHS.DB"), upgraded);

    const Outcome again = run(dir.path(), {"PATHS.DB"});
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(columns(dir.path() / "PATHS.DB"), upgraded);
    EXPECT_EQ(ini(dir.path() / "PATHS.INI"), kExpectedIni);
}

TEST(EndToEnd, UnkeyedPlainAnd866TablesConvertInTheirOwnOrder) {
    TempDir dir;
    make_table(dir.path() / "U.DB", kRows, {.keyed = false, .password = ""});
    make_table(dir.path() / "O.DB", kRows, {.code_page = 866});
    ASSERT_EQ(run(dir.path(), {"U.DB"}).code, 0);
    ASSERT_EQ(run(dir.path(), {"O.DB"}).code, 0);
    const std::string unkeyed = ini(dir.path() / "U.INI");
    EXPECT_LT(unkeyed.find("CD=Курсы валют"), unkeyed.find("AB=Лицевые счета")) << "file order, not sorted";
    EXPECT_EQ(ini(dir.path() / "O.INI"), kExpectedIni) << "866 names arrive as 1251 text";
}

// The label a table's header keeps: sort-order byte, id string, code page.
std::string label(const fs::path& path) {
    const std::string h = read_bytes(path);
    const auto word = [&](std::size_t at) {
        return static_cast<unsigned char>(h[at]) | static_cast<unsigned char>(h[at + 1]) << 8;
    };
    return std::to_string(static_cast<unsigned char>(h[0x29])) + "/" + std::string(h.c_str() + 0x58 + word(0x6E)) +
           "/" + std::to_string(word(0x6A));
}

// Tables under each language driver's label, as the old engine wrote them
// (by pxlib, relabelled): the INI gets exactly the bytes the old engine
// hands over, and the upgrade keeps the label.
TEST(EndToEnd, TableTextReachesTheIniAsTheLanguageDriverHandsItOver) {
    TempDir dir;
    const struct {
        const char* table;
        std::uint8_t sort_order;
        const char* id;
        int code_page;
        std::string stored_name, stored_file;  // bytes in the table
        std::string name, file;                // bytes in the INI
    } cases[] = {
        // Russian and Western text in Western ANSI tables, under the default 1251.
        {"US", 0x4C, "DBWINUS0", 1252, cp1251("Республиканский бюджет"), cp1251("ДАННЫЕ\\Б.DAT"),
         cp1251("Республиканский бюджет"), cp1251("ДАННЫЕ\\Б.DAT")},
        {"WE", 0x40, "DBWINWE0", 1252, "Montr\xe9\x61l", "CAF\xc9\\A.DAT", "Montr\xe9\x61l", "CAF\xc9\\A.DAT"},
        // Code page 0 and a double-byte ANSI table.
        {"R8", 0x14, "BLROM800", 0, cp1251("Внешний мир"), "A.DAT", cp1251("Внешний мир"), "A.DAT"},
        {"CN", 0x03, "china", 936, "\xd6\xd0\xce\xc4", "A.DAT", "\xd6\xd0\xce\xc4", "A.DAT"},
        // DOS tables, converted to their Windows partner.
        {"RU", 0xC0, "cyrr", 866, "\x8a\xe3\xe0\xe1\xeb \xc4 \xf2", "\x84\x80\x8d\x8d\x9b\x85\\\x81.DAT",
         cp1251("Курсы") + " - \xaa", cp1251("ДАННЫЕ\\Б.DAT")},
        {"AS", 0x00, "ascii", 437, "Caf\x82 \xe0", "CAF\x90\\A.DAT", "Caf\xe9 a", "CAF\xc9\\A.DAT"},
    };
    const std::vector<engine_test::OracleField> fields = {
        {"MASTER_ID", 'A', 10}, {"MASTER_NAME", 'A', 60}, {"MASTER_FILE", 'A', 120}};
    for (const auto& c : cases) {
        const fs::path table = dir.path() / (std::string(c.table) + ".DB");
        engine_test::pxlib_write(table.string(), fields, {{"AB", c.stored_name, c.stored_file}, {"CD", "x", ""}}, kPassword);
        engine_test::relabel(table.string(), c.sort_order, c.id, c.code_page);
        const std::string before = label(table);
        const Outcome r = run(dir.path(), {table.filename().string()});
        ASSERT_EQ(r.code, 0) << c.table << ": " << r.err;
        EXPECT_EQ(read_bytes(dir.path() / (std::string(c.table) + ".INI")),
                  "[NAME]\r\nAB=" + c.name + "\r\nCD=x\r\n[PATH]\r\nAB=" + c.file + "\r\nCD=CD\r\n")
            << c.table;
        EXPECT_EQ(label(table), before) << c.table;
        EXPECT_EQ(columns(table).size(), 4u) << c.table;
    }
}

// Tables our engine labels: a Western ANSI table and a code page 0 table
// keep the 1251 bytes they were given; a DOS table hands over 1251 text
// even where the process's ANSI code page is 1252.
TEST(EndToEnd, LabelledEngineTablesConvertUnderAnyAnsiCodePage) {
    TempDir dir;
    // The engine keeps no key order of these two drivers: unkeyed tables.
    make_table(dir.path() / "US.DB", kRows, {.keyed = false, .language_driver = "DBWINUS0"});
    make_table(dir.path() / "R8.DB", kRows, {.keyed = false, .language_driver = "BLROM800"});
    make_table(dir.path() / "RU.DB", kRows, {.code_page = 866});
    EXPECT_EQ(label(dir.path() / "US.DB"), "76/DBWINUS0/1252");
    EXPECT_EQ(label(dir.path() / "R8.DB"), "20/BLROM800/0");
    const std::string in_row_order = cp1251(
        "[NAME]\r\nCD=Курсы валют\r\nAB=Лицевые счета\r\nEF=Архив\r\nGH=Справочник\r\n"
        "[PATH]\r\nCD=LIB\\CD.DAT\r\nAB=..\\DATA\\AB.DAT\r\nEF=D:\\OLD\\EF.DAT\r\nGH=GH\r\n");
    for (const std::string environment : {"", "P2I_ANSI_CODEPAGE=1252"}) {
        for (const char* table : {"US", "R8", "RU"}) {
            const Outcome r = run(dir.path(), {std::string(table) + ".DB"}, environment);
            ASSERT_EQ(r.code, 0) << table << " " << environment << ": " << r.err;
            EXPECT_EQ(read_bytes(dir.path() / (std::string(table) + ".INI")),
                      std::string(table) == "RU" ? cp1251(kExpectedIni) : in_row_order)
                << table << " " << environment;
        }
    }
}

TEST(EndToEnd, KeepsOtherSectionsAndDropsOldKeysAndPriority) {
    TempDir dir;
    make_table(dir.path() / "PATHS.DB", {{"AB", "Новое", "a.dat"}});
    std::ofstream(dir.path() / "PATHS.INI", std::ios::binary)
        << "[Options]\r\nx=1\r\n[NAME]\r\nOLD=old\r\n[PRIORITY]\r\nAB=3\r\n[PATH]\r\nOLD=o.dat\r\n[Tail]\r\ny=2\r\n";
    ASSERT_EQ(run(dir.path(), {"PATHS.DB"}).code, 0);
    EXPECT_EQ(ini(dir.path() / "PATHS.INI"),
              "[Options]\r\nx=1\r\n[Tail]\r\ny=2\r\n[NAME]\r\nAB=Новое\r\n[PATH]\r\nAB=a.dat\r\n");
}

TEST(EndToEnd, ArgumentsWithoutExtensionInCyrillicDirectories) {
    TempDir dir;
    fs::create_directories(dir.path() / "Данные" / "Пути");
    make_table(dir.path() / "Данные" / "Пути" / "Таблица", kRows);
    const Outcome r = run(dir.path() / "Данные", {"Пути/Таблица"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Таблица\n" + (dir.path() / "Данные" / "Пути" / "Таблица").string() + "\n");
    EXPECT_EQ(ini(dir.path() / "Данные" / "Пути" / "Таблица.INI"), kExpectedIni);
}

TEST(EndToEnd, DuplicateIdentifiersLeaveTheLaterRow) {
    TempDir dir;
    make_table(dir.path() / "D.DB", {{"ab", "first", "1.dat"}, {"AB", "second", "2.dat"}},
               {.keyed = false});
    const Outcome r = run(dir.path(), {"D.DB"});
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(ini(dir.path() / "D.INI"), "[NAME]\r\nAB=second\r\n[PATH]\r\nAB=2.dat\r\n");
    EXPECT_EQ(r.err, "Предупреждение: идентификатор \"AB\" встречается в таблице несколько раз (строк: 2), "
                     "в INI-файл записана последняя строка\n");
}

TEST(EndToEnd, HelpAndVersionTouchNothing) {
    TempDir dir;
    const Outcome help = run(dir.path(), {"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Использование:"), std::string::npos) << help.out;
    const Outcome version = run(dir.path(), {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "path2ini " P2I_VERSION "\n");
    EXPECT_EQ(help.err + version.err, "");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// A code page that cannot be used would read and write every name wrongly:
// the run ends before it reads or writes anything.
TEST(EndToEnd, UnusableCodePageSettingIsRefused) {
    TempDir dir;
    make_table(dir.path() / "T.DB", kRows);
    std::ofstream(dir.path() / "T.INI", std::ios::binary) << "[NAME]\r\nKEEP=me\r\n";
    const auto table = read_bytes(dir.path() / "T.DB");
    for (const char* value : {"abc", "65001", "866"}) {
        const Outcome r = run(dir.path(), {"T.DB"}, std::string("P2I_ANSI_CODEPAGE=") + value + " ");
        EXPECT_EQ(r.code, 3) << value;
        EXPECT_EQ(r.out, "") << value;
        EXPECT_EQ(r.err.rfind("Недопустимое значение переменной окружения P2I_ANSI_CODEPAGE \"" +
                                  std::string(value) + "\": допустимы кодовые страницы 1250, 1251",
                              0),
                  0u)
            << r.err;
        EXPECT_NE(r.err.find("\nAbnormal program termination\n"), std::string::npos) << r.err;
    }
    EXPECT_EQ(read_bytes(dir.path() / "T.DB"), table);
    EXPECT_EQ(read_bytes(dir.path() / "T.INI"), "[NAME]\r\nKEEP=me\r\n");
}

TEST(EndToEnd, MessagesAreSpelledInLatinUnderACodePageWithoutCyrillic) {
    TempDir dir;
    const Outcome r = run(dir.path(), {"T.DB"}, "P2I_ANSI_CODEPAGE=1252 ");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "Ne nayden fayl tablitsy " + (dir.path() / "T.DB").string() + "\nAbnormal program termination\n");
}

TEST(EndToEnd, ConvertsTablesThatPxlibWrote) {
    TempDir dir;
    const std::vector<engine_test::OracleField> fields = {
        {"MASTER_ID", 'A', 10}, {"MASTER_NAME", 'A', 40}, {"MASTER_FILE", 'A', 80}, {"OWNER", 'I', 4}};
    const std::vector<engine_test::Row> rows = {
        {"AB", "Accounts", "..\\DATA\\AB.DAT", "7"}, {"CD", "Rates", "LIB\\CD.DAT", ""}, {"GH", "Codes", "", "1"}};
    engine_test::pxlib_write((dir.path() / "PX.DB").string(), fields, rows, kPassword);
    engine_test::pxlib_write((dir.path() / "PLAIN.DB").string(), fields, rows);
    const char expected[] = "[NAME]\r\nAB=Accounts\r\nCD=Rates\r\nGH=Codes\r\n"
                            "[PATH]\r\nAB=..\\DATA\\AB.DAT\r\nCD=LIB\\CD.DAT\r\nGH=GH\r\n";
    for (const char* table : {"PX", "PLAIN"}) {
        const Outcome r = run(dir.path(), {std::string(table) + ".DB"});
        ASSERT_EQ(r.code, 0) << table << ": " << r.err;
        EXPECT_EQ(read_bytes(dir.path() / (std::string(table) + ".INI")), expected) << table;
    }
    // The upgraded table still reads through pxlib, every row and value kept.
    const auto upgraded = engine_test::pxlib_read((dir.path() / "PX.DB").string(), kPassword);
    ASSERT_EQ(upgraded.fields.size(), 5u);
    EXPECT_EQ(upgraded.fields[4].name, "DESCRIPTION");
    ASSERT_EQ(upgraded.rows.size(), 3u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t f = 0; f < rows[i].size(); ++f) EXPECT_EQ(upgraded.rows[i][f], rows[i][f]) << i << "," << f;
        EXPECT_EQ(upgraded.rows[i][4], "");
    }
}

// Failures end with exit code 3 and leave an existing INI file byte for byte.
class Failure : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(dir_.path() / "T.INI", std::ios::binary) << kOldIni; }
    // The reason is on standard error once, the termination line after it.
    void expect_failure(const std::string& message_part) {
        const Outcome r = run(dir_.path(), {"T.DB"});
        EXPECT_EQ(r.code, 3);
        const std::size_t found = r.err.find(message_part);
        EXPECT_NE(found, std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(message_part, found + 1), std::string::npos) << "shown twice: " << r.err;
        const std::string end = "\nAbnormal program termination\n";
        EXPECT_TRUE(r.err.size() > end.size() && r.err.substr(r.err.size() - end.size()) == end) << r.err;
        EXPECT_EQ(read_bytes(dir_.path() / "T.INI"), kOldIni);
    }
    static constexpr const char* kOldIni = "[NAME]\r\nKEEP=me\r\n";
    TempDir dir_;
};

TEST_F(Failure, WrongPassword) {
    make_table(dir_.path() / "T.DB", kRows, {.password = "secret"});
    expect_failure("Ошибка открытия файла");
}

TEST_F(Failure, MissingColumn) {
    make_table(dir_.path() / "T.DB", kRows, {.with_file_column = false});
    const std::string before = read_bytes(dir_.path() / "T.DB");
    expect_failure("MASTER_FILE");
    EXPECT_EQ(read_bytes(dir_.path() / "T.DB"), before) << "a table that is not a path table was changed";
}

// The header counts 4 rows, its only block is marked empty: a damaged
// table, which is neither read as empty nor upgraded.
TEST_F(Failure, RowCountTheBlocksDoNotHold) {
    make_table(dir_.path() / "T.DB", kRows, {.keyed = false, .password = ""});
    std::string damaged = read_bytes(dir_.path() / "T.DB");
    damaged[0x800 + 4] = static_cast<char>(0x100 - 190);  // -190: no records in a block of 190-byte ones
    damaged[0x800 + 5] = '\xFF';
    testing_support::write_bytes(dir_.path() / "T.DB", damaged);
    expect_failure("counts 4 rows");
    EXPECT_EQ(read_bytes(dir_.path() / "T.DB"), damaged);
}

// PDOXUSRS.LCK in the folder lists the table among those in use (the
// layout src/engine/table_guard.cpp describes).
TEST_F(Failure, TableInUseByAnotherProgram) {
    make_table(dir_.path() / "T.DB", kRows);
    std::string lock(0xC00, '\0');
    lock.replace(0, 4, "\x23\x00\x00\x02", 4);
    lock.replace(0x400, 6, "\xFF\xFF\x01\x00\x00\x00", 6);
    lock.replace(0x406, 8, "\x02\x00\x00\x00\x02\x00T\x00", 8);
    testing_support::write_bytes(dir_.path() / "PDOXUSRS.LCK", lock);
    const std::string before = read_bytes(dir_.path() / "T.DB");
    expect_failure("PDOXUSRS.LCK");
    EXPECT_EQ(read_bytes(dir_.path() / "T.DB"), before);
}

TEST_F(Failure, CorruptTable) {
    std::ofstream(dir_.path() / "T.DB", std::ios::binary) << std::string(3000, '\x7f');
    expect_failure("Ошибка открытия файла");
}

TEST_F(Failure, MissingTable) { expect_failure("Не найден файл таблицы"); }

TEST(EndToEnd, IniThatCannotBeWritten) {
    TempDir dir;
    make_table(dir.path() / "T.DB", kRows);
    fs::create_directory(dir.path() / "T.INI");
    const Outcome r = run(dir.path(), {"T.DB"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("Unable to write to"), std::string::npos) << r.err;
}

}  // namespace
