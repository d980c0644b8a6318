#include "engine/format.h"

#include "engine/bytes.h"
#include "platform/exception.h"

#include <algorithm>
#include <cstring>

namespace engine {
namespace {

[[noreturn]] void corrupt(const std::string& file, const std::string& what) {
    throw Exception("Table " + file + " is damaged or not a Paradox table: " + what, ErrorKind::damaged);
}

// Level 3 and 3.5 headers have their field table right after the common
// part; level 4+ headers put 32 more bytes first.
std::size_t field_table_offset(std::uint8_t version) {
    return version >= 5 ? offset::kLevel4FieldTable : offset::kLevel3FieldTable;
}

// A sort-order id string: 1 to 31 printable ASCII characters ending in a
// NUL inside the header; empty when there is none at `at`.
std::string sort_order_id_at(const std::vector<std::uint8_t>& header, std::size_t at) {
    std::string id;
    for (; at < header.size() && id.size() < 32; ++at) {
        const std::uint8_t c = header[at];
        if (c == 0) return id;
        if (c <= 0x20 || c >= 0x7F) break;
        id.push_back(static_cast<char>(c));
    }
    return {};
}

// Headers the Windows engine writes are 0x800 bytes (every level 4+ and
// level 3.5 table seen); one that needs more grows in the same unit.
std::size_t header_size_for(std::size_t used) {
    const std::size_t size = (used + 0x7FF) & ~static_cast<std::size_t>(0x7FF);
    if (size > 0xF800) throw Exception("The table's header would be too large");
    return size;
}

[[noreturn]] void not_rewritable(const std::string& file, const std::string& what) {
    throw Exception("Table " + file + " cannot be restructured: its header is not laid out as the old engine lays it out (" +
                    what + ")");
}

}  // namespace

std::size_t field_width(std::uint8_t type, std::uint8_t size_code) {
    switch (type) {
    case kAlpha:
    case kBytes:
        return size_code;  // 0 is invalid
    case kDate:
    case kLong:
    case kTime:
    case kAutoIncrement:
        return size_code == 4 ? 4 : 0;
    case kShort:
        return size_code == 2 ? 2 : 0;
    case kMoney:
    case kNumber:
    case kTimestamp:
        return size_code == 8 ? 8 : 0;
    case kLogical:
        return size_code == 1 ? 1 : 0;
    case kMemo:
    case kBlob:
    case kFormattedMemo:
    case kOle:
    case kGraphic:
        return size_code >= 10 ? size_code : 0;  // a leader and 10 bytes of pointer
    case kBcd:
        return size_code <= 32 ? 17 : 0;
    default:
        return 0;
    }
}

bool is_blob_type(std::uint8_t type) {
    return type == kMemo || type == kBlob || type == kFormattedMemo || type == kOle ||
           type == kGraphic;
}

void TableHeader::store_counters() {
    put_u32(&bytes[offset::kRecords], records);
    put_u16(&bytes[offset::kNextBlock], file_blocks);
    put_u16(&bytes[offset::kFileBlocks], file_blocks);
    put_u16(&bytes[offset::kFirstBlock], first_block);
    put_u16(&bytes[offset::kLastBlock], last_block);
    put_u16(&bytes[offset::kMaxBlocks], file_blocks);
    put_u32(&bytes[offset::kAutoIncrement], auto_increment);
}

TableHeader parse_table_header(const std::string& file, const std::vector<std::uint8_t>& bytes,
                               std::uint64_t file_size) {
    TableHeader h;
    h.file = file;
    if (file_size < offset::kLevel3FieldTable || bytes.size() < offset::kLevel3FieldTable)
        corrupt(file, "the file is too short for a table header (" + std::to_string(file_size) +
                          " bytes)");
    const std::uint8_t* b = bytes.data();

    h.file_type = b[offset::kFileType];
    if (h.file_type != kKeyedTable && h.file_type != kUnkeyedTable)
        corrupt(file, "file type " + std::to_string(h.file_type) + " is not a data table");
    h.version = b[offset::kVersion];
    if (h.version < 3 || h.version > 12)
        corrupt(file, "unknown format version " + std::to_string(h.version));
    const unsigned block_kb = b[offset::kBlockSize];
    if (block_kb < 1 || block_kb > 32)
        corrupt(file, "block size code " + std::to_string(block_kb) + " is out of range");
    h.block_size = block_kb * 1024u;

    h.record_size = get_u16(b + offset::kRecordSize);
    h.header_size = get_u16(b + offset::kHeaderSize);
    const std::size_t table_offset = field_table_offset(h.version);
    if (h.header_size < table_offset)
        corrupt(file, "header size " + std::to_string(h.header_size) + " is too small");
    if (h.header_size > file_size)
        corrupt(file, "header size " + std::to_string(h.header_size) + " exceeds the file size " +
                          std::to_string(file_size) + " (truncated)");
    if (bytes.size() < h.header_size) corrupt(file, "the header could not be read in full");
    h.bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(h.header_size));
    if (h.record_size == 0 || h.record_size > h.block_size - kBlockHeaderSize)
        corrupt(file, "record size " + std::to_string(h.record_size) +
                          " does not fit the block size " + std::to_string(h.block_size));

