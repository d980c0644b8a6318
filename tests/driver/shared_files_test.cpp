// The real executable on files that other runs and programs share: several
// runs at once on one table, and INI files that are links or belong to
// another user.

#include "bench/bulk_table.h"
#include "engine/engine.h"
#include "engine/index_layout.h"
#include "engine/pxlib_oracle.h"
#include "engine/test_tables.h"
#include "platform/file_system.h"
#include "platform/journal.h"
#include "platform/path_parts.h"
#include "platform/text.h"
#include "support/file_identity.h"
#include "support/files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <set>

namespace {

namespace fs = std::filesystem;
using testing_support::read_bytes;
using testing_support::TempDir;

const char kPassword[] = "TRAX_OPR";

// A keyed, encrypted path table without DESCRIPTION, as the tool meets
// them, written block by block (as the benchmarks build theirs).
void make_table(const std::string& path, int rows) {
    engine::TableSpec definition;
    definition.fields = {{"MASTER_ID", 'A', 10}, {"MASTER_NAME", 'A', 60}, {"MASTER_FILE", 'A', 120}};
    definition.key_fields = 1;
    definition.password = kPassword;
    definition.block_size_kb = 4;
    engine::SessionPassword password(kPassword);
    bench::bulk_table(path, definition, rows, [](int id, std::vector<std::string>& values) {
        values[0] = "K" + std::to_string(100000 + id);  // in key order
        values[1] = "Name " + std::to_string(id);
        values[2] = "DATA\\F" + std::to_string(id) + ".DAT";
    });
}

struct Started {
    pid_t process = -1;
    fs::path out, err;
};

// Starts the executable in `cwd` with one argument; its output goes to
// files in `logs`.
Started start(const fs::path& cwd, const std::string& argument, const fs::path& logs, int number) {
    Started run;
    run.out = logs / ("run" + std::to_string(number) + ".out");
    run.err = logs / ("run" + std::to_string(number) + ".err");
    run.process = ::fork();
    if (run.process == 0) {
        const int out = ::open(run.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(run.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execl(P2I_EXECUTABLE, P2I_EXECUTABLE, argument.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return run;
}

int finish(const Started& run) {
    int status = 0;
    if (::waitpid(run.process, &status, 0) != run.process || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The keys of an INI section, from the file's text.
std::set<std::string> keys_of(const std::string& text, const std::string& section) {
    std::set<std::string> keys;
    bool inside = false;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 2;
        if (!line.empty() && line.front() == '[') {
            inside = line == "[" + section + "]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inside && equals != std::string::npos) keys.insert(line.substr(0, equals));
    }
    return keys;
}

// Several runs at once on one keyed table that lacks DESCRIPTION: they take
// turns on the table's lock (or, past the wait, are refused cleanly), one
// adds the column, every one writes the whole INI file. Afterwards there is
// one table, consistent with its index, with every row, read alike by our
// engine and by pxlib; one complete INI file; nothing else.
TEST(SharedFiles, SeveralRunsAtOnceOnOneTableEndWithOneConsistentTable) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kTrials = 1;  // runs under the sanitizer are several times slower
#else
    constexpr int kTrials = 2;
#endif
    constexpr int kRows = 30000, kRuns = 4;
    TempDir dir, logs;
    const std::string db = dir.file("T.DB"), px = dir.file("T.PX");
    make_table(db, kRows);
    const std::string original_db = read_bytes(db), original_px = read_bytes(px);
    std::vector<std::vector<std::string>> expected;
    {
        engine::SessionPassword password(kPassword);
        expected = engine_test::read_all(db);
    }
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(kRows));
    for (auto& row : expected) row.push_back("");
    int succeeded = 0, refused = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        testing_support::write_bytes(db, original_db);
        testing_support::write_bytes(px, original_px);
        fs::remove(dir.path() / "T.INI");
        std::vector<Started> runs;
        for (int r = 0; r < kRuns; ++r) runs.push_back(start(dir.path(), "T.DB", logs.path(), r));
        for (const Started& run : runs) {
            const int code = finish(run);
            const std::string err = read_bytes(run.err);
            if (code == 0) {
                ++succeeded;
                EXPECT_EQ(err, "") << "trial " << trial;
            } else {
                // Refused: the other runs kept the table past the wait.
                ++refused;
                EXPECT_EQ(code, 3) << err;
                EXPECT_NE(platform::from_command_line(err).find("in use by another program"), std::string::npos)
                    << err;
            }
        }
        EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"T.DB", "T.INI", "T.PX"})) << "trial " << trial;
        {
            engine::SessionPassword password(kPassword);
            EXPECT_EQ(engine_test::read_all(db), expected) << "trial " << trial;
        }
        engine_test::expect_index_matches(db, px);
        const auto theirs = engine_test::pxlib_read(db, kPassword);
        EXPECT_EQ(theirs.rows.size(), static_cast<std::size_t>(kRows)) << "trial " << trial;
        EXPECT_EQ(theirs.fields.back().name, "DESCRIPTION");
        const std::string ini = read_bytes(dir.path() / "T.INI");
        EXPECT_EQ(keys_of(ini, "NAME").size(), static_cast<std::size_t>(kRows)) << "trial " << trial;
        EXPECT_EQ(keys_of(ini, "PATH").size(), static_cast<std::size_t>(kRows)) << "trial " << trial;
    }
    EXPECT_GT(succeeded, 0);
    std::cout << "[ runs    ] " << kTrials << " trials of " << kRuns << " runs at once on " << kRows
              << " rows: " << succeeded << " converted, " << refused << " refused as in use\n";
}

// A run killed at some moment of its work (each a different one): the
// table is then exactly the old one or the upgraded one once opened, and
// the next run converts it and leaves nothing behind.
TEST(SharedFiles, ARunKilledAtAnyMomentLeavesTheOldTableOrTheNewOne) {
    constexpr int kRows = 30000;
    TempDir dir, logs;
    const std::string db = dir.file("T.DB"), px = dir.file("T.PX");
    make_table(db, kRows);
    const std::string original_db = read_bytes(db), original_px = read_bytes(px);
    std::vector<std::vector<std::string>> old_rows, new_rows;
    {
        engine::SessionPassword password(kPassword);
        old_rows = engine_test::read_all(db);
    }
    new_rows = old_rows;
    for (auto& row : new_rows) row.push_back("");
    int old_seen = 0, new_seen = 0, interrupted = 0, number = 0;
    for (const unsigned delay : {5u, 20u, 50u, 100u, 160u, 250u, 400u, 650u, 1000u}) {
        testing_support::write_bytes(db, original_db);
        testing_support::write_bytes(px, original_px);
        fs::remove(dir.path() / "T.INI");
        const Started run = start(dir.path(), "T.DB", logs.path(), number++);
        ::usleep(delay * 1000);
        ::kill(run.process, SIGKILL);
        finish(run);
        if (!platform::journals_of(platform::directory_part(db), "T.DB").empty()) ++interrupted;
        {
            engine::SessionPassword password(kPassword);
            const auto rows = engine_test::read_all(db);  // puts back a change the kill interrupted
            EXPECT_TRUE(rows == old_rows || rows == new_rows) << "killed after " << delay << " ms";
            if (rows == old_rows) {
                ++old_seen;
                EXPECT_EQ(read_bytes(db), original_db) << "killed after " << delay << " ms";
            } else {
                ++new_seen;
            }
        }
        engine_test::expect_index_matches(db, px);
        const Started again = start(dir.path(), "T.DB", logs.path(), number++);
        EXPECT_EQ(finish(again), 0) << read_bytes(again.err);
        EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"T.DB", "T.INI", "T.PX"}))
            << "killed after " << delay << " ms";
        EXPECT_EQ(keys_of(read_bytes(dir.path() / "T.INI"), "NAME").size(), static_cast<std::size_t>(kRows));
    }
    std::cout << "[ kills   ] 9 runs killed: " << old_seen << " left the old table, " << new_seen
              << " the upgraded one; " << interrupted << " left a journal to put back\n";
}

