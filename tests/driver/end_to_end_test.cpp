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

// Runs the executable in cwd; environment is prepended to the command
// ("NAME=value ").
Outcome run(const fs::path& cwd, const std::vector<std::string>& args, const std::string& environment = "") {
    std::string command = "cd " + quote(cwd.string()) + " && " + environment + quote(P2I_EXECUTABLE);
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
};

void make_table(const fs::path& path, const std::vector<Row>& rows, const TableOptions& options = {}) {
    const std::string ansi_path = platform::from_command_line(path.string());
    engine::TableSpec definition;
    definition.fields = {{"MASTER_ID", 'A', 10}, {"MASTER_NAME", 'A', 60}};
    if (options.with_file_column) definition.fields.push_back({"MASTER_FILE", 'A', 120});
    definition.key_fields = options.keyed ? 1 : 0;
    definition.code_page = options.code_page;
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
    expect_failure("MASTER_FILE");
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
