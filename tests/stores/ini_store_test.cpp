#include "stores/ini_store.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "model/path_text.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "platform/text.h"
#include "stores/ini_file.h"
#include "support/fault_file_system.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
const std::string kSep = "\\";
#else
const std::string kSep = "/";
#endif

using testing_support::read_bytes;
using testing_support::running_as_root;
using testing_support::write_bytes;

// A file system whose new files run out of space halfway through a write.
class DiskFullFileSystem final : public platform::FileSystemWrapper {
public:
    using platform::FileSystemWrapper::open;
    std::unique_ptr<platform::File> open(const std::string& path, platform::OpenMode mode,
                                         platform::Lock lock) override {
        auto file = target().open(path, mode, lock);
        if (mode == platform::OpenMode::create || mode == platform::OpenMode::create_new)
            return std::make_unique<FullFile>(std::move(file));
        return file;
    }
    std::unique_ptr<platform::File> create_like(const std::string& path, const platform::FileInfo& like,
                                                platform::Lock lock) override {
        return std::make_unique<FullFile>(target().create_like(path, like, lock));
    }

private:
    class FullFile final : public platform::File {
    public:
        explicit FullFile(std::unique_ptr<platform::File> file) : file_(std::move(file)) {}
        std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
            return file_->read_at(offset, buffer, n);
        }
        void write_at(std::uint64_t offset, const void* data, std::size_t n) override {
            file_->write_at(offset, data, n / 2);
            throw Exception("Cannot write file: No space left on device", ErrorKind::no_space,
                            "No space left on device");
        }
        std::uint64_t size() override { return file_->size(); }
        void truncate(std::uint64_t size) override { file_->truncate(size); }
        void sync() override { file_->sync(); }

    private:
        std::unique_ptr<platform::File> file_;
    };

};

TDatFileDesc& add(TDatFileDescList& list, const std::string& id, const std::string& name,
                  const std::string& rawPath, const std::string& fileDir = "",
                  const std::string& fileName = "") {
    TDatFileDesc& entry = list.Add();
    entry.Id = id;
    entry.Name = name;
    entry.RawPath = rawPath;
    entry.FileDir = fileDir;
    entry.FileName = fileName;
    return entry;
}

// The program changes its directory only through the platform layer, which
// remembers the directory's name; tests do the same.
void enter(const fs::path& directory) {
    platform::set_current_directory(platform::from_command_line(directory.string()));
}

class IniStore : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir.path() / "WORK");
        enter(dir.path());
    }
    void TearDown() override { enter(previous); }

    // The file after WriteAll of the list.
    std::string written(TDatFileDescList& list) {
        store.WriteAll(ini, list);
        return read_bytes(ini);
    }

    testing_support::TempDir dir;
    fs::path previous = fs::current_path();
    std::string work = (dir.path() / "WORK").string() + kSep;
    std::string ini = work + "PATHS.INI";
    TDatFileStorageIni store;
};

TEST_F(IniStore, WritesTheExampleTableAndReadsItBack) {
    TDatFileDescList list;
    add(list, "AB", "Accounts", "..\\DATA\\AB.DAT", "C:\\DATA\\", "AB.DAT");
    add(list, "CD", "Rates", "", UpperCase(work + "LIB" + kSep), "CD.DAT");
    add(list, "EF", "Archive", "", "D:\\OLD\\", "EF.DAT");
    add(list, "GH", "Codes", "", "", UpperCase(work + "GH"));

    EXPECT_EQ(written(list),
              "[NAME]\r\nAB=Accounts\r\nCD=Rates\r\nEF=Archive\r\nGH=Codes\r\n"
              "[PATH]\r\nAB=..\\DATA\\AB.DAT\r\nCD=LIB\\CD.DAT\r\nEF=D:\\OLD\\EF.DAT\r\nGH=GH\r\n");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), fs::path(work).parent_path())) << "WriteAll enters the INI file's directory";

    enter(dir.path());
    TDatFileDescList read;
    store.ReadAll(ini, read);
    ASSERT_EQ(read.Count(), 4);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), fs::path(work).parent_path()));
    const char* rawPaths[] = {"..\\DATA\\AB.DAT", "LIB\\CD.DAT", "D:\\OLD\\EF.DAT", "GH"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(read.Item(i).Id, list.Item(i).Id);
        EXPECT_EQ(read.Item(i).Name, list.Item(i).Name);
        EXPECT_EQ(read.Item(i).RawPath, rawPaths[i]);
        EXPECT_EQ(read.Item(i).Priority, -2);
    }
    // Relative texts resolve against the INI file's directory.
    EXPECT_EQ(read.Item(0).FileDir, UpperCase(dir.path().string() + kSep + "DATA" + kSep));
    EXPECT_EQ(read.Item(0).FileName, "AB.DAT");
    EXPECT_EQ(FullPath(read.Item(1)), FullPath(list.Item(1)));
}

