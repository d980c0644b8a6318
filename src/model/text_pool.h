#pragma once
// Storage for the texts of entries. A conversion holds every row of a table
// in memory at once, three to five texts each, and frees them all together
// at the end; the general-purpose heap spends several hundred instructions
// per text on that. Here a text's bytes come from large blocks carved in
// order, and a freed text goes onto a list of its size for the next one.
//
// Each thread has its own lists. Blocks are never given back: what a run
// frees, the same run takes again.

#include <cstddef>
#include <new>
#include <string>
#include <string_view>

namespace model::text_pool {

void* allocate(std::size_t bytes);
void release(void* p, std::size_t bytes) noexcept;

}  // namespace model::text_pool

namespace model {

template <class T>
struct TextAllocator {
    using value_type = T;
    TextAllocator() noexcept = default;
    template <class U>
    TextAllocator(const TextAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(text_pool::allocate(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { text_pool::release(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const TextAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace model

// A text of an entry: a std::string whose bytes live in the pool. It reads
// as a std::string_view wherever one is taken.
using Text = std::basic_string<char, std::char_traits<char>, model::TextAllocator<char>>;

inline std::string ToString(const Text& text) { return std::string(text.data(), text.size()); }

namespace model {
// Found by argument-dependent lookup, through the allocator's namespace.
inline bool operator==(const Text& a, const std::string& b) { return std::string_view(a) == std::string_view(b); }
}  // namespace model
