#pragma once
// Whole files as bytes, read and written behind the program's back (native
// paths), for tests that check exactly what reached the disk.

#include <filesystem>
#include <string>

namespace testing_support {

// The file's bytes; empty when it cannot be read.
std::string read_bytes(const std::filesystem::path& path);
// Replaces the file's content with the bytes.
void write_bytes(const std::filesystem::path& path, const std::string& bytes);
// True where file permissions are not enforced for this process (root).
bool running_as_root();

}  // namespace testing_support
