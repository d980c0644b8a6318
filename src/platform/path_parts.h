#pragma once
// The parts of a path text: drive, directory, file name, extension, and the
// names of companion files (same stem, another extension). Text only: no
// file is read and the current directory is not consulted.
//
// A directory part ends at the last separator ("\\", on POSIX also "/") or
// ":". On a double-byte ANSI code page the byte after a lead byte is never
// taken for one: in code page 932 "表" is 0x95 0x5C, whose second byte has
// the value of "\\".

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// "C:" of "C:\\A\\X.INI", "\\\\SRV\\SHARE" of "\\\\SRV\\SHARE\\DIR\\F.DAT", else
// empty.
std::string drive_part(std::string_view path);
// Its length.
std::size_t drive_length(std::string_view path);

// Where the file-name part begins: just after the last separator or ":";
// 0 when there is none.
std::size_t file_name_start(std::string_view path);
// Everything up to and including the last separator or ":"; empty when none.
std::string directory_part(std::string_view path);
// The directory that holds the file, to list or open: the directory part,
// or "." (the current directory) for a bare name.
std::string directory_or_dot(std::string_view path);
// Everything after the last separator or ":"; the whole text when none.
std::string file_name_part(std::string_view path);

// Where the extension begins: the position of the last "." of the
// file-name part, or the text's length when that part has none.
std::size_t extension_start(std::string_view path);
// From the last "." of the file-name part on; empty when it has none.
std::string extension_part(std::string_view path);
// The name of a companion file: the path with its extension replaced by "."
// and the given extension, or with them appended when it has none.
std::string replace_extension(std::string_view path, std::string_view extension);

}  // namespace platform
