#pragma once
// One row of a path table, whichever store it came from, and the owning list
// of rows that one store fills and another writes out.

#include "model/text_pool.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TDatFileDesc {
    Text Id;        // the row's identifier, upper-cased
    Text FileName;  // file-name part of the resolved path (see SetPaths)
    Text FileDir;   // directory part of the resolved path, with its final separator
    Text Name;      // display name, as read
    Text RawPath;   // the path text exactly as read from the store
    std::int32_t Priority = -2;  // -2: no priority known

    // Entries come and go in hundreds of thousands, beside their texts.
    static void* operator new(std::size_t bytes) { return model::text_pool::allocate(bytes); }
    static void operator delete(void* p, std::size_t bytes) noexcept { model::text_pool::release(p, bytes); }
};

// Field setters: a text that differs from the field's content is trimmed and
// upper-cased into it, and the priority becomes unknown; an equal text
// changes nothing.
void SetFileName(TDatFileDesc& entry, std::string_view text);
void SetFileDir(TDatFileDesc& entry, std::string_view text);

// FileDir followed by FileName.
std::string FullPath(const TDatFileDesc& entry);

// Fills an entry from the three texts a store reads for one row, resolving
// the raw path against the current directory. The texts must not lie in the
// entry's own fields, which change while they are read.
void SetPaths(TDatFileDesc& entry, std::string_view id, std::string_view rawPath, std::string_view name);

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
