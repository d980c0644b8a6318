// Slots of the system's thread-local storage for per_thread.

#include "platform/per_thread.h"

#include <cstddef>
#include <string>

#include "platform/win32.h"

#include <winternl.h>

namespace platform::thread_slots {

static_assert(offsetof(TEB, TlsSlots) == kFirstSlots, "TlsSlots moved in the thread environment block");
static_assert(sizeof(TEB::TlsSlots) / sizeof(void*) == 64, "TlsSlots changed size");

std::uint32_t allocate() {
    const DWORD slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES)
        throw Exception("No thread-local storage slot is left: " + win32::error_text(GetLastError()));
    return slot;
}

void* value_of(std::uint32_t slot) { return TlsGetValue(slot); }

void set(std::uint32_t slot, void* value) {
    if (!TlsSetValue(slot, value))
        throw Exception("Thread-local storage slot " + std::to_string(slot) + " cannot be set: " +
                        win32::error_text(GetLastError()));
}

void clear(std::uint32_t slot) noexcept { TlsSetValue(slot, nullptr); }

}  // namespace platform::thread_slots
