#include "engine/memo.h"

#include "engine/bytes.h"
#include "engine/cipher.h"
#include "platform/exception.h"

#include <vector>

namespace engine {
namespace {

constexpr std::size_t kChunk = 256;
constexpr std::size_t kMemoBlock = 4096;
constexpr std::uint8_t kSingleBlob = 2;
constexpr std::uint8_t kSubAllocated = 3;

}  // namespace

MemoFile::MemoFile(std::string path, std::uint32_t checksum)
    : path_(std::move(path)), checksum_(checksum) {
    if (platform::file_system().kind(path_) != platform::FileKind::file)
        throw Exception("Memo file " + path_ + " is missing", ErrorKind::not_found);
    file_ = platform::file_system().open(path_, platform::OpenMode::read);
    size_ = file_->size();
}

void MemoFile::damaged(const std::string& what) const {
    throw Exception("Memo file " + path_ + " is damaged: " + what, ErrorKind::damaged);
}

std::string MemoFile::read_bytes(std::uint64_t offset, std::size_t size) {
    if (offset > size_ || size > size_ - offset) damaged("a blob lies beyond the end of the file");
    if (checksum_ == 0) {
        std::string bytes(size, '\0');
        if (file_->read_at(offset, bytes.data(), size) != size) damaged("a blob cannot be read");
        return bytes;
    }
    // Encrypted memo files are scrambled in 256-byte chunks of the file.
    const std::uint64_t first = offset / kChunk * kChunk;
    const std::uint64_t end = (offset + size + kChunk - 1) / kChunk * kChunk;
    std::vector<std::uint8_t> chunks(static_cast<std::size_t>(end - first), 0);
    file_->read_at(first, chunks.data(), chunks.size());
    cipher::decrypt_memo(chunks.data(), chunks.size(), checksum_);
    const auto* start = reinterpret_cast<const char*>(chunks.data() + (offset - first));
    return std::string(start, size);
}

std::string MemoFile::read(const std::uint8_t* field_bytes, std::size_t width) {
    const std::uint8_t* pointer = field_bytes + width - kBlobPointerSize;
    const std::uint32_t location = get_u32(pointer);
    const std::uint32_t size = get_u32(pointer + kBlobPointerLength);
    const std::uint64_t offset = location & 0xFFFFFF00u;
    const unsigned index = location & 0xFFu;
    if (offset == 0 || offset % kMemoBlock != 0) damaged("a blob pointer is invalid");
    const std::string head = read_bytes(offset, 3);
    const auto type = static_cast<std::uint8_t>(head[0]);
    if (type == kSingleBlob) {
        const std::string single = read_bytes(offset, 9);
        if (get_u32(reinterpret_cast<const std::uint8_t*>(single.data()) + 3) != size)
            damaged("a blob's length does not match its record");
        return read_bytes(offset + 9, size);
    }
    if (type == kSubAllocated) {
        if (index >= 64) damaged("a blob index is out of range");
        const std::string entry = read_bytes(offset + 12 + index * 5, 5);
        const auto* e = reinterpret_cast<const std::uint8_t*>(entry.data());
        const std::size_t start = e[0] * std::size_t{16};
        const std::size_t length = e[1] == 0 ? 0 : (e[1] - 1) * std::size_t{16} + e[4];
        if (e[0] == 0 || length != size || start + length > kMemoBlock)
            damaged("a blob entry does not match its record");
        return read_bytes(offset + start, length);
    }
    damaged("a blob pointer leads to a block of type " + std::to_string(type));
}

}  // namespace engine
