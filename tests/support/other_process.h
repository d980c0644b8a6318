#pragma once
// What other programs do to our files, for tests: hold a lock on a file, or
// run as another user.

#include <filesystem>
#include <functional>

namespace testing_support {

// A lock that another program holds on a file for the lifetime of this
// object. POSIX: a child process holding an fcntl record lock (a write lock,
// or a read lock) on the whole file, as a program of the old engine's
// runtime would. Windows: a handle opened without sharing, as another
// program's would be (share modes apply between handles, so one in this
// process stands for one in another).
class ForeignLock {
public:
    explicit ForeignLock(const std::filesystem::path& file, bool write = true);
    ~ForeignLock();
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;

private:
    int process_ = -1;
    int pipe_ = -1;
    void* handle_ = nullptr;
};

#ifndef _WIN32
// Runs `work` in a child process with the given user and group and no
// others (which needs root); returns what `work` returned, or -1 when the
// child did not end normally.
int run_as(unsigned uid, unsigned gid, const std::function<int()>& work);
#endif

}  // namespace testing_support
