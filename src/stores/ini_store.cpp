#include "stores/ini_store.h"

#include "model/path_text.h"
#include "platform/system.h"
#include "stores/ini_file.h"

namespace {

constexpr const char* kNameSection = "NAME";
constexpr const char* kPathSection = "PATH";
constexpr const char* kPrioritySection = "PRIORITY";

// The store file's directory becomes the current directory, so that relative
// path texts resolve against it. A directory that cannot be entered is
// ignored: the operation goes on in the current one.
void EnterDirectory(const std::string& directory) { platform::set_current_directory(directory); }

// The directory that relative path texts are written against: that of the
// INI file's full path. For the full paths the driver passes it is the INI
// path's own directory part; for a relative or bare name it is where the file
// really is (the directory part of such a name would give a path that has
// lost its root on POSIX). Taken before the operation changes directory.
std::string BaseDirectory(const std::string& path) { return DirectoryPart(ExpandFileName(path)); }

// The path text written for an entry: the text it was read with, or else
// its full path relative to the base directory.
std::string_view PathText(const RelativePathFrom& base, const TDatFileDesc& entry, std::string& room) {
    if (!entry.RawPath.empty()) return entry.RawPath;
    room = entry.FileDir.empty() ? base(entry.FileName) : base(FullPath(entry));  // FullPath without a copy
    return room;
}

// The NAME and then the PATH key of one entry.
void WriteKeys(TIniFile& ini, const RelativePathFrom& base, const TDatFileDesc& entry) {
    std::string room;
    ini.WriteString(kNameSection, entry.Id, entry.Name);
    ini.WriteString(kPathSection, entry.Id, PathText(base, entry, room));
}

// The entries of a list as keys of NAME (column 0) and PATH (column 1).
class EntryKeys : public ini::KeyRows {
public:
    EntryKeys(const TDatFileDescList& list, const RelativePathFrom& base) : list_(list), base_(base) {}
    std::size_t count() const override { return list_.Items.size(); }
    std::string_view key(std::size_t row) const override { return list_.Items[row]->Id; }
    std::string_view value(std::size_t row, std::size_t column, std::string& room) const override {
        const TDatFileDesc& entry = *list_.Items[row];
        return column == 0 ? std::string_view(entry.Name) : PathText(base_, entry, room);
    }

private:
    const TDatFileDescList& list_;
    const RelativePathFrom& base_;
};

void EraseSections(TIniFile& ini) {
    ini.EraseSection(kNameSection);
    ini.EraseSection(kPathSection);
    ini.EraseSection(kPrioritySection);
}

// Lends an accessor to Clear for the length of one WriteAll.
class LentAccessor {
public:
    LentAccessor(TIniFile*& slot, TIniFile& accessor) : slot_(slot) { slot_ = &accessor; }
    ~LentAccessor() { slot_ = nullptr; }
    LentAccessor(const LentAccessor&) = delete;
    LentAccessor& operator=(const LentAccessor&) = delete;

private:
    TIniFile*& slot_;
};

}  // namespace

std::string TDatFileStorageIni::StoreFileName(const std::string& baseName) { return baseName + ".INI"; }

void TDatFileStorageIni::ReadEntry(const std::string& path, const std::string& id, TDatFileDesc& entry) {
    TIniFile ini(path);
    EnterDirectory(DirectoryPart(path));
    const std::string name = ini.ReadString(kNameSection, id, "");
    const std::string pathText = ini.ReadString(kPathSection, id, "");
    SetPaths(entry, id, ExpandFileName(pathText), name);
}

void TDatFileStorageIni::WriteEntry(const std::string& path, TDatFileDesc& entry) {
    const std::string directory = DirectoryPart(path);
    const std::string base = BaseDirectory(path);
    {
        TIniFile ini(path);
        EnterDirectory(directory);
        WriteKeys(ini, RelativePathFrom(base), entry);
        ini.UpdateFile();
    }
    TDatFilePath::WriteEntry(path, entry);
}

void TDatFileStorageIni::ReadAll(const std::string& path, TDatFileDescList& list) {
    TIniFile ini(path);
    std::vector<std::string> keys;
    EnterDirectory(DirectoryPart(path));
    ini.ReadSection(kNameSection, keys);
    for (const std::string& key : keys) {
        TDatFileDesc& entry = list.Add();
        std::string name = ini.ReadString(kNameSection, key, "");
        std::string pathText = ini.ReadString(kPathSection, key, "");
        SetPaths(entry, key, std::move(pathText), std::move(name));
    }
}

void TDatFileStorageIni::WriteAll(const std::string& path, TDatFileDescList& list) {
    const std::string base = BaseDirectory(path);
    TIniFile ini(path);
    {
        LentAccessor lent(writeAllAccessor_, ini);
        Clear(path);
    }
    if (list.Items.empty()) {
        ini.UpdateFile();
        return;
    }
    EnterDirectory(DirectoryPart(path));
    const RelativePathFrom relative(base);
    ini.WriteRows({kNameSection, kPathSection}, EntryKeys(list, relative));
}

void TDatFileStorageIni::Clear(const std::string& path) {
    if (writeAllAccessor_ != nullptr && writeAllAccessor_->FileName() == path) {
        EraseSections(*writeAllAccessor_);
        return;
    }
    TIniFile ini(path);
    EraseSections(ini);
    ini.UpdateFile();
}
