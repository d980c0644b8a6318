#include "model/dat_file_desc.h"

#include "model/path_text.h"
#include "platform/text.h"

namespace {

void set_path_field(TDatFileDesc& entry, std::string& field, const std::string& text) {
    if (field == text) return;
    // Trimmed, then upper-cased: done in one pass, as this runs for every row.
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
    field = platform::upper_case(std::string_view(text).substr(first, last - first));
    entry.Priority = -2;
}

// True when the file-name part of the path has a ".".
bool has_extension(const std::string& path) {
    return path.find('.', FileNameStart(path)) != std::string::npos;
}

}  // namespace

void SetFileName(TDatFileDesc& entry, const std::string& text) { set_path_field(entry, entry.FileName, text); }

void SetFileDir(TDatFileDesc& entry, const std::string& text) { set_path_field(entry, entry.FileDir, text); }

std::string FullPath(const TDatFileDesc& entry) { return entry.FileDir + entry.FileName; }

void SetPaths(TDatFileDesc& entry, const std::string& id, const std::string& rawPath,
              const std::string& name) {
    entry.Id = UpperCase(id);
    entry.Name = name;
    entry.RawPath = rawPath;

    const std::string expanded = ExpandFileName(rawPath);
    const bool endsWithSeparator =
        !expanded.empty() && platform::is_directory_separator(static_cast<unsigned char>(expanded.back()));
    if (expanded.empty() || endsWithSeparator || has_extension(expanded))
        SetFileDir(entry, expanded);
    else
        // A path without extension names a directory. POSIX paths keep their
        // own separator; the INI side writes "\\" whatever it reads.
        SetFileDir(entry, expanded + (expanded.front() == '/' ? "/" : "\\"));

    const std::size_t nameStart = FileNameStart(entry.FileDir);
    if (nameStart < entry.FileDir.size()) {
        SetFileName(entry, entry.FileDir.substr(nameStart));
        // The directory part is already trimmed and upper-cased.
        entry.FileDir.resize(nameStart);
    } else if (!entry.FileDir.empty()) {
        SetFileName(entry, id);
    } else {
        SetFileName(entry, ExpandFileName(id));
    }
    entry.Priority = -2;
}

TDatFileDesc& TDatFileDescList::Add() {
    Items.push_back(std::make_unique<TDatFileDesc>());
    return *Items.back();
}

void ChangeListExtension(TDatFileDescList& list, const std::string& extension) {
    // Each text loses its own extension. The full path is measured on itself:
    // the name is the argument as typed, and the expansion may have changed
    // its end ("v1.2/PATHS" names PATHS in v1.2 on Windows, and "PATHS.DB."
    // names PATHS.DB there), so the name's extension says nothing of the
    // path's.
    list.Name = ReplaceExtension(list.Name, extension);
    list.Path = ReplaceExtension(list.Path, extension);
}
