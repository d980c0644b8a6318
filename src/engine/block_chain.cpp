#include "engine/block_chain.h"

#include "engine/bytes.h"
#include "engine/primary_index.h"
#include "engine/table_file.h"
#include "engine/table_lock.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/journal.h"

#include <algorithm>
#include <cstring>

namespace engine {
namespace {

[[noreturn]] void key_violation(const TableFile& file) {
    throw Exception("Key violation: table " + file.path() + " already has a row with this key");
}

}  // namespace

std::size_t BlockChain::load(TableFile& file, std::uint32_t number) {
    const std::size_t block_size = file.header().block_size;
    std::size_t found = std::size_t(-1);
    ChainWalker walker(file);
    blocks_.clear();
    while (walker.advance()) {
        Block b;
        b.number = walker.number();
        b.count = walker.info().count;
        b.bytes.assign(walker.block(), walker.block() + block_size);
        if (b.count == 0) continue;
        if (b.number == number) found = blocks_.size();
        blocks_.push_back(std::move(b));
    }
    return found == std::size_t(-1) ? blocks_.size() : found;
}

void BlockChain::clear() {
    blocks_.clear();
    dirty_.clear();
}

bool BlockChain::matches(TableFile& file) const {
    ChainWalker walker(file);
    std::size_t i = 0;
    while (walker.advance()) {
        if (walker.info().count == 0) continue;
        if (i >= blocks_.size() || blocks_[i].number != walker.number() ||
            std::memcmp(blocks_[i].bytes.data(), walker.block(), file.header().block_size) != 0)
            return false;
        ++i;
    }
    return i == blocks_.size();
}

const Collation& BlockChain::collation(const TableHeader& header) {
    if (!collation_) collation_ = Collation::for_table(header);
    return *collation_;
}

void BlockChain::check_key_unique(TableFile& file, const std::uint8_t* record, Position except) {
    const TableHeader& h = file.header();
    const std::size_t size = h.record_size;
    const Collation& c = collation(h);
    for (std::size_t b = 0; b < blocks_.size(); ++b)
        for (std::size_t r = 0; r < blocks_[b].count; ++r)
            if (!(b == except.block && r == except.row) &&
                c.compare_keys(h, blocks_[b].record(r, size), record) == 0)
                key_violation(file);
}

void BlockChain::replace(TableFile& file, Position at, const std::uint8_t* record) {
    Block& b = blocks_[at.block];
    std::memcpy(b.record(at.row, file.header().record_size), record, file.header().record_size);
    dirty_.push_back(b.number);
}

void BlockChain::remove(TableFile& file, Position at) {
    TableHeader& h = file.header();
    const std::size_t size = h.record_size;
    Block& b = blocks_[at.block];
    std::uint8_t* record = b.record(at.row, size);
    std::memmove(record, record + size, (b.count - at.row - 1) * size);
    --b.count;
    dirty_.push_back(b.number);
    if (b.count > 0) return;
    std::size_t victim = at.block;
    if (victim == 0 && blocks_.size() > 1) {
        blocks_[0].count = blocks_[1].count;
        std::memcpy(blocks_[0].record(0, size), blocks_[1].record(0, size), blocks_[1].count * size);
        victim = 1;
    }
    if (blocks_.size() > 1) {
        // On the free list: linked from the header's first free block, with
        // no predecessor and no rows.
        Block& freed = blocks_[victim];
        BlockInfo info;
        info.next = get_u16(&h.bytes[offset::kFirstFreeBlock]);
        store_block_info(h, freed.bytes.data(), info);
        freed_.push_back(std::move(freed.bytes));
        freed_numbers_.push_back(freed.number);
        put_u16(&h.bytes[offset::kFirstFreeBlock], freed.number);
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(victim));
    }
}

std::uint32_t BlockChain::new_block(TableFile& file) {
    TableHeader& h = file.header();
    if (h.file_blocks >= kMaxFileBlocks) throw Exception("Table " + file.path() + " is full (65535 blocks)");
    return ++h.file_blocks;
}

// Where a record goes in key order: the block whose first key is the last
// not above it, and the first row with a greater key. Throws on a duplicate.
BlockChain::Position BlockChain::insert_position(TableFile& file, const std::uint8_t* record) {
    const TableHeader& h = file.header();
    const std::size_t size = h.record_size;
    const Collation& c = collation(h);
    std::size_t lo = 0, hi = blocks_.size();
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (c.compare_keys(h, blocks_[mid].record(0, size), record) <= 0)
            lo = mid;
        else
            hi = mid;
    }
    const Block& b = blocks_[lo];
    std::size_t first = 0, last = b.count;
    while (first < last) {
        const std::size_t mid = (first + last) / 2;
        if (c.compare_keys(h, b.record(mid, size), record) <= 0)
            first = mid + 1;
        else
            last = mid;
    }
    if (first > 0 && c.compare_keys(h, b.record(first - 1, size), record) == 0) key_violation(file);
    return {lo, first};
}

