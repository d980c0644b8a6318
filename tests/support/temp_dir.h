#pragma once
// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away. Paths are native (UTF-8 on
// POSIX); convert with platform::from_command_line when ANSI is needed.

#include <filesystem>
#include <string>

namespace testing_support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The native path of a file inside the directory.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace testing_support
