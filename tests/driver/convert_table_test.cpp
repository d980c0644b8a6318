#include "driver/convert_table.h"
#include "model/path_text.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/system.h"
#include "platform/text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using testing_support::fs_path;
using testing_support::kSeparator;
using testing_support::TempDir;

// A store that records every call and deletion in a shared log, and can be
// told to fail.
class RecordingStore final : public TDatFilePath {
public:
    RecordingStore(std::string name, std::vector<std::string>& log, bool fail, std::vector<std::string> ids)
        : name_(std::move(name)), log_(log), fail_(fail), ids_(std::move(ids)) {}
    ~RecordingStore() override { log_.push_back("delete " + name_); }

    std::string StoreFileName(const std::string&) override { return std::string(); }
    void ReadEntry(const std::string&, const std::string&, TDatFileDesc&) override {}
    void ReadAll(const std::string& path, TDatFileDescList& list) override {
        log_.push_back(name_ + ".ReadAll " + path);
        if (fail_) throw Exception("read failed");
        for (const std::string& id : ids_) SetPaths(list.Add(), id, "", "n");
    }
    void WriteAll(const std::string& path, TDatFileDescList& list) override {
        log_.push_back(name_ + ".WriteAll " + path + " " + std::to_string(list.Count()));
        if (fail_) throw Exception("write failed");
    }

private:
    std::string name_;
    std::vector<std::string>& log_;
    bool fail_;
    std::vector<std::string> ids_;
};

class ConvertTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ansi_ = testing_support::ansi(testing_support::utf8(dir_.path()));
        ASSERT_TRUE(platform::set_current_directory(dir_ansi_));
    }

    StoreFactory stores(bool tableFails = false, bool iniFails = false,
                        std::vector<std::string> ids = {"ID0", "ID1"}) {
        return StoreFactory{
            [this, tableFails, ids] {
                log_.push_back("create table");
                return std::unique_ptr<TDatFilePath>(std::make_unique<RecordingStore>("table", log_, tableFails, ids));
            },
            [this, iniFails] {
                log_.push_back("create ini");
                return std::unique_ptr<TDatFilePath>(
                    std::make_unique<RecordingStore>("ini", log_, iniFails, std::vector<std::string>{}));
            }};
    }

    int run(std::vector<std::string> args, const StoreFactory& factory, std::string* out = nullptr) {
        std::vector<const char*> argv{"path2ini"};
        for (const auto& a : args) argv.push_back(a.c_str());
        testing::internal::CaptureStdout();
        int code = 0;
        try {
            code = ConvertTable(static_cast<int>(argv.size()), argv.data(), factory);
        } catch (...) {
            captured_ = testing::internal::GetCapturedStdout();
            throw;
        }
        captured_ = testing::internal::GetCapturedStdout();
        if (out != nullptr) *out = captured_;
        return code;
    }

    TempDir dir_;
    testing_support::CurrentDirectoryGuard restore_;  // before dir_ goes
    std::string dir_ansi_;
    std::string captured_;
    std::vector<std::string> log_;
};

TEST_F(ConvertTableTest, WrongArgumentCountPrintsUsageAndCreatesNothing) {
    std::string out;
    EXPECT_EQ(run({}, stores(), &out), -1);
    EXPECT_EQ(out, platform::to_console(cp1251("Неверное количество параметров (должно быть 2)")) + "\n");
    EXPECT_EQ(run({"a", "b"}, stores()), -1);
    EXPECT_TRUE(log_.empty());
}

