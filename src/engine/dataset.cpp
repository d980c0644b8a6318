#include "engine/dataset.h"

#include "engine/bytes.h"
#include "engine/primary_index.h"
#include "engine/replace.h"
#include "engine/table_guard.h"
#include "engine/table_lock.h"
#include "engine/values.h"
#include "platform/exception.h"
#include "platform/journal.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace engine {

Dataset::Dataset(const std::string& path, bool writable) : writable_(writable) {
    if (platform::file_system().kind(path) != platform::FileKind::file)
        throw Exception("Table " + path + " does not exist", ErrorKind::not_found);
    // Under the table's shared lock (which puts back an interrupted change
    // first) for as long as the dataset is open.
    file_ = std::make_unique<TableFile>(path, false);
    const TableHeader& h = file_->header();
    if (h.encrypted() && !Session::instance().holds_checksum(h.checksum))
        throw Exception("Table " + path + " is encrypted and the session holds no valid password for it");
    driver_ = LanguageDriver::identify(h);
    for (std::size_t i = 0; i < h.fields.size(); ++i) {
        names_.push_back(driver_.read(h.fields[i].name));
        fields_.push_back(std::make_unique<Field>(*this, static_cast<int>(i)));
    }
    walker_ = std::make_unique<ChainWalker>(*file_, ChainWalker::Decryption::on_demand);
    eof_ = false;
    row_ = 0;
    while (true) {
        if (!walker_->advance()) {
            eof_ = true;
            break;
        }
        if (walker_->info().count > 0) break;
    }
}

Dataset::~Dataset() = default;

Field* Dataset::find_field(const std::string& name) {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (platform::equal_ignoring_case(names_[i], name)) return fields_[i].get();
    return nullptr;
}

bool Dataset::eof() const { return eof_; }

const std::uint8_t* Dataset::current_record() const {
    // The streaming cursor's blocks may still be scrambled: read through the walker.
    if (eof_ || !loaded_) return nullptr;
    return chain_[block_index_].bytes.data() + kBlockHeaderSize + row_ * header().record_size;
}

void Dataset::next() {
    if (mode_ != Mode::browse) post();
    if (eof_) return;
    ++row_;
    if (loaded_) {
        while (block_index_ < chain_.size() && row_ >= chain_[block_index_].count) {
            ++block_index_;
            row_ = 0;
        }
        if (block_index_ >= chain_.size()) eof_ = true;
        return;
    }
    while (row_ >= walker_->info().count) {
        if (!walker_->advance()) {
            eof_ = true;
            return;
        }
        row_ = 0;
    }
}

void Dataset::load_all() {
    if (loaded_) return;
    const std::uint32_t current_block = eof_ ? 0 : walker_->number();
    ChainWalker walker(*file_);
    chain_.clear();
    while (walker.advance()) {
        Block b;
        b.number = walker.number();
        b.count = walker.info().count;
        b.bytes.assign(walker.block(), walker.block() + header().block_size);
        if (b.count == 0) continue;  // empty blocks hold nothing to keep
        if (b.number == current_block) block_index_ = chain_.size();
        chain_.push_back(std::move(b));
    }
    if (eof_) block_index_ = chain_.size();
    loaded_ = true;
    walker_.reset();
}

std::string Dataset::value(int index) {
    const FieldDef& f = header().fields[static_cast<std::size_t>(index)];
    std::uint8_t field[256];  // no field is wider (format.cpp, field_width)
    const std::uint8_t* bytes = nullptr;
    if (mode_ != Mode::browse) {
        bytes = buffer_.data() + f.offset;
    } else if (eof_) {
        return {};
    } else if (loaded_) {
        bytes = current_record() + f.offset;
    } else if (f.type == kAlpha) {
        // Straight from the block: only the text's own bytes are unscrambled.
        const std::size_t length = walker_->copy_text(row_, f.offset, f.width, field);
        std::string text(reinterpret_cast<const char*>(field), length);
        driver_.read_in_place(text);
        return text;
    } else {
        walker_->copy_bytes(row_, f.offset, f.width, field);
        bytes = field;
    }
    if (!is_blob_type(f.type)) {
        std::string text = decode_value(f, bytes);
        if (f.type == kAlpha) driver_.read_in_place(text);
        return text;
    }
    const std::size_t leader = f.width - 10;
    const std::uint32_t size = get_u32(bytes + leader + 4);
    std::string blob;
    if (size == 0) return {};
    if (size <= leader) {
        blob.assign(reinterpret_cast<const char*>(bytes), size);
    } else {
        if (!memo_)
            memo_ = std::make_unique<MemoFile>(companion_path(path(), "MB"), header().checksum);
        blob = memo_->read(bytes, f.width);
    }
    return f.type == kMemo || f.type == kFormattedMemo ? driver_.read(blob) : blob;
}

