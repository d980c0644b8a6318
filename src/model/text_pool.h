#pragma once
// Storage for the texts of entries. A conversion holds every row of a table
// in memory at once, five texts each, and frees them all together at the
// end; the general-purpose heap spends several hundred instructions per
// text on that. Here a text's bytes come from large blocks carved in order,
// and a freed text goes onto a list of its size for the next one.
//
// Each thread has its own lists. Blocks are never given back: what a run
// frees, the same run takes again.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

namespace model::text_pool {

void* allocate(std::size_t bytes);
void release(void* p, std::size_t bytes) noexcept;

}  // namespace model::text_pool

// A text of an entry: 8-bit bytes ended by a zero byte, kept in the pool.
// It reads as a std::string_view wherever one is taken; ToString makes a
// std::string of it.
class Text {
public:
    Text() noexcept = default;
    explicit Text(std::string_view text) { assign(text); }
    Text(const Text& other) { assign(other); }
    Text(Text&& other) noexcept : data_(other.data_), size_(other.size_), room_(other.room_) { other.forget(); }
    Text& operator=(const Text& other) {
        assign(other);
        return *this;
    }
    Text& operator=(Text&& other) noexcept {
        if (this != &other) {
            free();
            data_ = other.data_;
            size_ = other.size_;
            room_ = other.room_;
            other.forget();
        }
        return *this;
    }
    Text& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    ~Text() { free(); }

    // Becomes a copy of the bytes, which may lie in this text itself.
    void assign(std::string_view text) {
        if (text.size() > room_) {
            Text grown;
            grown.reserve(text.size());
            grown.put(text);
            *this = std::move(grown);
            return;
        }
        if (room_ != 0) put(text);  // else both are empty
    }

    const char* data() const noexcept { return data_; }
    char* data() noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    operator std::string_view() const noexcept { return {data_, size_}; }

    friend bool operator==(const Text& a, std::string_view b) noexcept { return std::string_view(a) == b; }
    friend std::ostream& operator<<(std::ostream& out, const Text& text) { return out << std::string_view(text); }

private:
    void reserve(std::size_t size) {
        data_ = static_cast<char*>(model::text_pool::allocate(size + 1));
        room_ = static_cast<std::uint32_t>(size);
    }
    void put(std::string_view text) noexcept {
        if (!text.empty()) std::memmove(data_, text.data(), text.size());
        data_[text.size()] = '\0';
        size_ = static_cast<std::uint32_t>(text.size());
    }
    void free() noexcept {
        if (room_ != 0) model::text_pool::release(data_, std::size_t{room_} + 1);
    }
    void forget() noexcept {
        data_ = empty_bytes();
        size_ = 0;
        room_ = 0;
    }
    // The bytes of every text without room of its own: a zero byte that is
    // never written.
    static char* empty_bytes() noexcept {
        static char zero = '\0';
        return &zero;
    }

    char* data_ = empty_bytes();
    std::uint32_t size_ = 0;
    std::uint32_t room_ = 0;  // bytes it can hold before its zero; 0: none of its own
};

inline std::string ToString(const Text& text) { return std::string(text.data(), text.size()); }
