#pragma once
// Eight bytes of a text looked at together, for the searches that every row
// of a table passes through: finding a byte, and telling small ASCII letters;
// and the short copies and cache hints of the same loops.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

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

// The capital of a small ASCII letter, and any other byte as it is.
constexpr unsigned char upper_ascii(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// Where the first flagged byte of a non-zero result lies in memory, on a
// little-endian machine.
inline std::size_t first_flagged(std::uint64_t flags) { return static_cast<std::size_t>(std::countr_zero(flags)) / 8; }

// Where the first `a` or `b` lies in text[from, size), or size. Eight bytes
// at a time on little-endian machines; byte by byte elsewhere.
inline std::size_t find_either(const char* text, std::size_t from, std::size_t size, unsigned char a,
                               unsigned char b) {
    std::size_t i = from;
    if constexpr (kLittleEndian) {
        for (; i + 8 <= size; i += 8) {
            const std::uint64_t word = load(text + i);
            const std::uint64_t found = flag_byte(word, a) | flag_byte(word, b);
            if (found != 0) return i + first_flagged(found);
        }
    }
    for (; i < size; ++i)
        if (static_cast<unsigned char>(text[i]) == a || static_cast<unsigned char>(text[i]) == b) return i;
    return size;
}

// True when no byte of the text is 0x80 or more: ASCII, which every ANSI
// and OEM code page holds alike. Eight bytes at a time.
inline bool is_ascii(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8)
        if ((load(text.data() + i) & kHigh) != 0) return false;
    for (; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    return true;
}

// Copies n bytes to where they do not overlap. Up to 32 bytes in pieces of
// a fixed size, which the compiler makes moves of registers; a call into
// the C runtime costs more than such a copy (under Wine, several times
// more), and the texts of a row are mostly that short.
inline void copy(char* out, const char* in, std::size_t n) {
    const auto twice = [out, in, n](auto piece) {
        decltype(piece) first;
        decltype(piece) last;
        std::memcpy(&first, in, sizeof first);
        std::memcpy(&last, in + n - sizeof last, sizeof last);
        std::memcpy(out, &first, sizeof first);
        std::memcpy(out + n - sizeof last, &last, sizeof last);
    };
    struct Sixteen {
        std::uint64_t low, high;
    };
    if (n > 32) {
        std::memcpy(out, in, n);
    } else if (n >= 16) {
        twice(Sixteen{});
    } else if (n >= 8) {
        twice(std::uint64_t{});
    } else if (n >= 4) {
        twice(std::uint32_t{});
    } else if (n >= 2) {
        twice(std::uint16_t{});
    } else if (n == 1) {
        *out = *in;
    }
}

// Asks for the cache line holding `address` ahead of its use, where the
// compiler can; a hint only.
inline void prefetch(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

}  // namespace platform::words