void Dataset::set_value(int index, const std::string& ansi) {
    if (mode_ == Mode::browse)
        throw Exception("Table " + path() + " is not being edited or inserted into");
    const FieldDef& f = header().fields[static_cast<std::size_t>(index)];
    if (f.type != kAlpha) {
        encode_value(f, ansi, buffer_.data() + f.offset);
        return;
    }
    // Only what the column keeps is converted: the text is cut to its width.
    const std::string_view kept = std::string_view(ansi).substr(0, f.width);
    encode_value(f, driver_.write(kept, "Column " + field_name(index) + " of table " + path()),
                 buffer_.data() + f.offset);
}

// Case is ignored on the text the caller sees: each stored byte as the
// driver hands it over, upper-cased in the ANSI code page.
void Dataset::fold_table_init() {
    if (fold_) return;
    std::array<std::uint8_t, 256> fold{};
    const std::array<unsigned char, 256>& visible = driver_.read_table();
    for (unsigned b = 0; b < 256; ++b) fold[b] = platform::upper_case_byte(visible[b]);
    fold_ = fold;
}

bool Dataset::locate(int index, const std::string& key, bool ignore_case, bool whole_value) {
    if (mode_ != Mode::browse) post();
    load_all();
    const FieldDef& f = header().fields[static_cast<std::size_t>(index)];
    const std::size_t size = header().record_size;
    if (f.type == kAlpha) {
        // Stored bytes are compared as the caller sees them, with the key.
        std::string wanted = key;
        if (ignore_case) {
            fold_table_init();
            for (char& c : wanted) c = static_cast<char>(platform::upper_case_byte(static_cast<unsigned char>(c)));
        }
        if (wanted.size() > f.width || wanted.find('\0') != std::string::npos) return false;
        if (whole_value) {
            if (locate_index_.field != index || locate_index_.ignore_case != ignore_case) {
                locate_index_.field = index;
                locate_index_.ignore_case = ignore_case;
                locate_index_.counts.clear();
                for (const Block& b : chain_)
                    for (std::size_t r = 0; r < b.count; ++r) ++locate_index_.counts[locate_value(b.record(r, size), locate_index_)];
            }
            const auto it = locate_index_.counts.find(wanted);
            if (it == locate_index_.counts.end() || it->second == 0) return false;
        }
        const std::size_t n = wanted.size();
        const auto* key_bytes = reinterpret_cast<const std::uint8_t*>(wanted.data());
        const std::array<std::uint8_t, 256>& seen = ignore_case ? *fold_ : driver_.read_table();
        const bool as_stored = !ignore_case && !driver_.converts();
        for (std::size_t b = 0; b < chain_.size(); ++b) {
            for (std::size_t r = 0; r < chain_[b].count; ++r) {
                const std::uint8_t* bytes = chain_[b].record(r, size) + f.offset;
                // Whole value: the key's bytes, then the end of the field or a NUL.
                if (whole_value && n < f.width && bytes[n] != 0) continue;
                std::size_t i = 0;
                if (as_stored)
                    while (i < n && bytes[i] == key_bytes[i]) ++i;
                else
                    while (i < n && seen[bytes[i]] == key_bytes[i]) ++i;
                if (i == n) {
                    block_index_ = b, row_ = r, eof_ = false;
                    return true;
                }
            }
        }
        return false;
    }
    for (std::size_t b = 0; b < chain_.size(); ++b) {
        for (std::size_t r = 0; r < chain_[b].count; ++r) {
            std::string text;
            if (!is_blob_type(f.type)) text = decode_value(f, chain_[b].record(r, size) + f.offset);
            const std::string part = whole_value ? text : text.substr(0, key.size());
            if (ignore_case ? platform::equal_ignoring_case(part, key) : part == key) {
                block_index_ = b, row_ = r, eof_ = false;
                return true;
            }
        }
    }
    return false;
}

