#include "engine/restructure.h"

#include "engine/bytes.h"
#include "engine/cipher.h"
#include "engine/format.h"
#include "engine/language_driver.h"
#include "engine/primary_index.h"
#include "engine/replace.h"
#include "engine/table_file.h"
#include "engine/table_guard.h"
#include "engine/validity_file.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "platform/text.h"

#include <cstring>

namespace engine {
namespace {

// Opens a table for a rewrite under its exclusive lock, which the rewrite
// holds until the new content is in place (locking recovers an interrupted
// change); checks the password and that the table may be changed at all.
std::unique_ptr<TableFile> open_for_rewrite(const std::string& path) {
    if (platform::file_system().kind(path) != platform::FileKind::file)
        throw Exception("Table " + path + " does not exist", ErrorKind::not_found);
    // Opening for writing proves the table file is not read-only (the lock
    // says so); the folder is proven writable when the journal is created,
    // before anything is written.
    std::unique_ptr<TableFile> file = std::make_unique<TableFile>(path, true);
    check_may_change(path, file->header());
    return file;
}

// The header of the current .PX (empty when there is none): what of it the
// new index keeps. Read through the table's lock, which holds the .PX open
// for the rewrite.
std::vector<std::uint8_t> previous_index_header(TableFile& table, const std::string& px_path) {
    platform::File* px = table.lock().file(px_path);
    if (px == nullptr) return {};
    std::vector<std::uint8_t> bytes(kIndexHeaderSize, 0);
    bytes.resize(px->read_at(0, bytes.data(), bytes.size()));
    return bytes;
}

std::vector<std::uint8_t> whole_file(const std::string& path) {
    const std::string text = platform::read_whole_file(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Proves, before anything is written, that every existing file the rewrite
// replaces opens for writing, so that a read-only table or companion is
// refused with nothing changed. (A read-only folder is refused by the
// replacement's first step, which creates a file there before any file of
// the table changes.)
void check_writable(TableFile& table, const std::string& table_path, const std::vector<NewFile>& files) {
    // Every file opens under the table's exclusive lock, for reading and
    // writing, before anything is written; the replacement goes on through
    // the same handles.
    for (const NewFile& f : files) {
        try {
            table.lock().file(f.target);
        } catch (const Exception& e) {
            if (e.Kind() != ErrorKind::permission) throw;
            throw Exception("Table " + table_path + " cannot be changed: " + f.target +
                                " cannot be written (read-only?): " + e.Message(),
                            e.Kind(), e.Reason());
        }
    }
}

}  // namespace

void add_alpha_column(const std::string& path, const std::string& column, int width) {
    auto file = open_for_rewrite(path);
    const TableHeader& old = file->header();
    if (width < 1 || width > 255)
        throw Exception("Column width " + std::to_string(width) + " is out of range (1 to 255)");
    if (old.fields.size() >= 255) throw Exception("Table " + path + " already has 255 columns");
    const LanguageDriver driver = LanguageDriver::identify(old);
    for (const FieldDef& f : old.fields)
        if (platform::equal_ignoring_case(driver.read(f.name), column))
            throw Exception("Table " + path + " already has a column " + column);
    const std::string name = driver.write(column, "The name of the new column " + column + " of table " + path);

    FieldDef added;
    added.type = kAlpha;
    added.size_code = static_cast<std::uint8_t>(width);
    added.name = name;
    const std::size_t record_size = old.record_size + static_cast<std::size_t>(width);
    std::size_t block_size = old.block_size;
    while (block_size - kBlockHeaderSize < record_size) block_size += kBlockSizeUnit;
    if (block_size > kMaxBlockSize) throw Exception("The record of table " + path + " would be too large");

    std::vector<std::uint8_t> header_bytes = header_with_added_fields(old, {added}, block_size);
    TableHeader fresh = parse_table_header(path, header_bytes, header_bytes.size());

    // A .VAL is brought in step before the rows are copied: one that cannot
    // be stops the restructure with nothing changed.
    std::vector<NewFile> companions;
    const std::string val_path = companion_path(path, "VAL");
    if (platform::file_system().kind(val_path) != platform::FileKind::missing)
        companions.push_back({val_path, validity_file_for(val_path, whole_file(val_path), old, fresh)});

    // Copy the rows in chain order into packed blocks (the old engine packs
    // the blocks of a table it restructures: seen in such tables). The walk
    // refuses a chain that does not hold the rows its header counts, before
    // anything is written.
    const std::size_t per_block = fresh.records_per_block();
    std::vector<std::uint8_t> out = header_bytes;
    out.reserve(header_bytes.size() +
                (old.records / per_block + 2) * fresh.block_size);
    platform::expect_large_block(out.data(), out.capacity());
    std::uint32_t blocks = 0;
    std::uint32_t records = 0;
    std::size_t in_block = 0;
    auto block_at = [&](std::uint32_t number) {
        return out.data() + fresh.header_size + (number - 1) * fresh.block_size;
    };
    ChainWalker walker(*file);
    while (walker.advance()) {
        for (std::size_t r = 0; r < walker.info().count; ++r) {
            if (blocks == 0 || in_block == per_block) {
                ++blocks;
                if (blocks > kMaxFileBlocks) throw Exception("Table " + path + " would need too many blocks");
                out.resize(out.size() + fresh.block_size, 0);
                in_block = 0;
            }
            std::uint8_t* target = block_at(blocks) + kBlockHeaderSize + in_block * fresh.record_size;
            std::memcpy(target, walker.record(r), old.record_size);
            ++in_block;
            ++records;
        }
    }
    for (std::uint32_t b = 1; b <= blocks; ++b) {
        BlockInfo info;
        info.next = b < blocks ? b + 1 : 0;
        info.previous = b - 1;
        info.count = b < blocks ? per_block : in_block;
        store_block_info(fresh, block_at(b), info);
    }
    fresh.records = records;
    fresh.file_blocks = blocks;
    fresh.first_block = blocks > 0 ? 1 : 0;
    fresh.last_block = blocks;
    fresh.store_counters();
    put_u16(&fresh.bytes[offset::kFirstFreeBlock], 0);
    std::memcpy(out.data(), fresh.bytes.data(), fresh.bytes.size());

    std::vector<NewFile> files;
    files.push_back(NewFile{path, {}});
    if (fresh.keyed()) {
        std::vector<IndexEntry> entries;
        for (std::uint32_t b = 1; b <= blocks; ++b)
            entries.push_back({block_at(b) + kBlockHeaderSize, b,
                               static_cast<std::uint32_t>(b < blocks ? per_block : in_block)});
        const std::string px_path = companion_path(path, "PX");
        files.push_back({px_path, build_primary_index(fresh, entries, previous_index_header(*file, px_path))});
    }
    for (NewFile& f : companions) files.push_back(std::move(f));
    if (fresh.encrypted()) {
        cipher::BlockKeys keys(fresh.checksum);  // one key serves every 256th block
        for (std::uint32_t b = 1; b <= blocks; ++b) keys.for_block(b).encrypt(block_at(b), fresh.block_size);
    }
    files.front().bytes = std::move(out);
    check_writable(*file, path, files);
    replace_table_files(path, files);
}

void empty_table_file(const std::string& path) {
    auto file = open_for_rewrite(path);
    TableHeader h = file->header();
    h.records = 0;
    h.file_blocks = 0;
    h.first_block = 0;
    h.last_block = 0;
    h.store_counters();
    put_u16(&h.bytes[offset::kFirstFreeBlock], 0);
    std::vector<NewFile> files;
    files.push_back({path, h.bytes});
    if (h.keyed()) {
        const std::string px_path = companion_path(path, "PX");
        files.push_back({px_path, build_primary_index(h, {}, previous_index_header(*file, px_path))});
    }
    check_writable(*file, path, files);
    replace_table_files(path, files);
}

}  // namespace engine
