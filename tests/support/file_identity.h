#pragma once
// Who a file is on POSIX: what a change in place must keep (the inode, its
// names, owner, group and mode).

#ifndef _WIN32

#include <sys/stat.h>

#include <string>

namespace testing_support {

struct FileIdentity {
    ino_t inode = 0;
    nlink_t links = 0;
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// All zero when the file cannot be looked at.
inline FileIdentity identity(const std::string& native_path) {
    struct stat info {};
    if (::stat(native_path.c_str(), &info) != 0) return {};
    return {info.st_ino, info.st_nlink, info.st_uid, info.st_gid, info.st_mode & 07777};
}

}  // namespace testing_support

#endif
