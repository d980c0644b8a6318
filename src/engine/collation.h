#pragma once
// Key order of a table: how its alpha key values compare. Numbers, dates and
// the other stored types sort by their bytes (the format stores them so).

#include "engine/format.h"

#include <array>
#include <cstdint>
#include <string>

namespace engine {

class Collation {
public:
    // Throws Exception when the table's sort order is not one the engine
    // can keep (byte order, the Cyrillic orders of code pages 1251 and 866).
    static Collation for_table(const TableHeader& header);

    // Compares the key fields of two records: <0, 0, >0.
    int compare_keys(const TableHeader& header, const std::uint8_t* a, const std::uint8_t* b) const;
    int compare_text(const std::uint8_t* a, const std::uint8_t* b, std::size_t width) const;

private:
    bool byte_order_ = true;
    std::array<std::uint8_t, 256> primary_{};
    std::array<std::uint8_t, 256> secondary_{};
};

}  // namespace engine
