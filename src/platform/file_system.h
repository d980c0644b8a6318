#pragma once
// The file system as the program sees it. All paths are ANSI text; the
// implementation converts them to the operating system's encoding at every
// call, so non-ASCII (Cyrillic) names work. Every failure throws Exception
// whose message names the file and the operating system's reason, and whose
// kind says what went wrong (platform/exception.h).
//
// One implementation per operating system (file_system_posix.cpp,
// file_system_win32.cpp); tests install their own (a fault-injecting wrapper,
// say) with ScopedFileSystem. Code above platform/ and engine/ never calls
// the operating system directly.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What a file is and who owns it, as far as the program keeps it when it
// writes the file anew.
enum class FileKind { missing, file, directory, other };

struct FileInfo {
    FileKind kind = FileKind::missing;
    std::uint64_t size = 0;
    std::uint32_t links = 1;  // hard links (names) of the file
    // POSIX: owner, group and the permission bits (07777).
    bool has_owner = false;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint32_t mode = 0;
    // Windows: the attributes users set by hand (hidden, system, not
    // content indexed), and whether the name is a symbolic link (or another
    // reparse point), which a rename over it would replace.
    std::uint32_t attributes = 0;
    bool link = false;
};

// An open file. Closed by its destructor (which releases its lock); never
// closed by hand.
class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    virtual ~File() = default;

    // Reads up to n bytes at offset; returns how many were read (fewer only at
    // the end of the file).
    virtual std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t n) = 0;
    // Writes all n bytes at offset, extending the file as needed.
    virtual void write_at(std::uint64_t offset, const void* data, std::size_t n) = 0;
    virtual std::uint64_t size() = 0;
    virtual void truncate(std::uint64_t size) = 0;
    // Makes everything written so far durable (fsync / FlushFileBuffers).
    virtual void sync() = 0;
};

enum class OpenMode {
    read,         // existing file, read only
    read_write,   // existing file, read and write
    create,       // create or truncate, read and write
    create_new,   // create; fails when the file already exists
};

// The lock an open takes on the file, held until the file is closed. An
// open that cannot have it at once fails with ErrorKind::in_use (see
// open_waiting for the open that waits a while).
//
//   shared     Readers of a table. POSIX: a read lock (fcntl). Windows: the
//              file may be read and written by others but not deleted or
//              renamed, and an `exclusive` open fails while it is open.
//   exclusive  The one writer of a table, a journal, a temporary file.
//              POSIX: a write lock (fcntl). Windows: a share mode that
//              denies every other open.
//   update     The one writer of a file that other programs keep open and
//              write as they please (an INI file): excludes other `update`
//              and `exclusive` holders, not plain readers and writers.
//              POSIX: a write lock. Windows: a lock on a byte far past the
//              end of the file (LockFileEx), which the file's data never
//              reaches.
//
// POSIX locks are open file description locks where the system has them
// (Linux), so that they belong to the open file, not to the process, and
// closing another descriptor of the same file does not drop them. They are
// advisory: they stop programs that ask for locks, as the old engine's
// runtime does, not those that never ask.
enum class Lock { none, shared, exclusive, update };

class FileSystem {
public:
    FileSystem() = default;
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;
    virtual ~FileSystem() = default;

    std::unique_ptr<File> open(const std::string& path, OpenMode mode) { return open(path, mode, Lock::none); }
    // Opens the file and takes the lock (tried once). `exclusive` and
    // `update` need a mode that writes.
    virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode, Lock lock) = 0;
    // Creates a new file (fails when it exists) that has from the start the
    // owner, group, mode and attributes of `like` (a file it will replace),
    // or the defaults when `like` describes no file. Refuses, with
    // ErrorKind::permission and no file left, when the system will not give
    // it that owner or group.
    virtual std::unique_ptr<File> create_like(const std::string& path, const FileInfo& like, Lock lock) = 0;
    // What the path names; never throws for a missing path.
    virtual FileKind kind(const std::string& path) = 0;
    // The file the path reaches (symbolic links followed), its owner and
    // links; kind is missing when there is none. Never throws.
    virtual FileInfo info(const std::string& path) = 0;
    // The path of the file that a write to `path` reaches: where the file's
    // own name is a symbolic link, the path of the file it leads to (links
    // followed one after the other, relative ones from the link's folder),
    // even when that file does not exist yet. Other paths come back as
    // given. Throws for a loop of links.
    virtual std::string resolve_links(const std::string& path) = 0;
    // Renames a file, atomically replacing the target when it exists.
    virtual void rename(const std::string& from, const std::string& to) = 0;
    // Removes a file; a missing file is not an error.
    virtual void remove(const std::string& path) = 0;
    // Makes renames and creations in the directory durable (no-op where the
    // operating system has no such notion).
    virtual void sync_directory(const std::string& directory) = 0;
    // Names (not paths) of the entries of a directory, "." and ".." left out.
    virtual std::vector<std::string> list_directory(const std::string& directory) = 0;
    // True when another program holds the file open so that it cannot be
    // renamed over or removed (on Windows: opened without FILE_SHARE_DELETE,
    // as many programs open their INI files). Never on POSIX, where a rename
    // does not look at open files.
    virtual bool replace_blocked_by_sharing(const std::string&) { return false; }
};

