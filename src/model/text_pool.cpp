#include "model/text_pool.h"

#include "platform/per_thread.h"

#include <array>
#include <cstdint>
#include <new>
#include <stdexcept>

namespace model::text_pool {
namespace {

constexpr std::size_t kBlock = 256 * 1024;

struct FreeRoom {
    FreeRoom* next;
};

// Room carved in order from blocks, and lists of freed room by size class:
// `Grain` bytes a class, up to `Largest`; larger room is the heap's.
template <std::size_t Grain, std::size_t Largest>
struct Pool {
    static constexpr std::size_t kLargest = Largest;
    static constexpr std::size_t kClasses = Largest / Grain;

    std::array<char*, kClasses + 1> free{};
    char* next = nullptr;
    char* end = nullptr;
    // The blocks stay reachable from here: each starts with a pointer to the
    // one before it.
    void* blocks = nullptr;

    static constexpr std::size_t size_class(std::size_t bytes) { return (bytes + Grain - 1) / Grain; }

    char* carve(std::size_t size) {
        if (static_cast<std::size_t>(end - next) < size) {
            char* block = static_cast<char*>(::operator new(kBlock));
            *reinterpret_cast<void**>(block) = blocks;
            blocks = block;
            next = block + sizeof(void*);
            end = block + kBlock;
        }
        char* result = next;
        next += size;
        return result;
    }

    // A freed room holds the link to the next one of its class. Packed
    // room has no alignment, so the link is copied, not cast.
    char* take(std::size_t bytes) {
        const std::size_t c = size_class(bytes);
        if (char* room = free[c]) {
            std::memcpy(&free[c], room, sizeof(char*));
            return room;
        }
        return carve(c * Grain);
    }
    void give_back(char* room, std::size_t bytes) noexcept {
        const std::size_t c = size_class(bytes);
        std::memcpy(room, &free[c], sizeof(char*));
        free[c] = room;
    }
};

// Entries: sizes rounded up to 8 bytes, their alignment.
using AlignedPool = Pool<8, 512>;
// Texts: exact sizes, a size byte and a zero around up to 254 bytes.
using PackedPool = Pool<1, 256>;

// A thread's pools. Never torn down (they are trivially destructible), so
// that room freed late in the thread's life still finds them.
struct AlignedPoolOfThread : AlignedPool {};
struct PackedPoolOfThread : PackedPool {};
AlignedPool& aligned() { return platform::per_thread<AlignedPoolOfThread>(); }
PackedPool& packed() { return platform::per_thread<PackedPoolOfThread>(); }

// Under the address sanitizer all room is a heap block of its own, so that
// the sanitizer still sees each one's bounds and lifetime.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif

template <class P>
char* take_from(P& pool, std::size_t bytes) {
    if (!kPooled || bytes > P::kLargest) return static_cast<char*>(::operator new(bytes));
    return pool.take(bytes);
}

template <class P>
void give_to(P& pool, char* room, std::size_t bytes) noexcept {
    if (!kPooled || bytes > P::kLargest) {
        ::operator delete(room);
        return;
    }
    pool.give_back(room, bytes);
}

}  // namespace

void* allocate(std::size_t bytes) { return take_from(aligned(), bytes == 0 ? 1 : bytes); }

void release(void* p, std::size_t bytes) noexcept { give_to(aligned(), static_cast<char*>(p), bytes == 0 ? 1 : bytes); }

char* allocate_packed(std::size_t bytes) { return take_from(packed(), bytes); }

void release_packed(char* p, std::size_t bytes) noexcept { give_to(packed(), p, bytes); }

}  // namespace model::text_pool

char* Text::make_counted(std::string_view text) {
    if (text.size() > UINT32_MAX - sizeof(Header) - 1) throw std::length_error("a text of more than 4 GB");
    void* block = ::operator new(sizeof(Header) + text.size() + 1);
    auto* header = new (block) Header{{1}, static_cast<std::uint32_t>(text.size()), {}, kCounted};
    char* bytes = reinterpret_cast<char*>(header + 1);
    std::memcpy(bytes, text.data(), text.size());
    bytes[text.size()] = '\0';
    return bytes;
}

void Text::release_counted(Header* header) noexcept {
    header->~Header();
    ::operator delete(header);
}
