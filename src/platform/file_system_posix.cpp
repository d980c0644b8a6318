// The operating system's file system on POSIX.

#include "platform/file_system.h"

#include "platform/code_page_posix.h"
#include "platform/exception.h"
#include "platform/path_parts.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {
namespace {

using posix::from_native;
using posix::to_native;

ErrorKind kind_of(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return ErrorKind::not_found;
        case EACCES:
        case EPERM:
        case EROFS:
            return ErrorKind::permission;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ErrorKind::no_space;
        case EAGAIN:
        case EBUSY:
        case ETXTBSY:
            return ErrorKind::in_use;
        default:
            return ErrorKind::other;
    }
}

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    const std::string reason = std::strerror(error);
    throw Exception(what + " \"" + path + "\": " + reason, kind_of(error), reason);
}

// A file descriptor, closed by its destructor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Takes a lock on the whole file, however long it grows; false when
// another holds a conflicting one. Open file description locks stay with
// this descriptor whatever else the process opens and closes; record locks
// (where the system has no others) belong to the process.
bool try_lock(int fd, short type, const std::string& path) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
    int result = ::fcntl(fd, F_OFD_SETLK, &lock);
    if (result != 0 && errno == EINVAL) result = ::fcntl(fd, F_SETLK, &lock);  // an older kernel
#else
    int result = ::fcntl(fd, F_SETLK, &lock);
#endif
    if (result == 0) return true;
    if (errno == EAGAIN || errno == EACCES) return false;
    fail("Cannot lock file", path, errno);
}

// Who holds the lock that refused us, when the system tells (record locks
// name their process; open file description locks do not).
std::string lock_holder(int fd, short type) {
    struct flock probe {};
    probe.l_type = type;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0)
        return "locked by process " + std::to_string(probe.l_pid);
    return "locked by another program";
}

void lock_or_fail(int fd, Lock lock, const std::string& path) {
    if (lock == Lock::none) return;
    const short type = lock == Lock::shared ? F_RDLCK : F_WRLCK;
    if (try_lock(fd, type, path)) return;
    const std::string reason = lock_holder(fd, type);
    throw Exception("File \"" + path + "\" is in use by another program (" + reason + ")", ErrorKind::in_use,
                    reason);
}

class PosixFile final : public File {
public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
        std::size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        while (done < n) {
            const ssize_t r = ::pread(fd_.get(), out + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0) {
                if (errno == EINTR) continue;
                fail("Cannot read file", path_, errno);
            }
            if (r == 0) break;
            done += static_cast<std::size_t>(r);
        }
        return done;
    }

    void write_at(std::uint64_t offset, const void* data, std::size_t n) override {
        std::size_t done = 0;
        const auto* in = static_cast<const char*>(data);
        while (done < n) {
            const ssize_t r = ::pwrite(fd_.get(), in + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0) {
                if (errno == EINTR) continue;
                fail("Cannot write file", path_, errno);
            }
            done += static_cast<std::size_t>(r);
        }
    }

    std::uint64_t size() override {
        struct stat info {};
        if (::fstat(fd_.get(), &info) != 0) fail("Cannot examine file", path_, errno);
        return static_cast<std::uint64_t>(info.st_size);
    }

    void truncate(std::uint64_t new_size) override {
        if (::ftruncate(fd_.get(), static_cast<off_t>(new_size)) != 0)
            fail("Cannot truncate file", path_, errno);
    }

    void sync() override {
        if (::fsync(fd_.get()) != 0) fail("Cannot flush file", path_, errno);
    }

private:
    Descriptor fd_;
    std::string path_;
};

int open_descriptor(const std::string& path, int flags, mode_t mode) {
    const std::string native = to_native(path);
    int fd;
    do {
        fd = ::open(native.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) fail("Cannot open file", path, errno);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        fail("Cannot open file", path, EISDIR);
    }
    return fd;
}

class PosixFileSystem final : public FileSystem {
public:
    using FileSystem::open;

    std::unique_ptr<File> open(const std::string& path, OpenMode mode, Lock lock) override {
        int flags = 0;
        bool truncate = false;
        switch (mode) {
            case OpenMode::read: flags = O_RDONLY; break;
            case OpenMode::read_write: flags = O_RDWR; break;
            // Cut only once the lock is held: a file that another program
            // has locked must keep its content.
            case OpenMode::create:
                flags = O_RDWR | O_CREAT;
                truncate = true;
                break;
            case OpenMode::create_new: flags = O_RDWR | O_CREAT | O_EXCL; break;
        }
        if (mode == OpenMode::read && (lock == Lock::exclusive || lock == Lock::update))
            throw Exception("File \"" + path + "\": a write lock needs a file open for writing");
        Descriptor fd(open_descriptor(path, flags, 0666));
        lock_or_fail(fd.get(), lock, path);
        if (truncate && ::ftruncate(fd.get(), 0) != 0) fail("Cannot truncate file", path, errno);
        return std::make_unique<PosixFile>(fd.release(), path);
    }

