#include "engine/dataset.h"

#include "engine/bytes.h"
#include "engine/table_guard.h"
#include "engine/table_lock.h"
#include "engine/values.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/text.h"

#include <cstring>

namespace engine {

Dataset::Dataset(const std::string& path, bool writable) : writable_(writable) {
    if (platform::file_system().kind(path) != platform::FileKind::file)
        throw Exception("Table " + path + " does not exist", ErrorKind::not_found);
    // Under the table's shared lock (which puts back an interrupted change
    // first) for as long as the dataset is open.
    file_ = std::make_unique<TableFile>(path, false);
    const TableHeader& h = file_->header();
    check_password(path, h);
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
    return chain_.blocks()[block_index_].record(row_, header().record_size);
}

void Dataset::next() {
    if (mode_ != Mode::browse) post();
    if (eof_) return;
    ++row_;
    if (loaded_) {
        while (block_index_ < chain_.size() && row_ >= chain_.blocks()[block_index_].count) {
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
    const std::size_t found = chain_.load(*file_, current_block);
    if (eof_)
        block_index_ = chain_.size();
    else if (found < chain_.size())
        block_index_ = found;
    loaded_ = true;
    walker_.reset();
}

// Reads the chain again from the start, the cursor on its first row.
void Dataset::reread_chain() {
    loaded_ = false;
    chain_.clear();
    walker_ = std::make_unique<ChainWalker>(*file_);
    eof_ = !walker_->advance();
    row_ = 0;
    load_all();
    eof_ = chain_.empty();
    block_index_ = 0;
}

// An alpha value of the streamed row, straight from the block into `room`
// (of 256 bytes: no field is wider, format.cpp, field_width): only the
// text's own bytes are unscrambled, and converted where they lie.
std::string_view Dataset::streamed_text(const FieldDef& f, char* room) const {
    const std::size_t length = walker_->copy_text(row_, f.offset, f.width, reinterpret_cast<std::uint8_t*>(room));
    driver_.read_in_place(room, length);
    return std::string_view(room, length);
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
        char room[256];
        return std::string(streamed_text(f, room));
    } else {
        walker_->copy_bytes(row_, f.offset, f.width, field);
        bytes = field;
    }
    if (!is_blob_type(f.type)) {
        std::string text = decode_value(f, bytes);
        if (f.type == kAlpha) driver_.read_in_place(text);
        return text;
    }
    const std::size_t leader = f.width - kBlobPointerSize;
    const std::uint32_t size = get_u32(bytes + leader + kBlobPointerLength);
    std::string blob;
    if (size == 0) return {};
    if (size <= leader) {
        blob.assign(reinterpret_cast<const char*>(bytes), size);
    } else {
        if (!memo_)
            memo_ = std::make_unique<MemoFile>(companion_path(path(), "MB"), header().checksum);
        blob = memo_->read(bytes, f.width);
    }
    // A plain memo is text. A formatted memo is a binary structure (its
    // text among formatting records, seen in real tables' .MB files), so
    // its bytes pass through like any other blob's: converting it would
    // change bytes that are not characters.
    return f.type == kMemo ? driver_.read(blob) : blob;
}

std::string_view Dataset::value_view(int index, ValueRoom& room) {
    const FieldDef& f = header().fields[static_cast<std::size_t>(index)];
    if (mode_ == Mode::browse && !eof_ && !loaded_ && f.type == kAlpha) return streamed_text(f, room.bytes);
    room.text = value(index);
    return room.text;
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
                for (const BlockChain::Block& b : chain_.blocks())
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
            for (std::size_t r = 0; r < chain_.blocks()[b].count; ++r) {
                const std::uint8_t* bytes = chain_.blocks()[b].record(r, size) + f.offset;
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
        for (std::size_t r = 0; r < chain_.blocks()[b].count; ++r) {
            std::string text;
            if (!is_blob_type(f.type)) text = decode_value(f, chain_.blocks()[b].record(r, size) + f.offset);
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
    // The password was checked when the table was opened.
    check_may_change(path(), header(), ChangeRequest{!writable_, false});
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
        throw TableLock::change_refused(table_path, e);
    }
    // Between the two locks another program may have changed the table:
    // what was read then is out of date, and a change made from it would
    // undo theirs.
    if (file_->header().bytes != seen || !chain_.matches(*file_)) {
        locate_index_ = LocateIndex{};
        reread_chain();
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
    if (header().keyed()) chain_.refresh_index(*file_);
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

void Dataset::post() {
    if (mode_ == Mode::browse)
        throw Exception("Table " + path() + " is not being edited or inserted into");
    TableHeader& h = file_->header();
    try {
        BlockChain::Position at{block_index_, row_};
        if (mode_ == Mode::insert) {
            for (const FieldDef& f : h.fields)
                if (f.type == kAutoIncrement && is_blank(buffer_.data() + f.offset, f.width)) {
                    ++h.auto_increment;
                    encode_value(FieldDef{kLong, 4, 4, 0, f.name}, std::to_string(h.auto_increment),
                                 buffer_.data() + f.offset);
                }
            at = chain_.insert(*file_, buffer_.data());
        } else if (!key_changed()) {
            chain_.replace(*file_, at, buffer_.data());
        } else {
            // The row leaves its place and goes back in at its new one.
            chain_.check_key_unique(*file_, buffer_.data(), at);
            chain_.remove(*file_, at);
            at = chain_.insert(*file_, buffer_.data());
        }
        chain_.write(*file_);
        locate_index_update(mode_ == Mode::edit ? edit_original_.data() : nullptr, buffer_.data());
        block_index_ = at.block;
        row_ = at.row;
        eof_ = false;
    } catch (...) {
        recover_from_failed_post();
        throw;
    }
    mode_ = Mode::browse;
    buffer_.clear();
}

bool Dataset::key_changed() const {
    const TableHeader& h = header();
    const std::uint8_t* record = current_record();
    for (std::size_t i = 0; i < h.key_fields; ++i)
        if (std::memcmp(record + h.fields[i].offset, buffer_.data() + h.fields[i].offset, h.fields[i].width) != 0)
            return true;
    return false;
}

// Nothing was written when the change was refused; otherwise the journal
// has put the old content back, or left it to be put back when the table
// is next locked. Either way the dataset starts again from what the files
// hold, so the cursor never shows rows that are not there.
void Dataset::recover_from_failed_post() {
    mode_ = Mode::browse;
    buffer_.clear();
    chain_.discard_changes();
    locate_index_ = LocateIndex{};
    try {
        file_ = std::make_unique<TableFile>(path(), true);
        BlockChain::repair(*file_);
        chain_.forget_index();  // read the .PX again
        reread_chain();
        if (header().keyed()) chain_.refresh_index(*file_);  // the .DB may be ahead of its index
    } catch (...) {
        // The table cannot even be read back: no more changes through
        // this dataset, which could only make things worse.
        writable_ = false;
        write_checked_ = false;
        loaded_ = true;
        chain_.clear();
        eof_ = true;
    }
}

}  // namespace engine
