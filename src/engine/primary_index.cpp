// The .PX as the old engine writes it when it rebuilds one (seen in the
// two-level indexes of tables it restructured, e.g. 638 entries: root 1 with
// 4, leaves 2..5 with 203, 203, 203 and 25 of 204 that fit; pxlib's
// doc/pxformat.txt for the record layout):
//  - the root is block 1, the level below it follows, and so on down to the
//    leaves; all blocks form one chain 1, 2, ..., n;
//  - every block holds one entry less than fits, the last of a level the
//    rest;
//  - an entry is the first key of the block below, its number and the rows
//    under it; a leaf entry points to a data block;
//  - an empty index has no blocks, root 1 and 0 levels.
// pxlib reads such indexes by walking the chain from block 1: the entries of
// the first block are its upper level, all others its leaves.

#include "engine/primary_index.h"

#include "engine/bytes.h"
#include "engine/cipher.h"

#include <algorithm>
#include <cstring>

namespace engine {
namespace {

constexpr std::uint32_t kMaxStatistic = 0x7FFF;  // statistics are stored as signed shorts

struct Level {
    std::vector<std::uint8_t> keys;  // one key per entry
    std::vector<std::uint32_t> targets;  // the block each entry points to
    std::vector<std::uint32_t> counts;
    std::size_t size() const { return targets.size(); }
};

// The size of the old .PX's header when it can be kept: the DOS engine's
// level 3 indexes end their header right after its content (0xAD, 0xAF...
// bytes), the Windows engine's use 0x800.
std::size_t previous_header_size(const std::vector<std::uint8_t>& previous, std::size_t content) {
    if (previous.size() < 0x58 || previous[offset::kFileType] != kPrimaryIndex) return 0;
    const std::size_t size = get_u16(&previous[offset::kHeaderSize]);
    return size >= content && size <= previous.size() ? size : 0;
}

}  // namespace

std::vector<std::uint8_t> build_primary_index(const TableHeader& table,
                                              const std::vector<IndexEntry>& entries,
                                              const std::vector<std::uint8_t>& previous) {
    std::size_t key_size = 0;
    for (std::size_t i = 0; i < table.key_fields; ++i) key_size += table.fields[i].width;
    const std::size_t record_size = key_size + 6;
    std::size_t block_size = table.block_size;
    if (previous.size() >= 0x58 && previous[offset::kBlockSize] >= 1 && previous[offset::kBlockSize] <= 32)
        block_size = previous[offset::kBlockSize] * std::size_t{1024};
    const std::size_t per_block = (block_size - kBlockHeaderSize) / record_size;
    const std::size_t fill = std::max<std::size_t>(1, per_block - 1);
    const std::size_t name_length = table.table_name_length();

    // Header: the old one's unknown bytes and its table-name area kept.
    const std::size_t name_at = 0x58 + table.key_fields * 2 + 4;
    const std::size_t content = name_at + name_length;
    const std::size_t kept_size = previous_header_size(previous, content);
    const bool same_key = kept_size != 0 && get_u16(&previous[offset::kFieldCount]) == table.key_fields;
    const std::size_t header_size = kept_size != 0 ? kept_size : kIndexHeaderSize;
    std::vector<std::uint8_t> out(header_size, 0);
    if (same_key)
        std::memcpy(out.data(), previous.data(), header_size);
    else if (previous.size() >= 0x58)
        std::memcpy(out.data(), previous.data(), 0x58);
    std::uint8_t* h = out.data();
    put_u16(h + offset::kRecordSize, static_cast<std::uint32_t>(record_size));
    put_u16(h + offset::kHeaderSize, static_cast<std::uint32_t>(header_size));
    h[offset::kFileType] = kPrimaryIndex;
    h[offset::kBlockSize] = static_cast<std::uint8_t>(block_size / 1024);
    put_u16(h + offset::kFieldCount, static_cast<std::uint32_t>(table.key_fields));
    put_u16(h + offset::kKeyFields, 0);
    h[offset::kSortOrder] = table.sort_order;
    h[offset::kVersion] = table.version;
    h[offset::kModified1] = 0;
    h[offset::kModified2] = 0;
    // The index's change counters follow the table's, as the old engine
    // checks them to see whether the index is up to date.
    put_u16(h + offset::kChangeCount, get_u16(&table.bytes[offset::kChangeCount]) + 1);
    h[0x2C] = table.bytes[0x2D];
    const std::uint32_t checksum =
        previous.size() >= 0x58 ? get_u32(previous.data() + offset::kEncryption1) : 0;
    std::size_t at = 0x58;
    for (std::size_t i = 0; i < table.key_fields; ++i) {
        h[at++] = table.fields[i].type;
        h[at++] = table.fields[i].size_code;
    }
    if (!same_key) {
        std::string name = table.table_name;
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos) name = name.substr(0, dot) + (name[dot + 1] >= 'a' ? ".px" : ".PX");
        std::memcpy(h + name_at, name.data(), std::min(name.size(), name_length - 1));
    }
    // The real header size: 0 in the DOS engine's level 3 indexes.
    if (!same_key || get_u16(&previous[offset::kRealHeaderSize]) != 0)
        put_u16(h + offset::kRealHeaderSize, static_cast<std::uint32_t>(content));

