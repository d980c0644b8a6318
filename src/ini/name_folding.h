#pragma once
// How section names and keys are matched: trimmed, then upper-cased the way
// platform::upper_case does it (over the whole ANSI code page; a double-byte
// character stays as it is). This is the one folding of names: the document
// hashes, compares and stores names only through it. It folds by a table
// filled once from the platform's upper_case_byte, so a name costs one look-up
// per byte and no call.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/words.h"

namespace ini {

struct Folding {
    std::array<unsigned char, 256> upper{};
    std::array<bool, 256> lead{};
    bool any_lead = false;
    // True when the ASCII bytes fold as ASCII does: "a" to "z" to their
    // capitals, every other one to itself.
    bool ascii_plain = false;
};

namespace detail {

// The ASCII half of `upper` and the lead bytes, made on first use.
Folding make_folding();
inline Folding& folding_table() {
    static Folding table = make_folding();
    return table;
}

// Set once the half of `upper` beyond ASCII is filled.
inline std::atomic<bool> beyond_ascii_filled{false};
void fill_beyond_ascii();

}  // namespace detail

// The table of the process's ANSI code page, for the bytes of the given
// names. The half beyond ASCII is filled when a name first holds such a
// byte: on Windows, upper-casing those bytes loads user32.dll, which a run
// over ASCII names and paths then never needs.
inline const Folding& folding_for(std::string_view name) {
    if (!detail::beyond_ascii_filled.load(std::memory_order_acquire) && !platform::words::is_ascii(name))
        detail::fill_beyond_ascii();
    return detail::folding_table();
}
inline const Folding& folding_for(std::string_view a, std::string_view b) {
    folding_for(a);
    return folding_for(b);
}

// Calls `out` with each byte of the upper-cased name (not trimmed).
template <class Out>
void for_each_folded(std::string_view name, Out out) {
    const Folding& f = folding_for(name);
    if (!f.any_lead) {
        for (const char c : name) out(f.upper[static_cast<unsigned char>(c)]);
        return;
    }
    bool trail = false;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        out(trail || f.lead[b] ? b : f.upper[b]);
        trail = !trail && f.lead[b];
    }
}

// The name trimmed and upper-cased: the form in which names are matched.
std::string fold(std::string_view name);

// A hash of the upper-cased name (not trimmed): equal for names that
// equal_folded finds equal.
inline std::uint32_t folded_hash(std::string_view name) {
    std::uint32_t h = 2166136261u;
    for_each_folded(name, [&h](unsigned char b) { h = (h ^ b) * 16777619u; });
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// True when the two names are equal once upper-cased (neither is trimmed).
inline bool equal_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const Folding& f = folding_for(a, b);
    if (!f.any_lead) {
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (f.upper[static_cast<unsigned char>(a[i])] != f.upper[static_cast<unsigned char>(b[i])])
                return false;
        }
        return true;
    }
    bool trail_a = false;
    bool trail_b = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        const unsigned char fx = trail_a || f.lead[x] ? x : f.upper[x];
        const unsigned char fy = trail_b || f.lead[y] ? y : f.upper[y];
        if (fx != fy) return false;
        trail_a = !trail_a && f.lead[x];
        trail_b = !trail_b && f.lead[y];
    }
    return true;
}

}  // namespace ini
