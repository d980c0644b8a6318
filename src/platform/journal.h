#pragma once
// A rollback journal: changing files in place so that a failure or a crash
// at any moment leaves them as they were before or as the change made them,
// keeping the files themselves (inode, links, owner, mode, the path a
// symbolic link points to). The protocol and its crash cases are described
// in journal.cpp.
//
// The files of one change lie in one folder, beside the journal; the journal
// names them relative to that folder, so a folder that was moved or copied
// after a crash is recovered where it now is, and nothing outside it is
// touched. A change belongs to an owner, the file whose name the journal's
// name begins with (a table's .DB, an INI file): whoever recovers the owner
// finds its journals by that name.

#include "platform/file_system.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The files a change writes, found by their names in the folder. The one
// who changes or recovers them has them open, under the locks that keep
// others out; the journal reads and writes them through these handles.
class JournalFiles {
public:
    virtual ~JournalFiles() = default;
    // The open file of that name, or nullptr when it does not exist.
    virtual File* find(const std::string& name) = 0;
    // Creates the file (it does not exist) and returns it, open.
    virtual File& create(const std::string& name) = 0;
    // Removes the file, which the change created.
    virtual void remove(const std::string& name) = 0;
};

// One change. Use: save() every part of a file that the change will
// overwrite or cut off (and declare the files it will create), begin(),
// write and flush the files, commit(). Destroyed before its commit (an
// exception on the way), it puts back what was saved.
class Journal {
public:
    // `folder` is a directory part (empty or ending in a separator); `owner`
    // a file name in it.
    Journal(std::string folder, std::string owner, JournalFiles& files);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Saves the bytes [offset, offset + length) of the named file as they
    // are now (what lies past the file's end is not saved: putting back the
    // file's size removes it), and the file's size. A file that does not
    // exist is saved as such: putting it back removes it.
    void save(const std::string& name, std::uint64_t offset, std::uint64_t length);
    // Saves the whole file.
    void save_file(const std::string& name);
    // Makes the saved content durable (the journal and its folder are
    // flushed); from now on the files may be written.
    void begin();
    // To be called once every file has been written and flushed: removes
    // the journal, which makes the change final.
    void commit();

    // The journal's path (tests).
    const std::string& path() const { return path_; }

private:
    void append(const std::string& bytes);
    void roll_back() noexcept;

    std::string folder_;
    std::string owner_;
    JournalFiles& files_;
    std::string path_;
    std::unique_ptr<File> journal_;
    std::uint64_t written_ = 0;
    std::uint32_t records_ = 0;
    std::uint32_t chain_ = 0;
    std::vector<std::pair<std::string, std::uint64_t>> sizes_;  // saved files, their sizes (~0: missing)
    bool begun_ = false;
    bool done_ = false;
};

// The journals of `owner` in `folder`, by file name (whoever wrote them).
std::vector<std::string> journals_of(const std::string& folder, const std::string& owner);

// Puts back the saved content of every complete journal of `owner` whose
// writer is gone (no one holds its lock) and removes it. With
// `owner_locked` (the caller holds the lock under which the owner's files
// are changed, so no journal of the owner is being written), journals that
// are incomplete, whose change cannot have begun, are removed too; without
// it they are left alone. Returns how many changes were rolled back. Throws
// when a journal cannot be read or put back; it then stays for the next
// try.
std::size_t roll_back_journals(const std::string& folder, const std::string& owner, JournalFiles& files,
                               bool owner_locked);

// The suffix of journal file names; a name "<owner>.~<tag>.p2i-journal" is
// a journal of the owner.
extern const char* const kJournalSuffix;

}  // namespace platform
