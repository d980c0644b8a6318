#include "platform/profile.h"
#include "platform/system.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/exception.h"
#include "support/files.h"
#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace {

using platform::get_private_profile_string;
using platform::ProfileDocument;
using platform::ProfileEntryProblem;
using platform::write_private_profile_string;

using testing_support::read_bytes;
using testing_support::running_as_root;
using testing_support::write_bytes;

// The key list of a section as the Windows function delivers it, names
// joined by ",".
std::string listed(const std::string& file, const char* section, std::size_t size,
                   std::size_t* returned = nullptr) {
    std::string buffer(size, '\x7F');
    const std::size_t n = get_private_profile_string(section, nullptr, "", buffer.data(), size, file);
    if (returned != nullptr) *returned = n;
    std::string joined;
    for (std::size_t i = 0; i < n; ++i) joined += buffer[i] == '\0' ? ',' : buffer[i];
    return joined;
}

TEST(ProfileReading, ValuesAreTrimmedAndLoseOneOuterPairOfQuotes) {
    const struct {
        const char* raw;
        const char* read;
    } cases[] = {
        {"  plain \t", "plain"},    {"\"x\"", "x"},         {"\" sp \"", " sp "},
        {"'x'", "x"},               {"\"a\"b\"", "a\"b"},   {"'a\"", "'a\""},
        {"\"", "\""},               {"\"\"", ""},           {"a;b", "a;b"},
        {"#x", "#x"},               {"\x0B\x0Cv\x0D", "v"}, {"''x''", "'x'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::profile_value_as_read(c.raw), c.read) << "raw: " << c.raw;
        EXPECT_EQ(platform::profile_value_reads_back(c.raw), std::string(c.raw) == c.read)
            << "raw: " << c.raw;
    }
    for (const char* same : {"", "x", "a;b", "\"", "'a\"", "a \"b\" c", "\"a\" b"}) {
        EXPECT_EQ(platform::profile_value_as_read(same), same);
        EXPECT_TRUE(platform::profile_value_reads_back(same)) << "value: " << same;
    }
}

TEST(ProfileReading, LinesOfAnyEndingCommentsAndKeylessLines) {
    for (const std::string eol : {"\r\n", "\n", "\r", "\r\r\n\n"}) {
        const ProfileDocument doc("k0=outside" + eol + "[ s1 ] junk" + eol + "name1 = val1 " + eol +
                                  ";hidden=1" + eol + "  ; also=hidden" + eol + "name2=" + eol +
                                  "name3" + eol + "=nameless" + eol + "name4=a;b");
        EXPECT_EQ(doc.key_names("S1"), (std::vector<std::string>{"name1", "name2", "name4"}))
            << "line end " << eol.size();
        EXPECT_EQ(doc.value("s1", "NAME1"), "val1");
        EXPECT_EQ(doc.value("s1", " name2 "), "");
        EXPECT_EQ(doc.value("s1", "name4"), "a;b");
        EXPECT_EQ(doc.value("s1", "name3"), std::nullopt);
        EXPECT_EQ(doc.value("s1", ";hidden"), std::nullopt);
        EXPECT_EQ(doc.value("", "k0"), std::nullopt);  // before any section
        // Parsed, not rebuilt: the text comes back byte for byte.
        EXPECT_EQ(doc.text(), "k0=outside" + eol + "[ s1 ] junk" + eol + "name1 = val1 " + eol +
                                  ";hidden=1" + eol + "  ; also=hidden" + eol + "name2=" + eol +
                                  "name3" + eol + "=nameless" + eol + "name4=a;b");
    }
}

TEST(ProfileReading, FirstOfDuplicatesWinsAndCaseFoldsOverTheCodePage) {
    // Cyrillic in 1251: "Привет" / "пРИВЕТ", "ё" / "Ё".
    const ProfileDocument doc(
        "[s]\r\nk=1\r\nK=2\r\n\xCF\xF0\xE8\xE2\xE5\xF2=ru\r\n\xB8=yo\r\n[S]\r\nk=3\r\nother=4\r\n");
    EXPECT_EQ(doc.value("s", "k"), "1");
    EXPECT_EQ(doc.value("S", "other"), std::nullopt);  // only the first section is searched
    EXPECT_EQ(doc.key_names("s"), (std::vector<std::string>{"k", "K", "\xCF\xF0\xE8\xE2\xE5\xF2", "\xB8"}));
    EXPECT_EQ(doc.value("s", "\xEF\xD0\xC8\xC2\xC5\xD2"), "ru");
    EXPECT_EQ(doc.value("s", "\xA8"), "yo");
}

TEST(ProfileWriting, ChangesOnlyTheLinesItMustAndEndsThemWithCrlf) {
    const std::string original =
        "; head comment\n[Other]\nx = 1\n\n[s]\n  Key = old   \nplain line\n\n\n[t]\nz=9";
    ProfileDocument doc(original);
    doc.set_value("S", "KEY", "new");  // in place, spelling and spacing before the value kept
    doc.set_value("s", "added", "v");  // after the last non-blank line, blank lines stay behind it
    doc.set_value("t", "y", "");       // after an unterminated last line
    doc.set_value("u", "k", "1");      // a new section at the end
    EXPECT_EQ(doc.text(),
              "; head comment\n[Other]\nx = 1\n\n[s]\n  Key = new\nplain line\nadded=v\r\n\n\n"
              "[t]\nz=9\r\ny=\r\n[u]\r\nk=1\r\n");
    EXPECT_EQ(doc.value("t", "y"), "");
    EXPECT_EQ(doc.value("s", "added"), "v");
}

TEST(ProfileWriting, ReplacingWithTheSameValueIsNoChange) {
    ProfileDocument doc("[s]\nk = v\n");
    doc.set_value("s", "K", "v");
    doc.erase_section("absent");
    doc.erase_key("s", "absent");
    doc.erase_key("absent", "k");
    EXPECT_FALSE(doc.modified());
    doc.set_value("s", "k", "w");
    EXPECT_TRUE(doc.modified());
}

TEST(ProfileWriting, ErasingAKeyUncoversItsDuplicateAndKeepsBlankLines) {
    ProfileDocument doc("[s]\r\nk=1\r\n\r\nk=2\r\n[t]\r\n");
    doc.erase_key("s", "K");
    EXPECT_EQ(doc.text(), "[s]\r\n\r\nk=2\r\n[t]\r\n");
    EXPECT_EQ(doc.value("s", "k"), "2");
    doc.erase_key("s", "k");
    EXPECT_EQ(doc.value("s", "k"), std::nullopt);
    doc.set_value("s", "n", "3");  // goes right after the header again
    EXPECT_EQ(doc.text(), "[s]\r\nn=3\r\n\r\n[t]\r\n");
}

TEST(ProfileWriting, ErasingASectionRemovesEveryCopyOfIt) {
    ProfileDocument doc("[a]\r\nx=1\r\n\r\n[NAME]\r\nk=v\r\n\r\n[b]\r\ny=2\r\n[name]\r\nold=1");
    doc.erase_section("Name");
    EXPECT_EQ(doc.text(), "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n");
    EXPECT_EQ(doc.value("NAME", "old"), std::nullopt);
    doc.set_value("NAME", "k", "w");  // recreated at the end
    EXPECT_EQ(doc.text(), "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n[NAME]\r\nk=w\r\n");
}

TEST(ProfileWriting, RefusesWhatWouldChangeTheStructure) {
    EXPECT_EQ(platform::check_profile_entry("k", "a\r\nb"), ProfileEntryProblem::line_break_in_value);
    EXPECT_EQ(platform::check_profile_entry("k", std::string("a\0b", 3)),
              ProfileEntryProblem::line_break_in_value);
    EXPECT_EQ(platform::check_profile_entry("k\n", "v"), ProfileEntryProblem::line_break_in_key);
    EXPECT_EQ(platform::check_profile_entry(" \t", "v"), ProfileEntryProblem::empty_key);
    EXPECT_EQ(platform::check_profile_entry("a=b", "v"), ProfileEntryProblem::equals_in_key);
    EXPECT_EQ(platform::check_profile_entry(" [x]", "v"),
              ProfileEntryProblem::key_looks_like_section_or_comment);
    EXPECT_EQ(platform::check_profile_entry(";x", "v"),
              ProfileEntryProblem::key_looks_like_section_or_comment);
    EXPECT_EQ(platform::check_profile_entry("x[;]", "a=b;c[d]"), ProfileEntryProblem::none);
    EXPECT_FALSE(platform::valid_profile_section("a]b"));

    ProfileDocument doc("[s]\r\n");
    EXPECT_THROW(doc.set_value("s", "k", "1\n[x]\nk=2"), Exception);
    EXPECT_THROW(doc.set_value("s]", "k", "v"), Exception);
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(doc.text(), "[s]\r\n");
}

TEST(ProfileWriting, ErasedSectionsLeaveTheOtherLinesIntactWhenTheLoadedTextIsDropped) {
    // Erasing NAME leaves most of the loaded text unused; the next write
    // drops it and keeps copies of the lines still in use, both of a section
    // already searched and of one never looked at.
    const std::string head = "; top\r\n[keep]\r\n a = 1 \r\n\r\n";
    std::string big = "[NAME]\r\n";
    for (int i = 0; i < 200; ++i) big += "ID" + std::to_string(i) + "=a display name\r\n";
    ProfileDocument doc(head + big + "[raw]\nx=2\n[NAME]\nID1=dup\n");
    EXPECT_EQ(doc.value("keep", "a"), "1");
    doc.erase_section("name");
    doc.set_value("NAME", "ID1", "v");
    EXPECT_EQ(doc.text(), head + "[raw]\nx=2\n[NAME]\r\nID1=v\r\n");
    EXPECT_EQ(doc.value("raw", "X"), "2");
    doc.set_value("keep", "A", "2");
    doc.erase_key("raw", "x");
    doc.set_value("raw", "y", "3");
    EXPECT_EQ(doc.text(), "; top\r\n[keep]\r\n a = 2\r\n\r\n[raw]\ny=3\r\n[NAME]\r\nID1=v\r\n");
    EXPECT_EQ(doc.key_names("keep"), std::vector<std::string>{"a"});
}

// The operating system's file system, counting renames; new files can be
// made to fail on their second write.
class WatchedFileSystem final : public platform::FileSystemWrapper {
public:
    int renames = 0;
    bool fail_second_write = false;

    using platform::FileSystemWrapper::open;
    std::unique_ptr<platform::File> create_like(const std::string& path, const platform::FileInfo& like,
                                                platform::Lock lock) override {
        auto file = target().create_like(path, like, lock);
        if (fail_second_write) return std::make_unique<FailingFile>(std::move(file));
        return file;
    }
    void rename(const std::string& from, const std::string& to) override {
        ++renames;
        target().rename(from, to);
    }

private:
    class FailingFile final : public platform::File {
    public:
        explicit FailingFile(std::unique_ptr<platform::File> file) : file_(std::move(file)) {}
        std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
            return file_->read_at(offset, buffer, n);
        }
        void write_at(std::uint64_t offset, const void* data, std::size_t n) override {
            if (++writes_ == 2) throw Exception("No space left on device");
            file_->write_at(offset, data, n);
        }
        std::uint64_t size() override { return file_->size(); }
        void truncate(std::uint64_t size) override { file_->truncate(size); }
        void sync() override { file_->sync(); }

    private:
        std::unique_ptr<platform::File> file_;
        int writes_ = 0;
    };

};

