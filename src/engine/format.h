#pragma once
// The .DB file header: what it says, checked against itself and the file's
// size before anything else trusts it; and the building of new headers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// Field type codes as stored in the field table.
enum FieldType : std::uint8_t {
    kAlpha = 0x01,
    kDate = 0x02,
    kShort = 0x03,
    kLong = 0x04,
    kMoney = 0x05,
    kNumber = 0x06,
    kLogical = 0x09,
    kMemo = 0x0C,
    kBlob = 0x0D,
    kFormattedMemo = 0x0E,
    kOle = 0x0F,
    kGraphic = 0x10,
    kTime = 0x14,
    kTimestamp = 0x15,
    kAutoIncrement = 0x16,
    kBcd = 0x17,
    kBytes = 0x18,
};

// File types at offset 4.
constexpr std::uint8_t kKeyedTable = 0;
constexpr std::uint8_t kPrimaryIndex = 1;
constexpr std::uint8_t kUnkeyedTable = 2;

constexpr std::size_t kBlockHeaderSize = 6;
// The block header (pxlib's doc/pxformat.txt): the next and previous block
// of the chain and the bytes of records past the first (negative: none).
namespace block_header {
constexpr std::size_t kNext = 0;
constexpr std::size_t kPrevious = 2;
constexpr std::size_t kAddedDataSize = 4;
}  // namespace block_header
// Block numbers are 16-bit (pxlib's doc/pxformat.txt); blocks come in units
// of 1 KB (the header's block size byte counts them) up to 32 KB.
constexpr std::uint32_t kMaxFileBlocks = 0xFFFF;
constexpr std::size_t kBlockSizeUnit = 1024;
constexpr std::size_t kMaxBlockSize = 32 * kBlockSizeUnit;
// Encryption 1 (0x25) of every level 4+ table, encrypted or not (seen in
// tables the old engine wrote); the checksum is then at 0x5C.
constexpr std::uint32_t kLevel4Encryption = 0xFF00FF00;

// Header offsets used by more than one place (pxlib's doc/pxformat.txt; the
// level 4 ones also seen in tables the old engine wrote).
namespace offset {
constexpr std::size_t kRecordSize = 0x00;
constexpr std::size_t kHeaderSize = 0x02;
constexpr std::size_t kFileType = 0x04;
constexpr std::size_t kBlockSize = 0x05;
constexpr std::size_t kRecords = 0x06;
constexpr std::size_t kNextBlock = 0x0A;
constexpr std::size_t kFileBlocks = 0x0C;
constexpr std::size_t kFirstBlock = 0x0E;
constexpr std::size_t kLastBlock = 0x10;
constexpr std::size_t kChangeCount = 0x12;
constexpr std::size_t kModified1 = 0x14;
constexpr std::size_t kIndexRoot = 0x1E;
constexpr std::size_t kIndexLevels = 0x20;
constexpr std::size_t kFieldCount = 0x21;
constexpr std::size_t kKeyFields = 0x23;
constexpr std::size_t kEncryption1 = 0x25;
constexpr std::size_t kSortOrder = 0x29;
constexpr std::size_t kModified2 = 0x2A;
constexpr std::size_t kWriteProtected = 0x38;
constexpr std::size_t kVersion = 0x39;
constexpr std::size_t kMaxBlocks = 0x3A;
constexpr std::size_t kAutoIncrement = 0x49;
constexpr std::size_t kFirstFreeBlock = 0x4D;
constexpr std::size_t kRealHeaderSize = 0x51;
constexpr std::size_t kLevel3FieldTable = 0x58;
constexpr std::size_t kEncryption2 = 0x5C;
constexpr std::size_t kHighFieldId = 0x64;
constexpr std::size_t kCodePage = 0x6A;
constexpr std::size_t kLevel4FieldTable = 0x78;
}  // namespace offset

struct FieldDef {
    std::uint8_t type = kAlpha;
    std::uint8_t size_code = 0;  // the stored size byte (BCD: digits after the point)
    std::size_t width = 0;       // bytes in the record
    std::size_t offset = 0;      // from the start of the record
    std::string name;            // in the table's code page
};

// Width of a field in the record, or 0 when the type/size pair is invalid.
std::size_t field_width(std::uint8_t type, std::uint8_t size_code);
bool is_blob_type(std::uint8_t type);

struct TableHeader {
    std::string file;                 // the path, for messages
    std::vector<std::uint8_t> bytes;  // the header as stored (header_size bytes)

    std::size_t record_size = 0;
    std::size_t header_size = 0;
    std::uint8_t file_type = 0;
    std::size_t block_size = 0;
    std::uint32_t records = 0;
    std::uint32_t file_blocks = 0;
    std::uint32_t first_block = 0;
    std::uint32_t last_block = 0;
    std::size_t key_fields = 0;
    std::uint32_t checksum = 0;       // 0: not encrypted
    std::uint8_t sort_order = 0;
    std::uint8_t version = 0;         // the version byte at 0x39
    std::uint32_t auto_increment = 0;
    int code_page = 0;                // level 4+, as stored (0 included); 0 before
    std::string table_name;           // as stored in the header
    std::string sort_order_id;        // level 4+ only; empty when none can be read
    std::vector<FieldDef> fields;
    std::size_t names_end = 0;        // the offset right after the last field name
    std::vector<std::uint16_t> field_ids;  // level 4+: the persistent ID of each field
    std::uint32_t high_field_id = 0;  // level 4+: the word at 0x64

    bool keyed() const { return file_type == kKeyedTable; }
    bool encrypted() const { return checksum != 0; }
    bool level4() const { return version >= 5; }
    std::size_t table_name_length() const { return version >= 12 ? 261 : 79; }
    std::size_t records_per_block() const { return (block_size - kBlockHeaderSize) / record_size; }
    std::uint64_t block_offset(std::uint32_t number) const {
        return header_size + static_cast<std::uint64_t>(number - 1) * block_size;
    }
    // Copies the counters (records, blocks, auto-increment) into `bytes`.
    void store_counters();
};

// Parses and validates the header of a .DB file. `bytes` holds at least the
// first min(file size, header size) bytes of the file (more is ignored).
// Throws Exception naming the file and what is wrong.
TableHeader parse_table_header(const std::string& file, const std::vector<std::uint8_t>& bytes,
                               std::uint64_t file_size);

// What a new header is made of.
struct HeaderLayout {
    std::uint8_t file_type = kUnkeyedTable;
    std::uint8_t version = 12;
    std::size_t block_size = 2048;
    std::size_t key_fields = 0;
    std::vector<FieldDef> fields;     // type, size_code and name; widths are computed
    int code_page = 1252;
    std::uint8_t sort_order = 0;
    std::string sort_order_id = "ascii";
    std::uint32_t checksum = 0;
    std::string table_name;
    std::uint32_t auto_increment = 0;
};

// Builds a new, empty table's header (no records, no blocks).
std::vector<std::uint8_t> build_table_header(const HeaderLayout& layout);

// The header of table `old` with the `added` fields (type, size_code and
// name) after its own, in blocks of `block_size` bytes, with no rows and no
// blocks yet; everything else as `old` has it (the table in format.cpp says
// what changes). Throws Exception, before anything is written, when the old
// header is not laid out as the old engine lays it out.
std::vector<std::uint8_t> header_with_added_fields(const TableHeader& old, const std::vector<FieldDef>& added,
                                                   std::size_t block_size);

}  // namespace engine
