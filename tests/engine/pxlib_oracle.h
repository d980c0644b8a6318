#pragma once
// pxlib as an independent reader and writer of tables, to check ours
// against. Values are text as our engine renders them, so that rows can be
// compared directly; alpha values are raw bytes of the table's code page.

#include <cstdint>
#include <string>
#include <vector>

namespace engine_test {

// pxlib's cipher and checksum: exported by libpx, not declared in its header.
extern "C" {
long px_passwd_checksum(const char* password);
void px_encrypt_db_block(unsigned char* src, unsigned char* dest, unsigned long encryption,
                         unsigned long blocksize, unsigned long blockno);
void px_decrypt_db_block(unsigned char* src, unsigned char* dest, unsigned long encryption,
                         unsigned long blocksize, unsigned long blockno);
}

struct OracleField {
    std::string name;
    char type;  // 'A' alpha, 'S' short, 'I' long, 'N' number, '$' money, 'D' date, 'L' logical,
                // 'M' memo (size: the leader; written to a .MB beside the table)
    int size;
};

using Row = std::vector<std::string>;  // "" is a blank value

struct OracleTable {
    std::vector<OracleField> fields;
    std::vector<Row> rows;
    long checksum = 0;
    int code_page = 0;
};

// Writes a table with pxlib (always level 7, unkeyed unless key_fields).
void pxlib_write(const std::string& path, const std::vector<OracleField>& fields,
                 const std::vector<Row>& rows, const std::string& password = "",
                 int key_fields = 0);

// pxlib labels every table it writes "ANSIINTL" over code page 1252. This
// gives the table another language driver's label where the old engine
// keeps it: the sort-order byte at 0x29, the code page at 0x6A and the id
// string (at most 8 characters) where the word at 0x6E points.
void relabel(const std::string& path, std::uint8_t sort_order, const std::string& id, int code_page);

// Reads a table with pxlib, opened read-only.
OracleTable pxlib_read(const std::string& path, const std::string& password = "");

// A .PX as pxlib reads it (PX_read_primary_index): its entries in chain
// order, and whether pxlib accepts it for the table (PX_add_primary_index);
// if so, the table's rows read through it.
struct OracleIndexEntry {
    int block;     // the block the entry points to
    int count;     // the rows under it
    int in_block;  // the index block holding the entry
    int level;     // pxlib's level: 2 for the first block's entries, 1 for all others
};
struct OracleIndex {
    bool read = false;
    bool accepted = false;
    std::vector<OracleIndexEntry> entries;
    std::vector<Row> rows;  // read through the index when accepted
};
OracleIndex pxlib_read_index(const std::string& table_path, const std::string& index_path,
                             const std::string& password = "");

}  // namespace engine_test
