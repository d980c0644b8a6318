#include "support/other_process.h"

#include <stdexcept>
#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testing_support {

#ifdef _WIN32

ForeignLock::ForeignLock(const std::filesystem::path& file, bool write) {
    HANDLE handle = CreateFileW(file.wstring().c_str(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                write ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot hold " + file.string());
    handle_ = handle;
}

ForeignLock::~ForeignLock() { CloseHandle(static_cast<HANDLE>(handle_)); }

#else

ForeignLock::ForeignLock(const std::filesystem::path& file, bool write) {
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe");
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork");
    if (child == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        const int fd = ::open(file.c_str(), write ? O_RDWR : O_RDONLY);
        struct flock lock {};
        lock.l_type = write ? F_WRLCK : F_RDLCK;
        lock.l_whence = SEEK_SET;
        const char status = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
        if (::write(ready[1], &status, 1) != 1) ::_exit(2);
        char ignored;
        while (::read(release[0], &ignored, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char status = 'n';
    const bool told = ::read(ready[0], &status, 1) == 1;
    ::close(ready[0]);
    process_ = child;
    pipe_ = release[1];
    if (!told || status != 'y') {
        this->~ForeignLock();
        throw std::runtime_error("the other process could not lock " + file.string());
    }
}

ForeignLock::~ForeignLock() {
    if (pipe_ >= 0) ::close(pipe_);
    pipe_ = -1;
    if (process_ > 0) ::waitpid(process_, nullptr, 0);
    process_ = -1;
}

int run_as(unsigned uid, unsigned gid, const std::function<int()>& work) {
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork");
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(126);
        int result = 127;
        try {
            result = work();
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

#endif

}  // namespace testing_support