BlockChain::Position BlockChain::insert(TableFile& file, const std::uint8_t* record) {
    const TableHeader& h = file.header();
    const std::size_t size = h.record_size;
    const std::size_t capacity = h.records_per_block();
    if (blocks_.empty()) {
        Block b;
        b.number = new_block(file);
        b.bytes.assign(h.block_size, 0);
        blocks_.push_back(std::move(b));
    }
    Position at;
    if (h.keyed()) {
        at = insert_position(file, record);
    } else {
        at.block = blocks_.size() - 1;
        at.row = blocks_[at.block].count;
    }
    Block* b = &blocks_[at.block];
    if (b->count < capacity) {
        std::uint8_t* r = b->record(at.row, size);
        std::memmove(r + size, r, (b->count - at.row) * size);
        std::memcpy(r, record, size);
        ++b->count;
        dirty_.push_back(b->number);
        return at;
    }
    Block fresh;
    fresh.number = new_block(file);
    fresh.bytes.assign(h.block_size, 0);
    const std::size_t split = at.block;
    bool in_fresh = true;
    if (split + 1 == blocks_.size() && at.row == b->count) {
        std::memcpy(fresh.record(0, size), record, size);
        fresh.count = 1;
        at.row = 0;
    } else {
        std::vector<std::uint8_t> all(b->record(0, size), b->record(b->count, size));
        all.insert(all.begin() + static_cast<std::ptrdiff_t>(at.row * size), record, record + size);
        const std::size_t total = b->count + 1;
        const std::size_t keep = total / 2;
        std::memcpy(b->record(0, size), all.data(), keep * size);
        std::memset(b->record(keep, size), 0, (capacity - keep) * size);
        b->count = keep;
        std::memcpy(fresh.record(0, size), all.data() + keep * size, (total - keep) * size);
        fresh.count = total - keep;
        dirty_.push_back(b->number);
        in_fresh = at.row >= keep;
        if (in_fresh) at.row -= keep;
    }
    dirty_.push_back(fresh.number);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(split + 1), std::move(fresh));
    at.block = in_fresh ? split + 1 : split;
    return at;
}

void BlockChain::discard_changes() {
    dirty_.clear();
    freed_.clear();
    freed_numbers_.clear();
}

void BlockChain::repair(TableFile& file) {
    TableHeader& h = file.header();
    ChainWalker walker(file, ChainWalker::Decryption::whole_blocks, false);
    std::uint32_t last = 0;
    bool changed = false;
    while (walker.advance()) {
        if (walker.info().previous != last) {
            std::vector<std::uint8_t> block(walker.block(), walker.block() + h.block_size);
            put_u16(block.data() + block_header::kPrevious, last);  // the rest as stored
            file.write_block(walker.number(), block.data());
            changed = true;
        }
        last = walker.number();
    }
    if (walker.rows() != h.records || last != h.last_block) {
        h.records = static_cast<std::uint32_t>(walker.rows());
        h.last_block = last;
        file.write_header();
        changed = true;
    }
    if (changed) file.file().sync();
}

