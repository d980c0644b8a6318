#include "engine/format.h"

#include "engine/bytes.h"
#include "platform/exception.h"
#include "platform/file_system.h"

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

    if (h.level4()) {
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

TableHeader read_table_header(const std::string& path) {
    auto file = platform::file_system().open(path, platform::OpenMode::read);
    const std::uint64_t size = file->size();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(size, 0x10000)));
    bytes.resize(file->read_at(0, bytes.data(), bytes.size()));
    return parse_table_header(path, bytes, size);
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
    std::size_t header_size = std::max<std::size_t>(layout.minimum_header_size, used);
    if (layout.minimum_header_size == 0) header_size = std::max<std::size_t>(header_size, 0x800);
    header_size = (header_size + 0xFF) & ~static_cast<std::size_t>(0xFF);
    if (header_size > 0xFF00) throw Exception("The table's header would be too large");

    std::vector<std::uint8_t> h(header_size, 0);
    if (!layout.fixed_template.empty())
        std::memcpy(h.data(), layout.fixed_template.data(),
                    std::min(layout.fixed_template.size(), table_offset));
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
    if (layout.fixed_template.empty()) {
        put_u16(&h[offset::kChangeCount], 1);
        h[0x2D] = 2;  // header change counts: the old engine expects at least these
        h[0x2E] = 1;
        h[0x3E] = 0x1F;
        h[0x3F] = 0x0F;
        h[0x56] = 0x20;
    }
    if (level4) {
        put_u32(&h[offset::kEncryption1], layout.checksum != 0 ? kLevel4Encryption : 0);
        put_u32(&h[offset::kEncryption2], layout.checksum);
        const std::uint32_t version_word = 0x0100u | (layout.version == 12 ? 0x0C : layout.version >= 10 ? 0x0B : 0x09);
        put_u16(&h[0x58], version_word);
        put_u16(&h[0x5A], version_word);
        put_u16(&h[offset::kHighFieldId], static_cast<std::uint32_t>(count + 1));
        put_u16(&h[0x66], static_cast<std::uint32_t>(numbers_at - 0x58));
        put_u16(&h[offset::kCodePage], static_cast<std::uint32_t>(layout.code_page));
        if (layout.fixed_template.empty()) {
            h[0x6C] = 1;
            h[0x6D] = 1;
        }
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

}  // namespace engine
