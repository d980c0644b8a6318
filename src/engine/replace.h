#pragma once
// Putting new versions of a table's files (.DB, .PX) in place so that a
// crash at any moment leaves either the old table or the new one, and the
// files stay what they are (inode, links, owner, mode).

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

struct NewFile {
    std::string target;               // the path the file will have
    std::vector<std::uint8_t> bytes;  // its complete new content
};

// Replaces the files' content as one step (see the protocol in
// replace.cpp), under the table's exclusive lock: the caller's when it holds
// one. Every target lies in the table's folder.
void replace_table_files(const std::string& table_path, const std::vector<NewFile>& files);

// Puts back the old content of a change that a crash interrupted; a no-op
// when there is none. Locking the table does the same (table_lock.h).
void recover_table_files(const std::string& table_path);

}  // namespace engine
