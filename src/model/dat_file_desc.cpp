#include "model/dat_file_desc.h"

#include "model/path_text.h"
#include "platform/text.h"

#include <utility>

namespace {

// The bounds of `text` without leading and trailing characters of code 32
// or less.
std::pair<std::size_t, std::size_t> trimmed_bounds(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
    return {first, last};
}

void set_path_field(TDatFileDesc& entry, std::string& field, std::string_view text) {
    if (field == text) return;
    const auto [first, last] = trimmed_bounds(text);
    field.assign(text.substr(first, last - first));
    platform::upper_case_in_place(field);
    entry.Priority = -2;
}

// The same, taking over the text's buffer.
void set_path_field(TDatFileDesc& entry, std::string& field, std::string&& text) {
    if (field == text) return;
    const auto [first, last] = trimmed_bounds(text);
    text.erase(last);
    text.erase(0, first);
    platform::upper_case_in_place(text);
    field = std::move(text);
    entry.Priority = -2;
}

// True when the file-name part of the path has a ".".
bool has_extension(const std::string& path) {
    return path.find('.', FileNameStart(path)) != std::string::npos;
}

}  // namespace

void SetFileName(TDatFileDesc& entry, const std::string& text) {
    set_path_field(entry, entry.FileName, std::string_view(text));
}

void SetFileDir(TDatFileDesc& entry, const std::string& text) {
    set_path_field(entry, entry.FileDir, std::string_view(text));
}

std::string FullPath(const TDatFileDesc& entry) { return entry.FileDir + entry.FileName; }

void SetPaths(TDatFileDesc& entry, std::string id, std::string rawPath, std::string name) {
    std::string expanded = ExpandFileName(rawPath);
    const bool endsWithSeparator =
        !expanded.empty() && platform::is_directory_separator(static_cast<unsigned char>(expanded.back()));
    if (!expanded.empty() && !endsWithSeparator && !has_extension(expanded))
        // A path without extension names a directory. POSIX paths keep their
        // own separator; the INI side writes "\\" whatever it reads.
        expanded.push_back(expanded.front() == '/' ? '/' : '\\');
    set_path_field(entry, entry.FileDir, std::move(expanded));

    const std::size_t nameStart = FileNameStart(entry.FileDir);
    if (nameStart < entry.FileDir.size()) {
        set_path_field(entry, entry.FileName, std::string_view(entry.FileDir).substr(nameStart));
        // The directory part is already trimmed and upper-cased.
        entry.FileDir.resize(nameStart);
    } else if (!entry.FileDir.empty()) {
        set_path_field(entry, entry.FileName, std::string_view(id));
    } else {
        set_path_field(entry, entry.FileName, ExpandFileName(id));
    }

    entry.Id = std::move(id);
    platform::upper_case_in_place(entry.Id);
    entry.Name = std::move(name);
    entry.RawPath = std::move(rawPath);
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