    h.records = get_u32(b + offset::kRecords);
    h.file_blocks = get_u16(b + offset::kFileBlocks);
    h.first_block = get_u16(b + offset::kFirstBlock);
    h.last_block = get_u16(b + offset::kLastBlock);
    h.auto_increment = get_u32(b + offset::kAutoIncrement);
    h.sort_order = b[offset::kSortOrder];

    const std::uint64_t data_bytes = file_size - h.header_size;
    if (static_cast<std::uint64_t>(h.file_blocks) * h.block_size > data_bytes)
        corrupt(file, "the header counts " + std::to_string(h.file_blocks) +
                          " blocks but the file holds " + std::to_string(data_bytes / h.block_size) +
                          " (truncated)");
    if (h.file_blocks == 0 ? h.first_block != 0 : (h.first_block < 1 || h.first_block > h.file_blocks))
        corrupt(file, "first block " + std::to_string(h.first_block) + " is not a block of the file");
    if (static_cast<std::uint64_t>(h.records) >
        static_cast<std::uint64_t>(h.file_blocks) * h.records_per_block())
        corrupt(file, "the header counts " + std::to_string(h.records) +
                          " records, more than its blocks can hold");

    const std::size_t field_count = get_u16(b + offset::kFieldCount);
    h.key_fields = get_u16(b + offset::kKeyFields);
    if (field_count < 1 || field_count > 255)
        corrupt(file, "field count " + std::to_string(field_count) + " is out of range");
    if (h.key_fields > field_count || (h.keyed() && h.key_fields == 0))
        corrupt(file, "key field count " + std::to_string(h.key_fields) + " is out of range");
    if (!h.keyed()) h.key_fields = 0;

    // Encryption: level 3.x keeps the checksum at 0x25; level 4+ marks
    // encrypted tables there and keeps the checksum at 0x5C.
    const std::uint32_t encryption1 = get_u32(b + offset::kEncryption1);
    if (encryption1 == kLevel4Encryption) {
        if (!h.level4()) corrupt(file, "a level 4 encryption mark in an older table");
        h.checksum = get_u32(b + offset::kEncryption2);
    } else {
        h.checksum = encryption1;
    }
    if (h.encrypted() && h.block_size % 256 != 0)
        corrupt(file, "an encrypted table needs blocks of whole 256-byte chunks");

    // Field table, table name, field names: all within the header.
    std::size_t at = table_offset;
    const std::size_t names_table = at + field_count * 2 + 4 + field_count * 4;
    if (names_table + h.table_name_length() > h.header_size)
        corrupt(file, "the field table does not fit in the header");
    std::size_t record_offset = 0;
    h.fields.resize(field_count);
    for (std::size_t i = 0; i < field_count; ++i) {
        FieldDef& f = h.fields[i];
        f.type = b[at + 2 * i];
        f.size_code = b[at + 2 * i + 1];
        f.width = field_width(f.type, f.size_code);
        if (f.width == 0)
            corrupt(file, "field " + std::to_string(i + 1) + " has an invalid type " +
                              std::to_string(f.type) + " or size " + std::to_string(f.size_code));
        f.offset = record_offset;
        record_offset += f.width;
    }
    if (record_offset != h.record_size)
        corrupt(file, "the fields take " + std::to_string(record_offset) +
                          " bytes but the record size is " + std::to_string(h.record_size));
    at = names_table;
    const char* text = reinterpret_cast<const char*>(b);
    h.table_name.assign(text + at, bounded_length(text + at, h.table_name_length()));
    at += h.table_name_length();
    for (std::size_t i = 0; i < field_count; ++i) {
        const std::size_t length = bounded_length(text + at, h.header_size - at);
        if (at + length >= h.header_size)
            corrupt(file, "the field names run past the end of the header");
        h.fields[i].name.assign(text + at, length);
        at += length + 1;
    }

