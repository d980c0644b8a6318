#pragma once
// Eight bytes of a text looked at together, for the searches that every row
// of a table passes through: finding a byte, and telling small ASCII letters.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform::words {

inline constexpr std::uint64_t kOnes = 0x0101010101010101u;
inline constexpr std::uint64_t kHigh = kOnes * 0x80;

// Whether the first byte of a text is the lowest of the word it is loaded
// into, which first_flagged needs.
inline constexpr bool kLittleEndian = std::endian::native == std::endian::little;

inline std::uint64_t load(const void* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    return word;
}

// Non-zero when a byte of the word is `byte`: the high bit of each such byte
// is set. Bytes after the first such one may be flagged wrongly; the first
// never is.
constexpr std::uint64_t flag_byte(std::uint64_t word, unsigned char byte) {
    const std::uint64_t x = word ^ (kOnes * byte);
    return (x - kOnes) & ~x & kHigh;
}

// The high bit of each byte from "a" to "z" set, in a word without bytes of
// 0x80 or more (exact: no carry crosses a byte).
constexpr std::uint64_t flag_ascii_lower(std::uint64_t word) {
    const std::uint64_t from_a = word + kOnes * (0x80 - 'a');      // high bit: at least "a"
    const std::uint64_t past_z = word + kOnes * (0x80 - 'z' - 1);  // high bit: past "z"
    return from_a & ~past_z & kHigh;
}

// Where the first flagged byte of a non-zero result lies in memory, on a
// little-endian machine.
inline std::size_t first_flagged(std::uint64_t flags) { return static_cast<std::size_t>(std::countr_zero(flags)) / 8; }

}  // namespace platform::words
