#pragma once
// The .MB file of a table: memo and blob data that does not fit in the
// record's leader. Every offset and length is checked against the file.

#include "engine/format.h"
#include "platform/file_system.h"

#include <cstdint>
#include <memory>
#include <string>

namespace engine {

// A blob field ends in a pointer to its data (pxlib's doc/pxformat.txt):
// the .MB offset with the blob's index in its low byte (4 bytes), the
// length (4) and a modification number (2). The field's bytes before it,
// its leader, hold the blob's start, or the whole blob when it fits.
constexpr std::size_t kBlobPointerSize = 10;
constexpr std::size_t kBlobPointerLength = 4;  // where the length is in the pointer

class MemoFile {
public:
    // checksum: the table's, when it is encrypted (the .MB then is too).
    MemoFile(std::string path, std::uint32_t checksum);
    // The blob whose pointer is at the end of a blob field's bytes.
    std::string read(const std::uint8_t* field_bytes, std::size_t width);

private:
    std::string read_bytes(std::uint64_t offset, std::size_t size);
    [[noreturn]] void damaged(const std::string& what) const;

    std::string path_;
    std::uint32_t checksum_;
    std::unique_ptr<platform::File> file_;
    std::uint64_t size_ = 0;
};


}  // namespace engine