class ProfileFunctions : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    std::string file = dir.file("test.ini");
};

TEST_F(ProfileFunctions, KeyListingFollowsTheWindowsBufferRules) {
    write_bytes(file, "[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n");
    std::size_t n = 0;
    EXPECT_EQ(listed(file, "s", 100, &n), "name1,name2,name4,");
    EXPECT_EQ(n, 18u);
    // 18 bytes of names and one final zero: 20 fits, an exact 19 does not.
    EXPECT_EQ(listed(file, "s", 20, &n), "name1,name2,name4,");
    EXPECT_EQ(listed(file, "s", 19, &n), "name1,name2,name4");
    EXPECT_EQ(n, 17u);
    EXPECT_EQ(listed(file, "s", 10, &n), "name1,na");
    std::string buffer(4, 'x');
    EXPECT_EQ(get_private_profile_string("s", nullptr, "", buffer.data(), 4, file), 2u);
    EXPECT_EQ(buffer, std::string("na\0\0", 4));
    EXPECT_EQ(get_private_profile_string("none", nullptr, "", buffer.data(), 4, file), 0u);
    EXPECT_EQ(buffer.substr(0, 2), std::string("\0\0", 2));
}

TEST_F(ProfileFunctions, ValueReadsCutToTheBufferAndFallBackToTheDefault) {
    write_bytes(file, "[s]\nk=abcdef\n");
    char buffer[8];
    EXPECT_EQ(get_private_profile_string("s", "k", "", buffer, 4, file), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(get_private_profile_string("s", "missing", "def  ", buffer, 8, file), 3u);
    EXPECT_STREQ(buffer, "def");
    EXPECT_EQ(get_private_profile_string("s", "missing", nullptr, buffer, 8, file), 0u);
    EXPECT_EQ(get_private_profile_string("s", "k", "d", buffer, 8, dir.file("absent.ini")), 1u);
    EXPECT_STREQ(buffer, "d");
    EXPECT_EQ(get_private_profile_string("s", "k", "d", buffer, 8, dir.path().string()), 1u);
}

TEST_F(ProfileFunctions, WritesCreateReplaceAndDelete) {
    EXPECT_TRUE(write_private_profile_string("s", nullptr, nullptr, file));
    EXPECT_TRUE(write_private_profile_string("s", "k", nullptr, file));
    EXPECT_FALSE(std::filesystem::exists(file)) << "removing nothing must not create the file";

    EXPECT_TRUE(write_private_profile_string("s", "k", "1", file));
    EXPECT_TRUE(write_private_profile_string("s", "j", "", file));
    EXPECT_TRUE(write_private_profile_string("t", "k", "2", file));
    EXPECT_EQ(read_bytes(file), "[s]\r\nk=1\r\nj=\r\n[t]\r\nk=2\r\n");
    EXPECT_TRUE(write_private_profile_string("S", "K", nullptr, file));
    EXPECT_TRUE(write_private_profile_string("T", nullptr, "ignored", file));
    EXPECT_EQ(read_bytes(file), "[s]\r\nj=\r\n");
    EXPECT_FALSE(write_private_profile_string("s", "k", "1\r\nx=2", file));
    EXPECT_EQ(read_bytes(file), "[s]\r\nj=\r\n");
}

TEST_F(ProfileFunctions, WriteFailuresLeaveEverythingAsItWas) {
    EXPECT_FALSE(write_private_profile_string("s", "k", "v", (dir.path() / "missing" / "x.ini").string()));
    EXPECT_FALSE(write_private_profile_string("s", nullptr, nullptr, (dir.path() / "missing" / "x.ini").string()));
    EXPECT_FALSE(write_private_profile_string("s", "k", "v", dir.path().string()));
    EXPECT_FALSE(write_private_profile_string("s", nullptr, nullptr, dir.path().string()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0)
        << "no temporary file may be left behind";
}

TEST_F(ProfileFunctions, OnlyATextThatDiffersFromTheFileIsWritten) {
    write_bytes(file, "[s]\nk=1\n[T]\r\nj=2\r\n");
    WatchedFileSystem watched;
    platform::ScopedFileSystem scoped(watched);
    {
        platform::ProfileFile profile(file);
        profile.document().erase_section("t");
        profile.document().set_value("T", "j", "2");
        profile.save();  // changed, and changed back: the same bytes
        EXPECT_EQ(watched.renames, 0);
        profile.document().set_value("t", "j", "3");  // same size, other bytes
        profile.save();
        EXPECT_EQ(watched.renames, 1);
        EXPECT_EQ(read_bytes(file), "[s]\nk=1\n[T]\r\nj=3\r\n");
        profile.save();
        EXPECT_EQ(watched.renames, 1);
    }
    // A text equal to the loaded one, which the file no longer holds.
    platform::ProfileFile profile(file);
    profile.document().set_value("s", "k", "1");
    write_bytes(file, "[s]\nk=0\n[T]\r\nj=3\r\n");
    profile.document().set_value("t", "j", "4");
    profile.document().set_value("t", "j", "3");
    profile.save();
    EXPECT_EQ(read_bytes(file), "[s]\nk=1\n[T]\r\nj=3\r\n");
}

TEST_F(ProfileFunctions, ASaveFailingPartWayThroughALargeFileLeavesTheOldOne) {
    write_bytes(file, "[old]\r\nk=1\r\n");
    WatchedFileSystem watched;
    watched.fail_second_write = true;
    platform::ScopedFileSystem scoped(watched);
    platform::ProfileFile profile(file);
    for (int i = 0; i < 60000; ++i) {  // a few MiB: written in several pieces
        profile.document().set_value("NAME", "ID" + std::to_string(i), "a display name of some length");
    }
    EXPECT_THROW(profile.save(), Exception);
    EXPECT_EQ(read_bytes(file), "[old]\r\nk=1\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no temporary file may be left behind";
}

// A file held open by another program as Windows sees it: a rename over it
// is refused for sharing. (POSIX has no such refusal; the Windows tests hold
// a real handle.)
class HeldOpenFileSystem final : public platform::FileSystemWrapper {
public:
    explicit HeldOpenFileSystem(std::string held, bool sharing = true) : held_(std::move(held)), sharing_(sharing) {}
    void rename(const std::string& from, const std::string& to) override {
        if (to == held_) throw Exception("Cannot rename \"" + from + "\" to \"" + to + "\": in use");
        target().rename(from, to);
    }
    bool replace_blocked_by_sharing(const std::string& path) override { return sharing_ && path == held_; }

private:
    std::string held_;
    bool sharing_;
};

TEST_F(ProfileFunctions, AFileHeldOpenIsWrittenInPlace) {
    write_bytes(file, "[s]\r\nk=1\r\n; a comment longer than what replaces it\r\n");
    HeldOpenFileSystem held(file);
    platform::ScopedFileSystem scoped(held);
    EXPECT_TRUE(write_private_profile_string("s", nullptr, nullptr, file));
    EXPECT_TRUE(write_private_profile_string("t", "k", "2", file));
    EXPECT_EQ(read_bytes(file), "[t]\r\nk=2\r\n") << "the old, longer text is cut";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no temporary file may be left behind";
}

TEST_F(ProfileFunctions, OnlySharingMakesAFailedReplaceAWriteInPlace) {
    write_bytes(file, "[s]\r\nk=1\r\n");
    HeldOpenFileSystem refused(file, /*sharing=*/false);
    platform::ScopedFileSystem scoped(refused);
    EXPECT_FALSE(write_private_profile_string("s", "k", "2", file));
    EXPECT_EQ(read_bytes(file), "[s]\r\nk=1\r\n");
}

TEST_F(ProfileFunctions, ReadOnlyFileIsNotReplaced) {
    if (running_as_root()) GTEST_SKIP() << "running as root: file permissions are not enforced";
    write_bytes(file, "[s]\nk=1\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    EXPECT_FALSE(write_private_profile_string("s", "k", "2", file));
    EXPECT_EQ(read_bytes(file), "[s]\nk=1\n");
}

TEST_F(ProfileFunctions, SavingKeepsThePermissions) {
    write_bytes(file, "[s]\nk=1\n");
    const auto mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                      std::filesystem::perms::group_read;
    std::filesystem::permissions(file, mode);
    EXPECT_TRUE(write_private_profile_string("s", "k", "2", file));
#ifndef _WIN32
    // Windows has no permission bits: a new file takes the directory's ACL.
    EXPECT_EQ(std::filesystem::status(file).permissions(), mode);
#endif
    EXPECT_EQ(read_bytes(file), "[s]\nk=2\n");
}

TEST_F(ProfileFunctions, ABareNameResolvesAgainstTheCurrentDirectory) {
    bool written = false;
    {
        testing_support::CurrentDirectoryGuard restore;
        platform::set_current_directory(platform::from_command_line(dir.path().string()));
        written = write_private_profile_string("s", "k", "v", "bare.ini");
    }
    EXPECT_TRUE(written);
    EXPECT_EQ(read_bytes(dir.file("bare.ini")), "[s]\r\nk=v\r\n");
}

}  // namespace
