#pragma once
// A file system for tests that forwards to the operating system's and can
// fail, in the spirit of SQLite's test VFS and LevelDB's fault injection
// test: a test runs an operation once to count its steps, then again
// failing or crashing at every one of them.
//
// - The Nth mutating operation throws (an I/O error); with a crash, every
//   operation after it fails too, until crash_recover() plays the reboot.
// - A crash loses what the disk had not been told to keep: every file goes
//   back to the content of its last flush (or, with torn writes, keeps an
//   arbitrary part of the writes since, sector by sector, in any order),
//   and every creation, removal and rename in a folder not flushed since is
//   undone, so that a file whose data was flushed but whose folder was not
//   may vanish, and a removed file come back.
// - Reads can fail (the Nth read), and the disk can run out of space (writes
//   past a budget write what fits and fail with no_space).
//
// It tracks files by what they are, not by name: a renamed file carries its
// content and its pending writes along, as an inode does.

#include "platform/file_system.h"

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace testing_support {

class FaultFileSystem : public platform::FileSystem {
public:
    FaultFileSystem();

    // Operations counted: open for writing (and create_like), write,
    // truncate, sync, rename, remove, sync_directory.
    int operations() const { return operations_; }
    // Makes operation number n (1-based) fail with an Exception (a transient
    // I/O error); 0 disables. With crash, the failure is a crash: after it
    // every operation fails, reads included, until crash_recover(). Starts
    // the count and what a crash loses afresh.
    void fail_at(int n, bool crash = false);
    // With torn writes, a crash keeps each 512-byte piece of each write not
    // yet flushed (and each such truncation) or loses it, at random from the
    // seed; without, it loses them all.
    void set_torn_writes(bool torn, unsigned seed = 1);
    // The "reboot" after a crash: files and folders go back to what their
    // last flushes made durable (above).
    void crash_recover();
    bool failed() const { return failed_; }

    // Makes read number n (1-based, counted from this call) fail; 0
    // disables.
    void fail_read_at(int n);
    int reads() const { return reads_; }
    // From now on writes may add this many bytes in all; the write that
    // passes the budget writes what fits and fails with no space. nullopt:
    // no limit.
    void limit_space(std::optional<std::uint64_t> bytes) { space_ = bytes; }

    using platform::FileSystem::open;
    std::unique_ptr<platform::File> open(const std::string& path, platform::OpenMode mode,
                                         platform::Lock lock) override;
    std::unique_ptr<platform::File> create_like(const std::string& path, const platform::FileInfo& like,
                                                platform::Lock lock) override;
    platform::FileKind kind(const std::string& path) override;
    platform::FileInfo info(const std::string& path) override;
    std::string resolve_links(const std::string& path) override;
    void rename(const std::string& from, const std::string& to) override;
    void remove(const std::string& path) override;
    void sync_directory(const std::string& directory) override;
    std::vector<std::string> list_directory(const std::string& directory) override;

    // Internal, for the files it opens.
    void step(const std::string& what);
    void read_step(const std::string& what);
    std::size_t writable_bytes(std::size_t wanted, const std::string& path);
    void written(int node, std::uint64_t offset, const void* data, std::size_t n);
    void truncated(int node, std::uint64_t size);
    void synced(int node);

private:
    struct Pending {
        bool truncate = false;
        std::uint64_t offset = 0;  // of a write; the size of a truncation
        std::string bytes;
    };
    struct Node {
        std::string durable;  // the content as of its last flush
        std::string current;
        std::vector<Pending> pending;  // since the last flush, in order
    };
    struct FolderChange {
        enum Type { create, remove, rename } type = create;
        std::string path;  // created or removed; the source of a rename
        std::string to;
        int node = -1;
        int displaced = -1;  // the file a rename replaced
    };

    int track(const std::string& path);
    void forget_losses();
    int new_node(std::string content);
    void changed_folder(const std::string& path, FolderChange change);
    std::string after_crash(const Node& node);

    platform::FileSystem& os_;
    int operations_ = 0;
    int fail_at_ = 0;
    bool crash_ = false;
    bool failed_ = false;
    int reads_ = 0;
    int fail_read_at_ = 0;
    std::optional<std::uint64_t> space_;
    bool torn_ = false;
    std::mt19937 random_;
    std::vector<Node> nodes_;
    std::map<std::string, int> names_;  // tracked paths: node, -1 none
    // Changes of each folder since its last flush, in the order made.
    std::map<std::string, std::vector<std::pair<int, FolderChange>>> unsynced_;
    int sequence_ = 0;
};

}  // namespace testing_support