    std::unique_ptr<File> create_like(const std::string& path, const FileInfo& like, Lock lock) override {
        const bool keep = like.kind == FileKind::file && like.has_owner;
        // The umask may narrow the mode, never widen it; the exact mode
        // follows before a byte is written.
        Descriptor fd(open_descriptor(path, O_RDWR | O_CREAT | O_EXCL, keep ? (like.mode & 0777) : 0666));
        const std::string native = to_native(path);
        try {
            lock_or_fail(fd.get(), lock, path);
            if (keep) {
                struct stat now {};
                if (::fstat(fd.get(), &now) != 0) fail("Cannot examine file", path, errno);
                if ((now.st_uid != like.owner || now.st_gid != like.group) &&
                    ::fchown(fd.get(), like.owner, like.group) != 0) {
                    const int error = errno;
                    const std::string reason = std::strerror(error);
                    throw Exception("Cannot give \"" + path + "\" the owner and group of the file it replaces (" +
                                        std::to_string(like.owner) + ":" + std::to_string(like.group) +
                                        "): " + reason,
                                    ErrorKind::permission, reason);
                }
                // After the owner: changing it clears the set-id bits.
                if (::fchmod(fd.get(), like.mode & 07777) != 0) fail("Cannot set permissions of file", path, errno);
            }
        } catch (...) {
            ::unlink(native.c_str());
            throw;
        }
        return std::make_unique<PosixFile>(fd.release(), path);
    }

    FileKind kind(const std::string& path) override {
        struct stat info {};
        if (path.empty() || ::stat(to_native(path).c_str(), &info) != 0) return FileKind::missing;
        if (S_ISREG(info.st_mode)) return FileKind::file;
        if (S_ISDIR(info.st_mode)) return FileKind::directory;
        return FileKind::other;
    }

    FileInfo info(const std::string& path) override {
        FileInfo result;
        struct stat info {};
        if (path.empty() || ::stat(to_native(path).c_str(), &info) != 0) return result;
        result.kind = S_ISREG(info.st_mode)   ? FileKind::file
                      : S_ISDIR(info.st_mode) ? FileKind::directory
                                              : FileKind::other;
        result.size = static_cast<std::uint64_t>(info.st_size);
        result.links = static_cast<std::uint32_t>(info.st_nlink);
        result.has_owner = true;
        result.owner = info.st_uid;
        result.group = info.st_gid;
        result.mode = info.st_mode & 07777;
        return result;
    }

    std::string resolve_links(const std::string& path) override {
        std::string current = path;
        for (int hops = 0; hops < 40; ++hops) {
            const std::string native = to_native(current);
            struct stat info {};
            if (::lstat(native.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
            std::vector<char> target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
            const ssize_t n = ::readlink(native.c_str(), target.data(), target.size());
            if (n < 0) fail("Cannot read link", current, errno);
            const std::string next = from_native(std::string(target.data(), static_cast<std::size_t>(n)));
            current = !next.empty() && next[0] == '/' ? next : directory_part(current) + next;
        }
        fail("Cannot follow link", path, ELOOP);
    }

    void rename(const std::string& from, const std::string& to) override {
        if (::rename(to_native(from).c_str(), to_native(to).c_str()) != 0)
            fail("Cannot rename \"" + from + "\" to", to, errno);
    }

    void remove(const std::string& path) override {
        if (::unlink(to_native(path).c_str()) != 0 && errno != ENOENT)
            fail("Cannot remove file", path, errno);
    }

    void sync_directory(const std::string& directory) override {
        const std::string native = to_native(directory.empty() ? std::string(".") : directory);
        Descriptor fd(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.get() < 0) fail("Cannot open directory", directory, errno);
        if (::fsync(fd.get()) != 0 && errno != EINVAL) fail("Cannot flush directory", directory, errno);
    }

    std::vector<std::string> list_directory(const std::string& directory) override {
        const std::string native = to_native(directory.empty() ? std::string(".") : directory);
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(native.c_str()), ::closedir);
        if (!dir) fail("Cannot read directory", directory, errno);
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(from_native(name));
        }
        return names;
    }
};

}  // namespace

FileSystem& os_file_system() {
    static PosixFileSystem instance;
    return instance;
}

bool file_names_ignore_case() { return false; }

}  // namespace platform
