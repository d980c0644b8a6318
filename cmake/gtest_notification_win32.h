// Forced into GoogleTest's own sources when it is built with a compiler whose
// standard library has no std::mutex (mingw-w64 with win32 threads before
// GCC 13). GoogleTest then takes this Notification instead of its own, which
// needs std::mutex and std::condition_variable; the rest of its Windows
// threading support already uses Win32 primitives.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