TEST_F(IniStore, ReadsWhatIsThereAndFillsWhatIsNot) {
    write_bytes(ini,
                "[NAME]\r\nAB=Accounts\r\nNOPATH=Lonely\r\n"
                "[PATH]\r\nAB=..\\DATA\\AB.DAT\r\nNONAME=X.DAT\r\n");
    TDatFileDescList list;
    store.ReadAll(ini, list);
    store.ReadAll(ini, list);  // appends again
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Item(1).Id, "NOPATH");
    EXPECT_EQ(list.Item(1).RawPath, "");
    EXPECT_EQ(list.Item(1).FileDir, "");
    EXPECT_EQ(list.Item(1).FileName, UpperCase(work + "NOPATH"));
    EXPECT_EQ(list.Item(2).Id, "AB");

    TDatFileDesc entry;
    enter(dir.path());
    store.ReadEntry(ini, "ab", entry);
    EXPECT_EQ(entry.Id, "AB");
    EXPECT_EQ(entry.Name, "Accounts");
    EXPECT_EQ(entry.RawPath, dir.path().string() + kSep + "DATA" + kSep + "AB.DAT") << "ReadEntry expands the text";
    EXPECT_TRUE(fs::equivalent(fs::current_path(), fs::path(work).parent_path()));

    TDatFileDesc missing;
    missing.Priority = 7;
    store.ReadEntry(ini, "ZZ", missing);
    EXPECT_EQ(missing.Name, "");
    EXPECT_EQ(missing.RawPath, "");
    EXPECT_EQ(missing.Priority, -2);

    TDatFileDescList none;
    store.ReadAll(work + "ABSENT.INI", none);
    EXPECT_EQ(none.Count(), 0);
}

TEST_F(IniStore, WriteAllReplacesItsSectionsAndKeepsEveryOtherByte) {
    const std::string head = "; settings\n[Main]\nkey = value ; not a comment\n\n";
    write_bytes(ini, head + "[NAME]\nOLD=gone\n[PRIORITY]\nOLD=1\n\n[Other]\nx=1\n[PATH]\nOLD=gone");
    TDatFileDescList list;
    add(list, "AB", "first", "A.DAT");
    add(list, "ab", "second", "B.DAT");  // same key: the later entry's values win
    EXPECT_EQ(written(list), head + "[Other]\nx=1\n[NAME]\r\nAB=second\r\n[PATH]\r\nAB=B.DAT\r\n");

    TDatFileDescList empty;
    enter(dir.path());
    EXPECT_EQ(written(empty), head + "[Other]\nx=1\n");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir.path())) << "an empty list changes no directory";

    store.WriteAll(work + "NEW.INI", empty);
    store.Clear(work + "NEW.INI");
    EXPECT_FALSE(fs::exists(work + "NEW.INI")) << "nothing to write, so no file";
}

TEST_F(IniStore, TextsRoundTripExactly) {
    TDatFileDescList list;
    add(list, "\xC0\xC1", "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0", "\xC4\xC0\xCD\xCD\xDB\\A.DAT");
    add(list, "SPACES", "  padded  ", " X.DAT ");
    add(list, "QUOTES", "\"quoted\"", "'p'");
    add(list, "ODD", "a=b;c [d] #e", "\"");
    add(list, "EMPTY", "", "E.DAT");
    store.WriteAll(ini, list);

    TDatFileDescList read;
    store.ReadAll(ini, read);
    ASSERT_EQ(read.Count(), list.Count());
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(read.Item(i).Id, list.Item(i).Id);
        EXPECT_EQ(read.Item(i).Name, list.Item(i).Name);
        EXPECT_EQ(read.Item(i).RawPath, list.Item(i).RawPath);
    }
    // Keys match whatever the case, Cyrillic included.
    TDatFileDesc entry;
    store.ReadEntry(ini, "\xE0\xE1", entry);
    EXPECT_EQ(entry.Name, list.Item(0).Name);
}