std::string Dataset::locate_value(const std::uint8_t* record, const LocateIndex& index) const {
    const FieldDef& f = header().fields[static_cast<std::size_t>(index.field)];
    const std::uint8_t* bytes = record + f.offset;
    std::string value(reinterpret_cast<const char*>(bytes), bounded_length(bytes, f.width));
    const std::array<std::uint8_t, 256>& seen = index.ignore_case ? *fold_ : driver_.read_table();
    for (char& c : value) c = static_cast<char>(seen[static_cast<unsigned char>(c)]);
    return value;
}

void Dataset::locate_index_update(const std::uint8_t* removed, const std::uint8_t* added) {
    if (locate_index_.field < 0) return;
    if (removed != nullptr) {
        const auto it = locate_index_.counts.find(locate_value(removed, locate_index_));
        if (it != locate_index_.counts.end() && it->second > 0) --it->second;
    }
    if (added != nullptr) ++locate_index_.counts[locate_value(added, locate_index_)];
}

void Dataset::check_can_write() {
    if (write_checked_) return;
    if (!writable_) throw Exception("Table " + path() + " is open read-only");
    check_table_changeable(path(), header());
    // The rows as read under the shared lock; the cursor moves into them.
    load_all();
    const std::string table_path = path();
    const std::vector<std::uint8_t> seen = header().bytes;
    // The shared lock goes before the exclusive one is asked for: two
    // readers that both mean to write would otherwise wait for each other.
    file_.reset();
    try {
        file_ = std::make_unique<TableFile>(table_path, true);
    } catch (const Exception& e) {
        // Back to reading what was read.
        try {
            file_ = std::make_unique<TableFile>(table_path, false);
        } catch (const Exception&) {
            writable_ = false;
            throw e;
        }
        if (e.Kind() == ErrorKind::damaged || e.Kind() == ErrorKind::in_use || e.Kind() == ErrorKind::permission)
            throw;
        throw Exception("Table " + table_path + " cannot be changed (read-only?): " + e.Message(), e.Kind(),
                        e.Reason());
    }
    // Between the two locks another program may have changed the table:
    // what was read then is out of date, and a change made from it would
    // undo theirs.
    if (file_->header().bytes != seen || !chain_matches_file()) {
        loaded_ = false;
        chain_.clear();
        locate_index_ = LocateIndex{};
        walker_ = std::make_unique<ChainWalker>(*file_);
        eof_ = !walker_->advance();
        row_ = 0;
        load_all();
        eof_ = chain_.empty();
        block_index_ = 0;
        // Back to the shared lock: nothing is to be written now.
        file_.reset();
        file_ = std::make_unique<TableFile>(table_path, false);
        throw Exception("Table " + table_path +
                            " was changed by another program while it was read; nothing was written, try again",
                        ErrorKind::in_use);
    }
    write_checked_ = true;
    // An index out of step with the rows (written by another program, say)
    // is brought up to date before anything else changes (only differing
    // blocks are written).
    if (header().keyed()) write_index();
}

bool Dataset::chain_matches_file() {
    ChainWalker walker(*file_);
    std::size_t i = 0;
    while (walker.advance()) {
        if (walker.info().count == 0) continue;
        if (i >= chain_.size() || chain_[i].number != walker.number() ||
            std::memcmp(chain_[i].bytes.data(), walker.block(), header().block_size) != 0)
            return false;
        ++i;
    }
    return i == chain_.size();
}

void Dataset::edit() {
    if (mode_ != Mode::browse) post();
    check_can_write();
    load_all();
    if (eof_) throw Exception("Table " + path() + " has no current row to edit");
    const std::uint8_t* record = current_record();
    buffer_.assign(record, record + header().record_size);
    edit_original_ = buffer_;
    mode_ = Mode::edit;
}

void Dataset::insert() {
    if (mode_ != Mode::browse) post();
    check_can_write();
    load_all();
    buffer_.assign(header().record_size, 0);
    mode_ = Mode::insert;
}

void Dataset::cancel() {
    mode_ = Mode::browse;
    buffer_.clear();
}

std::uint32_t Dataset::new_block() {
    TableHeader& h = file_->header();
    if (h.file_blocks >= 0xFFFF) throw Exception("Table " + path() + " is full (65535 blocks)");
    return ++h.file_blocks;
}

