#pragma once
// Reading a .PX in tests, on its own from pxlib's doc/pxformat.txt: its
// shape (levels, blocks, the chain) and whether it describes its table.

#include <cstdint>
#include <string>
#include <vector>

namespace engine_test {

struct IndexShape {
    unsigned root = 0;
    unsigned depth = 0;                        // the header's number of levels
    std::vector<std::vector<unsigned>> levels;  // block numbers, root level first, in key order
    std::vector<std::vector<unsigned>> entries; // entries per block, the same way
    std::vector<unsigned> chain;               // block numbers from the first block along the links
    bool back_links = true;                    // every block names its predecessor in the chain
    unsigned per_block = 0;                    // entries that fit a block
};

IndexShape index_shape(const std::string& px);

// Checks the .PX against the .DB: one leaf entry per data block in chain
// order, holding the block's first key and its record count; upper levels
// sum their children.
void expect_index_matches(const std::string& db_path, const std::string& px_path);

}  // namespace engine_test
