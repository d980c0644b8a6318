#pragma once
// The operating system's locks on a table's files, and the recovery of a
// change that a crash interrupted.
//
// While a run reads a table it holds a shared lock on the .DB; while it
// changes it, an exclusive lock on the .DB and on every companion it writes
// (.PX, ...), all taken before anything is written (platform::Lock says what
// each lock is on POSIX and on Windows). Whoever takes a lock first puts
// back the old content of a change that a crash interrupted (its journal,
// platform/journal.h, lies beside the table).
//
// Runs of this program on one table take turns: a lock that another program
// or run holds is waited for (platform::open_waiting: up to 10 seconds), and
// then the run is refused with "Table ... is in use by another program",
// before anything has changed. Readers share; a writer waits for every
// reader and every reader for the writer.
//
// In one process every dataset and rewrite of a table shares one lock: the
// lock belongs to the open file, and Windows lets no second open of the
// file past an exclusive one. A change asked for while another dataset of
// this process reads the table is refused at once (it would wait for itself).

#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/journal.h"

#include <map>
#include <memory>
#include <string>

namespace engine {

class TableLock final : public platform::JournalFiles {
public:
    enum class Access { read, change };

    // Locks the table whose .DB the path names (through symbolic links).
    // For a change, a .DB that does not exist yet (a table being created)
    // is locked once it is created. Throws Exception: in_use when another
    // holds the lock past the wait, permission when a change finds the .DB
    // read-only.
    static std::shared_ptr<TableLock> acquire(const std::string& table_path, Access access);

    TableLock(const std::string& given, const std::string& resolved, Access access);
    ~TableLock() override;
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    Access access() const { return access_; }
    // The .DB's path, symbolic links followed; its folder and file name.
    const std::string& path() const { return path_; }
    const std::string& folder() const { return folder_; }
    const std::string& name() const { return name_; }

    // The .DB, open under the lock; nullptr when a change creates it.
    platform::File* table() { return find(name_); }
    // A file of the table's folder by the file name of `path` (a companion
    // path, wherever the given table path pointed): open under the lock,
    // the first time it is asked for; nullptr when it does not exist. Only
    // a change opens files besides the .DB.
    platform::File* file(const std::string& path);
    // Creates a file of the table (it does not exist), with the owner and
    // mode of the .DB, under the lock.
    platform::File& create_file(const std::string& path);
    // The name of a path's file in the table's folder.
    static std::string name_of(const std::string& path);
    // A change of table `table_path` that the file system refused with
    // `cause`, reported as the table not being changeable (of the cause's
    // kind and reason).
    static Exception change_refused(const std::string& table_path, const Exception& cause);

    // For journals: files by their names in the table's folder.
    platform::File* find(const std::string& name) override;
    platform::File& create(const std::string& name) override;
    void remove(const std::string& name) override;

private:
    std::unique_ptr<platform::File> open_locked(const std::string& name, bool must_exist);
    void recover();

    std::string given_;  // as the caller named the table, for messages
    std::string path_;
    std::string folder_;
    std::string name_;
    Access access_;
    std::map<std::string, std::unique_ptr<platform::File>> files_;  // by name; null: missing
    std::string key_;
};

}  // namespace engine
