#include "engine/primary_index.h"

#include "engine/bytes.h"
#include "engine/cipher.h"

#include <algorithm>
#include <cstring>

namespace engine {
namespace {

constexpr std::size_t kIndexHeaderSize = 0x800;
constexpr std::uint32_t kMaxStatistic = 0x7FFF;  // statistics are stored as signed shorts

struct Level {
    std::vector<std::uint8_t> keys;  // one key per entry
    std::vector<std::uint32_t> blocks;
    std::vector<std::uint32_t> counts;
};

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
    const std::size_t name_length = table.table_name_length();

    std::vector<std::uint8_t> out(kIndexHeaderSize, 0);
    if (previous.size() >= 0x58) std::memcpy(out.data(), previous.data(), 0x58);
    std::uint8_t* h = out.data();
    put_u16(h + offset::kRecordSize, static_cast<std::uint32_t>(record_size));
    put_u16(h + offset::kHeaderSize, kIndexHeaderSize);
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
    at += 4;
    std::string name = table.table_name;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name = name.substr(0, dot) + (name[dot + 1] >= 'a' ? ".px" : ".PX");
    std::memcpy(h + at, name.data(), std::min(name.size(), name_length - 1));
    put_u16(h + offset::kRealHeaderSize, static_cast<std::uint32_t>(at + name_length));

    // Build the levels bottom-up; blocks are numbered in writing order.
    Level level;
    for (const IndexEntry& e : entries) {
        for (std::size_t i = 0; i < table.key_fields; ++i) {
            const FieldDef& f = table.fields[i];
            level.keys.insert(level.keys.end(), e.first_record + f.offset,
                              e.first_record + f.offset + f.width);
        }
        level.blocks.push_back(e.block);
        level.counts.push_back(e.count);
    }
    std::uint32_t next_number = 1;
    std::uint32_t root = 0;
    unsigned levels = 0;
    std::uint32_t total_entries = 0;
    std::vector<std::uint8_t> block(block_size);
    while (!level.blocks.empty()) {
        ++levels;
        const std::size_t n = level.blocks.size();
        const std::size_t block_count = (n + per_block - 1) / per_block;
        Level upper;
        for (std::size_t b = 0; b < block_count; ++b) {
            std::fill(block.begin(), block.end(), 0);
            const std::size_t first = b * per_block;
            const std::size_t count = std::min(per_block, n - first);
            const std::uint32_t number = next_number + static_cast<std::uint32_t>(b);
            put_u16(block.data(), b + 1 < block_count ? number + 1 : 0);
            put_u16(block.data() + 2, b > 0 ? number - 1 : 0);
            put_u16(block.data() + 4, static_cast<std::uint32_t>((count - 1) * record_size));
            std::uint32_t sum = 0;
            for (std::size_t i = 0; i < count; ++i) {
                std::uint8_t* r = block.data() + kBlockHeaderSize + i * record_size;
                std::memcpy(r, &level.keys[(first + i) * key_size], key_size);
                put_index_short(r + key_size, level.blocks[first + i]);
                put_index_short(r + key_size + 2, std::min(level.counts[first + i], kMaxStatistic));
                put_index_short(r + key_size + 4, 0);
                sum += level.counts[first + i];
            }
            if (checksum != 0) cipher::encrypt_block(block.data(), block.size(), checksum, number);
            out.insert(out.end(), block.begin(), block.end());
            total_entries += static_cast<std::uint32_t>(count);
            upper.keys.insert(upper.keys.end(), &level.keys[first * key_size],
                              &level.keys[first * key_size] + key_size);
            upper.blocks.push_back(number);
            upper.counts.push_back(sum);
        }
        next_number += static_cast<std::uint32_t>(block_count);
        if (block_count == 1) {
            root = next_number - 1;
            break;
        }
        level = std::move(upper);
    }
    const std::uint32_t blocks = next_number - 1;
    h = out.data();  // the blocks were appended: the header may have moved
    put_u32(h + offset::kRecords, total_entries);
    put_u16(h + offset::kNextBlock, blocks);
    put_u16(h + offset::kFileBlocks, blocks);
    put_u16(h + offset::kFirstBlock, blocks > 0 ? 1 : 0);
    put_u16(h + offset::kLastBlock, blocks);
    put_u16(h + offset::kMaxBlocks, blocks);
    put_u16(h + offset::kIndexRoot, root);
    h[offset::kIndexLevels] = static_cast<std::uint8_t>(levels);
    return out;
}

}  // namespace engine
