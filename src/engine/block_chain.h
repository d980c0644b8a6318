#pragma once
// A table's rows as its chain of blocks, held in memory while a dataset
// changes them: placing a row in key order (splitting a full block), taking
// one out (an emptied block goes on the free list), and writing what changed
// back in an order that keeps the file readable at every step, under a
// rollback journal, with the .PX brought in line last.

#include "engine/collation.h"
#include "engine/format.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Journal;
}

namespace engine {

class TableFile;

class BlockChain {
public:
    struct Block {
        std::uint32_t number = 0;
        std::vector<std::uint8_t> bytes;  // the whole block, plain
        std::size_t count = 0;
        std::uint8_t* record(std::size_t i, std::size_t size) {
            return bytes.data() + kBlockHeaderSize + i * size;
        }
        const std::uint8_t* record(std::size_t i, std::size_t size) const {
            return bytes.data() + kBlockHeaderSize + i * size;
        }
    };
    // A row: its block's index in the chain and its index in the block.
    struct Position {
        std::size_t block = 0;
        std::size_t row = 0;
    };

    const std::vector<Block>& blocks() const { return blocks_; }
    bool empty() const { return blocks_.empty(); }
    std::size_t size() const { return blocks_.size(); }

    // Reads the chain of `file`, leaving out empty blocks (they hold nothing
    // to keep). Returns the index of block `number` in it, size() when the
    // chain does not hold it.
    std::size_t load(TableFile& file, std::uint32_t number);
    void clear();
    // The loaded chain is what the file holds, block for block.
    bool matches(TableFile& file) const;

    // Changes in memory; nothing reaches the file before write().
    // Throws a key violation when another row than `except` has the key of
    // `record` (a keyed table).
    void check_key_unique(TableFile& file, const std::uint8_t* record, Position except);
    // Overwrites the row at `at`, its key unchanged.
    void replace(TableFile& file, Position at, const std::uint8_t* record);
    // Takes the row at `at` out; an emptied block leaves the chain for the
    // free list (the first block keeps its number by taking over its
    // successor's rows).
    void remove(TableFile& file, Position at);
    // Places `record` in key order (keyed tables; throws a key violation on
    // a duplicate key) or after the last row, and returns where it went. A
    // full block at the end of the chain gets a new block after it; anywhere
    // else it splits in two halves.
    Position insert(TableFile& file, const std::uint8_t* record);

    // Writes the changes durably: everything they overwrite goes into a
    // journal first, then the blocks and header in an order that keeps the
    // file readable after each write, one sync, the .PX, and the journal's
    // commit.
    void write(TableFile& file);
    // Forgets changes that were not written (after a failure).
    void discard_changes();

    // Rebuilds the .PX of a keyed table from the loaded chain and writes the
    // units that differ, under a journal. Needs the exclusive lock.
    void refresh_index(TableFile& file);
    // The .PX is read again before its next refresh (after a failure).
    void forget_index() { index_loaded_ = false; }

    // The blocks of a change are written in an order that keeps the forward
    // chain whole at every step; backward links and the header's row count
    // and last block may lag behind it. After a failure this brings them in
    // line with the chain, so that the table reads consistently again.
    static void repair(TableFile& file);

private:
    // The .PX rebuilt from the chain: its image and the units that differ
    // from what the file holds.
    struct IndexPlan {
        std::vector<std::uint8_t> image;
        std::vector<std::size_t> units;  // offsets of kIndexUnit-byte pieces to write
        bool create = false;             // the .PX does not exist yet
    };
    static constexpr std::size_t kIndexUnit = 1024;
    IndexPlan plan_index(TableFile& file);
    void save_index(platform::Journal& journal, const IndexPlan& plan);
    void apply_index(TableFile& file, IndexPlan& plan);

    const Collation& collation(const TableHeader& header);
    static std::uint32_t new_block(TableFile& file);
    Position insert_position(TableFile& file, const std::uint8_t* record);

    std::vector<Block> blocks_;
    std::vector<std::uint32_t> dirty_;  // blocks whose rows changed since the last write
    std::vector<std::vector<std::uint8_t>> freed_;  // blocks that left the chain, written last
    std::vector<std::uint32_t> freed_numbers_;
    std::optional<Collation> collation_;
    bool index_loaded_ = false;
    std::string index_path_;
    std::vector<std::uint8_t> index_image_;  // the .PX as last read or written (the table's lock holds it open)
};

}  // namespace engine
