#pragma once
// Windows only: a kernel handle that the test holds, closed when it leaves
// its scope.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace testing_support {

class win32_handle {
public:
    explicit win32_handle(HANDLE handle) : handle_(handle) {}
    ~win32_handle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    win32_handle(const win32_handle&) = delete;
    win32_handle& operator=(const win32_handle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace testing_support
#endif
