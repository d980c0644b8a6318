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
//
// It is a pointer and a 32-bit size, packed into 12 bytes (an entry holds
// five: 60 bytes rather than 80). Its room is not stored: a text of n bytes
// always has capacity(n) bytes, so a new text of the same capacity is
// copied in place, and any other is given new room. An empty text points to
// a shared zero byte and owns nothing.
#pragma pack(push, 4)
class Text {
public:
    Text() noexcept = default;
    explicit Text(std::string_view text) { assign(text); }
    Text(const Text& other) { assign(other); }
    Text(Text&& other) noexcept : data_(other.data_), size_(other.size_) { other.forget(); }
    Text& operator=(const Text& other) {
        assign(other);
        return *this;
    }
    Text& operator=(Text&& other) noexcept {
        if (this != &other) {
            free();
            data_ = other.data_;
            size_ = other.size_;
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
        if (size_ != 0 && capacity(text.size()) == capacity(size_)) {
            put(text);
            return;
        }
        char* bytes = empty_bytes();
        if (!text.empty()) {
            bytes = static_cast<char*>(model::text_pool::allocate(capacity(text.size())));
            std::memcpy(bytes, text.data(), text.size());
            bytes[text.size()] = '\0';
        }
        free();
        data_ = bytes;
        size_ = static_cast<std::uint32_t>(text.size());
    }

    const char* data() const noexcept { return data_; }
    char* data() noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    operator std::string_view() const noexcept { return {data_, size_}; }
    friend bool operator==(const Text& a, std::string_view b) noexcept { return std::string_view(a) == b; }
    friend std::ostream& operator<<(std::ostream& out, const Text& text) { return out << std::string_view(text); }

private:
    // The bytes a text of `size` bytes has, its zero included: whole 8-byte
    // grains of the pool. An empty text has none.
    static std::size_t capacity(std::size_t size) noexcept { return size == 0 ? 0 : (size + 8) & ~std::size_t{7}; }
    void put(std::string_view text) noexcept {
        std::memmove(data_, text.data(), text.size());
        data_[text.size()] = '\0';
        size_ = static_cast<std::uint32_t>(text.size());
    }
    void free() noexcept {
        if (size_ != 0) model::text_pool::release(data_, capacity(size_));
    }
    void forget() noexcept {
        data_ = empty_bytes();
        size_ = 0;
    }
    // The bytes of every empty text: a zero byte that is never written.
    static char* empty_bytes() noexcept {
        static char zero = '\0';
        return &zero;
    }

    char* data_ = empty_bytes();
    std::uint32_t size_ = 0;
};
#pragma pack(pop)
static_assert(sizeof(Text) == sizeof(char*) + sizeof(std::uint32_t));

inline std::string ToString(const Text& text) { return std::string(text.data(), text.size()); }
