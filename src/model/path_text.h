#pragma once
// Text operations on Windows path texts, shared by both stores. They read no
// file and do not consult the current directory (except ExpandFileName).
//
// Separators: "\\" (and "/" on POSIX) separate directories; a directory part
// ends at the last separator or ":". On a double-byte ANSI code page the byte
// after a lead byte is never taken for a separator.

#include <string>
#include <string_view>
#include <vector>

// Leading and trailing characters with code 32 or less removed.
std::string Trim(const std::string& text);
// The platform's locale-aware ANSI upper-casing of the whole text.
std::string UpperCase(const std::string& text);
// The text expanded to a full path against the current directory; an empty
// text stays empty.
std::string ExpandFileName(std::string_view path);
// The same into `out`, reusing its room; the path must not lie in `out`.
void ExpandFileName(std::string_view path, std::string& out);

// "C:" of "C:\A\X.INI", "\\SRV\SHARE" of "\\SRV\SHARE\DIR\F.DAT", else empty.
std::string DrivePart(const std::string& path);
// Everything up to and including the last separator or ":"; empty when none.
std::string DirectoryPart(const std::string& path);
// Where the file-name part begins: just after the last separator or ":".
std::size_t FileNameStart(std::string_view path);
// Everything after the last separator or ":"; the whole text when none.
std::string FileNamePart(const std::string& path);
// From the last "." of the file-name part on; empty when it has none.
std::string ExtensionPart(const std::string& path);
// The path with its extension (ExtensionPart) replaced by "." and the given
// extension, or with them appended when it has none.
std::string ReplaceExtension(const std::string& path, const std::string& extension);

// The directory part of the path without its drive part.
std::string DirectoryWithoutDrive(const std::string& path);

// Components of a split directory text: each points into the split text,
// just after a separator, and runs to the next zero byte.
using ComponentTable = std::vector<const char*>;

// Splits the text in place at every directory separator (each overwritten by
// a zero byte) and records where each component starts. Returns the number
// of components before the last separator: "\A\B\" gives A and B and 2, "\"
// gives 0, a text without separators -1. The table grows as needed, so a
// directory may have any number of components.
int SplitDirectory(std::string& text, ComponentTable& table);

// The target path expressed relative to the directory part of base, written
// with "..\" and "\" (the form Windows programs read); the target unchanged
// when the two lie on different drives.
std::string RelativePath(const std::string& base, const std::string& target);

// RelativePath for many targets against one base, whose parts are taken
// apart once.
class RelativePathFrom {
public:
    explicit RelativePathFrom(const std::string& base);
    std::string operator()(std::string_view target) const;

private:
    std::string drive_;
    std::string directory_;  // the base up to and including its last separator
    std::vector<std::string> components_;  // of the directory, before its last separator
};
