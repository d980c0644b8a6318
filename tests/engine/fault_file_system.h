#pragma once
// A file system for tests that forwards to the operating system's and can
// fail: the Nth mutating operation throws (an I/O error), and a simulated
// crash drops everything written since each file's last flush. In the
// spirit of SQLite's test VFS: a test runs an operation once to count its
// steps, then again failing or crashing at every one of them.

#include "platform/file_system.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace engine_test {

class FaultFileSystem : public platform::FileSystem {
public:
    FaultFileSystem();

    // Operations counted: open for writing, write, truncate, sync, rename,
    // remove, sync_directory, copy_permissions.
    int operations() const { return operations_; }
    // Makes operation number n (1-based) and every later one fail with an
    // Exception; 0 disables. With crash, the failure is a crash: after it
    // every operation fails until crash_recover() is called.
    void fail_at(int n, bool crash = false);
    // The "reboot" after a crash: every file's content goes back to what its
    // last flush made durable (files never flushed lose all their writes).
    void crash_recover();
    bool failed() const { return failed_; }

    std::unique_ptr<platform::File> open(const std::string& path, platform::OpenMode mode) override;
    platform::FileKind kind(const std::string& path) override;
    void rename(const std::string& from, const std::string& to) override;
    void remove(const std::string& path) override;
    void sync_directory(const std::string& directory) override;
    std::vector<std::string> list_directory(const std::string& directory) override;
    void copy_permissions(const std::string& from, const std::string& to) override;

    // Internal, for the files it opens.
    void step(const std::string& what);
    void written(const std::string& path);
    void synced(const std::string& path);

private:
    platform::FileSystem& os_;
    int operations_ = 0;
    int fail_at_ = 0;
    bool crash_ = false;
    bool failed_ = false;
    // Durable content of files changed since the test began (nullopt: the
    // file did not exist durably).
    std::map<std::string, std::optional<std::string>> durable_;
};

}  // namespace engine_test
