// Forced into every translation unit that uses GoogleTest when the standard
// library has no std::mutex (mingw-w64 with win32 threads before GCC 13):
// GoogleTest 1.12 builds its Notification on std::mutex and
// std::condition_variable, and takes this one instead when
// GTEST_HAS_NOTIFICATION_ is set. GoogleTest only waits on it while it starts
// threads of its own, which our tests never ask for, so a spinning wait is
// enough.
#pragma once

#include <atomic>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true, std::memory_order_release); }
    void WaitForNotification() {
        while (!notified_.load(std::memory_order_acquire)) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