using testing_support::identity;
using Identity = testing_support::FileIdentity;

// The INI file the Windows programs read may be a symbolic link, have
// several names and belong to someone else: the run writes the file, keeps
// the link a link, every name, the owner and the mode.
TEST(SharedFiles, TheIniFileKeepsItsLinksOwnerAndMode) {
    TempDir dir;
    const fs::path work = dir.path() / "work", shared = dir.path() / "shared";
    fs::create_directory(work);
    fs::create_directory(shared);
    make_table(testing_support::utf8(work / "T.DB"), 20);
    testing_support::write_bytes(shared / "PATHS.INI", "[Other]\r\nkeep=1\r\n");
    fs::create_hard_link(shared / "PATHS.INI", shared / "COPY.INI");
    fs::create_symlink("../shared/PATHS.INI", work / "T.INI");
    testing_support::write_bytes(work / "ALONE.INI", "");
    const bool root = testing_support::running_as_root();
    if (root) {
        for (const fs::path& file : {shared / "PATHS.INI", work / "ALONE.INI"}) {
            ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
            ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
        }
    }
    const Identity before = identity(shared / "PATHS.INI");
    TempDir logs;
    ASSERT_EQ(finish(start(work, "T.DB", logs.path(), 0)), 0) << read_bytes(logs.path() / "run0.err");
    EXPECT_TRUE(fs::is_symlink(work / "T.INI"));
    EXPECT_EQ(identity(shared / "PATHS.INI"), before);
    const std::string text = read_bytes(shared / "PATHS.INI");
    EXPECT_EQ(read_bytes(shared / "COPY.INI"), text);
    EXPECT_EQ(text.rfind("[Other]\r\nkeep=1\r\n", 0), 0u) << text;
    EXPECT_EQ(keys_of(text, "NAME").size(), 20u);
    EXPECT_EQ(names_in(work), (std::vector<std::string>{"ALONE.INI", "T.DB", "T.INI", "T.PX"}));
    EXPECT_EQ(names_in(shared), (std::vector<std::string>{"COPY.INI", "PATHS.INI"}));

    // A file with one name is replaced, and the new one keeps the owner.
    fs::copy_file(work / "T.DB", work / "ALONE.DB");
    fs::copy_file(work / "T.PX", work / "ALONE.PX");
    ASSERT_EQ(finish(start(work, "ALONE.DB", logs.path(), 1)), 0) << read_bytes(logs.path() / "run1.err");
    EXPECT_EQ(keys_of(read_bytes(work / "ALONE.INI"), "NAME").size(), 20u);
    if (root) {
        EXPECT_EQ(identity(work / "ALONE.INI").owner, 1234u);
        EXPECT_EQ(identity(work / "ALONE.INI").group, 5678u);
        EXPECT_EQ(identity(work / "ALONE.INI").mode, 0640u);
    }
}

}  // namespace