// Where a record goes in key order: the block whose first key is the last
// not above it, and the first row with a greater key. Throws on a duplicate.
std::size_t Dataset::insert_position(const std::uint8_t* record, std::size_t& block,
                                     std::size_t& row) {
    const TableHeader& h = header();
    const std::size_t size = h.record_size;
    const Collation& c = *collation_;
    std::size_t lo = 0, hi = chain_.size();
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (c.compare_keys(h, chain_[mid].record(0, size), record) <= 0)
            lo = mid;
        else
            hi = mid;
    }
    block = lo;
    Block& b = chain_[block];
    std::size_t first = 0, last = b.count;
    while (first < last) {
        const std::size_t mid = (first + last) / 2;
        if (c.compare_keys(h, b.record(mid, size), record) <= 0)
            first = mid + 1;
        else
            last = mid;
    }
    row = first;
    if (row > 0 && c.compare_keys(h, b.record(row - 1, size), record) == 0)
        throw Exception("Key violation: table " + path() + " already has a row with this key");
    return row;
}

void Dataset::post() {
    if (mode_ == Mode::browse)
        throw Exception("Table " + path() + " is not being edited or inserted into");
    TableHeader& h = file_->header();
    const std::size_t size = h.record_size;
    const std::size_t capacity = h.records_per_block();
    std::vector<std::uint32_t> dirty;

    try {
        bool place_new = mode_ == Mode::insert;
        if (mode_ == Mode::insert) {
            for (const FieldDef& f : h.fields)
                if (f.type == kAutoIncrement && is_blank(buffer_.data() + f.offset, f.width)) {
                    ++h.auto_increment;
                    encode_value(FieldDef{kLong, 4, 4, 0, f.name}, std::to_string(h.auto_increment),
                                 buffer_.data() + f.offset);
                }
        }
        if (mode_ == Mode::edit) {
            Block& b = chain_[block_index_];
            std::uint8_t* record = b.record(row_, size);
            bool key_changed = false;
            for (std::size_t i = 0; i < h.key_fields; ++i)
                key_changed = key_changed || std::memcmp(record + h.fields[i].offset,
                                                         buffer_.data() + h.fields[i].offset,
                                                         h.fields[i].width) != 0;
            if (!key_changed) {
                std::memcpy(record, buffer_.data(), size);
                dirty.push_back(b.number);
            } else {
                if (!collation_) collation_ = Collation::for_table(h);
                for (const Block& other : chain_)
                    for (std::size_t r = 0; r < other.count; ++r)
                        if (!(&other == &b && r == row_) &&
                            collation_->compare_keys(h, other.record(r, size),
                                                     buffer_.data()) == 0)
                            throw Exception("Key violation: table " + path() +
                                            " already has a row with this key");
                // Take the row out; it goes back in at its new place.
                std::memmove(record, record + size, (b.count - row_ - 1) * size);
                --b.count;
                dirty.push_back(b.number);
                if (b.count == 0) {
                    // An emptied block leaves the chain; the first block keeps
                    // its number by taking over its successor's rows.
                    std::size_t victim = block_index_;
                    if (victim == 0 && chain_.size() > 1) {
                        chain_[0].count = chain_[1].count;
                        std::memcpy(chain_[0].record(0, size), chain_[1].record(0, size),
                                    chain_[1].count * size);
                        victim = 1;
                    }
                    if (chain_.size() > 1) {
                        Block& freed = chain_[victim];
                        put_u16(freed.bytes.data(), get_u16(&h.bytes[offset::kFirstFreeBlock]));
                        put_u16(freed.bytes.data() + 2, 0);
                        put_u16(freed.bytes.data() + 4,
                                static_cast<std::uint32_t>(static_cast<std::uint16_t>(-static_cast<int>(size))));
                        freed_.push_back(std::move(freed.bytes));
                        freed_numbers_.push_back(freed.number);
                        put_u16(&h.bytes[offset::kFirstFreeBlock], freed.number);
                        chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(victim));
                    }
                }
                place_new = true;
            }
        }
        std::size_t at_block = 0, at_row = 0;
        if (place_new) {
            if (chain_.empty()) {
                Block b;
                b.number = new_block();
                b.bytes.assign(h.block_size, 0);
                chain_.push_back(std::move(b));
            }
            if (h.keyed()) {
                if (!collation_) collation_ = Collation::for_table(h);
                insert_position(buffer_.data(), at_block, at_row);
            } else {
                at_block = chain_.size() - 1;
                at_row = chain_[at_block].count;
            }
            Block* b = &chain_[at_block];
            if (b->count < capacity) {
                std::uint8_t* r = b->record(at_row, size);
                std::memmove(r + size, r, (b->count - at_row) * size);
                std::memcpy(r, buffer_.data(), size);
                ++b->count;
                dirty.push_back(b->number);
            } else {
                // A full block: appending at the end of the last block starts a
                // new block; anywhere else the block splits in two halves.
                Block fresh;
                fresh.number = new_block();
                fresh.bytes.assign(h.block_size, 0);
                const std::size_t split = at_block;
                bool in_fresh = true;
                if (split + 1 == chain_.size() && at_row == b->count) {
                    std::memcpy(fresh.record(0, size), buffer_.data(), size);
                    fresh.count = 1;
                    at_row = 0;
                } else {
                    std::vector<std::uint8_t> all(b->record(0, size), b->record(b->count, size));
                    all.insert(all.begin() + static_cast<std::ptrdiff_t>(at_row * size),
                               buffer_.begin(), buffer_.end());
                    const std::size_t total = b->count + 1;
                    const std::size_t keep = total / 2;
                    std::memcpy(b->record(0, size), all.data(), keep * size);
                    std::memset(b->record(keep, size), 0, (capacity - keep) * size);
                    b->count = keep;
                    std::memcpy(fresh.record(0, size), all.data() + keep * size, (total - keep) * size);
                    fresh.count = total - keep;
                    dirty.push_back(b->number);
                    in_fresh = at_row >= keep;
                    if (in_fresh) at_row -= keep;
                }
                dirty.push_back(fresh.number);
                chain_.insert(chain_.begin() + static_cast<std::ptrdiff_t>(split + 1), std::move(fresh));
                at_block = in_fresh ? split + 1 : split;
            }
        } else {
            at_block = block_index_;
            at_row = row_;
        }
        write_changes(dirty);
        locate_index_update(mode_ == Mode::edit ? edit_original_.data() : nullptr, buffer_.data());
        block_index_ = at_block;
        row_ = at_row;
        eof_ = false;
    } catch (...) {
        // Nothing was written when the change was refused; reload what the
        // file holds so the cursor never shows rows that are not there.
        // Start again from what the files hold.
        mode_ = Mode::browse;
        buffer_.clear();
        freed_.clear();
        freed_numbers_.clear();
        locate_index_ = LocateIndex{};
        try {
            // The journal has put the old content back, or left it to be put
            // back when the table is next locked.
            file_ = std::make_unique<TableFile>(path(), true);
            repair_after_failure();
            index_loaded_ = false;  // read the .PX again
            loaded_ = false;
            chain_.clear();
            walker_ = std::make_unique<ChainWalker>(*file_);
            eof_ = !walker_->advance();
            row_ = 0;
            load_all();
            eof_ = chain_.empty();
            block_index_ = 0;
            if (header().keyed()) write_index();  // the .DB may be ahead of its index
        } catch (...) {
            // The table cannot even be read back: no more changes through
            // this dataset, which could only make things worse.
            writable_ = false;
            write_checked_ = false;
            loaded_ = true;
            chain_.clear();
            eof_ = true;
        }
        throw;
    }
    mode_ = Mode::browse;
    buffer_.clear();
}