// Forwards every call to another file system (the operating system's by
// default). Tests and benchmarks derive from it and override only the calls
// they change, e.g. to fail the Nth write.
class FileSystemWrapper : public FileSystem {
public:
    explicit FileSystemWrapper(FileSystem& target);
    FileSystemWrapper();

    using FileSystem::open;
    std::unique_ptr<File> open(const std::string& path, OpenMode mode, Lock lock) override {
        return target_.open(path, mode, lock);
    }
    std::unique_ptr<File> create_like(const std::string& path, const FileInfo& like, Lock lock) override {
        return target_.create_like(path, like, lock);
    }
    FileKind kind(const std::string& path) override { return target_.kind(path); }
    FileInfo info(const std::string& path) override { return target_.info(path); }
    std::string resolve_links(const std::string& path) override { return target_.resolve_links(path); }
    void rename(const std::string& from, const std::string& to) override { target_.rename(from, to); }
    void remove(const std::string& path) override { target_.remove(path); }
    void sync_directory(const std::string& directory) override { target_.sync_directory(directory); }
    std::vector<std::string> list_directory(const std::string& directory) override {
        return target_.list_directory(directory);
    }
    bool replace_blocked_by_sharing(const std::string& path) override {
        return target_.replace_blocked_by_sharing(path);
    }

protected:
    FileSystem& target() { return target_; }

private:
    FileSystem& target_;
};

// The file system in force: the operating system's unless a test installed
// another.
FileSystem& file_system();

// The operating system's file system, whatever is installed.
FileSystem& os_file_system();

// Installs a file system for the lifetime of this object (tests).
class ScopedFileSystem {
public:
    explicit ScopedFileSystem(FileSystem& replacement);
    ~ScopedFileSystem();
    ScopedFileSystem(const ScopedFileSystem&) = delete;
    ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

private:
    FileSystem* previous_;
};

// How long open_waiting waits for a lock that another program holds, in
// milliseconds (10 seconds unless changed; 0 tries once). Returns the
// previous setting. For tests, which need not wait for locks they hold.
unsigned set_lock_wait(unsigned milliseconds);

// Opens with a lock, waiting up to the lock wait for another program to
// release it: runs of this program on one file take turns. Then fails with
// ErrorKind::in_use.
std::unique_ptr<File> open_waiting(const std::string& path, OpenMode mode, Lock lock);

// True where the file system takes names without regard to case (Windows):
// T.DB and t.db are one file.
bool file_names_ignore_case();

// Helpers over file_system().
std::string read_whole_file(const std::string& path);
// The path of a temporary file beside `path`: the path followed by the
// suffix, unless that makes the file's name longer than the file system
// holds (name_too_long); then the name is cut and followed by "~", a hash of
// the whole name and the suffix, which always fits. The same path and suffix
// always give the same result, so that a later run finds what an
// interrupted one left.
std::string temporary_path(const std::string& path, std::string_view suffix);
// A temporary file of this run alone beside `path`: "<name>.~<tag><suffix>"
// (unique_name_tag), cut as temporary_path cuts a name that would be too
// long. is_run_temporary tells whether a name of the folder is one such, of
// any run.
std::string run_temporary_path(const std::string& path, std::string_view suffix);
bool is_run_temporary(const std::string& path, std::string_view suffix, const std::string& name);

// Saving a whole file so that a crash at any moment leaves its old content
// or its new one, keeping what the file is: the file a symbolic link leads
// to is written (the link stays a link), and its owner, group, mode and
// attributes stay. A file with one name is replaced atomically (a temporary
// file beside it, created with the final owner and mode and a name of its
// own, flushed, renamed over it), so that readers see the old or the new
// content, never a mix. A file with more than one name (hard links) is
// written in place under a rollback journal (write_stream_in_place), which
// keeps every name. Refuses (ErrorKind::permission) when the system will not
// let the new file have the old one's owner or group.
void write_file_atomically(const std::string& path, const std::string& bytes);
// The same for content produced piece by piece, so that it need not be held
// whole in memory: `produce` hands every piece, in order, to the sink it is
// given, each time it is called (once, or again when a save that another
// run's disturbed starts over). An exception from `produce` or from a write leaves
// the file as it was.
using ContentSink = std::function<void(std::string_view)>;
using ContentProducer = std::function<void(const ContentSink&)>;
void write_stream_atomically(const std::string& path, const ContentProducer& produce);

// Writes the content over the file's own bytes (the file keeps its inode,
// links, owner and mode) under a rollback journal beside it (journal.h): the
// old content is saved and flushed first, so that a failure puts it back at
// once and a crash leaves a journal from which the next open of the file
// puts it back. Readers may see the write under way. Holds an `update` lock
// on the file meanwhile. Creates the file when it does not exist.
void write_stream_in_place(const std::string& path, const ContentProducer& produce);

// Puts back the old content of a file whose in-place write a crash
// interrupted; nothing when there is none. Called before the file is read.
void recover_file(const std::string& path);

}  // namespace platform
