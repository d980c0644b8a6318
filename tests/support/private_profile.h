#pragma once
// The two Windows private-profile entry points with their buffer
// conventions, over ini::ProfileFile: what the Windows tests compare with
// the real functions, and a short way for the INI tests to drive a file.

#include <cstddef>
#include <string>
#include <string_view>

namespace testing_support {

// GetPrivateProfileStringA. With a key: copies the key's value, or the default
// (null meaning "", trailing spaces removed) when the file, section or key is
// missing, cut to size - 1 characters, and returns the count copied. Without a
// key: copies the section's key names, each followed by a zero byte, and one
// more zero byte; returns their length without the final zero byte, or
// size - 2 with the last name cut short when the buffer is too small (an exact
// fit counts as too small, as on Windows).
std::size_t get_private_profile_string(std::string_view section, const char* key,
                                       const char* default_value, char* buffer,
                                       std::size_t size, const std::string& file_name);

// WritePrivateProfileStringA. A null key erases the section, a null value the
// key; otherwise the key is created or replaced. Returns false when the file
// cannot be written (it then keeps its old content) or the texts would change
// the file's structure. Removing what is not there succeeds and writes
// nothing.
bool write_private_profile_string(std::string_view section, const char* key,
                                  const char* value, const std::string& file_name);

}  // namespace testing_support
