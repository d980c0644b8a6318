// The rollback journal: a change that fails or crashes at any file
// operation leaves exactly the old content or exactly the new one, wherever
// the folder has gone since, and no run touches another live run's journal.

#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/journal.h"
#include "support/fault_file_system.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

namespace {

namespace fs = std::filesystem;
using testing_support::ansi;
using testing_support::fs_path;
using testing_support::read_bytes;
using testing_support::TempDir;
using testing_support::write_bytes;

// The files of one folder, opened as the journal asks for them.
class FolderFiles final : public platform::JournalFiles {
public:
    explicit FolderFiles(std::string folder) : folder_(std::move(folder)) {}
    platform::File* find(const std::string& name) override {
        auto& slot = files_[name];
        if (!slot && platform::file_system().kind(folder_ + name) == platform::FileKind::file)
            slot = platform::file_system().open(folder_ + name, platform::OpenMode::read_write);
        return slot.get();
    }
    platform::File& create(const std::string& name) override {
        files_[name] = platform::file_system().open(folder_ + name, platform::OpenMode::create_new);
        return *files_[name];
    }
    void remove(const std::string& name) override {
        files_.erase(name);
        platform::file_system().remove(folder_ + name);
    }

private:
    std::string folder_;
    std::map<std::string, std::unique_ptr<platform::File>> files_;
};

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A change of three files of one folder: part of A overwritten and A made
// longer, B cut short, C created.
struct Change {
    std::string a_old = random_bytes(10000, 1), b_old = random_bytes(3000, 2);
    std::string a_new, b_new = b_old.substr(0, 1000), c_new = "created";

    Change() {
        a_new = a_old;
        a_new.replace(100, 4900, random_bytes(4900, 3));
        a_new += random_bytes(2000, 4);
    }

    void set_old(const fs::path& dir) const {
        write_bytes(dir / "A", a_old);
        write_bytes(dir / "B", b_old);
        fs::remove(dir / "C");
    }
    bool is_old(const fs::path& dir) const {
        return read_bytes(dir / "A") == a_old && read_bytes(dir / "B") == b_old && !fs::exists(dir / "C");
    }
    bool is_new(const fs::path& dir) const {
        return read_bytes(dir / "A") == a_new && read_bytes(dir / "B") == b_new && read_bytes(dir / "C") == c_new;
    }

