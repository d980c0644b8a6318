#include "engine/table_file.h"

#include "engine/bytes.h"
#include "engine/cipher.h"
#include "platform/exception.h"
#include "platform/path_parts.h"

#include <algorithm>
#include <cstring>

namespace engine {
namespace {

constexpr std::size_t kReadAheadBytes = 256 * 1024;

std::vector<std::uint8_t> read_header_bytes(platform::File& file, std::uint64_t size) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(size, 0x10000)));
    bytes.resize(file.read_at(0, bytes.data(), bytes.size()));
    return bytes;
}

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

std::string with_case(const std::string& text, bool lower) {
    std::string out = text;
    for (char& c : out) {
        if (lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (!lower && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return out;
}

}  // namespace

BlockInfo parse_block(const TableHeader& header, const std::uint8_t* block, std::uint32_t number) {
    BlockInfo info;
    info.next = get_u16(block);
    info.previous = get_u16(block + 2);
    const auto added = static_cast<std::int16_t>(get_u16(block + 4));
    if (added < 0) return info;  // an empty block
    if (static_cast<std::size_t>(added) % header.record_size != 0 ||
        static_cast<std::size_t>(added) / header.record_size + 1 > header.records_per_block())
        throw Exception("Table " + header.file + " is damaged: block " + std::to_string(number) +
                            " claims more records than it can hold",
                        ErrorKind::damaged);
    info.count = static_cast<std::size_t>(added) / header.record_size + 1;
    return info;
}

void store_block_info(const TableHeader& header, std::uint8_t* block, const BlockInfo& info) {
    put_u16(block, info.next);
    put_u16(block + 2, info.previous);
    const long added = (static_cast<long>(info.count) - 1) * static_cast<long>(header.record_size);
    put_u16(block + 4, static_cast<std::uint32_t>(static_cast<std::uint16_t>(static_cast<std::int16_t>(added))));
}

TableFile::TableFile(const std::string& path, bool writable)
    : lock_(TableLock::acquire(path, writable ? TableLock::Access::change : TableLock::Access::read)),
      file_(lock_->table()) {
    if (file_ == nullptr) throw Exception("Table " + path + " does not exist", ErrorKind::not_found);
    const std::uint64_t size = file_->size();
    header_ = parse_table_header(lock_->path(), read_header_bytes(*file_, size), size);
}

void TableFile::read_stored_blocks(std::uint32_t first, std::uint32_t count, std::uint8_t* buffer) {
    const std::size_t bytes = static_cast<std::size_t>(count) * header_.block_size;
    if (file_->read_at(header_.block_offset(first), buffer, bytes) != bytes)
        throw Exception("Table " + path() + " is truncated: block " + std::to_string(first) +
                            " cannot be read",
                        ErrorKind::damaged);
}

void TableFile::read_blocks(std::uint32_t first, std::uint32_t count, std::uint8_t* buffer) {
    read_stored_blocks(first, count, buffer);
    if (header_.encrypted())
        for (std::uint32_t i = 0; i < count; ++i)
            cipher::decrypt_block(buffer + i * header_.block_size, header_.block_size,
                                  header_.checksum, first + i);
}

void TableFile::write_block(std::uint32_t number, const std::uint8_t* plain) {
    if (!header_.encrypted()) {
        file_->write_at(header_.block_offset(number), plain, header_.block_size);
        return;
    }
    std::vector<std::uint8_t> scrambled(plain, plain + header_.block_size);
    cipher::encrypt_block(scrambled.data(), scrambled.size(), header_.checksum, number);
    file_->write_at(header_.block_offset(number), scrambled.data(), scrambled.size());
}

void TableFile::write_header() {
    header_.store_counters();
    file_->write_at(0, header_.bytes.data(), header_.bytes.size());
}

ChainWalker::ChainWalker(TableFile& file, Decryption decryption, bool strict)
    : file_(file),
      visited_(file.header().file_blocks + 1, false),
      next_(file.header().first_block),
      strict_(strict) {
    if (decryption == Decryption::on_demand && file.header().encrypted())
        keys_ = std::make_unique<cipher::BlockKeys>(file.header().checksum);
}

bool ChainWalker::advance() {
    const TableHeader& h = file_.header();
    if (next_ == 0) {
        // The whole chain has been read: it must hold what the header says,
        // or rows are missing (a header counting 4 rows over one empty
        // block was seen in a table the old engine wrote) or the header is
        // stale, and a rewrite would lose or invent rows.
        if (strict_ && !finished_ && rows_ != h.records)
            throw Exception("Table " + h.file + " is damaged: its header counts " + std::to_string(h.records) +
                            " rows but its blocks hold " + std::to_string(rows_),
                            ErrorKind::damaged);
        if (strict_ && !finished_ && number_ != h.last_block)
            throw Exception("Table " + h.file + " is damaged: its block chain ends at block " +
                            std::to_string(number_) + " but the header names block " +
                            std::to_string(h.last_block) + " as the last",
                            ErrorKind::damaged);
        finished_ = true;
        return false;
    }
    const std::uint32_t number = next_;
    if (number > h.file_blocks)
        throw Exception("Table " + h.file + " is damaged: the block chain points to block " +
                            std::to_string(number) + " of " + std::to_string(h.file_blocks),
                        ErrorKind::damaged);
    if (visited_[number])
        throw Exception("Table " + h.file + " is damaged: the block chain loops at block " +
                            std::to_string(number),
                        ErrorKind::damaged);
    visited_[number] = true;

    if (number < window_first_ || number >= window_first_ + window_count_) {
        const std::uint32_t per_window =
            std::max<std::uint32_t>(1, static_cast<std::uint32_t>(kReadAheadBytes / h.block_size));
        // Read ahead only along a chain that runs forward through the file.
        const std::uint32_t count =
            std::min<std::uint32_t>(number_ + 1 == number || number_ == 0 ? per_window : 1,
                                    h.file_blocks - number + 1);
        window_.resize(static_cast<std::size_t>(count) * h.block_size);
        if (keys_)
            file_.read_stored_blocks(number, count, window_.data());
        else
            file_.read_blocks(number, count, window_.data());
        window_first_ = number;
        window_count_ = count;
    }
    block_ = window_.data() + static_cast<std::size_t>(number - window_first_) * h.block_size;
    if (keys_) {
        key_ = &keys_->for_block(number);
        std::uint8_t head[kBlockHeaderSize];
        key_->decrypt_bytes(block_, 0, kBlockHeaderSize, head);
        info_ = parse_block(h, head, number);
    } else {
        info_ = parse_block(h, block_, number);
    }
    if (strict_ && info_.previous != number_)
        throw Exception("Table " + h.file + " is damaged: block " + std::to_string(number) + " names block " +
                        std::to_string(info_.previous) + " as its predecessor, but block " +
                        std::to_string(number_) + " precedes it in the chain",
                            ErrorKind::damaged);
    rows_ += info_.count;
    number_ = number;
    next_ = info_.next;
    return true;
}

void ChainWalker::copy_bytes(std::size_t index, std::size_t offset, std::size_t n, std::uint8_t* out) const {
    const std::size_t at = kBlockHeaderSize + index * file_.header().record_size + offset;
    if (key_ != nullptr)
        key_->decrypt_bytes(block_, at, n, out);
    else
        std::memcpy(out, block_ + at, n);
}

std::size_t ChainWalker::copy_text(std::size_t index, std::size_t offset, std::size_t n,
                                   std::uint8_t* out) const {
    const std::size_t at = kBlockHeaderSize + index * file_.header().record_size + offset;
    if (key_ != nullptr) return key_->decrypt_text(block_, at, n, out);
    const void* zero = std::memchr(block_ + at, 0, n);
    const std::size_t length = zero == nullptr ? n : static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - (block_ + at));
    std::memcpy(out, block_ + at, length);
    return length;
}

std::string companion_path(const std::string& table_path, const std::string& extension) {
    const std::size_t dot = platform::extension_start(table_path);
    const bool lower = dot + 1 < table_path.size() && is_lower(table_path[dot + 1]);
    const std::string preferred = platform::replace_extension(table_path, with_case(extension, lower));
    const std::string other = platform::replace_extension(table_path, with_case(extension, !lower));
    auto& fs = platform::file_system();
    if (fs.kind(preferred) == platform::FileKind::missing &&
        fs.kind(other) != platform::FileKind::missing)
        return other;
    return preferred;
}

}  // namespace engine
