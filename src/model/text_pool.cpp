#include "model/text_pool.h"

#include <array>
#include <cstdint>

namespace model::text_pool {
namespace {

// Sizes are rounded up to 8 bytes, the alignment of an entry; texts longer
// than the largest class go to the heap.
constexpr std::size_t kGrain = 8;
constexpr std::size_t kLargest = 512;
constexpr std::size_t kClasses = kLargest / kGrain;
constexpr std::size_t kBlock = 256 * 1024;

struct FreeText {
    FreeText* next;
};

struct Pool {
    std::array<FreeText*, kClasses + 1> free{};
    char* next = nullptr;
    char* end = nullptr;
    // The blocks stay reachable from here: each starts with a pointer to the
    // one before it.
    void* blocks = nullptr;

    void* carve(std::size_t size) {
        if (static_cast<std::size_t>(end - next) < size) {
            char* block = static_cast<char*>(::operator new(kBlock));
            *reinterpret_cast<void**>(block) = blocks;
            blocks = block;
            next = block + kGrain;
            end = block + kBlock;
        }
        void* result = next;
        next += size;
        return result;
    }
};

// Never torn down (it is trivially destructible), so a text freed late in
// the thread's life still finds it.
thread_local constinit Pool pool;

constexpr std::size_t size_class(std::size_t bytes) { return (bytes + kGrain - 1) / kGrain; }

}  // namespace

// Under the address sanitizer every text is its own heap block, so that the
// sanitizer still sees each one's bounds and lifetime.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif

void* allocate(std::size_t bytes) {
    if (!kPooled || bytes > kLargest) return ::operator new(bytes);
    const std::size_t c = size_class(bytes == 0 ? 1 : bytes);
    if (FreeText* text = pool.free[c]) {
        pool.free[c] = text->next;
        return text;
    }
    return pool.carve(c * kGrain);
}

void release(void* p, std::size_t bytes) noexcept {
    if (!kPooled || bytes > kLargest) {
        ::operator delete(p);
        return;
    }
    const std::size_t c = size_class(bytes == 0 ? 1 : bytes);
    auto* text = static_cast<FreeText*>(p);
    text->next = pool.free[c];
    pool.free[c] = text;
}

}  // namespace model::text_pool
