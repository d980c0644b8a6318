#pragma once
// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away. Paths are UTF-8 on every
// platform; support/native_path.h converts them to ANSI (ansi) or to a
// std::filesystem path (fs_path).

#include <filesystem>
#include <string>

#include "platform/system.h"
#include "support/native_path.h"

namespace testing_support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The UTF-8 path of a file inside the directory; name is UTF-8 too.
    std::string file(const std::string& name) const { return utf8(path_ / fs_path(name)); }

private:
    std::filesystem::path path_;
};

// Restores the process's current directory when a test that changed it ends.
class CurrentDirectoryGuard {
public:
    CurrentDirectoryGuard() : saved_(platform::current_directory()) {}
    ~CurrentDirectoryGuard() { platform::set_current_directory(saved_); }
    CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
    CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

private:
    std::string saved_;
};

}  // namespace testing_support
