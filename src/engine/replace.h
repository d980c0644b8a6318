#pragma once
// Putting new versions of a table's files (.DB, .PX) in place so that a
// crash at any moment leaves either the old table or the new one.

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

struct NewFile {
    std::string target;               // the path the file will have
    std::vector<std::uint8_t> bytes;  // its complete new content
};

// Replaces the files as one step (see the protocol in replace.cpp).
void replace_table_files(const std::string& table_path, const std::vector<NewFile>& files);

// Completes or undoes a replacement that a crash interrupted; a no-op when
// there is none. Called before a table is opened or changed.
void recover_table_files(const std::string& table_path);

// The directory part of a path ("" when it has none).
std::string directory_of(const std::string& path);

}  // namespace engine