TEST_F(IniStore, KeyListsAndValuesAreNeverCutShort) {
    TDatFileDescList list;
    for (int i = 0; i < 3000; ++i) add(list, "IDENT" + std::to_string(100000 + i), "n", "P.DAT");
    const std::string longName(5000, 'x');
    add(list, "LONG", longName, "P.DAT");
    store.WriteAll(ini, list);

    TDatFileDescList read;
    store.ReadAll(ini, read);
    ASSERT_EQ(read.Count(), list.Count());
    EXPECT_EQ(read.Item(2999).Id, "IDENT102999");
    EXPECT_EQ(read.Item(3000).Name, longName);
}

TEST_F(IniStore, WriteEntryReplacesInPlace) {
    write_bytes(ini, "[NAME]\r\nAB=old\r\nCD=keep\r\n[PATH]\r\nAB=old.dat\r\nCD=keep.dat\r\n");
    TDatFileDesc entry;
    entry.Id = "AB";
    entry.Name = "new";
    entry.FileDir = UpperCase(work + "SUB" + kSep);
    entry.FileName = "NEW.DAT";
    store.WriteEntry(ini, entry);
    EXPECT_EQ(read_bytes(ini),
              "[NAME]\r\nAB=new\r\nCD=keep\r\n[PATH]\r\nAB=SUB\\NEW.DAT\r\nCD=keep.dat\r\n");
    EXPECT_EQ(store.StoreFileName("PATHS.DB"), "PATHS.DB.INI");
}

TEST_F(IniStore, RelativeAndBareFileNamesNameTheSameFileThroughout) {
    TDatFileDescList list;
    add(list, "AB", "Accounts", "A.DAT");
    add(list, "CD", "Rates", "", UpperCase(work + "LIB" + kSep), "CD.DAT");
    const std::string expected =
        "[NAME]\r\nAB=Accounts\r\nCD=Rates\r\n[PATH]\r\nAB=A.DAT\r\nCD=LIB\\CD.DAT\r\n";
    store.WriteAll("WORK" + kSep + "PATHS.INI", list);
    EXPECT_EQ(read_bytes(ini), expected);
    EXPECT_FALSE(fs::exists(work + "WORK"));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), fs::path(work).parent_path()));

    store.WriteAll("BARE.INI", list);  // no directory part: the current directory
    EXPECT_EQ(read_bytes(work + "BARE.INI"), expected);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), fs::path(work).parent_path()));
}

TEST_F(IniStore, RefusedTextsLeaveTheFileUntouched) {
    const std::string before = "[NAME]\r\nOLD=1\r\n[PATH]\r\nOLD=O.DAT\r\n";
    const struct {
        const char* id;
        const char* name;
        const char* path;
        const char* shown;
    } cases[] = {
        {"AB", "two\r\nINJECTED=1", "A.DAT", "AB"},
        {"AB", "ok", "A.DAT\n", "AB"},
        {"A=B", "ok", "A.DAT", "A=B"},
        {"[X]", "ok", "A.DAT", "[X]"},
        {";X", "ok", "A.DAT", ";X"},
        {"  ", "ok", "A.DAT", "  "},
        {"A\nB", "ok", "A.DAT", "A\\nB"},
    };
    for (const auto& c : cases) {
        write_bytes(ini, before);
        TDatFileDescList list;
        add(list, "GOOD", "fine", "G.DAT");
        add(list, c.id, c.name, c.path);
        try {
            store.WriteAll(ini, list);
            ADD_FAILURE() << "accepted id " << c.shown;
        } catch (const Exception& error) {
            const std::string message = error.Message();
            EXPECT_NE(message.find(ini), std::string::npos) << message;
            EXPECT_NE(message.find("\"" + std::string(c.shown) + "\""), std::string::npos) << message;
        }
        EXPECT_EQ(read_bytes(ini), before) << "id " << c.shown;
    }
    TDatFileDesc entry;
    entry.Id = "AB";
    entry.Name = "x\ry";
    entry.RawPath = "A.DAT";
    try {
        store.WriteEntry(ini, entry);
        ADD_FAILURE() << "accepted a line break";
    } catch (const Exception& error) {
        // "Невозможно записать в файл <file>: значение идентификатора "AB" в секции NAME
        // содержит перевод строки или нулевой символ", in 1251.
        EXPECT_EQ(error.Message(),
                  "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xE7\xE0\xEF\xE8\xF1\xE0\xF2\xFC \xE2 "
                  "\xF4\xE0\xE9\xEB " + ini +
                  ": \xE7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xE8\xE4\xE5\xED\xF2\xE8\xF4\xE8\xEA\xE0\xF2"
                  "\xEE\xF0\xE0 \"AB\" \xE2 \xF1\xE5\xEA\xF6\xE8\xE8 NAME \xF1\xEE\xE4\xE5\xF0\xE6"
                  "\xE8\xF2 \xEF\xE5\xF0\xE5\xE2\xEE\xE4 \xF1\xF2\xF0\xEE\xEA\xE8 \xE8\xEB\xE8 "
                  "\xED\xF3\xEB\xE5\xE2\xEE\xE9 \xF1\xE8\xEC\xE2\xEE\xEB");
    }
    EXPECT_EQ(read_bytes(ini), before);
}

