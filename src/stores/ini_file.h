#pragma once
// TIniFile: the INI-file accessor of the INI store. It holds the file name as
// given and works on the parsed file in memory: the file is read on first use
// and written, all at once and atomically, only by UpdateFile. The destructor
// never writes, so an operation that fails before UpdateFile leaves the file
// exactly as it was.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ini/profile_file.h"

class TIniFile {
public:
    // Touches no file. The name is resolved to a full path now, against the
    // current directory, so that a later change of directory cannot send the
    // writes of a relative name to another file.
    explicit TIniFile(std::string fileName);
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    // The name as given at construction.
    const std::string& FileName() const { return fileName_; }

    // The key's value as a reader of the file gets it (trimmed, one pair of
    // outer quotes removed), in full; the default when the file, the section
    // or the key is missing.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue);

    // Creates or replaces the key. Throws Exception (the file untouched) when
    // the key or the value would change the file's structure. A value that a
    // reader would get back changed (blanks at its ends, or outer quotes) is
    // written in double quotes, so that it reads back as written.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

    // Empties the list, then appends the names of the section's keys in file
    // order. The whole list, however long.
    void ReadSection(std::string_view section, std::vector<std::string>& keys);

    // WriteString of each row's key and value to each section in turn (row
    // by row), then UpdateFile: the same file, the same refusals. Sections
    // that the file does not hold (erased, or never there) are made as the
    // file is written, so their lines are never all in memory; the texts are
    // all checked before anything is written.
    void WriteRows(const std::vector<std::string>& sections, const ini::KeyRows& rows);

    // Removes the section with all its keys.
    void EraseSection(std::string_view section);

    // Writes the changes made so far, atomically; nothing when there are none.
    // Throws Exception "Unable to write to <file name>" when the file cannot
    // be written, followed on its own line by the reason (the failure's kind
    // is kept); the file then keeps its old content.
    void UpdateFile();

private:
    void SaveReportingFailure(const std::function<void()>& save);

    std::string fileName_;
    ini::ProfileFile file_;
};