TEST_F(ConvertTableTest, HelpAndVersionArePrintedAndCreateNothing) {
    std::string out;
    for (const char* option : {"--help", "-h"}) {
        log_.clear();
        EXPECT_EQ(run({option}, stores(), &out), 0) << option;
        EXPECT_TRUE(log_.empty()) << option;
        const std::string console = platform::to_console(cp1251("Использование:\n  path2ini ТАБЛИЦА\n"));
        EXPECT_NE(out.find(console), std::string::npos) << out;
        for (const char* part : {"DESCRIPTION", "PRIORITY", "0 ", "3 "})
            EXPECT_NE(out.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(run({"--version"}, stores(), &out), 0);
    EXPECT_EQ(out, "path2ini " P2I_VERSION "\n");
    EXPECT_TRUE(log_.empty());
    // An option is the only argument or none; the count rule comes first.
    EXPECT_EQ(run({"--help", "T.DB"}, stores(), &out), -1);
    EXPECT_EQ(out, platform::to_console(cp1251("Неверное количество параметров (должно быть 2)")) + "\n");
}

TEST_F(ConvertTableTest, IdentifiersThatBecomeOneKeyAreReportedOnceEach) {
    std::ofstream(dir_.file("T.DB")) << "x";
    testing::internal::CaptureStderr();
    const int code = run({"T.DB"}, stores(false, false, {"ab", "CD", "AB", "cd", "Ab", "EF"}));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(log_[3], "ini.WriteAll " + dir_ansi_ + kSeparator + "T.INI 6") << "every row is still written";
    EXPECT_EQ(err, platform::to_console(cp1251("Предупреждение: идентификатор \"AB\" встречается в таблице "
                                               "несколько раз (строк: 3), в INI-файл записана последняя строка\n"
                                               "Предупреждение: идентификатор \"CD\" встречается в таблице "
                                               "несколько раз (строк: 2), в INI-файл записана последняя строка\n")));

    testing::internal::CaptureStderr();
    EXPECT_EQ(run({"T.DB"}, stores()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "distinct identifiers warn of nothing";
}

TEST_F(ConvertTableTest, ReadsTheTableThenWritesTheIniBesideIt) {
    std::ofstream(dir_.file("PATHS.DB")) << "x";
    std::string out;
    ASSERT_EQ(run({"PATHS.DB"}, stores(), &out), 0);
    const std::string full = dir_ansi_ + kSeparator + "PATHS.DB";
    EXPECT_EQ(out, "PATHS.DB\n" + platform::to_console(full) + "\n");
    const std::vector<std::string> expected{"create table",
                                            "create ini",
                                            "table.ReadAll " + full,
                                            "ini.WriteAll " + dir_ansi_ + kSeparator + "PATHS.INI 2",
                                            "delete ini",
                                            "delete table"};
    EXPECT_EQ(log_, expected);
}

TEST_F(ConvertTableTest, ArgumentWithoutExtensionAndCyrillicPath) {
    std::filesystem::create_directory(dir_.path() / fs_path("Данные"));
    std::ofstream(dir_.path() / fs_path("Данные") / fs_path("Пути")) << "x";
    std::string out;
    const std::string relative = cp1251("Данные") + kSeparator + cp1251("Пути");
    ASSERT_EQ(run({testing_support::command_line_argument("Данные" + std::string(kSeparator) + "Пути")}, stores(), &out), 0);
    // The console shows its own charset (UTF-8 here, OEM 866 on Windows), not 1251 bytes.
    EXPECT_EQ(out, platform::to_console(cp1251("Пути")) + "\n" + platform::to_console(dir_ansi_ + kSeparator + relative) + "\n");
    EXPECT_EQ(log_[3], "ini.WriteAll " + dir_ansi_ + kSeparator + relative + ".INI 2");
}

TEST_F(ConvertTableTest, MissingTableFailsBeforeAnyStoreRuns) {
    std::filesystem::create_directory(dir_.path() / "dir.db");
    for (const char* arg : {"missing.db", "dir.db"}) {
        log_.clear();
        try {
            run({arg}, stores());
            FAIL() << "a missing table must fail";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), cp1251("Не найден файл таблицы ") + dir_ansi_ + kSeparator + arg);
        }
        const std::vector<std::string> expected{"create table", "create ini", "delete ini", "delete table"};
        EXPECT_EQ(log_, expected);
        EXPECT_EQ(captured_, std::string(arg) + "\n" + platform::to_console(dir_ansi_ + kSeparator + arg) + "\n");
    }
}

TEST_F(ConvertTableTest, TheIniPathIsTheFullPathWithItsOwnExtensionReplaced) {
    // A dotted folder, reached with "/" (which Windows turns into "\\"): the
    // folder's dot is no extension of the table's.
    std::filesystem::create_directory(dir_.path() / "v1.2");
    std::ofstream(dir_.path() / "v1.2" / "PATHS") << "x";
    ASSERT_EQ(run({"v1.2/PATHS"}, stores()), 0);
    const std::string folder = dir_ansi_ + kSeparator + "v1.2" + kSeparator;
    EXPECT_EQ(log_[2], "table.ReadAll " + folder + "PATHS");
    EXPECT_EQ(log_[3], "ini.WriteAll " + folder + "PATHS.INI 2");
#ifdef _WIN32
    // Windows drops the trailing dot: the table is PATHS.DB, its INI PATHS.INI.
    std::ofstream(dir_.path() / "PATHS.DB") << "x";
    log_.clear();
    ASSERT_EQ(run({"PATHS.DB."}, stores()), 0);
    EXPECT_EQ(log_[3], "ini.WriteAll " + dir_ansi_ + "\\PATHS.INI 2");
#endif
}

TEST_F(ConvertTableTest, PathsTooLongAreNamedAndRefusedBeforeAnyStoreRuns) {
    const std::vector<std::string> none{"create table", "create ini", "delete ini", "delete table"};
    const auto refused = [&](const std::string& argument, const std::string& named) {
        log_.clear();
        try {
            run({argument}, stores());
            ADD_FAILURE() << "a path too long must be refused: " << argument;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), cp1251("Слишком длинный путь ") + named);
        }
        EXPECT_EQ(log_, none);
    };
    // No file system holds a name of 256 characters.
    const std::string name(256, 'n');
    refused(name, dir_ansi_ + kSeparator + name);
#ifdef _WIN32
    // Names that fit, in a path longer than the 259 characters that other
    // programs' ANSI functions open.
    std::string deep;
    while (dir_ansi_.size() + deep.size() < 260) deep += "\\" + std::string(40, 'd');
    refused(dir_ansi_ + deep + "\\T.DB", dir_ansi_ + deep + "\\T.DB");
#else
    // The table's name fits, its INI file's does not.
    const std::string table = std::string(252, 't') + ".DB";
    refused(table, dir_ansi_ + kSeparator + std::string(252, 't') + ".INI");
#endif
}

TEST_F(ConvertTableTest, ExceptionsDeleteBothStoresAndPassUnchanged) {
    std::ofstream(dir_.file("T.DB")) << "x";
    try {
        run({"T.DB"}, stores(/*tableFails=*/true));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "read failed");
    }
    EXPECT_EQ(log_.back(), "delete table");
    EXPECT_EQ(log_[log_.size() - 2], "delete ini");
    EXPECT_EQ(std::count_if(log_.begin(), log_.end(), [](const std::string& s) { return s.find("WriteAll") != s.npos; }), 0)
        << "no INI is written after a failed read";

    log_.clear();
    EXPECT_THROW(run({"T.DB"}, stores(false, /*iniFails=*/true)), Exception);
    EXPECT_EQ(log_.back(), "delete table");
}

}  // namespace