    h.names_end = at;

    if (h.level4()) {
        // The field numbers after the names are persistent field IDs, not
        // positions, e.g. [1,6,5,2,4] with 8 at 0x64 (seen in tables the
        // old engine wrote, and in the footers of their .VAL files).
        h.high_field_id = get_u16(b + offset::kHighFieldId);
        if (at + field_count * 2 <= h.header_size)
            for (std::size_t i = 0; i < field_count; ++i) h.field_ids.push_back(get_u16(b + at + 2 * i));
        // The code page as stored: 0 occurs (language driver "BLROM800")
        // and says nothing about the text.
        h.code_page = get_u16(b + offset::kCodePage);
        // The sort order's id string starts at 0x58 + the word at 0x6E (seen
        // in tables the old engine wrote); right after the field numbers in
        // all of them, which is where to look when that word is unusable.
        h.sort_order_id = sort_order_id_at(h.bytes, 0x58 + get_u16(b + 0x6E));
        if (h.sort_order_id.empty()) h.sort_order_id = sort_order_id_at(h.bytes, at + field_count * 2);
    }
    return h;
}

std::vector<std::uint8_t> build_table_header(const HeaderLayout& layout) {
    const bool level4 = layout.version >= 5;
    const std::size_t table_offset = field_table_offset(layout.version);
    const std::size_t name_length = layout.version >= 12 ? 261 : 79;
    const std::size_t count = layout.fields.size();

    std::size_t names = 0;
    for (const FieldDef& f : layout.fields) names += f.name.size() + 1;
    const std::size_t numbers_at = table_offset + count * 2 + 4 + count * 4 + name_length + names;
    const std::size_t used = numbers_at + (level4 ? count * 2 + layout.sort_order_id.size() + 1 : 0);
    const std::size_t header_size = header_size_for(used);

    std::vector<std::uint8_t> h(header_size, 0);
    std::size_t record_size = 0;
    for (const FieldDef& f : layout.fields) record_size += field_width(f.type, f.size_code);

    put_u16(&h[offset::kRecordSize], static_cast<std::uint32_t>(record_size));
    put_u16(&h[offset::kHeaderSize], static_cast<std::uint32_t>(header_size));
    h[offset::kFileType] = layout.file_type;
    h[offset::kBlockSize] = static_cast<std::uint8_t>(layout.block_size / 1024);
    put_u32(&h[offset::kRecords], 0);
    put_u16(&h[offset::kNextBlock], 0);
    put_u16(&h[offset::kFileBlocks], 0);
    put_u16(&h[offset::kFirstBlock], 0);
    put_u16(&h[offset::kLastBlock], 0);
    put_u16(&h[offset::kMaxBlocks], 0);
    h[offset::kModified1] = 0;
    h[offset::kModified2] = 0;
    put_u16(&h[offset::kFieldCount], static_cast<std::uint32_t>(count));
    put_u16(&h[offset::kKeyFields], static_cast<std::uint32_t>(layout.key_fields));
    h[offset::kSortOrder] = layout.sort_order;
    h[offset::kVersion] = layout.version;
    put_u32(&h[offset::kAutoIncrement], layout.auto_increment);
    put_u16(&h[offset::kFirstFreeBlock], 0);
    put_u16(&h[offset::kRealHeaderSize], static_cast<std::uint32_t>(used));
    put_u16(&h[offset::kChangeCount], 1);
    h[0x2D] = 2;  // header change counts: the old engine expects at least these
    h[0x2E] = 1;
    h[0x3E] = 0x1F;
    h[0x3F] = 0x0F;
    h[0x56] = 0x20;
    if (level4) {
        // 0xFF00FF00 in every level 4+ table, encrypted or not (seen in
        // tables the old engine wrote; pxlib writes it too).
        put_u32(&h[offset::kEncryption1], kLevel4Encryption);
        put_u32(&h[offset::kEncryption2], layout.checksum);
        const std::uint32_t version_word = 0x0100u | (layout.version == 12 ? 0x0C : layout.version >= 10 ? 0x0B : 0x09);
        put_u16(&h[0x58], version_word);
        put_u16(&h[0x5A], version_word);
        put_u16(&h[offset::kHighFieldId], static_cast<std::uint32_t>(count + 1));
        put_u16(&h[0x66], static_cast<std::uint32_t>(numbers_at - 0x58));
        put_u16(&h[offset::kCodePage], static_cast<std::uint32_t>(layout.code_page));
        h[0x6C] = 1;  // 1, 1 in nearly all tables the old engine wrote
        h[0x6D] = 1;
        put_u16(&h[0x6E], static_cast<std::uint32_t>(numbers_at + count * 2 - 0x58));
    } else {
        put_u32(&h[offset::kEncryption1], layout.checksum);
    }

    std::size_t at = table_offset;
    for (const FieldDef& f : layout.fields) {
        h[at++] = f.type;
        h[at++] = f.size_code;
    }
    at += 4 + count * 4;  // run-time pointers, stored as zeros
    std::memcpy(&h[at], layout.table_name.data(), std::min(layout.table_name.size(), name_length - 1));
    at += name_length;
    for (const FieldDef& f : layout.fields) {
        std::memcpy(&h[at], f.name.data(), f.name.size());
        at += f.name.size() + 1;
    }
    if (level4) {
        for (std::size_t i = 0; i < count; ++i) {
            put_u16(&h[at], static_cast<std::uint32_t>(i + 1));
            at += 2;
        }
        std::memcpy(&h[at], layout.sort_order_id.data(), layout.sort_order_id.size());
    }
    return h;
}