// The blocks of a post are written in an order that keeps the forward
// chain whole at every step; backward links and the header's row count and
// last block may lag behind it. When a failure came between, they are
// brought in line with the chain, so that the table reads consistently
// again.
void Dataset::repair_after_failure() {
    TableHeader& h = file_->header();
    ChainWalker walker(*file_, ChainWalker::Decryption::whole_blocks, false);
    std::uint32_t last = 0;
    bool changed = false;
    while (walker.advance()) {
        if (walker.info().previous != last) {
            std::vector<std::uint8_t> block(walker.block(), walker.block() + h.block_size);
            put_u16(block.data() + 2, last);
            file_->write_block(walker.number(), block.data());
            changed = true;
        }
        last = walker.number();
    }
    if (walker.rows() != h.records || last != h.last_block) {
        h.records = static_cast<std::uint32_t>(walker.rows());
        h.last_block = last;
        file_->write_header();
        changed = true;
    }
    if (changed) file_->file().sync();
}

void Dataset::write_changes(const std::vector<std::uint32_t>& dirty) {
    TableHeader& h = file_->header();
    std::uint64_t records = 0;
    // Relink the chain; blocks whose links change are written too.
    std::vector<std::uint32_t> to_write = dirty;
    for (std::size_t i = 0; i < chain_.size(); ++i) {
        Block& b = chain_[i];
        BlockInfo info;
        info.next = i + 1 < chain_.size() ? chain_[i + 1].number : 0;
        info.previous = i > 0 ? chain_[i - 1].number : 0;
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
    h.first_block = chain_.empty() ? 0 : chain_.front().number;
    h.last_block = chain_.empty() ? 0 : chain_.back().number;
    IndexPlan index;
    if (h.keyed()) index = plan_index();

    // Everything the post overwrites goes into the journal first: the
    // blocks, the header, the blocks that left the chain and the index.
    TableLock& lock = file_->lock();
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
    auto write = [&](std::uint32_t number) {
        for (Block& b : chain_)
            if (b.number == number) file_->write_block(b.number, b.bytes.data());
    };
    const std::uint32_t old_blocks = get_u16(&h.bytes[offset::kFileBlocks]);
    for (std::uint32_t number : to_write)
        if (number > old_blocks) write(number);
    if (h.file_blocks != old_blocks) {
        std::vector<std::uint8_t> counted(h.bytes.begin(), h.bytes.begin() + offset::kLevel3FieldTable);
        put_u16(&counted[offset::kFileBlocks], h.file_blocks);
        put_u16(&counted[offset::kMaxBlocks], h.file_blocks);
        file_->file().write_at(0, counted.data(), counted.size());
    }
    for (std::uint32_t number : to_write)
        if (number <= old_blocks) write(number);
    file_->write_header();
    for (std::size_t i = 0; i < freed_.size(); ++i) file_->write_block(freed_numbers_[i], freed_[i].data());
    freed_.clear();
    freed_numbers_.clear();
    file_->file().sync();
    if (h.keyed()) apply_index(index);
    journal.commit();
}

Dataset::IndexPlan Dataset::plan_index() {
    const TableHeader& h = header();
    IndexPlan plan;
    if (!index_loaded_) {
        index_path_ = companion_path(path(), "PX");
        index_image_.clear();
        if (platform::File* px = file_->lock().file(index_path_)) {
            index_image_.resize(static_cast<std::size_t>(px->size()));
            index_image_.resize(px->read_at(0, index_image_.data(), index_image_.size()));
        }
        index_loaded_ = true;
    }
    std::vector<IndexEntry> entries;
    entries.reserve(chain_.size());
    for (Block& b : chain_)
        entries.push_back({b.record(0, h.record_size), b.number, static_cast<std::uint32_t>(b.count)});
    plan.image = build_primary_index(h, entries, index_image_);
    plan.create = file_->lock().file(index_path_) == nullptr;
    // Only the blocks that differ from what the file holds are written.
    for (std::size_t at = 0; at < plan.image.size(); at += kIndexUnit) {
        const std::size_t n = std::min(kIndexUnit, plan.image.size() - at);
        if (!plan.create && at + n <= index_image_.size() &&
            std::memcmp(&plan.image[at], &index_image_[at], n) == 0)
            continue;
        plan.units.push_back(at);
    }
    return plan;
}

void Dataset::save_index(platform::Journal& journal, const IndexPlan& plan) {
    const std::string name = TableLock::name_of(index_path_);
    if (plan.create) {
        journal.save(name, 0, 0);
        return;
    }
    for (const std::size_t at : plan.units) journal.save(name, at, kIndexUnit);
    if (plan.image.size() < index_image_.size())
        journal.save(name, plan.image.size(), index_image_.size() - plan.image.size());
}

void Dataset::apply_index(IndexPlan& plan) {
    platform::File* px = file_->lock().file(index_path_);
    if (px == nullptr) px = &file_->lock().create_file(index_path_);
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
        const std::string& folder = file_->lock().folder();
        platform::file_system().sync_directory(folder.empty() ? "." : folder);
    }
    index_image_ = std::move(plan.image);
}

void Dataset::write_index() {
    IndexPlan plan = plan_index();
    if (!plan.create && plan.units.empty() && plan.image.size() == index_image_.size()) {
        index_image_ = std::move(plan.image);
        return;
    }
    TableLock& lock = file_->lock();
    platform::Journal journal(lock.folder(), lock.name(), lock);
    save_index(journal, plan);
    journal.begin();
    apply_index(plan);
    journal.commit();
}

}  // namespace engine