void BlockChain::write(TableFile& file) {
    TableHeader& h = file.header();
    std::uint64_t records = 0;
    // Relink the chain; blocks whose links change are written too.
    std::vector<std::uint32_t> to_write = std::move(dirty_);
    dirty_.clear();
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        Block& b = blocks_[i];
        BlockInfo info;
        info.next = i + 1 < blocks_.size() ? blocks_[i + 1].number : 0;
        info.previous = i > 0 ? blocks_[i - 1].number : 0;
        info.count = b.count;
        std::uint8_t before[kBlockHeaderSize];
        std::memcpy(before, b.bytes.data(), kBlockHeaderSize);
        store_block_info(h, b.bytes.data(), info);
        if (std::memcmp(before, b.bytes.data(), kBlockHeaderSize) != 0) to_write.push_back(b.number);
        records += b.count;
    }
    std::sort(to_write.begin(), to_write.end());
    to_write.erase(std::unique(to_write.begin(), to_write.end()), to_write.end());
    h.records = static_cast<std::uint32_t>(records);
    h.first_block = blocks_.empty() ? 0 : blocks_.front().number;
    h.last_block = blocks_.empty() ? 0 : blocks_.back().number;
    IndexPlan index;
    if (h.keyed()) index = plan_index(file);

    // Everything the change overwrites goes into the journal first: the
    // blocks, the header, the blocks that left the chain and the index.
    TableLock& lock = file.lock();
    const std::string& db = lock.name();
    platform::Journal journal(lock.folder(), db, lock);
    for (std::uint32_t number : to_write) journal.save(db, h.block_offset(number), h.block_size);
    journal.save(db, 0, h.bytes.size());
    for (std::uint32_t number : freed_numbers_) journal.save(db, h.block_offset(number), h.block_size);
    if (h.keyed()) save_index(journal, index);
    journal.begin();

    // In an order that keeps the file readable after each write (though the
    // journal restores it anyway): blocks past the old end first (nothing
    // links to them yet), then the header's block count, then the changed
    // blocks that link to them, then the rest of the header, and last the
    // blocks that left the chain.
    auto write_block = [&](std::uint32_t number) {
        for (Block& b : blocks_)
            if (b.number == number) file.write_block(b.number, b.bytes.data());
    };
    const std::uint32_t old_blocks = get_u16(&h.bytes[offset::kFileBlocks]);
    for (std::uint32_t number : to_write)
        if (number > old_blocks) write_block(number);
    if (h.file_blocks != old_blocks) {
        std::vector<std::uint8_t> counted(h.bytes.begin(), h.bytes.begin() + offset::kLevel3FieldTable);
        put_u16(&counted[offset::kFileBlocks], h.file_blocks);
        put_u16(&counted[offset::kMaxBlocks], h.file_blocks);
        file.file().write_at(0, counted.data(), counted.size());
    }
    for (std::uint32_t number : to_write)
        if (number <= old_blocks) write_block(number);
    file.write_header();
    for (std::size_t i = 0; i < freed_.size(); ++i) file.write_block(freed_numbers_[i], freed_[i].data());
    freed_.clear();
    freed_numbers_.clear();
    file.file().sync();
    if (h.keyed()) apply_index(file, index);
    journal.commit();
}

BlockChain::IndexPlan BlockChain::plan_index(TableFile& file) {
    const TableHeader& h = file.header();
    IndexPlan plan;
    if (!index_loaded_) {
        index_path_ = companion_path(file.path(), "PX");
        index_image_.clear();
        if (platform::File* px = file.lock().file(index_path_)) {
            index_image_.resize(static_cast<std::size_t>(px->size()));
            index_image_.resize(px->read_at(0, index_image_.data(), index_image_.size()));
        }
        index_loaded_ = true;
    }
    std::vector<IndexEntry> entries;
    entries.reserve(blocks_.size());
    for (Block& b : blocks_)
        entries.push_back({b.record(0, h.record_size), b.number, static_cast<std::uint32_t>(b.count)});
    plan.image = build_primary_index(h, entries, index_image_);
    plan.create = file.lock().file(index_path_) == nullptr;
    // Only the units that differ from what the file holds are written.
    for (std::size_t at = 0; at < plan.image.size(); at += kIndexUnit) {
        const std::size_t n = std::min(kIndexUnit, plan.image.size() - at);
        if (!plan.create && at + n <= index_image_.size() &&
            std::memcmp(&plan.image[at], &index_image_[at], n) == 0)
            continue;
        plan.units.push_back(at);
    }
    return plan;
}

void BlockChain::save_index(platform::Journal& journal, const IndexPlan& plan) {
    const std::string name = TableLock::name_of(index_path_);
    if (plan.create) {
        journal.save(name, 0, 0);
        return;
    }
    for (const std::size_t at : plan.units) journal.save(name, at, kIndexUnit);
    if (plan.image.size() < index_image_.size())
        journal.save(name, plan.image.size(), index_image_.size() - plan.image.size());
}

void BlockChain::apply_index(TableFile& file, IndexPlan& plan) {
    platform::File* px = file.lock().file(index_path_);
    if (px == nullptr) px = &file.lock().create_file(index_path_);
    bool changed = plan.create;
    for (const std::size_t at : plan.units) {
        px->write_at(at, &plan.image[at], std::min(kIndexUnit, plan.image.size() - at));
        changed = true;
    }
    if (plan.image.size() < index_image_.size()) {
        px->truncate(plan.image.size());
        changed = true;
    }
    if (changed) px->sync();
    if (plan.create) {
        const std::string& folder = file.lock().folder();
        platform::file_system().sync_directory(folder.empty() ? "." : folder);
    }
    index_image_ = std::move(plan.image);
}

void BlockChain::refresh_index(TableFile& file) {
    IndexPlan plan = plan_index(file);
    if (!plan.create && plan.units.empty() && plan.image.size() == index_image_.size()) {
        index_image_ = std::move(plan.image);
        return;
    }
    TableLock& lock = file.lock();
    platform::Journal journal(lock.folder(), lock.name(), lock);
    save_index(journal, plan);
    journal.begin();
    apply_index(file, plan);
    journal.commit();
}

}  // namespace engine