    // Runs the change, calling `after_first_write` once the journal is
    // complete and the first write made.
    void run(const std::string& folder, const std::function<void()>& after_first_write = {}) const {
        FolderFiles files(folder);
        platform::Journal journal(folder, "A", files);
        journal.save("A", 100, 4900);
        journal.save("B", 1000, 2000);
        journal.save("C", 0, 0);
        journal.begin();
        platform::File& a = *files.find("A");
        a.write_at(100, a_new.data() + 100, 4900);
        if (after_first_write) after_first_write();
        a.write_at(10000, a_new.data() + 10000, 2000);
        a.sync();
        platform::File& b = *files.find("B");
        b.truncate(1000);
        b.sync();
        platform::File& c = files.create("C");
        c.write_at(0, c_new.data(), c_new.size());
        c.sync();
        platform::file_system().sync_directory(folder);
        journal.commit();
    }
};

TEST(Journal, AFailureAtAnyFileOperationPutsBackExactlyTheOldContent) {
    TempDir dir;
    const std::string folder = ansi(dir.file(""));
    const Change change;
    testing_support::FaultFileSystem faults;
    platform::ScopedFileSystem installed(faults);
    change.set_old(dir.path());
    faults.fail_at(0);
    change.run(folder);
    ASSERT_TRUE(change.is_new(dir.path()));
    const int total = faults.operations();
    ASSERT_GT(total, 10);
    for (int n = 1; n <= total; ++n) {
        change.set_old(dir.path());
        faults.fail_at(n);
        EXPECT_THROW(change.run(folder), Exception) << "operation " << n;
        faults.fail_at(0);
        // The last operation flushes the folder after the journal went: the
        // change is made, though reported as failed.
        EXPECT_TRUE(change.is_old(dir.path()) || (n == total && change.is_new(dir.path()))) << "operation " << n;
        EXPECT_EQ(names_in(dir.path()).size(), change.is_old(dir.path()) ? 2u : 3u) << "operation " << n;
    }
}

// A crash at any file operation, losing every write and folder entry not
// yet flushed, or keeping any part of them: the next open of the owner
// finds exactly the old or the new content, and nothing is left behind.
TEST(Journal, ACrashAtAnyFileOperationLeavesTheOldOrTheNewContent) {
    TempDir dir;
    const std::string folder = ansi(dir.file(""));
    const Change change;
    testing_support::FaultFileSystem faults;
    platform::ScopedFileSystem installed(faults);
    change.set_old(dir.path());
    faults.fail_at(0);
    change.run(folder);
    const int total = faults.operations();
    int old_seen = 0, new_seen = 0;
    for (unsigned seed = 0; seed < 4; ++seed) {
        faults.set_torn_writes(seed > 0, seed);
        for (int n = 1; n <= total; ++n) {
            change.set_old(dir.path());
            faults.fail_at(n, true);
            EXPECT_THROW(change.run(folder), Exception);
            faults.crash_recover();
            FolderFiles files(folder);
            platform::roll_back_journals(folder, "A", files, true);
            const bool is_old = change.is_old(dir.path()), is_new = change.is_new(dir.path());
            EXPECT_TRUE(is_old || is_new) << "operation " << n << ", seed " << seed;
            old_seen += is_old;
            new_seen += is_new;
            EXPECT_TRUE(platform::journals_of(folder, "A").empty()) << "operation " << n << ", seed " << seed;
        }
    }
    EXPECT_GT(old_seen, 0);
    // A crash at the last operation, flushing the folder after the journal
    // went, may still bring the journal back: a change is durable once
    // commit() has returned, and not before.
    EXPECT_EQ(new_seen, 0);
    change.set_old(dir.path());
    faults.fail_at(0);
    change.run(folder);
    faults.crash_recover();
    EXPECT_TRUE(change.is_new(dir.path()));
    faults.set_torn_writes(false);
}

TEST(Journal, AFolderMovedOrCopiedAfterACrashIsRecoveredWhereItIsAndNowhereElse) {
    TempDir dir;
    const fs::path original = dir.path() / "original";
    fs::create_directory(original);
    const std::string folder = ansi(testing_support::utf8(original)) + testing_support::kSeparator;
    const Change change;
    change.set_old(original);
    {
        // Killed right after the first write in place: its roll-back cannot
        // run either, and the system keeps what was written.
        testing_support::FaultFileSystem faults;
        platform::ScopedFileSystem installed(faults);
        faults.fail_at(0);
        int first_write = 0;
        change.run(folder, [&] { first_write = faults.operations(); });
        change.set_old(original);
        faults.fail_at(first_write + 1, true);
        EXPECT_THROW(change.run(folder), Exception);
        faults.fail_at(0);
    }
    ASSERT_FALSE(change.is_old(original)) << "the interrupted change left part of A new";
    ASSERT_EQ(platform::journals_of(folder, "A").size(), 1u);

    const fs::path copied = dir.path() / "copied", moved = dir.path() / "moved";
    fs::copy(original, copied);
    fs::rename(original, moved);
    const std::string copied_folder = ansi(testing_support::utf8(copied)) + testing_support::kSeparator;
    {
        FolderFiles files(copied_folder);
        EXPECT_EQ(platform::roll_back_journals(copied_folder, "A", files, true), 1u);
    }
    EXPECT_TRUE(change.is_old(copied));
    EXPECT_FALSE(change.is_old(moved)) << "recovering the copy changed nothing in the original";
    const std::string moved_folder = ansi(testing_support::utf8(moved)) + testing_support::kSeparator;
    {
        FolderFiles files(moved_folder);
        EXPECT_EQ(platform::roll_back_journals(moved_folder, "A", files, true), 1u);
    }
    EXPECT_TRUE(change.is_old(moved));
    EXPECT_EQ(names_in(moved), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(names_in(copied), (std::vector<std::string>{"A", "B"}));
}

TEST(Journal, ALiveRunsJournalIsNeverPlayedBackAndAnIncompleteOneOnlyByTheOwnersLockHolder) {
    TempDir dir;
    const std::string folder = ansi(dir.file(""));
    write_bytes(dir.path() / "A", "old content");
    FolderFiles files(folder);
    {
        platform::Journal journal(folder, "A", files);
        journal.save("A", 0, 3);
        // An incomplete journal that no one holds stands for a writer that
        // died before its journal was complete.
        write_bytes(dir.path() / "A.~dead.p2i-journal", "P2IJRNL1");
        journal.begin();
        files.find("A")->write_at(0, "NEW", 3);
        // The live journal is complete and its change under way.
        FolderFiles others(folder);
        EXPECT_EQ(platform::roll_back_journals(folder, "A", others, false), 0u);
        EXPECT_EQ(read_bytes(dir.path() / "A"), "NEW content");
        EXPECT_EQ(platform::journals_of(folder, "A").size(), 2u);
        EXPECT_TRUE(fs::exists(dir.path() / "A.~dead.p2i-journal")) << "only the owner's lock holder removes it";
        EXPECT_EQ(platform::roll_back_journals(folder, "A", others, true), 0u);
        EXPECT_FALSE(fs::exists(dir.path() / "A.~dead.p2i-journal"));
        EXPECT_EQ(platform::journals_of(folder, "A").size(), 1u) << "the live one stays";
        files.find("A")->sync();
        journal.commit();
    }
    EXPECT_EQ(read_bytes(dir.path() / "A"), "NEW content");
    EXPECT_TRUE(platform::journals_of(folder, "A").empty());
    // Journals of other owners are not A's.
    write_bytes(dir.path() / "A.B.~x.p2i-journal", "");
    write_bytes(dir.path() / "AB.~x.p2i-journal", "");
    EXPECT_TRUE(platform::journals_of(folder, "A").empty());
}

TEST(Journal, OnlyFilesOfItsFolderCanBeSaved) {
    TempDir dir;
    const std::string folder = ansi(dir.file(""));
    FolderFiles files(folder);
    platform::Journal journal(folder, "A", files);
    for (const char* name : {"../A", "sub/A", "sub\\A", "..", "."}) EXPECT_THROW(journal.save(name, 0, 1), Exception) << name;
}

}  // namespace
