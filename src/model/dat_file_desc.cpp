#include "model/dat_file_desc.h"

#include "model/path_text.h"
#include "platform/text.h"

namespace {

void set_path_field(TDatFileDesc& entry, std::string& field, const std::string& text) {
    if (field == text) return;
    field = UpperCase(Trim(text));
    entry.Priority = -2;
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
    if (expanded.empty() || endsWithSeparator || !ExtensionPart(expanded).empty())
        SetFileDir(entry, expanded);
    else
        // A path without extension names a directory. POSIX paths keep their
        // own separator; the INI side writes "\\" whatever it reads.
        SetFileDir(entry, expanded + (expanded.front() == '/' ? "/" : "\\"));

    const std::string fileName = FileNamePart(entry.FileDir);
    if (!fileName.empty()) {
        const std::string directory = DirectoryPart(entry.FileDir);
        SetFileName(entry, fileName);
        SetFileDir(entry, directory);
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
    const std::size_t cut = ExtensionPart(list.Name).size();
    list.Name = list.Name.substr(0, list.Name.size() - cut) + "." + extension;
    list.Path = list.Path.substr(0, list.Path.size() - std::min(cut, list.Path.size())) + "." + extension;
}