class IniStoreFailure : public IniStore {
protected:
    void expect_unable_to_write(const std::string& path) {
        TDatFileDescList list;
        add(list, "AB", "Accounts", "A.DAT");
        TDatFileDescList empty;
        TDatFileDesc entry;
        entry.Id = "AB";
        entry.RawPath = "A.DAT";
        const std::string expected = "Unable to write to " + path;
        for (int operation = 0; operation < 4; ++operation) {
            try {
                switch (operation) {
                    case 0: store.WriteAll(path, list); break;
                    case 1: store.WriteAll(path, empty); break;
                    case 2: store.WriteEntry(path, entry); break;
                    default: store.Clear(path); break;
                }
                ADD_FAILURE() << "operation " << operation << " succeeded on " << path;
            } catch (const Exception& error) {
                // The store's message, then the system's reason on its own line.
                const std::string& message = error.Message();
                EXPECT_EQ(message.substr(0, expected.size() + 1), expected + "\n") << "operation " << operation;
                EXPECT_GT(message.size(), expected.size() + 1) << "operation " << operation;
            }
        }
    }
    const std::string before = "[Main]\nkeep=1\n[NAME]\nOLD=1\n";
};

TEST_F(IniStoreFailure, MissingDirectory) { expect_unable_to_write(work + "MISSING" + kSep + "PATHS.INI"); }

TEST_F(IniStoreFailure, PathIsADirectory) {
    fs::create_directory(work + "DIR.INI");
    expect_unable_to_write(work + "DIR.INI");
}

TEST_F(IniStoreFailure, DiskFullLeavesTheOldFileAndNoTemporary) {
    write_bytes(ini, before);
    DiskFullFileSystem full;
    {
        platform::ScopedFileSystem scoped(full);
        expect_unable_to_write(ini);
    }
    EXPECT_EQ(read_bytes(ini), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(work), {}), 1) << "temporary file left behind";
}

// WriteAll failing or crashing at every file operation, on a file with one
// name (replaced atomically) and on one with two (written in place under its
// journal): the file then holds exactly its old text or its new one once it
// is read again, the failure keeps the store's message and the system's
// reason, and the next save leaves nothing beside the file.
TEST_F(IniStoreFailure, AFailureOrACrashAtEveryFileOperationLeavesTheOldOrTheNewFile) {
    TDatFileDescList list;
    add(list, "AB", "Accounts", "A.DAT");
    add(list, "CD", "Rates", "C.DAT");
    write_bytes(ini, before);
    store.WriteAll(ini, list);
    const std::string after_write = read_bytes(ini);
    ASSERT_NE(after_write, before);
    const std::string other = work + "OTHER.INI";
    int points = 0;
    for (const bool linked : {false, true}) {
        write_bytes(ini, before);
        if (linked) fs::create_hard_link(ini, other);
        testing_support::FaultFileSystem faults;
        platform::ScopedFileSystem installed(faults);
        faults.fail_at(0);
        store.WriteAll(ini, list);
        const int total = faults.operations();
        for (const bool crash : {false, true}) {
            for (int n = 1; n <= total; ++n) {
                const std::string at = "operation " + std::to_string(n) + (crash ? " (crash)" : "") +
                                       (linked ? " (hard-linked)" : "");
                write_bytes(ini, before);
                faults.set_torn_writes(crash, static_cast<unsigned>(n));
                faults.fail_at(n, crash);
                try {
                    store.WriteAll(ini, list);
                    ADD_FAILURE() << at;
                } catch (const Exception& e) {
                    EXPECT_EQ(e.Message().rfind("Unable to write to " + ini + "\n", 0), 0u) << e.Message();
                }
                if (crash) faults.crash_recover();
                faults.fail_at(0);
                faults.set_torn_writes(false);
                ++points;
                TDatFileDescList read;
                store.ReadAll(ini, read);  // puts back an interrupted in-place save
                const std::string now = read_bytes(ini);
                EXPECT_TRUE(now == before || now == after_write) << at;
                if (linked) {
                    EXPECT_EQ(read_bytes(other), now) << at;
                }
                store.WriteAll(ini, list);
                EXPECT_EQ(std::distance(fs::directory_iterator(work), {}), linked ? 2 : 1) << at;
            }
        }
    }
    EXPECT_GT(points, 20);
}

