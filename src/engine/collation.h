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
    // The order of the table's language driver. Throws Exception when it is
    // not one the engine can keep (byte order "ascii", the Cyrillic orders
    // "ancyrr" of code page 1251 and "cyrr" of code page 866).
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
