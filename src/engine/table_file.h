#pragma once
// A .DB file opened through the platform's file system: its header, its
// data blocks (decrypted on read, encrypted on write) and the walk along the
// block chain, which is the table's row order.

#include "engine/cipher.h"
#include "engine/format.h"
#include "engine/table_lock.h"
#include "platform/file_system.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

// The parsed header of one data block.
struct BlockInfo {
    std::uint32_t next = 0;
    std::uint32_t previous = 0;
    std::size_t count = 0;  // records in the block
};

// Reads and checks a block header: the record count must fit the block.
BlockInfo parse_block(const TableHeader& header, const std::uint8_t* block, std::uint32_t number);
// Writes a block header for `count` records.
void store_block_info(const TableHeader& header, std::uint8_t* block, const BlockInfo& info);

class TableFile {
public:
    // Opens the table under its lock (table_lock.h): shared for reading,
    // exclusive for writing. The path is then the .DB's own, through
    // symbolic links.
    TableFile(const std::string& path, bool writable);

    const std::string& path() const { return header_.file; }
    TableHeader& header() { return header_; }
    const TableHeader& header() const { return header_; }
    platform::File& file() { return *file_; }
    TableLock& lock() { return *lock_; }

    // Reads `count` consecutive blocks starting at `first` (plain text).
    void read_blocks(std::uint32_t first, std::uint32_t count, std::uint8_t* buffer);
    // The same as the file holds them: scrambled when the table is encrypted.
    void read_stored_blocks(std::uint32_t first, std::uint32_t count, std::uint8_t* buffer);
    void write_block(std::uint32_t number, const std::uint8_t* plain);
    void write_header();

private:
    std::shared_ptr<TableLock> lock_;
    platform::File* file_;
    TableHeader header_;
};

// Walks the block chain from the first block, refusing blocks outside the
// file, loops, links that disagree and, at its end, a chain that does not
// hold the rows the header counts or ends elsewhere than the header says.
// Reads ahead when blocks follow each other in the file.
class ChainWalker {
public:
    // How the blocks of an encrypted table are unscrambled: each whole block
    // as it is read, or only the bytes a reader asks for (then block() and
    // record() give the scrambled bytes; read them with copy_bytes and
    // copy_text).
    enum class Decryption { whole_blocks, on_demand };

    // Not `strict`, neither the backward links nor the end of the chain are
    // compared: for repairing what a failed write left behind.
    explicit ChainWalker(TableFile& file, Decryption decryption = Decryption::whole_blocks, bool strict = true);
    std::uint64_t rows() const { return rows_; }  // in the blocks walked so far
    // Moves to the next block of the chain; false at its end.
    bool advance();
    std::uint32_t number() const { return number_; }
    const BlockInfo& info() const { return info_; }
    const std::uint8_t* block() const { return block_; }
    const std::uint8_t* record(std::size_t index) const {
        return block_ + kBlockHeaderSize + index * file_.header().record_size;
    }
    // Plain bytes [offset, offset + n) of a record of the current block.
    void copy_bytes(std::size_t index, std::size_t offset, std::size_t n, std::uint8_t* out) const;
    // The same up to the first zero byte; returns the count before it. Bytes
    // after it may be written too: out has room for n bytes.
    std::size_t copy_text(std::size_t index, std::size_t offset, std::size_t n, std::uint8_t* out) const;

private:
    TableFile& file_;
    std::unique_ptr<cipher::BlockKeys> keys_;  // on demand, for an encrypted table
    const cipher::BlockKey* key_ = nullptr;    // the current block's, on demand
    std::vector<bool> visited_;
    std::uint32_t next_ = 0;
    std::uint32_t number_ = 0;
    std::uint64_t rows_ = 0;
    bool finished_ = false;
    bool strict_;
    BlockInfo info_;
    const std::uint8_t* block_ = nullptr;
    std::vector<std::uint8_t> window_;  // read-ahead: consecutive blocks
    std::uint32_t window_first_ = 0;
    std::uint32_t window_count_ = 0;
};

// The path of a companion file (".PX", ".MB", ".LCK"...): the table's path
// with its extension replaced, in the letter case of the table's extension
// unless only the other case exists.
std::string companion_path(const std::string& table_path, const std::string& extension);

}  // namespace engine
