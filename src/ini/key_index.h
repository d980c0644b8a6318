#pragma once
// The index of a section's keys: open addressing over the line numbers of
// the key lines, hashed over the folded key (name_folding.h). The first of
// duplicate keys is the one indexed. The caller decides what matches: the
// index holds line numbers and hashes only, never the names.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/words.h"

namespace ini {

class KeyIndex {
public:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    struct Slot {
        std::uint32_t line = kEmpty;
        std::uint32_t hash = 0;
    };

    // Room for `count` keys in all without growing.
    void reserve(std::size_t count);

    // Fetches the key's slot into the cache ahead of a find.
    void prefetch(std::uint32_t hash) const {
        if (!slots_.empty()) platform::words::prefetch(&slots_[hash & (slots_.size() - 1)]);
    }

    // The slot of the line whose hash is `hash` and for which matches(line)
    // holds; null when there is none.
    template <class Matches>
    Slot* find(std::uint32_t hash, Matches matches) {
        if (slots_.empty()) return nullptr;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.line == kEmpty) return nullptr;
            if (slot.hash == hash && matches(slot.line)) return &slot;
        }
    }

    // The key must not be indexed yet.
    void insert(std::uint32_t hash, std::uint32_t line) {
        if (2 * (count_ + 1) > slots_.size()) rebuild(slots_.empty() ? 8 : 2 * slots_.size());
        place(Slot{line, hash});
        ++count_;
    }

    // Removes a slot that find returned.
    void erase(Slot* slot);

    // Empties the index and gives its memory back.
    void release();

private:
    void place(Slot slot) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = slot.hash & mask;
        while (slots_[i].line != kEmpty) i = (i + 1) & mask;
        slots_[i] = slot;
    }

    void rebuild(std::size_t capacity);

    std::vector<Slot> slots_;  // a power of two in size, at most half full
    std::size_t count_ = 0;
};

}  // namespace ini
