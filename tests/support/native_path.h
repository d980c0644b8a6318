#pragma once
// Test paths and file-name literals are UTF-8 on every platform (the source
// files are UTF-8, and so are POSIX file names). These helpers take such a
// text to where it is used: to the platform layer as ANSI text, and to
// std::filesystem and the file streams as a path (on Windows, narrow
// std::filesystem paths would be read as Latin-1).

#include <filesystem>
#include <string>

namespace testing_support {

// The separator that full paths of the platform layer use.
#ifdef _WIN32
inline constexpr char kSeparator[] = "\\";
#else
inline constexpr char kSeparator[] = "/";
#endif

// A UTF-8 path or name as the platform layer's ANSI text.
std::string ansi(const std::string& utf8);

// A UTF-8 text as the runtime hands it to main(): UTF-8 on POSIX, ANSI on
// Windows.
std::string command_line_argument(const std::string& utf8);

// A UTF-8 path for std::filesystem and the file streams.
inline std::filesystem::path fs_path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A std::filesystem path as UTF-8 text.
inline std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace testing_support
