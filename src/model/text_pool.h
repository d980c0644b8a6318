#pragma once
// Storage for entries and their texts. A conversion holds every row of a
// table in memory at once, five texts each, and frees them all together at
// the end; the general-purpose heap spends several hundred instructions per
// text on that, and rounds every block up. Here room comes from large
// blocks carved in order, and freed room goes onto a list of its size for
// the next one.
//
// Each thread has its own lists. Blocks are never given back: what a run
// frees, the same run takes again.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/words.h"

namespace model::text_pool {

// Room aligned for any object, in 8-byte size classes (entries).
void* allocate(std::size_t bytes);
void release(void* p, std::size_t bytes) noexcept;

// Room of exactly `bytes` bytes (at least a pointer's), with no alignment:
// the bytes of short texts, packed one after the other.
char* allocate_packed(std::size_t bytes);
void release_packed(char* p, std::size_t bytes) noexcept;

}  // namespace model::text_pool

// A text of an entry: 8-bit bytes ended by a zero byte. It reads as a
// std::string_view wherever one is taken; ToString makes a std::string of
// it.
//
// It is one pointer, to its bytes; the byte before them tells the rest:
// - 0 to 254: the text has that many bytes, in packed room of its own:
//   [size][bytes][0];
// - 255: the text is counted: a header before it holds its size and the
//   number of texts that share its bytes. Texts too long for the size byte
//   are counted, and so are those made by Shared, so that copies of them
//   take no room (a directory that thousands of rows name).
// An empty text points to a shared zero byte and owns nothing.
class Text {
public:
    Text() noexcept = default;
    explicit Text(std::string_view text) { assign(text); }
    Text(const Text& other) : data_(empty_bytes()) { *this = other; }
    Text(Text&& other) noexcept : data_(other.data_) { other.data_ = empty_bytes(); }
    Text& operator=(const Text& other) {
        if (other.counted()) {
            other.header()->refs.fetch_add(1, std::memory_order_relaxed);
            free();
            data_ = other.data_;
        } else {
            assign(other);
        }
        return *this;
    }
    Text& operator=(Text&& other) noexcept {
        if (this != &other) {
            free();
            data_ = other.data_;
            other.data_ = empty_bytes();
        }
        return *this;
    }
    Text& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    ~Text() { free(); }

    // A counted text of these bytes: its copies share them.
    static Text Shared(std::string_view text) {
        Text shared;
        if (!text.empty()) shared.data_ = make_counted(text);
        return shared;
    }

    // Becomes a copy of the bytes, which may lie in this text itself. A
    // text of the same size that shares its bytes with no other takes them
    // in place.
    void assign(std::string_view text) {
        if (!text.empty() && text.size() == size() && !shared()) {
            std::memmove(data_, text.data(), text.size());
            return;
        }
        char* bytes = empty_bytes();
        if (text.size() >= kCounted) {
            bytes = make_counted(text);
        } else if (!text.empty()) {
            bytes = model::text_pool::allocate_packed(packed_room(text.size())) + 1;
            bytes[-1] = static_cast<char>(text.size());
            platform::words::copy(bytes, text.data(), text.size());
            bytes[text.size()] = '\0';
        }
        free();
        data_ = bytes;
    }

    const char* data() const noexcept { return data_; }
    // The bytes to change in place: a text that shares them with others
    // first takes a copy of its own.
    char* data() {
        if (shared()) *this = Text(std::string_view(*this));
        return data_;
    }
    std::size_t size() const noexcept { return counted() ? header()->size : static_cast<unsigned char>(data_[-1]); }
    bool empty() const noexcept { return data_ == empty_bytes(); }
    operator std::string_view() const noexcept { return {data_, size()}; }
    friend bool operator==(const Text& a, std::string_view b) noexcept { return std::string_view(a) == b; }
    friend std::ostream& operator<<(std::ostream& out, const Text& text) { return out << std::string_view(text); }

private:
    // The size byte of a counted text; shorter texts are packed.
    static constexpr unsigned char kCounted = 255;

    // What lies before the bytes of a counted text, its mark last.
    struct Header {
        std::atomic<std::uint32_t> refs;
        std::uint32_t size;
        char unused[sizeof(void*) - 1];
        unsigned char mark;
    };

    // Size byte, bytes, zero; and never less than a free list's link.
    static std::size_t packed_room(std::size_t size) noexcept {
        return size + 2 < sizeof(void*) ? sizeof(void*) : size + 2;
    }
    bool counted() const noexcept { return static_cast<unsigned char>(data_[-1]) == kCounted; }
    Header* header() const noexcept { return reinterpret_cast<Header*>(data_ - sizeof(Header)); }
    bool shared() const noexcept { return counted() && header()->refs.load(std::memory_order_acquire) > 1; }

    static char* make_counted(std::string_view text);
    static void release_counted(Header* header) noexcept;

    void free() noexcept {
        if (data_ == empty_bytes()) return;
        if (counted()) {
            if (header()->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) release_counted(header());
        } else {
            model::text_pool::release_packed(data_ - 1, packed_room(size()));
        }
    }

    // The bytes of every empty text: a zero, after a size byte of 0, that
    // are never written. The room before them is a header's, so that
    // nothing outside it is ever within reach of an empty text.
    static char* empty_bytes() noexcept { return const_cast<char*>(kEmpty + sizeof(Header)); }
    alignas(Header) static constexpr char kEmpty[sizeof(Header) + 1] = {};

    char* data_ = empty_bytes();
};
static_assert(sizeof(Text) == sizeof(char*));

inline std::string ToString(const Text& text) { return std::string(text.data(), text.size()); }
