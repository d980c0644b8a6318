// The operating system's file system on POSIX.

#include "platform/file_system.h"

#include "platform/code_page_posix.h"
#include "platform/exception.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

using posix::from_native;
using posix::to_native;

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw Exception(what + " \"" + path + "\": " + std::strerror(error));
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

private:
    int fd_;
};

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

class PosixFileSystem final : public FileSystem {
public:
    std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
        int flags = O_CLOEXEC;
        switch (mode) {
        case OpenMode::read: flags |= O_RDONLY; break;
        case OpenMode::read_write: flags |= O_RDWR; break;
        case OpenMode::create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case OpenMode::create_new: flags |= O_RDWR | O_CREAT | O_EXCL; break;
        }
        const std::string native = to_native(path);
        int fd;
        do {
            fd = ::open(native.c_str(), flags, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) fail("Cannot open file", path, errno);
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
            ::close(fd);
            fail("Cannot open file", path, EISDIR);
        }
        return std::make_unique<PosixFile>(fd, path);
    }

    FileKind kind(const std::string& path) override {
        struct stat info {};
        if (path.empty() || ::stat(to_native(path).c_str(), &info) != 0) return FileKind::missing;
        if (S_ISREG(info.st_mode)) return FileKind::file;
        if (S_ISDIR(info.st_mode)) return FileKind::directory;
        return FileKind::other;
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

    void copy_permissions(const std::string& from, const std::string& to) override {
        struct stat info {};
        if (::stat(to_native(from).c_str(), &info) != 0) fail("Cannot examine file", from, errno);
        if (::chmod(to_native(to).c_str(), info.st_mode & 07777) != 0)
            fail("Cannot set permissions of file", to, errno);
    }
};

}  // namespace

FileSystem& os_file_system() {
    static PosixFileSystem instance;
    return instance;
}

}  // namespace platform
