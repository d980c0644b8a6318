#pragma once
// Little helpers for the byte layouts of table files: headers are
// little-endian; values inside records are big-endian.

#include <cstddef>
#include <cstdint>

namespace engine {

inline std::uint16_t get_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put_u16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u32(std::uint8_t* p, std::uint32_t v) {
    put_u16(p, v);
    put_u16(p + 2, v >> 16);
}

// The "modified big-endian" short of index records: big-endian with the
// sign bit flipped.
inline std::uint16_t get_index_short(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(((p[0] ^ 0x80) << 8) | p[1]);
}
inline void put_index_short(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(((v >> 8) & 0xFF) ^ 0x80);
    p[1] = static_cast<std::uint8_t>(v & 0xFF);
}

}  // namespace engine
