#pragma once
// One object of a type per thread, made on the thread's first use: room that
// code run for every row keeps from one call to the next. Each use needs a
// type of its own, as the object is found by its type.
//
// On POSIX this is the compiler's thread-local storage. The compiler of the
// Windows build (mingw-w64's GCC) only emulates that: each access is a call
// that asks the system for the thread's block through TlsGetValue, saving
// and restoring the thread's last error around it, three calls into the
// system. Under Wine a conversion spent more time there than in many of its
// own steps. On Windows the object is therefore kept in a slot of the
// system's thread-local storage, read from the thread's environment block
// where TlsGetValue reads it.
//
// An object that is not trivially destructible is destroyed when its thread
// ends. One that is (the text pools) never is, so that room freed late in
// the thread's life still finds its pool. A destructor of one may therefore
// ask for trivially destructible objects only.

#include <cstdint>
#include <memory>
#include <type_traits>

#if defined(_WIN32)
#include <intrin.h>
#endif

namespace platform {

#if defined(_WIN32)

namespace thread_slots {

// TlsAlloc; throws an Exception when the system has no slot left.
std::uint32_t allocate();
// TlsGetValue; TlsSetValue, which throws an Exception when it fails, or
// clears a slot (nothing to fail on).
void* value_of(std::uint32_t slot);
void set(std::uint32_t slot, void* value);
void clear(std::uint32_t slot) noexcept;

// The first 64 slots sit in the thread environment block (TEB.TlsSlots of
// <winternl.h>; per_thread_win32.cpp checks these offsets against it).
#if defined(__x86_64__) || defined(_M_X64)
constexpr unsigned long kFirstSlots = 0x1480;
inline void* read(std::uint32_t slot) {
    if (slot < 64) return reinterpret_cast<void*>(__readgsqword(kFirstSlots + slot * sizeof(void*)));
    return value_of(slot);
}
#else
constexpr unsigned long kFirstSlots = 0xE10;
inline void* read(std::uint32_t slot) {
    if (slot < 64) return reinterpret_cast<void*>(__readfsdword(kFirstSlots + slot * sizeof(void*)));
    return value_of(slot);
}
#endif

template <class T>
T& make(std::uint32_t slot) {
    if constexpr (std::is_trivially_destructible_v<T>) {
        T* made = new T();
        set(slot, made);
        return *made;
    } else {
        // Only the thread's first use reaches this (emulated) thread-local
        // owner, which destroys the object when the thread ends.
        struct Owner {
            std::unique_ptr<T> object;
            std::uint32_t slot = 0;
            ~Owner() {
                if (object) clear(slot);
            }
        };
        static thread_local Owner owner;
        owner.object = std::make_unique<T>();
        owner.slot = slot;
        set(slot, owner.object.get());
        return *owner.object;
    }
}

}  // namespace thread_slots

template <class T>
T& per_thread() {
    static const std::uint32_t slot = thread_slots::allocate();
    if (void* object = thread_slots::read(slot)) return *static_cast<T*>(object);
    return thread_slots::make<T>(slot);
}

#else

template <class T>
T& per_thread() {
    static thread_local T object;
    return object;
}

#endif

}  // namespace platform