    // The levels, bottom up: how many blocks each needs.
    std::vector<Level> levels(1);
    for (const IndexEntry& e : entries) {
        for (std::size_t i = 0; i < table.key_fields; ++i) {
            const FieldDef& f = table.fields[i];
            levels[0].keys.insert(levels[0].keys.end(), e.first_record + f.offset,
                                  e.first_record + f.offset + f.width);
        }
        levels[0].targets.push_back(e.block);
        levels[0].counts.push_back(e.count);
    }
    std::vector<std::size_t> blocks_of;  // per level
    while (!levels.back().targets.empty()) {
        const std::size_t n = (levels.back().size() + fill - 1) / fill;
        blocks_of.push_back(n);
        if (n == 1) break;
        levels.emplace_back();
        levels.back().targets.resize(n);  // numbered below, once every level is known
    }
    const std::size_t depth = blocks_of.size();
    // Numbers top down: the root is block 1.
    std::vector<std::uint32_t> first_of(depth);
    std::uint32_t next_number = 1;
    for (std::size_t l = depth; l-- > 0;) {
        first_of[l] = next_number;
        next_number += static_cast<std::uint32_t>(blocks_of[l]);
    }
    const std::uint32_t blocks = next_number - 1;
    for (std::size_t l = 0; l + 1 < depth; ++l) {
        Level& upper = levels[l + 1];
        upper.keys.clear();
        upper.counts.clear();
        for (std::size_t b = 0; b < blocks_of[l]; ++b) {
            const std::size_t first = b * fill;
            const std::size_t count = std::min(fill, levels[l].size() - first);
            std::uint32_t sum = 0;
            for (std::size_t i = first; i < first + count; ++i) sum += levels[l].counts[i];
            upper.keys.insert(upper.keys.end(), &levels[l].keys[first * key_size],
                              &levels[l].keys[first * key_size] + key_size);
            upper.targets[b] = first_of[l] + static_cast<std::uint32_t>(b);
            upper.counts.push_back(sum);
        }
    }

    out.resize(header_size + static_cast<std::size_t>(blocks) * block_size, 0);
    std::uint32_t total_entries = 0;
    for (std::size_t l = 0; l < depth; ++l) {
        const Level& level = levels[l];
        for (std::size_t b = 0; b < blocks_of[l]; ++b) {
            const std::uint32_t number = first_of[l] + static_cast<std::uint32_t>(b);
            std::uint8_t* block = out.data() + header_size + (number - 1) * block_size;
            const std::size_t first = b * fill;
            const std::size_t count = std::min(fill, level.size() - first);
            put_u16(block, number < blocks ? number + 1 : 0);
            put_u16(block + 2, number - 1);
            put_u16(block + 4, static_cast<std::uint32_t>((count - 1) * record_size));
            for (std::size_t i = 0; i < count; ++i) {
                std::uint8_t* r = block + kBlockHeaderSize + i * record_size;
                std::memcpy(r, &level.keys[(first + i) * key_size], key_size);
                put_index_short(r + key_size, level.targets[first + i]);
                put_index_short(r + key_size + 2, std::min(level.counts[first + i], kMaxStatistic));
                put_index_short(r + key_size + 4, 0);
            }
            if (checksum != 0) cipher::encrypt_block(block, block_size, checksum, number);
            total_entries += static_cast<std::uint32_t>(count);
        }
    }
    h = out.data();  // the blocks were added: the header may have moved
    put_u32(h + offset::kRecords, total_entries);
    put_u16(h + offset::kNextBlock, blocks);
    put_u16(h + offset::kFileBlocks, blocks);
    put_u16(h + offset::kFirstBlock, blocks > 0 ? 1 : 0);
    put_u16(h + offset::kLastBlock, blocks);
    put_u16(h + offset::kMaxBlocks, blocks);
    put_u16(h + offset::kIndexRoot, 1);
    h[offset::kIndexLevels] = static_cast<std::uint8_t>(depth);
    return out;
}

}  // namespace engine