TEST_F(IniStoreFailure, ReadOnlyFileOrDirectory) {
    if (running_as_root()) GTEST_SKIP() << "running as root: permissions are not enforced";
    write_bytes(ini, before);
    fs::permissions(ini, fs::perms::owner_read);
    expect_unable_to_write(ini);
    EXPECT_EQ(read_bytes(ini), before);

    fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
#ifndef _WIN32
    // Windows has no read-only directories: the attribute does not stop
    // files from being created or replaced in them.
    fs::permissions(work, fs::perms::owner_read | fs::perms::owner_exec);
    expect_unable_to_write(ini);
    fs::permissions(work, fs::perms::owner_all);
    EXPECT_EQ(read_bytes(ini), before);
#endif
}

TEST(IniFile, TouchesNoFileUntilUpdatedAndNeverInItsDestructor) {
    testing_support::TempDir dir;
    const std::string path = dir.file("x.ini");
    {
        TIniFile ini(path);
        EXPECT_EQ(ini.ReadString("s", "k", "def  "), "def");
        ini.WriteString("s", "k", "v");
        EXPECT_EQ(ini.ReadString("S", "K", ""), "v");
        std::vector<std::string> keys{"stale"};
        ini.ReadSection("s", keys);
        EXPECT_EQ(keys, std::vector<std::string>{"k"});
    }
    EXPECT_FALSE(fs::exists(path));
    TIniFile ini(path);
    ini.WriteString("s", "k", "v");
    ini.UpdateFile();
    EXPECT_EQ(read_bytes(path), "[s]\r\nk=v\r\n");
}

// Rows of a key and two values, for WriteRows.
class PlainRows : public ini::KeyRows {
public:
    explicit PlainRows(std::vector<std::array<std::string, 3>> rows) : rows_(std::move(rows)) {}
    std::size_t count() const override { return rows_.size(); }
    std::string_view key(std::size_t row) const override { return rows_[row][0]; }
    std::string_view value(std::size_t row, std::size_t column, std::string&) const override {
        return rows_[row][1 + column];
    }

private:
    std::vector<std::array<std::string, 3>> rows_;
};

TEST(IniFile, WriteRowsWritesWhatWriteStringWritesWhetherTheSectionsAreThereOrNot) {
    testing_support::TempDir dir;
    const std::string by_rows = dir.file("rows.ini");
    const std::string by_keys = dir.file("keys.ini");
    const std::vector<std::string> sections{"NAME", "PATH"};
    const PlainRows rows({{{"A", "first", "A.DAT"}},
                          {{"b", " blanks ", "'quoted'"}},  // written in quotes
                          {{"B", "second b", ""}},
                          {{"C", "", "C.DAT"}}});
    const std::string befores[] = {
        "",
        "[OTHER]\r\nx=1",
        "[NAME]\r\nB=old\r\nZ=kept\r\n\r\n[OTHER]\r\nx=1\r\n[path]\r\nC=old\r\n",  // held: keys go in place
        "[PATH]\r\nA=1\r\n",
    };
    for (const std::string& before : befores) {
        write_bytes(by_rows, before);
        write_bytes(by_keys, before);
        {
            TIniFile ini(by_rows);
            ini.WriteRows(sections, rows);
        }
        TIniFile ini(by_keys);
        std::string room;
        for (std::size_t row = 0; row < rows.count(); ++row)
            for (std::size_t column = 0; column < sections.size(); ++column)
                ini.WriteString(sections[column], rows.key(row), rows.value(row, column, room));
        ini.UpdateFile();
        EXPECT_EQ(read_bytes(by_rows), read_bytes(by_keys)) << before;
    }
}

}  // namespace
