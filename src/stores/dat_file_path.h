#pragma once
// The one interface through which the driver reads and writes a path table,
// whatever holds it. A store keeps no file open and no entries between calls:
// every operation takes the path of its store file as its first argument.

#include "model/dat_file_desc.h"

#include <string>

class TDatFilePath {
public:
    TDatFilePath() = default;
    TDatFilePath(const TDatFilePath&) = delete;
    TDatFilePath& operator=(const TDatFilePath&) = delete;
    virtual ~TDatFilePath() = default;

    // The name of the file this kind of store keeps for a base name.
    virtual std::string StoreFileName(const std::string& baseName) = 0;
    // Looks up one identifier and fills the entry through SetPaths.
    virtual void ReadEntry(const std::string& path, const std::string& id, TDatFileDesc& entry) = 0;
    // Writes one entry, replacing what the store holds for its identifier.
    // Derived stores call this last; it does nothing.
    virtual void WriteEntry(const std::string& path, TDatFileDesc& entry);
    // Appends one entry per stored row to the list, in the store's order.
    virtual void ReadAll(const std::string& path, TDatFileDescList& list) = 0;
    // Empties the store, then writes every entry of the list in order.
    virtual void WriteAll(const std::string& path, TDatFileDescList& list) = 0;
};
