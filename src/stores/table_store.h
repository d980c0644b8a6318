#pragma once
// The table store: a path table kept in a password-protected table file of
// the table engine. Every operation adds the session password, works through
// its own datasets and releases all of it before it returns.

#include "stores/dat_file_path.h"

#include <memory>
#include <string>

namespace engine {
class Table;
}

class TDatFileStorageDb : public TDatFilePath {
public:
    std::string StoreFileName(const std::string& baseName) override;
    void ReadEntry(const std::string& path, const std::string& id, TDatFileDesc& entry) override;
    void WriteEntry(const std::string& path, TDatFileDesc& entry) override;
    void ReadAll(const std::string& path, TDatFileDescList& list) override;
    void WriteAll(const std::string& path, TDatFileDescList& list) override;
    // Removes every row.
    virtual void Clear(const std::string& path);

protected:
    // True when the table exists and has the column DESCRIPTION (added when
    // missing). False otherwise, after showing any error itself; when the
    // check failed on an existing table and `failure` is given, it receives
    // the text that was shown.
    bool PrepareTable(const std::string& path, std::string* failure = nullptr);
    // The open table, or none when PrepareTable is false.
    std::unique_ptr<engine::Table> OpenTable(const std::string& path, std::string* failure = nullptr);
    // Writes one entry into the open table; `directory` is the directory
    // part of the table's path, the base of relative paths.
    void PostEntry(engine::Table& table, const std::string& directory, const TDatFileDesc& entry);
};
