#pragma once
// The file system as the program sees it. All paths are ANSI text; the
// implementation converts them to the operating system's encoding at every
// call, so non-ASCII (Cyrillic) names work. Every failure throws Exception
// whose message names the file and the operating system's reason.
//
// One implementation per operating system (file_system_posix.cc,
// file_system_win32.cc); tests install their own (a fault-injecting wrapper,
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

// An open file. Closed by its destructor; never closed by hand.
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

enum class FileKind { missing, file, directory, other };

class FileSystem {
public:
    FileSystem() = default;
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;
    virtual ~FileSystem() = default;

    virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode) = 0;
    // What the path names; never throws for a missing path.
    virtual FileKind kind(const std::string& path) = 0;
    // Renames a file, atomically replacing the target when it exists.
    virtual void rename(const std::string& from, const std::string& to) = 0;
    // Removes a file; a missing file is not an error.
    virtual void remove(const std::string& path) = 0;
    // Makes renames and creations in the directory durable (no-op where the
    // operating system has no such notion).
    virtual void sync_directory(const std::string& directory) = 0;
    // Names (not paths) of the entries of a directory, "." and ".." left out.
    virtual std::vector<std::string> list_directory(const std::string& directory) = 0;
    // Gives `to` the access permissions of `from` (best effort where the
    // operating system has no such notion).
    virtual void copy_permissions(const std::string& from, const std::string& to) = 0;
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

    std::unique_ptr<File> open(const std::string& path, OpenMode mode) override { return target_.open(path, mode); }
    FileKind kind(const std::string& path) override { return target_.kind(path); }
    void rename(const std::string& from, const std::string& to) override { target_.rename(from, to); }
    void remove(const std::string& path) override { target_.remove(path); }
    void sync_directory(const std::string& directory) override { target_.sync_directory(directory); }
    std::vector<std::string> list_directory(const std::string& directory) override {
        return target_.list_directory(directory);
    }
    void copy_permissions(const std::string& from, const std::string& to) override {
        target_.copy_permissions(from, to);
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

// Helpers over file_system().
std::string read_whole_file(const std::string& path);
// The path of a temporary file beside `path`: the path followed by the
// suffix, unless that makes the file's name longer than the file system
// holds (name_too_long); then the name is cut and followed by "~", a hash of
// the whole name and the suffix, which always fits. The same path and suffix
// always give the same result, so that a later run finds what an
// interrupted one left.
std::string temporary_path(const std::string& path, std::string_view suffix);
// Writes the bytes to a temporary file beside `path`, flushes it, gives it
// the permissions of the existing file and renames it over `path`: the file
// is always either its old or its new content.
void write_file_atomically(const std::string& path, const std::string& bytes);
// The same for content produced piece by piece, so that it need not be held
// whole in memory: `produce` is called once and hands every piece, in order,
// to the sink it is given. An exception from `produce` or from a write leaves
// the file as it was.
using ContentSink = std::function<void(std::string_view)>;
void write_stream_atomically(const std::string& path,
                             const std::function<void(const ContentSink&)>& produce);

}  // namespace platform