// What a restructure that appends fields changes in the header. Every
// other byte is kept as the old engine wrote it, so that a program of the
// old engine cannot tell the table from one it restructured itself. (The
// layout is pxlib's doc/pxformat.txt; what the old engine keeps and changes
// was seen in the tables it restructured, whose table-name area holds
// "resttemp.DB".) The counters come out as those of an empty table; the
// caller stores the packed table's once it has copied the rows.
//
//   Offset      Field                     After the restructure
//   0x00        record size               the old size + the new fields' widths
//   0x02        header size               see below
//   0x05        block size                larger only when the record no longer fits
//   0x06        records                   the rows copied
//   0x0A, 0x0C  next block, file blocks   the packed blocks
//   0x0E, 0x10  first, last block         1 and n (0, 0 when empty)
//   0x21        field count               + the new fields
//   0x3A        max blocks                = file blocks
//   0x4D        first free block          0 (nothing is free)
//   0x51        real header size          moves with the content; 0 stays 0 (level 3)
//   0x64        hiFieldID (level 4+)      the new fields take IDs from the old value
//                                         on, which then grows by one per field
//   0x66        field IDs' offset - 0x58  follows the names
//   0x6E        sort-order id - 0x58      follows the field IDs
//   after 0x58 (level 3) or 0x78:         the field table, run-time pointers, names
//                                         and field IDs of the new fields are
//                                         appended to the old ones; the table-name
//                                         area and the sort-order id are kept as
//                                         they are
//
// Kept, among others: 0x25 (0xFF00FF00 in level 4+ tables, encrypted or
// not, or the level 3 password checksum), 0x5C (the checksum), 0x6A (the
// code page, 0 included), 0x29 (the sort order), 0x39 (the version), the
// version words at 0x58, change counters (0x12, 0x2B..0x2E, 0x70), the
// update time at 0x60 (a .VAL file names it), modified flags, 0x49 (the
// next auto-increment value) and the unknown bytes.
//
// Header size: a header that ended exactly where its content did (the DOS
// engine's level 3 tables: 0xEA, 0xDD, 0x15C... bytes) ends there again;
// any other keeps its size (0x800) while the content fits, and grows by
// whole 0x800 units when it does not.
std::vector<std::uint8_t> header_with_added_fields(const TableHeader& old, const std::vector<FieldDef>& added,
                                                   std::size_t block_size) {
    const std::uint8_t* b = old.bytes.data();
    const std::size_t n = old.fields.size();
    const std::size_t count = n + added.size();
    if (count > 255) throw Exception("Table " + old.file + " would have more than 255 fields");
    const std::size_t table_offset = field_table_offset(old.version);
    const std::size_t old_pointers = table_offset + 2 * n;
    const std::size_t old_name_area = old_pointers + 4 + 4 * n;

    // Where the old content ends; level 4+ headers end in the field IDs
    // and the sort-order id, both where their words say.
    std::size_t old_end = old.names_end;
    std::size_t old_sort_order_id = old_end;
    if (old.level4()) {
        if (0x58u + get_u16(b + 0x66) != old.names_end || old.field_ids.size() != n)
            not_rewritable(old.file, "the field IDs are not where the word at 0x66 points");
        old_sort_order_id = 0x58u + get_u16(b + 0x6E);
        if (old_sort_order_id != old.names_end + 2 * n)
            not_rewritable(old.file, "the sort-order id is not where the word at 0x6E points");
        const std::size_t id_length = bounded_length(b + old_sort_order_id, old.header_size - old_sort_order_id);
        if (old_sort_order_id + id_length >= old.header_size)
            not_rewritable(old.file, "the sort-order id runs past the end of the header");
        old_end = old_sort_order_id + id_length + 1;
    }

    std::size_t added_names = 0;
    for (const FieldDef& f : added) added_names += f.name.size() + 1;
    const std::size_t growth = added.size() * (2 + 4 + (old.level4() ? 2 : 0)) + added_names;
    const std::size_t used = old_end + growth;
    std::size_t header_size = old.header_size;
    if (old.header_size == old_end)
        header_size = used;
    else if (used > old.header_size)
        header_size = header_size_for(used);
    if (header_size > 0xFFFF) throw Exception("The header of table " + old.file + " would be too large");

    std::vector<std::uint8_t> h(header_size, 0);
    std::size_t at = 0;
    auto copy = [&](std::size_t from, std::size_t to) {
        std::memcpy(&h[at], b + from, to - from);
        at += to - from;
    };
    copy(0, old_pointers);  // the fixed part and the old field table
    for (const FieldDef& f : added) {
        h[at++] = f.type;
        h[at++] = f.size_code;
    }
    copy(old_pointers, old_name_area);  // old run-time pointers; the new ones stay 0
    at += 4 * added.size();
    copy(old_name_area, old.names_end);  // the table-name area and the old names
    for (const FieldDef& f : added) {
        std::memcpy(&h[at], f.name.data(), f.name.size());
        at += f.name.size() + 1;
    }
    const std::size_t names_end = at;
    std::size_t record_size = old.record_size;
    for (const FieldDef& f : added) record_size += field_width(f.type, f.size_code);

    put_u16(&h[offset::kRecordSize], static_cast<std::uint32_t>(record_size));
    put_u16(&h[offset::kHeaderSize], static_cast<std::uint32_t>(header_size));
    h[offset::kBlockSize] = static_cast<std::uint8_t>(block_size / 1024);
    put_u16(&h[offset::kFieldCount], static_cast<std::uint32_t>(count));
    put_u32(&h[offset::kRecords], 0);  // no rows and no blocks yet
    for (std::size_t counter : {offset::kNextBlock, offset::kFileBlocks, offset::kFirstBlock, offset::kLastBlock,
                                offset::kMaxBlocks, offset::kFirstFreeBlock})
        put_u16(&h[counter], 0);
    const std::uint32_t real_size = get_u16(b + offset::kRealHeaderSize);
    if (real_size != 0) put_u16(&h[offset::kRealHeaderSize], static_cast<std::uint32_t>(real_size + growth));
    if (old.level4()) {
        copy(old.names_end, old_sort_order_id);  // the old field IDs
        std::uint32_t next_id = old.high_field_id;
        for (std::uint16_t id : old.field_ids) next_id = std::max<std::uint32_t>(next_id, id + 1u);
        for (std::size_t i = 0; i < added.size(); ++i) {
            put_u16(&h[at], next_id++);
            at += 2;
        }
        const std::size_t sort_order_id = at;
        copy(old_sort_order_id, old_end);
        put_u16(&h[offset::kHighFieldId], next_id);
        put_u16(&h[0x66], static_cast<std::uint32_t>(names_end - 0x58));
        put_u16(&h[0x6E], static_cast<std::uint32_t>(sort_order_id - 0x58));
    }
    return h;
}

}  // namespace engine
