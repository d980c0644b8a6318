#pragma once
// The .PX primary index of a keyed table: one entry per data block (its
// first key, its number, its record count), in as many levels as the
// entries need, each upper level holding the first key of every block
// below it and the sum of its counts; laid out as the old engine lays out
// an index it rebuilds (primary_index.cpp).

#include "engine/format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// The header of a .PX the Windows engine writes (seen in the indexes of
// tables the old engine wrote).
constexpr std::size_t kIndexHeaderSize = 0x800;

struct IndexEntry {
    const std::uint8_t* first_record = nullptr;  // the key fields are read from it
    std::uint32_t block = 0;
    std::uint32_t count = 0;
};

// The whole .PX file for the table's blocks. `previous` is the current .PX
// file's bytes (empty when there is none): its header's unknown bytes and
// block size are kept.
std::vector<std::uint8_t> build_primary_index(const TableHeader& table,
                                              const std::vector<IndexEntry>& entries,
                                              const std::vector<std::uint8_t>& previous);

}  // namespace engine
