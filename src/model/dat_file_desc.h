#pragma once
// One row of a path table, whichever store it came from, and the owning list
// of rows that one store fills and another writes out.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TDatFileDesc {
    std::string Id;        // the row's identifier, upper-cased
    std::string FileName;  // file-name part of the resolved path (see SetPaths)
    std::string FileDir;   // directory part of the resolved path, with its final separator
    std::string Name;      // display name, as read
    std::string RawPath;   // the path text exactly as read from the store
    std::int32_t Priority = -2;  // -2: no priority known
};

// Field setters: a text that differs from the field's content is trimmed and
// upper-cased into it, and the priority becomes unknown; an equal text
// changes nothing.
void SetFileName(TDatFileDesc& entry, const std::string& text);
void SetFileDir(TDatFileDesc& entry, const std::string& text);

// FileDir followed by FileName.
std::string FullPath(const TDatFileDesc& entry);

// Fills an entry from the three texts a store reads for one row, resolving
// the raw path against the current directory.
void SetPaths(TDatFileDesc& entry, const std::string& id, const std::string& rawPath,
              const std::string& name);

struct TDatFileDescList {
    std::string Name;  // file-name part of the source file
    std::string Path;  // full path of the source file
    std::vector<std::unique_ptr<TDatFileDesc>> Items;

    int Count() const { return static_cast<int>(Items.size()); }
    TDatFileDesc& Item(int index) { return *Items.at(static_cast<std::size_t>(index)); }
    const TDatFileDesc& Item(int index) const { return *Items.at(static_cast<std::size_t>(index)); }
    // Appends a new, empty entry and returns it; the list owns it.
    TDatFileDesc& Add();
};

// Replaces the extension of the list's Name and of its Path, each measured on
// itself (the last "." after the last separator): PATHS.DB with "INI"
// becomes PATHS.INI; a name without extension gets ".INI" appended.
void ChangeListExtension(TDatFileDescList& list, const std::string& extension);
