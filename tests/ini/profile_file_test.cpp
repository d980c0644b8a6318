#include "ini/profile_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "platform/text.h"
#include "support/files.h"
#include "support/private_profile.h"
#include "support/temp_dir.h"

namespace {

using testing_support::read_bytes;
using testing_support::running_as_root;
using testing_support::write_bytes;
using testing_support::write_private_profile_string;

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
        ini::ProfileFile profile(file);
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
    ini::ProfileFile profile(file);
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
    ini::ProfileFile profile(file);
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

TEST_F(ProfileFunctions, SectionsErasedBeforeTheLoadAreLeftOutAsTheFileIsRead) {
    // Pieces of the file are read a megabyte at a time: headers, line breaks
    // and long lines fall on the piece boundaries.
    const std::size_t piece = 1 << 20;
    const auto filler = [](std::size_t bytes) {
        std::string text;
        for (int i = 0; text.size() + 12 < bytes; ++i) text += "k" + std::to_string(i % 1000) + "=v\r\n";
        return text + std::string(bytes - text.size(), 'x');
    };
    const std::string texts[] = {
        "top=1\r\n[NAME]\r\nA=1\r\n[Other]\r\nB=2\r\n [ path ] \r\nC=3\r\n[priority]\nD=4\n[name]\r\nE=5\r\n[TAIL]\r\nF=6",
        filler(piece - 2) + "\r\n[NAME]\r\nA=1\r\n[KEEP]\r\nB=2\r\n",   // a header starts a piece
        filler(piece - 7) + "\r\n[NAME]\r\nA=1\r\n[KEEP]\r\nB=2\r\n",   // a header across two pieces
        "[KEEP]\r\nA=1\r\n" + filler(piece - 14) + "\r\n[PATH]\r\nB=2\r\n",  // CR, then LF in the next piece
        "[NAME]\r\n" + std::string(3 * piece, 'n') + "\r\n[KEEP]\r\nx=" + std::string(piece + 5, 'k') + "\r\n",
        "[KEEP]\r\nA=1\r\n[PATH]\r\nB=2\x1A\x1A",  // Ctrl-Z at the end of an erased section
        "[KEEP]\r\nA=1\x1A\x1A",                    // and of a kept one
        "[KEEP]\r\nA=1\r\n",                        // nothing to erase
        "\xEF\xBB\xBF[KEEP]\r\nA=1\r\n[NAME]\r\nB=2\r\n",  // UTF-8: loaded whole
        "",
    };
    for (const std::string& text : texts) {
        write_bytes(file, text);
        ini::ProfileFile whole(file);
        whole.document();
        ini::ProfileFile read_without(file);
        for (const char* section : {"NAME", "Path", "PRIORITY"}) {
            whole.erase_section(section);
            read_without.erase_section(section);
        }
        const std::string expected = whole.document().text();
        EXPECT_TRUE(read_without.document().text() == expected) << text.substr(0, 60);
        EXPECT_EQ(read_without.document().value("KEEP", "B"), whole.document().value("KEEP", "B"));
        // Saved alike: rewritten when something was erased, else untouched.
        whole.save();
        const std::string saved = read_bytes(file);
        write_bytes(file, text);
        read_without.save();
        EXPECT_TRUE(read_bytes(file) == saved) << text.substr(0, 60);
    }
    // Erased before a save without any other use: the file is still written.
    write_bytes(file, "[NAME]\r\nA=1\r\n[KEEP]\r\nB=2\r\n");
    ini::ProfileFile only_erased(file);
    only_erased.erase_section("name");
    only_erased.save();
    EXPECT_EQ(read_bytes(file), "[KEEP]\r\nB=2\r\n");
}

}  // namespace
