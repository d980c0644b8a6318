#pragma once
// TDatFileStorageIni: a path table kept in an INI file. The section NAME maps
// each identifier to its display name, PATH maps it to the file's path text;
// PRIORITY is only ever erased. Other sections of the file are left alone.
//
// Every operation works through its own TIniFile and writes the file at most
// once, when it has finished: a failed operation leaves the file exactly as it
// was, a successful one leaves all of its changes.

#include <string>

#include "stores/dat_file_path.h"

class TIniFile;

class TDatFileStorageIni : public TDatFilePath {
public:
    // The base name followed by ".INI", whatever it ends with.
    std::string StoreFileName(const std::string& baseName) override;
    // Fills the entry from the two keys of the identifier (empty texts when
    // they are missing); the path text is expanded to a full path first.
    void ReadEntry(const std::string& path, const std::string& id, TDatFileDesc& entry) override;
    // Writes the entry's two keys.
    void WriteEntry(const std::string& path, TDatFileDesc& entry) override;
    // Appends one entry per key of NAME, in file order.
    void ReadAll(const std::string& path, TDatFileDescList& list) override;
    // Clear, then two keys per entry in list order, saved as one change.
    void WriteAll(const std::string& path, TDatFileDescList& list) override;
    // Erases NAME, PATH and PRIORITY.
    virtual void Clear(const std::string& path);

private:
    // The accessor of a WriteAll in progress: Clear erases through it, so
    // that the erase and the writes reach the file together.
    TIniFile* writeAllAccessor_ = nullptr;
};
